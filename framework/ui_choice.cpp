#include "framework/ui_choice.h"

namespace {
constexpr LanguageId kPrimaryMask = 0x03FF;

LanguageId Primary(LanguageId id) { return static_cast<LanguageId>(id & kPrimaryMask); }
}  // namespace

LanguageId ChooseUiLanguage(const std::vector<LanguageId>& preferred, const std::vector<LanguageId>& available) {
  for (const LanguageId wanted : preferred) {
    // English is the neutral table itself: a user who asks for it first gets it, not a later choice.
    if (Primary(wanted) == Primary(kEnglishLanguage)) return kEnglishLanguage;
    // Plain loops: the library's search is unrolled four times over (0.3 KB for these two).
    for (const LanguageId id : available) {
      if (id == wanted) return wanted;
    }
    for (const LanguageId id : available) {
      if (Primary(id) == Primary(wanted)) return id;
    }
  }
  return kEnglishLanguage;
}
