#include "download/dialog_texts.h"

#include <iterator>

#include "framework/ui_text.h"
#include "res/resource.h"

namespace {
// The template's labels have no id of their own (-1 in the template, read back as 0xFFFF).
constexpr int kNoId = 0xFFFF;
}  // namespace

void ShowTranslatedLabels(HWND dialog) {
  if (!UiTranslated()) return;
  SetWindowTextW(dialog, LoadUiString(IDS_UI_CAPTION).c_str());
  SetDlgItemTextW(dialog, IDCANCEL, LoadUiString(IDS_UI_CANCEL).c_str());
  // In template order: the time-left label, then the rate label.
  const UINT labels[] = {IDS_UI_TIME_LEFT_LABEL, IDS_UI_RATE_LABEL};
  size_t next = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr && next < std::size(labels);
       child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetDlgCtrlID(child) & 0xFFFF) == kNoId) SetWindowTextW(child, LoadUiString(labels[next++]).c_str());
  }
}

std::string LoadUiTextUtf8(unsigned id) {
  // The pattern itself: the time-left and rate lines put their numbers into its "%1" and "%2".
  return Narrow(LoadUiPattern(id), CP_UTF8);
}

std::wstring FromUtf8(const std::string& text) { return Widen(text, CP_UTF8); }
