// The rules a downloaded package must pass before it is started, as decisions without the system
// (the Win32 checks of the file itself are in app/held_package.h): the fixed ones (size, name), and
// what the configuration asks: a SHA-256 value for the location key in use, and an Authenticode
// signature, optionally by a named signer or by one signing certificate. Every key is optional; a
// configuration without them asks for nothing. And whether a configuration pins what it downloads
// at all.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "app/config_keys.h"
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
  std::string signerName;  // when not empty, the signer's display name must be exactly this
  bool thumbprintConfigured = false;
  Sha256Digest signerThumbprint = {};  // when configured, the signing certificate's SHA-256
  std::string malformedKey;            // the key whose value cannot be used; empty when every value can
};

// What the checks of a package found: passed, or refused with the text that says why (for the
// install log and the status file).
struct PackageVerdict {
  bool passed = true;
  std::string refusal;     // empty when passed
  bool signature = false;  // refused for its signature or its signer, not for its bytes

  static PackageVerdict Pass() { return PackageVerdict(); }
  static PackageVerdict Refuse(std::string why) { return PackageVerdict{false, std::move(why)}; }
  static PackageVerdict RefuseSignature(std::string why) { return PackageVerdict{false, std::move(why), true}; }
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

// How the installer fetches a location: a package beside it, plain HTTP, or HTTPS. A location it
// takes for a URL (IsHttpLocation) is HTTPS only when it parses as an https URL (the scheme of any
// case); any other one, one it cannot parse included, counts as plain HTTP.
enum class LocationKind { kLocal, kHttp, kHttps };
LocationKind KindOfLocation(const std::string& location);

// Whether what a location key names is pinned, and if not, why not.
enum class LocationPin {
  kPinned,         // an https:// URL; anything with a pin (below); or no package at all (empty)
  kPlainHttp,      // an http:// URL without a pin
  kLocalFile,      // a package beside the installer without a pin
  kUnparsableUrl,  // a URL text ("http" and a "/") that the URL parser rejects: the download would
                   // put "http://" before it and fetch it over plain http. Never pinned.
  kPublisherOnly,  // an http:// URL or a package beside the installer whose only checks are
                   // RequireSignature=1 or SignerName: any publisher's valid signature passes the one,
                   // a certificate any authority may issue under that name the other. Never pinned.
};

// Why kPublisherOnly is no pin, in the tools' refusals.
inline constexpr char kPublisherIsNoPinText[] = "RequireSignature and SignerName name a publisher but do not pin one";

// What `locationKey` (one of kLocationKeys) names in the configuration text `configText`
// (section "runtime", read as GetPrivateProfileStringA reads the extracted file), judged as the
// installer uses it. A pin is a usable SHA-256 under HashKeyFor(locationKey) or a SignerThumbprint,
// every value usable as the configuration's rules judge it (ReadChecksFor, app/config_rules.h);
// RequireSignature=1 and SignerName are checks but no pin (kPublisherOnly). An https://
// URL is pinned by its certificate; a plain http:// URL and a local package only by a pin; a
// location that names no package (empty, or spaces and backslashes) has nothing to pin. Each
// address is judged on its own: a pinned location does not pin its mirror, nor the other way round.
LocationPin ClassifyLocationPin(const std::string& configText, const std::string& locationKey);
// ClassifyLocationPin(...) == LocationPin::kPinned.
bool IsLocationPinned(const std::string& configText, const std::string& locationKey);
