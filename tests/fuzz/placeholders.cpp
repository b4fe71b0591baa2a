// "%1"/"%2" formatting: the input, cut at NUL bytes, is the pattern, the first and the second
// argument; a missing argument is null.
#include "framework/format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool HasPlaceholder(const std::string& text) {
  return text.find("%1") != std::string::npos || text.find("%2") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> texts = SplitAtNul(data, size);
  const std::string& pattern = texts[0];
  const char* arg1 = texts.size() > 1 ? texts[1].c_str() : nullptr;
  const char* arg2 = texts.size() > 2 ? texts[2].c_str() : nullptr;
  const std::string out = FormatPlaceholders(pattern, arg1, arg2);

  // Null arguments leave their placeholders; a text without placeholders passes unchanged.
  FUZZ_CHECK(FormatPlaceholders(pattern, nullptr, nullptr) == pattern);
  if (!HasPlaceholder(pattern)) FUZZ_CHECK(out == pattern);
  // Inserted arguments are not scanned again: a placeholder that inserts itself changes nothing.
  FUZZ_CHECK(FormatPlaceholders(pattern, "%1", "%2") == pattern);

  // Which placeholders are replaced depends on the pattern alone, so the length grows by each
  // argument's length once per replaced placeholder.
  const size_t bare = FormatPlaceholders(pattern, "", "").size();
  FUZZ_CHECK(bare <= pattern.size() && (pattern.size() - bare) % 2 == 0);
  const size_t count1 = FormatPlaceholders(pattern, "x", "").size() - bare;
  const size_t count2 = FormatPlaceholders(pattern, "", "x").size() - bare;
  FUZZ_CHECK(2 * (count1 + count2) == pattern.size() - bare);
  if (arg1 != nullptr && arg2 != nullptr) {
    FUZZ_CHECK(out.size() == bare + count1 * texts[1].size() + count2 * texts[2].size());
  }

  // With both arguments given, neither holding a "%" nor starting with a placeholder digit and
  // neither empty, no placeholder survives. (A literal "%%1" with the argument "1" gives "%1"
  // honestly: the "%" before the placeholder is the pattern's own.)
  const auto plain = [](const char* arg) {
    return arg != nullptr && arg[0] != '\0' && arg[0] != '1' && arg[0] != '2' && std::strchr(arg, '%') == nullptr;
  };
  if (plain(arg1) && plain(arg2)) FUZZ_CHECK(!HasPlaceholder(out));
  return 0;
}
