#include "framework/system_library.h"

#include <string>

namespace {
// LOAD_LIBRARY_SEARCH_SYSTEM32: the headers declare it only for builds that need Windows 8.
constexpr DWORD kSearchSystem32 = 0x00000800;
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);

template <typename Function>
Function KernelFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}
}  // namespace

void RestrictDllSearch() {
  // Windows 8, and Windows Vista and 7 with update KB2533623.
  if (auto setDefault = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
    if (setDefault(kSearchSystem32)) return;
  }
  // Windows XP SP1 and later: the application directory stays, which LoadSystemLibrary avoids.
  if (auto setDirectory = KernelFunction<SetDllDirectoryFn>("SetDllDirectoryA")) setDirectory("");
}

HMODULE LoadSystemLibrary(const char* name) {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return nullptr;
  // With a full path, the altered search looks for the DLL's dependencies in its own directory
  // first, not in the application's.
  return LoadLibraryExA((std::string(directory) + "\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
