#include "app/installer_app.h"

#include <stdlib.h>

#include "app/admin_message.h"
#include "app/config_source.h"
#include "app/elevation_rules.h"
#include "app/flag_command_line_info.h"
#include "app/launch.h"
#include "app/process_elevation.h"
#include "app/run_end_report.h"
#include "download/http_download_dlg.h"
#include "framework/error_text.h"
#include "framework/format.h"
#include "framework/handle.h"
#include "framework/resources.h"
#include "framework/ui_text.h"
#include "framework/url.h"
#include "probes/logged_on_user.h"
#include "probes/version_class.h"
#include "probes/version_probes.h"
#include "records/failure_report.h"
#include "records/records.h"
#include "records/report_sender.h"
#include "records/run_report.h"
#include "res/resource.h"

namespace {
const char kLogBanner[] = "***************************Lodestep***************************";
constexpr DWORD kLogSizeLimit = 100000;
constexpr UINT WM_TRAY_NOTIFY = WM_APP + 10;
constexpr UINT kBalloonTimeoutSeconds = 10;

// Everything the download needs, taken from the configuration once.
DownloadRequest BuildDownloadRequest(const RuntimeConfig& config, int sourceKind, const std::string& targetPath) {
  DownloadRequest request;
  request.url = ParseDownloadUrl(config.location);
  if (!config.mirror.empty()) request.mirror = ParseDownloadUrl(config.mirror);
  request.retries = config.retries;
  request.targetPath = targetPath;
  request.displayName = config.caption;
  request.sourceKind = sourceKind;
  request.showUI = config.showUI;
  request.qaVersion = config.qaVersion;
  return request;
}

// The administrator-required message: English as it always was, a translation through the wide box.
void ShowAdminRequired(const std::string& caption) {
  if (UiTranslated()) {
    ShowAdminRequiredMessage(WidenAnsi(caption).c_str(), LoadUiString(IDS_UI_ADMIN_REQUIRED).c_str(), IDI_ADMIN, 0,
                             UiLanguage());
  } else {
    ShowAdminRequiredMessage(caption.c_str(), kAdminRequiredMessage, IDI_ADMIN, 0);
  }
}
}  // namespace

CInstallerApp::CInstallerApp() = default;

void CInstallerApp::OnDelayLoadFailure(const char* dll, const char* function, DWORD error) {
  LogEvent(FormatText("System library %s%s%s (%s)", dll, function != nullptr ? " has no function " : "",
                      function != nullptr ? function : "", SystemErrorText(error).c_str()),
           LOG_ERROR);
  m_trayIcon.DeleteTrayIcon();
  m_workFolder.Finish();
}

int CInstallerApp::ReadRuntimeConfig() {
  ConfigReadInputs inputs;
  inputs.qaMode = m_nQaMode != 0;
  inputs.qaValue = m_strQaValue;
  inputs.modulePath = m_strModulePath;
  inputs.moduleDirectory = m_strModuleDirectory;
  inputs.machine = GetNativeMachine();
  return ::ReadRuntimeConfig(inputs, m_workFolder, m_config);
}

