#include <gtest/gtest.h>

#include <string>

#include "records/run_report.h"

namespace {

// The README's table of keys, in its order; the first end noted stands.
TEST(RunReport, TheReportHoldsExactlyTheDocumentedKeys) {
  RunFacts facts;
  facts.installerVersion = "1.2.3.4";
  facts.configName = "example-setup.exe";
  facts.windowsClass = 10;
  facts.architecture = "x64";
  facts.language = "0409";
  facts.downloadEndMs = 2005;
  facts.bytesReceived = 5000000000;
  facts.attempts = 2;
  facts.mirrorUsed = true;
  NoteRunEnd(facts, RunOutcome::kHttpStatus, 404);
  NoteRunEnd(facts, RunOutcome::kCancelled);
  EXPECT_EQ(RunReportJson(facts),
            "{\"schema\":1,\"outcome\":\"http_status\",\"number\":404,\"version\":\"1.2.3.4\",\"config\":\"example-"
            "setup.exe\",\"windows\":10,\"architecture\":\"x64\",\"language\":\"0409\",\"downloadSeconds\":2.005,"
            "\"startSeconds\":-1,\"bytesReceived\":5000000000,\"bytesResumed\":0,\"attempts\":2,\"mirrorUsed\":true,"
            "\"proxy\":false,\"silent\":false}");
}

// Whatever the configuration's note holds, the report stays one valid JSON object of ASCII.
TEST(RunReport, EveryStringIsEscaped) {
  const std::pair<std::string, const char*> cases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\r\n\t", "\"line\\u000d\\u000a\\u0009\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"caf\xe9 \x7f", "\"caf\\u00e9 \\u007f\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(JsonString(text), json) << text;
  EXPECT_EQ(ConfigNameNote("[runtime]\r\n;;;;name: a b.exe \r\n;;;;name:c.exe\r\n"), "a b.exe");
}

TEST(RunReport, AttemptsCountWhatTheyAddedAndWhatTheyKept) {
  const struct {
    uint32_t before, resumedFrom, after;
    uint64_t received, resumed;
  } cases[] = {
      {0, 0, 1000, 1000, 0},       // a first request
      {600, 600, 1000, 400, 600},  // resumed where the file stood
      {600, 0, 1000, 1000, 0},     // started again: the file was emptied first
      {600, 0, 0, 0, 0},           // started again, cut before any byte
      {600, 0, 600, 0, 0},         // refused before its body
  };
  for (const auto& c : cases) {
    RunFacts facts;
    CountAttempt(facts, c.before, c.resumedFrom, c.after);
    EXPECT_EQ(facts.bytesReceived, c.received) << c.before << " " << c.after;
    EXPECT_EQ(facts.bytesResumed, c.resumed) << c.before << " " << c.after;
  }
}

}  // namespace
