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
}

TEST(RetryRules, OnlyAWholeContentRangeAndAStrongEtagCount) {
  uint64_t first = 0, complete = 0;
  EXPECT_TRUE(ParseContentRange("bytes 4294967296-4294967296/4294967297", first, complete));
  EXPECT_EQ(first, 4294967296u);
  EXPECT_EQ(complete, 4294967297u);
  for (const char* text : {"bytes */10", "bytes 0-10/10", "bytes 5-4/10", "bytes 0-9/*", "bytes 0-9/10 "}) {
    EXPECT_FALSE(ParseContentRange(text, first, complete)) << text;
  }
  EXPECT_EQ(ChooseValidator("W/\"v\"", "Wed, 21 Oct 2015 07:28:00 GMT"), "Wed, 21 Oct 2015 07:28:00 GMT");
}

}  // namespace
