// The installer's application object: the whole run happens in InitInstance.
#pragma once

#include <windows.h>

#include <string>

#include "app/runtime_config.h"
#include "app/work_folder.h"
#include "framework/app.h"
#include "tray/tray_icon.h"

class CInstallerApp : public CWinApp {
public:
  CInstallerApp();

  // The one pass of the installer: version gate, start-up, configuration, administrator check,
  // then the local start or the download and launch. Always FALSE: no message loop follows.
  BOOL InitInstance() override;

  // One ERROR entry, and the run's traces taken away (tray icon, working folder), before the
  // process ends.
  void OnDelayLoadFailure(const char* dll, const char* function, DWORD error) override;

  // Makes the run's working folder, extracts and reads the embedded configuration there into
  // m_config; the SourceKind.
  int ReadRuntimeConfig();

  int m_nQaMode = 0;
  RuntimeConfig m_config;
  UniqueIcon m_hSmallIcon;           // icon 149 at small-icon size; outlives m_trayIcon, which shows it
  std::string m_strModulePath;       // the executable's full path
  std::string m_strModuleDirectory;  // that path cut before its last backslash
  std::string m_strThreadId;
  CTrayIcon m_trayIcon;
  std::string m_strQaValue;
  std::string m_strAcValue;
  // The run's folder: made with the configuration, ended (deleted, or marked for deletion at the
  // next restart after a start) when InitInstance returns.
  WorkFolder m_workFolder;

private:
  void Run();
  // Before the working folder is made: true when the run goes on in this process. A run that is not
  // elevated on a system with user account control starts the installer again elevated and ends,
  // or, when that is declined or fails or was already done, ends through the administrator-required
  // message.
  bool SettleElevation(bool relaunched);
  // The installer itself with "runas" and RelaunchParameters of this run's arguments, without the
  // compatibility layer and with kRelaunchVariable set. FALSE with the system's reason in `error`
  // when it was not started.
  bool StartElevatedAgain(DWORD& error);
  // `why` as an ERROR entry, then the administrator-required message (Caption read from the embedded
  // text in memory: nothing is extracted for it).
  void RefuseWithoutElevation(const std::string& why);
  void WriteLogBannerAndTrim();
  void StartLocalPackage();
  void DownloadAndLaunch(int sourceKind);
};
