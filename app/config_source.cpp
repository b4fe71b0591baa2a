#include "app/config_source.h"

#include <vector>

#include "util/text.h"

bool IsHttpLocation(const std::string& location) {
  return location.compare(0, 4, "http") == 0 && location.find('/') != std::string::npos;
}

std::string RewriteQaUrl(const std::string& url, const std::string& qaVersion) {
  std::vector<std::string> fields;
  if (SplitString(url, fields, '/') < 5) return url;
  return fields[0] + "//" + fields[2] + "/QA/" + fields[3] + "/" + qaVersion + "/" + fields[4];
}

std::string TrimLocalLocation(const std::string& location) { return TrimChars(location, " \\"); }

std::string LocalPackageName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }
