#include "probes/version_class.h"

int ClassifyWindowsVersion(bool queried, uint32_t platformId, uint32_t major, uint32_t minor) {
  if (!queried) return 4;
  switch (platformId) {
    case kPlatformWin32s:
      return 0;
    case kPlatformWindows:
      return minor >= 90 ? 3 : minor >= 10 ? 2 : 1;
    case kPlatformNT:
      if (major != 5) return major <= 4 ? 4 : 8;
      return minor == 0 ? 5 : minor == 1 ? 6 : 8;
    default:
      return 4;
  }
}

bool IsNtVistaOrLater(bool queried, uint32_t platformId, uint32_t major) {
  return queried && platformId == kPlatformNT && major >= 6;
}
