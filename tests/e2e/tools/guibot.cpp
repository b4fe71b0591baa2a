// guibot: drives the windows of other programs under Wine for the end-to-end tests, through the
// window manager's own calls (enumerate, read and set texts, post commands) rather than synthetic
// input. Exit codes: 0 done, 1 window or control not found (or the target did not answer), 2 usage.
//
//   guibot list-windows [filters]              every matching top-level window, one line each
//   guibot wait-window [filters] [--timeout S] [--visible]   the first match, once it exists
//   guibot list-controls [filters] [--timeout S]             the child windows of the first match
//   guibot get-text [filters] [--control-id N] [--timeout S]
//   guibot set-text [filters] --control-id N --text T [--timeout S]
//   guibot click [filters] --control-id N [--method command|bm-click] [--timeout S]
//   guibot tray-tips [--timeout S]             points at each icon of the notification area and
//                                              prints the tooltip it shows, "tip=T" each (UTF-8)
//   guibot demo-box --title T [--text X]       a message box (OK, Cancel); prints "result=N"
//   guibot demo-dialog --title T               edits 1027, 1028, buttons OK 1, Cancel 2;
//                                              prints "result=N user=... password=..."
// Filters: --title T (exact), --title-contains T, --class C, --pid N (Windows process id),
// --exe NAME (image file name, case-insensitive); --utf8 reads texts wide (see g_utf8). A window line reads
//   hwnd=0x... pid=N exe=NAME visible=0|1 rect=L,T,R,B class=C title=T
// and a control line
//   id=N hwnd=0x... visible=0|1 enabled=0|1 class=C text=T
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/handle.h"

namespace {

const int kFound = 0;
const int kNotFound = 1;
const int kUsage = 2;
const UINT kAnswerTimeoutMs = 2000;
// --utf8: titles and texts are read through the wide calls and printed as UTF-8, so that a text
// outside the ANSI code page comes back as it is shown (title filters then compare UTF-8 too).
bool g_utf8 = false;

struct Options {
  std::string command;
  std::string title, titleContains, className, exe, text, method = "command";
  DWORD pid = 0;
  bool hasPid = false;
  int controlId = 0;
  bool hasControlId = false;
  bool hasText = false;
  bool visibleOnly = false;
  double timeoutSeconds = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc < 2) return false;
  options.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--visible") {
      options.visibleOnly = true;
      continue;
    }
    if (name == "--utf8") {
      g_utf8 = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--title")
      options.title = value;
    else if (name == "--title-contains")
      options.titleContains = value;
    else if (name == "--class")
      options.className = value;
    else if (name == "--exe")
      options.exe = value;
    else if (name == "--text") {
      options.text = value;
      options.hasText = true;
    } else if (name == "--method")
      options.method = value;
    else if (name == "--pid") {
      options.pid = strtoul(value, nullptr, 0);
      options.hasPid = true;
    } else if (name == "--control-id") {
      options.controlId = static_cast<int>(strtol(value, nullptr, 0));
      options.hasControlId = true;
    } else if (name == "--timeout")
      options.timeoutSeconds = atof(value);
    else
      return false;
  }
  return true;
}

// A wide text as UTF-8, for --utf8.
std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 1, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  return out.c_str();
}

std::string ClassOf(HWND wnd) {
  char buffer[256] = "";
  GetClassNameA(wnd, buffer, sizeof buffer);
  return buffer;
}

// A top-level window's title as the window manager keeps it: no message is sent, so a window
// whose thread is busy or still starting cannot hold the search up.
std::string TitleOf(HWND wnd) {
  if (g_utf8) {
    wchar_t wide[1024] = L"";
    GetWindowTextW(wnd, wide, 1024);
    return Utf8(wide);
  }
  char buffer[1024] = "";
  GetWindowTextA(wnd, buffer, sizeof buffer);
  return buffer;
}

