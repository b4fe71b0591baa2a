// The download dialog's texts in a translation.
#pragma once

#include <windows.h>

#include <string>

// Shows the dialog's own texts in the language shown: caption, the two labels and the button. Does
// nothing when English is shown, whose texts the template holds.
void ShowTranslatedLabels(HWND dialog);
// String `id` in the language shown, as UTF-8 with its "%1" and "%2": for the progress texts, which
// are put together byte by byte.
std::string LoadUiTextUtf8(unsigned id);
std::wstring FromUtf8(const std::string& text);
