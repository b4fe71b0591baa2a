// One whole download, from the session to the held package: the attempts at the configured
// address and at its mirror, the redirects, the credentials, the "~" fallback and the body
// written into the target file. It runs on the worker thread and reaches the screen only through
// DownloadScreen.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "download/download_request.h"
#include "download/downloaded_package.h"
#include "download/progress.h"
#include "download/retry_rules.h"
#include "download/transfer.h"

// What the engine shows and asks while it runs. Every call comes from the worker thread.
class DownloadScreen {
public:
  // A status line, also logged at FLOW; a translation shows `shown` instead (see ShownText).
  virtual void ShowStatus(const std::string& text, const std::wstring& shown) = 0;
  // The connection to the server is made.
  virtual void StartAnimation() = 0;
  // The body's announced length is known.
  virtual void SizeProgressBar(uint32_t size) = 0;
  // After each block written; `clock` is the attempt's bookkeeping, advanced in place.
  virtual void ReportTransferProgress(TransferClock& clock, uint32_t total, BodySize size) = 0;
  // The credentials dialog for the refusal on `request`; true when the request is to be resent.
  virtual bool AskForCredentials(HINTERNET request) = 0;
  virtual bool StopRequested() const = 0;

protected:
  ~DownloadScreen() = default;
};

// How a download ended.
struct DownloadResult {
  enum class Outcome { kDownloaded, kStopped, kFailed } outcome = Outcome::kStopped;
  std::string errorText;      // kFailed: the text the error exit logged, for the user
  DownloadedPackage package;  // kDownloaded: the package, held
  // kFailed: the string errorText was made of and its "%1", for a translation; 0 when errorText is
  // the system's own text for the error.
  UINT textId = 0;
  std::string textArg;
};

class DownloadEngine {
public:
  // `callback` is registered on the session; every handle opened for this download reports to it
  // with `screen` (as DownloadScreen*) as its context. Both must outlive the engine.
  DownloadEngine(const DownloadRequest& request, DownloadScreen& screen, INTERNET_STATUS_CALLBACK callback);

  // Creates the target file new: 0, or the system's error code.
  DWORD CreateTarget() { return transfer_.CreateTarget(request_.targetPath); }
  // The whole download. A failure has been logged and recorded under "Error" when this returns
  // (except for a server that sent no status, whose text only the dialog logs).
  DownloadResult Run();

private:
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

  AttemptOutcome OpenSession();
  // Attempts at the configured address, then at the mirror, until one does not fail or none is left.
  AttemptOutcome RunAttempts();
  // One request chain and its body: connection, request, credentials, redirects, the "~" fallback,
  // and the body written from byte 0 or from where the file stands. `address` is where it starts,
  // and becomes where the "~" fallback leads.
  AttemptOutcome RunAttempt(ParsedUrl& address);
  // Shows why and how long, then waits; false when a stop request ended the wait.
  bool WaitBeforeAttempt(const AttemptOutcome& failed, uint32_t seconds, int attempt, int attempts);
  // The INFO entry of a further attempt: the address, the byte it resumes from and the reason.
  void LogFurtherAttempt(const std::string& address, int attempt, int attempts, const AttemptOutcome& failed);
  AttemptOutcome Connect();
  AttemptOutcome OpenRequest();
  // Sends the request, and sends it again for as long as the server asks for credentials and they
  // are at hand (kept from an earlier request or given by the user); `status` is the last answer's.
  AttemptOutcome SendAnsweringCredentials(const RequestStart& start, long& status);
  // Points the request at the answer's Location; `hop` counts the redirects of this attempt.
  AttemptOutcome FollowRedirect(long status, int hop);
  // The answer was neither success nor a redirect: one more request with every "~" taken out of the
  // path, when the path holds one after its first character.
  AttemptOutcome TryWithoutTilde(long status);
  // A 200: the body from byte 0, the file emptied first if an earlier attempt wrote to it.
  AttemptOutcome StartWholeBody(BodySize& size);
  // A 206 to a resuming request: goes on only when it continues exactly where the file stands.
  AttemptOutcome CheckResumedBody(BodySize& size);
  // Copies the answer's body into the target file, after what is written, hashing it.
  AttemptOutcome CopyBody(BodySize size);
  // The last outcome as the result, through the error exit it asks for.
  DownloadResult Finish(const AttemptOutcome& outcome);
  // `errorNumber` 0 takes the thread's last error.
  AttemptOutcome ErrorFailure(UINT stringId, long errorNumber) const;
  AttemptOutcome StatusFailure(long status) const;
  // The error exits: the system's sentence for the number or the string with it; string 113 with
  // an HTTP status (never a system text); both through FailWithText.
  DownloadResult FailWithError(UINT stringId, long errorNumber);
  DownloadResult FailWithHttpStatus(long status);
  // The target file closed and deleted, the text logged and recorded under "Error".
  DownloadResult FailWithText(const std::string& text, UINT textId = 0, const std::string& textArg = std::string());
  // A fixed text only; the file stays as it is.
  DownloadResult FailWithMessage(UINT stringId);
  DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(&screen_); }

  const DownloadRequest& request_;
  DownloadScreen& screen_;
  INTERNET_STATUS_CALLBACK callback_;
  UrlParts where_;  // the current request's server and object, after redirects and the "~" fallback
  Transfer transfer_;
};
