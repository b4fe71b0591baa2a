// Loading system DLLs from the system directory only. Under administrator rights a DLL of a
// system name lying beside the executable (a Downloads folder) must never be loaded.
#pragma once

#include <windows.h>

// Removes the application directory and the current directory from the process's DLL search,
// leaving the system directory (SetDefaultDllDirectories, looked up at run time). Where that is
// missing, only the current directory is removed (SetDllDirectoryA("")); where that is missing
// too, nothing changes. Call it first, before anything loads a DLL.
void RestrictDllSearch();

// Loads `name` (a file name such as "wininet.dll") by the full path of the system directory, its
// own dependencies looked for there first; null, with the last error set, when it cannot.
HMODULE LoadSystemLibrary(const char* name);
