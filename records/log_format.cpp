#include "records/log_format.h"

#include "framework/format.h"

std::string LogSectionName(int level, const std::string& threadIdText) {
  static const char* const kPrefixes[] = {
      "ERROR (Thread ID=", "FLOW (Thread ID=", "INFO (Thread ID=", "UNINSTALL (Thread ID="};
  if (level < LOG_ERROR || level > LOG_UNINSTALL) return std::string();
  return kPrefixes[level] + threadIdText + ")";
}

std::string FormatLogKey(int sequence, const std::tm& localTime, int random) {
  char timeText[32];
  if (std::strftime(timeText, sizeof timeText, "%d %H:%M:%S", &localTime) == 0) timeText[0] = '\0';
  return FormatText("%.3d %s %.3d  .", sequence, timeText, random);
}

int LogRandomFromRand(int randValue) { return static_cast<int>(static_cast<double>(randValue) * (1.0 / 32767) * 1000); }

std::string SafeRecordText(std::string_view text, bool isKey) {
  std::string safe;
  bool atStart = true;  // only white space, "[" and ";" so far
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    if (isKey) {
      if (c == '=') continue;
      if (atStart && (c == '[' || c == ';')) continue;
      const unsigned char byte = static_cast<unsigned char>(c);
      atStart = atStart && (byte <= ' ' || byte == 0xA0);  // blank or control, as the reader skips them
    }
    safe += c;
  }
  return safe;
}
