// The installer's switch parser: records every switch of the command line with the value that
// follows it, so the start-up flow can look up "qa" and "ac".
#pragma once

#include <string>
#include <vector>

#include "framework/command_line.h"

class CFlagCommandLineInfo : public CCommandLineInfo {
public:
  // Per argument: a switch is stored under its lower-case name with the value "TRUE" and waits for
  // a value; a plain argument after a waiting switch becomes its value (case kept); any other plain
  // argument leaves the map alone. Arguments of any length are handled whole.
  void ParseParam(const char* param, BOOL bFlag, BOOL bLast) override;

  // Exact, case-sensitive lookup of a lower-case switch name; on success copies the value into
  // `value`, otherwise leaves it unchanged.
  BOOL LookupSwitch(const char* name, std::string& value) const;

private:
  // The switch map as two parallel lists: a command line holds a handful of switches, and a tree
  // would cost the installer more code than the search saves.
  std::vector<std::string> switchNames_;
  std::vector<std::string> switchValues_;
  // The value stored under `name`, a new empty one when there is none yet.
  std::string& SwitchValue(const std::string& name);

  std::string m_strPendingSwitch;
};

// The values of the command line that the run uses.
struct CommandLineResults {
  int qaMode = 0;  // 1 when the switch "qa" is present, whatever its value
  std::string qa;  // value of "qa", trimmed; empty when absent, valueless or "TRUE" in any case
  std::string ac;  // value of "ac", by the same rules
};

CommandLineResults ReadCommandLineResults(const CFlagCommandLineInfo& info);
