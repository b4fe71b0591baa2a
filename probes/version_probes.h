// Questions the installation flow asks the system about itself. Each is asked afresh on every call,
// keeps no state and never reports an error: a failure is the negative answer.
#pragma once

#include <windows.h>

#include "probes/version_class.h"

// The version class of the running system (see ClassifyWindowsVersion).
int GetWindowsVersionClass();
// Nonzero on 64-bit Windows: %ProgramW6432% expands to a value without "%".
BOOL Is64BitWindows();
// The system's processor: IsWow64Process2 (Windows 10 1709 and later) where kernel32 has it, else
// Is64BitWindows.
NativeMachine GetNativeMachine();
// Nonzero when shell32 offers SHGetKnownFolderPath and it resolves the user's LocalAppDataLow.
BOOL HasKnownFolderApi();
// Nonzero on the NT line at major version 6 or later.
BOOL IsVistaOrLater();
