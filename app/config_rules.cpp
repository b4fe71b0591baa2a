#include "app/config_rules.h"

#include <cstdint>
#include <optional>

#include "app/config_source.h"
#include "download/retry_rules.h"
#include "framework/format.h"
#include "framework/url.h"
#include "util/profile_text.h"

namespace {

// Reads values through the lookup and keeps the first reason one of them cannot be used.
class ValueReader {
public:
  ValueReader(const ConfigLookup& lookup, std::string& malformedKey, std::string& why)
      : lookup_(lookup), malformedKey_(malformedKey), why_(why) {}

  std::string Read(const char* key) {
    std::string value = lookup_.Value(key);
    if (value.size() > kLongestConfigValue) {
      Malformed(key,
                FormatText("the value is %lu characters long; at most %lu are read",
                           static_cast<unsigned long>(value.size()), static_cast<unsigned long>(kLongestConfigValue)));
    }
    return value;
  }

  void Malformed(const std::string& key, const std::string& why) {
    if (!malformedKey_.empty()) return;
    malformedKey_ = key;
    why_ = why;
  }

private:
  const ConfigLookup& lookup_;
  std::string& malformedKey_;
  std::string& why_;
};

// An http:// or https:// URL the download can request: a mirror must be one.
bool IsDownloadUrl(const std::string& url) {
  if (!IsHttpLocation(url)) return false;
  const std::optional<ParsedUrl> parsed = ParseDownloadUrl(url);
  return parsed && parsed->text == url &&
         (parsed->parts.service == AFX_INET_SERVICE_HTTP || parsed->parts.service == AFX_INET_SERVICE_HTTPS);
}

bool IsHttpsUrl(const std::string& url) {
  const std::optional<ParsedUrl> parsed = ParseDownloadUrl(url);
  return parsed && parsed->parts.service == AFX_INET_SERVICE_HTTPS;
}

// An optional address read last: another key may be the one the refusal names, so a value that
// cannot be used is not kept ("") for anything to use.
std::string ReadUrl(ValueReader& reader, const char* key, bool httpsOnly) {
  const std::string value = reader.Read(key);
  if (value.empty() ||
      (value.size() <= kLongestConfigValue && IsDownloadUrl(value) && (!httpsOnly || IsHttpsUrl(value)))) {
    return value;
  }
  reader.Malformed(key, FormatText("'%s' is no %s URL", value.c_str(), httpsOnly ? "https://" : "http:// or https://"));
  return "";
}

// A package beside the installer is copied into the working folder under the name after its last
// separator: a ".." or a ":" (a drive, or a stream of a file) could name something outside either.
bool LeavesItsFolder(const std::string& localLocation) {
  return localLocation.find("..") != std::string::npos || localLocation.find(':') != std::string::npos;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::string ProfileTextLookup::Value(const char* key) const { return ProfileValue(text_, kConfigSection, key); }

PackageKeys PackageKeysFor(NativeMachine machine, bool arm64Configured) {
  if (machine == NativeMachine::kArm64 && arm64Configured) return {kWebFileArm64Key, kWebFileArm64MirrorKey};
  if (machine == NativeMachine::kX86) return {kWebFileKey, kWebFileMirrorKey};
  return {kWebFile64Key, kWebFile64MirrorKey};
}

int ProfileInteger(const std::string& value, int fallback) {
  if (value.empty()) return fallback;
  size_t at = 0;
  while (at < value.size() && static_cast<unsigned char>(value[at]) <= ' ') ++at;
  bool negative = false;
  if (at < value.size() && (value[at] == '+' || value[at] == '-')) negative = value[at++] == '-';
  int base = 10;
  if (value.size() - at >= 2 && value[at] == '0') {
    const char prefix = value[at + 1];
    base = prefix == 'x' || prefix == 'X'   ? 16
           : prefix == 'o' || prefix == 'O' ? 8
           : prefix == 'b' || prefix == 'B' ? 2
                                            : 10;
    if (base != 10) at += 2;
  }
  uint32_t number = 0;  // wraps as the system's does
  for (; at < value.size() && DigitValue(value[at]) < base; ++at) {
    number = number * static_cast<uint32_t>(base) + static_cast<uint32_t>(DigitValue(value[at]));
  }
  return static_cast<int>(negative ? 0u - number : number);
}

PackageChecks ReadChecksFor(const ConfigLookup& lookup, const std::string& locationKey, std::string& why) {
  std::string malformedKey;
  ValueReader reader(lookup, malformedKey, why);
  const std::string hashKey = HashKeyFor(locationKey);
  const std::string hash = reader.Read(hashKey.c_str());
  const std::string requireSignature = reader.Read(kRequireSignatureKey);
  const std::string signerName = reader.Read(kSignerNameKey);
  const std::string signerThumbprint = reader.Read(kSignerThumbprintKey);
  PackageChecks checks = ReadPackageChecks(hashKey, hash, requireSignature, signerName, signerThumbprint);
  if (!checks.malformedKey.empty()) {
    const bool flag = checks.malformedKey == kRequireSignatureKey;
    const std::string value = checks.malformedKey == hashKey ? hash : flag ? requireSignature : signerThumbprint;
    reader.Malformed(checks.malformedKey,
                     FormatText("'%s' is not %s", value.c_str(), flag ? "0 or 1" : "64 hex digits"));
  }
  // A value too long to use makes the checks unusable even when its text would pass.
  checks.malformedKey = malformedKey;
  return checks;
}

ConfigJudgement JudgeConfig(const ConfigLookup& lookup, NativeMachine machine) {
  ConfigJudgement judgement;
  RuntimeConfig& config = judgement.config;
  std::string malformedKey;
  ValueReader reader(lookup, malformedKey, judgement.why);

  const bool arm64Configured = !lookup.Value(kWebFileArm64Key).empty();
  const PackageKeys keys = PackageKeysFor(machine, arm64Configured);
  const char* locationKey = keys.location;
  if (arm64Configured) {
    judgement.choice = FormatText("Package for %s: %s", MachineName(machine), locationKey);
  }
  config.location = reader.Read(locationKey);
  if (!IsHttpLocation(config.location) && LeavesItsFolder(config.location)) {
    reader.Malformed(locationKey, FormatText("'%s' holds '..' or ':'; a package beside the installer is named by a "
                                             "path inside the installer's folder",
                                             config.location.c_str()));
  }
  config.caption = reader.Read(kCaptionKey);
  config.companyNameShort = reader.Read(kCompanyNameShortKey);
  config.parameters = reader.Read(kParametersKey);
  config.showUI = ProfileInteger(reader.Read(kProgressbarKey), 1);

  std::string checksWhy;
  config.checks = ReadChecksFor(lookup, locationKey, checksWhy);
  if (!config.checks.malformedKey.empty()) reader.Malformed(config.checks.malformedKey, checksWhy);

  const std::string retries = reader.Read(kRetriesKey);
  if (!ParseRetries(retries, config.retries)) {
    reader.Malformed(kRetriesKey, FormatText("'%s' is not a number from 0 to %d", retries.c_str(), kMaxRetries));
  }
  const char* mirrorKey = keys.mirror;
  config.mirror = reader.Read(mirrorKey);
  if (!config.mirror.empty() && !IsDownloadUrl(config.mirror)) {
    reader.Malformed(mirrorKey, FormatText("'%s' is no http:// or https:// URL", config.mirror.c_str()));
  }
  // The report crosses networks the vendor does not control: only a server that proves who it is
  // may receive it.
  config.reportUrl = ReadUrl(reader, kReportUrlKey, true);
  config.fullInstallerUrl = ReadUrl(reader, kFullInstallerUrlKey, false);
  config.checks.malformedKey = malformedKey;
  return judgement;
}
