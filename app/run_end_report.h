// The last step of a run: the report of how it ended, to the configuration's ReportUrl.
#pragma once

#include <string>

#include "app/config_rules.h"

// With a usable ReportUrl, completes the run's facts (CurrentRun) with what describes the system
// and the installer, sends them (SendRunReport, at most kReportBoundMs) and logs at INFO whether
// they went. Without one, does nothing at all. (Win32.)
void ReportRunEnd(const RuntimeConfig& config, const std::string& modulePath);
