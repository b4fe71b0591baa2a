// The texts the user sees, in the language chosen for the run. Whatever is logged or recorded stays
// English and comes from LoadResString, whatever the language shown.
#pragma once

#include <windows.h>

#include <string>

// Chooses the language once, before any window, box or other thread: the user's preferred UI
// languages (Vista and later), else the default UI language, against the languages of `module`'s
// table that holds string `probeId`.
void SelectUiLanguage(HMODULE module, UINT probeId);
// True when a language other than English is shown; English keeps the ANSI path it always had.
bool UiTranslated();
LANGID UiLanguage();
// The tag of `language` from the system's locale data ("de-DE"); "" when the system has none.
std::string LanguageTag(LANGID language);

// String `id` of `module`'s table in exactly `language`, as stored; "" when that table lacks it.
std::wstring LoadTableString(HMODULE module, UINT id, LANGID language);
// String `id` in the language shown (its English text where the translation lacks it), as stored:
// its "%1" and "%2" left for the caller.
std::wstring LoadUiPattern(UINT id);
// The same with "%1" and "%2" replaced by the ANSI arguments.
std::wstring LoadUiString(UINT id, const char* arg1 = nullptr, const char* arg2 = nullptr);
// The same with wide arguments, for a text made of translated parts.
std::wstring LoadUiString(UINT id, const std::wstring& arg1, const std::wstring& arg2 = std::wstring());
// What a translation shows for string `id` with the ANSI arguments; "" when English is shown.
std::wstring ShownText(UINT id, const char* arg1 = nullptr, const char* arg2 = nullptr);
// Sets `window`'s text: `shown` through the wide API when a translation gave one, else `english` as
// it always was.
void SetShownText(HWND window, const std::string& english, const std::wstring& shown);
// `text` in `codePage` (CP_ACP, CP_UTF8) as UTF-16, and back.
std::wstring Widen(const std::string& text, UINT codePage);
std::string Narrow(const std::wstring& text, UINT codePage);
// An ANSI text as the user's code page reads it.
inline std::wstring WidenAnsi(const std::string& text) { return Widen(text, CP_ACP); }
