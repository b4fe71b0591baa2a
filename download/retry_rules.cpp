#include "download/retry_rules.h"

#include "framework/format.h"

namespace {
// Reads one or more decimal digits at `text[at]`, advancing `at`; false when there is none or the
// number would pass 2^53.
bool ReadNumber(const std::string& text, size_t& at, uint64_t& value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (value > (uint64_t{1} << 53) / 10) return false;
    value = value * 10 + static_cast<uint64_t>(text[at++] - '0');
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

bool MayAppendPartial(const PartialAnswer& answer, uint32_t from, uint32_t length, const std::string& validator) {
  const std::optional<ContentRange> range = ParseContentRange(answer.contentRange);
  if (!range || range->first != from || range->complete != length || range->last + 1 != length) return false;
  if (answer.lengthKnown && answer.contentLength != length - from) return false;
  return answer.validator.empty() || answer.validator == validator;
}

NextStep DecideNextStep(const FailedAttempt& failed) {
  NextStep next;
  if (failed.retryable && !failed.notFound && failed.attempt < failed.attempts) {
    next.kind = NextStep::kRetry;
    // A link that carried bytes before it broke is not a server that is down: the waits start
    // again from the shortest, so a connection cut every few minutes costs seconds, not minutes.
    next.waits = failed.bytesReceived ? 1 : failed.waits + 1;
    next.seconds = failed.retryAfter >= 0 ? static_cast<uint32_t>(failed.retryAfter) : BackOffSeconds(next.waits);
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
