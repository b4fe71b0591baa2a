// Reading a value from an INI text without the operating system, the way GetPrivateProfileStringA
// reads it from a file holding that text, so that a tool sees a configuration as the installer does.
#pragma once

#include <string>

// The value of `key` in `section` of `text`: the first section of that name (case-insensitive)
// and in it the first line whose key matches (case-insensitive), both trimmed of white space; the
// value after the first "=", trimmed, and without one pair of enclosing quotes ('...' or "...").
// Lines end at CR or LF; a leading UTF-8 byte-order mark is skipped. "" when absent.
std::string ProfileValue(const std::string& text, const std::string& section, const std::string& key);
