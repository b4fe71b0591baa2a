#include "framework/app.h"

#include <commctrl.h>
#include <stdlib.h>
#include <winsock2.h>

#include "framework/module_name.h"
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
  RestrictDllSearch();
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->m_hInstance = instance;
  if (app->m_strAppName.empty()) {
    char path[MAX_PATH * 4] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    app->m_strAppName = AppNameFromModulePath(std::string(path, length < sizeof path ? length : 0));
  }
  app->InitInstance();
  return 0;
}
