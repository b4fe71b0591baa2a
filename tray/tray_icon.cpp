#include "tray/tray_icon.h"

#include <cstddef>
#include <iterator>
#include <utility>

#include "tray/tip_text.h"

// Choices where the behaviour was ours to make:
// - CreateTrayIcon leaves a restore pending exactly when its add succeeded, so an icon that was
//   shown comes back, with its latest tooltip, when Explorer restarts during the download.
// - ChangeTooltip (download worker) and RestoreTrayIcon (main thread, from the hidden window)
//   both write the record's flags, and the restore reads the tooltip the worker may be writing.
//   Every access to the record and the shown flags holds m_csRecord, and each sender hands the
//   shell its own copy of the record taken under the lock, so one thread's flags never go out with
//   the other's message and no tooltip is sent half-written. The lock is never held across
//   Shell_NotifyIconA, which waits on another process, so it cannot deadlock against the hidden
//   window's messages.

static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "record layout of Windows 2000");
static_assert(offsetof(NOTIFYICONDATAA, szTip) == 24 && sizeof(NOTIFYICONDATAA::szTip) == 128, "tooltip field");
static_assert(offsetof(NOTIFYICONDATAA, szInfo) == 160 && sizeof(NOTIFYICONDATAA::szInfo) == 256, "balloon text field");
static_assert(offsetof(NOTIFYICONDATAA, szInfoTitle) == 420 && sizeof(NOTIFYICONDATAA::szInfoTitle) == 64,
              "balloon title field");
static_assert(offsetof(NOTIFYICONDATAA, dwInfoFlags) == 484, "balloon flags field");
static_assert(sizeof(OSVERSIONINFOA) == 148, "version record");

namespace {

const char kWindowClassName[] = "TrayIconClass";

// The process-wide values: the object TrayWindowProc serves (the one constructed last) and the
// shell's "TaskbarCreated" message. Both are constant-initialised, so they are usable during the
// static initialisation of any translation unit.
CTrayIcon* g_pCurrentTrayIcon = nullptr;
UINT g_nTaskbarCreatedMessage = 0;

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

class RecordLock {
public:
  explicit RecordLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~RecordLock() { LeaveCriticalSection(&section_); }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

private:
  CRITICAL_SECTION& section_;
};

// At most 127 characters and the NUL, never half a surrogate pair.
std::wstring CutWideTip(const wchar_t* text) {
  std::wstring tip = text != nullptr ? text : L"";
  constexpr size_t kTipCharacters = sizeof(NOTIFYICONDATAW::szTip) / sizeof(wchar_t) - 1;
  if (tip.size() > kTipCharacters) {
    const bool splitsPair = tip[kTipCharacters - 1] >= 0xD800 && tip[kTipCharacters - 1] <= 0xDBFF;
    tip.resize(splitsPair ? kTipCharacters - 1 : kTipCharacters);
  }
  return tip;
}

void Widen(const char* text, wchar_t* out, int size) {
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, size) == 0) out[0] = L'\0';
  out[size - 1] = L'\0';
}

// The ANSI record in the wide layout of the same version, with `tip` as its tooltip.
NOTIFYICONDATAW WideRecord(const NOTIFYICONDATAA& from, const std::wstring& tip) {
  NOTIFYICONDATAW to = {};
  to.cbSize = NOTIFYICONDATAW_V2_SIZE;
  to.hWnd = from.hWnd;
  to.uID = from.uID;
  to.uFlags = from.uFlags;
  to.uCallbackMessage = from.uCallbackMessage;
  to.hIcon = from.hIcon;
  lstrcpynW(to.szTip, tip.c_str(), static_cast<int>(std::size(to.szTip)));
  to.dwState = from.dwState;
  to.dwStateMask = from.dwStateMask;
  Widen(from.szInfo, to.szInfo, static_cast<int>(std::size(to.szInfo)));
  to.uTimeout = from.uTimeout;
  Widen(from.szInfoTitle, to.szInfoTitle, static_cast<int>(std::size(to.szInfoTitle)));
  to.dwInfoFlags = from.dwInfoFlags;
  return to;
}

}  // namespace

UINT CTrayIcon::RegisterTaskbarCreatedMessage() {
  if (g_nTaskbarCreatedMessage == 0) {
    g_nTaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
  }
  return g_nTaskbarCreatedMessage;
}

CTrayIcon::CTrayIcon() {
  g_pCurrentTrayIcon = this;
  // Normally done before any object exists; repeated here so that no instance ever compares
  // messages against an unregistered (zero) id.
  RegisterTaskbarCreatedMessage();
  InitializeCriticalSection(&m_csRecord);
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  m_bStatesSupported = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5;
}

CTrayIcon::~CTrayIcon() {
  DeleteTrayIcon();
  m_wndHidden.reset();
  DeleteCriticalSection(&m_csRecord);
}

