#include "app/launch.h"

#include "app/held_package.h"
#include "app/package_checks.h"
#include "app/work_folder.h"
#include "framework/error_text.h"
#include "framework/format.h"
#include "framework/handle.h"
#include "framework/resources.h"
#include "probes/version_probes.h"
#include "records/failure_report.h"
#include "records/records.h"
#include "records/report_sender.h"
#include "records/run_report.h"
#include "res/resource.h"

namespace {
constexpr UINT kRefusalMessageStyle = MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL | MB_TOPMOST;
const char kMachineProgramClass[] = "Software\\Classes\\exefile";
// An environment variable's value, its terminating NUL included, is at most 32767 characters.
constexpr DWORD kLongestVariable = 32767;

// The ERROR entry and the status key "Error" get `logText`; the user, unless silent, `message`
// (in a translation string `textId` with the caption for "%1"); a refused package also points to
// the complete installer.
void Refuse(const std::string& logText, const std::string& message, UINT textId, const RuntimeConfig& config,
            bool packageRefused = false) {
  FailureReport report;
  report.textId = textId;
  report.textArgs[0] = config.caption;
  report.offerFullInstaller = packageRefused;
  report.logText = logText;
  report.statusKey = "Error";
  report.message = message;
  report.silent = config.showUI == 0;
  report.caption = config.caption.c_str();
  report.style = kRefusalMessageStyle;
  ReportFailure(report);
}

// The shell's answer for the run's report, with the time it came; GetLastError still says why a
// start failed, for the log entry already written.
void NoteStart(RunOutcome started, bool succeeded) {
  const DWORD error = GetLastError();
  RunFacts& run = CurrentRun();
  if (succeeded) run.packageStartMs = RunMilliseconds();
  NoteRunEnd(run, succeeded ? started : RunOutcome::kStartFailed, succeeded ? 0 : static_cast<long>(error));
  SetLastError(error);
}

// An ERROR entry that nothing else accompanies.
void LogFailure(const std::string& text) {
  FailureReport report;
  report.logText = text;
  ReportFailure(report);
}

// The held package's checks; a refused package is deleted and the refusal reported.
bool PassesChecks(HANDLE package, const std::string& path, const Sha256Digest& written, const char* writtenBy,
                  const std::string& message, UINT textId, const RuntimeConfig& config) {
  const PackageVerdict verdict = CheckHeldPackage(package, path, written, writtenBy, config.checks);
  if (verdict.passed) return true;
  NoteRunEnd(CurrentRun(), verdict.signature ? RunOutcome::kSignatureRefused : RunOutcome::kHashMismatch);
  DeleteFileA(path.c_str());
  Refuse(verdict.refusal, message, textId, config, true);
  return false;
}

bool ReadVariable(const char* name, std::string& value) {
  value.resize(kLongestVariable);
  const DWORD length = GetEnvironmentVariableA(name, &value[0], kLongestVariable);
  value.resize(length < kLongestVariable ? length : 0);
  return length > 0 && length < kLongestVariable;
}

// The package unpacks where only administrators can write, not where the user's programs can.
std::string PackageTemp(const std::string& directory) {
  return directory.empty() ? std::string() : PackageTempDirectory(directory);
}
}  // namespace

ChildEnvironment::ChildEnvironment(const std::string& tempDirectory)
    : saved_{{"TEMP", false, {}}, {"TMP", false, {}}, {"__COMPAT_LAYER", false, {}}} {
  for (Saved& saved : saved_) saved.present = ReadVariable(saved.name, saved.value);
  if (!tempDirectory.empty()) {
    // As a user's TEMP is written: no trailing backslash (GetTempPathA adds one).
    const std::string value = tempDirectory.substr(0, tempDirectory.find_last_not_of('\\') + 1);
    SetEnvironmentVariableA("TEMP", value.c_str());
    SetEnvironmentVariableA("TMP", value.c_str());
  }
  SetEnvironmentVariableA("__COMPAT_LAYER", nullptr);
}

ChildEnvironment::~ChildEnvironment() {
  for (const Saved& saved : saved_) SetEnvironmentVariableA(saved.name, saved.present ? saved.value.c_str() : nullptr);
}

bool PrepareShellStart(const char* verb, const std::string& file, const std::string& parameters,
                       const std::string& directory, bool silent, ShellStart& start) {
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineProgramClass, 0, KEY_READ, start.classKey.put());
  if (opened != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(opened));
    return false;
  }
  start.verb = verb;
  start.file = file;
  start.parameters = parameters;
  start.directory = directory;
  start.info = {};
  start.info.cbSize = sizeof start.info;
  // The caller ends soon after: the start must be complete when ShellExecuteExA returns. A failure
  // is always logged, and shown by the shell unless silent: a box would hold a silent run, while
  // an interactive one has nothing else left on the screen to say it.
  start.info.fMask = SEE_MASK_CLASSKEY | SEE_MASK_NOASYNC | (silent ? SEE_MASK_FLAG_NO_UI : 0);
  start.info.hkeyClass = start.classKey.get();
  start.info.lpVerb = start.verb.c_str();
  start.info.lpFile = start.file.c_str();
  start.info.lpParameters = start.parameters.c_str();
  start.info.lpDirectory = start.directory.empty() ? nullptr : start.directory.c_str();
  start.info.nShow = SW_SHOW;
  return true;
}

