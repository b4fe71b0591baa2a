#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/admin_message.h"

namespace {

const std::string kMessage(kAdminRequiredMessage, sizeof kAdminRequiredMessage - 1);

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n')
      lines.emplace_back();
    else
      lines.back() += c;
  }
  return lines;
}

TEST(AdminMessage, ElevenLinesJoinedBySingleLineFeeds) {
  EXPECT_EQ(kMessage.size(), 547u);
  EXPECT_EQ(kMessage.find('\0'), std::string::npos);
  EXPECT_EQ(kMessage.find('\r'), std::string::npos);
  EXPECT_NE(kMessage.back(), '\n');
  EXPECT_EQ(Lines(kMessage).size(), 11u);
}

TEST(AdminMessage, EachLineByteForByte) {
  const std::string expected[] = {
      "We\x92re sorry, but you need to be logged in as an Administrator to install this security "
      "software.",
      "",
      "Here\x92s what you need to do in order to get full protection from Ostravane with free "
      "Anti-Virus:",
      "",
      "1. Click the \x93OK\x94 button below",
      "2. Log off of Windows",
      "3. Log back in to Windows as an \x93"
      "Admin\x94 user",
      std::string(3, ' ') + "(a user with Administrator privileges)" + std::string(52, ' '),
      "4. Re-start this install process",
      "",
      "Thanks for your understanding \x96 this is the only way that we can protect you against "
      "spyware, viruses "
      "and other cyber-threats.",
  };
  const std::vector<std::string> lines = Lines(kMessage);
  ASSERT_EQ(lines.size(), std::size(expected));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
  EXPECT_EQ(lines[7].size(), 3u + 38u + 52u);
}

TEST(AdminMessage, TypographicCharactersAreWindows1252Bytes) {
  // Each special byte with the text that follows each of its occurrences, in order.
  const std::vector<std::pair<unsigned char, std::vector<std::string>>> cases = {
      {0x92, {"re sorry", "s what"}},     // apostrophes
      {0x93, {"OK", "Admin"}},            // opening quotation marks
      {0x94, {" button", " user"}},       // closing quotation marks
      {0x96, {" this is the only way"}},  // the dash
  };
  for (const auto& [byte, followers] : cases) {
    std::vector<size_t> at;
    for (size_t i = kMessage.find(static_cast<char>(byte)); i != std::string::npos;
         i = kMessage.find(static_cast<char>(byte), i + 1))
      at.push_back(i);
    ASSERT_EQ(at.size(), followers.size()) << std::hex << int(byte);
    for (size_t k = 0; k < at.size(); ++k)
      EXPECT_EQ(kMessage.compare(at[k] + 1, followers[k].size(), followers[k]), 0) << std::hex << int(byte);
  }
  size_t high = 0;
  for (char c : kMessage) high += static_cast<unsigned char>(c) >= 0x80;
  EXPECT_EQ(high, 7u) << "no other byte outside ASCII";
}

}  // namespace
