// The modal "File Download" dialog: it parses the URL, creates the target file, runs the download
// worker on its own thread, shows the progress and lets the user cancel. DoModal answers IDOK
// exactly when the package was downloaded completely and no stop was requested.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/progress.h"
#include "framework/dialog.h"
#include "framework/file.h"
#include "framework/handle.h"
#include "framework/thread.h"
#include "util/sha256.h"

class CTrayIcon;

// Posted by the worker as its last action: wParam 0 ended without error (done or stopped), 1 failed.
constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 1;

class CHttpDownloadDlg : public CDialog {
public:
  CHttpDownloadDlg();
  ~CHttpDownloadDlg() override;

  // Inputs, set before DoModal.
  std::string m_strSourceUrl;
  std::string m_strTargetPath;
  std::string m_strLoginName;
  std::string m_strLoginPassword;
  std::string m_strDisplayName;
  int m_nSourceKind = 0;        // negative: a QA URL, shown in the QA form of the file line
  int m_nShowUI = 1;            // 0: silent (hidden, no message boxes)
  std::string m_strQaVersion;   // shown in the QA file line
  CTrayIcon* m_pTrayIcon = nullptr;  // its tooltip follows the percentage; may be null

  // Outputs, once DoModal has answered IDOK: the downloaded file, held for reading and shared for
  // reading only since the worker closed it (invalid when it could not be opened again), and the
  // SHA-256 of the bytes the worker wrote into it.
  UniqueHandle m_heldTarget;
  Sha256Digest m_writtenSha256 = {};

  // The worker thread's entry; `param` is the dialog.
  static UINT __cdecl DownloadWorkerProc(LPVOID param);

protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  void OnCancel() override;
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool ShowOnIdle() const override { return m_nShowUI != 0; }

private:
  LRESULT OnDownloadDone(WPARAM wParam, LPARAM lParam);
  void OnClose();
  void OnDestroy();
  void HideWhenSilent();
  bool IsSilent() const { return m_nShowUI == 0; }
  void EndWithCancel() { EndDialog(IDCANCEL); }

  // The worker (runs on its own thread). RunDownload takes the transfer's steps in order; a step
  // answers true to go on, or false once it has ended the run by posting its result. The exits
  // below answer false too, so that a step can end with one of them.
  void RunDownload();
  // The session with the status callback registered on it.
  bool OpenSession();
  bool OpenConnection();
  // A request for m_strRequestPath. The one it replaces is closed once the new one is open and
  // before any failure is posted: closing reports to this dialog, whose thread may be waiting for
  // the worker once the end is posted.
  bool OpenRequest();
  // Sends the request, and sends it again for as long as the server asks for credentials and the
  // user gives them; `status` is the last answer's status code.
  bool SendAnsweringCredentials(long& status);
  // Drops the refusal's body and shows the credentials dialog; true when the request is to be resent.
  bool AskForCredentials();
  // Points the request at the answer's Location; `hop` counts the redirects of this run, this one
  // included.
  bool FollowRedirect(long status, int hop);
  // The answer was neither success nor a redirect: one more request with every "~" taken out of the
  // path, when the path holds one after its first character.
  bool TryWithoutTilde(long status);
  // Copies the answer's body into the target file, hashing what it writes, and ends the run.
  bool CopyBody();
  // Closes the target file: a stopped run deletes it, a finished one holds it for reading beside the
  // hash of what was written.
  void HandOverTarget(Sha256& written);
  // The stop check between steps: a stop request ends the run without error.
  bool ContinueUnlessStopped();
  bool FailWithError(UINT stringId, long errorNumber);
  // The error exit for an HTTP status: string 113 with the status as "%1", never a system text.
  bool FailWithHttpStatus(long status);
  // What both error exits end with: the target file closed and deleted, m_strErrorText logged,
  // recorded under "Error" and posted.
  bool FailWithText();
  bool FailWithMessage(UINT stringId);
  bool PostDone(WPARAM result);
  bool StopRequested() const { return m_bStopRequested.load(std::memory_order_relaxed); }
  static void CALLBACK InternetStatusThunk(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                           DWORD infoLength);
  void OnInternetStatus(HINTERNET handle, DWORD status, LPVOID info, DWORD infoLength);

  // The progress display (called by the worker, and by Cancel for the status line).
  void ShowStatus(const std::string& text);
  void ShowStatus(UINT stringId);
  void ShowStatus(UINT stringId, const char* argument);
  // The status line for any other connection stage: one blank (string 122).
  void ShowBlankStatus();
  // The status line, also logged at FLOW.
  void ShowAndLogStatusLine(const std::string& text);
  void StartAnimation();
  void SizeProgressBar(uint32_t size);
  void MoveProgressBar(uint32_t total);
  // The percentage in the title, the tray tooltip and the status file's "Progress".
  void ShowAndRecordPercentage(int percent);
  void ShowTransferRate(double rate);
  void ShowTimeLeft(uint32_t seconds, uint32_t received, uint32_t size);
  void ReportTransferProgress(TransferClock& clock, uint32_t total, bool sizeKnown, uint32_t size);

  CStatic m_wndStatusLine;
  CStatic m_wndRateLine;
  CStatic m_wndTimeLeftLine;
  CProgressCtrl m_wndProgressBar;
  CStatic m_wndFileLine;
  CAnimateCtrl m_wndAnimation;
  std::string m_strErrorText;
  std::string m_strHost;
  std::string m_strRequestPath;
  std::string m_strShownFileName;
  uint16_t m_nHostPort = 0;
  uint32_t m_dwUrlService = 0;
  // Opened by the worker; closed by it only when superseded, the rest in OnDestroy once it ended
  // (closing reports to this dialog through the status callback).
  UniqueInternetHandle m_hSession;
  UniqueInternetHandle m_hConnection;
  UniqueInternetHandle m_hRequest;
  std::atomic<int> m_bStopRequested{0};
  std::atomic<bool> m_bStatusBlank{false};  // the status line shows string 122 and nothing else
  BOOL m_bMayClose = FALSE;
  CFile m_fileTarget;
  std::unique_ptr<CWinThread> m_pWorkerThread;
};
