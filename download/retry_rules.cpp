#include "download/retry_rules.h"

#include <algorithm>

#include "framework/format.h"

namespace {
// Reads one or more decimal digits at `text[at]`, advancing `at`; false when there is none or the
// number would pass 2^53.
bool ReadNumber(const std::string& text, size_t& at, uint64_t& value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    // value is at most 2^53 here, so this cannot wrap; no 64-bit division is needed to check it.
    value = value * 10 + static_cast<uint64_t>(text[at++] - '0');
    if (value > (uint64_t{1} << 53)) return false;
  }
  return at > start;
}
}  // namespace

bool ParseRetries(const std::string& text, int& retries) {
  if (text.empty()) {
    retries = 0;
    return true;
  }
  size_t at = 0;
  uint64_t value = 0;
  if (!ReadNumber(text, at, value) || at != text.size() || value > kMaxRetries) return false;
  retries = static_cast<int>(value);
  return true;
}

uint32_t BackOffSeconds(int n) { return n >= 5 ? 30 : n < 1 ? 2 : uint32_t{1} << n; }

uint32_t SpreadWaitMs(uint32_t seconds, uint32_t random) {
  const uint64_t lowest = uint64_t{seconds} * 5;  // in tenths
  const uint64_t choices = uint64_t{seconds} * 10 - lowest + 1;
  return static_cast<uint32_t>((lowest + ((choices * random) >> 32)) * 100);
}

std::string FormatWaitSeconds(uint32_t milliseconds) {
  const uint32_t tenths = milliseconds / 100;
  return tenths % 10 == 0 ? FormatText("%u", tenths / 10) : FormatText("%u.%u", tenths / 10, tenths % 10);
}

std::optional<uint64_t> ParseLength(const std::string& text) {
  size_t at = 0;
  uint64_t value = 0;
  if (!ReadNumber(text, at, value) || at != text.size()) return std::nullopt;
  return value;
}

long RetryAfterSeconds(const std::string& retryAfter) {
  size_t at = 0;
  uint64_t delay = 0;
  if (!ReadNumber(retryAfter, at, delay) || at != retryAfter.size()) return -1;
  return static_cast<long>(delay < kMaxRetryAfterSeconds ? delay : kMaxRetryAfterSeconds);
}

bool IsRetryableStatus(long status) { return status == 408 || status == 429 || (status >= 500 && status <= 599); }

std::optional<ContentRange> ParseContentRange(const std::string& text) {
  if (text.compare(0, 6, "bytes ") != 0) return std::nullopt;
  size_t at = 6;
  ContentRange range;
  if (!ReadNumber(text, at, range.first) || at >= text.size() || text[at++] != '-') return std::nullopt;
  if (!ReadNumber(text, at, range.last) || at >= text.size() || text[at++] != '/') return std::nullopt;
  if (!ReadNumber(text, at, range.complete) || at != text.size()) return std::nullopt;
  if (range.first > range.last || range.last >= range.complete) return std::nullopt;
  return range;
}

bool MayAppendPartial(const PartialAnswer& answer, uint64_t from, uint64_t length, const std::string& validator) {
  const std::optional<ContentRange> range = ParseContentRange(answer.contentRange);
  if (!range || range->first != from || range->complete != length || range->last + 1 != length) return false;
  if (answer.lengthKnown && answer.contentLength != length - from) return false;
  return answer.validator == validator;
}

NextStep DecideNextStep(const FailedAttempt& failed, uint32_t random) {
  NextStep next;
  if (failed.retryable && !failed.notFound && failed.attempt < failed.attempts) {
    next.kind = NextStep::kRetry;
    // A link that carried bytes before it broke is not a server that is down: the waits start
    // again from the shortest, so a connection cut every few minutes costs seconds, not minutes.
    next.waits = failed.bytesReceived ? 1 : failed.waits + 1;
    next.milliseconds = SpreadWaitMs(BackOffSeconds(next.waits), random);
    if (failed.retryAfter >= 0) {
      next.milliseconds = std::max(next.milliseconds, static_cast<uint32_t>(failed.retryAfter) * 1000);
    }
    return next;
  }
  if (failed.mirrorLeft && (failed.retryable || failed.notFound)) next.kind = NextStep::kMirror;
  return next;
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
  return etag.size() >= 2 && etag.front() == '"' && etag.back() == '"' ? etag : lastModified;
}

std::string ResumeHeaders(uint32_t from, const std::string& validator) {
  return FormatText("Range: bytes=%u-\r\nIf-Range: ", from) + validator + "\r\n";
}
