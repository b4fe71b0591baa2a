#include "records/run_report.h"

#include "framework/format.h"

namespace {

struct OutcomeName {
  RunOutcome outcome;
  const char* code;
};

constexpr OutcomeName kOutcomeNames[] = {
    {RunOutcome::kNone, "none"},
    {RunOutcome::kStarted, "started"},
    {RunOutcome::kStartedLocal, "started_local"},
    {RunOutcome::kCancelled, "cancelled"},
    {RunOutcome::kHttpStatus, "http_status"},
    {RunOutcome::kNetworkError, "network_error"},
    {RunOutcome::kNoResponse, "no_response"},
    {RunOutcome::kDiskFull, "disk_full"},
    {RunOutcome::kTargetUnusable, "target_unusable"},
    {RunOutcome::kPackageTooSmall, "package_too_small"},
    {RunOutcome::kHashMismatch, "hash_mismatch"},
    {RunOutcome::kSignatureRefused, "signature_refused"},
    {RunOutcome::kPackageUnusable, "package_unusable"},
    {RunOutcome::kStartFailed, "start_failed"},
    {RunOutcome::kNotAdministrator, "not_administrator"},
    {RunOutcome::kMalformedConfiguration, "malformed_configuration"},
    {RunOutcome::kNoPackage, "no_package"},
};

// Seconds with three decimals; -1 for a step not reached. The times are RunMilliseconds' counts, a
// 32-bit tick difference, so 32-bit division holds them whole (and keeps 64-bit division out).
std::string Seconds(int64_t ms) {
  if (ms < 0) return "-1";
  const auto count = static_cast<uint32_t>(ms);
  return FormatText("%lu.%03lu", static_cast<unsigned long>(count / 1000), static_cast<unsigned long>(count % 1000));
}

RunFacts currentRun;

}  // namespace

const char* OutcomeCode(RunOutcome outcome) {
  for (const OutcomeName& name : kOutcomeNames) {
    if (name.outcome == outcome) return name.code;
  }
  return "none";
}

RunFacts& CurrentRun() { return currentRun; }

void NoteRunEnd(RunFacts& facts, RunOutcome outcome, long number) {
  if (facts.outcome != RunOutcome::kNone) return;
  facts.outcome = outcome;
  facts.number = number;
}

RunOutcome DownloadFailureOutcome(bool httpStatus, bool noResponse, long number) {
  // ERROR_HANDLE_DISK_FULL and ERROR_DISK_FULL, spelled here so this stays portable.
  constexpr long kHandleDiskFull = 39;
  constexpr long kDiskFull = 112;
  if (httpStatus) return RunOutcome::kHttpStatus;
  if (noResponse) return RunOutcome::kNoResponse;
  if (number == kHandleDiskFull || number == kDiskFull) return RunOutcome::kDiskFull;
  return RunOutcome::kNetworkError;
}

void CountAttempt(RunFacts& facts, uint32_t before, uint32_t resumedFrom, uint32_t after) {
  ++facts.attempts;
  // A request from byte 0 empties the file only once its body starts: a file that stands where it
  // stood got nothing, one that changed holds only what this request wrote.
  const bool continued = resumedFrom != 0 && resumedFrom == before && after >= before;
  if (continued) facts.bytesResumed += resumedFrom;
  facts.bytesReceived += continued ? after - before : after == before ? 0 : after;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      json += "\\u00";
      json += kHex[byte >> 4];
      json += kHex[byte & 0xf];
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string RunReportJson(const RunFacts& facts) {
  const char* const kBool[] = {"false", "true"};
  // Byte counts as whole doubles: exact far beyond any package's size, in a format both runtimes
  // write alike.
  return FormatText(
      "{\"schema\":1,\"outcome\":%s,\"number\":%ld,\"version\":%s,\"config\":%s,\"windows\":%d,"
      "\"architecture\":%s,\"language\":%s,\"downloadSeconds\":%s,\"startSeconds\":%s,\"bytesReceived\":%.0f,"
      "\"bytesResumed\":%.0f,\"attempts\":%d,\"mirrorUsed\":%s,\"proxy\":%s,\"silent\":%s}",
      JsonString(OutcomeCode(facts.outcome)).c_str(), facts.number, JsonString(facts.installerVersion).c_str(),
      JsonString(facts.configName).c_str(), facts.windowsClass, JsonString(facts.architecture).c_str(),
      JsonString(facts.language).c_str(), Seconds(facts.downloadEndMs).c_str(), Seconds(facts.packageStartMs).c_str(),
      static_cast<double>(facts.bytesReceived), static_cast<double>(facts.bytesResumed), facts.attempts,
      kBool[facts.mirrorUsed], kBool[facts.proxy], kBool[facts.silent]);
}

std::string ConfigNameNote(const std::string& configText) {
  static const char kNote[] = ";;;;name:";
  size_t at = 0;
  while (at < configText.size()) {
    size_t end = configText.find('\n', at);
    if (end == std::string::npos) end = configText.size();
    const std::string line = configText.substr(at, end - at);
    if (line.compare(0, sizeof kNote - 1, kNote) == 0) {
      size_t first = sizeof kNote - 1;
      size_t last = line.size();
      while (first < last && (line[first] == ' ' || line[first] == '\t')) ++first;
      while (last > first && (line[last - 1] == ' ' || line[last - 1] == '\t' || line[last - 1] == '\r')) --last;
      return line.substr(first, last - first);
    }
    at = end + 1;
  }
  return "";
}
