#include "download/http_download_dlg.h"

#include <commctrl.h>

#include <cstring>
#include <utility>

#include "download/dialog_texts.h"
#include "framework/format.h"
#include "framework/resources.h"
#include "framework/ui_text.h"
#include "records/failure_report.h"
#include "records/records.h"
#include "records/run_report.h"
#include "res/resource.h"
#include "tray/tray_icon.h"

namespace {
std::string LoadText(unsigned id) { return LoadResString(id); }

// A rate or time-left line, made by `format` from the texts of `load`: the English texts through
// the ANSI path, a translation's as UTF-8 (numbers and placeholders are ASCII either way) shown
// wide.
template <typename Format>
void ShowProgressLine(HWND line, Format format) {
  if (UiTranslated()) {
    SetWindowTextW(line, FromUtf8(format(LoadUiTextUtf8)).c_str());
  } else {
    SetWindowTextA(line, format(LoadText).c_str());
  }
}
}  // namespace

CHttpDownloadDlg::CHttpDownloadDlg(const DownloadRequest& request, CTrayIcon* trayIcon)
    : CDialog(IDD_FILE_DOWNLOAD), request_(request), trayIcon_(trayIcon) {}

CHttpDownloadDlg::~CHttpDownloadDlg() = default;

void CHttpDownloadDlg::DoDataExchange() {
  DDX_Control(IDC_STATUS_LINE, m_wndStatusLine);
  DDX_Control(IDC_RATE, m_wndRateLine);
  DDX_Control(IDC_TIME_LEFT, m_wndTimeLeftLine);
  DDX_Control(IDC_PROGRESS, m_wndProgressBar);
  DDX_Control(IDC_FILE_LINE, m_wndFileLine);
  DDX_Control(IDC_ANIMATION, m_wndAnimation);
}

BOOL CHttpDownloadDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  ShowTranslatedLabels(m_hWnd);
  m_wndAnimation.SendMessage(ACM_OPENA, 0, reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI)));

  if (!request_.url) {
    EndWithCancel();
    return TRUE;
  }
  LogEvent(FormatText("Target: %s", request_.url->text.c_str()), LOG_FLOW);

  if (!MayWriteTarget()) {
    EndWithCancel();
    return TRUE;
  }
  std::wstring shownFileLine;
  const std::string fileLine = FileLine(shownFileLine);
  SetShownText(m_wndFileLine.m_hWnd, fileLine, shownFileLine);

  CWinThread* worker = AfxBeginThread(DownloadWorkerProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (worker == nullptr) {
    EndWithCancel();
    return TRUE;
  }
  worker->m_bAutoDelete = FALSE;
  m_pWorkerThread.reset(worker);
  m_pWorkerThread->ResumeThread();
  HideWhenSilent();
  return TRUE;
}

bool CHttpDownloadDlg::MayWriteTarget() {
  const std::string& targetPath = request_.targetPath;
  FailureReport report;
  report.silent = IsSilent();
  if (GetFileAttributesA(targetPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    std::string question;
    AfxFormatString1(question, IDS_FILE_EXISTS, targetPath.c_str());
    const bool replace =
        !IsSilent() && (UiTranslated() ? AfxMessageBox(LoadUiString(IDS_FILE_EXISTS, targetPath.c_str()), MB_YESNO)
                                       : AfxMessageBox(question.c_str(), MB_YESNO)) == IDYES;
    if (!replace) {
      report.logText = "The file we are downloading already exists!";
      NoteRunEnd(CurrentRun(), RunOutcome::kTargetUnusable, ERROR_FILE_EXISTS);
      ReportFailure(report);
      return false;
    }
    RecordStatus("Started", "1");
  }
  engine_ = std::make_unique<DownloadEngine>(request_, *this, InternetStatusThunk);
  const DWORD openError = engine_->CreateTarget();
  if (openError == 0) return true;
  NoteRunEnd(CurrentRun(), RunOutcome::kTargetUnusable, static_cast<long>(openError));
  report.textArgs[0] = FormatText("%d", static_cast<int>(openError));
  AfxFormatString1(report.logText, IDS_ERR_OPEN_TARGET, report.textArgs[0].c_str());
  report.message = report.logText;
  report.textId = IDS_ERR_OPEN_TARGET;
  ReportFailure(report);
  return false;
}

std::string CHttpDownloadDlg::FileLine(std::wstring& shown) const {
  std::string fileLine;
  if (request_.sourceKind >= 0) {
    AfxFormatString1(fileLine, IDS_FILE_LINE, request_.displayName.c_str());
    shown = ShownText(IDS_FILE_LINE, request_.displayName.c_str());
    return fileLine;
  }
  const std::string& path = request_.url->parts.object;
  const size_t lastSlash = path.rfind('/');
  const std::string shownFileName =
      lastSlash == std::string::npos || lastSlash + 1 == path.size() ? path : path.substr(lastSlash + 1);
  const std::string where = FormatText(".../QA/.../%s", request_.qaVersion.c_str());
  AfxFormatString2(fileLine, IDS_QA_FILE_LINE, shownFileName.c_str(), where.c_str());
  shown = ShownText(IDS_QA_FILE_LINE, shownFileName.c_str(), where.c_str());
  return fileLine;
}

UINT __cdecl CHttpDownloadDlg::DownloadWorkerProc(LPVOID param) {
  static_cast<CHttpDownloadDlg*>(param)->RunDownload();
  return 0;
}

void CHttpDownloadDlg::RunDownload() {
  result_ = engine_->Run();
  // The last thing the worker does: after it the main thread may end the dialog.
  ::PostMessageA(m_hWnd, WM_DOWNLOAD_DONE, result_.outcome == DownloadResult::Outcome::kFailed ? 1 : 0, 0);
}

BOOL CHttpDownloadDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_DOWNLOAD_DONE:
      result = OnDownloadDone(wParam, lParam);
      return TRUE;
    case WM_SHOW_PERCENTAGE:
      OnShowPercentage(static_cast<int>(wParam));
      result = 0;
      return TRUE;
    case WM_CLOSE:
      if (m_bMayClose) return FALSE;
      OnClose();
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
  }
  return FALSE;
}