// The text of a control of any process: WM_GETTEXT is marshalled across processes and reads an
// edit control's contents, which GetWindowTextA does not for a foreign window.
std::string TextOf(HWND wnd) {
  DWORD_PTR length = 0;
  if (g_utf8) {
    if (!SendMessageTimeoutW(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length)) return "";
    std::vector<wchar_t> wide(length + 1, L'\0');
    SendMessageTimeoutW(wnd, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG,
                        kAnswerTimeoutMs, &length);
    return Utf8(wide.data());
  }
  if (!SendMessageTimeoutA(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length)) {
    char buffer[1024] = "";
    GetWindowTextA(wnd, buffer, sizeof buffer);
    return buffer;
  }
  std::vector<char> buffer(length + 1, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                      kAnswerTimeoutMs, &copied);
  return std::string(buffer.data());
}

// One line of output must stay one line: line breaks in texts are shown as \r and \n.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string ExeOf(DWORD pid) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return "";
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == pid) return entry.szExeFile;
  }
  return "";
}

bool Matches(HWND wnd, const Options& options) {
  if (options.visibleOnly && !IsWindowVisible(wnd)) return false;
  if (!options.className.empty() && ClassOf(wnd) != options.className) return false;
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (options.hasPid && pid != options.pid) return false;
  if (!options.exe.empty() && lstrcmpiA(ExeOf(pid).c_str(), options.exe.c_str()) != 0) return false;
  if (!options.title.empty() || !options.titleContains.empty()) {
    std::string title = TitleOf(wnd);
    if (!options.title.empty() && title != options.title) return false;
    if (!options.titleContains.empty() && title.find(options.titleContains) == std::string::npos) return false;
  }
  return true;
}

struct Search {
  const Options* options;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND wnd, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  if (Matches(wnd, *search->options)) search->found.push_back(wnd);
  return TRUE;
}

std::vector<HWND> FindTopLevel(const Options& options) {
  Search search = {&options, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The first matching top-level window, polling until the timeout has passed; null if none.
HWND WaitForWindow(const Options& options) {
  DWORD start = GetTickCount();
  DWORD limit = static_cast<DWORD>(options.timeoutSeconds * 1000);
  for (;;) {
    std::vector<HWND> found = FindTopLevel(options);
    if (!found.empty()) return found.front();
    if (GetTickCount() - start >= limit) return nullptr;
    Sleep(50);
  }
}

void PrintWindow(HWND wnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  RECT rect = {};
  GetWindowRect(wnd, &rect);
  printf("hwnd=0x%08lx pid=%lu exe=%s visible=%d rect=%ld,%ld,%ld,%ld class=%s title=%s\n",
         static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(wnd)), pid, ExeOf(pid).c_str(),
         IsWindowVisible(wnd) ? 1 : 0, rect.left, rect.top, rect.right, rect.bottom, ClassOf(wnd).c_str(),
         OneLine(TitleOf(wnd)).c_str());
}

BOOL CALLBACK PrintControl(HWND wnd, LPARAM) {
  printf("id=%d hwnd=0x%08lx visible=%d enabled=%d class=%s text=%s\n", GetDlgCtrlID(wnd),
         static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(wnd)), IsWindowVisible(wnd) ? 1 : 0,
         IsWindowEnabled(wnd) ? 1 : 0, ClassOf(wnd).c_str(), OneLine(TextOf(wnd)).c_str());
  return TRUE;
}

int ListWindows(const Options& options) {
  for (HWND wnd : FindTopLevel(options)) PrintWindow(wnd);
  return kFound;
}

// Finds the window, and the control when one is named; reports what is missing on stderr.
bool FindTarget(const Options& options, HWND& window, HWND& control) {
  window = WaitForWindow(options);
  if (!window) {
    fprintf(stderr, "guibot: no such window\n");
    return false;
  }
  control = window;
  if (options.hasControlId) {
    control = GetDlgItem(window, options.controlId);
    if (!control) {
      fprintf(stderr, "guibot: window has no control %d\n", options.controlId);
      return false;
    }
  }
  return true;
}

int GetText(const Options& options) {
  HWND window, control;
  if (!FindTarget(options, window, control)) return kNotFound;
  printf("%s\n", options.hasControlId ? TextOf(control).c_str() : TitleOf(window).c_str());
  return kFound;
}

