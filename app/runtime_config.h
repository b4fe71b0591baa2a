// The configuration embedded in the executable (resource "INI" 135), as read for one run.
#pragma once

#include <string>
#include <utility>

#include "app/config_rules.h"

class WorkFolder;

// What the reader needs from the application object.
struct ConfigReadInputs {
  bool qaMode = false;
  std::string qaValue;                          // the "qa" switch's value
  std::string modulePath;                       // the executable's full path
  std::string moduleDirectory;                  // without trailing backslash
  NativeMachine machine = NativeMachine::kX86;  // the system's processor (GetNativeMachine)
};

// The embedded configuration's text: the resource up to its first NUL, never past its end; "" when
// there is none. (Win32.)
std::string EmbeddedConfigText();

// Name of the extracted configuration file in the working folder.
extern const char kExtractedConfigName[];

// The installer's reader: the system's INI reader (GetPrivateProfileStringA) on section "runtime"
// of the file, with room for more than kLongestConfigValue characters, so that a longer value is
// seen as one and not cut. (Win32.)
class ProfileFileLookup final : public ConfigLookup {
public:
  explicit ProfileFileLookup(std::string fileName) : fileName_(std::move(fileName)) {}
  std::string Value(const char* key) const override;

private:
  std::string fileName_;
};

// Makes the run's working folder (`folder`, see app/work_folder.h), extracts the embedded
// configuration into it, closes the file, reads section "runtime" into `config` by the
// configuration's rules (JudgeConfig for inputs.machine: a malformed value is named in
// config.checks.malformedKey, for the flow to refuse; the choice of an Arm64 package is logged at
// INFO), deletes the file and returns the SourceKind. Without a configuration,
// returns 0, makes no folder and leaves `config` as it was. When the folder or the file cannot be
// made or written, says so in a message box (always: the UI setting is not known yet), logs it and
// returns 0; there is no other place to fall back to. (Win32.)
int ReadRuntimeConfig(const ConfigReadInputs& inputs, WorkFolder& folder, RuntimeConfig& config);
