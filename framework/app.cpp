#include "framework/app.h"

#include <commctrl.h>
#include <stdlib.h>
#include <winsock2.h>

#include "framework/module_name.h"
#include "framework/redirection_guard.h"
#include "framework/system_library.h"

namespace {
CWinApp* theApplication = nullptr;
}

CWinApp::CWinApp(const char* appName) : m_nThreadID(GetCurrentThreadId()) {
  if (appName != nullptr) m_strAppName = appName;
  theApplication = this;
}

CWinApp::~CWinApp() {
  if (theApplication == this) theApplication = nullptr;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) { FeedCommandLine(__argc, __argv, info); }

CWinApp* AfxGetApp() { return theApplication; }

HINSTANCE AfxGetInstanceHandle() {
  return theApplication != nullptr && theApplication->m_hInstance != nullptr ? theApplication->m_hInstance
                                                                             : GetModuleHandleA(nullptr);
}

const char* AfxGetAppName() { return theApplication != nullptr ? theApplication->m_strAppName.c_str() : ""; }

BOOL ReadModulePath(std::string& path) {
  char buffer[5120] = {};
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) {
    path.clear();
    return FALSE;
  }
  path.assign(buffer, length);
  return TRUE;
}

void AfxEnableControlContainer() {
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
}

BOOL AfxSocketInit() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return FALSE;
  atexit([] { WSACleanup(); });
  return TRUE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  EnableRedirectionGuard();
  RestrictDllSearch();
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->m_hInstance = instance;
  if (app->m_strAppName.empty()) {
    std::string path;
    ReadModulePath(path);  // none: the name stays empty
    app->m_strAppName = AppNameFromModulePath(path);
  }
  app->InitInstance();
  return 0;
}
