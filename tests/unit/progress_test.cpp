#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "download/progress.h"
#include "res/resource.h"
#include "tests/progress_strings.h"

namespace {

std::string Load(unsigned id) { return LoadProgressString(id); }

TEST(ProgressText, Rates) {
  const std::pair<double, const char*> cases[] = {
      {0.5, "512 Bytes/Sec"}, {0.0, "0 Bytes/Sec"}, {0.9999, "1024 Bytes/Sec"},
      {1.0, "1.00 KB/Sec"},   {2.5, "2.50 KB/Sec"}, {9.999, "10.00 KB/Sec"},
      {10.0, "10 KB/Sec"},    {12.4, "12 KB/Sec"},  {12.6, "13 KB/Sec"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatTransferRate(c.first, Load), c.second) << c.first;
}

TEST(ProgressText, ByteSizes) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "0 Bytes"},         {1023, "1023 Bytes"}, {1024, "1.0 KB"},     {1536, "1.5 KB"},
      {1048575, "1024.0 KB"}, {1048576, "1.00 MB"}, {1572864, "1.50 MB"}, {0xFFFFFFFFu, "4096.00 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatByteSize(c.first, Load), c.second) << c.first;
}

TEST(ProgressText, TimeLeft) {
  const std::pair<uint32_t, const char*> times[] = {
      {0, "0 sec"}, {59, "59 sec"}, {60, "1 min"}, {61, "1 min 1 sec"}, {125, "2 min 5 sec"}, {3600, "60 min"},
  };
  for (const auto& t : times) {
    EXPECT_EQ(FormatTimeLeft(t.first, 1572864, 3355443, Load), std::string(t.second) + " (1.50 MB of 3.20 MB copied)");
  }
}

TEST(ProgressBar, KilobyteRangeAndPosition) {
  EXPECT_EQ(ProgressRangeKb(5000000), 4883u);
  EXPECT_EQ(ProgressPositionKb(5000000), 4882u);
  EXPECT_EQ(ProgressRangeKb(511), 0u);
  EXPECT_EQ(ProgressRangeKb(512), 1u);
  // 64 MB and more must not wrap the way a 16-bit range would.
  EXPECT_EQ(ProgressRangeKb(64u * 1048576), 65536u);
  EXPECT_EQ(ProgressRangeKb(200u * 1048576), 204800u);
  EXPECT_EQ(ProgressRangeKb(0xFFFFFFFFu), 4194304u);
}

// Simulates a transfer in 1024-byte blocks at `msPerBlock` and counts the display's updates.
struct Simulation {
  std::vector<int> percents;
  int rateUpdates = 0;
  int timeLeftUpdates = 0;
  uint32_t lastSecondsLeft = 0;
};

Simulation Simulate(uint32_t size, bool sizeKnown, double msPerBlock, uint32_t startTick = 1000) {
  Simulation sim;
  TransferClock clock;
  clock.startTick = clock.lastRateTick = startTick;
  uint32_t total = 0;
  for (uint32_t block = 1; total < size; ++block) {
    total += std::min<uint32_t>(1024, size - total);
    const uint32_t now = startTick + static_cast<uint32_t>(block * msPerBlock);
    const ProgressUpdate update = PlanProgress(clock, now, total, sizeKnown, size);
    if (update.percentChanged) sim.percents.push_back(update.percent);
    if (update.rateDue) ++sim.rateUpdates;
    if (update.timeLeftDue) {
      ++sim.timeLeftUpdates;
      sim.lastSecondsLeft = update.secondsLeft;
    }
  }
  return sim;
}

TEST(ProgressPlan, TenMegabytesGiveExactlyOneHundredPercentSteps) {
  const Simulation sim = Simulate(10 * 1048576, true, 0.01);
  ASSERT_EQ(sim.percents.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(sim.percents[i], i + 1);
}

TEST(ProgressPlan, RateAndTimeLeftAtMostOncePerSecond) {
  // 10 MB at 1 ms per block: about 10.2 s of transfer.
  const Simulation sim = Simulate(10 * 1048576, true, 1.0);
  EXPECT_GE(sim.rateUpdates, 9);
  EXPECT_LE(sim.rateUpdates, 10);
  EXPECT_EQ(sim.timeLeftUpdates, sim.rateUpdates);
  EXPECT_LE(sim.lastSecondsLeft, 1u);
}

TEST(ProgressPlan, ShortTransfersShowNoRate) {
  const Simulation sim = Simulate(1048576, true, 0.5);  // 512 ms
  EXPECT_EQ(sim.rateUpdates, 0);
  EXPECT_EQ(sim.percents.size(), 100u);
}

TEST(ProgressPlan, WithoutSizeOnlyTheRateChanges) {
  const Simulation sim = Simulate(4 * 1048576, false, 1.0);
  EXPECT_TRUE(sim.percents.empty());
  EXPECT_GT(sim.rateUpdates, 0);
  EXPECT_EQ(sim.timeLeftUpdates, 0);
  // An announced length of zero divides by nothing.
  TransferClock clock;
  EXPECT_FALSE(PlanProgress(clock, 0, 1024, true, 0).percentChanged);
}

TEST(ProgressPlan, TickWrapAndOverlongBodies) {
  // The tick counter wraps around 2^32 mid-transfer: differences stay right.
  const Simulation sim = Simulate(4 * 1048576, true, 1.0, 0xFFFFF000u);
  EXPECT_EQ(sim.percents.size(), 100u);
  EXPECT_GE(sim.rateUpdates, 3);
  // More bytes than announced: nothing is left, no wrapped estimate.
  TransferClock clock;
  const ProgressUpdate update = PlanProgress(clock, 5000, 2048, true, 1024);
  EXPECT_TRUE(update.timeLeftDue);
  EXPECT_EQ(update.secondsLeft, 0u);
  EXPECT_DOUBLE_EQ(update.rate, 2048.0 / 5000);
  // A resumed transfer counts only the bytes since it resumed: 100000 bytes in 1001 ms, 400000 left.
  TransferClock resumed;
  resumed.startTotal = resumed.lastRateTotal = 500000;
  const ProgressUpdate later = PlanProgress(resumed, 1001, 600000, true, 1000000);
  EXPECT_EQ(later.secondsLeft, 4u);
  EXPECT_DOUBLE_EQ(later.rate, 100000.0 / 1001);
}

TEST(ProgressPlan, EveryPercentageShowsAtTheByteItIsReached) {
  // Byte by byte, odd sizes and a body past its size: a change is reported exactly when the
  // truncated percentage moves, never a block late.
  for (const uint32_t size : {1u, 3u, 199u, 1023u, 5000u}) {
    TransferClock clock;
    for (uint32_t total = 1; total <= 3 * size; ++total) {
      const int expected = static_cast<int>(uint64_t{total} * 100 / size);
      const int before = clock.lastPercent;
      const ProgressUpdate update = PlanProgress(clock, 0, total, true, size);
      ASSERT_EQ(update.percentChanged, expected != before) << total << " of " << size;
      ASSERT_EQ(clock.lastPercent, expected) << total << " of " << size;
    }
  }
}

TEST(ProgressPlan, AFarOverlongBodyCapsThePercentage) {
  // total, announced size, percentage shown
  const struct {
    uint32_t total, size;
    int percent;
  } cases[] = {
      {2048, 1024, 200},
      {0xFFFFFFFFu, 201, 2136799649},
      {0xFFFFFFFFu, 200, INT_MAX},
      {0xFFFFFFFFu, 1, INT_MAX},
  };
  for (const auto& c : cases) {
    TransferClock clock;
    const ProgressUpdate update = PlanProgress(clock, 0, c.total, true, c.size);
    EXPECT_TRUE(update.percentChanged) << c.total << " of " << c.size;
    EXPECT_EQ(update.percent, c.percent) << c.total << " of " << c.size;
  }
}

}  // namespace
