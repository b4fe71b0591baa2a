#include "framework/format.h"
#include "util/file_version.h"

std::string FormatProductVersion(uint32_t versionMs, uint32_t versionLs) {
  return FormatText("%u.%02u.%02u.%02u", static_cast<unsigned>(versionMs >> 16),
                    static_cast<unsigned>(versionMs & 0xFFFF), static_cast<unsigned>(versionLs >> 16),
                    static_cast<unsigned>(versionLs & 0xFFFF));
}
