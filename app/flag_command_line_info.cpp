#include "app/flag_command_line_info.h"

#include "framework/ascii.h"
#include "util/text.h"

namespace {
// A present switch "without a value" and one given the value TRUE mean the same.
bool ReadSwitchValue(const CFlagCommandLineInfo& info, const char* name, std::string& value) {
  if (!info.LookupSwitch(name, value)) return false;
  value = TrimWhitespace(value);
  if (EqualsIgnoreCaseAscii(value, "TRUE")) value.clear();
  return true;
}
}  // namespace

void CFlagCommandLineInfo::ParseParam(const char* param, BOOL bFlag, BOOL bLast) {
  if (param == nullptr) param = "";
  const std::string lower = LowerAscii(param);
  if (bFlag) {
    SwitchValue(lower) = "TRUE";
    m_strPendingSwitch = lower;
  } else if (!m_strPendingSwitch.empty()) {
    SwitchValue(m_strPendingSwitch) = param;
    m_strPendingSwitch.clear();
  }
  CCommandLineInfo::ParseParam(param, bFlag, bLast);
}

BOOL CFlagCommandLineInfo::LookupSwitch(const char* name, std::string& value) const {
  for (size_t i = 0; i < switchNames_.size(); ++i) {
    if (switchNames_[i] == name) {
      value = switchValues_[i];
      return 1;
    }
  }
  return 0;
}

std::string& CFlagCommandLineInfo::SwitchValue(const std::string& name) {
  for (size_t i = 0; i < switchNames_.size(); ++i) {
    if (switchNames_[i] == name) return switchValues_[i];
  }
  switchNames_.emplace_back(std::string(name));
  switchValues_.emplace_back(std::string());
  return switchValues_.back();
}

CommandLineResults ReadCommandLineResults(const CFlagCommandLineInfo& info) {
  CommandLineResults results;
  results.qaMode = ReadSwitchValue(info, "qa", results.qa) ? 1 : 0;
  ReadSwitchValue(info, "ac", results.ac);
  return results;
}
