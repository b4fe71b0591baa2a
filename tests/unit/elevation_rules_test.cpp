#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "app/elevation_rules.h"

namespace {

TEST(ElevationRules, OnlyANonElevatedRunUnderUserAccountControlStartsAgainAndOnlyOnce) {
  using S = ElevationStep;
  // elevated, user account control, re-launched -> step
  const struct {
    bool elevated, uac, relaunched;
    ElevationStep step;
  } cases[] = {{true, true, false, S::kGoOn},   {true, true, true, S::kGoOn},           {true, false, true, S::kGoOn},
               {false, false, false, S::kGoOn}, {false, false, true, S::kGoOn},         {false, true, true, S::kRefuse},
               {true, false, false, S::kGoOn},  {false, true, false, S::kStartElevated}};
  for (const auto& c : cases)
    EXPECT_EQ(DecideElevation(c.elevated, c.uac, c.relaunched), c.step) << c.elevated << c.uac << c.relaunched;
}

// The guard first (a last "/qa" must not take it for its value), then the arguments byte for byte.
TEST(ElevationRules, TheRelaunchPassesTheArgumentsOnVerbatimAfterTheGuard) {
  const std::pair<std::string, std::string> cases[] = {
      {"setup.exe   ", "/relaunched"},
      {"\"C:\\a b\"\\setup.exe /qa 1.2", "/relaunched /qa 1.2"},  // quotes toggle inside the name
      {"C:\\setup.exe\t-ac \"x y\"  /QA", "/relaunched -ac \"x y\"  /QA"},
  };
  for (const auto& [commandLine, parameters] : cases)
    EXPECT_EQ(RelaunchParameters(ArgumentsOf(commandLine)), parameters) << commandLine;
}

}  // namespace
