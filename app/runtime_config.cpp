#include "app/runtime_config.h"

#include <windows.h>

#include "app/config_source.h"
#include "app/work_folder.h"
#include "framework/app.h"
#include "framework/error_text.h"
#include "framework/file.h"
#include "framework/format.h"
#include "framework/handle.h"
#include "framework/resources.h"
#include "records/failure_report.h"
#include "records/records.h"
#include "records/run_report.h"
#include "res/resource.h"
#include "util/file_version.h"

const char kExtractedConfigName[] = "vkinstlightx.ini";

namespace {
constexpr DWORD kPathBuffer = 260;
// Room for a value longer than the rules allow, so that one is seen as too long, not cut.
constexpr DWORD kValueBuffer = 1024;
static_assert(kValueBuffer > kLongestConfigValue + 1);

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WriteWholeFile(HANDLE file, const std::string& text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

// Always shown: the UI setting is not known yet. A translation shows string `textId` with the
// arguments.
void Report(const std::string& text, UINT textId, const std::string& arg1, const std::string& arg2 = std::string()) {
  FailureReport report;
  report.logText = report.message = text;
  report.textId = textId;
  report.textArgs[0] = arg1;
  report.textArgs[1] = arg2;
  ReportFailure(report);
}

void ReportUnusableFile(const char* what, UINT textId, const std::string& fileName) {
  Report(FormatText("Couldn't %s the %s file!", what, fileName.c_str()), textId, fileName);
}
}  // namespace

std::string EmbeddedConfigText() {
  HMODULE module = AfxGetInstanceHandle();
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_CONFIG_INI), "INI");
  if (found == nullptr) return std::string();
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) return std::string();
  const DWORD size = SizeofResource(module, found);
  size_t length = 0;
  while (length < size && data[length] != '\0') ++length;
  return std::string(data, length);
}

std::string ProfileFileLookup::Value(const char* key) const {
  char value[kValueBuffer] = {};
  GetPrivateProfileStringA(kConfigSection, key, "", value, kValueBuffer, fileName_.c_str());
  return value;
}

int ReadRuntimeConfig(const ConfigReadInputs& inputs, WorkFolder& folder, RuntimeConfig& config) {
  const std::string text = EmbeddedConfigText();
  if (text.empty()) return kSourceNone;

  DWORD error = 0;
  if (!folder.Create(error)) {
    const std::string reason = SystemErrorText(error);
    Report(FormatText("Couldn't create the working folder %s (%s)", folder.Folder().c_str(), reason.c_str()),
           IDS_UI_WORK_FOLDER_FAILED, folder.Folder(), reason);
    return kSourceNone;
  }
  const std::string fileName = folder.FilePath(kExtractedConfigName);
  // A temporary path that leaves no room for the name would be cut; treat it as not creatable.
  if (fileName.size() >= kPathBuffer) {
    ReportUnusableFile("create", IDS_UI_CONFIG_CREATE_FAILED, fileName);
    return kSourceNone;
  }
  {
    UniqueHandle file = CreateNewFile(fileName.c_str());
    if (!file) {
      ReportUnusableFile("create", IDS_UI_CONFIG_CREATE_FAILED, fileName);
      return kSourceNone;
    }
    if (!WriteWholeFile(file.get(), text)) {
      ReportUnusableFile("write", IDS_UI_CONFIG_WRITE_FAILED, fileName);
      return kSourceNone;
    }
  }
  // Read once the write handle is closed: how the system's profile reader shares a file does not
  // matter, and in the working folder nobody else can write it in the meantime.
  const ConfigJudgement judgement = JudgeConfig(ProfileFileLookup(fileName), inputs.machine);
  DeleteFileA(fileName.c_str());
  config = judgement.config;
  CurrentRun().configName = ConfigNameNote(text);
  if (!judgement.choice.empty()) LogEvent(judgement.choice, LOG_INFO);

  const bool qaUrl = inputs.qaMode && IsHttpLocation(config.location);
  if (qaUrl) {
    config.qaVersion = !inputs.qaValue.empty() ? inputs.qaValue : GetFileVersionString(inputs.modulePath.c_str());
    if (!config.mirror.empty()) config.mirror = RewriteQaUrl(config.mirror, config.qaVersion);
  }
  const SourceResolution source =
      ResolveSource(config.location, inputs.qaMode, config.qaVersion, inputs.moduleDirectory, IsFile);
  config.location = source.location;
  if (!source.missingPath.empty())
    RecordStatus(FormatText("File %s does not exist!", source.missingPath.c_str()), "true");
  return source.kind;
}
