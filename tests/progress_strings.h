// The texts of the installer's string table that the progress display formats, for the native tests
// and fuzz targets (the Win32 tests read the real table from setup.exe).
#pragma once

#include <map>
#include <string>

#include "res/resource.h"

inline std::string LoadProgressString(unsigned id) {
  static const std::map<unsigned, std::string> table = {
      {IDS_BYTES_OF, "%1 of %2"},
      {IDS_SECONDS, "%1 sec"},
      {IDS_MINUTES, "%1 min"},
      {IDS_MINUTES_SECONDS, "%1 min %2 sec"},
      {IDS_BYTES, "%1 Bytes"},
      {IDS_KILOBYTES, "%1 KB"},
      {IDS_MEGABYTES, "%1 MB"},
      {IDS_TIME_LEFT_LINE, "%1 (%2 copied)"},
      {IDS_BYTES_PER_SEC, "%1 Bytes/Sec"},
      {IDS_KB_PER_SEC, "%1 KB/Sec"},
  };
  const auto found = table.find(id);
  return found == table.end() ? std::string() : found->second;
}
