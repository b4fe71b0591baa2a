#include "app/run_end_report.h"

#include <windows.h>

#include "framework/format.h"
#include "probes/version_class.h"
#include "probes/version_probes.h"
#include "records/records.h"
#include "records/report_sender.h"
#include "records/run_report.h"
#include "util/file_version.h"

void ReportRunEnd(const RuntimeConfig& config, const std::string& modulePath) {
  if (config.reportUrl.empty()) return;
  static const char* const kMachineNames[] = {"x86", "x64", "Arm64"};
  RunFacts& run = CurrentRun();
  run.installerVersion = GetFileVersionString(modulePath.c_str());
  run.windowsClass = GetWindowsVersionClass();
  run.architecture = kMachineNames[static_cast<int>(GetNativeMachine())];
  run.language = FormatText("%04x", static_cast<unsigned>(GetUserDefaultUILanguage()));
  run.silent = config.showUI == 0;
  run.proxy = ProxyConfigured();
  LogEvent(SendRunReport(config.reportUrl, RunReportJson(run), kReportBoundMs), LOG_INFO);
}
