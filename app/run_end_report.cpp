#include "app/run_end_report.h"

#include <windows.h>

#include "framework/format.h"
#include "framework/ui_text.h"
#include "probes/version_class.h"
#include "probes/version_probes.h"
#include "records/records.h"
#include "records/report_sender.h"
#include "records/run_report.h"
#include "util/file_version.h"

void ReportRunEnd(const RuntimeConfig& config, const std::string& modulePath) {
  if (config.reportUrl.empty()) return;
  RunFacts& run = CurrentRun();
  run.installerVersion = GetFileVersionString(modulePath.c_str());
  run.windowsClass = GetWindowsVersionClass();
  run.architecture = MachineName(GetNativeMachine());
  run.language = FormatText("%04X", static_cast<unsigned>(UiLanguage()));
  run.silent = config.showUI == 0;
  run.proxy = ProxyConfigured();
  LogEvent(SendRunReport(config.reportUrl, RunReportJson(run), kReportBoundMs), LOG_INFO);
}
