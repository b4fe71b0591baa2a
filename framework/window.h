// Thin wrappers over window handles: the controls a dialog binds, and the dialog base itself.
#pragma once

#include <windows.h>

// A window this object does not own: the dialog's controls belong to the dialog.
class CWnd {
public:
  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  void SetWindowText(const char* text) const { ::SetWindowTextA(m_hWnd, text); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
  }
  void EnableWindow(BOOL enable) const { ::EnableWindow(m_hWnd, enable); }
};

class CStatic : public CWnd {};
class CProgressCtrl : public CWnd {};
class CAnimateCtrl : public CWnd {};
