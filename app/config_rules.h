// The rules every configuration value is judged by, in one place: the installer applies them to
// what the system's INI reader gives for the extracted file, the tools (checkcfg, stampcfg) to what
// util/profile_text.h gives for the text, so a configuration the tools accept is one the installer
// runs.
#pragma once

#include <string>

#include "app/config_keys.h"
#include "app/package_checks.h"
#include "probes/version_class.h"

// A value of this length or longer is malformed: the system's reader would have to be trusted to
// hand it over whole, and the installer's paths and texts are sized for less.
constexpr size_t kLongestConfigValue = 259;

struct RuntimeConfig {
  std::string location;          // package URL (QA-rewritten) or local full path; see SourceKind
  std::string caption;           // "Caption": the product's display name
  std::string companyNameShort;  // "CompanyNameShort": the short vendor name
  std::string parameters;        // "parameters": command line for the downloaded package
  int showUI = 0;                // "progressbar" (default 1); 0 until the configuration is read
  std::string qaVersion;         // the version in a QA URL; empty unless QA mode applies to a URL
  PackageChecks checks;          // "WebFileSha256" or "WebFile64Sha256" (as the location key),
                                 // "RequireSignature", "SignerName", "SignerThumbprint"; its
                                 // malformedKey names the first malformed key of any kind
  int retries = 0;               // "Retries": further attempts of a failed transfer (0 to 10)
  std::string mirror;            // "WebFileMirror" or "WebFile64Mirror" (QA-rewritten); "" for none
  std::string reportUrl;         // "ReportUrl": where the run's report goes; "" for none or malformed
  std::string fullInstallerUrl;  // "FullInstallerUrl": offered when the download fails; "" likewise
};

// Where the rules read from: the value of a key of section "runtime" as a reader gives it, "" when
// absent. The installer's reader may cut a value, but only past kLongestConfigValue characters.
class ConfigLookup {
public:
  virtual std::string Value(const char* key) const = 0;

protected:
  ~ConfigLookup() = default;
};

// The tools' reader: `text` (which must outlive it) as util/profile_text.h reads it.
class ProfileTextLookup final : public ConfigLookup {
public:
  explicit ProfileTextLookup(const std::string& text) : text_(text) {}
  std::string Value(const char* key) const override;

private:
  const std::string& text_;
};

// The keys a system reads its package from.
struct PackageKeys {
  const char* location;
  const char* mirror;
};

// kWebFileKey and its mirror on an x86 system, kWebFile64Key and its mirror on an x64 one; on an
// Arm64 system kWebFileArm64Key and its mirror when `arm64Configured` (the configuration sets
// kWebFileArm64Key), else the x64 package, which such a system runs under emulation.
PackageKeys PackageKeysFor(NativeMachine machine, bool arm64Configured);

// The configuration as the rules read it, or the first key whose value cannot be used.
struct ConfigJudgement {
  RuntimeConfig config;  // location and mirror as configured (no QA rewrite, no local path yet)
  std::string why;       // why the malformed key's value cannot be used ("" when every value can)
  // The INFO entry that says which location key the system's processor chose ("Package for Arm64:
  // WebFileArm64"); "" when the configuration offers no Arm64 package, so there was no choice.
  std::string choice;

  const std::string& MalformedKey() const { return config.checks.malformedKey; }
};

// Reads and judges every key a system with that processor reads, in this order: the location
// (PackageKeysFor), Caption, CompanyNameShort, parameters,
// progressbar, the package checks (ReadChecksFor), Retries, the mirror, ReportUrl,
// FullInstallerUrl. Malformed: any value of
// more than kLongestConfigValue characters; a location that is no URL (IsHttpLocation) and holds
// ".." or ":" (the package beside the installer must lie in its folder, and its copy in the working
// folder must stay there); Retries other than "" or 0 to 10; a mirror that is set and no http:// or
// https:// URL; a ReportUrl that is set and no https:// URL; a FullInstallerUrl that is set and no
// http:// or https:// URL; the checks' own rules (ReadPackageChecks). A malformed value leaves the others read.
ConfigJudgement JudgeConfig(const ConfigLookup& lookup, NativeMachine machine);

// The package checks that pin `locationKey` (one of kLocationKeys): HashKeyFor(locationKey),
// RequireSignature, SignerName and SignerThumbprint, judged by ReadPackageChecks and by length;
// `why` says why the malformed key's value cannot be used.
PackageChecks ReadChecksFor(const ConfigLookup& lookup, const std::string& locationKey, std::string& why);

// The integer the system's INI reader makes of "progressbar": leading white space and a sign
// skipped, a "0x" prefix read as hexadecimal, the digits up to the first other character (none: 0);
// `fallback` when the value is empty.
int ProfileInteger(const std::string& value, int fallback);
