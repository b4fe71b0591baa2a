#include "util/file_version.h"

#include <windows.h>

#include "framework/handle.h"

std::string GetFileVersionString(const char* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return "0";
  UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return "0";
  void* data = GlobalLock(block.get());
  if (data == nullptr) return "0";
  std::string version = "0";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  if (GetFileVersionInfoA(path, 0, size, data) &&
      VerQueryValueA(data, "\\", reinterpret_cast<void**>(&fixed), &fixedLength) && fixed != nullptr &&
      fixedLength >= sizeof(VS_FIXEDFILEINFO)) {
    version = FormatProductVersion(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  }
  GlobalUnlock(block.get());
  return version;
}
