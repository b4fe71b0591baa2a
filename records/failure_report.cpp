#include "records/failure_report.h"

#include "framework/resources.h"
#include "records/records.h"

namespace {
void Record(const FailureReport& report) {
  LogEvent(report.logText, LOG_ERROR);
  if (report.statusKey != nullptr) RecordStatus(report.statusKey, report.logText);
}
}  // namespace

void ReportFailure(const FailureReport& report) {
  if (!report.recordAfterBox) Record(report);
  if (!report.silent && !report.message.empty()) {
    if (report.caption == nullptr) {
      AfxMessageBox(report.message.c_str(), report.style);
    } else {
      MessageBoxA(report.owner, report.message.c_str(), report.caption, report.style);
    }
  }
  if (report.recordAfterBox) Record(report);
}
