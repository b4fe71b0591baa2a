#include "app/launch.h"

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
const char kMachineProgramClass[] = "Software\\Classes\\exefile";

// The ERROR entry and the status key "Error" get `logText`; the user, unless silent, `message`.
void Refuse(const std::string& logText, const std::string& message, const RuntimeConfig& config) {
  LogEvent(logText, LOG_ERROR);
  RecordStatus("Error", logText);
  if (config.showUI != 0) MessageBoxA(nullptr, message.c_str(), config.caption.c_str(), kRefusalMessageStyle);
}

// The held package's checks; a refused package is deleted and the refusal reported.
bool PassesChecks(HANDLE package, const std::string& path, const Sha256Digest& written, const char* writtenBy,
                  const std::string& message, const RuntimeConfig& config) {
  const PackageVerdict verdict = CheckHeldPackage(package, path, written, writtenBy, config.checks);
  if (verdict.passed) return true;
  DeleteFileA(path.c_str());
  Refuse(verdict.refusal, message, config);
  return false;
}
}  // namespace

BOOL PrepareShellStart(const char* verb, const std::string& file, const std::string& parameters,
                       const std::string& directory, ShellStart& start) {
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineProgramClass, 0, KEY_READ, start.classKey.put());
  if (opened != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(opened));
    return FALSE;
  }
  start.verb = verb;
  start.file = file;
  start.parameters = parameters;
  start.directory = directory;
  start.info = {};
  start.info.cbSize = sizeof start.info;
  // The caller ends soon after: the start must be complete when ShellExecuteExA returns. A failure
  // is logged, never shown: a box would hold a silent run.
  start.info.fMask = SEE_MASK_CLASSKEY | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  start.info.hkeyClass = start.classKey.get();
  start.info.lpVerb = start.verb.c_str();
  start.info.lpFile = start.file.c_str();
  start.info.lpParameters = start.parameters.c_str();
  start.info.lpDirectory = start.directory.empty() ? nullptr : start.directory.c_str();
  start.info.nShow = SW_SHOW;
  return TRUE;
}

BOOL StartThroughShell(const char* verb, const std::string& file, const std::string& parameters,
                       const std::string& directory, HWND owner) {
  ShellStart start;
  if (!PrepareShellStart(verb, file, parameters, directory, start)) {
    LogShellFailure(file);
    return FALSE;
  }
  start.info.hwnd = owner;
  if (ShellExecuteExA(&start.info)) return TRUE;
  LogShellFailure(file);
  return FALSE;
}

BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory) {
  return StartThroughShell("runas", file, parameters != nullptr ? parameters : "",
                           directory != nullptr ? directory : "", owner);
}

BOOL StartWithOpen(const std::string& path, const std::string& parameters, const std::string& directory) {
  return StartThroughShell("open", path, parameters, directory);
}

BOOL LaunchDownloadedPackage(const std::string& targetPath, UniqueHandle held, const Sha256Digest& written,
                             const RuntimeConfig& config, const std::string& directory) {
  if (HasWrongFormatMarker(targetPath)) {
    LogEvent("Wrong file format: " + targetPath, LOG_ERROR);
    return FALSE;
  }
  // Held until the shell has started it: what is checked below is what is started.
  UniqueHandle package = held ? std::move(held) : HoldPackage(targetPath);
  if (!package) {
    const DWORD error = GetLastError();
    LogEvent("Package could not be held for its checks: " + targetPath + " (" + SystemErrorText(error) + ")",
             LOG_ERROR);
    return FALSE;
  }
  if (IsTooSmallToRun(GetFileSize(package.get(), nullptr))) {
    package.reset();
    std::string message;
    AfxFormatString1(message, IDS_NOT_YET_AVAILABLE, config.caption.c_str());
    Refuse("Too small size detected to execute " + targetPath, message, config);
    return FALSE;
  }
  if (!PassesChecks(package.get(), targetPath, written, "download",
                    "The downloaded installer of " + config.caption +
                        " did not pass verification and has been deleted. Please, try later.",
                    config)) {
    return FALSE;
  }

  LogEvent("Attempting to run " + targetPath, LOG_FLOW);
  const BOOL started = HasKnownFolderApi()
                           ? RunElevated(nullptr, targetPath.c_str(), config.parameters.c_str(), directory.c_str())
                           : StartWithOpen(targetPath, config.parameters, directory);
  RecordStatus("Attempted to run downloaded file", "true");
  return started;
}

BOOL LaunchLocalPackage(const std::string& sourcePath, const std::string& targetPath, const std::string& parameters,
                        const RuntimeConfig& config, const std::string& directory) {
  const std::string notStarted = "The installer of " + config.caption + " has not been started: ";
  Sha256Digest written = {};
  DWORD error = 0;
  UniqueHandle package;
  if (CopyHeldFile(sourcePath, targetPath, written, error)) {
    package = HoldPackage(targetPath);
    if (!package) error = GetLastError();
  }
  if (!package) {
    Refuse("Package could not be copied for its checks: " + sourcePath + " (" + SystemErrorText(error) + ")",
           notStarted + "it could not be read.", config);
    return FALSE;
  }
  if (!PassesChecks(package.get(), targetPath, written, "copy", notStarted + "it did not pass verification.", config)) {
    return FALSE;
  }
  const BOOL started = StartWithOpen(targetPath, parameters, directory);
  RecordStatus("Attempted to run local file", "true");
  return started;
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
