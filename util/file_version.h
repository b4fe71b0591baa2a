#pragma once

#include <cstdint>
#include <string>

// The dotted product version "%u.%02u.%02u.%02u" of the two product-version words, most
// significant first: 6.10.18.1 gives "6.10.18.01".
std::string FormatProductVersion(uint32_t versionMs, uint32_t versionLs);

// The product version of the file's version information, or "0" when the file has none or it
// cannot be read. (Win32 only.)
std::string GetFileVersionString(const char* path);
