#include "app/runtime_config.h"

#include <windows.h>

#include "app/config_source.h"
#include "app/work_folder.h"
#include "download/retry_rules.h"
#include "framework/app.h"
#include "framework/error_text.h"
#include "framework/file.h"
#include "framework/handle.h"
#include "framework/resources.h"
#include "framework/url.h"
#include "probes/version_probes.h"
#include "records/failure_report.h"
#include "records/records.h"
#include "res/resource.h"
#include "util/file_version.h"

const char kExtractedConfigName[] = "vkinstlightx.ini";

namespace {
const char kSection[] = "runtime";
constexpr DWORD kPathBuffer = 260;

// The configuration text: the resource up to its first NUL, never past its end.
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

std::string ReadText(const char* key, const std::string& file) {
  char value[kPathBuffer] = {};
  GetPrivateProfileStringA(kSection, key, "", value, kPathBuffer, file.c_str());
  return value;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WriteWholeFile(HANDLE file, const std::string& text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

// An http:// or https:// URL the download can request: a mirror must be one.
bool IsDownloadUrl(const std::string& url) {
  uint32_t service = 0;
  std::string server, object;
  uint16_t port = 0;
  return IsHttpLocation(url) && AfxParseURL(url.c_str(), service, server, object, port) &&
         (service == AFX_INET_SERVICE_HTTP || service == AFX_INET_SERVICE_HTTPS);
}

// Always shown: the UI setting is not known yet.
void Report(const std::string& text) {
  FailureReport report;
  report.logText = report.message = text;
  ReportFailure(report);
}

void ReportUnusableFile(const char* what, const std::string& fileName) {
  Report(std::string("Couldn't ") + what + " the " + fileName + " file!");
}
}  // namespace

int ReadRuntimeConfig(const ConfigReadInputs& inputs, WorkFolder& folder, RuntimeConfig& config) {
  const std::string text = EmbeddedConfigText();
  if (text.empty()) return kSourceNone;

  DWORD error = 0;
  if (!folder.Create(error)) {
    Report("Couldn't create the working folder " + folder.Folder() + " (" + SystemErrorText(error) + ")");
    return kSourceNone;
  }
  const std::string fileName = folder.FilePath(kExtractedConfigName);
  // A temporary path that leaves no room for the name would be cut; treat it as not creatable.
  if (fileName.size() >= kPathBuffer) {
    ReportUnusableFile("create", fileName);
    return kSourceNone;
  }
  {
    UniqueHandle file = CreateNewFile(fileName.c_str());
    if (!file) {
      ReportUnusableFile("create", fileName);
      return kSourceNone;
    }
    if (!WriteWholeFile(file.get(), text)) {
      ReportUnusableFile("write", fileName);
      return kSourceNone;
    }
  }
  // Read once the write handle is closed: how the system's profile reader shares a file does not
  // matter, and in the working folder nobody else can write it in the meantime.
  const char* locationKey = Is64BitWindows() ? "WebFile64" : "WebFile";
  config.location = ReadText(locationKey, fileName);
  config.caption = ReadText("Caption", fileName);
  config.companyNameShort = ReadText("CompanyNameShort", fileName);
  config.parameters = ReadText("parameters", fileName);
  config.showUI = static_cast<int>(GetPrivateProfileIntA(kSection, "progressbar", 1, fileName.c_str()));
  const std::string hashKey = HashKeyFor(locationKey);
  config.checks =
      ReadPackageChecks(hashKey, ReadText(hashKey.c_str(), fileName), ReadText("RequireSignature", fileName),
                        ReadText("SignerName", fileName), ReadText("SignerThumbprint", fileName));
  const std::string mirrorKey = std::string(locationKey) + "Mirror";
  config.mirror = ReadText(mirrorKey.c_str(), fileName);
  const bool retriesUsable = ParseRetries(ReadText("Retries", fileName), config.retries);
  if (config.checks.malformedKey.empty() && !retriesUsable) config.checks.malformedKey = "Retries";
  if (config.checks.malformedKey.empty() && !config.mirror.empty() && !IsDownloadUrl(config.mirror)) {
    config.checks.malformedKey = mirrorKey;
  }
  DeleteFileA(fileName.c_str());

  const bool qaUrl = inputs.qaMode && IsHttpLocation(config.location);
  if (qaUrl) {
    config.qaVersion = !inputs.qaValue.empty() ? inputs.qaValue : GetFileVersionString(inputs.modulePath.c_str());
    if (!config.mirror.empty()) config.mirror = RewriteQaUrl(config.mirror, config.qaVersion);
  }
  const SourceResolution source =
      ResolveSource(config.location, inputs.qaMode, config.qaVersion, inputs.moduleDirectory, IsFile);
  config.location = source.location;
  if (!source.missingPath.empty()) RecordStatus("File " + source.missingPath + " does not exist!", "true");
  return source.kind;
}