BOOL CTrayIcon::CreateTrayIcon(HINSTANCE hInstance, HWND hNotifyWnd, UINT uCallbackMessage, const char* pszTooltip,
                               HICON hIcon, UINT uID, BOOL bHidden, const char* pszBalloonText,
                               const char* pszBalloonTitle, DWORD dwBalloonFlags, UINT uBalloonTimeoutSeconds) {
  m_bUsable = LOBYTE(LOWORD(GetVersion())) >= 4;
  if (!m_bUsable) return FALSE;
  m_hInstance = hInstance;

  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = TrayWindowProc;
  windowClass.hInstance = hInstance;
  windowClass.lpszClassName = kWindowClassName;
  RegisterClassExA(&windowClass);  // fails harmlessly when an earlier call registered it
  // Messages sent while the window is being created find no stored handle yet and go to
  // DefWindowProcA.
  m_wndHidden.reset(CreateWindowExA(0, kWindowClassName, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr));

  const BOOL bAddToShell = !bHidden || m_bStatesSupported;
  NOTIFYICONDATAA record;
  {
    RecordLock lock(m_csRecord);
    m_nid.cbSize = kNotifyRecordSize;
    m_nid.hWnd = hNotifyWnd != nullptr ? hNotifyWnd : m_wndHidden.get();
    m_nid.uID = uID;
    m_nid.hIcon = hIcon;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = uCallbackMessage;
    CopyTextCut(m_nid.szTip, sizeof m_nid.szTip, pszTooltip, IsAnsiLeadByte);
    const bool bBalloon = m_bStatesSupported && pszBalloonText != nullptr;
    if (bBalloon) {
      m_nid.uFlags |= NIF_INFO;
      CopyTextCut(m_nid.szInfo, sizeof m_nid.szInfo, pszBalloonText, IsAnsiLeadByte);
      CopyTextCut(m_nid.szInfoTitle, sizeof m_nid.szInfoTitle, pszBalloonTitle, IsAnsiLeadByte);
      m_nid.uTimeout = uBalloonTimeoutSeconds * 1000;
      m_nid.dwInfoFlags = dwBalloonFlags;
    }
    m_hTargetWnd = m_nid.hWnd;
    m_bNotShown = bHidden;
    if (bHidden && m_bStatesSupported) {
      m_nid.uFlags = NIF_STATE;
      m_nid.dwState = NIS_HIDDEN;
      m_nid.dwStateMask = NIS_HIDDEN;
    }
    m_nSavedFlags = m_nid.uFlags;
    record = m_nid;
    // The balloon goes out with this add only, not again with later sends of the record.
    if (bBalloon) m_nid.szInfo[0] = '\0';
  }

  BOOL bAdded = FALSE;
  if (bAddToShell) bAdded = SendToShell(NIM_ADD, &record);
  RecordLock lock(m_csRecord);
  if (bAddToShell) m_bNotInTray = m_bNotShown = !bAdded;
  m_bRestorePending = bAdded;
  return bAddToShell ? bAdded : TRUE;
}

BOOL CTrayIcon::ChangeTooltip(const char* pszText) {
  NOTIFYICONDATAA record;
  {
    RecordLock lock(m_csRecord);
    if (!m_bUsable) return FALSE;
    m_nid.uFlags = NIF_TIP;
    CopyTextCut(m_nid.szTip, sizeof m_nid.szTip, pszText, IsAnsiLeadByte);
    if (m_bNotShown) return TRUE;
    record = m_nid;
  }
  return SendToShell(NIM_MODIFY, &record);
}

BOOL CTrayIcon::ChangeTooltip(const wchar_t* pszText) {
  NOTIFYICONDATAA record;
  {
    RecordLock lock(m_csRecord);
    if (!m_bUsable) return FALSE;
    m_nid.uFlags = NIF_TIP;
    wideTip_ = CutWideTip(pszText);
    if (m_bNotShown) return TRUE;
    record = m_nid;
  }
  return SendToShell(NIM_MODIFY, &record);
}

BOOL CTrayIcon::DeleteTrayIcon() {
  NOTIFYICONDATAA record;
  {
    RecordLock lock(m_csRecord);
    m_bRestorePending = FALSE;
    if (!m_bUsable || m_bNotInTray) return TRUE;
    m_nid.uFlags = 0;
    record = m_nid;
  }
  if (!SendToShell(NIM_DELETE, &record)) return FALSE;
  RecordLock lock(m_csRecord);
  m_bNotShown = TRUE;
  m_bNotInTray = TRUE;
  return TRUE;
}

void CTrayIcon::RestoreTrayIcon() {
  NOTIFYICONDATAA record;
  {
    RecordLock lock(m_csRecord);
    if (!m_bRestorePending || m_bNotShown) return;
    m_nid.uFlags = m_nSavedFlags;
    record = m_nid;
  }
  // After a work-area change the icon is usually still there and the shell refuses a second add;
  // then the icon is shown all the same, and a modify brings it up to date.
  const BOOL bShown = SendToShell(NIM_ADD, &record) || SendToShell(NIM_MODIFY, &record);
  RecordLock lock(m_csRecord);
  m_bNotShown = !bShown;
  m_bRestorePending = bShown;
}

