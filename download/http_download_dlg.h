// The modal "File Download" dialog: it creates the target file, runs the download engine on a
// worker thread of its own, shows the progress and lets the user cancel. DoModal answers IDOK
// exactly when the package was downloaded completely and no stop was requested.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/download_engine.h"
#include "download/download_request.h"
#include "download/downloaded_package.h"
#include "download/progress.h"
#include "framework/dialog.h"
#include "framework/thread.h"

class CTrayIcon;

// Posted by the worker as its last action: wParam 0 ended without error (done or stopped), 1 failed.
constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 1;
// Posted by the worker when the whole percentage changes: wParam the percentage.
constexpr UINT WM_SHOW_PERCENTAGE = WM_APP + 2;

class CHttpDownloadDlg : public CDialog, public DownloadScreen {
public:
  // `request` and `trayIcon` (whose tooltip follows the percentage; may be null) must outlive the
  // dialog.
  CHttpDownloadDlg(const DownloadRequest& request, CTrayIcon* trayIcon);
  ~CHttpDownloadDlg() override;

  // Once DoModal has answered IDOK: the downloaded package, as the engine handed it over.
  DownloadedPackage TakePackage() { return std::move(result_.package); }

  // The worker thread's entry; `param` is the dialog.
  static UINT __cdecl DownloadWorkerProc(LPVOID param);

protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  void OnCancel() override;
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool ShowOnIdle() const override { return !IsSilent(); }

private:
  LRESULT OnDownloadDone(WPARAM wParam, LPARAM lParam);
  void OnClose();
  void OnDestroy();
  void HideWhenSilent();
  bool IsSilent() const { return request_.showUI == 0; }
  void EndWithCancel() { EndDialog(IDCANCEL); }
  // Asks before an existing file is replaced (silent: never), then makes the engine and its
  // target file; false, reported, when the download is not to go on.
  bool MayWriteTarget();
  // The file line: the display name, or for a QA URL the file name and the QA version; in `shown`
  // what a translation shows.
  std::string FileLine(std::wstring& shown) const;

  // The worker: runs the engine and posts its one message with the result.
  void RunDownload();
  static void CALLBACK InternetStatusThunk(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                           DWORD infoLength);
  void OnInternetStatus(HINTERNET handle, DWORD status, LPVOID info, DWORD infoLength);

  // The progress display (called by the engine, and by Cancel for the status line).
  void ShowStatus(const std::string& text, const std::wstring& shown) override;
  void ShowStatus(UINT stringId);
  // The string with `argument` as "%1".
  void ShowStatus(UINT stringId, const char* argument);
  // The status line for any other connection stage: one blank (string 122).
  void ShowBlankStatus();
  // The status line, also logged at FLOW (`text`; a translation shows `shown`).
  void ShowAndLogStatusLine(const std::string& text, const std::wstring& shown);
  void StartAnimation() override;
  void SizeProgressBar(uint32_t size) override;
  void MoveProgressBar(uint32_t total);
  // The percentage in the title and the tray tooltip; also records it as the status file's "Progress".
  // The worker records it and posts the rest to OnShowPercentage.
  void ShowPercentage(int percent);
  void OnShowPercentage(int percent);
  void ShowTransferRate(double rate);
  void ShowTimeLeft(uint32_t seconds, uint32_t received, uint32_t size);
  void ReportTransferProgress(TransferClock& clock, uint32_t total, BodySize size) override;
  bool AskForCredentials(HINTERNET request) override;
  bool StopRequested() const override { return m_bStopRequested.load(std::memory_order_relaxed); }

  const DownloadRequest& request_;
  CTrayIcon* trayIcon_;
  CStatic m_wndStatusLine;
  CStatic m_wndRateLine;
  CStatic m_wndTimeLeftLine;
  CProgressCtrl m_wndProgressBar;
  CStatic m_wndFileLine;
  CAnimateCtrl m_wndAnimation;
  std::atomic<int> m_bStopRequested{0};
  std::atomic<bool> statusBlank_{false};  // the status line shows string 122 and nothing else
  BOOL m_bMayClose = FALSE;
  // Made with the target file; released (its handles closed) once the worker has ended.
  std::unique_ptr<DownloadEngine> engine_;
  // Written by the worker before its post, read here after the message arrived: the queue orders
  // the two. For a failure it holds the error text the dialog shows and logs.
  DownloadResult result_;
  std::unique_ptr<CWinThread> m_pWorkerThread;
};
