// The two records in the root of drive C:: the install log (an INI event log) and the status file
// (section "Status"). Both writers may be called from any thread and never fail visibly.
#pragma once

#include <windows.h>

#include <string>

#include "records/log_format.h"

extern const char kInstallLogPath[];  // "C:\VornikInstallInfo.log"
extern const char kStatusFilePath[];  // "C:\VornikLodestep.log"

// Sets the text that every log section carries (the main thread's id). Call once at start-up,
// before any other thread logs; until then sections carry nothing between "=" and ")".
void SetLogThreadIdText(const std::string& text);

// Adds one entry to the install log under the level's section. Texts that are null or shorter than
// two characters are dropped without taking a sequence number. Sequence numbers are process-wide
// and unique across threads.
void LogEvent(const char* text, int level);
inline void LogEvent(const std::string& text, int level) { LogEvent(text.c_str(), level); }

// Writes key=value into the section "Status" of the status file; the INI routine's success flag.
BOOL RecordStatus(const char* key, const char* value);
inline BOOL RecordStatus(const std::string& key, const std::string& value) {
  return RecordStatus(key.c_str(), value.c_str());
}

// Removes the whole section "Status" (nothing happens when it is absent).
void ClearStatusSection();
