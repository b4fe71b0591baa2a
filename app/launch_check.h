// The checks a downloaded package must pass before it is started.
#pragma once

#include <cstdint>
#include <string>

// Packages of this size and smaller are refused: a real package is larger.
constexpr uint32_t kLargestRefusedPackage = 1000000;

// A target path holding "\~~" (a backslash and two tildes) is refused: the installer itself ran
// from a name beginning with "~", so the download would have its own kind of name.
bool HasWrongFormatMarker(const std::string& targetPath);
bool IsTooSmallToRun(uint32_t fileSize);
