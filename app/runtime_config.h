// The configuration embedded in the executable (resource "INI" 135), as read for one run.
#pragma once

#include <string>

#include "app/package_checks.h"

struct RuntimeConfig {
  std::string location;          // package URL (QA-rewritten) or local full path; see SourceKind
  std::string caption;           // "Caption": the product's display name
  std::string companyNameShort;  // "CompanyNameShort": the short vendor name
  std::string parameters;        // "parameters": command line for the downloaded package
  int showUI = 0;                // "progressbar" (default 1); 0 until the configuration is read
  std::string qaVersion;         // the version in a QA URL; empty unless QA mode applies to a URL
  PackageChecks checks;          // "WebFileSha256" or "WebFile64Sha256" (as the location key),
                                 // "RequireSignature", "SignerName", "SignerThumbprint"; a
                                 // malformed "Retries" or mirror is named there too
  int retries = 0;               // "Retries": further attempts of a failed transfer (0 to 10)
  std::string mirror;            // "WebFileMirror" or "WebFile64Mirror" (QA-rewritten); "" for none
};

// What the reader needs from the application object.
struct ConfigReadInputs {
  bool qaMode = false;
  std::string qaValue;          // the "qa" switch's value
  std::string modulePath;       // the executable's full path
  std::string moduleDirectory;  // without trailing backslash
};

// Name of the extracted configuration file in the temporary directory.
extern const char kExtractedConfigName[];

// Extracts the embedded configuration to the temporary directory, reads section "runtime" into
// `config` and returns the SourceKind. Without a configuration, returns 0 and leaves `config` as
// it was. When the file cannot be created or written, says so in a message box (always: the UI
// setting is not known yet), logs it and returns 0. (Win32.)
int ReadRuntimeConfig(const ConfigReadInputs& inputs, RuntimeConfig& config);
