// Resource-text formatting in the framework's manner: "%1" and "%2" are replaced by arguments.
#pragma once

#include <string>

// Replaces every "%1" in `pattern` with `arg1` and every "%2" with `arg2` (a null argument leaves
// its placeholder as it is). Everything else, a lone "%" included, is copied unchanged; inserted
// arguments are not scanned again.
std::string FormatPlaceholders(const std::string& pattern, const char* arg1, const char* arg2 = nullptr);
// The same for the wide texts of a translation.
std::wstring FormatPlaceholders(const std::wstring& pattern, const wchar_t* arg1, const wchar_t* arg2 = nullptr);

// printf into a std::string; the result is never cut.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
