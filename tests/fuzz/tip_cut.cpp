// The tray's text cut. The first byte gives the field size (1 to 256), the next 32 bytes the set of
// lead bytes (one bit per byte value), the rest, up to a NUL, the text.
#include "tests/fuzz/fuzz_support.h"
#include "tray/tip_text.h"

namespace {

uint8_t g_leadBits[32];

bool IsLead(unsigned char byte) { return (g_leadBits[byte / 8] >> (byte % 8) & 1) != 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  const size_t fieldSize = static_cast<size_t>(in.U8()) + 1;
  for (uint8_t& bits : g_leadBits) bits = in.U8();
  const std::string rest = in.Rest();
  const std::string text = rest.substr(0, rest.find('\0'));

  // Exact-size buffers, so that a read or write past either end is caught.
  std::vector<char> source(text.begin(), text.end());
  source.push_back('\0');
  std::vector<char> field(fieldSize, '\x55');
  const size_t copied = CopyTextCut(field.data(), fieldSize, source.data(), IsLead);

  const size_t room = fieldSize - 1;
  FUZZ_CHECK(copied <= room && field[copied] == '\0');
  FUZZ_CHECK(std::memcmp(field.data(), text.data(), copied) == 0);
  if (text.size() <= room) {
    FUZZ_CHECK(copied == text.size());
  } else {
    // The cut falls between characters, and the next character would not have fitted.
    size_t at = 0;
    while (at < copied) at += IsLead(static_cast<unsigned char>(text[at])) ? 2 : 1;
    FUZZ_CHECK(at == copied);
    FUZZ_CHECK(copied + (IsLead(static_cast<unsigned char>(text[copied])) ? 2 : 1) > room);
  }

  std::vector<char> empty(fieldSize, '\x55');
  FUZZ_CHECK(CopyTextCut(empty.data(), fieldSize, nullptr, IsLead) == 0 && empty[0] == '\0');
  return 0;
}
