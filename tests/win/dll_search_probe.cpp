// A DLL of a name no system has, built beside the DLL-search child (dll_search_child.exe): whether
// a load by bare name finds it shows whether the program's own folder is searched.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
