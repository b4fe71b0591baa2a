// ASCII case folding for the narrow texts the program compares (switch names, URL schemes, INI
// section and key names). It sits in the framework, not in util, so that the URL parser can use it.
#pragma once

#include <string>

// 'A'..'Z' as 'a'..'z'; every other byte as it is (no code page is consulted).
char LowerAscii(char c);
// `text` with its ASCII letters lower-cased.
std::string LowerAscii(std::string text);
// ASCII-only case-insensitive equality.
bool EqualsIgnoreCaseAscii(const std::string& a, const char* b);
