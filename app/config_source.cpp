#include "app/config_source.h"

#include <vector>

#include "framework/format.h"
#include "util/text.h"

bool IsHttpLocation(const std::string& location) {
  return location.compare(0, 4, "http") == 0 && location.find('/') != std::string::npos;
}

std::string RewriteQaUrl(const std::string& url, const std::string& qaVersion) {
  std::vector<std::string> fields;
  if (SplitString(url, fields, '/') < 5) return url;
  return FormatText("%s//%s/QA/%s/%s/%s", fields[0].c_str(), fields[2].c_str(), fields[3].c_str(), qaVersion.c_str(),
                    fields[4].c_str());
}

std::string TrimLocalLocation(const std::string& location) { return TrimChars(location, " \\"); }

std::string LocalPackageName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }
