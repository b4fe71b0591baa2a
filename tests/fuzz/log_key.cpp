// The install log's names: entry key, section name and the random part. The input holds, as
// little-endian 32-bit integers, the sequence number, the random part, the nine broken-down time
// fields, a level and a rand() result; the rest is the thread-id text.
#include <cinttypes>
#include <ctime>

#include "records/log_format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

// "%.3d": at least three digits, a minus sign before them for a negative number.
bool IsNumberText(const std::string& text, int value) {
  char expected[32];
  std::snprintf(expected, sizeof expected, "%.3d", value);
  return text == expected;
}

void CheckKey(int sequence, const std::tm& time, int random) {
  const std::string key = FormatLogKey(sequence, time, random);
  // sequence, " ", time, " ", random, "  ."
  FUZZ_CHECK(key.size() >= 3 && key.compare(key.size() - 3, 3, "  .") == 0);
  const std::string body = key.substr(0, key.size() - 3);
  const size_t firstSpace = body.find(' ');
  const size_t lastSpace = body.rfind(' ');
  FUZZ_CHECK(firstSpace != std::string::npos && lastSpace != firstSpace);
  FUZZ_CHECK(IsNumberText(body.substr(0, firstSpace), sequence));
  FUZZ_CHECK(IsNumberText(body.substr(lastSpace + 1), random));
  const std::string timeText = body.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  // A time the clock can show is day, hours, minutes and seconds, two digits each.
  if (InRange(time.tm_mday, 1, 31) && InRange(time.tm_hour, 0, 23) && InRange(time.tm_min, 0, 59) &&
      InRange(time.tm_sec, 0, 60)) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%02d %02d:%02d:%02d", time.tm_mday, time.tm_hour, time.tm_min,
                  time.tm_sec);
    FUZZ_CHECK(timeText == expected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  const int sequence = in.I32();
  const int random = in.I32();
  std::tm time = {};
  time.tm_sec = in.I32();
  time.tm_min = in.I32();
  time.tm_hour = in.I32();
  time.tm_mday = in.I32();
  time.tm_mon = in.I32();
  time.tm_year = in.I32();
  time.tm_wday = in.I32();
  time.tm_yday = in.I32();
  time.tm_isdst = in.I32();
  const int level = in.I32();
  const int randValue = in.I32();
  const std::string threadId = in.Rest();

  CheckKey(sequence, time, random);

  // The random part from rand(): 0..1000, truncated, and so for any int the same truncated quotient.
  const int r = LogRandomFromRand(randValue);
  FUZZ_CHECK(r == static_cast<int>(static_cast<int64_t>(randValue) * 1000 / 32767));
  if (InRange(randValue, 0, 32767)) {
    FUZZ_CHECK(InRange(r, 0, 1000));
    CheckKey(sequence, time, r);
  }

  static const char* const kNames[] = {"ERROR", "FLOW", "INFO", "UNINSTALL"};
  const std::string section = LogSectionName(level, threadId);
  if (InRange(level, 0, 3)) {
    FUZZ_CHECK(section == std::string(kNames[level]) + " (Thread ID=" + threadId + ")");
  } else {
    FUZZ_CHECK(section.empty());
  }
  return 0;
}
