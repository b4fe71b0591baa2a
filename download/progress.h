// The arithmetic and the texts of the transfer display: percentage, progress range, rate, sizes
// and time left. 1 KB = 1024 bytes, 1 MB = 1048576 bytes; a rate in bytes per millisecond is shown
// as "KB/Sec" as it is.
#pragma once

#include <cstdint>
#include <string>

// Loads a text of the string table by id ("" when absent).
typedef std::string (*StringLoader)(unsigned id);

// Progress-bar maximum for an announced size: whole kilobytes, rounded half up (no 16-bit wrap).
uint32_t ProgressRangeKb(uint32_t size);
// Progress-bar position for bytes received: whole kilobytes, rounded down.
uint32_t ProgressPositionKb(uint32_t total);

// "512 Bytes/Sec", "2.50 KB/Sec", "12 KB/Sec".
std::string FormatTransferRate(double bytesPerMs, StringLoader load);
// "1023 Bytes", "1.0 KB", "1.00 MB".
std::string FormatByteSize(uint32_t count, StringLoader load);
// "2 min 5 sec (1.50 MB of 3.20 MB copied)".
std::string FormatTimeLeft(uint32_t seconds, uint32_t received, uint32_t size, StringLoader load);

// A body's announced length: `known` false when the answer announced none (`bytes` is then 0).
struct BodySize {
  bool known = false;
  uint32_t bytes = 0;
};

// The bookkeeping of one transfer, kept by the worker and updated per block.
struct TransferClock {
  uint32_t startTick = 0;
  uint32_t startTotal = 0;  // the total when the clock started: time left counts the bytes since
  uint32_t lastRateTick = 0;
  uint32_t lastRateTotal = 0;
  int lastPercent = 0;
  // The first total whose whole percentage can differ from lastPercent: below it the percentage
  // is not worked out again (floating point is slow where 32-bit code is emulated).
  uint64_t percentDueAt = 0;
};

// What the display has to change after a block.
struct ProgressUpdate {
  bool percentChanged = false;
  int percent = 0;
  bool rateDue = false;
  double rate = 0;  // bytes per millisecond over the interval since the last rate update
  bool timeLeftDue = false;
  uint32_t secondsLeft = 0;  // from the average speed since the start
};

// Decides the updates after `total` bytes at tick `now`, and advances `clock` accordingly: the
// percentage when it changes (never 0 %; INT_MAX at most, for a body far past the size), rate and
// time left when more than 1000 ms have passed since the last rate update.
ProgressUpdate PlanProgress(TransferClock& clock, uint32_t now, uint32_t total, bool sizeKnown, uint32_t size);