void CInstallerApp::WriteLogBannerAndTrim() {
  DWORD size = 0;
  {
    UniqueHandle log(CreateFileA(kInstallLogPath, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!log) return;
    size = GetFileSize(log.get(), nullptr);
  }
  LogEvent(kLogBanner, LOG_ERROR);
  LogEvent(kLogBanner, LOG_FLOW);
  LogEvent(kLogBanner, LOG_INFO);
  if (size != INVALID_FILE_SIZE && size > kLogSizeLimit) DeleteFileA(kInstallLogPath);
}

void CInstallerApp::StartLocalPackage() {
  LogEvent(FormatText("Working folder: %s", m_workFolder.Folder().c_str()), LOG_FLOW);
  if (!ConfirmPackageChecks(m_config, PackageSource::kBesideInstaller)) return;
  const std::string parameters = m_strAcValue.empty() ? std::string() : FormatText("/ac %s", m_strAcValue.c_str());
  const std::string name = LocalPackageName(m_config.location);
  if (LaunchLocalPackage(m_config.location, m_workFolder.FilePath(name), parameters, m_config, m_workFolder.Path())) {
    m_workFolder.MarkStarted();
  }
}

BOOL CInstallerApp::InitInstance() {
  StartRunClock();
  Run();
  // After the package was started, or once the run has failed: the report delays nothing else.
  ReportRunEnd(m_config, m_strModulePath);
  m_workFolder.Finish();
  return FALSE;
}

void CInstallerApp::Run() {
  if (GetWindowsVersionClass() < kOldestSupportedClass) {
    LogEvent(LoadResString(IDS_OS_UNSUPPORTED), LOG_ERROR);
    return;
  }

  // Before any box or window, and before the worker thread.
  SelectUiLanguage(m_hInstance, IDS_UI_CAPTION);

  if (!AfxSocketInit()) {
    if (UiTranslated()) {
      AfxMessageBox(LoadUiString(IDS_UI_NO_SOCKETS), MB_OK);
    } else {
      AfxMessageBox("Windows Sockets could not be initialized.", MB_OK);
    }
    return;
  }
  AfxEnableControlContainer();

  if (!ReadModulePath(m_strModulePath)) return;
  m_strModuleDirectory = m_strModulePath.substr(0, m_strModulePath.rfind('\\'));

  bool relaunched = false;
  {
    CFlagCommandLineInfo commandLine;
    ParseCommandLine(commandLine);
    const CommandLineResults results = ReadCommandLineResults(commandLine);
    m_nQaMode = results.qaMode;
    m_strQaValue = results.qa;
    m_strAcValue = results.ac;
    std::string ignored;
    relaunched = commandLine.LookupSwitch(kRelaunchSwitch, ignored) != 0;
  }
  // Read once and taken away, so that nothing this run starts inherits it.
  relaunched = GetEnvironmentVariableA(kRelaunchVariable, nullptr, 0) != 0 || relaunched;
  SetEnvironmentVariableA(kRelaunchVariable, nullptr);

  char threadId[16] = {};
  _ltoa(static_cast<long>(m_nThreadID), threadId, 10);
  m_strThreadId = threadId;
  SetLogThreadIdText(m_strThreadId);

  WriteLogBannerAndTrim();
  if (UiTranslated()) {
    const std::string tag = LanguageTag(UiLanguage());
    LogEvent(tag.empty() ? FormatText("UI language: 0x%04X", static_cast<unsigned>(UiLanguage()))
                         : FormatText("UI language: %s", tag.c_str()),
             LOG_INFO);
  }

  if (!SettleElevation(relaunched)) return;

  const int sourceKind = ReadRuntimeConfig();
  SetFullInstallerUrl(m_config.fullInstallerUrl);

  if (!CLoggedOnUserHelper::IsLoggedOnUserAdmin()) {
    NoteRunEnd(CurrentRun(), RunOutcome::kNotAdministrator);
    ShowAdminRequired(m_config.caption);
    return;
  }

  ClearStatusSection();

  if (sourceKind == kSourceLocal) {
    StartLocalPackage();
  } else if (sourceKind != kSourceNone) {
    DownloadAndLaunch(sourceKind);
  } else {
    NoteRunEnd(CurrentRun(), RunOutcome::kNoPackage);
  }
}

bool CInstallerApp::SettleElevation(bool relaunched) {
  const ProcessElevation elevation = ReadProcessElevation();
  switch (DecideElevation(elevation.elevated, elevation.hasUserAccountControl, relaunched)) {
    case ElevationStep::kGoOn:
      return true;
    case ElevationStep::kStartElevated: {
      LogEvent("Not elevated: starting the installer again with administrator rights", LOG_FLOW);
      DWORD error = 0;
      if (StartElevatedAgain(error)) return false;
      RefuseWithoutElevation(error == ERROR_CANCELLED
                                 ? std::string("The request for administrator rights was declined")
                                 : FormatText("The installer could not be started with administrator rights (%s)",
                                              SystemErrorText(error).c_str()));
      return false;
    }
    case ElevationStep::kRefuse:
      RefuseWithoutElevation("Started again for administrator rights, but still not elevated");
      return false;
  }
  return false;
}

bool CInstallerApp::StartElevatedAgain(DWORD& error) {
  // Held against writers and renaming until the shell has started it, so that the consent prompt
  // names, and the elevated run is, the file this run came from.
  const UniqueHandle self(
      CreateFileA(m_strModulePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ShellStart start;
  if (!self || !PrepareShellStart("runas", m_strModulePath, RelaunchParameters(ArgumentsOf(GetCommandLineA())),
                                  std::string(), false, start)) {
    error = GetLastError();
    return false;
  }
  // A "RunAsInvoker" layer passed on would start the copy without elevation again.
  const ChildEnvironment environment((std::string()));
  SetEnvironmentVariableA(kRelaunchVariable, "1");
  if (!ShellExecuteExA(&start.info)) {
    error = GetLastError();
    return false;
  }
  return true;
}

void CInstallerApp::RefuseWithoutElevation(const std::string& why) {
  LogEvent(why, LOG_ERROR);
  const std::string text = EmbeddedConfigText();
  const std::string caption = ProfileTextLookup(text).Value(kCaptionKey);
  ShowAdminRequired(caption);
}

void CInstallerApp::DownloadAndLaunch(int sourceKind) {
  // Refused here, after the status section was cleared so that the "Error" key stays, and before
  // anything is requested.
  if (!ConfirmPackageChecks(m_config, PackageSource::kDownload)) return;

  LogEvent(FormatText("Working folder: %s", m_workFolder.Folder().c_str()), LOG_FLOW);
  // A fresh folder: nothing can lie at the target's name yet.
  const DownloadRequest request =
      BuildDownloadRequest(m_config, sourceKind, m_workFolder.FilePath(FormatText("~%s.exe", m_strAppName.c_str())));
  CHttpDownloadDlg dialog(request, &m_trayIcon);

  m_hSmallIcon.reset(static_cast<HICON>(LoadImageA(m_hInstance, MAKEINTRESOURCEA(IDI_TRAY), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
  const std::string tooltip = FormatText("%s downloading - please wait...", m_config.companyNameShort.c_str());
  m_trayIcon.SetIconResource(IDI_TRAY);  // drawn again for the taskbar's scale if that changes
  m_trayIcon.CreateTrayIcon(m_hInstance, nullptr, WM_TRAY_NOTIFY, tooltip.c_str(), m_hSmallIcon.get(), 0, FALSE,
                            nullptr, nullptr, 0, kBalloonTimeoutSeconds);
  if (UiTranslated())
    m_trayIcon.ChangeTooltip(LoadUiString(IDS_UI_TRAY_TIP, m_config.companyNameShort.c_str()).c_str());

  RecordStatus("Progress", "");
  RecordStatus("Downloaded", "");
  RecordStatus("Attempted to run downloaded file", "");

  const bool downloaded = dialog.DoModal() == IDOK;
  CurrentRun().downloadEndMs = RunMilliseconds();
  // Every other way the dialog ends has noted itself.
  if (!downloaded) NoteRunEnd(CurrentRun(), RunOutcome::kCancelled);
  if (downloaded && LaunchDownloadedPackage(dialog.TakePackage(), m_config, m_workFolder.Path())) {
    m_workFolder.MarkStarted();
  }
  m_trayIcon.DeleteTrayIcon();
}
