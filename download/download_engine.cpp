#include "download/download_engine.h"

#include <algorithm>
#include <optional>

#include "framework/app.h"
#include "framework/error_text.h"
#include "framework/format.h"
#include "framework/resources.h"
#include "framework/ui_text.h"
#include "records/failure_report.h"
#include "records/records.h"
#include "records/run_report.h"
#include "res/resource.h"

namespace {
constexpr int kMaxRedirects = 10;
constexpr long kRangeNotSatisfiable = 416;
constexpr DWORD kBlockSize = 1024;
constexpr DWORD kDrainBlockSize = 50;
// How often a back-off looks at the stop flag: a stop ends the wait at once, for the user's eye.
constexpr DWORD kStopPollMs = 50;
// A body that ends before its announced length: the connection ended early.
constexpr long kTruncatedBodyError = ERROR_INTERNET_CONNECTION_ABORTED;

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

// A header read as a number, the way the answer's status and length are.
struct AnsweredNumber {
  bool present = false;           // the answer has the header
  std::optional<uint64_t> value;  // empty when it is no number, or too large a one
};
AnsweredNumber QueryNumber(HINTERNET request, DWORD query) {
  AnsweredNumber number;
  const std::string text = QueryText(request, query);
  number.present = !text.empty();
  if (number.present) number.value = ParseLength(text);
  return number;
}

// A random number for spreading a wait: the system's generator, or, where it is missing
// (Windows 2000), the clock: either way no two installers are likely to pick alike.
uint32_t RandomNumber() {
  using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);
  uint32_t random = 0;
  auto generate = reinterpret_cast<RtlGenRandomFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "SystemFunction036")));
  if (generate != nullptr && generate(&random, sizeof random)) return random;
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  return (counter.LowPart ^ GetCurrentProcessId() * 2654435761u) * 2246822519u;
}

// String `stringId` with `first` as "%1" and `second`, when given, as "%2".
std::string Formatted(UINT stringId, const std::string& first, const char* second = nullptr) {
  std::string text;
  AfxFormatString2(text, stringId, first.c_str(), second);
  return text;
}
}  // namespace

DownloadEngine::DownloadEngine(const DownloadRequest& request, DownloadScreen& screen,
                               INTERNET_STATUS_CALLBACK callback)
    : request_(request), screen_(screen), callback_(callback) {}

DownloadResult DownloadEngine::Run() {
  AttemptOutcome outcome = OpenSession();
  if (outcome.kind == AttemptOutcome::kGoOn) outcome = RunAttempts();
  return Finish(outcome);
}

