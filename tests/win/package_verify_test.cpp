// The downloaded package's checks on the Win32 side: SHA-256 through the held handle, the hold
// that keeps other processes from replacing the file between the checks and the start, and the
// trust verification of an unsigned file. Signed packages are proven end to end (tests/e2e).
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/held_package.h"
#include "framework/file.h"
#include "framework/handle.h"
#include "tests/win/test_helpers.h"

namespace {

class PackageVerify : public win_test::ScratchFolderTest {
protected:
  PackageVerify() : ScratchFolderTest("package_verify_test") {}

  std::string Read(const std::string& name) const {
    UniqueHandle file(CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return "<unreadable>";
    std::string bytes(GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
  }

  // Runs a command line in another process to its end; its exit code.
  static DWORD RunProcess(std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
      return ~0u;
    }
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
  }
};

TEST_F(PackageVerify, HashesTheWholeFileThroughTheHeldHandle) {
  std::string blocks;
  for (int i = 0; i < 512; ++i) {
    for (int b = 0; b < 256; ++b) blocks += static_cast<char>(b);
  }
  struct Case {
    const char* what;
    std::string content;
    const char* sha256;
  };
  const Case cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two whole blocks", blocks, "59f410ae5e17962412e2aed4f815918f634932f2abf084f00bb638c4db017850"},
      {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("hashed.bin", c.content);
    UniqueHandle held = HoldPackage(Path("hashed.bin"));
    ASSERT_TRUE(held);
    // Hashing starts at the beginning wherever the handle stands, and again on a second call.
    char skipped[2];
    DWORD read = 0;
    ReadFile(held.get(), skipped, sizeof skipped, &read, nullptr);
    for (int pass = 0; pass < 2; ++pass) {
      Sha256Digest digest = {};
      DWORD error = 0;
      ASSERT_TRUE(HashHeldFile(held.get(), digest, error)) << "error " << error;
      EXPECT_EQ(FormatSha256(digest), c.sha256);
    }
  }
}

TEST_F(PackageVerify, AHashReadFailureIsReported) {
  Write("unreadable.bin", "abc");
  // Opened without read access, like a handle that was never meant for hashing.
  UniqueHandle noRead(CreateFileA(Path("unreadable.bin").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(noRead);
  Sha256Digest digest = {};
  DWORD error = 0;
  EXPECT_FALSE(HashHeldFile(noRead.get(), digest, error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// While the package is held, as it is written and from then until the start, nobody (this process or
// another) can write, rename, replace or delete it; after the hold ends the same attempts succeed.
TEST_F(PackageVerify, HeldPackageCannotBeReplacedUntilReleased) {
  for (bool writing : {true, false}) {
    SCOPED_TRACE(writing ? "held while written" : "held for reading");
    const std::string original = "the package that was checked";
    const std::string evil = "another package";
    const std::string target = Path("target.exe");
    Write("evil.exe", evil);
    if (!writing) Write("target.exe", original);
    UniqueHandle held = writing ? CreateNewFile(target.c_str()) : HoldPackage(target);
    ASSERT_TRUE(held);
    DWORD written = 0;
    if (writing) WriteFile(held.get(), original.data(), static_cast<DWORD>(original.size()), &written, nullptr);

    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    struct Attempt {
      const char* what;
      BOOL (*run)(const std::string& target, const std::string& other, DWORD share);
      DWORD error = ERROR_SHARING_VIOLATION;
    };
    const Attempt attempts[] = {
        {"open for writing",
         [](const std::string& t, const std::string&, DWORD share) {
           return UniqueHandle(CreateFileA(t.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr))
                      ? TRUE
                      : FALSE;
         }},
        {"open for deleting",
         [](const std::string& t, const std::string&, DWORD share) {
           return UniqueHandle(CreateFileA(t.c_str(), DELETE, share, nullptr, OPEN_EXISTING, 0, nullptr)) ? TRUE
                                                                                                          : FALSE;
         }},
        {"truncate",
         [](const std::string& t, const std::string&, DWORD share) {
           return UniqueHandle(CreateFileA(t.c_str(), GENERIC_WRITE, share, nullptr, TRUNCATE_EXISTING, 0, nullptr))
                      ? TRUE
                      : FALSE;
         }},
        {"rename away", [](const std::string& t, const std::string& o,
                           DWORD) { return MoveFileExA(t.c_str(), (o + ".moved").c_str(), 0); }},
        // A file that is open cannot be the target of a replacing rename at all.
        {"replace by rename",
         [](const std::string& t, const std::string& o, DWORD) {
           return MoveFileExA(o.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         ERROR_ACCESS_DENIED},
        {"copy over",
         [](const std::string& t, const std::string& o, DWORD) { return CopyFileA(o.c_str(), t.c_str(), FALSE); }},
        {"delete", [](const std::string& t, const std::string&, DWORD) { return DeleteFileA(t.c_str()); }},
    };
    for (const Attempt& a : attempts) {
      SCOPED_TRACE(a.what);
      EXPECT_FALSE(a.run(target, Path("evil.exe"), all));
      EXPECT_EQ(GetLastError(), a.error);
    }
    // Another process tries the same with the shell's own commands.
    for (const std::string& command :
         {"copy /y \"" + Path("evil.exe") + "\" \"" + target + "\"",
          "move /y \"" + Path("evil.exe") + "\" \"" + target + "\"", "del /f \"" + target + "\""}) {
      SCOPED_TRACE(command);
      RunProcess("cmd.exe /c " + command);
      EXPECT_EQ(Read("target.exe"), original);
    }
    // Reading, as the shell does to start it, is still allowed.
    EXPECT_TRUE(writing || UniqueHandle(CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, 0, nullptr)));

    held.reset();
    EXPECT_EQ(RunProcess("cmd.exe /c copy /y \"" + Path("evil.exe") + "\" \"" + target + "\""), 0u);
    EXPECT_EQ(Read("target.exe"), evil) << "once released, the same attempt replaces it";
  }
}

TEST_F(PackageVerify, TheShellStartsAHeldPackage) {
  ASSERT_TRUE(CopyFileA(STAMPCFG_EXE_PATH, Path("held.exe").c_str(), FALSE));
  UniqueHandle held = HoldPackage(Path("held.exe"));
  ASSERT_TRUE(held);
  SHELLEXECUTEINFOA start = {};
  start.cbSize = sizeof start;
  start.fMask = SEE_MASK_NOCLOSEPROCESS;
  start.lpVerb = "open";
  const std::string path = Path("held.exe");
  start.lpFile = path.c_str();
  start.nShow = SW_SHOW;
  ASSERT_TRUE(ShellExecuteExA(&start)) << "error " << GetLastError();
  UniqueHandle process(start.hProcess);
  ASSERT_TRUE(process);
  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 1u) << "stampcfg without arguments ends with its usage code";
}

TEST_F(PackageVerify, ChecksAskOnlyWhatIsConfigured) {
  ASSERT_TRUE(CopyFileA(STAMPCFG_EXE_PATH, Path("unsigned.exe").c_str(), FALSE));
  const std::string path = Path("unsigned.exe");
  Sha256Digest actual = {};
  {
    UniqueHandle held = HoldPackage(path);
    DWORD error = 0;
    ASSERT_TRUE(HashHeldFile(held.get(), actual, error));
  }
  Sha256Digest other = actual;
  other[31] ^= 1;

  struct Case {
    const char* what;
    PackageChecks checks;
    std::string refusal;  // empty: passes
    bool changedSinceWritten = false;
    const char* writtenBy = "download";
  };
  PackageChecks none;
  PackageChecks right;
  right.hashConfigured = true;
  right.expectedHash = actual;
  PackageChecks wrong = right;
  wrong.expectedHash = other;
  PackageChecks signature;
  signature.requireSignature = true;
  PackageChecks rightHashAndSignature = right;
  rightHashAndSignature.requireSignature = true;
  PackageChecks malformed;
  malformed.malformedKey = "WebFileSha256";
  const Case cases[] = {
      {"nothing configured", none, ""},
      {"the right hash", right, ""},
      {"one bit off", wrong, "Package hash mismatch: " + path},
      {"signature required", signature, "Package signature not valid: " + path + " (0x800B0100)"},
      {"right hash, no signature", rightHashAndSignature, "Package signature not valid: " + path + " (0x800B0100)"},
      {"malformed configuration", malformed, "Malformed WebFileSha256 value in the configuration"},
      {"changed since the download wrote it", none, "Package changed after download: " + path, true},
      {"changed since the copy wrote it", right, "Package changed after copy: " + path, true, "copy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UniqueHandle held = HoldPackage(path);
    ASSERT_TRUE(held);
    const PackageVerdict verdict =
        CheckHeldPackage(held.get(), path, c.changedSinceWritten ? other : actual, c.writtenBy, c.checks);
    EXPECT_EQ(verdict.passed, c.refusal.empty());
    EXPECT_EQ(verdict.refusal, c.refusal);
  }
}

TEST_F(PackageVerify, FilesWithoutAValidSignatureAreNotTrusted) {
  ASSERT_TRUE(CopyFileA(STAMPCFG_EXE_PATH, Path("unsigned.exe").c_str(), FALSE));
  Write("text.exe", std::string(4096, 'x'));
  struct Case {
    const char* name;
    LONG status;
  };
  const Case cases[] = {
      {"unsigned.exe", TRUST_E_NOSIGNATURE},
      {"text.exe", TRUST_E_SUBJECT_FORM_UNKNOWN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueHandle held = HoldPackage(Path(c.name));
    ASSERT_TRUE(held);
    std::wstring signer = L"unchanged";
    std::string thumbprint = "unchanged";
    EXPECT_EQ(VerifyHeldSignature(held.get(), Path(c.name), signer, thumbprint), c.status);
    EXPECT_EQ(signer, L"unchanged");
    EXPECT_EQ(thumbprint, "unchanged");
  }
}

// The configured signer is compared with the certificate's name as the certificate holds it: a
// look-alike that the ANSI name API would map to a plain letter (best fit) is another signer, and
// the records show it as "?" rather than as the letter it resembles.
TEST_F(PackageVerify, SignerNamesAreComparedWithoutBestFit) {
  struct Case {
    const wchar_t* signer;
    const char* configured;
    bool matches;
    const char* recorded;
  };
  const Case cases[] = {
      {L"Quillmoor Test Signer", "Quillmoor Test Signer", true, "Quillmoor Test Signer"},
      {L"Quillmoor", "quillmoor", false, "Quillmoor"},
      {L"Qu\x0456llmoor", "Quillmoor", false, "Qu?llmoor"},  // CYRILLIC SMALL LETTER BYELORUSSIAN-UKRAINIAN I
      {L"\xFF31uillmoor", "Quillmoor", false, "?uillmoor"},  // FULLWIDTH LATIN CAPITAL LETTER Q
      {L"Quillmoor", "Quillmoor ", false, "Quillmoor"},
      {L"", "", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.configured);
    EXPECT_EQ(SignerNameMatches(c.signer, c.configured), c.matches);
    EXPECT_EQ(SignerNameText(c.signer), c.recorded);
  }
}

// A package beside the installer is copied while nobody can write it, and what was written is
// hashed as it is written; a source that another process holds open for writing is not copied.
TEST_F(PackageVerify, CopiesTheSourceOnlyWhileNobodyWritesIt) {
  const std::string content(200000, 'p');
  Write("source.exe", content);
  const std::string target = Path("copy.exe");
  struct Case {
    const char* what;
    const char* source;
    bool heldForWriting;
    DWORD error;  // 0: copied
  };
  const Case cases[] = {
      {"copied", "source.exe", false, 0},
      {"another process writes it", "source.exe", true, ERROR_SHARING_VIOLATION},
      {"no such file", "absent.exe", false, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA(target.c_str());
    UniqueHandle writer;
    if (c.heldForWriting) {
      writer.reset(CreateFileA(Path(c.source).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(writer);
    }
    Sha256Digest written = {};
    DWORD error = 0;
    EXPECT_EQ(CopyHeldFile(Path(c.source), target, written, error), c.error == 0 ? TRUE : FALSE);
    if (c.error == 0) {
      EXPECT_EQ(Read("copy.exe"), content);
      Sha256 expected;
      expected.Update(reinterpret_cast<const unsigned char*>(content.data()), content.size());
      EXPECT_EQ(written, expected.Finish());
    } else {
      EXPECT_EQ(error, c.error);
      EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES) << "no copy is left";
    }
  }
}

// The copy keeps the zone mark and no other stream. Wine has no named streams ("name:stream" is a
// file there): this proves the names read and written and the bytes copied.
TEST_F(PackageVerify, TheCopyKeepsTheZoneMarkAndNoOtherStream) {
  const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.test/\r\n";
  Write("marked.exe", "package");
  Write("marked.exe:Zone.Identifier", zone);
  Write("marked.exe:Extra", "not copied");
  Write("unmarked.exe", "package");
  for (const char* source : {"marked.exe", "unmarked.exe"}) {
    SCOPED_TRACE(source);
    for (const char* name : {"copy.exe", "copy.exe:Zone.Identifier", "copy.exe:Extra"}) DeleteFileA(Path(name).c_str());
    Sha256Digest written = {};
    DWORD error = 0;
    ASSERT_TRUE(CopyHeldFile(Path(source), Path("copy.exe"), written, error)) << error;
    EXPECT_EQ(Read("copy.exe"), "package");
    EXPECT_EQ(Read("copy.exe:Zone.Identifier"), std::string(source) == "marked.exe" ? zone : "<unreadable>");
    EXPECT_EQ(GetFileAttributesA(Path("copy.exe:Extra").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
