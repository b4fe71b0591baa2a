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
#include "download/transfer.h"
#include "framework/dialog.h"
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
  int m_nSourceKind = 0;             // negative: a QA URL, shown in the QA form of the file line
  int m_nShowUI = 1;                 // 0: silent (hidden, no message boxes)
  std::string m_strQaVersion;        // shown in the QA file line
  CTrayIcon* m_pTrayIcon = nullptr;  // its tooltip follows the percentage; may be null
  int m_nRetries = 0;                // further attempts a failed transfer gets at each address (0 to 10)
  std::string m_strMirrorUrl;        // a second URL of the same package, for when the first gives up; "" for none

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

  // What an attempt, or one of its steps, came to. A failure carries what the error exit needs when
  // it is the last, and whether a further attempt may help.
  struct AttemptOutcome {
    enum Kind { kGoOn, kDone, kStopped, kFailed } kind = kGoOn;
    enum Exit { kErrorNumber, kHttpStatus, kNoResponse } exit = kErrorNumber;
    UINT stringId = 0;
    long number = 0;  // the error number, or the HTTP status
    bool retryable = false;
    long retryAfter = -1;  // the seconds the server asked to wait; -1 when it did not say
  };

  // The worker (runs on its own thread). RunDownload opens the session, runs the attempts and
  // reports how the last one ended, with the one message it posts.
  void RunDownload();
  // Attempts at the configured address, then at the mirror, until one does not fail or none is left.
  AttemptOutcome RunAttempts();
  // One request chain and its body: connection, request, credentials, redirects, the "~" fallback,
  // and the body written from byte 0 or from where the file stands. `address` is the URL where it
  // starts, and becomes where the "~" fallback leads.
  AttemptOutcome RunAttempt(std::string& address);
  // Waits before further attempt `attempt` of `attempts` (the `wait`th back-off, or what the server
  // asked for), showing why on the status line; false when a stop request ended the wait.
  bool WaitBeforeAttempt(const AttemptOutcome& failed, int wait, int attempt, int attempts);
  // The INFO entry of a further attempt: the address, the byte it resumes from and the reason.
  void LogFurtherAttempt(const std::string& address, int attempt, int attempts, const AttemptOutcome& failed);
  // The session with the status callback registered on it.
  AttemptOutcome OpenSession();
  // Points the members at the URL `address` and connects to its server anew.
  AttemptOutcome ConnectTo(const std::string& address);
  AttemptOutcome OpenConnection();
  // A request for m_strRequestPath. The one it replaces is closed once the new one is open and
  // before any failure is posted: closing reports to this dialog, whose thread may be waiting for
  // the worker once the end is posted.
  AttemptOutcome OpenRequest();
  // Sends the request with `headers`, and sends it again for as long as the server asks for
  // credentials and they are at hand (kept from an earlier request or given by the user); `status`
  // is the last answer's status code.
  AttemptOutcome SendAnsweringCredentials(const std::string& headers, long& status);
  // Shows the credentials dialog for the refusal at hand; true when the request is to be resent.
  bool AskForCredentials();
  // Points the request at the answer's Location; `hop` counts the redirects of this attempt, this
  // one included.
  AttemptOutcome FollowRedirect(long status, int hop);
  // The answer was neither success nor a redirect: one more request with every "~" taken out of the
  // path, when the path holds one after its first character.
  AttemptOutcome TryWithoutTilde(long status);
  // A 200: the body from byte 0, the file emptied first if an earlier attempt wrote to it.
  AttemptOutcome StartWholeBody(uint32_t& size, bool& sizeKnown);
  // A 206 to a resuming request: goes on only when it continues exactly where the file stands.
  AttemptOutcome CheckResumedBody(uint32_t& size, bool& sizeKnown);
  // Copies the answer's body into the target file, after what is written, hashing it.
  AttemptOutcome CopyBody(bool sizeKnown, uint32_t size);
  // Closes the target file, holds it for reading and keeps the hash of what was written.
  void HandOverTarget();
  // Closes and deletes the target file.
  void DiscardTarget();
  // Reports the last outcome: the posted result, and for a failure the error exit it asks for.
  void Finish(const AttemptOutcome& outcome);
  AttemptOutcome ErrorFailure(UINT stringId, long errorNumber) const;
  AttemptOutcome StatusFailure(long status) const;
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
  // The string with `argument` as "%1" and `argument2` (when given) as "%2".
  void ShowStatus(UINT stringId, const char* argument, const char* argument2 = nullptr);
  // The status line for any other connection stage: one blank (string 122).
  void ShowBlankStatus();
  // The status line, also logged at FLOW.
  void ShowAndLogStatusLine(const std::string& text);
  void StartAnimation();
  void SizeProgressBar(uint32_t size);
  void MoveProgressBar(uint32_t total);
  // The percentage in the title and the tray tooltip; also records it as the status file's "Progress".
  void ShowPercentage(int percent);
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
  std::atomic<int> m_bStopRequested{0};
  std::atomic<bool> m_bStatusBlank{false};  // the status line shows string 122 and nothing else
  BOOL m_bMayClose = FALSE;
  Transfer m_transfer;  // the handles, the target file and what resuming needs
  std::unique_ptr<CWinThread> m_pWorkerThread;
};
