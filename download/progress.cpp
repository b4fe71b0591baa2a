#include "download/progress.h"

#include <climits>
#include <cstdint>

#include "framework/format.h"
#include "res/resource.h"

uint32_t ProgressRangeKb(uint32_t size) { return static_cast<uint32_t>((static_cast<uint64_t>(size) + 512) >> 10); }

uint32_t ProgressPositionKb(uint32_t total) { return total >> 10; }

std::string FormatTransferRate(double bytesPerMs, StringLoader load) {
  if (bytesPerMs < 1.0)
    return FormatPlaceholders(load(IDS_BYTES_PER_SEC), FormatText("%0.0f", bytesPerMs * 1024.0).c_str());
  const char* format = bytesPerMs < 10.0 ? "%0.2f" : "%0.0f";
  return FormatPlaceholders(load(IDS_KB_PER_SEC), FormatText(format, bytesPerMs).c_str());
}

std::string FormatByteSize(uint32_t count, StringLoader load) {
  if (count < 1024) return FormatPlaceholders(load(IDS_BYTES), FormatText("%d", static_cast<int>(count)).c_str());
  if (count < 0x100000) {
    return FormatPlaceholders(load(IDS_KILOBYTES), FormatText("%0.1f", count / 1024.0).c_str());
  }
  return FormatPlaceholders(load(IDS_MEGABYTES), FormatText("%0.2f", count / 1048576.0).c_str());
}

std::string FormatTimeLeft(uint32_t seconds, uint32_t received, uint32_t size, StringLoader load) {
  const std::string sizes = FormatPlaceholders(load(IDS_BYTES_OF), FormatByteSize(received, load).c_str(),
                                               FormatByteSize(size, load).c_str());
  std::string time;
  if (seconds < 60) {
    time = FormatPlaceholders(load(IDS_SECONDS), FormatText("%u", seconds).c_str());
  } else if (seconds % 60 == 0) {
    time = FormatPlaceholders(load(IDS_MINUTES), FormatText("%u", seconds / 60).c_str());
  } else {
    time = FormatPlaceholders(load(IDS_MINUTES_SECONDS), FormatText("%u", seconds / 60).c_str(),
                              FormatText("%u", seconds % 60).c_str());
  }
  return FormatPlaceholders(load(IDS_TIME_LEFT_LINE), time.c_str(), sizes.c_str());
}

ProgressUpdate PlanProgress(TransferClock& clock, uint32_t now, uint32_t total, bool sizeKnown, uint32_t size) {
  ProgressUpdate update;
  if (sizeKnown && size != 0 && total >= clock.percentDueAt) {
    // A body far longer than announced would overflow the int: its percentage stops at the largest.
    const double exact = total * 100.0 / size;
    const int percent = exact < 2147483647.0 ? static_cast<int>(exact) : INT_MAX;
    if (percent != clock.lastPercent) {
      update.percentChanged = true;
      update.percent = percent;
      clock.lastPercent = percent;
    }
    // The truncated quotient above is the exact one (total * 100 and size are far below 2^53), so
    // the next whole percentage starts at the smallest total with total * 100 >= (percent + 1) * size.
    // The total only grows within an attempt, and each attempt starts a clock of its own.
    if (percent == INT_MAX) {
      clock.percentDueAt = UINT64_MAX;
    } else {
      // (percent + 1) * size is at most total * 100 + size, below 2^40: the double holds it whole, and
      // its quotient by 100 (whole, or at least 0.01 from the next whole number) rounds up rightly.
      // The same in 64-bit integers would bring in the runtime's 64-bit division.
      const double due = (percent + 1.0) * size / 100;
      const auto whole = static_cast<int64_t>(due);
      clock.percentDueAt = static_cast<uint64_t>(whole < due ? whole + 1 : whole);
    }
  }
  const uint32_t sinceRate = now - clock.lastRateTick;
  if (sinceRate <= 1000) return update;
  update.rateDue = true;
  update.rate = static_cast<double>(total - clock.lastRateTotal) / sinceRate;
  clock.lastRateTick = now;
  clock.lastRateTotal = total;
  const uint32_t sinceStart = total - clock.startTotal;
  if (sizeKnown && sinceStart != 0) {
    update.timeLeftDue = true;
    // A body longer than announced has nothing left; a huge estimate is capped, not wrapped.
    const double remaining = total < size ? size - total : 0;
    const double seconds = static_cast<double>(now - clock.startTick) / sinceStart * remaining * 0.001;
    update.secondsLeft = seconds < 4294967295.0 ? static_cast<uint32_t>(seconds) : 0xFFFFFFFFu;
  }
  return update;
}
