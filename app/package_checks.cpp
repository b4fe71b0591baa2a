#include "app/package_checks.h"

#include "app/config_source.h"
#include "framework/url.h"
#include "util/profile_text.h"

namespace {
const char kRequireSignatureKey[] = "RequireSignature";
const char kSignerThumbprintKey[] = "SignerThumbprint";

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool HasWrongFormatMarker(const std::string& targetPath) { return targetPath.find("\\~~") != std::string::npos; }

bool IsTooSmallToRun(uint32_t fileSize) { return fileSize <= kLargestRefusedPackage; }

std::string MalformedValueText(const std::string& key) { return "Malformed " + key + " value in the configuration"; }

std::string HashKeyFor(const std::string& locationKey) {
  static const char kMirror[] = "Mirror";
  const size_t base = locationKey.size() - (locationKey.ends_with(kMirror) ? sizeof kMirror - 1 : 0);
  return locationKey.substr(0, base) + "Sha256";
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

bool IsLocationPinned(const std::string& configText, const std::string& locationKey) {
  auto value = [&configText](const std::string& key) { return ProfileValue(configText, "runtime", key); };
  const std::string location = value(locationKey);
  uint32_t service = 0;
  std::string server, object;
  uint16_t port = 0;
  if (!IsHttpLocation(location) || !AfxParseURL(location.c_str(), service, server, object, port) ||
      service != AFX_INET_SERVICE_HTTP) {
    return true;
  }
  const std::string hashKey = HashKeyFor(locationKey);
  const PackageChecks checks = ReadPackageChecks(hashKey, value(hashKey), value(kRequireSignatureKey),
                                                 value("SignerName"), value(kSignerThumbprintKey));
  return checks.malformedKey.empty() && (checks.hashConfigured || checks.requireSignature);
}
