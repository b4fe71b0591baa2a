#include "framework/command_line.h"

void CCommandLineInfo::ParseParam(const char* param, BOOL bFlag, BOOL /*bLast*/) {
  if (!bFlag && m_strFileName.empty()) m_strFileName = param;
}

void FeedCommandLine(int argc, const char* const* argv, CCommandLineInfo& info) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i] != nullptr ? argv[i] : "";
    const bool isSwitch = arg[0] == '/' || arg[0] == '-';
    info.ParseParam(isSwitch ? arg + 1 : arg, isSwitch, i == argc - 1);
  }
}
