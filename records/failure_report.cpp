#include "records/failure_report.h"

#include "framework/format.h"
#include "framework/resources.h"
#include "framework/ui_text.h"
#include "records/records.h"
#include "res/resource.h"

namespace {
std::string fullInstallerUrl;

bool OffersFullInstaller(const FailureReport& report) { return report.offerFullInstaller && !fullInstallerUrl.empty(); }

void Record(const FailureReport& report) {
  LogEvent(report.logText, LOG_ERROR);
  if (report.statusKey != nullptr) RecordStatus(report.statusKey, report.logText);
  if (OffersFullInstaller(report)) LogEvent(FormatText("Complete installer: %s", fullInstallerUrl.c_str()), LOG_INFO);
}

// The log keeps the English text; only the box speaks the user's language.
void ShowTranslated(const FailureReport& report) {
  std::wstring message = LoadUiString(report.textId, report.textArgs[0].c_str(), report.textArgs[1].c_str());
  if (OffersFullInstaller(report))
    message.append(L"\n\n").append(LoadUiString(IDS_FULL_INSTALLER, fullInstallerUrl.c_str()));
  if (report.caption == nullptr) {
    AfxMessageBox(message, report.style);
    return;
  }
  const std::wstring caption = report.captionId != 0 ? LoadUiString(report.captionId) : WidenAnsi(report.caption);
  MessageBoxW(report.owner, message.c_str(), caption.c_str(), report.style);
}
}  // namespace

void SetFullInstallerUrl(const std::string& url) { fullInstallerUrl = url; }

void ReportFailure(const FailureReport& report) {
  if (!report.recordAfterBox) Record(report);
  if (!report.silent && !report.message.empty() && UiTranslated() && report.textId != 0) {
    ShowTranslated(report);
  } else if (!report.silent && !report.message.empty()) {
    // The installer runs as administrator: it names the address and leaves opening it to the user.
    std::string message = report.message;
    if (OffersFullInstaller(report)) {
      std::string sentence;
      AfxFormatString1(sentence, IDS_FULL_INSTALLER, fullInstallerUrl.c_str());
      message.append("\n\n").append(sentence);
    }
    if (report.caption == nullptr) {
      AfxMessageBox(message.c_str(), report.style);
    } else {
      MessageBoxA(report.owner, message.c_str(), report.caption, report.style);
    }
  }
  if (report.recordAfterBox) Record(report);
}
