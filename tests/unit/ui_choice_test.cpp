// The choice of the language shown, from the user's preferred languages and the tables present.
#include "framework/ui_choice.h"

#include <gtest/gtest.h>

namespace {

struct ChoiceCase {
  const char* name;
  std::vector<LanguageId> preferred;
  std::vector<LanguageId> available;
  LanguageId chosen;
};

const std::vector<LanguageId> kTables = {0x0407, 0x0416, 0x0419, 0x0411, 0x0804};

const ChoiceCase kCases[] = {
    {"exact table", {0x0419}, kTables, 0x0419},
    {"same primary language: de-AT shows de-DE", {0x0C07}, kTables, 0x0407},
    {"same primary language: pt-PT shows pt-BR", {0x0816}, kTables, 0x0416},
    {"the first preferred with a table wins over later ones", {0x040C, 0x0411, 0x0407}, kTables, 0x0411},
    {"English first keeps English though a later one has a table", {0x0809, 0x0407}, kTables, 0x0409},
    {"no preferred language has a table", {0x040C, 0x0410}, kTables, 0x0409},
    {"nothing preferred", {}, kTables, 0x0409},
    {"no tables", {0x0419}, {}, 0x0409},
    {"exact before same primary: zh-TW table listed first", {0x0804}, {0x0404, 0x0804}, 0x0804},
    {"same primary takes the first listed", {0x0C04}, {0x0404, 0x0804}, 0x0404},
    {"a later exact match does not beat an earlier preferred's primary match", {0x0C07, 0x0419}, kTables, 0x0407},
};

TEST(UiLanguageChoice, FirstPreferredWithATableExactThenSamePrimaryElseEnglish) {
  for (const ChoiceCase& c : kCases) {
    EXPECT_EQ(ChooseUiLanguage(c.preferred, c.available), c.chosen) << c.name;
  }
}

}  // namespace
