// The progress arithmetic and texts. The input holds the announced size (32 bits), a flags byte
// (bit 0: the size is known, bit 1: the body may run past the size), the start tick (32 bits), a
// rate as a double, and then blocks of 6 bytes: milliseconds since the previous block (16 bits) and
// the bytes it brought (32 bits).
#include <algorithm>
#include <cmath>

#include "download/progress.h"
#include "res/resource.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/progress_strings.h"

namespace {

std::string Load(unsigned id) { return LoadProgressString(id); }

std::string LoadNothing(unsigned) { return std::string(); }

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The number before `unit`, which must be digits with exactly `decimals` places after a point.
bool ReadNumber(const std::string& text, const std::string& unit, int decimals, double& value) {
  if (!EndsWith(text, unit)) return false;
  const std::string number = text.substr(0, text.size() - unit.size());
  const size_t point = number.find('.');
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos) return false;
  if (decimals == 0 ? point != std::string::npos
                    : point == std::string::npos || number.size() - point - 1 != static_cast<size_t>(decimals)) {
    return false;
  }
  value = std::strtod(number.c_str(), nullptr);
  return true;
}

void CheckByteSize(uint32_t count) {
  const std::string text = FormatByteSize(count, Load);
  double shown = 0;
  if (count < 1024) {
    FUZZ_CHECK(text == std::to_string(count) + " Bytes");
  } else if (count < 0x100000) {
    FUZZ_CHECK(ReadNumber(text, " KB", 1, shown));
    FUZZ_CHECK(std::fabs(shown * 1024 - count) <= 0.05 * 1024 + 1e-6);
  } else {
    FUZZ_CHECK(ReadNumber(text, " MB", 2, shown));
    FUZZ_CHECK(std::fabs(shown * 1048576 - count) <= 0.005 * 1048576 + 1e-3);
  }
  FUZZ_CHECK(FormatByteSize(count, LoadNothing).empty());
}

void CheckRate(double rate) {
  const std::string text = FormatTransferRate(rate, Load);
  double shown = 0;
  if (rate < 1.0) {
    FUZZ_CHECK(ReadNumber(text, " Bytes/Sec", 0, shown));
    FUZZ_CHECK(std::fabs(shown - rate * 1024) <= 0.5 + 1e-9);
  } else if (rate < 10.0) {
    FUZZ_CHECK(ReadNumber(text, " KB/Sec", 2, shown));
    FUZZ_CHECK(std::fabs(shown - rate) <= 0.005 + 1e-9);
  } else {
    FUZZ_CHECK(ReadNumber(text, " KB/Sec", 0, shown));
    FUZZ_CHECK(std::fabs(shown - rate) <= 0.5 + rate * 1e-15);
  }
}

void CheckTimeLeft(uint32_t seconds, uint32_t received, uint32_t size) {
  const std::string text = FormatTimeLeft(seconds, received, size, Load);
  const std::string tail = " (" + FormatByteSize(received, Load) + " of " + FormatByteSize(size, Load) + " copied)";
  FUZZ_CHECK(EndsWith(text, tail));
  const std::string time = text.substr(0, text.size() - tail.size());
  unsigned minutes = 0;
  unsigned rest = 0;
  char after = 0;
  if (seconds < 60) {
    FUZZ_CHECK(time == std::to_string(seconds) + " sec");
  } else if (std::sscanf(time.c_str(), "%u min %u se%c", &minutes, &rest, &after) == 3) {
    FUZZ_CHECK(time == std::to_string(minutes) + " min " + std::to_string(rest) + " sec");
    FUZZ_CHECK(rest > 0 && rest < 60 && static_cast<uint64_t>(minutes) * 60 + rest == seconds);
  } else {
    FUZZ_CHECK(time == std::to_string(seconds / 60) + " min" && seconds % 60 == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  const uint32_t announced = in.U32();
  const uint8_t flags = in.U8();
  const bool sizeKnown = (flags & 1) != 0;
  const bool mayOverrun = (flags & 2) != 0;
  const uint32_t startTick = in.U32();
  const double rate = in.F64();

  CheckByteSize(announced);
  CheckByteSize(startTick);
  // Rates the worker can produce: a byte count over a positive number of milliseconds.
  if (std::isfinite(rate) && !std::signbit(rate) && rate <= 4294967295.0) CheckRate(rate);
  CheckTimeLeft(startTick, announced, announced ^ startTick);
  FUZZ_CHECK(ProgressRangeKb(announced) == (static_cast<uint64_t>(announced) + 512) / 1024);
  FUZZ_CHECK(ProgressPositionKb(announced) == announced / 1024);

  TransferClock clock;
  clock.startTick = clock.lastRateTick = startTick;
  uint32_t now = startTick;
  uint32_t total = 0;
  int shownPercent = 0;
  for (int block = 0; block < 4096 && !in.AtEnd(); ++block) {
    now += in.U16();
    const uint32_t bytes = in.U32();
    const uint64_t limit = mayOverrun ? 0xFFFFFFFFu : announced;
    total = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(total) + bytes, limit));

    const TransferClock before = clock;
    const ProgressUpdate update = PlanProgress(clock, now, total, sizeKnown, announced);

    // The percentage: whole percents of the announced size, shown only when they change, never 0.
    if (!sizeKnown || announced == 0) {
      FUZZ_CHECK(!update.percentChanged && clock.lastPercent == before.lastPercent);
    } else if (update.percentChanged) {
      FUZZ_CHECK(update.percent > shownPercent && update.percent == clock.lastPercent);
      shownPercent = update.percent;
    } else {
      FUZZ_CHECK(clock.lastPercent == before.lastPercent);
    }
    if (sizeKnown && announced != 0 && total <= announced) {
      FUZZ_CHECK(clock.lastPercent >= 0 && clock.lastPercent <= 100);
      FUZZ_CHECK(static_cast<uint64_t>(clock.lastPercent) == static_cast<uint64_t>(total) * 100 / announced);
    }

    // Rate and time left: only more than a second after the last rate update.
    const uint32_t sinceRate = now - before.lastRateTick;
    FUZZ_CHECK(update.rateDue == (sinceRate > 1000));
    if (!update.rateDue) {
      FUZZ_CHECK(!update.timeLeftDue && clock.lastRateTick == before.lastRateTick &&
                 clock.lastRateTotal == before.lastRateTotal);
      continue;
    }
    FUZZ_CHECK(clock.lastRateTick == now && clock.lastRateTotal == total);
    FUZZ_CHECK(std::fabs(update.rate * sinceRate - (total - before.lastRateTotal)) <=
               1e-6 * (total - before.lastRateTotal) + 1e-9);
    CheckRate(update.rate);
    FUZZ_CHECK(update.timeLeftDue == (sizeKnown && total != 0));
    if (!update.timeLeftDue) continue;
    if (total >= announced) {
      FUZZ_CHECK(update.secondsLeft == 0);
    } else {
      // From the average speed since the start; an estimate past 32 bits is capped.
      const double expected =
          std::min(static_cast<double>(now - startTick) / total * (announced - total) / 1000, 4294967295.0);
      FUZZ_CHECK(std::fabs(update.secondsLeft - expected) <= 1 + expected * 1e-9);
    }
    CheckTimeLeft(update.secondsLeft, total, announced);
  }
  return 0;
}
