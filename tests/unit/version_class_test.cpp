#include <gtest/gtest.h>

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

}  // namespace
