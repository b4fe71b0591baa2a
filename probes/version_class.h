// Which generation of Windows a reported version is: the decisions of the version probes.
#pragma once

#include <cstdint>

// Platform ids as the system reports them.
enum : uint32_t { kPlatformWin32s = 0, kPlatformWindows = 1, kPlatformNT = 2 };

// Version class: 0 Win32s, 1 Windows 95, 2 Windows 98, 3 Windows Me, 4 NT 4.0 and older, 5 Windows
// 2000, 6 XP, 8 Server 2003 and everything later (there is no 7). A failed query, an unknown
// platform and an unknown Windows 9x minor version give classes below 5, so such a system is refused.
int ClassifyWindowsVersion(bool queried, uint32_t platformId, uint32_t major, uint32_t minor);

// NT line at major version 6 or later, from a query that succeeded.
bool IsNtVistaOrLater(bool queried, uint32_t platformId, uint32_t major);

// The smallest class the installer runs on.
constexpr int kOldestSupportedClass = 5;

// The processor a system runs its own programs on, as far as the choice of package goes.
enum class NativeMachine { kX86, kX64, kArm64 };

// "x86", "x64" or "Arm64", as the install log and the run report name the machine.
const char* MachineName(NativeMachine machine);

// The image machine types IsWow64Process2 reports (IMAGE_FILE_MACHINE_*).
enum : uint16_t { kImageMachineI386 = 0x014C, kImageMachineAmd64 = 0x8664, kImageMachineArm64 = 0xAA64 };

// The system's processor from IsWow64Process2's native machine when `asked` (the function exists
// and answered), else from the bitness alone: a system without that function has no Arm64 build.
// A machine type not named here counts by the bitness too.
NativeMachine ClassifyNativeMachine(bool asked, uint16_t nativeMachine, bool is64BitWindows);