bool StartThroughShell(const char* verb, const std::string& file, const std::string& parameters,
                       const std::string& directory, bool silent, HWND owner) {
  ShellStart start;
  if (!PrepareShellStart(verb, file, parameters, directory, silent, start)) {
    LogShellFailure(file);
    return false;
  }
  start.info.hwnd = owner;
  if (ShellExecuteExA(&start.info)) return true;
  LogShellFailure(file);
  return false;
}

BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory, bool silent) {
  return StartThroughShell("runas", file, parameters != nullptr ? parameters : "",
                           directory != nullptr ? directory : "", silent, owner);
}

bool StartWithOpen(const std::string& path, const std::string& parameters, const std::string& directory, bool silent) {
  return StartThroughShell("open", path, parameters, directory, silent);
}

bool LaunchDownloadedPackage(DownloadedPackage package, const RuntimeConfig& config, const std::string& directory) {
  const std::string& targetPath = package.path;
  if (HasWrongFormatMarker(targetPath)) {
    NoteRunEnd(CurrentRun(), RunOutcome::kPackageUnusable);
    LogFailure(FormatText("Wrong file format: %s", targetPath.c_str()));
    return false;
  }
  // Held until the shell has started it: what is checked below is what is started.
  if (!package.held) {
    NoteRunEnd(CurrentRun(), RunOutcome::kPackageUnusable, static_cast<long>(package.holdError));
    LogFailure(FormatText("Package could not be held for its checks: %s (%s)", targetPath.c_str(),
                          SystemErrorText(package.holdError).c_str()));
    return false;
  }
  if (IsTooSmallToRun(GetFileSize(package.held.get(), nullptr))) {
    package.held.reset();
    NoteRunEnd(CurrentRun(), RunOutcome::kPackageTooSmall);
    std::string message;
    AfxFormatString1(message, IDS_NOT_YET_AVAILABLE, config.caption.c_str());
    Refuse(FormatText("Too small size detected to execute %s", targetPath.c_str()), message, IDS_NOT_YET_AVAILABLE,
           config, true);
    return false;
  }
  if (!PassesChecks(package.held.get(), targetPath, package.sha256, "download",
                    FormatText("The downloaded installer of %s did not pass verification and has been deleted. "
                               "Please, try later.",
                               config.caption.c_str()),
                    IDS_UI_DOWNLOAD_NOT_VERIFIED, config)) {
    return false;
  }

  LogEvent(FormatText("Attempting to run %s", targetPath.c_str()), LOG_FLOW);
  const bool silent = config.showUI == 0;
  bool started = false;
  {
    const ChildEnvironment environment(PackageTemp(directory));
    started = HasKnownFolderApi()
                  ? RunElevated(nullptr, targetPath.c_str(), config.parameters.c_str(), directory.c_str(), silent)
                  : StartWithOpen(targetPath, config.parameters, directory, silent);
    // Before the environment is put back, which may set the thread's last error.
    NoteStart(RunOutcome::kStarted, started);
  }
  RecordStatus("Attempted to run downloaded file", "true");
  return started;
}

bool LaunchLocalPackage(const std::string& sourcePath, const std::string& targetPath, const std::string& parameters,
                        const RuntimeConfig& config, const std::string& directory) {
  Sha256Digest written = {};
  DWORD error = 0;
  UniqueHandle package;
  if (CopyHeldFile(sourcePath, targetPath, written, error)) {
    package = HoldPackage(targetPath);
    if (!package) error = GetLastError();
  }
  if (!package) {
    NoteRunEnd(CurrentRun(), RunOutcome::kPackageUnusable, static_cast<long>(error));
    Refuse(FormatText("Package could not be copied for its checks: %s (%s)", sourcePath.c_str(),
                      SystemErrorText(error).c_str()),
           FormatText("The installer of %s has not been started: it could not be read.", config.caption.c_str()),
           IDS_UI_LOCAL_UNREADABLE, config);
    return false;
  }
  if (!PassesChecks(
          package.get(), targetPath, written, "copy",
          FormatText("The installer of %s has not been started: it did not pass verification.", config.caption.c_str()),
          IDS_UI_LOCAL_NOT_VERIFIED, config)) {
    return false;
  }
  bool started = false;
  {
    const ChildEnvironment environment(PackageTemp(directory));
    started = StartWithOpen(targetPath, parameters, directory, config.showUI == 0);
    NoteStart(RunOutcome::kStartedLocal, started);
  }
  RecordStatus("Attempted to run local file", "true");
  return started;
}

void LogShellFailure(const std::string& path) {
  // The shell's own answer is no system error number (31 is "no association", not error 31).
  const DWORD error = GetLastError();
  const std::string reason = error != 0 ? SystemErrorText(error) : "no reason given";
  LogFailure(FormatText("Package could not be started: %s (%s)", path.c_str(), reason.c_str()));
}

bool ConfirmPackageChecks(const RuntimeConfig& config, PackageSource source) {
  if (config.checks.malformedKey.empty()) return true;
  NoteRunEnd(CurrentRun(), RunOutcome::kMalformedConfiguration);
  const bool local = source == PackageSource::kBesideInstaller;
  const char* refused = local ? "installed" : "downloaded";
  Refuse(MalformedValueText(config.checks.malformedKey),
         FormatText("%s cannot be %s: this installer is not configured correctly.", config.caption.c_str(), refused),
         local ? IDS_UI_NOT_CONFIGURED_LOCAL : IDS_UI_NOT_CONFIGURED_DOWNLOAD, config);
  return false;
}
