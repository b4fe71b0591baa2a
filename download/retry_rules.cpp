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

bool ParseContentRange(const std::string& text, uint64_t& first, uint64_t& complete) {
  if (text.compare(0, 6, "bytes ") != 0) return false;
  size_t at = 6;
  uint64_t last = 0;
  if (!ReadNumber(text, at, first) || at >= text.size() || text[at++] != '-') return false;
  if (!ReadNumber(text, at, last) || at >= text.size() || text[at++] != '/') return false;
  if (!ReadNumber(text, at, complete) || at != text.size()) return false;
  return first <= last && last < complete;
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
  return etag.size() >= 2 && etag.front() == '"' && etag.back() == '"' ? etag : lastModified;
}

std::string ResumeHeaders(uint32_t from, const std::string& validator) {
  return FormatText("Range: bytes=%u-\r\nIf-Range: ", from) + validator + "\r\n";
}
