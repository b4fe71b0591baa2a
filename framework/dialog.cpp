#include "framework/dialog.h"

#include "framework/app.h"
#include "framework/handle.h"
#include "framework/ui_text.h"

CDialog::CDialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hWndParent(parent) {}

BOOL CDialog::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

BOOL CDialog::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT&) { return FALSE; }

void CDialog::EndDialog(INT_PTR result) {
  m_nModalResult = result;
  m_bEnded = true;
  if (m_hWnd != nullptr) ::PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wake the loop
}

INT_PTR CDialog::DoModal() {
  m_bEnded = false;
  m_nModalResult = -1;
  // A translation needs wide windows: an ANSI dialog and its controls would take every wide text
  // through the ANSI code page.
  UniqueWindow window(UiTranslated() ? CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nTemplateId),
                                                          m_hWndParent, DialogProc, reinterpret_cast<LPARAM>(this))
                                     : CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nTemplateId),
                                                          m_hWndParent, DialogProc, reinterpret_cast<LPARAM>(this)));
  if (!window) return -1;
  const HWND wnd = window.get();
  const bool parentWasEnabled = m_hWndParent != nullptr && !::EnableWindow(m_hWndParent, FALSE);

  bool showPending = ShowOnIdle();
  bool quitSeen = false;
  WPARAM quitCode = 0;
  MSG msg;
  while (!m_bEnded) {
    if (showPending && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      showPending = false;
      if (!IsWindowVisible(wnd)) ShowWindow(wnd, SW_SHOWNORMAL);
    }
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
      if (!quitSeen) {
        quitSeen = true;
        quitCode = msg.wParam;
        OnCancel();
      }
      continue;
    }
    if (!IsDialogMessageA(wnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  if (parentWasEnabled) ::EnableWindow(m_hWndParent, TRUE);
  window.reset();
  m_hWnd = nullptr;
  if (quitSeen) PostQuitMessage(static_cast<int>(quitCode));
  return m_nModalResult;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(wnd, DWLP_USER, lParam);
    dialog->m_hWnd = wnd;
    return dialog->OnInitDialog();
  }
  dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(wnd, DWLP_USER));
  if (dialog == nullptr) return FALSE;

  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        dialog->OnOK();
        return TRUE;
      case IDCANCEL:
        dialog->OnCancel();
        return TRUE;
    }
  }
  LRESULT result = 0;
  if (!dialog->OnWndMsg(message, wParam, lParam, result)) return FALSE;
  SetWindowLongPtrA(wnd, DWLP_MSGRESULT, result);
  return TRUE;
}
