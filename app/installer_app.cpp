#include "app/installer_app.h"

#include <shellapi.h>
#include <stdlib.h>

#include "app/admin_message.h"
#include "app/config_source.h"
#include "app/flag_command_line_info.h"
#include "app/launch.h"
#include "download/http_download_dlg.h"
#include "framework/handle.h"
#include "framework/resources.h"
#include "probes/logged_on_user.h"
#include "probes/version_class.h"
#include "probes/version_probes.h"
#include "records/records.h"
#include "res/resource.h"
#include "util/text.h"

namespace {
const char kLogBanner[] = "***************************Lodestep***************************";
constexpr DWORD kLogSizeLimit = 100000;
constexpr UINT WM_TRAY_NOTIFY = WM_APP + 10;
constexpr UINT kBalloonTimeoutSeconds = 10;
}  // namespace

CInstallerApp::CInstallerApp() = default;

int CInstallerApp::ReadRuntimeConfig() {
  ConfigReadInputs inputs;
  inputs.qaMode = m_nQaMode != 0;
  inputs.qaValue = m_strQaValue;
  inputs.modulePath = m_szModulePath;
  inputs.moduleDirectory = m_szModuleDirectory;
  return ::ReadRuntimeConfig(inputs, m_config);
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
  const std::string parameters = m_strAcValue.empty() ? std::string() : "/ac " + m_strAcValue;
  ShellExecuteA(nullptr, "open", m_config.location.c_str(), parameters.c_str(), nullptr, SW_SHOW);
  RecordStatus("Attempted to run local file", "true");
}

BOOL CInstallerApp::InitInstance() {
  if (GetWindowsVersionClass() < kOldestSupportedClass) {
    LogEvent(LoadResString(IDS_OS_UNSUPPORTED), LOG_ERROR);
    return FALSE;
  }

  if (!AfxSocketInit()) {
    AfxMessageBox("Windows Sockets could not be initialized.", MB_OK);
    return FALSE;
  }
  AfxEnableControlContainer();

  m_szModuleDirectory[0] = '\0';
  if (GetModuleFileNameA(m_hInstance, m_szModulePath, sizeof m_szModulePath) == 0) return FALSE;
  m_szModulePath[sizeof m_szModulePath - 1] = '\0';
  lstrcpynA(m_szModuleDirectory, m_szModulePath, sizeof m_szModuleDirectory);
  if (char* lastBackslash = strrchr(m_szModuleDirectory, '\\')) *lastBackslash = '\0';

  {
    CFlagCommandLineInfo commandLine;
    ParseCommandLine(commandLine);
    const CommandLineResults results = ReadCommandLineResults(commandLine);
    m_nQaMode = results.qaMode;
    m_strQaValue = results.qa;
    m_strAcValue = results.ac;
  }

  char threadId[16] = {};
  _ltoa(static_cast<long>(m_nThreadID), threadId, 10);
  m_strThreadId = threadId;
  SetLogThreadIdText(m_strThreadId);

  WriteLogBannerAndTrim();

  const int sourceKind = ReadRuntimeConfig();

  if (!CLoggedOnUserHelper::IsLoggedOnUserAdmin()) {
    ShowAdminRequiredMessage(m_config.caption.c_str(), kAdminRequiredMessage, IDI_ADMIN, 0);
    return FALSE;
  }

  ClearStatusSection();

  if (sourceKind == kSourceLocal) {
    StartLocalPackage();
  } else if (sourceKind != kSourceNone) {
    DownloadAndLaunch(sourceKind);
  }
  return FALSE;
}

void CInstallerApp::DownloadAndLaunch(int sourceKind) {
  char tempDir[260] = {};
  GetTempPathA(sizeof tempDir, tempDir);

  CHttpDownloadDlg dialog;
  dialog.m_nSourceKind = sourceKind;
  dialog.m_strSourceUrl = m_config.location;
  dialog.m_strDisplayName = m_config.caption;
  dialog.m_nShowUI = m_config.showUI;
  dialog.m_strQaVersion = m_config.qaVersion;
  dialog.m_pTrayIcon = &m_trayIcon;

  std::string targetPath;
  JoinPath(targetPath, tempDir, {("~" + m_strAppName + ".exe").c_str()});
  DeleteFileA(targetPath.c_str());
  dialog.m_strTargetPath = targetPath;

  m_hSmallIcon = static_cast<HICON>(LoadImageA(m_hInstance, MAKEINTRESOURCEA(IDI_TRAY), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  const std::string tooltip = m_config.companyNameShort + " downloading - please wait...";
  m_trayIcon.CreateTrayIcon(m_hInstance, nullptr, WM_TRAY_NOTIFY, tooltip.c_str(), m_hSmallIcon, 0, FALSE, nullptr,
                            nullptr, 0, kBalloonTimeoutSeconds);

  RecordStatus("Progress", "");
  RecordStatus("Downloaded", "");
  RecordStatus("Attempted to run downloaded file", "");

  if (dialog.DoModal() == IDOK) LaunchDownloadedPackage(targetPath, m_config);
  m_trayIcon.DeleteTrayIcon();
}
