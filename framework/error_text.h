// The system's own sentences for error numbers, for logs and messages.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The message for `number` in the user's default language, from the message table of `table` (the
// system's table when null), with every "\r\n" in it replaced by `lineBreak` and nothing else
// changed. FALSE, `text` untouched, when the table holds no such message.
BOOL LookUpMessageText(DWORD number, HMODULE table, const char* lineBreak, std::string& text);

// "error <number>: <the system's message>" on one line (line breaks become spaces, trailing blanks
// go), or "error <number>" when the system has no message for it.
std::string SystemErrorText(DWORD error);

// The sentence the download shows for error `number`: from WinINet's message table, else from the
// system's, with its line breaks taken out. Empty when neither has one, and while WinINet is not
// loaded.
std::optional<std::string> LookUpErrorText(long number);
