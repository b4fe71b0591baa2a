#include "framework/format.h"

#include <cstdarg>
#include <cstdio>

namespace {
template <typename Char>
std::basic_string<Char> ReplacePlaceholders(const std::basic_string<Char>& pattern, const Char* arg1,
                                            const Char* arg2) {
  std::basic_string<Char> out;
  out.reserve(pattern.size() + 32);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      const Char* arg = pattern[i + 1] == '1' ? arg1 : pattern[i + 1] == '2' ? arg2 : nullptr;
      if (arg != nullptr) {
        out += arg;
        ++i;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}
}  // namespace

std::string FormatPlaceholders(const std::string& pattern, const char* arg1, const char* arg2) {
  return ReplacePlaceholders(pattern, arg1, arg2);
}

std::wstring FormatPlaceholders(const std::wstring& pattern, const wchar_t* arg1, const wchar_t* arg2) {
  return ReplacePlaceholders(pattern, arg1, arg2);
}

namespace {
#ifdef _WIN32
// The system's msvcrt formatter: mingw's C99 one would add some 18 KB to the executable, and the
// product's formats (%d, %u, %ld, %s, %.3d, %02u, %0.Nf) mean the same to both.
int CountFormatted(const char* format, va_list args) { return _vscprintf(format, args); }
void WriteFormatted(char* buffer, size_t size, const char* format, va_list args) {
  _vsnprintf(buffer, size, format, args);
}
#else
int CountFormatted(const char* format, va_list args) { return vsnprintf(nullptr, 0, format, args); }
void WriteFormatted(char* buffer, size_t size, const char* format, va_list args) {
  vsnprintf(buffer, size, format, args);
}
#endif
}  // namespace

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = CountFormatted(format, args);
  va_end(args);
  std::string out;
  if (needed > 0) {
    out.resize(static_cast<size_t>(needed) + 1);
    WriteFormatted(&out[0], out.size(), format, again);
    out.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  return out;
}
