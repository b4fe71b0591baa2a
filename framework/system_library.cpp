#include "framework/system_library.h"

#include <string>

#include "framework/format.h"

namespace {
// LOAD_LIBRARY_SEARCH_SYSTEM32: the headers declare it only for builds that need Windows 8.
constexpr DWORD kSearchSystem32 = 0x00000800;
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);

// The DLLs that Windows' own code loads by bare name after start-up (the list other installers
// preload): themes, profiles, setup and compatibility, property system, desktop composition,
// crypto base, accessibility, version, COM+ and its catalog; then what the shell, WinINet and
// WinVerifyTrust load later by name (the crypto service provider named in the registry and its
// helpers, the subject interface package, network retrieval of certificates, the security support
// provider, the access-control helper, the shell's folder and link helpers). A name that does not
// exist on a system is skipped.
const char kLoadedLaterByName[] =
    "uxtheme.dll\0userenv.dll\0setupapi.dll\0apphelp.dll\0propsys.dll\0dwmapi.dll\0cryptbase.dll\0"
    "oleacc.dll\0version.dll\0profapi.dll\0comres.dll\0clbcatq.dll\0cryptsp.dll\0rsaenh.dll\0"
    "msasn1.dll\0imagehlp.dll\0mssip32.dll\0cryptnet.dll\0secur32.dll\0sspicli.dll\0ntmarta.dll\0"
    "shfolder.dll\0linkinfo.dll\0";

template <typename Function>
Function KernelFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// Whether LoadLibraryExA takes the LOAD_LIBRARY_SEARCH_* flags: where SetDefaultDllDirectories
// exists (Windows 8, and Vista and 7 with update KB2533623), as its documentation says to find out.
bool HasSafeDllSearchFlags() {
  return KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories") != nullptr;
}
}  // namespace

void RestrictDllSearch() {
  if (auto setDefault = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
    if (setDefault(kSearchSystem32)) return;
  }
  // Windows XP SP1 and later: the current directory goes; the application directory stays, so
  // what would be looked for there is loaded now from the system directory.
  if (auto setDirectory = KernelFunction<SetDllDirectoryFn>("SetDllDirectoryA")) setDirectory("");
  // Loaded for the rest of the process: these references are never let go.
  for (const char* name = kLoadedLaterByName; *name != '\0'; name += lstrlenA(name) + 1) LoadSystemLibrary(name);
}

HMODULE LoadSystemLibrary(const char* name) {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return nullptr;
  // With a full path, either flag has the DLL's dependencies looked for in the system directory
  // (the altered search only first), never in the application's.
  const DWORD flags = HasSafeDllSearchFlags() ? kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExA(FormatText("%s\\%s", directory, name).c_str(), nullptr, flags);
}