LRESULT CHttpDownloadDlg::OnDownloadDone(WPARAM wParam, LPARAM) {
  m_bMayClose = TRUE;
  m_wndAnimation.SendMessage(ACM_STOP);
  if (StopRequested()) {
    EndWithCancel();
  } else if (wParam == 0) {
    RecordStatus("Downloaded", "true");
    EndDialog(IDOK);
  } else {
    FailureReport report;
    report.logText = report.message = result_.errorText;
    report.textId = result_.textId;
    report.textArgs[0] = result_.textArg;
    report.captionId = IDS_UI_CAPTION;
    report.silent = IsSilent();
    report.caption = "File Download";
    report.owner = m_hWnd;
    report.style = MB_ICONEXCLAMATION | MB_OK;
    report.recordAfterBox = true;
    report.offerFullInstaller = true;
    ReportFailure(report);
    EndWithCancel();
  }
  return 0;
}

void CHttpDownloadDlg::OnCancel() {
  m_bStopRequested.store(1, std::memory_order_relaxed);
  ::EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), FALSE);
  ShowStatus(IDS_ABORTING);
}

void CHttpDownloadDlg::OnClose() { OnCancel(); }

void CHttpDownloadDlg::OnDestroy() {
  if (m_pWorkerThread) {
    WaitForSingleObject(m_pWorkerThread->m_hThread.get(), INFINITE);
    m_pWorkerThread.reset();
  }
  engine_.reset();
}

void CHttpDownloadDlg::HideWhenSilent() {
  if (IsSilent()) SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW);
}

// The progress display.

void CHttpDownloadDlg::ShowStatus(const std::string& text, const std::wstring& shown) {
  statusBlank_.store(false);
  ShowAndLogStatusLine(text, shown);
}

void CHttpDownloadDlg::ShowBlankStatus() {
  // WinINet sends two such notifications for every block read; a window message to the main thread
  // for each would cost more than the transfer itself, so a line that is blank already stays so.
  // Mostly it is: a plain read answers that without a locked instruction.
  if (statusBlank_.load(std::memory_order_relaxed) || statusBlank_.exchange(true)) return;
  ShowAndLogStatusLine(LoadResString(IDS_BLANK_STATUS), ShownText(IDS_BLANK_STATUS));
}

void CHttpDownloadDlg::ShowAndLogStatusLine(const std::string& text, const std::wstring& shown) {
  SetShownText(m_wndStatusLine.m_hWnd, text, shown);
  LogEvent(text, LOG_FLOW);
  HideWhenSilent();
}

void CHttpDownloadDlg::ShowStatus(UINT stringId) { ShowStatus(LoadResString(stringId), ShownText(stringId)); }

void CHttpDownloadDlg::ShowStatus(UINT stringId, const char* argument) {
  std::string text;
  AfxFormatString1(text, stringId, argument);
  ShowStatus(text, ShownText(stringId, argument));
}

