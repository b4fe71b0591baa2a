// The decisions of a download that is tried again: how many further attempts the configuration
// gives, how long to wait before each, which answers count as failed attempts, and when a further
// attempt may resume the file where it stands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

constexpr int kMaxRetries = 10;
// The longest wait a server's Retry-After gets.
constexpr uint32_t kMaxRetryAfterSeconds = 60;

// The value of "Retries": "" is 0; "0" to "10" is that number. Anything else answers false and
// leaves `retries` as it was.
bool ParseRetries(const std::string& text, int& retries);

// The step of the wait before further attempt `n` (1 for the first), in seconds: 2, 4, 8, 16, then
// 30 for ever.
uint32_t BackOffSeconds(int n);

// The wait within step `seconds`, in milliseconds: a whole tenth of a second from half the step to
// the whole of it, picked by `random` (a uniform 32-bit number: 0 gives half, 0xFFFFFFFF the whole).
// Installers that lost the same server at the same moment then come back spread out, not together.
uint32_t SpreadWaitMs(uint32_t seconds, uint32_t random);

// A wait as the status line announces it, in seconds: "2", "1.4".
std::string FormatWaitSeconds(uint32_t milliseconds);

// An announced length (Content-Length, a status code): decimal digits only, at most 2^53; empty
// for anything else, a number too large included.
std::optional<uint64_t> ParseLength(const std::string& text);

// The largest package the download takes: its position and the progress are 32-bit counts.
constexpr uint64_t kMaxPackageBytes = 0xFFFFFFFFu;

// What a server's Retry-After asks for, in seconds, at most kMaxRetryAfterSeconds. -1 when it is
// absent or not a number of seconds (a date is not read: the back-off applies instead).
long RetryAfterSeconds(const std::string& retryAfter);

// Answers worth asking again: 408, 429 and every 5xx.
bool IsRetryableStatus(long status);

// What a Content-Range header says of a 206 answer.
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t complete = 0;
};

// "bytes <first>-<last>/<complete>". Empty for a "*" complete length, a range that ends before it
// starts or at or past the complete length, and anything else.
std::optional<ContentRange> ParseContentRange(const std::string& text);

// The headers of a 206 answer that decide whether its body continues the file.
struct PartialAnswer {
  std::string contentRange;
  bool lengthKnown = false;  // whether it announced a Content-Length
  uint64_t contentLength = 0;
  std::string validator;  // ChooseValidator of its ETag and Last-Modified
};

// Whether the body of `answer`, to a request that resumed a `length`-byte file at byte `from`
// with `validator`, may be appended: it must start at `from`, run to the last byte of that same
// length, carry as many bytes as that leaves (when it says), and carry that same validator (an
// answer without one may be of another build).
bool MayAppendPartial(const PartialAnswer& answer, uint64_t from, uint64_t length, const std::string& validator);

// Where a download stands when an attempt failed, and how that attempt failed.
struct FailedAttempt {
  int attempt = 1;             // 1 for the first at this address
  int attempts = 1;            // 1 + the configured further attempts
  int waits = 0;               // back-offs since the transfer last moved on
  bool mirrorLeft = false;     // a mirror is configured and not yet tried
  bool retryable = false;      // the failure may well not happen again
  bool notFound = false;       // a 404: asking the same address again will not help
  bool bytesReceived = false;  // the attempt wrote bytes before it failed
  long retryAfter = -1;        // the seconds the server asked to wait; -1 when it did not say
};

// What follows a failed attempt.
struct NextStep {
  enum Kind { kRetry, kMirror, kGiveUp } kind = kGiveUp;
  int waits = 0;              // kRetry: the back-offs counted so far, this one included
  uint32_t milliseconds = 0;  // kRetry: how long to wait first
};
// `random` spreads the wait within its step (SpreadWaitMs); a server's Retry-After is the least.
NextStep DecideNextStep(const FailedAttempt& failed, uint32_t random);

// The If-Range validator for resuming, from an answer's headers: the ETag when it is strong, else
// Last-Modified, else "" (no resuming).
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);

// The headers of a request that resumes at byte `from` (more than 0) when `validator` still holds.
std::string ResumeHeaders(uint32_t from, const std::string& validator);
