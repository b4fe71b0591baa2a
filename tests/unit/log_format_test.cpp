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

// A redirect's Location, a certificate's name or a /qa value must not add lines, keys or sections.
TEST(LogFormat, KeysAndValuesStayOneLine) {
  struct Case {
    std::string text;
    bool isKey;
    std::string written;
  };
  const Case cases[] = {
      {"/x.exe\r\n[Status]\r\nDownloaded=true", false, "/x.exe  [Status]  Downloaded=true"},
      {std::string("a\0b\rc\nd", 7), false, "a b c d"},
      {"[x]=1;y", false, "[x]=1;y"},
      {"", false, ""},
      {"Target", true, "Target"},
      {"File C:\\a=b\\x.exe does not exist!", true, "File C:\\ab\\x.exe does not exist!"},
      {"[Status]", true, "Status]"},
      {";x", true, "x"},
      {" \t[;=[x", true, " \tx"},
      {"\r\n[x", true, "  x"},
      {"\xA0[x", true, "\xA0x"},
      {"a[b;c", true, "a[b;c"},
      {"=", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SafeRecordText(c.text, c.isKey), c.written);
  }
}

}  // namespace