DownloadEngine::AttemptOutcome DownloadEngine::OpenSession() {
  if (!transfer_.OpenSession(AfxGetAppName())) return ErrorFailure(IDS_ERR_SESSION, 0);
  if (screen_.StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
  if (!transfer_.SetStatusCallback(callback_)) return ErrorFailure(IDS_ERR_SESSION, 0);
  return AttemptOutcome{};
}

DownloadEngine::AttemptOutcome DownloadEngine::RunAttempts() {
  ParsedUrl address = *request_.url;
  FailedAttempt state;
  state.attempts = 1 + request_.retries;
  state.mirrorLeft = request_.mirror.has_value();
  for (;; ++state.attempt) {
    const uint32_t before = transfer_.Position();
    const uint32_t resumesFrom = transfer_.NextRequest().from;
    const AttemptOutcome outcome = RunAttempt(address);
    CountAttempt(CurrentRun(), before, resumesFrom, transfer_.Position());
    if (outcome.kind != AttemptOutcome::kFailed) return outcome;
    state.retryable = outcome.retryable;
    state.notFound = outcome.exit == AttemptOutcome::kHttpStatus && outcome.number == HTTP_STATUS_NOT_FOUND;
    state.bytesReceived = transfer_.Position() > before;
    state.retryAfter = outcome.retryAfter;
    const NextStep next = DecideNextStep(state, RandomNumber());
    if (next.kind == NextStep::kGiveUp) return outcome;
    if (next.kind == NextStep::kRetry) {
      state.waits = next.waits;
      LogFurtherAttempt(address.text, state.attempt + 1, state.attempts, outcome);
      if (!WaitBeforeAttempt(outcome, next.milliseconds, state.attempt + 1, state.attempts)) {
        return AttemptOutcome{AttemptOutcome::kStopped};
      }
      continue;
    }
    // The mirror: the same package from another address, from byte 0, credentials asked anew.
    state.mirrorLeft = false;
    state.attempt = 0;
    CurrentRun().mirrorUsed = true;
    address = *request_.mirror;
    transfer_.Forget();
    transfer_.ForgetServerCredentials();
    LogFurtherAttempt(address.text, 1, state.attempts, outcome);
  }
}

DownloadEngine::AttemptOutcome DownloadEngine::RunAttempt(ParsedUrl& address) {
  if (screen_.StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
  where_ = address.parts;
  AttemptOutcome outcome = Connect();
  if (outcome.kind != AttemptOutcome::kGoOn) return outcome;
  if (screen_.StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
  screen_.StartAnimation();
  RecordStatus("Target", where_.object);
  const RequestStart start = transfer_.NextRequest();
  outcome = OpenRequest();
  for (int redirects = 0; outcome.kind == AttemptOutcome::kGoOn;) {  // one pass per request
    long status = 0;
    if (screen_.StopRequested()) return AttemptOutcome{AttemptOutcome::kStopped};
    outcome = SendAnsweringCredentials(start, status);
    if (outcome.kind != AttemptOutcome::kGoOn) break;
    BodySize size;
    if (status == HTTP_STATUS_OK || (status == HTTP_STATUS_PARTIAL_CONTENT && start.Resumes())) {
      outcome = status == HTTP_STATUS_OK ? StartWholeBody(size) : CheckResumedBody(size);
      return outcome.kind == AttemptOutcome::kGoOn ? CopyBody(size) : outcome;
    }
    if (status == kRangeNotSatisfiable && start.Resumes()) {
      transfer_.Forget();  // the validator no longer leads anywhere: start again at byte 0
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
    address = ParsedUrl{FormatUrl(where_), where_};
  }
  return outcome;
}

bool DownloadEngine::WaitBeforeAttempt(const AttemptOutcome& failed, uint32_t milliseconds, int attempt, int attempts) {
  // "2 of 4" in the words of string 117.
  const std::string attemptText = FormatText("%d", attempt);
  const std::string attemptsText = FormatText("%d", attempts);
  const std::string count = Formatted(IDS_BYTES_OF, attemptText, attemptsText.c_str());
  const UINT line = failed.exit == AttemptOutcome::kHttpStatus ? IDS_RETRY_SERVER : IDS_RETRY_CONNECTION;
  const std::string seconds = FormatWaitSeconds(milliseconds);
  screen_.ShowStatus(Formatted(line, seconds, count.c_str()),
                     UiTranslated()
                         ? LoadUiString(line, WidenAnsi(seconds),
                                        LoadUiString(IDS_BYTES_OF, attemptText.c_str(), attemptsText.c_str()))
                         : std::wstring());
  // By the clock, not by counting sleeps: a sleep lasts at least as long as asked, often a timer
  // tick longer, and the forty sleeps of a 2-second wait add that up.
  const DWORD started = GetTickCount();
  for (DWORD waited = 0; waited < milliseconds; waited = GetTickCount() - started) {
    if (screen_.StopRequested()) return false;
    Sleep(std::min<DWORD>(kStopPollMs, milliseconds - waited));
  }
  return !screen_.StopRequested();
}

void DownloadEngine::LogFurtherAttempt(const std::string& address, int attempt, int attempts,
                                       const AttemptOutcome& failed) {
  std::string reason;
  if (failed.exit == AttemptOutcome::kHttpStatus) {
    reason = FormatText("HTTP status %ld", failed.number);
  } else if (failed.exit == AttemptOutcome::kNoResponse) {
    reason = LoadResString(IDS_ERR_NO_RESPONSE);
  } else {
    reason = LookUpErrorText(failed.number).value_or(FormatText("Error %ld", failed.number));
  }
  LogEvent(FormatText("Attempt %d of %d: %s from byte %u after: %s", attempt, attempts, address.c_str(),
                      transfer_.NextRequest().from, reason.c_str()),
           LOG_INFO);
}

DownloadEngine::AttemptOutcome DownloadEngine::Connect() {
  // The configured login belongs to the configured address's origin: a connection elsewhere (a
  // redirect's, the mirror's) goes without it, or WinINet would answer that server's 401 with it.
  static const std::string kNone;
  const bool configuredOrigin = SameOrigin(where_, request_.url->parts);
  if (!transfer_.Connect(where_, configuredOrigin ? request_.loginName : kNone,
                         configuredOrigin ? request_.loginPassword : kNone, Context())) {
    return ErrorFailure(IDS_ERR_CONNECT, 0);
  }
  return AttemptOutcome{};
}

DownloadEngine::AttemptOutcome DownloadEngine::OpenRequest() {
  if (!transfer_.OpenRequest(where_, Context())) return ErrorFailure(IDS_ERR_CONNECT, 0);
  return AttemptOutcome{};
}

DownloadEngine::AttemptOutcome DownloadEngine::SendAnsweringCredentials(const RequestStart& start, long& status) {
  HINTERNET request = transfer_.Request();
  const std::string& headers = start.headers;
  bool keptApplied = false;
  for (;;) {
    if (!HttpSendRequestA(request, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                          nullptr, 0)) {
      return ErrorFailure(IDS_ERR_CONNECT, 0);
    }
    const AnsweredNumber answered = QueryNumber(request, HTTP_QUERY_STATUS_CODE);
    // A server that closes before any header leaves no status line; some WinINet builds then let
    // the send succeed and report the status 0 instead of failing.
    if (!answered.value || *answered.value == 0 || *answered.value > 999) {
      return AttemptOutcome{AttemptOutcome::kFailed, AttemptOutcome::kNoResponse, 0, 0, true};
    }
    status = static_cast<long>(*answered.value);
    if (status != HTTP_STATUS_DENIED && status != HTTP_STATUS_PROXY_AUTH_REQ) return AttemptOutcome{};
    const bool proxy = status == HTTP_STATUS_PROXY_AUTH_REQ;
    // Without a proxy a 407 comes from the server itself, asking for what the user would type for
    // a proxy: no dialog, a failed answer.
    if (proxy && !transfer_.ProxyInUse()) return StatusFailure(status);
    char drain[kDrainBlockSize];
    DWORD drained = 0;
    do {
      drained = 0;
      InternetReadFile(request, drain, sizeof drain, &drained);
    } while (drained != 0);
    // Credentials the user gave for an earlier request to this origin are not asked for again.
    if (!keptApplied && transfer_.ApplyCredentials(where_, proxy)) {
      keptApplied = true;
      continue;
    }
    // Without a resend there is nothing to download: the answer at hand is the refusal.
    if (!screen_.AskForCredentials(request)) return StatusFailure(status);
    transfer_.KeepCredentials(where_, proxy);
    keptApplied = true;
  }
}

DownloadEngine::AttemptOutcome DownloadEngine::FollowRedirect(long status, int hop) {
  if (hop > kMaxRedirects) return ErrorFailure(IDS_ERR_HTTP_STATUS, ERROR_HTTP_REDIRECT_FAILED);
  UrlParts next;
  if (!ResolveRedirect(where_, QueryText(transfer_.Request(), HTTP_QUERY_LOCATION), next)) {
    return StatusFailure(status);
  }
  if (where_.service == AFX_INET_SERVICE_HTTPS && next.service != AFX_INET_SERVICE_HTTPS) {
    return ErrorFailure(IDS_ERR_CONNECT, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  }
  const std::string address = FormatUrl(next);
  screen_.ShowStatus(Formatted(IDS_REDIRECTING, address), ShownText(IDS_REDIRECTING, address.c_str()));
  // Another origin gets a connection of its own: the one at hand may carry the configured login.
  const bool sameOrigin = SameOrigin(where_, next);
  where_ = next;
  if (!sameOrigin) {
    const AttemptOutcome connected = Connect();
    if (connected.kind != AttemptOutcome::kGoOn) return connected;
  }
  return OpenRequest();
}

DownloadEngine::AttemptOutcome DownloadEngine::TryWithoutTilde(long status) {
  std::string& path = where_.object;
  const size_t tilde = path.find('~');
  if (tilde == std::string::npos || tilde < 1) return StatusFailure(status);
  LogEvent("Target ..." + path + " could not be found.", LOG_FLOW);
  path.erase(std::remove(path.begin(), path.end(), '~'), path.end());
  LogEvent("Attempting to get ..." + path, LOG_FLOW);
  RecordStatus("Target", path);
  return OpenRequest();
}

DownloadEngine::AttemptOutcome DownloadEngine::StartWholeBody(BodySize& size) {
  HINTERNET request = transfer_.Request();
  screen_.ShowStatus(LoadResString(IDS_GETTING_INFO), ShownText(IDS_GETTING_INFO));
  const AnsweredNumber announced = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH);
  if (announced.present && !announced.value) {
    return ErrorFailure(IDS_ERR_DOWNLOAD, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
  if (announced.value && *announced.value > kMaxPackageBytes) {
    LogEvent("The package is " + QueryText(request, HTTP_QUERY_CONTENT_LENGTH) +
                 " bytes long: a package of 4 GB or more is not downloaded.",
             LOG_INFO);
    return ErrorFailure(IDS_ERR_DOWNLOAD, ERROR_FILE_TOO_LARGE);
  }
  size = BodySize{announced.value.has_value(), static_cast<uint32_t>(announced.value.value_or(0))};
  long error = 0;
  if (transfer_.Position() != 0 && !transfer_.Restart(error)) return ErrorFailure(IDS_ERR_DOWNLOAD, error);
  transfer_.RememberWholeAnswer(
      ChooseValidator(QueryText(request, HTTP_QUERY_ETAG), QueryText(request, HTTP_QUERY_LAST_MODIFIED)), size.known,
      size.bytes);
  return AttemptOutcome{};
}

DownloadEngine::AttemptOutcome DownloadEngine::CheckResumedBody(BodySize& size) {
  HINTERNET request = transfer_.Request();
  screen_.ShowStatus(LoadResString(IDS_GETTING_INFO), ShownText(IDS_GETTING_INFO));
  const AnsweredNumber announced = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH);
  if (announced.present && !announced.value) {
    transfer_.Forget();
    return ErrorFailure(IDS_ERR_DOWNLOAD, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
  const PartialAnswer answer{
      QueryText(request, HTTP_QUERY_CONTENT_RANGE), announced.present, announced.value.value_or(0),
      ChooseValidator(QueryText(request, HTTP_QUERY_ETAG), QueryText(request, HTTP_QUERY_LAST_MODIFIED))};
  if (!MayAppendPartial(answer, transfer_.Position(), transfer_.Length(), transfer_.Validator())) {
    transfer_.Forget();  // a part of something else: start again at byte 0
    AttemptOutcome failed = StatusFailure(HTTP_STATUS_PARTIAL_CONTENT);
    failed.retryable = true;
    return failed;
  }
  size = BodySize{true, transfer_.Length()};
  return AttemptOutcome{};
}

DownloadEngine::AttemptOutcome DownloadEngine::CopyBody(BodySize size) {
  if (size.known) screen_.SizeProgressBar(size.bytes);
  screen_.ShowStatus(LoadResString(IDS_EMPTY_STATUS), std::wstring());

  // Rate and time left count the bytes of this attempt only.
  TransferClock clock;
  clock.startTick = clock.lastRateTick = GetTickCount();
  clock.startTotal = clock.lastRateTotal = transfer_.Position();
  HINTERNET request = transfer_.Request();
  char block[kBlockSize];
  DWORD count = 0;
  do {
    count = 0;
    if (!InternetReadFile(request, block, sizeof block, &count)) return ErrorFailure(IDS_ERR_DOWNLOAD, 0);
    if (count == 0 || screen_.StopRequested()) break;
    // More than announced: the answer is not the package it said it was. The next attempt starts
    // again at byte 0.
    if (size.known && count > size.bytes - transfer_.Position()) {
      transfer_.Forget();
      return ErrorFailure(IDS_ERR_DOWNLOAD, ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    long writeError = 0;
    if (!transfer_.Write(block, count, writeError)) return ErrorFailure(IDS_ERR_DOWNLOAD, writeError);
    screen_.ReportTransferProgress(clock, transfer_.Position(), size);
  } while (!screen_.StopRequested());

  if (screen_.StopRequested()) {
    transfer_.DiscardTarget();
    return AttemptOutcome{AttemptOutcome::kStopped};
  }
  if (size.known && transfer_.Position() < size.bytes) return ErrorFailure(IDS_ERR_DOWNLOAD, kTruncatedBodyError);
  // The last bytes reach the disk only here: a full disk shows now, and the download is not done.
  long flushError = 0;
  if (!transfer_.Flush(flushError)) return ErrorFailure(IDS_ERR_DOWNLOAD, flushError);
  return AttemptOutcome{AttemptOutcome::kDone};
}

DownloadResult DownloadEngine::Finish(const AttemptOutcome& outcome) {
  switch (outcome.kind) {
    case AttemptOutcome::kDone:
      return DownloadResult{DownloadResult::Outcome::kDownloaded, std::string(), transfer_.HandOverTarget(), 0, {}};
    case AttemptOutcome::kStopped:
    case AttemptOutcome::kGoOn:
      // A stop before any byte leaves the file as the dialog created it; bytes of an earlier
      // attempt go with it.
      if (transfer_.TargetOpen() && transfer_.Position() != 0) transfer_.DiscardTarget();
      return DownloadResult{};
    case AttemptOutcome::kFailed:
      break;
  }
  NoteRunEnd(CurrentRun(),
             DownloadFailureOutcome(outcome.exit == AttemptOutcome::kHttpStatus,
                                    outcome.exit == AttemptOutcome::kNoResponse, outcome.number),
             outcome.exit == AttemptOutcome::kNoResponse ? 0 : outcome.number);
  if (outcome.exit == AttemptOutcome::kHttpStatus) return FailWithHttpStatus(outcome.number);
  if (outcome.exit == AttemptOutcome::kErrorNumber) return FailWithError(outcome.stringId, outcome.number);
  if (transfer_.Position() != 0) transfer_.DiscardTarget();
  return FailWithMessage(IDS_ERR_NO_RESPONSE);
}

DownloadEngine::AttemptOutcome DownloadEngine::ErrorFailure(UINT stringId, long errorNumber) const {
  const long number = errorNumber != 0 ? errorNumber : static_cast<long>(GetLastError());
  return AttemptOutcome{AttemptOutcome::kFailed, AttemptOutcome::kErrorNumber, stringId, number,
                        IsRetryableError(number)};
}

DownloadEngine::AttemptOutcome DownloadEngine::StatusFailure(long status) const {
  AttemptOutcome failed{AttemptOutcome::kFailed, AttemptOutcome::kHttpStatus, IDS_ERR_HTTP_STATUS, status,
                        IsRetryableStatus(status)};
  if (failed.retryable) failed.retryAfter = RetryAfterSeconds(QueryText(transfer_.Request(), HTTP_QUERY_RETRY_AFTER));
  return failed;
}

DownloadResult DownloadEngine::FailWithError(UINT stringId, long errorNumber) {
  const std::optional<std::string> systemText = LookUpErrorText(errorNumber);
  if (systemText) return FailWithText(*systemText);
  const std::string number = FormatText("%ld", errorNumber);
  return FailWithText(Formatted(stringId, number), stringId, number);
}

DownloadResult DownloadEngine::FailWithHttpStatus(long status) {
  // A status is no error number: looked up, 401 would read "The thread is not in background
  // processing mode."
  const std::string number = FormatText("%ld", status);
  return FailWithText(Formatted(IDS_ERR_HTTP_STATUS, number), IDS_ERR_HTTP_STATUS, number);
}

DownloadResult DownloadEngine::FailWithText(const std::string& text, UINT textId, const std::string& textArg) {
  transfer_.DiscardTarget();
  FailureReport report;
  report.logText = text;
  report.statusKey = "Error";
  report.silent = true;  // the dialog shows it once the worker has ended
  ReportFailure(report);
  return DownloadResult{DownloadResult::Outcome::kFailed, text, DownloadedPackage{}, textId, textArg};
}

DownloadResult DownloadEngine::FailWithMessage(UINT stringId) {
  return DownloadResult{DownloadResult::Outcome::kFailed, LoadResString(stringId), DownloadedPackage{}, stringId, {}};
}
