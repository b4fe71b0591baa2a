#include <gtest/gtest.h>

#include <string>

#include "download/retry_rules.h"

namespace {

TEST(RetryRules, RetriesAreZeroToTenOrMalformed) {
  const struct {
    const char* text;
    bool usable;
    int retries;
  } cases[] = {{"", true, 0}, {"0", true, 0}, {"3", true, 3}, {"10", true, 10}, {"11", false, 7},
               {"-1", false, 7}, {"3 ", false, 7}, {"x", false, 7}, {"99999999999999999999", false, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int retries = 7;
    EXPECT_EQ(ParseRetries(c.text, retries), c.usable);
    EXPECT_EQ(retries, c.retries);
  }
}

TEST(RetryRules, BackOffDoublesFromTwoSecondsUpToThirty) {
  const uint32_t expected[] = {2, 4, 8, 16, 30, 30, 30, 30, 30, 30};
  for (int n = 1; n <= 10; ++n) EXPECT_EQ(BackOffSeconds(n), expected[n - 1]) << n;
}

TEST(RetryRules, RetryAfterIsSecondsUpToAMinute) {
  EXPECT_EQ(RetryAfterSeconds("0"), 0);
  EXPECT_EQ(RetryAfterSeconds("7"), 7);
  EXPECT_EQ(RetryAfterSeconds("60"), 60);
  EXPECT_EQ(RetryAfterSeconds("3600"), 60);
  EXPECT_EQ(RetryAfterSeconds(""), -1);
  EXPECT_EQ(RetryAfterSeconds("-5"), -1);
  EXPECT_EQ(RetryAfterSeconds("Fri, 31 Dec 1999 23:59:59 GMT"), -1);
}

TEST(RetryRules, OnlyTimeoutsTooManyRequestsAndServerErrorsAreAskedAgain) {
  for (long status : {408L, 429L, 500L, 502L, 503L, 599L}) EXPECT_TRUE(IsRetryableStatus(status)) << status;
  for (long status : {200L, 206L, 301L, 400L, 401L, 403L, 404L, 416L, 600L}) {
    EXPECT_FALSE(IsRetryableStatus(status)) << status;
  }
}

TEST(RetryRules, ContentRangeGivesItsStartAndCompleteLength) {
  const struct {
    const char* text;
    bool ok;
    uint64_t first, complete;
  } cases[] = {
      {"bytes 100-999/1000", true, 100, 1000},
      {"bytes 0-0/1", true, 0, 1},
      {"bytes 4294967296-4294967296/4294967297", true, 4294967296u, 4294967297u},
      {"bytes */1000", false, 0, 0},
      {"bytes 100-1000/1000", false, 0, 0},
      {"bytes 5-4/10", false, 0, 0},
      {"bytes 0-9/*", false, 0, 0},
      {"bytes 0-9/10 ", false, 0, 0},
      {"bytes=0-9/10", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t first = 0, complete = 0;
    ASSERT_EQ(ParseContentRange(c.text, first, complete), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(complete, c.complete);
  }
}

TEST(RetryRules, AStrongEtagValidatesElseTheModificationTime) {
  const std::string modified = "Wed, 21 Oct 2015 07:28:00 GMT";
  EXPECT_EQ(ChooseValidator("\"5f3a-1234\"", modified), "\"5f3a-1234\"");
  EXPECT_EQ(ChooseValidator("W/\"5f3a-1234\"", modified), modified);
  EXPECT_EQ(ChooseValidator("", modified), modified);
  EXPECT_EQ(ChooseValidator("W/\"x\"", ""), "");
  EXPECT_EQ(ResumeHeaders(1048576, "\"v\""), "Range: bytes=1048576-\r\nIf-Range: \"v\"\r\n");
}

}  // namespace
