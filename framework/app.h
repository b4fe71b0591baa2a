// The application object and its entry point. The program defines exactly one static object of a
// class derived from CWinApp; the entry point turns RedirectionGuard on where the system has it,
// restricts the DLL search to the system directory, calls its InitInstance once, and the process
// ends when that returns (there is no message loop).
#pragma once

#include <windows.h>

#include <string>

#include "framework/command_line.h"

class CWinApp {
public:
  // `appName` null: the application name is the executable's file name without directory and
  // extension (set by the entry point, once the module is known).
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The whole run. The result tells whether a message loop should follow; this framework has none.
  virtual BOOL InitInstance() { return FALSE; }

  // A delay-loaded system DLL (`function` null) or one of its functions is missing, on whichever
  // thread needed it; `error` is ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND. The process ends with
  // that exit code when this returns.
  virtual void OnDelayLoadFailure(const char* /*dll*/, const char* /*function*/, DWORD /*error*/) {}

  // Feeds the program's arguments, as the runtime split them, to `info` (see FeedCommandLine).
  void ParseCommandLine(CCommandLineInfo& info);

  HINSTANCE m_hInstance = nullptr;
  std::string m_strAppName;
  DWORD m_nThreadID = 0;  // the main thread: the one that constructed the object
};

// The one application object, or null before it has been constructed.
CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
const char* AfxGetAppName();

// The executable's full path. FALSE, with `path` empty, when the system gives none or the path
// fills the whole buffer of 5120 characters (it may have been cut short).
BOOL ReadModulePath(std::string& path);

// Registers the dialog's control classes (animation, progress bar). The product embeds no
// ActiveX controls, so this is all that enabling the control container needs to do here.
void AfxEnableControlContainer();
// Starts Windows Sockets 1.1 for the process; FALSE when the system refuses.
BOOL AfxSocketInit();
