#include "records/failure_report.h"

#include "framework/resources.h"
#include "records/records.h"
#include "res/resource.h"

namespace {
std::string fullInstallerUrl;

bool OffersFullInstaller(const FailureReport& report) { return report.offerFullInstaller && !fullInstallerUrl.empty(); }

void Record(const FailureReport& report) {
  LogEvent(report.logText, LOG_ERROR);
  if (report.statusKey != nullptr) RecordStatus(report.statusKey, report.logText);
  if (OffersFullInstaller(report)) LogEvent("Complete installer: " + fullInstallerUrl, LOG_INFO);
}
}  // namespace

void SetFullInstallerUrl(const std::string& url) { fullInstallerUrl = url; }

void ReportFailure(const FailureReport& report) {
  if (!report.recordAfterBox) Record(report);
  if (!report.silent && !report.message.empty()) {
    // The installer runs as administrator: it names the address and leaves opening it to the user.
    std::string message = report.message;
    if (OffersFullInstaller(report)) {
      std::string sentence;
      AfxFormatString1(sentence, IDS_FULL_INSTALLER, fullInstallerUrl.c_str());
      message += "\n\n" + sentence;
    }
    if (report.caption == nullptr) {
      AfxMessageBox(message.c_str(), report.style);
    } else {
      MessageBoxA(report.owner, message.c_str(), report.caption, report.style);
    }
  }
  if (report.recordAfterBox) Record(report);
}
