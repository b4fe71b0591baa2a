#include "util/profile_text.h"

#include "util/text.h"

namespace {
const char kUtf8Mark[] = "\xEF\xBB\xBF";

std::string WithoutQuotes(const std::string& value) {
  const bool quoted =
      value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}
}  // namespace

std::string ProfileValue(const std::string& text, const std::string& section, const std::string& key) {
  bool inSection = false;
  bool sectionSeen = false;
  size_t start = text.compare(0, 3, kUtf8Mark) == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = TrimWhitespace(text.substr(start, end - start));
    start = end + 1;
    const size_t close = line.rfind(']');
    if (!line.empty() && line[0] == '[' && close != std::string::npos) {
      // Only the first section of the name is ever read.
      if (sectionSeen) return std::string();
      inSection = EqualsIgnoreCaseAscii(line.substr(1, close - 1), section.c_str());
      sectionSeen = inSection;
      continue;
    }
    const size_t equals = line.find('=');
    if (inSection && equals != std::string::npos &&
        EqualsIgnoreCaseAscii(TrimWhitespace(line.substr(0, equals)), key.c_str())) {
      return WithoutQuotes(TrimWhitespace(line.substr(equals + 1)));
    }
  }
  return std::string();
}