int SetText(const Options& options) {
  if (!options.hasControlId || !options.hasText) return kUsage;
  HWND window, control;
  if (!FindTarget(options, window, control)) return kNotFound;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(options.text.c_str()), SMTO_ABORTIFHUNG,
                           kAnswerTimeoutMs, &result) ||
      !result) {
    fprintf(stderr, "guibot: the control did not take the text\n");
    return kNotFound;
  }
  return kFound;
}

// Posted, not sent: a click that opens a modal loop in the target must not hold guibot.
int Click(const Options& options) {
  if (!options.hasControlId) return kUsage;
  HWND window, control;
  if (!FindTarget(options, window, control)) return kNotFound;
  BOOL posted = FALSE;
  if (options.method == "command") {
    posted =
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(options.controlId, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  } else if (options.method == "bm-click") {
    posted = PostMessageA(control, BM_CLICK, 0, 0);
  } else {
    return kUsage;
  }
  return posted ? kFound : kNotFound;
}

// The tooltip a user sees on pointing at each icon of the notification area. Under Wine each icon
// is a window of its own (of its display driver's class, or of the explorer's in later versions)
// with a tooltip control of its own: the pointer is put on the icon, and once the control shows,
// WM_GETTEXT (marshalled across processes) reads the text it shows. Waits up to the timeout for an
// icon and for each tooltip.
struct TrayIcons {
  std::vector<HWND> icons;
  HWND owner = nullptr;  // while a tooltip is looked for: the icon it belongs to
  HWND tip = nullptr;
};

BOOL CALLBACK CollectTrayIcon(HWND wnd, LPARAM param) {
  const std::string name = ClassOf(wnd);
  if (IsWindowVisible(wnd) && (name == "__winex11_tray_icon" || name == "__wine_tray_icon"))
    reinterpret_cast<TrayIcons*>(param)->icons.push_back(wnd);
  return TRUE;
}

// Icons stand on the tray's window, or alone where a tray of the host's desktop took them in.
BOOL CALLBACK CollectTrays(HWND wnd, LPARAM param) {
  CollectTrayIcon(wnd, param);
  EnumChildWindows(wnd, CollectTrayIcon, param);
  return TRUE;
}

BOOL CALLBACK FindShownTip(HWND wnd, LPARAM param) {
  TrayIcons* tray = reinterpret_cast<TrayIcons*>(param);
  // A popup given a child window for its owner is owned by that child's top-level window.
  const HWND owner = GetWindow(wnd, GW_OWNER);
  if (IsWindowVisible(wnd) && (owner == tray->owner || owner == GetAncestor(tray->owner, GA_ROOT)) &&
      ClassOf(wnd) == "tooltips_class32") {
    tray->tip = wnd;
    return FALSE;
  }
  return TRUE;
}

// The shown tooltip of `tray.owner`, or null.
HWND ShownTip(TrayIcons& tray) {
  tray.tip = nullptr;
  EnumWindows(FindShownTip, reinterpret_cast<LPARAM>(&tray));
  return tray.tip;
}

int TrayTips(const Options& options) {
  g_utf8 = true;
  const DWORD start = GetTickCount();
  const DWORD limit = static_cast<DWORD>(options.timeoutSeconds * 1000);
  TrayIcons tray;
  for (;;) {
    EnumWindows(CollectTrays, reinterpret_cast<LPARAM>(&tray));
    if (!tray.icons.empty()) break;
    if (GetTickCount() - start >= limit) {
      fprintf(stderr, "guibot: no icon in the notification area\n");
      return kNotFound;
    }
    Sleep(50);
  }
  const POINT away = {GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1};
  int shown = 0;
  for (HWND icon : tray.icons) {
    RECT rect = {};
    GetWindowRect(icon, &rect);
    const POINT middle = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    // Without a window manager the tray is an ordinary window that others may cover; a user would
    // bring it forward to point at the icon.
    const HWND trayWindow = GetAncestor(icon, GA_ROOT);
    if (WindowFromPoint(middle) != icon && trayWindow != icon)
      SetWindowPos(trayWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetCursorPos(middle.x, middle.y);
    tray.owner = icon;
    std::string text;
    for (;;) {
      if (ShownTip(tray)) text = TextOf(tray.tip);
      if (!text.empty() || GetTickCount() - start >= limit) break;
      Sleep(50);
    }
    // Away until the tooltip is gone: the icons of one tray share their tooltips' owner, and a
    // tooltip still shown would pass for the next icon's.
    SetCursorPos(away.x, away.y);
    const DWORD left = GetTickCount();
    while (ShownTip(tray) && GetTickCount() - left < 2000) Sleep(50);
    if (text.empty()) continue;
    printf("tip=%s\n", OneLine(text).c_str());
    ++shown;
  }
  if (shown == 0) fprintf(stderr, "guibot: no tooltip showed\n");
  return shown > 0 ? kFound : kNotFound;
}

int DemoBox(const Options& options) {
  if (options.title.empty()) return kUsage;
  int result = MessageBoxA(nullptr, options.hasText ? options.text.c_str() : "guibot demo", options.title.c_str(),
                           MB_OKCANCEL | MB_ICONEXCLAMATION);
  printf("result=%d\n", result);
  return kFound;
}

// A window with the credentials dialog's control ids, for proving set-text and click.
struct DemoDialog {
  int result = 0;
  std::string user, password;
};

LRESULT CALLBACK DemoProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(wnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  }
  DemoDialog* demo = reinterpret_cast<DemoDialog*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (demo && message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    demo->result = LOWORD(wParam);
    demo->user = TextOf(GetDlgItem(wnd, 1027));
    demo->password = TextOf(GetDlgItem(wnd, 1028));
    DestroyWindow(wnd);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(wnd, message, wParam, lParam);
}

int RunDemoDialog(const Options& options) {
  if (options.title.empty()) return kUsage;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DemoProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "GuibotDemo";
  if (!RegisterClassA(&windowClass)) return kNotFound;
  DemoDialog demo;
  HWND wnd = CreateWindowExA(0, "GuibotDemo", options.title.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 100, 100,
                             320, 180, nullptr, nullptr, instance, &demo);
  if (!wnd) return kNotFound;
  struct Child {
    const char* cls;
    const char* text;
    int id;
    DWORD style;
    int x, y, w, h;
  };
  const Child children[] = {
      {"EDIT", "", 1027, WS_BORDER | ES_AUTOHSCROLL, 10, 10, 280, 22},
      {"EDIT", "", 1028, WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD, 10, 40, 280, 22},
      {"BUTTON", "OK", IDOK, BS_DEFPUSHBUTTON, 110, 80, 80, 26},
      {"BUTTON", "Cancel", IDCANCEL, BS_PUSHBUTTON, 200, 80, 80, 26},
  };
  for (const Child& child : children) {
    CreateWindowExA(0, child.cls, child.text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | child.style, child.x, child.y,
                    child.w, child.h, wnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.id)), instance, nullptr);
  }
  ShowWindow(wnd, SW_SHOW);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  printf("result=%d user=%s password=%s\n", demo.result, demo.user.c_str(), demo.password.c_str());
  return kFound;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    fprintf(stderr,
            "usage: guibot list-windows|wait-window|list-controls|get-text|set-text|click|tray-tips|"
            "demo-box|demo-dialog [options]\n");
    return kUsage;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string& command = options.command;
  int result = kUsage;
  if (command == "list-windows") {
    result = ListWindows(options);
  } else if (command == "wait-window") {
    HWND wnd = WaitForWindow(options);
    if (wnd) PrintWindow(wnd);
    result = wnd ? kFound : kNotFound;
  } else if (command == "list-controls") {
    HWND wnd = WaitForWindow(options);
    if (wnd) EnumChildWindows(wnd, PrintControl, 0);
    result = wnd ? kFound : kNotFound;
  } else if (command == "get-text") {
    result = GetText(options);
  } else if (command == "set-text") {
    result = SetText(options);
  } else if (command == "click") {
    result = Click(options);
  } else if (command == "tray-tips") {
    result = TrayTips(options);
  } else if (command == "demo-box") {
    result = DemoBox(options);
  } else if (command == "demo-dialog") {
    result = RunDemoDialog(options);
  }
  if (result == kUsage) fprintf(stderr, "guibot: bad arguments for %s\n", command.c_str());
  return result;
}
