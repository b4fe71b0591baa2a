#include "download/http_download_dlg.h"

#include <commctrl.h>

#include "framework/format.h"
#include "framework/resources.h"
#include "framework/url.h"
#include "records/records.h"
#include "res/resource.h"
#include "tray/tray_icon.h"

namespace {
std::string LoadText(unsigned id) { return LoadResString(id); }
}  // namespace

CHttpDownloadDlg::CHttpDownloadDlg() : CDialog(IDD_FILE_DOWNLOAD) {}

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
  m_wndAnimation.SendMessage(ACM_OPENA, 0, reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI)));

  if (!AfxParseURL(m_strSourceUrl.c_str(), m_dwUrlService, m_strHost, m_strRequestPath, m_nHostPort)) {
    m_strSourceUrl = "http://" + m_strSourceUrl;
    if (!AfxParseURL(m_strSourceUrl.c_str(), m_dwUrlService, m_strHost, m_strRequestPath, m_nHostPort)) {
      EndWithCancel();
      return TRUE;
    }
  }
  LogEvent("Target: " + m_strSourceUrl, LOG_FLOW);

  if (GetFileAttributesA(m_strTargetPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    std::string question;
    AfxFormatString1(question, IDS_FILE_EXISTS, m_strTargetPath.c_str());
    if (IsSilent() || AfxMessageBox(question.c_str(), MB_YESNO) != IDYES) {
      LogEvent("The file we are downloading already exists!", LOG_ERROR);
      EndWithCancel();
      return TRUE;
    }
    RecordStatus("Started", "1");
  }

  DWORD openError = 0;
  if (!m_transfer.m_fileTarget.OpenForWriting(m_strTargetPath.c_str(), openError)) {
    std::string text;
    AfxFormatString1(text, IDS_ERR_OPEN_TARGET, FormatText("%d", static_cast<int>(openError)).c_str());
    LogEvent(text, LOG_ERROR);
    if (!IsSilent()) AfxMessageBox(text.c_str(), MB_OK);
    EndWithCancel();
    return TRUE;
  }

  const size_t lastSlash = m_strRequestPath.rfind('/');
  m_strShownFileName = lastSlash == std::string::npos || lastSlash + 1 == m_strRequestPath.size()
                           ? m_strRequestPath
                           : m_strRequestPath.substr(lastSlash + 1);
  std::string fileLine;
  if (m_nSourceKind < 0) {
    AfxFormatString2(fileLine, IDS_QA_FILE_LINE, m_strShownFileName.c_str(), (".../QA/.../" + m_strQaVersion).c_str());
  } else {
    AfxFormatString1(fileLine, IDS_FILE_LINE, m_strDisplayName.c_str());
  }
  m_wndFileLine.SetWindowText(fileLine.c_str());

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

BOOL CHttpDownloadDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_DOWNLOAD_DONE:
      result = OnDownloadDone(wParam, lParam);
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
    if (!IsSilent()) MessageBoxA(m_hWnd, m_strErrorText.c_str(), "File Download", MB_ICONEXCLAMATION | MB_OK);
    LogEvent(m_strErrorText, LOG_ERROR);
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
  m_transfer.m_hRequest.reset();
  m_transfer.m_hConnection.reset();
  m_transfer.m_hSession.reset();
}

void CHttpDownloadDlg::HideWhenSilent() {
  if (IsSilent()) SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW);
}

// The progress display.

void CHttpDownloadDlg::ShowStatus(const std::string& text) {
  m_bStatusBlank.store(false);
  ShowAndLogStatusLine(text);
}

void CHttpDownloadDlg::ShowBlankStatus() {
  // WinINet sends two such notifications for every block read; a window message to the main thread
  // for each would cost more than the transfer itself, so a line that is blank already stays so.
  if (m_bStatusBlank.exchange(true)) return;
  ShowAndLogStatusLine(LoadResString(IDS_BLANK_STATUS));
}

void CHttpDownloadDlg::ShowAndLogStatusLine(const std::string& text) {
  m_wndStatusLine.SetWindowText(text.c_str());
  LogEvent(text, LOG_FLOW);
  HideWhenSilent();
}

void CHttpDownloadDlg::ShowStatus(UINT stringId) { ShowStatus(LoadResString(stringId)); }

void CHttpDownloadDlg::ShowStatus(UINT stringId, const char* argument, const char* argument2) {
  std::string text;
  AfxFormatString2(text, stringId, argument, argument2);
  ShowStatus(text);
}

void CHttpDownloadDlg::StartAnimation() { m_wndAnimation.SendMessage(ACM_PLAY, static_cast<WPARAM>(-1), 0xFFFF0000); }

void CHttpDownloadDlg::SizeProgressBar(uint32_t size) {
  m_wndProgressBar.SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(ProgressRangeKb(size)));
}

void CHttpDownloadDlg::MoveProgressBar(uint32_t total) {
  m_wndProgressBar.SendMessage(PBM_SETPOS, ProgressPositionKb(total), 0);
}

void CHttpDownloadDlg::ShowPercentage(int percent) {
  const std::string number = FormatText("%d", percent);
  std::string title;
  AfxFormatString2(title, IDS_PERCENT_TITLE, number.c_str(), m_strDisplayName.c_str());
  SetWindowText(title.c_str());
  RecordStatus("Progress", number + "%");
  if (m_pTrayIcon != nullptr) m_pTrayIcon->ChangeTooltip(title.c_str());
  HideWhenSilent();
}

void CHttpDownloadDlg::ShowTransferRate(double rate) {
  m_wndRateLine.SetWindowText(FormatTransferRate(rate, LoadText).c_str());
}

void CHttpDownloadDlg::ShowTimeLeft(uint32_t seconds, uint32_t received, uint32_t size) {
  m_wndTimeLeftLine.SetWindowText(FormatTimeLeft(seconds, received, size, LoadText).c_str());
}

void CHttpDownloadDlg::ReportTransferProgress(TransferClock& clock, uint32_t total, bool sizeKnown, uint32_t size) {
  const ProgressUpdate update = PlanProgress(clock, GetTickCount(), total, sizeKnown, size);
  if (update.percentChanged) {
    ShowPercentage(update.percent);
    MoveProgressBar(total);
  }
  if (update.rateDue) ShowTransferRate(update.rate);
  if (update.timeLeftDue) ShowTimeLeft(update.secondsLeft, total, size);
}
