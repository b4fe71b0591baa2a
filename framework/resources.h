// Resource texts and message boxes in the framework's manner.
#pragma once

#include <windows.h>

#include <string>

// The string `id` of the program's own string table; "" when the table has no such string.
std::string LoadResString(UINT id);
// String `id` with "%1" replaced by `arg1` (and "%2" by `arg2`).
void AfxFormatString1(std::string& out, UINT id, const char* arg1);
void AfxFormatString2(std::string& out, UINT id, const char* arg1, const char* arg2);

// A message box captioned with the application name and owned by the thread's active window. When
// `type` asks for no icon, the usual one is added: a question mark for Yes/No, else an exclamation.
int AfxMessageBox(const char* text, UINT type = MB_OK);
// The same for a translated text, through the wide API so that it shows whatever the code page.
int AfxMessageBox(const std::wstring& text, UINT type = MB_OK);
