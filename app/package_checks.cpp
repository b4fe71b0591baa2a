#include "app/package_checks.h"

#include <optional>

#include "app/config_rules.h"
#include "app/config_source.h"
#include "framework/format.h"
#include "framework/url.h"

namespace {
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool HasWrongFormatMarker(const std::string& targetPath) { return targetPath.find("\\~~") != std::string::npos; }

bool IsTooSmallToRun(uint32_t fileSize) { return fileSize <= kLargestRefusedPackage; }

std::string MalformedValueText(const std::string& key) {
  return FormatText("Malformed %s value in the configuration", key.c_str());
}

std::string HashKeyFor(const std::string& locationKey) {
  if (locationKey == kWebFile64Key || locationKey == kWebFile64MirrorKey) return kWebFile64Sha256Key;
  if (locationKey == kWebFileArm64Key || locationKey == kWebFileArm64MirrorKey) return kWebFileArm64Sha256Key;
  return kWebFileSha256Key;
}

bool ParseSha256(const std::string& text, Sha256Digest& digest) {
  if (text.size() != 2 * digest.size()) return false;
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

std::string FormatSha256(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

PackageChecks ReadPackageChecks(const std::string& hashKey, const std::string& hashValue,
                                const std::string& requireSignature, const std::string& signerName,
                                const std::string& signerThumbprint) {
  PackageChecks checks;
  if (!hashValue.empty()) {
    if (!ParseSha256(hashValue, checks.expectedHash)) {
      checks.malformedKey = hashKey;
      return checks;
    }
    checks.hashConfigured = true;
  }
  if (!requireSignature.empty() && requireSignature != "0" && requireSignature != "1") {
    checks.malformedKey = kRequireSignatureKey;
    return checks;
  }
  if (!signerThumbprint.empty()) {
    if (!ParseSha256(signerThumbprint, checks.signerThumbprint)) {
      checks.malformedKey = kSignerThumbprintKey;
      return checks;
    }
    checks.thumbprintConfigured = true;
  }
  checks.signerName = signerName;
  checks.requireSignature = requireSignature == "1" || !signerName.empty() || checks.thumbprintConfigured;
  return checks;
}

LocationKind KindOfLocation(const std::string& location) {
  if (!IsHttpLocation(location)) return LocationKind::kLocal;
  const std::optional<ParsedUrl> url = ParseDownloadUrl(location);
  return url && url->parts.service == AFX_INET_SERVICE_HTTPS ? LocationKind::kHttps : LocationKind::kHttp;
}

LocationPin ClassifyLocationPin(const std::string& configText, const std::string& locationKey) {
  const ProfileTextLookup lookup(configText);
  const std::string location = lookup.Value(locationKey.c_str());
  const bool url = IsHttpLocation(location);
  if (url) {
    // Parsed as the download parses it: a text that parses only with "http://" put before it is
    // fetched over plain http, whatever it says.
    const std::optional<ParsedUrl> parsed = ParseDownloadUrl(location);
    if (!parsed || parsed->text != location) return LocationPin::kUnparsableUrl;
    if (parsed->parts.service != AFX_INET_SERVICE_HTTP) return LocationPin::kPinned;
  } else if (TrimLocalLocation(location).empty()) {
    return LocationPin::kPinned;
  }
  std::string why;
  const PackageChecks checks = ReadChecksFor(lookup, locationKey, why);
  if (checks.malformedKey.empty() && (checks.hashConfigured || checks.thumbprintConfigured))
    return LocationPin::kPinned;
  if (checks.malformedKey.empty() && checks.requireSignature) return LocationPin::kPublisherOnly;
  return url ? LocationPin::kPlainHttp : LocationPin::kLocalFile;
}

bool IsLocationPinned(const std::string& configText, const std::string& locationKey) {
  return ClassifyLocationPin(configText, locationKey) == LocationPin::kPinned;
}
