#include "records/records.h"

#include <atomic>
#include <cstdlib>
#include <ctime>

const char kInstallLogPath[] = "C:\\VornikInstallInfo.log";
const char kStatusFilePath[] = "C:\\VornikLodestep.log";

namespace {
const char kStatusSection[] = "Status";

// Written once on the main thread before the worker exists; only read afterwards.
std::string logThreadIdText;
std::atomic<int> logSequence{0};
}  // namespace

void SetLogThreadIdText(const std::string& text) { logThreadIdText = text; }

void LogEvent(const std::string& text, int level) {
  if (text.size() < 2) return;
  const std::string section = LogSectionName(level, logThreadIdText);
  const int sequence = ++logSequence;
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  if (const std::tm* converted = std::localtime(&now)) local = *converted;
  const std::string key = FormatLogKey(sequence, local, LogRandomFromRand(std::rand()));
  WritePrivateProfileStringA(section.c_str(), SafeRecordText(key, true).c_str(), SafeRecordText(text, false).c_str(),
                             kInstallLogPath);
}

BOOL RecordStatus(const std::string& key, const std::string& value) {
  return WritePrivateProfileStringA(kStatusSection, SafeRecordText(key, true).c_str(),
                                    SafeRecordText(value, false).c_str(), kStatusFilePath);
}

void ClearStatusSection() { WritePrivateProfileStringA(kStatusSection, nullptr, nullptr, kStatusFilePath); }