void CHttpDownloadDlg::StartAnimation() {
  // A hidden dialog's animation would only spend a thread's time drawing frames nobody sees.
  if (IsSilent()) return;
  m_wndAnimation.SendMessage(ACM_PLAY, static_cast<WPARAM>(-1), 0xFFFF0000);
}

void CHttpDownloadDlg::SizeProgressBar(uint32_t size) {
  m_wndProgressBar.SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(ProgressRangeKb(size)));
}

void CHttpDownloadDlg::MoveProgressBar(uint32_t total) {
  // Posted: the bar repaints itself inside the message, and the worker need not wait for that.
  // It carries no pointer, and the final WM_DOWNLOAD_DONE queues behind it.
  m_wndProgressBar.PostMessage(PBM_SETPOS, ProgressPositionKb(total), 0);
}

void CHttpDownloadDlg::ShowPercentage(int percent) {
  RecordStatus("Progress", FormatText("%d%%", percent));
  // Posted, like the bar's position: a new title repaints the caption inside the message, and the
  // tray's tooltip is a message to another process; the worker need not wait for either. The
  // final WM_DOWNLOAD_DONE queues behind it.
  ::PostMessageA(m_hWnd, WM_SHOW_PERCENTAGE, static_cast<WPARAM>(percent), 0);
}

void CHttpDownloadDlg::OnShowPercentage(int percent) {
  std::string title;
  const std::string number = FormatText("%d", percent);
  AfxFormatString2(title, IDS_PERCENT_TITLE, number.c_str(), request_.displayName.c_str());
  const std::wstring shown = ShownText(IDS_PERCENT_TITLE, number.c_str(), request_.displayName.c_str());
  SetShownText(m_hWnd, title, shown);
  if (trayIcon_ != nullptr) {
    if (shown.empty()) {
      trayIcon_->ChangeTooltip(title.c_str());
    } else {
      trayIcon_->ChangeTooltip(shown.c_str());
    }
  }
  HideWhenSilent();
}

void CHttpDownloadDlg::ShowTransferRate(double rate) {
  ShowProgressLine(m_wndRateLine.m_hWnd, [rate](StringLoader load) { return FormatTransferRate(rate, load); });
}

void CHttpDownloadDlg::ShowTimeLeft(uint32_t seconds, uint32_t received, uint32_t size) {
  ShowProgressLine(m_wndTimeLeftLine.m_hWnd, [seconds, received, size](StringLoader load) {
    return FormatTimeLeft(seconds, received, size, load);
  });
}

void CHttpDownloadDlg::ReportTransferProgress(TransferClock& clock, uint32_t total, BodySize size) {
  const ProgressUpdate update = PlanProgress(clock, GetTickCount(), total, size.known, size.bytes);
  if (update.percentChanged) {
    ShowPercentage(update.percent);
    MoveProgressBar(total);
  }
  if (update.rateDue) ShowTransferRate(update.rate);
  if (update.timeLeftDue) ShowTimeLeft(update.secondsLeft, total, size.bytes);
}

bool CHttpDownloadDlg::AskForCredentials(HINTERNET request) {
  const DWORD answer = InternetErrorDlg(
      m_hWnd, request, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr);
  return answer == ERROR_INTERNET_FORCE_RETRY;
}

void CALLBACK CHttpDownloadDlg::InternetStatusThunk(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                                    DWORD infoLength) {
  // The session itself carries no context; only handles opened for a download report, with its
  // screen, which is this dialog.
  if (context == 0) return;
  DownloadScreen* screen = reinterpret_cast<DownloadScreen*>(context);
  static_cast<CHttpDownloadDlg*>(screen)->OnInternetStatus(handle, status, info, infoLength);
}

void CHttpDownloadDlg::OnInternetStatus(HINTERNET, DWORD status, LPVOID info, DWORD infoLength) {
  UINT stringId = 0;
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      stringId = IDS_RESOLVING;
      break;
    case INTERNET_STATUS_NAME_RESOLVED:
      stringId = IDS_RESOLVED;
      break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      stringId = IDS_CONNECTING;
      break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      stringId = IDS_CONNECTED;
      break;
    case INTERNET_STATUS_REDIRECT:
      stringId = IDS_REDIRECTING;
      break;
    default:
      ShowBlankStatus();
      return;
  }
  const char* text = static_cast<const char*>(info);
  const std::string argument = text != nullptr ? std::string(text, strnlen(text, infoLength)) : std::string();
  ShowStatus(stringId, argument.c_str());
}
