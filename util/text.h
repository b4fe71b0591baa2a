// Small text helpers on narrow (ANSI) strings.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

// The ASCII case helpers (EqualsIgnoreCaseAscii, LowerAscii) come with the text helpers; they live
// in the framework so that the URL parser below util can use them too.
#include "framework/ascii.h"

// Joins `first` and the further parts with backslash rules and stores the result in `result`
// (also returned). The parts end at the first empty or null one; at most ten are used. Per part:
// an empty accumulator takes nothing; one ending in "\" loses that "\" before a part starting with
// "\" or "/"; one ending in anything else gets a "\" before a part that starts with neither.
const std::string& JoinPath(std::string& result, const std::string& first, std::initializer_list<const char*> parts);

// Appends to `fields` the pieces of `text` between occurrences of `separator` (k separators give
// k + 1 pieces, empty ones included) and returns the array's size afterwards. An empty `text`
// appends nothing and returns 0.
int SplitString(const std::string& text, std::vector<std::string>& fields, char separator);

// Removes the characters of `set` from both ends.
std::string TrimChars(const std::string& text, const char* set);
// Removes white space (space, tab, CR, LF, VT, FF) from both ends.
std::string TrimWhitespace(const std::string& text);
