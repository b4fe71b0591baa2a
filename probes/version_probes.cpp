#include "probes/version_probes.h"

#include <mbstring.h>
#include <objbase.h>

#include "framework/handle.h"
#include "framework/system_library.h"
#include "probes/version_class.h"

namespace {
// The basic record, not the extended one: the size field is 148.
bool QueryVersion(OSVERSIONINFOA& info) {
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  return GetVersionExA(&info) != FALSE;
}

// FOLDERID_LocalAppDataLow.
const GUID kLocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
typedef HRESULT(WINAPI* GetKnownFolderPathFn)(const GUID&, DWORD, HANDLE, PWSTR*);
typedef BOOL(WINAPI* IsWow64Process2Fn)(HANDLE, USHORT*, USHORT*);
}  // namespace

int GetWindowsVersionClass() {
  OSVERSIONINFOA info;
  const bool queried = QueryVersion(info);
  return ClassifyWindowsVersion(queried, info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

BOOL IsVistaOrLater() {
  OSVERSIONINFOA info;
  const bool queried = QueryVersion(info);
  return IsNtVistaOrLater(queried, info.dwPlatformId, info.dwMajorVersion) ? TRUE : FALSE;
}

BOOL Is64BitWindows() {
  char expanded[512] = {};
  if (ExpandEnvironmentStringsA("%ProgramW6432%", expanded, sizeof expanded) == 0) return FALSE;
  expanded[sizeof expanded - 1] = '\0';
  return _mbschr(reinterpret_cast<unsigned char*>(expanded), '%') == nullptr ? TRUE : FALSE;
}

NativeMachine GetNativeMachine() {
  // kernel32 is in every process and always the system's own; looked up by name so that the
  // installer still starts where the function does not exist.
  auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process2")));
  USHORT processMachine = 0;
  USHORT nativeMachine = 0;
  const bool asked =
      isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine) != FALSE;
  return ClassifyNativeMachine(asked, nativeMachine, Is64BitWindows() != FALSE);
}

BOOL HasKnownFolderApi() {
  UniqueModule shell(LoadSystemLibrary("shell32.dll"));
  if (!shell) return FALSE;
  auto getKnownFolderPath = reinterpret_cast<GetKnownFolderPathFn>(
      reinterpret_cast<void*>(GetProcAddress(shell.get(), "SHGetKnownFolderPath")));
  if (getKnownFolderPath == nullptr) return FALSE;
  PWSTR path = nullptr;
  const HRESULT result = getKnownFolderPath(kLocalAppDataLow, 0, nullptr, &path);
  if (FAILED(result) || path == nullptr) return FALSE;
  CoTaskMemFree(path);
  return TRUE;
}
