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
    m_switches[lower] = "TRUE";
    m_strPendingSwitch = lower;
  } else if (!m_strPendingSwitch.empty()) {
    m_switches[m_strPendingSwitch] = param;
    m_strPendingSwitch.clear();
  }
  CCommandLineInfo::ParseParam(param, bFlag, bLast);
}

BOOL CFlagCommandLineInfo::LookupSwitch(const char* name, std::string& value) const {
  const auto found = m_switches.find(name);
  if (found == m_switches.end()) return 0;
  value = found->second;
  return 1;
}

CommandLineResults ReadCommandLineResults(const CFlagCommandLineInfo& info) {
  CommandLineResults results;
  results.qaMode = ReadSwitchValue(info, "qa", results.qa) ? 1 : 0;
  ReadSwitchValue(info, "ac", results.ac);
  return results;
}
