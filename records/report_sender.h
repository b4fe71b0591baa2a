// The run's report, sent to the vendor's ReportUrl: one HTTPS POST of RunReportJson, after the
// package was started or at the end of a failed run, never shown, bounded in time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The most the report may add to a run, connection, sending and answer together.
constexpr DWORD kReportBoundMs = 3000;

// Milliseconds since StartRunClock; call that once, first thing in the run.
void StartRunClock();
int64_t RunMilliseconds();

// Whether the download's settings (the system's, as INTERNET_OPEN_TYPE_PRECONFIG reads them) send
// requests through a proxy.
bool ProxyConfigured();

// POSTs `json` to `url` (an https:// URL the configuration's rules accepted) through the system's
// proxy settings, without credentials, cookies or cache, with certificate errors fatal, and waits
// for the answer at most `boundMs`. Returns the INFO entry that says whether it was sent.
std::string SendRunReport(const std::string& url, const std::string& json, DWORD boundMs);
