#include "app/launch.h"

#include <shellapi.h>
#include "framework/handle.h"
#include "framework/resources.h"
#include "probes/version_probes.h"
#include "records/records.h"
#include "res/resource.h"

namespace {
constexpr UINT kTooSmallMessageStyle = MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL | MB_TOPMOST;
}

BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory) {
  const HINSTANCE result = ShellExecuteA(owner, "runas", file, parameters, directory, SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32 ? TRUE : FALSE;
}

void LaunchDownloadedPackage(const std::string& targetPath, const RuntimeConfig& config) {
  if (HasWrongFormatMarker(targetPath)) {
    LogEvent("Wrong file format: " + targetPath, LOG_ERROR);
    return;
  }
  DWORD size = 0;
  {
    UniqueHandle file(CreateFileA(targetPath.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return;
    size = GetFileSize(file.get(), nullptr);
  }
  if (IsTooSmallToRun(size)) {
    const std::string logText = "Too small size detected to execute " + targetPath;
    LogEvent(logText, LOG_ERROR);
    std::string message;
    AfxFormatString1(message, IDS_NOT_YET_AVAILABLE, config.caption.c_str());
    RecordStatus("Error", logText);
    if (config.showUI != 0) MessageBoxA(nullptr, message.c_str(), config.caption.c_str(), kTooSmallMessageStyle);
    return;
  }

  LogEvent("Attempting to run " + targetPath, LOG_FLOW);
  if (HasKnownFolderApi()) {
    RunElevated(nullptr, targetPath.c_str(), config.parameters.c_str(), nullptr);
  } else {
    ShellExecuteA(nullptr, "open", targetPath.c_str(), config.parameters.c_str(), nullptr, SW_SHOW);
  }
  RecordStatus("Attempted to run downloaded file", "true");
}
