#include <gtest/gtest.h>

#include <string>

#include "app/config_text_rules.h"

namespace {

// What only a tool sees in the text; the installer's own rules on it are proved against the
// installer's reader in tests/win/config_parity_test.cpp.
TEST(ConfigTextRules, ATextTheInstallerWouldMisreadIsRefused) {
  const std::string good = "[runtime]\r\nWebFile64=https://h.example/p.exe\r\n";
  struct Case {
    std::string text;
    const char* malformedKey;
    const char* says;  // part of the refusal; "" when accepted
  };
  const Case cases[] = {
      {good, "", ""},
      {"", "", ""},                                           // no configuration: the installer does nothing
      {good + ";" + std::string(300, 'x') + "\r\n", "", ""},  // a comment is no value
      {good + std::string("x\0y", 3), "", "holds a NUL byte"},
      {good + "[Runtime]\r\nRetries=3\r\n", "", "more than one [runtime] section"},
      {good + "webfile64=https://other.example/p.exe\r\n", "webfile64", "sets webfile64 twice"},
      {good + "Note=" + std::string(260, 'n') + "\r\n", "Note", "Note is 260 characters long"},
      {good + "Note=" + std::string(259, 'n') + "\r\n", "", ""},
      {good + "Retries=11\r\n", "Retries", "Malformed Retries value in the configuration: '11' is not a number"},
      // The report crosses networks the vendor does not control; the complete installer is a page.
      {good + "ReportUrl=https://r.example/runs\r\nFullInstallerUrl=http://f.example/full.exe\r\n", "", ""},
      {good + "ReportUrl=http://r.example/runs\r\n", "ReportUrl", "'http://r.example/runs' is no https:// URL"},
      {good + "ReportUrl=r.example/runs\r\n", "ReportUrl", "is no https:// URL"},
      {good + "FullInstallerUrl=ftp://f.example/full.exe\r\n", "FullInstallerUrl", "is no http:// or https:// URL"},
      {good + "FullInstallerUrl=full.exe\r\n", "FullInstallerUrl", "is no http:// or https:// URL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    const ConfigTextVerdict verdict = JudgeConfigText(c.text);
    EXPECT_EQ(verdict.malformedKey, c.malformedKey);
    EXPECT_EQ(verdict.Accepted(), *c.says == '\0') << verdict.refusal;
    EXPECT_NE(verdict.refusal.find(c.says), std::string::npos) << verdict.refusal;
  }
}

}  // namespace
