// The notification-area icon shown while the package downloads, and the hidden window of the class
// "TrayIconClass" that receives the shell's callbacks for it. One instance per process.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "framework/handle.h"

class CTrayIcon {
public:
  // Makes this object the process's current instance (the one TrayWindowProc serves); the icon is
  // not yet in the notification area.
  CTrayIcon();
  // Takes the icon out of the notification area if it is there (once, no retry) and destroys the
  // hidden window. The current-instance pointer is left as it is.
  virtual ~CTrayIcon();

  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;

  // The callback message: `notification` is the low word of its lParam. 0 when the icon id is not
  // ours, there is no window to send commands to, or the menu resource (id = low word of the icon
  // id) or its first sub-menu is missing; 1 otherwise. A balloon time-out or click ends the
  // calling thread's message loop (WM_QUIT, exit code 1).
  virtual LRESULT HandleIconMessage(UINT iconId, UINT notification);
  // Called with the popup menu just before it is shown.
  virtual void PrepareMenu(HMENU hMenu);

  // Creates the hidden window on the calling thread (its message loops serve it) and adds the icon.
  // `hNotifyWnd` null: the hidden window receives the callbacks. Texts are cut to the record's
  // fields (tooltip 127 bytes, balloon text 255, title 63); the balloon arguments count only on
  // systems with icon states (NT 5 and later) and when `pszBalloonText` is given. FALSE on a system
  // below major version 4 (nothing created) or when the shell refuses the add; TRUE when the add
  // succeeds or, hidden on a system without states, nothing had to be sent.
  BOOL CreateTrayIcon(HINSTANCE hInstance, HWND hNotifyWnd, UINT uCallbackMessage, const char* pszTooltip, HICON hIcon,
                      UINT uID, BOOL bHidden, const char* pszBalloonText, const char* pszBalloonTitle,
                      DWORD dwBalloonFlags, UINT uBalloonTimeoutSeconds);
  // Sets the tooltip (cut to 127 bytes); callable from any thread. Not shown: the text is kept for
  // a later add and TRUE is returned; shown: the shell's result. FALSE before a successful create.
  BOOL ChangeTooltip(const char* pszText);
  // The same for a translated text (cut to 127 characters): from then on every send goes through
  // the wide record with this tooltip, so that it shows whatever the ANSI code page.
  BOOL ChangeTooltip(const wchar_t* pszText);
  // Takes the icon out of the notification area and cancels any restore. TRUE when the icon is out
  // (also when it never was in); FALSE when the shell refused the delete.
  BOOL DeleteTrayIcon();

  // The icon resource of the module given to CreateTrayIcon that the icon shows. When the scale of
  // the display under the hidden window changes (WM_DPICHANGED, sent to per-monitor aware windows),
  // the icon is loaded again at that scale's small-icon size and handed to the shell. 0, the
  // default: the icon stays as CreateTrayIcon got it.
  void SetIconResource(UINT iconId) { m_nIconId = iconId; }

  // Registers the shell's "TaskbarCreated" message once per process and returns its id (0 if the
  // registration failed). Safe during static initialisation.
  static UINT RegisterTaskbarCreatedMessage();
  static LRESULT CALLBACK TrayWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
  // The shell re-created the taskbar or the work area changed: adds the icon again, with the latest
  // tooltip, when a restore is pending and the icon is meant to be shown.
  void RestoreTrayIcon();
  // The display under the hidden window now has `dpi` dots per inch: shows the icon resource at its
  // small-icon size. Nothing changes without an icon resource, where the system cannot give the
  // metrics of another scale (before Windows 10 1607), or when the image cannot be loaded.
  void OnDpiChanged(UINT dpi);
  // The one place the record reaches the shell. `pRecord` is a private copy of the record.
  virtual BOOL SendToShell(DWORD dwMessage, NOTIFYICONDATAA* pRecord);

  // Sent with cbSize 488: the Windows 2000 layout, balloon fields included, without the later GUID
  // and balloon-icon fields.
  static constexpr DWORD kNotifyRecordSize = 488;

  NOTIFYICONDATAA m_nid = {};
  HINSTANCE m_hInstance = nullptr;  // owns the window class and the menu resources
  UniqueWindow m_wndHidden;         // null until CreateTrayIcon
  HWND m_hTargetWnd = nullptr;      // receives the menu's commands
  BOOL m_bUsable = FALSE;           // the system can show notification icons
  BOOL m_bNotShown = TRUE;          // tooltip changes stay in the record
  BOOL m_bNotInTray = TRUE;
  BOOL m_bRestorePending = FALSE;
  BOOL m_bStatesSupported = FALSE;  // NT 5 or later: balloons and icon states
  UINT m_nDefaultMenuItem = 0;
  BOOL m_bDefaultItemByPosition = TRUE;
  UINT m_nSavedFlags = 0;    // the add's flags, used again by RestoreTrayIcon
  UINT m_nIconId = 0;        // icon resource reloaded on a scale change; 0: none
  UniqueIcon m_hScaledIcon;  // the icon of the latest scale change (in the record); null before
  std::wstring wideTip_;     // the translated tooltip, under m_csRecord; "" while the ANSI one serves

private:
  // ChangeTooltip runs on the download worker while RestoreTrayIcon runs on the main thread; both
  // write the record's flags and read or write its tooltip and the shown flags. Held only while the
  // record is read or written, never across a call out of this object.
  CRITICAL_SECTION m_csRecord;
};
