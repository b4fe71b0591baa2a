#include <gtest/gtest.h>

#include <string>

#include "records/run_report.h"

namespace {

// The README's table of keys, in its order: the collector may rely on exactly these.
TEST(RunReport, TheReportHoldsExactlyTheDocumentedKeys) {
  RunFacts facts;
  facts.installerVersion = "1.2.3.4";
  facts.configName = "example-setup.exe";
  facts.windowsClass = 10;
  facts.architecture = "x64";
  facts.language = "0409";
  facts.downloadEndMs = 2345;
  facts.packageStartMs = 2501;
  facts.bytesReceived = 1500000;
  facts.bytesResumed = 700000;
  facts.attempts = 2;
  facts.mirrorUsed = true;
  NoteRunEnd(facts, RunOutcome::kStarted);
  EXPECT_EQ(
      RunReportJson(facts),
      "{\"schema\":1,\"outcome\":\"started\",\"number\":0,\"version\":\"1.2.3.4\",\"config\":\"example-setup.exe\","
      "\"windows\":10,\"architecture\":\"x64\",\"language\":\"0409\",\"downloadSeconds\":2.345,"
      "\"startSeconds\":2.501,\"bytesReceived\":1500000,\"bytesResumed\":700000,\"attempts\":2,"
      "\"mirrorUsed\":true,\"proxy\":false,\"silent\":false}");
}

TEST(RunReport, TheFirstEndNotedStands) {
  RunFacts facts;
  NoteRunEnd(facts, RunOutcome::kHttpStatus, 404);
  NoteRunEnd(facts, RunOutcome::kCancelled);
  EXPECT_EQ(std::string(OutcomeCode(facts.outcome)), "http_status");
  EXPECT_EQ(facts.number, 404);
  EXPECT_NE(RunReportJson(facts).find("\"downloadSeconds\":-1,\"startSeconds\":-1,"), std::string::npos);
}

// Whatever the configuration's note holds, the report stays one valid JSON object of ASCII.
TEST(RunReport, EveryStringIsEscaped) {
  const struct {
    std::string text;
    const char* json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\r\nnext\t", "\"line\\u000d\\u000anext\\u0009\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"caf\xe9 \x7f", "\"caf\\u00e9 \\u007f\""},
      {"\"},\"outcome\":\"started", "\"\\\"},\\\"outcome\\\":\\\"started\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(RunReport, AFailedDownloadIsNamedByWhatEndedIt) {
  const struct {
    bool httpStatus;
    bool noResponse;
    long number;
    const char* code;
  } cases[] = {
      {true, false, 404, "http_status"},      {false, true, 0, "no_response"},  {false, false, 12029, "network_error"},
      {false, false, 12030, "network_error"}, {false, false, 112, "disk_full"}, {false, false, 39, "disk_full"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(OutcomeCode(DownloadFailureOutcome(c.httpStatus, c.noResponse, c.number))), c.code)
        << c.number;
  }
}

TEST(RunReport, AttemptsCountWhatTheyAddedAndWhatTheyKept) {
  const struct {
    uint32_t before, resumedFrom, after;
    uint64_t received, resumed;
  } cases[] = {
      {0, 0, 1000, 1000, 0},       // a first request
      {600, 600, 1000, 400, 600},  // resumed where the file stood
      {600, 0, 1000, 1000, 0},     // started again: the file was emptied first
      {600, 600, 600, 0, 600},     // resumed and cut at once
      {600, 0, 0, 0, 0},           // started again, cut before any byte
      {600, 0, 600, 0, 0},         // refused before its body
  };
  for (const auto& c : cases) {
    RunFacts facts;
    CountAttempt(facts, c.before, c.resumedFrom, c.after);
    EXPECT_EQ(facts.attempts, 1);
    EXPECT_EQ(facts.bytesReceived, c.received) << c.before << " " << c.after;
    EXPECT_EQ(facts.bytesResumed, c.resumed) << c.before << " " << c.after;
  }
}

TEST(RunReport, TheConfigurationsNameNoteIsTaken) {
  const struct {
    const char* text;
    const char* name;
  } cases[] = {
      {"[runtime]\r\nWebFile=x\r\n;;;;name: example-setup.exe \r\n", "example-setup.exe"},
      {";;;;name:a.exe\n;;;;name:b.exe\n", "a.exe"},
      {"[runtime]\r\n; ;;;name: no.exe\r\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ConfigNameNote(c.text), c.name) << c.text;
}

}  // namespace
