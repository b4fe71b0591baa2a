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
}

}  // namespace
