// Loading system DLLs from the system directory only. Under administrator rights a DLL of a
// system name lying beside the executable (a Downloads folder) must never be loaded.
#pragma once

#include <windows.h>

// Removes the application directory and the current directory from the process's DLL search,
// leaving the system directory (SetDefaultDllDirectories, looked up at run time). Where that is
// missing (Windows 2000 to 7 without update KB2533623), the current directory is removed
// (SetDllDirectoryA("")) and the system DLLs that Windows itself loads later by bare name are
// loaded now by their full system path, so that a later load by name finds them loaded and never
// looks beside the executable. Call it first, before anything loads a DLL or creates a window.
void RestrictDllSearch();

// Loads `name` (a file name such as "wininet.dll") by the full path of the system directory, its
// own dependencies looked for there only (LOAD_LIBRARY_SEARCH_SYSTEM32) or, where that flag does
// not exist, there first; null, with the last error set, when it cannot.
HMODULE LoadSystemLibrary(const char* name);
