#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tray/tip_text.h"

namespace {

// Lead bytes of a Shift-JIS-like double-byte code page; trail bytes may fall in the same range.
bool ShiftJisLead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }
bool NoLead(unsigned char) { return false; }

struct CutCase {
  const char* name;
  std::string text;
  std::size_t fieldSize;
  LeadBytePredicate isLead;
  std::string expected;
};

std::string Repeat(const std::string& piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(CopyTextCut, CutsToTheFieldWithoutSplittingACharacter) {
  const std::string a126 = std::string(126, 'a');
  const CutCase cases[] = {
      {"empty", "", 128, ShiftJisLead, ""},
      {"fits exactly", std::string(127, 'a'), 128, ShiftJisLead, std::string(127, 'a')},
      {"200 bytes to 127", std::string(200, 'a'), 128, ShiftJisLead, std::string(127, 'a')},
      {"pair across the limit is left out", a126 + "\x82\xA0xyz", 128, ShiftJisLead, a126},
      {"pair ending at the limit stays", std::string(125, 'a') + "\x82\xA0xyz", 128, ShiftJisLead,
       std::string(125, 'a') + "\x82\xA0"},
      // Byte 126 is a trail byte with a lead byte's value: only a walk from the start sees that
      // the pair at 125..126 is whole.
      {"trail byte that looks like a lead", "a" + Repeat("\x81\x81", 100), 128, ShiftJisLead,
       "a" + Repeat("\x81\x81", 63)},
      {"single-byte code page cuts anywhere", std::string(200, '\x82'), 128, NoLead, std::string(127, '\x82')},
      {"a text that fits is not touched", "abc\x81", 128, ShiftJisLead, "abc\x81"},
      {"title field", std::string(100, 't'), 64, ShiftJisLead, std::string(63, 't')},
      {"balloon field", std::string(300, 'b'), 256, ShiftJisLead, std::string(255, 'b')},
      {"one-byte field holds only the terminator", "abc", 1, ShiftJisLead, ""},
  };
  for (const CutCase& c : cases) {
    std::string field(c.fieldSize, '#');
    const std::size_t copied = CopyTextCut(&field[0], c.fieldSize, c.text.c_str(), c.isLead);
    EXPECT_EQ(copied, c.expected.size()) << c.name;
    EXPECT_EQ(std::string(field.c_str()), c.expected) << c.name;
  }
}

TEST(CopyTextCut, NullTextGivesAnEmptyField) {
  char field[64];
  std::memset(field, '#', sizeof field);
  EXPECT_EQ(CopyTextCut(field, sizeof field, nullptr, ShiftJisLead), 0u);
  EXPECT_EQ(field[0], '\0');
}

}  // namespace
