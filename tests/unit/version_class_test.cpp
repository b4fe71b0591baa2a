#include <gtest/gtest.h>

#include "app/config_rules.h"
#include "probes/version_class.h"

namespace {

TEST(VersionClass, KnownSystems) {
  struct Case {
    const char* system;
    uint32_t platform, major, minor;
    int expected;
  };
  const Case cases[] = {
      {"Win32s", kPlatformWin32s, 3, 11, 0},      {"Windows 95", kPlatformWindows, 4, 0, 1},
      {"Windows 98", kPlatformWindows, 4, 10, 2}, {"Windows Me", kPlatformWindows, 4, 90, 3},
      {"NT 3.51", kPlatformNT, 3, 51, 4},         {"NT 4.0", kPlatformNT, 4, 0, 4},
      {"Windows 2000", kPlatformNT, 5, 0, 5},     {"XP", kPlatformNT, 5, 1, 6},
      {"Server 2003", kPlatformNT, 5, 2, 8},      {"Vista", kPlatformNT, 6, 0, 8},
      {"Windows 7", kPlatformNT, 6, 1, 8},        {"Windows 10", kPlatformNT, 10, 0, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyWindowsVersion(true, c.platform, c.major, c.minor), c.expected) << c.system;
  }
}

TEST(VersionClass, UnsettledCasesAreRefused) {
  EXPECT_LT(ClassifyWindowsVersion(false, kPlatformNT, 6, 1), kOldestSupportedClass);
  EXPECT_LT(ClassifyWindowsVersion(true, 3, 10, 0), kOldestSupportedClass);
  EXPECT_LT(ClassifyWindowsVersion(true, 0xFFFFFFFFu, 10, 0), kOldestSupportedClass);
  EXPECT_LT(ClassifyWindowsVersion(true, kPlatformWindows, 4, 3), kOldestSupportedClass);
  // Only the minor version decides on the Windows 9x line.
  EXPECT_EQ(ClassifyWindowsVersion(true, kPlatformWindows, 9, 90), 3);
}

TEST(VersionClass, NeverSeven) {
  for (uint32_t platform = 0; platform < 4; ++platform)
    for (uint32_t major = 0; major < 12; ++major)
      for (uint32_t minor = 0; minor < 100; ++minor)
        ASSERT_NE(ClassifyWindowsVersion(true, platform, major, minor), 7) << platform << major << minor;
}

TEST(VersionClass, VistaOrLater) {
  EXPECT_TRUE(IsNtVistaOrLater(true, kPlatformNT, 6));
  EXPECT_TRUE(IsNtVistaOrLater(true, kPlatformNT, 10));
  EXPECT_FALSE(IsNtVistaOrLater(true, kPlatformNT, 5));
  EXPECT_FALSE(IsNtVistaOrLater(true, kPlatformWindows, 6));
  EXPECT_FALSE(IsNtVistaOrLater(false, kPlatformNT, 6));
}

TEST(NativeMachine, TheProbesAnswerAndTheKeysDecideThePackage) {
  struct Row {
    bool asked;
    uint16_t native;
    bool is64Bit;
    bool arm64Configured;
    NativeMachine machine;
    const char* location;
  };
  const Row rows[] = {
      {true, kImageMachineArm64, true, true, NativeMachine::kArm64, "WebFileArm64"},
      {true, kImageMachineArm64, true, false, NativeMachine::kArm64, "WebFile64"},
      {true, kImageMachineAmd64, true, true, NativeMachine::kX64, "WebFile64"},
      {true, kImageMachineI386, false, true, NativeMachine::kX86, "WebFile"},
      // No such function (older systems): the bitness alone; they have no Arm64 build.
      {false, kImageMachineArm64, true, true, NativeMachine::kX64, "WebFile64"},
      {false, 0, false, true, NativeMachine::kX86, "WebFile"},
      // A machine type nobody builds for here counts by the bitness.
      {true, 0x01C4, false, true, NativeMachine::kX86, "WebFile"},
  };
  for (const Row& row : rows) {
    const NativeMachine machine = ClassifyNativeMachine(row.asked, row.native, row.is64Bit);
    EXPECT_EQ(machine, row.machine) << row.native;
    EXPECT_STREQ(PackageKeysFor(machine, row.arm64Configured).location, row.location) << row.native;
  }
  // The install log says which key was read, and only when there was a choice to make.
  const std::string withArm64 = "[runtime]\nWebFile64=https://h/p64.exe\nWebFileArm64=https://h/pa.exe\n";
  const std::string withoutArm64 = "[runtime]\nWebFile64=https://h/p64.exe\n";
  EXPECT_EQ(JudgeConfig(ProfileTextLookup(withArm64), NativeMachine::kArm64).choice, "Package for Arm64: WebFileArm64");
  EXPECT_EQ(JudgeConfig(ProfileTextLookup(withArm64), NativeMachine::kX64).choice, "Package for x64: WebFile64");
  EXPECT_EQ(JudgeConfig(ProfileTextLookup(withoutArm64), NativeMachine::kArm64).choice, "");
  EXPECT_EQ(JudgeConfig(ProfileTextLookup(withoutArm64), NativeMachine::kArm64).config.location, "https://h/p64.exe");
}

}  // namespace
