// Splitting, joining and trimming. The first byte is the split separator; the rest, cut at NUL
// bytes, gives the texts: the first is split, trimmed and is the path to join to; the second is the
// trim set; the second and later ones are the path parts (an empty one ends them, as it does for
// the joiner).
#include "util/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxParts = 12;  // more than the joiner uses, to see the cut at ten

bool In(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

void CheckSplit(const std::string& text, char separator) {
  std::vector<std::string> fields = {"kept"};
  const int count = SplitString(text, fields, separator);
  if (text.empty()) {
    FUZZ_CHECK(count == 0 && fields.size() == 1);
    return;
  }
  FUZZ_CHECK(count == static_cast<int>(fields.size()) && fields[0] == "kept");
  size_t separators = 0;
  for (char c : text) separators += c == separator;
  FUZZ_CHECK(fields.size() - 1 == separators + 1);
  std::string rejoined;
  for (size_t i = 1; i < fields.size(); ++i) {
    FUZZ_CHECK(fields[i].find(separator) == std::string::npos);
    if (i > 1) rejoined += separator;
    rejoined += fields[i];
  }
  FUZZ_CHECK(rejoined == text);
}

// `text` is `set` characters, then `trimmed`, then `set` characters, and `trimmed` neither starts
// nor ends with one of them.
void CheckTrimmed(const std::string& text, const std::string& trimmed, const char* set) {
  const size_t at = text.find(trimmed);
  FUZZ_CHECK(at != std::string::npos);
  if (trimmed.empty()) {
    for (char c : text) FUZZ_CHECK(In(c, set));
    return;
  }
  FUZZ_CHECK(!In(trimmed.front(), set) && !In(trimmed.back(), set));
  for (size_t i = 0; i < at; ++i) FUZZ_CHECK(In(text[i], set));
  for (size_t i = at + trimmed.size(); i < text.size(); ++i) FUZZ_CHECK(In(text[i], set));
}

void CheckJoin(const std::string& first, const std::vector<std::string>& parts) {
  const char* p[kMaxParts] = {};
  size_t used = 0;    // the parts the joiner takes: up to the first empty one, at most ten
  size_t length = 0;  // their total length
  for (size_t i = 0; i < parts.size() && i < kMaxParts; ++i) p[i] = parts[i].c_str();
  while (used < 10 && p[used] != nullptr && *p[used] != '\0') length += std::strlen(p[used++]);

  std::string result = "stale";
  const std::string& returned =
      JoinPath(result, first, {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11]});
  FUZZ_CHECK(&returned == &result);
  if (first.empty()) {
    FUZZ_CHECK(result.empty());
    return;
  }
  FUZZ_CHECK(result.size() <= first.size() + length + used);
  FUZZ_CHECK(result.size() + used >= first.size() + length);

  // Joining part by part gives the same path, and the result may be its own first argument.
  std::string stepwise = first;
  for (size_t i = 0; i < used; ++i) JoinPath(stepwise, stepwise, {p[i]});
  FUZZ_CHECK(stepwise == result);
  if (used == 0) {
    FUZZ_CHECK(result == first);
    return;
  }
  // One joint: exactly one backslash or the part's own separator between the two.
  std::string one;
  JoinPath(one, first, {p[0]});
  const bool endsWithBackslash = first.back() == '\\';
  const bool startsWithSeparator = IsSeparator(p[0][0]);
  const std::string head = endsWithBackslash && startsWithSeparator     ? first.substr(0, first.size() - 1)
                           : !endsWithBackslash && !startsWithSeparator ? first + "\\"
                                                                        : first;
  FUZZ_CHECK(one == head + p[0]);
  const std::string last = p[used - 1];
  FUZZ_CHECK(result.size() >= last.size() && result.compare(result.size() - last.size(), last.size(), last) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char separator = static_cast<char>(data[0]);
  const std::vector<std::string> texts = SplitAtNul(data + 1, size - 1);
  if (texts.size() > kMaxParts + 1) return 0;
  const std::string& text = texts[0];

  CheckSplit(text, separator);

  const char* set = texts.size() > 1 ? texts[1].c_str() : " \\";
  const std::string trimmed = TrimChars(text, set);
  CheckTrimmed(text, trimmed, set);
  FUZZ_CHECK(TrimChars(trimmed, set) == trimmed);
  const std::string bare = TrimWhitespace(text);
  CheckTrimmed(text, bare, " \t\r\n\v\f");

  std::string lower = text;
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  FUZZ_CHECK(EqualsIgnoreCaseAscii(text, lower.c_str()));
  FUZZ_CHECK(EqualsIgnoreCaseAscii(text, set) == EqualsIgnoreCaseAscii(set, text.c_str()));

  CheckJoin(text, std::vector<std::string>(texts.begin() + 1, texts.end()));
  return 0;
}
