// The command-line feed: each argument after the program name goes, in order, to a parser object.
#pragma once

#include <string>

#include "framework/types.h"

// Receives the arguments one by one. The base keeps the first plain parameter as the file name.
class CCommandLineInfo {
public:
  virtual ~CCommandLineInfo() = default;
  // `param` is the argument, without its leading "/" or "-" when `bFlag` is set; `bLast` is set for
  // the final argument only.
  virtual void ParseParam(const char* param, BOOL bFlag, BOOL bLast);

  std::string m_strFileName;
};

// Feeds argv[1..argc-1] to `info`: an argument starting with "/" or "-" is a switch and loses that
// first character; every other argument is passed unchanged.
void FeedCommandLine(int argc, const char* const* argv, CCommandLineInfo& info);
