// The child process of the DLL-search test: the restriction is process-wide and cannot be undone,
// so it is made here and not in the test program. Loads dll_search_probe.dll (beside this program)
// by bare name before RestrictDllSearch and again after it, and prints
// "before=<0 or error> after=<0 or error>".
#include <windows.h>

#include <cstdio>

#include "framework/system_library.h"

namespace {
DWORD LoadByBareName() {
  HMODULE module = LoadLibraryA("dll_search_probe.dll");
  if (module == nullptr) return GetLastError();
  FreeLibrary(module);  // a loaded module would be found by name whatever the search
  return 0;
}
}  // namespace

int main() {
  const DWORD before = LoadByBareName();
  RestrictDllSearch();
  const DWORD after = LoadByBareName();
  std::printf("before=%lu after=%lu\n", before, after);
  return 0;
}
