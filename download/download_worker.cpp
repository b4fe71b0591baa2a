// The download worker: one HTTP transfer into the target file, on its own thread.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "download/http_download_dlg.h"
#include "download/retry_rules.h"
#include "framework/app.h"
#include "framework/error_text.h"
#include "framework/format.h"
#include "framework/resources.h"
#include "framework/url.h"
#include "records/records.h"
#include "res/resource.h"

namespace {
// Redirects are followed here, not by WinINet: a loop must end, and a stop request must be seen
// between hops (Wine's WinINet follows a redirect to itself for ever inside one send).
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kMaxRedirects = 10;
constexpr long kRangeNotSatisfiable = 416;
constexpr DWORD kBlockSize = 1024;
constexpr DWORD kDrainBlockSize = 50;
// How often a back-off looks at the stop flag: a stop ends the wait at once, for the user's eye.
constexpr DWORD kStopPollMs = 50;
// A body that ends before its announced length: the connection ended early.
constexpr long kTruncatedBodyError = ERROR_INTERNET_CONNECTION_ABORTED;

// HTTPS is HTTP over TLS: the HTTP service on the URL's port, with the secure flag on requests.
DWORD ServiceOf(uint32_t urlService) {
  return urlService == AFX_INET_SERVICE_HTTPS ? INTERNET_SERVICE_HTTP : urlService;
}

// The system's sentence for `number`, from WinINet's message table or the system's, without line
// breaks. FALSE when there is none, or when WinINet is not loaded.
BOOL LookUpErrorText(long number, std::string& text, bool fromWinInet) {
  HMODULE wininet = GetModuleHandleA("WinINet.dll");
  if (wininet == nullptr) return FALSE;
  return LookUpMessageText(static_cast<DWORD>(number), fromWinInet ? wininet : nullptr, "", text);
}

// Failures of the network or of the server's end of the connection, which may well not happen
// again: no connection, a reset or abort, a name that did not resolve, a time-out. WinINet also
// passes on the socket's own errors for a reset or a refused connection.
bool IsRetryableError(long number) {
  switch (number) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_INTERNET_DISCONNECTED:
    case ERROR_INTERNET_SERVER_UNREACHABLE:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAETIMEDOUT:
    case WSAECONNREFUSED:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
      return true;
    default:
      return false;
  }
}

bool IsRedirect(long status) {
  return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
         status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == 308;
}

// A header's whole value; empty when the answer has none.
std::string QueryText(HINTERNET request, DWORD query) {
  DWORD length = 0;
  HttpQueryInfoA(request, query, nullptr, &length, nullptr);
  if (length == 0) return std::string();
  std::string text(length, '\0');
  if (!HttpQueryInfoA(request, query, &text[0], &length, nullptr)) return std::string();
  text.resize(length);
  return text;
}

long QueryNumber(HINTERNET request, DWORD query, bool& ok) {
  char text[32] = {};
  DWORD length = sizeof text;
  ok = HttpQueryInfoA(request, query, text, &length, nullptr) != FALSE;
  text[sizeof text - 1] = '\0';
  return ok ? std::atol(text) : 0;
}
}  // namespace

UINT __cdecl CHttpDownloadDlg::DownloadWorkerProc(LPVOID param) {
  static_cast<CHttpDownloadDlg*>(param)->RunDownload();
  return 0;
}

