#include <gtest/gtest.h>

#include <regex>

#include "records/log_format.h"

namespace {

TEST(LogFormat, SectionNames) {
  EXPECT_EQ(LogSectionName(LOG_ERROR, "740"), "ERROR (Thread ID=740)");
  EXPECT_EQ(LogSectionName(LOG_FLOW, "740"), "FLOW (Thread ID=740)");
  EXPECT_EQ(LogSectionName(LOG_INFO, "1"), "INFO (Thread ID=1)");
  EXPECT_EQ(LogSectionName(LOG_UNINSTALL, "9"), "UNINSTALL (Thread ID=9)");
  EXPECT_EQ(LogSectionName(LOG_ERROR, ""), "ERROR (Thread ID=)");
  EXPECT_EQ(LogSectionName(4, "740"), "");
  EXPECT_EQ(LogSectionName(-1, "740"), "");
}

TEST(LogFormat, KeyLayout) {
  std::tm t = {};
  t.tm_mday = 6;
  t.tm_hour = 14;
  t.tm_min = 3;
  t.tm_sec = 22;
  EXPECT_EQ(FormatLogKey(3, t, 527), "003 06 14:03:22 527  .");
  EXPECT_EQ(FormatLogKey(1000, t, 0), "1000 06 14:03:22 000  .");
  EXPECT_EQ(FormatLogKey(42, t, 1000), "042 06 14:03:22 1000  .");
  EXPECT_TRUE(std::regex_match(FormatLogKey(7, t, 5), std::regex(R"(\d{3} \d\d \d\d:\d\d:\d\d \d{3}  \.)")));
}

TEST(LogFormat, RandomPartRange) {
  EXPECT_EQ(LogRandomFromRand(0), 0);
  EXPECT_EQ(LogRandomFromRand(32), 0);
  EXPECT_EQ(LogRandomFromRand(33), 1);
  EXPECT_EQ(LogRandomFromRand(16384), 500);
  EXPECT_EQ(LogRandomFromRand(32766), 999);
  EXPECT_EQ(LogRandomFromRand(32767), 1000);
}

}  // namespace
