#include "util/profile_text.h"

#include "util/text.h"

namespace {
const char kUtf8Mark[] = "\xEF\xBB\xBF";

std::string WithoutQuotes(const std::string& value) {
  const bool quoted =
      value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}

// The lines of `text`, each trimmed.
std::vector<std::string> TrimmedLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = text.compare(0, 3, kUtf8Mark) == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(TrimWhitespace(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

// Whether `line` opens a section; its name in `name` when it does.
bool IsSectionHeader(const std::string& line, std::string& name) {
  const size_t close = line.rfind(']');
  if (line.empty() || line[0] != '[' || close == std::string::npos) return false;
  name = line.substr(1, close - 1);
  return true;
}
}  // namespace

std::string ProfileValue(const std::string& text, const std::string& section, const std::string& key) {
  bool inSection = false;
  bool sectionSeen = false;
  std::string name;
  for (const std::string& line : TrimmedLines(text)) {
    if (IsSectionHeader(line, name)) {
      // Only the first section of the name is ever read.
      if (sectionSeen) return std::string();
      inSection = EqualsIgnoreCaseAscii(name, section.c_str());
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

int ProfileSectionCount(const std::string& text, const std::string& section) {
  int count = 0;
  std::string name;
  for (const std::string& line : TrimmedLines(text)) {
    if (IsSectionHeader(line, name) && EqualsIgnoreCaseAscii(name, section.c_str())) ++count;
  }
  return count;
}

std::vector<std::string> ProfileKeys(const std::string& text, const std::string& section) {
  std::vector<std::string> keys;
  bool inSection = false;
  std::string name;
  for (const std::string& line : TrimmedLines(text)) {
    if (IsSectionHeader(line, name)) {
      if (inSection) break;
      inSection = EqualsIgnoreCaseAscii(name, section.c_str());
      continue;
    }
    const size_t equals = line.find('=');
    if (inSection && equals != std::string::npos && line[0] != ';') {
      keys.push_back(TrimWhitespace(line.substr(0, equals)));
    }
  }
  return keys;
}
