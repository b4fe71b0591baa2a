// How install-log entries are named (the section of a level and the key of an entry), and what
// every key and value of both records becomes before it is written.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

enum LogLevel { LOG_ERROR = 0, LOG_FLOW = 1, LOG_INFO = 2, LOG_UNINSTALL = 3 };

// "ERROR (Thread ID=" + threadIdText + ")" and likewise for the other levels; "" for a level
// outside 0..3.
std::string LogSectionName(int level, const std::string& threadIdText);

// The entry key: sequence number "%.3d", a space, the local time "%d %H:%M:%S", a space, the
// random number "%.3d", two spaces and a full stop.
std::string FormatLogKey(int sequence, const std::tm& localTime, int random);

// The random part of a key from one rand() result (0..32767): 0..1000, truncated.
int LogRandomFromRand(int randValue);

// `text` as it may be written into an INI record, so that it stays one entry on one line: CR, LF and
// NUL become a space. A key (`isKey`) also loses every "=", and every "[" or ";" that comes before
// its first character that is neither blank nor a control character (the INI reader skips those,
// then takes "[" for a section and ";" for a comment). Nothing else changes.
std::string SafeRecordText(std::string_view text, bool isKey);
