#include <gtest/gtest.h>

#include "app/package_checks.h"

namespace {

TEST(LaunchCheck, SizeGate) {
  EXPECT_TRUE(IsTooSmallToRun(0));
  EXPECT_TRUE(IsTooSmallToRun(1000000));
  EXPECT_FALSE(IsTooSmallToRun(1000001));
  EXPECT_FALSE(IsTooSmallToRun(0xFFFFFFFFu));
}

TEST(LaunchCheck, WrongFormatMarker) {
  EXPECT_TRUE(HasWrongFormatMarker("C:\\Temp\\~~setup.exe"));
  EXPECT_TRUE(HasWrongFormatMarker("\\~~"));
  EXPECT_FALSE(HasWrongFormatMarker("C:\\Temp\\~setup.exe"));
  EXPECT_FALSE(HasWrongFormatMarker("C:\\Temp~~\\x.exe"));
  EXPECT_FALSE(HasWrongFormatMarker("C:/Temp/~~setup.exe"));
}

}  // namespace
