// The modal dialog base: a dialog from a template, run by a modal loop of its own, with message
// dispatch to virtual members and control binding in DoDataExchange.
#pragma once

#include <windows.h>

#include "framework/window.h"

class CDialog : public CWnd {
public:
  explicit CDialog(UINT templateId, HWND parent = nullptr);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the dialog, runs its modal loop until EndDialog, destroys it and returns the result
  // given to EndDialog (-1 when the dialog cannot be created). The dialog is shown when the loop
  // first goes idle, unless ShowOnIdle() says no or it is already visible. A WM_QUIT that arrives
  // meanwhile is handled as a cancel and posted again once the loop has ended.
  INT_PTR DoModal();
  // Ends the modal loop with `result` once the current message has been handled.
  void EndDialog(INT_PTR result);

protected:
  // Binds the controls (see DDX_Control); called by the base OnInitDialog.
  virtual void DoDataExchange() {}
  // TRUE lets the system set the focus to the first control.
  virtual BOOL OnInitDialog();
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // The dialog's other messages. Return TRUE with `result` set when handled; FALSE passes the
  // message to the default dialog handling.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual bool ShowOnIdle() const { return true; }

  void DDX_Control(int controlId, CWnd& control) const { control.m_hWnd = GetDlgItem(m_hWnd, controlId); }

private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_nTemplateId;
  HWND m_hWndParent;
  INT_PTR m_nModalResult = -1;
  bool m_bEnded = false;
};
