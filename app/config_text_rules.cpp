#include "app/config_text_rules.h"

#include <string>
#include <utility>
#include <vector>

#include "app/config_rules.h"
#include "framework/ascii.h"
#include "framework/format.h"
#include "util/profile_text.h"

namespace {
ConfigTextVerdict Refuse(std::string key, std::string refusal, bool installerRefuses = false) {
  return {std::move(key), std::move(refusal), installerRefuses};
}
}  // namespace

ConfigTextVerdict JudgeConfigText(const std::string& text) {
  if (text.find('\0') != std::string::npos)
    return Refuse("", "the configuration holds a NUL byte: the installer reads only the text before it");
  // Which of two the reader takes is nothing to rely on.
  if (ProfileSectionCount(text, kConfigSection) > 1)
    return Refuse("", FormatText("the configuration has more than one [%s] section", kConfigSection));
  const std::vector<std::string> keys = ProfileKeys(text, kConfigSection);
  for (size_t i = 0; i < keys.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (EqualsIgnoreCaseAscii(keys[i], keys[j].c_str()))
        return Refuse(keys[i], FormatText("the configuration sets %s twice in [%s]", keys[i].c_str(), kConfigSection));
    }
  }

  const ProfileTextLookup lookup(text);
  for (const NativeMachine machine : {NativeMachine::kX64, NativeMachine::kX86, NativeMachine::kArm64}) {
    const ConfigJudgement judgement = JudgeConfig(lookup, machine);
    if (!judgement.MalformedKey().empty())
      return Refuse(judgement.MalformedKey(),
                    FormatText("%s: %s", MalformedValueText(judgement.MalformedKey()).c_str(), judgement.why.c_str()),
                    true);
  }
  for (const std::string& key : keys) {
    const size_t length = lookup.Value(key.c_str()).size();
    if (length > kLongestConfigValue) {
      return Refuse(key, FormatText("the value of %s is %lu characters long; the installer's reader takes at most %lu",
                                    key.c_str(), static_cast<unsigned long>(length),
                                    static_cast<unsigned long>(kLongestConfigValue)));
    }
  }
  return ConfigTextVerdict();
}
