#include "framework/resources.h"

#include "framework/app.h"
#include "framework/format.h"

std::string LoadResString(UINT id) {
  char buffer[1024];  // the longest text of the table is well under 100 characters
  const int length = LoadStringA(AfxGetInstanceHandle(), id, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

void AfxFormatString1(std::string& out, UINT id, const char* arg1) {
  out = FormatPlaceholders(LoadResString(id), arg1);
}

void AfxFormatString2(std::string& out, UINT id, const char* arg1, const char* arg2) {
  out = FormatPlaceholders(LoadResString(id), arg1, arg2);
}

int AfxMessageBox(const char* text, UINT type) {
  if ((type & MB_ICONMASK) == 0) {
    type |= (type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL ? MB_ICONQUESTION
                                                                                       : MB_ICONEXCLAMATION;
  }
  return MessageBoxA(GetActiveWindow(), text, AfxGetAppName(), type);
}
