// Reading a value from an INI text without the operating system, the way GetPrivateProfileStringA
// reads it from a file holding that text, so that a tool sees a configuration as the installer does.
#pragma once

#include <string>
#include <vector>

// Lines end at CR or LF and are trimmed of white space; a leading UTF-8 byte-order mark is skipped.
// A line is a section header only when it begins with "[" and holds a "]": the name is what stands
// between the "[" and the last "]". A "[" line without one belongs to the section before it.

// The value of `key` in `section` of `text`: the first section of that name (case-insensitive)
// and in it the first line whose key matches (case-insensitive), both trimmed of white space; the
// value after the first "=", trimmed, and without one pair of enclosing quotes ('...' or "...").
// "" when absent.
std::string ProfileValue(const std::string& text, const std::string& section, const std::string& key);

// How many sections of `text` are named `section` (case-insensitive).
int ProfileSectionCount(const std::string& text, const std::string& section);

// The keys of the first section named `section`, trimmed, in their order; a key given twice is
// listed twice. Comment lines (";" first) are not keys.
std::vector<std::string> ProfileKeys(const std::string& text, const std::string& section);
