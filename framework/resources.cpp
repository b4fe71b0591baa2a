#include "framework/resources.h"

#include "framework/app.h"
#include "framework/format.h"
#include "framework/ui_choice.h"
#include "framework/ui_text.h"

std::string LoadResString(UINT id) {
  // By its language, not the thread's: with translations in the module, LoadStringA would pick the
  // user's, and these texts are logged and recorded.
  return Narrow(LoadTableString(AfxGetInstanceHandle(), id, kEnglishLanguage), CP_ACP);
}

void AfxFormatString1(std::string& out, UINT id, const char* arg1) {
  out = FormatPlaceholders(LoadResString(id), arg1);
}

void AfxFormatString2(std::string& out, UINT id, const char* arg1, const char* arg2) {
  out = FormatPlaceholders(LoadResString(id), arg1, arg2);
}

namespace {
UINT WithUsualIcon(UINT type) {
  if ((type & MB_ICONMASK) == 0) {
    type |= (type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL ? MB_ICONQUESTION
                                                                                       : MB_ICONEXCLAMATION;
  }
  return type;
}
}  // namespace

int AfxMessageBox(const char* text, UINT type) {
  return MessageBoxA(GetActiveWindow(), text, AfxGetAppName(), WithUsualIcon(type));
}

int AfxMessageBox(const std::wstring& text, UINT type) {
  return MessageBoxW(GetActiveWindow(), text.c_str(), WidenAnsi(AfxGetAppName()).c_str(), WithUsualIcon(type));
}
