// Which language the installer's texts are shown in, decided from the user's preferred UI
// languages and the string tables the executable holds. Portable: no system call.
#pragma once

#include <cstdint>
#include <vector>

using LanguageId = uint16_t;  // a Windows LANGID: primary language in the low 10 bits

// The language of the neutral table, shown when no preferred language has a table.
constexpr LanguageId kEnglishLanguage = 0x0409;

// The first of `preferred` (in the user's order) with a table in `available`: its exact id, else
// the first of `available` with the same primary language. kEnglishLanguage when none has one;
// English in any form chooses English. `available` need not list English.
LanguageId ChooseUiLanguage(const std::vector<LanguageId>& preferred, const std::vector<LanguageId>& available);
