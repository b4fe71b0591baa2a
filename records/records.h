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

// Both writers pass keys and values through SafeRecordText: whatever a text holds, it is one entry
// on one line.

// Adds one entry to the install log under the level's section. Texts that are null or shorter than
// two characters are dropped without taking a sequence number. Sequence numbers are process-wide
// and unique across threads.
void LogEvent(const std::string& text, int level);
inline void LogEvent(const char* text, int level) {
  if (text != nullptr) LogEvent(std::string(text), level);
}

// Writes key=value into the section "Status" of the status file; the INI routine's success flag.
BOOL RecordStatus(const std::string& key, const std::string& value);

// Removes the whole section "Status" (nothing happens when it is absent).
void ClearStatusSection();
