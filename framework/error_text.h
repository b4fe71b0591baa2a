// The system's own sentence for an error number, for logs and messages.
#pragma once

#include <windows.h>

#include <string>

// "error <number>: <the system's message>" on one line (line breaks become spaces, trailing blanks
// go), or "error <number>" when the system has no message for it.
std::string SystemErrorText(DWORD error);
