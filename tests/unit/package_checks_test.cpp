#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "app/package_checks.h"

namespace {

// SHA-256 of "abc".
const char kAbcLower[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kAbcUpper[] = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
const char kAbcMixed[] = "Ba7816bF8f01CFea414140de5dae2223b00361a396177a9cb410ff61f20015aD";

TEST(PackageChecks, HashKeyFollowsTheLocationKey) {
  EXPECT_EQ(HashKeyFor("WebFile"), "WebFileSha256");
  EXPECT_EQ(HashKeyFor("WebFile64"), "WebFile64Sha256");
  EXPECT_EQ(HashKeyFor("WebFileMirror"), "WebFileSha256");
  EXPECT_EQ(HashKeyFor("WebFile64Mirror"), "WebFile64Sha256");
}

TEST(PackageChecks, Sha256ValuesOfEitherCaseParseToTheSameBytes) {
  for (const char* text : {kAbcLower, kAbcUpper, kAbcMixed}) {
    SCOPED_TRACE(text);
    Sha256Digest digest = {};
    ASSERT_TRUE(ParseSha256(text, digest));
    EXPECT_EQ(digest[0], 0xBA);
    EXPECT_EQ(digest[1], 0x78);
    EXPECT_EQ(digest[31], 0xAD);
    EXPECT_EQ(FormatSha256(digest), kAbcLower);
  }
  Sha256Digest all = {};
  ASSERT_TRUE(ParseSha256(std::string(64, 'f'), all));
  Sha256Digest ones;
  ones.fill(0xFF);
  EXPECT_EQ(all, ones);
  ASSERT_TRUE(ParseSha256("00112233445566778899aAbBcCdDeEfF00112233445566778899aAbBcCdDeEfF", all));
  EXPECT_EQ(FormatSha256(all), "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
}

// The standard's messages, fed whole and in pieces that straddle the 64-byte blocks and the 56-byte
// mark past which the length needs a block of its own.
TEST(PackageChecks, Sha256OfKnownMessagesWhateverThePieces) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", kAbcLower},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [message, digest] : cases) {
    for (size_t piece : {1, 55, 64, 65, 1 << 20}) {
      Sha256 hash;
      for (size_t at = 0; at < message.size(); at += piece) {
        hash.Update(message.data() + at, std::min(piece, message.size() - at));
      }
      EXPECT_EQ(FormatSha256(hash.Finish()), digest) << message.size() << " bytes in pieces of " << piece;
    }
  }
}

// The class takes the processor's SHA instructions where it can, and the known messages above then
// never reach the portable code: both must leave the same state after any number of blocks.
TEST(PackageChecks, Sha256PortableCodeAndShaInstructionsAgree) {
  if (!Sha256ShaInstructionsUsable()) GTEST_SKIP() << "this processor has no SHA instructions";
  std::string data(64 * 300, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 6));
  const auto* blocks = reinterpret_cast<const unsigned char*>(data.data());
  for (size_t count : {1, 2, 300}) {
    uint32_t portable[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint32_t instructions[8];
    std::copy(portable, portable + 8, instructions);
    Sha256CompressPortable(portable, blocks, count);
    Sha256CompressWithShaInstructions(instructions, blocks, count);
    EXPECT_TRUE(std::equal(portable, portable + 8, instructions)) << count << " blocks";
  }
}

TEST(PackageChecks, MalformedSha256ValuesAreRefused) {
  const std::string good = kAbcLower;
  const std::string cases[] = {
      "",
      good.substr(0, 63),
      good + "0",
      good.substr(0, 62) + "  ",
      "0x" + good.substr(0, 62),
      good.substr(0, 10) + " " + good.substr(11),
      // The neighbours of each digit range: below and above 0-9, A-F and a-f.
      good.substr(0, 63) + "/",
      good.substr(0, 63) + ":",
      good.substr(0, 63) + "@",
      good.substr(0, 63) + "G",
      good.substr(0, 63) + "`",
      good.substr(0, 10) + "g" + good.substr(11),
      std::string(64, '\0'),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    Sha256Digest digest = {};
    EXPECT_FALSE(ParseSha256(text, digest));
  }
}

TEST(PackageChecks, ReadFromTheConfigurationValues) {
  struct Case {
    const char* hash;
    const char* requireSignature;
    const char* signerName;
    bool hashConfigured;
    bool requireSignatureResult;
    const char* malformedKey;
    const char* signerThumbprint = "";
  };
  const Case cases[] = {
      {"", "", "", false, false, ""},  // a configuration without the keys asks for nothing
      {kAbcUpper, "", "", true, false, ""},
      {"", "0", "", false, false, ""},
      {"", "1", "", false, true, ""},
      {kAbcLower, "1", "Quillmoor", true, true, ""},
      {"", "", "Quillmoor", false, true, ""},  // a signer name asks for a signature
      {"", "0", "Quillmoor", false, true, ""},
      {"abc", "1", "", false, false, "WebFile64Sha256"},
      {"abc", "yes", "", false, false, "WebFile64Sha256"},  // the first bad key is named
      {kAbcLower, "2", "", true, false, "RequireSignature"},
      {"", "yes", "", false, false, "RequireSignature"},
      {"", "true", "", false, false, "RequireSignature"},
      {"", "01", "", false, false, "RequireSignature"},
      {"", "-1", "", false, false, "RequireSignature"},
      {"", "", "", false, true, "", kAbcUpper},  // a thumbprint asks for a signature
      {"", "0", "Quillmoor", false, true, "", kAbcMixed},
      {"", "1", "", false, false, "SignerThumbprint", "abc"},
      {kAbcLower, "2", "", false, false, "RequireSignature", "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hash) + " | " + c.requireSignature + " | " + c.signerName);
    const PackageChecks checks =
        ReadPackageChecks("WebFile64Sha256", c.hash, c.requireSignature, c.signerName, c.signerThumbprint);
    EXPECT_EQ(checks.malformedKey, c.malformedKey);
    if (!checks.malformedKey.empty()) continue;
    EXPECT_EQ(checks.hashConfigured, c.hashConfigured);
    EXPECT_EQ(checks.requireSignature, c.requireSignatureResult);
    EXPECT_EQ(checks.signerName, c.signerName);
    if (c.hashConfigured) {
      EXPECT_EQ(FormatSha256(checks.expectedHash), kAbcLower);
    }
    EXPECT_EQ(checks.thumbprintConfigured ? FormatSha256(checks.signerThumbprint) : "",
              *c.signerThumbprint ? kAbcLower : "");
  }
}

// Read as the installer reads the extracted file: only the first [runtime] section, keys of any
// case, values trimmed and unquoted; LF-only text and a UTF-8 byte-order mark too. Only https:// and
// a location that names no package count as pinned without a hash or a signer's thumbprint; a
// required signature or a signer's name names a publisher but pins none.
TEST(PackageChecks, ALocationIsPinnedOnlyByHttpsOrAHashOrASignerThumbprint) {
  const std::string url = "WebFile=http://h/f.exe\r\n";
  const std::string hash = std::string("WebFileSha256=") + kAbcLower + "\r\n";
  using P = LocationPin;
  struct Case {
    std::string text;
    LocationPin pin;
  };
  const Case cases[] = {
      {"[runtime]\r\n" + url, P::kPlainHttp},
      {"[runtime]\r\n" + url + hash, P::kPinned},
      {"[runtime]\r\n" + url + "WebFile64Sha256=" + kAbcLower, P::kPlainHttp},
      {"[runtime]\r\n" + url + "WebFileSha256=\"" + kAbcLower + "\"", P::kPinned},
      {"[runtime]\r\n" + url + "WebFileSha256=abc", P::kPlainHttp},
      {"[runtime]\r\n" + url + hash + "RequireSignature=yes", P::kPlainHttp},
      {"[runtime]\r\n" + url + "RequireSignature=1", P::kPublisherOnly},
      {"[runtime]\r\n" + url + "RequireSignature=0", P::kPlainHttp},
      {"[runtime]\r\n" + url + "SignerName=Quillmoor", P::kPublisherOnly},
      {"[runtime]\r\n" + url + "RequireSignature=1\r\n" + hash, P::kPinned},
      {"[runtime]\r\n" + url + "SignerThumbprint=" + kAbcUpper, P::kPinned},
      {std::string("[RunTime]\nwebfile = http://h/f.exe\nWEBFILESHA256 = ") + kAbcLower, P::kPinned},
      {"\xEF\xBB\xBF[runtime]\n" + url, P::kPlainHttp},
      {"[other]\r\n" + hash + "[runtime]\r\n" + url + "[runtime]\r\n" + hash, P::kPlainHttp},
      {"[runtime]\r\nWebFile=https://h/f.exe", P::kPinned},
      {"[runtime]\r\nWebFile=httpS://h/f.exe", P::kPinned},  // fetched over TLS all the same
      {"[runtime]\r\nWebFile=http:h/f.exe\r\n" + hash, P::kUnparsableUrl},
      {"[runtime]\r\nWebFile=httph/f.exe", P::kUnparsableUrl},
      {"[runtime]\r\nCaption=x\r" + url, P::kPlainHttp},  // a CR ends a line too
      {"[runtime]\r\n[note\r\n" + url, P::kPlainHttp},    // no section without its "]"
      // URL texts the parser rejects: the download would fetch "http://" + the text over plain
      // http, so nothing pins them, not even a hash.
      {"[runtime]\r\nWebFile=httpfoo/f.exe\r\n" + hash, P::kUnparsableUrl},
      {"[runtime]\r\nWebFile=http:/h/f.exe", P::kUnparsableUrl},
      {"[runtime]\r\nWebFile=https://h:0/f.exe", P::kUnparsableUrl},
      // No URL to the installer: a package beside it, started as administrator like a download.
      {"[runtime]\r\nWebFile=HTTP://h/f.exe", P::kLocalFile},
      {"[runtime]\r\nWebFile=http", P::kLocalFile},
      {"[runtime]\r\nWebFile=32\\f.exe", P::kLocalFile},
      {"[runtime]\r\nWebFile=32\\f.exe\r\n" + hash, P::kPinned},
      {"[runtime]\r\nWebFile=32\\f.exe\r\nRequireSignature=1", P::kPublisherOnly},
      {"[runtime]\r\nWebFile=32\\f.exe\r\nSignerName=Quillmoor", P::kPublisherOnly},
      {std::string("[runtime]\r\nWebFile=32\\f.exe\r\nSignerThumbprint=") + kAbcLower, P::kPinned},
      {"[runtime]\r\nWebFile=32\\f.exe\r\nWebFileSha256=abc", P::kLocalFile},
      // Nothing to start: no location, or one that names the installer's own folder.
      {"[other]\r\n" + url, P::kPinned},
      {"[runtime]\r\nWebFile= \\ ", P::kPinned},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ClassifyLocationPin(c.text, "WebFile"), c.pin);
    EXPECT_EQ(IsLocationPinned(c.text, "WebFile"), c.pin == P::kPinned);
  }
  // A mirror is pinned by its location's hash or a signer's thumbprint, each address on its own.
  const std::string mirror = "WebFileMirror=http://m/f.exe\r\n";
  const Case mirrorCases[] = {
      {"[runtime]\r\n" + url + mirror + hash, P::kPinned},
      {"[runtime]\r\n" + url + mirror + "WebFile64Sha256=" + kAbcLower, P::kPlainHttp},
      {"[runtime]\r\nWebFile=https://h/f.exe\r\n" + mirror, P::kPlainHttp},
      {"[runtime]\r\nWebFile=https://h/f.exe\r\n" + mirror + "RequireSignature=1", P::kPublisherOnly}};
  for (const Case& c : mirrorCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ClassifyLocationPin(c.text, "WebFileMirror"), c.pin);
  }
}

}  // namespace
