// What a run that is not elevated does about it, decided before it makes its working folder: on a
// system with user account control it starts the installer again with "runas" and ends, so that no
// run works in the user's %TEMP% where the user's other programs can change what it reads and starts.
#pragma once

#include <string>

enum class ElevationStep {
  kGoOn,           // elevated, or a system without user account control: the run goes on as it is
  kStartElevated,  // start the installer again elevated, with the same arguments, and end
  kRefuse,         // the re-launched run is still not elevated: the administrator-required path
};

// `relaunched`: the command line carries kRelaunchSwitch. It only ever turns a second re-launch
// into a refusal; it never lets a run go on that would otherwise have been re-launched.
ElevationStep DecideElevation(bool elevated, bool hasUserAccountControl, bool relaunched);

// The loop guard the re-launch puts first on its command line ("/relaunched"), as the switch
// parser records it (lower case, without its "/").
inline constexpr char kRelaunchSwitch[] = "relaunched";
// The same guard in the environment the re-launch is started with: a shell whose command for the
// verb drops the parameters cannot make a loop of it either. Whichever of the two arrives counts.
inline constexpr char kRelaunchVariable[] = "VKINST_RELAUNCHED";

// The arguments of a whole command line (GetCommandLineA), verbatim: the text after the program
// name, read as the runtime reads it (quotes toggle, an unquoted space or tab ends it), and after
// the white space that follows it. "" when there are none.
std::string ArgumentsOf(const std::string& commandLine);

// The re-launch's parameters: "/relaunched", then `arguments` unchanged, so that the switches
// (silent or not comes from the configuration; "/qa", "/ac") reach the elevated run as given.
std::string RelaunchParameters(const std::string& arguments);
