#include "framework/ui_choice.h"

#include <algorithm>

namespace {
constexpr LanguageId kPrimaryMask = 0x03FF;

LanguageId Primary(LanguageId id) { return static_cast<LanguageId>(id & kPrimaryMask); }
}  // namespace

LanguageId ChooseUiLanguage(const std::vector<LanguageId>& preferred, const std::vector<LanguageId>& available) {
  for (const LanguageId wanted : preferred) {
    // English is the neutral table itself: a user who asks for it first gets it, not a later choice.
    if (Primary(wanted) == Primary(kEnglishLanguage)) return kEnglishLanguage;
    if (std::find(available.begin(), available.end(), wanted) != available.end()) return wanted;
    const auto samePrimary = std::find_if(available.begin(), available.end(),
                                          [wanted](LanguageId id) { return Primary(id) == Primary(wanted); });
    if (samePrimary != available.end()) return *samePrimary;
  }
  return kEnglishLanguage;
}
