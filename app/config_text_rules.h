// A configuration text judged before it is built into an installer: what the installer's own rules
// (app/config_rules.h) refuse on either kind of system, and what only a tool that sees the whole
// text can find, which the installer's INI reader would hide or read in a way nothing promises.
// checkcfg and stampcfg refuse by this one judgement.
#pragma once

#include <string>

struct ConfigTextVerdict {
  std::string malformedKey;       // the key at fault; "" when the fault is the text's own, or none
  std::string refusal;            // why the text cannot be built in; "" when it can
  bool installerRefuses = false;  // the installer finds the fault itself and refuses every run

  bool Accepted() const { return refusal.empty(); }
};

// In this order: a NUL byte (the installer reads the text only up to it); a second [runtime]
// section; a key set twice in [runtime]; the installer's rules (JudgeConfig over ProfileValue) on a
// 64-bit, then on a 32-bit system, refused as "Malformed <key> value in the configuration: <why>";
// a value of more than kLongestConfigValue characters under a key the installer does not read. A
// text without a [runtime] section is no fault here (the installer then does nothing).
ConfigTextVerdict JudgeConfigText(const std::string& text);
