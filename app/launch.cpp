#include "app/launch.h"

#include <shellapi.h>

#include <utility>

#include "app/held_package.h"
#include "app/package_checks.h"
#include "framework/error_text.h"
#include "framework/handle.h"
#include "framework/resources.h"
#include "probes/version_probes.h"
#include "records/records.h"
#include "res/resource.h"

namespace {
constexpr UINT kRefusalMessageStyle = MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL | MB_TOPMOST;

// The ERROR entry and the status key "Error" get `logText`; the user, unless silent, `message`.
void Refuse(const std::string& logText, const std::string& message, const RuntimeConfig& config) {
  LogEvent(logText, LOG_ERROR);
  RecordStatus("Error", logText);
  if (config.showUI != 0) MessageBoxA(nullptr, message.c_str(), config.caption.c_str(), kRefusalMessageStyle);
}
}  // namespace

BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory) {
  const HINSTANCE result = ShellExecuteA(owner, "runas", file, parameters, directory, SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32 ? TRUE : FALSE;
}

void LaunchDownloadedPackage(const std::string& targetPath, UniqueHandle held, const Sha256Digest& written,
                             const RuntimeConfig& config) {
  if (HasWrongFormatMarker(targetPath)) {
    LogEvent("Wrong file format: " + targetPath, LOG_ERROR);
    return;
  }
  // Held until the shell has started it: what is checked below is what is started.
  UniqueHandle package = held ? std::move(held) : HoldPackage(targetPath);
  if (!package) {
    const DWORD error = GetLastError();
    LogEvent("Package could not be held for its checks: " + targetPath + " (" + SystemErrorText(error) + ")",
             LOG_ERROR);
    return;
  }
  if (IsTooSmallToRun(GetFileSize(package.get(), nullptr))) {
    package.reset();
    std::string message;
    AfxFormatString1(message, IDS_NOT_YET_AVAILABLE, config.caption.c_str());
    Refuse("Too small size detected to execute " + targetPath, message, config);
    return;
  }
  const std::string refusal = CheckHeldPackage(package.get(), targetPath, written, config.checks);
  if (!refusal.empty()) {
    package.reset();
    DeleteFileA(targetPath.c_str());
    Refuse(refusal,
           "The downloaded installer of " + config.caption + " did not pass verification and has been deleted. "
           "Please, try later.",
           config);
    return;
  }

  LogEvent("Attempting to run " + targetPath, LOG_FLOW);
  if (HasKnownFolderApi()) {
    if (!RunElevated(nullptr, targetPath.c_str(), config.parameters.c_str(), nullptr)) LogShellFailure(targetPath);
  } else {
    StartWithOpen(targetPath, config.parameters);
  }
  RecordStatus("Attempted to run downloaded file", "true");
}

void StartWithOpen(const std::string& path, const std::string& parameters) {
  const HINSTANCE result = ShellExecuteA(nullptr, "open", path.c_str(), parameters.c_str(), nullptr, SW_SHOW);
  if (reinterpret_cast<INT_PTR>(result) <= 32) LogShellFailure(path);
}

void LogShellFailure(const std::string& path) {
  // The shell's own answer is no system error number (31 is "no association", not error 31).
  const DWORD error = GetLastError();
  const std::string reason = error != 0 ? SystemErrorText(error) : "no reason given";
  LogEvent("Package could not be started: " + path + " (" + reason + ")", LOG_ERROR);
}

BOOL ConfirmPackageChecks(const RuntimeConfig& config) {
  if (config.checks.malformedKey.empty()) return TRUE;
  Refuse(MalformedValueText(config.checks.malformedKey),
         config.caption + " cannot be downloaded: this installer is not configured correctly.", config);
  return FALSE;
}
