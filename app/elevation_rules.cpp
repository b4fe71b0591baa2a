#include "app/elevation_rules.h"

#include "framework/format.h"

ElevationStep DecideElevation(bool elevated, bool hasUserAccountControl, bool relaunched) {
  // Without user account control there is nothing to ask for: an administrator's run is elevated.
  if (elevated || !hasUserAccountControl) return ElevationStep::kGoOn;
  return relaunched ? ElevationStep::kRefuse : ElevationStep::kStartElevated;
}

std::string ArgumentsOf(const std::string& commandLine) {
  size_t at = 0;
  bool quoted = false;
  for (; at < commandLine.size(); ++at) {
    const char c = commandLine[at];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      break;
    }
  }
  while (at < commandLine.size() && (commandLine[at] == ' ' || commandLine[at] == '\t')) ++at;
  return commandLine.substr(at);
}

std::string RelaunchParameters(const std::string& arguments) {
  // First: a last switch without a value ("/qa") would otherwise take the guard for its value.
  return arguments.empty() ? FormatText("/%s", kRelaunchSwitch)
                           : FormatText("/%s %s", kRelaunchSwitch, arguments.c_str());
}