void CTrayIcon::OnDpiChanged(UINT dpi) {
  // Windows 10 1607 and later; looked up so that the program still starts on Windows 2000.
  using MetricForDpi = int(WINAPI*)(int, UINT);
  const auto metricForDpi = reinterpret_cast<MetricForDpi>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetSystemMetricsForDpi")));
  if (m_nIconId == 0 || metricForDpi == nullptr) return;
  UniqueIcon icon(static_cast<HICON>(LoadImageA(m_hInstance, MAKEINTRESOURCEA(m_nIconId), IMAGE_ICON,
                                                metricForDpi(SM_CXSMICON, dpi), metricForDpi(SM_CYSMICON, dpi), 0)));
  if (!icon) return;
  NOTIFYICONDATAA record;
  bool shown;
  {
    RecordLock lock(m_csRecord);
    m_nid.hIcon = icon.get();
    m_nid.uFlags = NIF_ICON;
    record = m_nid;
    shown = !m_bNotShown;
  }
  // Not shown: the new icon waits in the record for a restore.
  if (shown) SendToShell(NIM_MODIFY, &record);
  m_hScaledIcon = std::move(icon);  // the one before it is no longer in the record
}

BOOL CTrayIcon::SendToShell(DWORD dwMessage, NOTIFYICONDATAA* pRecord) {
  std::wstring tip;
  {
    RecordLock lock(m_csRecord);
    tip = wideTip_;
  }
  if (tip.empty()) return Shell_NotifyIconA(dwMessage, pRecord);
  NOTIFYICONDATAW record = WideRecord(*pRecord, tip);
  return Shell_NotifyIconW(dwMessage, &record);
}

void CTrayIcon::PrepareMenu(HMENU) {}

LRESULT CTrayIcon::HandleIconMessage(UINT iconId, UINT notification) {
  if (iconId != m_nid.uID) return 0;
  const HWND hTarget = m_hTargetWnd != nullptr ? m_hTargetWnd : m_nid.hWnd;
  if (hTarget == nullptr) return 0;
  const LPCSTR menuName = MAKEINTRESOURCEA(LOWORD(m_nid.uID));

  switch (notification) {
    case WM_RBUTTONUP: {
      UniqueMenu menu(LoadMenuA(m_hInstance, menuName));
      if (!menu) return 0;
      const HMENU hPopup = GetSubMenu(menu.get(), 0);
      if (hPopup == nullptr) return 0;
      SetMenuDefaultItem(hPopup, m_nDefaultMenuItem, m_bDefaultItemByPosition);
      PrepareMenu(hPopup);
      POINT cursor = {};
      GetCursorPos(&cursor);
      // Without the foreground the menu would not close when the user clicks elsewhere, and the
      // WM_NULL after it makes the next click on the icon open it again.
      SetForegroundWindow(m_nid.hWnd);
      TrackPopupMenu(hPopup, 0, cursor.x, cursor.y, 0, hTarget, nullptr);
      PostMessageA(m_nid.hWnd, WM_NULL, 0, 0);
      return 1;
    }
    case WM_LBUTTONDBLCLK: {
      SetForegroundWindow(m_nid.hWnd);
      UINT command = m_nDefaultMenuItem;
      if (m_bDefaultItemByPosition) {
        UniqueMenu menu(LoadMenuA(m_hInstance, menuName));
        if (!menu) return 0;
        const HMENU hPopup = GetSubMenu(menu.get(), 0);
        if (hPopup == nullptr) return 0;
        command = GetMenuItemID(hPopup, static_cast<int>(m_nDefaultMenuItem));
      }
      PostMessageA(hTarget, WM_COMMAND, command, 0);
      return 1;
    }
    case NIN_BALLOONTIMEOUT:
    case NIN_BALLOONUSERCLICK:
      PostQuitMessage(1);
      return 1;
    default:
      return 1;
  }
}

LRESULT CALLBACK CTrayIcon::TrayWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CTrayIcon* const pIcon = g_pCurrentTrayIcon;
  if (pIcon == nullptr || hWnd != pIcon->m_wndHidden.get()) {
    return DefWindowProcA(hWnd, message, wParam, lParam);
  }
  if (g_nTaskbarCreatedMessage != 0 && message == g_nTaskbarCreatedMessage) {
    pIcon->RestoreTrayIcon();
    return 0;
  }
  if (message == WM_SETTINGCHANGE) {
    if (wParam == SPI_SETWORKAREA) pIcon->RestoreTrayIcon();
    return 0;
  }
  if (message == WM_DPICHANGED) {
    pIcon->OnDpiChanged(LOWORD(wParam));  // the X and Y values are equal
    return 0;
  }
  if (message == pIcon->m_nid.uCallbackMessage) {
    return pIcon->HandleIconMessage(static_cast<UINT>(wParam), LOWORD(lParam));
  }
  return DefWindowProcA(hWnd, message, wParam, lParam);
}
