#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/flag_command_line_info.h"

namespace {

CommandLineResults Parse(std::vector<std::string> args) {
  std::vector<const char*> argv = {"setup.exe"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  CFlagCommandLineInfo info;
  FeedCommandLine(static_cast<int>(argv.size()), argv.data(), info);
  return ReadCommandLineResults(info);
}

struct SwitchCase {
  std::vector<std::string> args;
  int qaMode;
  std::string qa;
  std::string ac;
};

TEST(CommandLine, SwitchRules) {
  const SwitchCase cases[] = {
      {{}, 0, "", ""},
      {{"/qa"}, 1, "", ""},
      {{"/QA", "5.2.1"}, 1, "5.2.1", ""},
      {{"-ac", "AbC"}, 0, "", "AbC"},
      {{"/ac", "/qa", "1.2"}, 1, "1.2", ""},
      {{"/ac", "x", "y"}, 0, "", "x"},
      {{"/qa", "1", "/qa", "2"}, 1, "2", ""},
      {{"/qa", "true"}, 1, "", ""},
      {{"/ac", "TrUe"}, 0, "", ""},
      {{"/ac", "  word \t"}, 0, "", "word"},
      {{"/ac", "-x"}, 0, "", ""},
      {{"/ac=5"}, 0, "", ""},
      {{"plain", "/ac"}, 0, "", ""},
      {{"/Qa", "Mixed Case"}, 1, "Mixed Case", ""},
  };
  for (const SwitchCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const CommandLineResults r = Parse(c.args);
    EXPECT_EQ(r.qaMode, c.qaMode);
    EXPECT_EQ(r.qa, c.qa);
    EXPECT_EQ(r.ac, c.ac);
  }
}

TEST(CommandLine, RecordsEverySwitchUnderItsLowerCaseName) {
  const char* argv[] = {"setup.exe", "/AC=5", "-X", "value", "/qa"};
  CFlagCommandLineInfo info;
  FeedCommandLine(5, argv, info);
  std::string value = "untouched";
  EXPECT_TRUE(info.LookupSwitch("ac=5", value));
  EXPECT_EQ(value, "TRUE");
  EXPECT_TRUE(info.LookupSwitch("x", value));
  EXPECT_EQ(value, "value");
  EXPECT_TRUE(info.LookupSwitch("qa", value));
  EXPECT_EQ(value, "TRUE");
  value = "untouched";
  EXPECT_FALSE(info.LookupSwitch("ac", value));
  EXPECT_FALSE(info.LookupSwitch("X", value));  // lookups are exact
  EXPECT_EQ(value, "untouched");
}

TEST(CommandLine, LongArgumentsAreHandledWhole) {
  const std::string longName(5000, 'Q');
  const std::string longSwitch = "/" + longName;
  const std::string longValue = std::string(3000, 'v') + "END";
  const char* argv[] = {"setup.exe", longSwitch.c_str(), longValue.c_str(), "/ac", longValue.c_str()};
  CFlagCommandLineInfo info;
  FeedCommandLine(5, argv, info);
  std::string value;
  EXPECT_TRUE(info.LookupSwitch(std::string(5000, 'q').c_str(), value));
  EXPECT_EQ(value, longValue);
  EXPECT_EQ(ReadCommandLineResults(info).ac, longValue);
}

// The feed: what counts as a switch, what the parser sees, and the last-argument flag.
class RecordingInfo : public CCommandLineInfo {
public:
  void ParseParam(const char* param, BOOL bFlag, BOOL bLast) override {
    seen.push_back(std::string(bFlag ? "S:" : "P:") + param + (bLast ? "|last" : ""));
    CCommandLineInfo::ParseParam(param, bFlag, bLast);
  }
  std::vector<std::string> seen;
};

TEST(CommandLine, FeedSplitsSwitchesFromParameters) {
  const char* argv[] = {"setup.exe", "/a", "-b", "c", "", "/"};
  RecordingInfo info;
  FeedCommandLine(6, argv, info);
  EXPECT_EQ(info.seen, (std::vector<std::string>{"S:a", "S:b", "P:c", "P:", "S:|last"}));
  EXPECT_EQ(info.m_strFileName, "c");
}

}  // namespace
