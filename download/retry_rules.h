// The decisions of a download that is tried again: how many further attempts the configuration
// gives, how long to wait before each, which answers count as failed attempts, and when a further
// attempt may resume the file where it stands.
#pragma once

#include <cstdint>
#include <string>

constexpr int kMaxRetries = 10;
// The longest wait a server's Retry-After gets.
constexpr uint32_t kMaxRetryAfterSeconds = 60;

// The value of "Retries": "" is 0; "0" to "10" is that number. Anything else answers false and
// leaves `retries` as it was.
bool ParseRetries(const std::string& text, int& retries);

// Seconds to wait before further attempt `n` (1 for the first): 2, 4, 8, 16, then 30 for ever.
uint32_t BackOffSeconds(int n);

// What a server's Retry-After asks for, in seconds, at most kMaxRetryAfterSeconds. -1 when it is
// absent or not a number of seconds (a date is not read: the back-off applies instead).
long RetryAfterSeconds(const std::string& retryAfter);

// Answers worth asking again: 408, 429 and every 5xx.
bool IsRetryableStatus(long status);

// "bytes <first>-<last>/<complete>": true with `first` and `complete`. A "*" for the complete
// length, a range that ends before it starts or at or past the complete length, and anything else
// answer false.
bool ParseContentRange(const std::string& text, uint64_t& first, uint64_t& complete);

// The If-Range validator for resuming, from an answer's headers: the ETag when it is strong, else
// Last-Modified, else "" (no resuming).
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);

// The headers of a request that resumes at byte `from` (more than 0) when `validator` still holds.
std::string ResumeHeaders(uint32_t from, const std::string& validator);
