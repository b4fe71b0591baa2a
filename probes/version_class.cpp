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

NativeMachine ClassifyNativeMachine(bool asked, uint16_t nativeMachine, bool is64BitWindows) {
  if (asked && nativeMachine == kImageMachineArm64) return NativeMachine::kArm64;
  if (asked && nativeMachine == kImageMachineAmd64) return NativeMachine::kX64;
  if (asked && nativeMachine == kImageMachineI386) return NativeMachine::kX86;
  return is64BitWindows ? NativeMachine::kX64 : NativeMachine::kX86;
}

const char* MachineName(NativeMachine machine) {
  return machine == NativeMachine::kArm64 ? "Arm64" : machine == NativeMachine::kX64 ? "x64" : "x86";
}
