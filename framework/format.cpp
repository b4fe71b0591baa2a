#include "framework/format.h"

#include <cstdarg>
#include <cstdio>

std::string FormatPlaceholders(const std::string& pattern, const char* arg1, const char* arg2) {
  std::string out;
  out.reserve(pattern.size() + 32);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      const char* arg = pattern[i + 1] == '1' ? arg1 : pattern[i + 1] == '2' ? arg2 : nullptr;
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

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[256];
  int needed = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  if (needed < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
  } else {
    out.resize(static_cast<size_t>(needed) + 1);
    vsnprintf(&out[0], out.size(), format, again);
    out.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  return out;
}
