// How a run ended, as the report to the vendor's ReportUrl tells it: the outcome codes, the facts a
// run gathers, and the JSON text sent. Nothing here names a person, a machine, a path or a
// credential, and nothing follows a machine from one run to the next.
#pragma once

#include <cstdint>
#include <string>

// One code per way a run ends; their texts (OutcomeCode) are stable, documented in the README.
enum class RunOutcome {
  kNone,                    // not ended yet
  kStarted,                 // the downloaded package was started
  kStartedLocal,            // the package beside the installer was started
  kCancelled,               // the user stopped the download
  kHttpStatus,              // the server answered with a status that ended the download (number)
  kNetworkError,            // the connection failed (number: the system's error)
  kNoResponse,              // the server sent no status
  kDiskFull,                // the package could not be written for want of space (number)
  kTargetUnusable,          // the package's file could not be created (number)
  kPackageTooSmall,         // the package is too small to be one
  kHashMismatch,            // the package is not the one configured (or changed after it was written)
  kSignatureRefused,        // the package's signature is not valid or its signer not accepted
  kPackageUnusable,         // the package could not be read or held for its checks
  kStartFailed,             // the shell did not start the package (number)
  kNotAdministrator,        // the user logged on to the desktop is no administrator
  kMalformedConfiguration,  // a configuration value cannot be used
  kNoPackage,               // the configuration names no package that exists
};

// The code's text: "started", "http_status", ...; "none" for kNone.
const char* OutcomeCode(RunOutcome outcome);

// Everything a report says. Times are milliseconds since the run started; -1 for a step the run did
// not reach.
struct RunFacts {
  RunOutcome outcome = RunOutcome::kNone;
  long number = 0;               // the HTTP status or the error number; 0 for none
  std::string installerVersion;  // the installer's own file version, "1.2.3.4"
  std::string configName;        // the configuration's ";;;;name:" note; "" for none
  int windowsClass = 0;          // the Windows version class
  std::string architecture;      // the processor: "x86", "x64" or "Arm64"
  std::string language;          // the language shown, a language identifier in four hex digits ("0409")
  int64_t downloadEndMs = -1;    // when the download ended, however it ended
  int64_t packageStartMs = -1;   // when the package was started
  uint64_t bytesReceived = 0;    // bytes the attempts added to the package's file
  uint64_t bytesResumed = 0;     // bytes further attempts did not fetch again
  int attempts = 0;              // requests of the package made, mirror included
  bool mirrorUsed = false;
  bool proxy = false;   // the download's settings name a proxy
  bool silent = false;  // progressbar=0
};

// The record of this run, filled by the steps as they end. The worker thread writes it only before
// its last message to the dialog; everything else happens on the main thread.
RunFacts& CurrentRun();

// Notes how the run ended; the first end noted stands (a later one is a consequence of it).
void NoteRunEnd(RunFacts& facts, RunOutcome outcome, long number = 0);

// The outcome of a download that failed for good: its HTTP status, no status at all, or the
// system's error number (a full disk apart from the network's errors).
RunOutcome DownloadFailureOutcome(bool httpStatus, bool noResponse, long number);

// Counts one request of the package: the file stood at `before` bytes, the request resumed from
// `resumedFrom` (0: from the start) and left the file at `after` bytes (fewer when it started again).
void CountAttempt(RunFacts& facts, uint32_t before, uint32_t resumedFrom, uint32_t after);

// The report: one JSON object with exactly the keys the README lists, every string escaped.
std::string RunReportJson(const RunFacts& facts);

// A JSON string literal of `text`, quotes included; control characters and bytes outside ASCII
// are written as \u escapes of their byte value, so the text is ASCII and valid whatever it held.
std::string JsonString(const std::string& text);

// The value of the first ";;;;name:" line of a configuration text, trimmed; "" when none.
std::string ConfigNameNote(const std::string& configText);
