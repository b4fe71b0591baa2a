#include "util/text.h"

namespace {
constexpr int kMaxJoinedParts = 10;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
}  // namespace

const std::string& JoinPath(std::string& result, const std::string& first, std::initializer_list<const char*> parts) {
  std::string joined = first;
  int used = 0;
  for (const char* part : parts) {
    if (part == nullptr || *part == '\0' || used++ == kMaxJoinedParts) break;
    if (joined.empty()) continue;
    if (joined.back() == '\\') {
      if (IsSeparator(*part)) joined.pop_back();
    } else if (!IsSeparator(*part)) {
      joined += '\\';
    }
    joined += part;
  }
  result = joined;
  return result;
}

int SplitString(const std::string& text, std::vector<std::string>& fields, char separator) {
  if (text.empty()) return 0;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    fields.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  fields.push_back(text.substr(start));
  return static_cast<int>(fields.size());
}

std::string TrimChars(const std::string& text, const char* set) {
  const size_t begin = text.find_first_not_of(set);
  if (begin == std::string::npos) return std::string();
  const size_t end = text.find_last_not_of(set);
  return text.substr(begin, end - begin + 1);
}

std::string TrimWhitespace(const std::string& text) { return TrimChars(text, " \t\r\n\v\f"); }
