#include <gtest/gtest.h>

#include "download/retry_rules.h"

namespace {

TEST(RetryRules, RetriesAreZeroToTenAnythingElseIsMalformed) {
  int retries = 7;
  EXPECT_TRUE(ParseRetries("", retries) && retries == 0);
  EXPECT_TRUE(ParseRetries("10", retries) && retries == 10);
  for (const char* text : {"11", "-1", "3 ", "x", "99999999999999999999"}) {
    EXPECT_FALSE(ParseRetries(text, retries)) << text;
    EXPECT_EQ(retries, 10) << text;
  }
}

TEST(RetryRules, WaitsDoubleFromTwoSecondsUpToThirtyOrAreTheServersUpToAMinute) {
  const uint32_t expected[] = {2, 4, 8, 16, 30, 30};
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(BackOffSeconds(n), expected[n - 1]) << n;
  EXPECT_EQ(RetryAfterSeconds("3600"), 60);
  EXPECT_EQ(RetryAfterSeconds("Fri, 31 Dec 1999 23:59:59 GMT"), -1);
  EXPECT_FALSE(IsRetryableStatus(416));
  EXPECT_EQ(ChooseValidator("W/\"v\"", "Wed, 21 Oct 2015 07:28:00 GMT"), "Wed, 21 Oct 2015 07:28:00 GMT");
  // Spread from half the step to the whole, in tenths, and announced as they are.
  EXPECT_EQ(SpreadWaitMs(30, 0xFFFFFFFF), 30000u);
  EXPECT_EQ(SpreadWaitMs(4, 0x40000000), 2500u);
  EXPECT_EQ(FormatWaitSeconds(2500) + " " + FormatWaitSeconds(30000), "2.5 30");
}

TEST(RetryRules, LengthsAreDecimalDigitsUpToTwoToThe53) {
  EXPECT_EQ(ParseLength("9007199254740992"), uint64_t{1} << 53);
  for (const char* text : {"", "-1", " 5", "0x10", "9007199254740993", "18446744073709551617"}) {
    EXPECT_FALSE(ParseLength(text).has_value()) << text;
  }
}

}  // namespace

namespace {

TEST(RetryRules, ContentRangeIsFirstLastAndCompleteLength) {
  struct Case {
    const char* text;
    bool parsed;
    uint64_t first, last, complete;
  };
  const Case cases[] = {
      {"bytes 400-999/1000", true, 400, 999, 1000},
      {"bytes 0-0/1", true, 0, 0, 1},
      {"bytes 400-999/*", false, 0, 0, 0},
      {"bytes 500-400/1000", false, 0, 0, 0},
      {"bytes 400-1000/1000", false, 0, 0, 0},
      {"bytes 400-999/1000 ", false, 0, 0, 0},
      {"bytes=400-999/1000", false, 0, 0, 0},
      {"bytes -999/1000", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::optional<ContentRange> range = ParseContentRange(c.text);
    ASSERT_EQ(range.has_value(), c.parsed) << c.text;
    if (!range) continue;
    EXPECT_EQ(range->first, c.first) << c.text;
    EXPECT_EQ(range->last, c.last) << c.text;
    EXPECT_EQ(range->complete, c.complete) << c.text;
  }
}

TEST(RetryRules, APartialAnswerIsAppendedOnlyWhereTheFileStandsToItsEnd) {
  // Every row resumes a 1000-byte file at byte 400 with the validator "v".
  struct Case {
    PartialAnswer answer;
    bool appended;
  };
  const Case cases[] = {
      {{"bytes 400-999/1000", true, 600, "\"v\""}, true},
      {{"bytes 400-999/1000", false, 0, "\"v\""}, true},
      // Without the validator the first answer had, it may be a part of another build.
      {{"bytes 400-999/1000", false, 0, ""}, false},
      // Each of these differs from the first in one thing only.
      {{"bytes 399-999/1000", false, 0, "\"v\""}, false},
      {{"bytes 401-999/1000", false, 0, "\"v\""}, false},
      {{"bytes 400-998/1000", false, 0, "\"v\""}, false},
      {{"bytes 400-1499/1500", false, 0, "\"v\""}, false},
      {{"bytes 400-999/1000", true, 599, "\"v\""}, false},
      {{"bytes 400-999/1000", true, 600, "\"w\""}, false},
      {{"bytes 400-999/*", false, 0, "\"v\""}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayAppendPartial(c.answer, 400, 1000, "\"v\""), c.appended)
        << c.answer.contentRange << " length " << c.answer.contentLength << " " << c.answer.validator;
  }
}

TEST(RetryRules, AFailedAttemptWaitsMovesToTheMirrorOrGivesUp) {
  struct Case {
    FailedAttempt failed;
    NextStep::Kind kind;
    int waits;
    uint32_t milliseconds;
    uint32_t random = 0xFFFFFFFF;  // the whole step
  };
  // attempt, attempts, waits, mirror left, retryable, 404, bytes received, Retry-After
  const Case cases[] = {
      {{1, 3, 0, false, true, false, false, -1}, NextStep::kRetry, 1, 2000},
      {{2, 3, 1, false, true, false, false, -1}, NextStep::kRetry, 2, 4000},
      {{3, 4, 2, false, true, false, true, -1}, NextStep::kRetry, 1, 2000},
      {{2, 3, 1, false, true, false, false, 7}, NextStep::kRetry, 2, 7000},
      // Half the step: a Retry-After below it does not shorten the wait, one above it is kept.
      {{1, 3, 0, false, true, false, false, 0}, NextStep::kRetry, 1, 1000, 0},
      {{2, 3, 1, false, true, false, false, 3}, NextStep::kRetry, 2, 3000, 0},
      {{3, 3, 2, true, true, false, false, -1}, NextStep::kMirror, 0, 0},
      {{3, 3, 2, false, true, false, false, -1}, NextStep::kGiveUp, 0, 0},
      {{1, 3, 0, true, false, true, false, -1}, NextStep::kMirror, 0, 0},
      {{1, 3, 0, false, false, true, false, -1}, NextStep::kGiveUp, 0, 0},
      {{1, 3, 0, true, false, false, false, -1}, NextStep::kGiveUp, 0, 0},
      {{1, 1, 0, true, true, false, false, -1}, NextStep::kMirror, 0, 0},
  };
  int row = 0;
  for (const Case& c : cases) {
    const NextStep next = DecideNextStep(c.failed, c.random);
    EXPECT_EQ(next.kind, c.kind) << "row " << row;
    EXPECT_EQ(next.waits, c.waits) << "row " << row;
    EXPECT_EQ(next.milliseconds, c.milliseconds) << "row " << row;
    ++row;
  }
}

}  // namespace
