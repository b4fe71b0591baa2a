#include "app/admin_message.h"

#include <windows.h>

static_assert(sizeof(MSGBOXPARAMSA) == 40, "the message box record of 32-bit Windows");

int ShowAdminRequiredMessage(const char* caption, const char* text, unsigned int iconId, unsigned int style) {
  MSGBOXPARAMSA params = {};
  params.cbSize = sizeof params;
  params.hwndOwner = nullptr;
  params.hInstance = GetModuleHandleA(nullptr);
  params.lpszText = text;
  params.lpszCaption = caption;
  params.dwStyle = style | MB_USERICON;
  params.lpszIcon = MAKEINTRESOURCEA(iconId & 0xFFFF);
  params.dwContextHelpId = 0;
  params.lpfnMsgBoxCallback = nullptr;
  params.dwLanguageId = 0;
  return MessageBoxIndirectA(&params);
}

int ShowAdminRequiredMessage(const wchar_t* caption, const wchar_t* text, unsigned int iconId, unsigned int style,
                             unsigned short language) {
  MSGBOXPARAMSW params = {};
  params.cbSize = sizeof params;
  params.hwndOwner = nullptr;
  params.hInstance = GetModuleHandleW(nullptr);
  params.lpszText = text;
  params.lpszCaption = caption;
  params.dwStyle = style | MB_USERICON;
  params.lpszIcon = MAKEINTRESOURCEW(iconId & 0xFFFF);
  params.dwLanguageId = language;
  return MessageBoxIndirectW(&params);
}
