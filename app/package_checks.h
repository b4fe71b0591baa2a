// The rules a downloaded package must pass before it is started, as decisions without the system
// (the Win32 checks of the file itself are in app/held_package.h): the fixed ones (size, name), and
// what the configuration asks: a SHA-256 value for the location key in use, and an Authenticode
// signature, optionally by a named signer or by one signing certificate. Every key is optional; a
// configuration without them asks for nothing. And whether a configuration pins what it downloads
// at all.
#pragma once

#include <cstdint>
#include <string>

#include "util/sha256.h"

// Packages of this size and smaller are refused: a real package is larger.
constexpr uint32_t kLargestRefusedPackage = 1000000;

// A target path holding "\~~" (a backslash and two tildes) is refused: the installer itself ran
// from a name beginning with "~", so the download would have its own kind of name.
bool HasWrongFormatMarker(const std::string& targetPath);
bool IsTooSmallToRun(uint32_t fileSize);

struct PackageChecks {
  bool hashConfigured = false;
  Sha256Digest expectedHash = {};
  bool requireSignature = false;
  std::string signerName;    // when not empty, the signer's display name must be exactly this
  bool thumbprintConfigured = false;
  Sha256Digest signerThumbprint = {};  // when configured, the signing certificate's SHA-256
  std::string malformedKey;  // the key whose value cannot be used; empty when every value can
};

// "Malformed <key> value in the configuration".
std::string MalformedValueText(const std::string& key);

// The hash key that goes with a location key: "WebFile" -> "WebFileSha256",
// "WebFile64" -> "WebFile64Sha256". A mirror is the same package, pinned by the same key:
// "WebFileMirror" -> "WebFileSha256", "WebFile64Mirror" -> "WebFile64Sha256".
std::string HashKeyFor(const std::string& locationKey);

// Exactly 64 hex digits, of either case, give the digest (first byte first). Anything else (another
// length, a prefix, spaces, other characters) gives false and leaves `digest` unspecified.
bool ParseSha256(const std::string& text, Sha256Digest& digest);

// 64 lower-case hex digits.
std::string FormatSha256(const Sha256Digest& digest);

// The checks from the values as read (an absent key reads as ""). `hashValue` and
// `signerThumbprint` are empty or 64 hex digits; `requireSignature` is "", "0" or "1" (empty means
// 0). Any other value names its key in `malformedKey` (the first of the hash key, RequireSignature
// and SignerThumbprint), and the download must then be refused. A signer name or thumbprint asks
// for a signature by itself: a signer cannot be checked without one.
PackageChecks ReadPackageChecks(const std::string& hashKey, const std::string& hashValue,
                                const std::string& requireSignature, const std::string& signerName,
                                const std::string& signerThumbprint);

// Whether what `locationKey` ("WebFile", "WebFile64" or a mirror key) names in the configuration text
// `configText` (section "runtime", read as GetPrivateProfileStringA reads the extracted file) is
// pinned. Only a plain http:// URL can be unpinned: it is, unless the text holds a usable SHA-256
// under HashKeyFor(locationKey) or asks for a signature (RequireSignature=1, SignerName,
// SignerThumbprint), every value usable. Local paths and https:// URLs count as pinned. Each address
// is judged on its own: a pinned location does not pin its mirror, nor the other way round.
bool IsLocationPinned(const std::string& configText, const std::string& locationKey);