void CHttpDownloadDlg::RunDownload() {
  AttemptOutcome outcome = OpenSession();
  if (outcome.kind == AttemptOutcome::kGoOn) outcome = RunAttempts();
  Finish(outcome);
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::RunAttempts() {
  std::string address = m_strSourceUrl;
  bool mirrorLeft = !m_strMirrorUrl.empty();
  const int attempts = 1 + m_nRetries;
  int waits = 0;  // waits since the transfer last moved on
  for (int attempt = 1;; ++attempt) {
    const uint32_t before = m_transfer.Position();
    const AttemptOutcome outcome = RunAttempt(address);
    if (outcome.kind != AttemptOutcome::kFailed) return outcome;
    const bool notFound = outcome.exit == AttemptOutcome::kHttpStatus && outcome.number == HTTP_STATUS_NOT_FOUND;
    if (outcome.retryable && !notFound && attempt < attempts) {
      // A link that carried bytes before it broke is not a server that is down: the waits start
      // again from the shortest, so a connection cut every few minutes costs seconds, not minutes.
      waits = m_transfer.Position() > before ? 1 : waits + 1;
      LogFurtherAttempt(address, attempt + 1, attempts, outcome);
      if (!WaitBeforeAttempt(outcome, waits, attempt + 1, attempts)) return AttemptOutcome{AttemptOutcome::kStopped};
      continue;
    }
    // The mirror: the same package from another address, from byte 0, credentials asked anew.
    if (!mirrorLeft || !(outcome.retryable || notFound)) return outcome;
    mirrorLeft = false;
    address = m_strMirrorUrl;
    attempt = 0;
    m_transfer.Forget();
    m_transfer.ForgetServerCredentials();
    LogFurtherAttempt(address, 1, attempts, outcome);
  }
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::RunAttempt(std::string& address) {
  AttemptOutcome outcome = ConnectTo(address);
  if (outcome.kind != AttemptOutcome::kGoOn) return outcome;
  if (StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
  StartAnimation();
  RecordStatus("Target", m_strRequestPath);
  const std::string resume = m_transfer.NextRequestHeaders();
  outcome = OpenRequest();
  for (int redirects = 0; outcome.kind == AttemptOutcome::kGoOn;) {  // one pass per request
    long status = 0;
    if (StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
    outcome = SendAnsweringCredentials(resume, status);
    if (outcome.kind != AttemptOutcome::kGoOn) break;
    bool sizeKnown = false;
    uint32_t size = 0;
    if (status == HTTP_STATUS_OK || (status == HTTP_STATUS_PARTIAL_CONTENT && !resume.empty())) {
      outcome = status == HTTP_STATUS_OK ? StartWholeBody(size, sizeKnown) : CheckResumedBody(size, sizeKnown);
      return outcome.kind == AttemptOutcome::kGoOn ? CopyBody(sizeKnown, size) : outcome;
    }
    if (status == kRangeNotSatisfiable && !resume.empty()) {
      m_transfer.Forget();  // the validator no longer leads anywhere: start again at byte 0
      outcome = StatusFailure(status);
      outcome.retryable = true;
      break;
    }
    if (IsRedirect(status)) {
      outcome = FollowRedirect(status, ++redirects);
      continue;
    }
    outcome = TryWithoutTilde(status);
    if (outcome.kind != AttemptOutcome::kGoOn) break;
    address = FormatUrl({m_dwUrlService, m_strHost, m_nHostPort, m_strRequestPath});
  }
  return outcome;
}

bool CHttpDownloadDlg::WaitBeforeAttempt(const AttemptOutcome& failed, int wait, int attempt, int attempts) {
  const uint32_t seconds = failed.retryAfter >= 0 ? static_cast<uint32_t>(failed.retryAfter) : BackOffSeconds(wait);
  // "2 of 4" in the words of string 117.
  std::string count;
  AfxFormatString2(count, IDS_BYTES_OF, FormatText("%d", attempt).c_str(), FormatText("%d", attempts).c_str());
  ShowStatus(failed.exit == AttemptOutcome::kHttpStatus ? IDS_RETRY_SERVER : IDS_RETRY_CONNECTION,
             FormatText("%u", seconds).c_str(), count.c_str());
  // By the clock, not by counting sleeps: a sleep lasts at least as long as asked, often a timer
  // tick longer, and the forty sleeps of a 2-second wait add that up.
  const DWORD started = GetTickCount();
  for (DWORD waited = 0; waited < seconds * 1000; waited = GetTickCount() - started) {
    if (StopRequested()) return false;
    Sleep(std::min<DWORD>(kStopPollMs, seconds * 1000 - waited));
  }
  return !StopRequested();
}

void CHttpDownloadDlg::LogFurtherAttempt(const std::string& address, int attempt, int attempts,
                                         const AttemptOutcome& failed) {
  std::string reason;
  if (failed.exit == AttemptOutcome::kHttpStatus) {
    reason = FormatText("HTTP status %ld", failed.number);
  } else if (failed.exit == AttemptOutcome::kNoResponse) {
    reason = LoadResString(IDS_ERR_NO_RESPONSE);
  } else if (!LookUpErrorText(failed.number, reason, true) && !LookUpErrorText(failed.number, reason, false)) {
    reason = FormatText("Error %ld", failed.number);
  }
  const uint32_t from = m_transfer.NextRequestHeaders().empty() ? 0 : m_transfer.Position();
  LogEvent(FormatText("Attempt %d of %d: %s from byte %u after: %s", attempt, attempts, address.c_str(), from,
                      reason.c_str()),
           LOG_INFO);
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::OpenSession() {
  m_transfer.m_hSession.reset(InternetOpenA(AfxGetAppName(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!m_transfer.m_hSession) return ErrorFailure(IDS_ERR_SESSION, 0);
  if (StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
  if (InternetSetStatusCallback(m_transfer.m_hSession.get(), InternetStatusThunk) == INTERNET_INVALID_STATUS_CALLBACK) {
    return ErrorFailure(IDS_ERR_SESSION, 0);
  }
  return AttemptOutcome{};
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::ConnectTo(const std::string& address) {
  if (StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
  m_transfer.m_hRequest.reset();
  m_transfer.m_hConnection.reset();
  if (!AfxParseURL(address.c_str(), m_dwUrlService, m_strHost, m_strRequestPath, m_nHostPort)) {
    return ErrorFailure(IDS_ERR_CONNECT, ERROR_INTERNET_INVALID_URL);
  }
  return OpenConnection();
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::OpenConnection() {
  const bool withLogin = !m_strLoginName.empty();
  m_transfer.m_hConnection.reset(InternetConnectA(m_transfer.m_hSession.get(), m_strHost.c_str(), m_nHostPort,
                                                  withLogin ? m_strLoginName.c_str() : nullptr,
                                                  withLogin ? m_strLoginPassword.c_str() : nullptr,
                                                  ServiceOf(m_dwUrlService), 0, reinterpret_cast<DWORD_PTR>(this)));
  if (!m_transfer.m_hConnection) return ErrorFailure(IDS_ERR_CONNECT, 0);
  return AttemptOutcome{};
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::OpenRequest() {
  static const char* acceptTypes[] = {"*/*", nullptr};
  const DWORD flags = kRequestFlags | (m_dwUrlService == AFX_INET_SERVICE_HTTPS ? INTERNET_FLAG_SECURE : 0);
  m_transfer.m_hRequest.reset(HttpOpenRequestA(m_transfer.m_hConnection.get(), nullptr, m_strRequestPath.c_str(),
                                               nullptr, nullptr, acceptTypes, flags,
                                               reinterpret_cast<DWORD_PTR>(this)));
  if (!m_transfer.m_hRequest) return ErrorFailure(IDS_ERR_CONNECT, 0);
  return AttemptOutcome{};
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::SendAnsweringCredentials(const std::string& headers, long& status) {
  HINTERNET request = m_transfer.m_hRequest.get();
  bool keptApplied = false;
  for (;;) {
    if (!HttpSendRequestA(request, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                          nullptr, 0)) {
      return ErrorFailure(IDS_ERR_CONNECT, 0);
    }
    bool ok = false;
    status = QueryNumber(request, HTTP_QUERY_STATUS_CODE, ok);
    // A server that closes before any header leaves no status line; some WinINet builds then let
    // the send succeed and report the status 0 instead of failing.
    if (!ok || status <= 0) return AttemptOutcome{AttemptOutcome::kFailed, AttemptOutcome::kNoResponse, 0, 0, true};
    if (status != HTTP_STATUS_DENIED && status != HTTP_STATUS_PROXY_AUTH_REQ) return AttemptOutcome{};
    const bool proxy = status == HTTP_STATUS_PROXY_AUTH_REQ;
    char drain[kDrainBlockSize];
    DWORD drained = 0;
    do {
      drained = 0;
      InternetReadFile(request, drain, sizeof drain, &drained);
    } while (drained != 0);
    // Credentials the user gave for an earlier request to this address are not asked for again.
    if (!keptApplied && m_transfer.ApplyCredentials(request, proxy)) {
      keptApplied = true;
      continue;
    }
    // Without a resend there is nothing to download: the answer at hand is the refusal.
    if (!AskForCredentials()) return StatusFailure(status);
    m_transfer.KeepCredentials(request, proxy);
    keptApplied = true;
  }
}

bool CHttpDownloadDlg::AskForCredentials() {
  const DWORD answer = InternetErrorDlg(
      m_hWnd, m_transfer.m_hRequest.get(), ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr);
  return answer == ERROR_INTERNET_FORCE_RETRY;
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::FollowRedirect(long status, int hop) {
  if (hop > kMaxRedirects) return ErrorFailure(IDS_ERR_HTTP_STATUS, ERROR_HTTP_REDIRECT_FAILED);
  const UrlParts current{m_dwUrlService, m_strHost, m_nHostPort, m_strRequestPath};
  UrlParts next;
  if (!ResolveRedirect(current, QueryText(m_transfer.m_hRequest.get(), HTTP_QUERY_LOCATION), next)) {
    return StatusFailure(status);
  }
  if (current.service == AFX_INET_SERVICE_HTTPS && next.service != AFX_INET_SERVICE_HTTPS) {
    return ErrorFailure(IDS_ERR_CONNECT, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  }
  ShowStatus(IDS_REDIRECTING, FormatUrl(next).c_str());
  const bool sameServer = next.server == current.server && next.port == current.port &&
                          ServiceOf(next.service) == ServiceOf(current.service);
  m_dwUrlService = next.service;
  m_strHost = next.server;
  m_nHostPort = next.port;
  m_strRequestPath = next.object;
  m_transfer.m_hRequest.reset();
  if (!sameServer) {
    m_transfer.m_hConnection.reset();
    const AttemptOutcome connected = OpenConnection();
    if (connected.kind != AttemptOutcome::kGoOn) return connected;
  }
  return OpenRequest();
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::TryWithoutTilde(long status) {
  const size_t tilde = m_strRequestPath.find('~');
  if (tilde == std::string::npos || tilde < 1) return StatusFailure(status);
  LogEvent("Target ..." + m_strRequestPath + " could not be found.", LOG_FLOW);
  std::string withoutTilde;
  for (char c : m_strRequestPath) {
    if (c != '~') withoutTilde += c;
  }
  m_strRequestPath = withoutTilde;
  LogEvent("Attempting to get ..." + m_strRequestPath, LOG_FLOW);
  RecordStatus("Target", m_strRequestPath);
  return OpenRequest();
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::StartWholeBody(uint32_t& size, bool& sizeKnown) {
  HINTERNET request = m_transfer.m_hRequest.get();
  ShowStatus(IDS_GETTING_INFO);
  size = static_cast<uint32_t>(QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, sizeKnown));
  long error = 0;
  if (m_transfer.Position() != 0 && !m_transfer.Restart(error)) return ErrorFailure(IDS_ERR_DOWNLOAD, error);
  m_transfer.RememberWholeAnswer(
      ChooseValidator(QueryText(request, HTTP_QUERY_ETAG), QueryText(request, HTTP_QUERY_LAST_MODIFIED)), sizeKnown,
      size);
  return AttemptOutcome{};
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::CheckResumedBody(uint32_t& size, bool& sizeKnown) {
  ShowStatus(IDS_GETTING_INFO);
  uint64_t first = 0, complete = 0;
  if (!ParseContentRange(QueryText(m_transfer.m_hRequest.get(), HTTP_QUERY_CONTENT_RANGE), first, complete) ||
      first != m_transfer.Position() || complete != m_transfer.Length()) {
    m_transfer.Forget();  // a part of something else: start again at byte 0
    AttemptOutcome failed = StatusFailure(HTTP_STATUS_PARTIAL_CONTENT);
    failed.retryable = true;
    return failed;
  }
  sizeKnown = true;
  size = m_transfer.Length();
  return AttemptOutcome{};
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::CopyBody(bool sizeKnown, uint32_t size) {
  if (sizeKnown) SizeProgressBar(size);
  ShowStatus(IDS_EMPTY_STATUS);

  // Rate and time left count the bytes of this attempt only.
  TransferClock clock;
  clock.startTick = clock.lastRateTick = GetTickCount();
  clock.startTotal = clock.lastRateTotal = m_transfer.Position();
  HINTERNET request = m_transfer.m_hRequest.get();
  char block[kBlockSize];
  DWORD count = 0;
  do {
    count = 0;
    if (!InternetReadFile(request, block, sizeof block, &count)) return ErrorFailure(IDS_ERR_DOWNLOAD, 0);
    if (count == 0 || StopRequested()) break;
    long writeError = 0;
    if (!m_transfer.Write(block, count, writeError)) return ErrorFailure(IDS_ERR_DOWNLOAD, writeError);
    ReportTransferProgress(clock, m_transfer.Position(), sizeKnown, size);
  } while (!StopRequested());

  if (StopRequested()) {
    DiscardTarget();
    return AttemptOutcome{AttemptOutcome::kStopped};
  }
  if (sizeKnown && m_transfer.Position() < size) return ErrorFailure(IDS_ERR_DOWNLOAD, kTruncatedBodyError);
  long flushError = 0;
  if (!m_transfer.m_fileTarget.Flush(flushError)) return ErrorFailure(IDS_ERR_DOWNLOAD, flushError);
  return AttemptOutcome{AttemptOutcome::kDone};
}

void CHttpDownloadDlg::HandOverTarget() {
  m_transfer.m_fileTarget.Close();
  // No reading handle that denies writing can be opened beside the writing one, and the shell
  // cannot start a file open for writing: unheld for a moment, the file is compared with this
  // hash before it is started.
  m_writtenSha256 = m_transfer.Finish();
  m_heldTarget = HoldFileForReading(m_strTargetPath.c_str());
}

void CHttpDownloadDlg::DiscardTarget() {
  m_transfer.m_fileTarget.Close();
  DeleteFileA(m_strTargetPath.c_str());
}

void CHttpDownloadDlg::Finish(const AttemptOutcome& outcome) {
  switch (outcome.kind) {
    case AttemptOutcome::kDone:
      HandOverTarget();
      PostDone(0);
      return;
    case AttemptOutcome::kStopped:
    case AttemptOutcome::kGoOn:
      // A stop before any byte leaves the file as the dialog created it; bytes of an earlier
      // attempt go with it.
      if (m_transfer.m_fileTarget.IsOpen() && m_transfer.Position() != 0) DiscardTarget();
      PostDone(0);
      return;
    case AttemptOutcome::kFailed:
      break;
  }
  if (outcome.exit == AttemptOutcome::kHttpStatus) {
    FailWithHttpStatus(outcome.number);
  } else if (outcome.exit == AttemptOutcome::kErrorNumber) {
    FailWithError(outcome.stringId, outcome.number);
  } else {
    if (m_transfer.Position() != 0) DiscardTarget();
    FailWithMessage(IDS_ERR_NO_RESPONSE);
  }
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::ErrorFailure(UINT stringId, long errorNumber) const {
  const long number = errorNumber != 0 ? errorNumber : static_cast<long>(GetLastError());
  return AttemptOutcome{AttemptOutcome::kFailed, AttemptOutcome::kErrorNumber, stringId, number,
                        IsRetryableError(number)};
}

CHttpDownloadDlg::AttemptOutcome CHttpDownloadDlg::StatusFailure(long status) const {
  AttemptOutcome failed{AttemptOutcome::kFailed, AttemptOutcome::kHttpStatus, IDS_ERR_HTTP_STATUS, status,
                        IsRetryableStatus(status)};
  if (failed.retryable) {
    failed.retryAfter = RetryAfterSeconds(QueryText(m_transfer.m_hRequest.get(), HTTP_QUERY_RETRY_AFTER));
  }
  return failed;
}

bool CHttpDownloadDlg::PostDone(WPARAM result) {
  ::PostMessageA(m_hWnd, WM_DOWNLOAD_DONE, result, 0);
  return false;
}

bool CHttpDownloadDlg::FailWithError(UINT stringId, long errorNumber) {
  const long number = errorNumber != 0 ? errorNumber : static_cast<long>(GetLastError());
  if (!LookUpErrorText(number, m_strErrorText, true) && !LookUpErrorText(number, m_strErrorText, false)) {
    AfxFormatString1(m_strErrorText, stringId, FormatText("%ld", number).c_str());
  }
  return FailWithText();
}

bool CHttpDownloadDlg::FailWithHttpStatus(long status) {
  // A status is no error number: looked up, 401 would read "The thread is not in background
  // processing mode."
  AfxFormatString1(m_strErrorText, IDS_ERR_HTTP_STATUS, FormatText("%ld", status).c_str());
  return FailWithText();
}

bool CHttpDownloadDlg::FailWithText() {
  m_transfer.m_fileTarget.Close();
  DeleteFileA(m_strTargetPath.c_str());
  LogEvent(m_strErrorText, LOG_ERROR);
  RecordStatus("Error", m_strErrorText);
  return PostDone(1);
}

bool CHttpDownloadDlg::FailWithMessage(UINT stringId) {
  m_strErrorText = LoadResString(stringId);
  return PostDone(1);
}

void CALLBACK CHttpDownloadDlg::InternetStatusThunk(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                                    DWORD infoLength) {
  // The session itself carries no context; only handles opened for a dialog report to it.
  if (context != 0) reinterpret_cast<CHttpDownloadDlg*>(context)->OnInternetStatus(handle, status, info, infoLength);
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
