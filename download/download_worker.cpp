// The download worker: one HTTP transfer into the target file, on its own thread.
#include <cstdlib>
#include <cstring>

#include "download/http_download_dlg.h"
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
constexpr DWORD kBlockSize = 1024;
constexpr DWORD kDrainBlockSize = 50;
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
  if (!OpenSession() || !ContinueUnlessStopped()) return;
  if (!OpenConnection() || !ContinueUnlessStopped()) return;
  StartAnimation();
  RecordStatus("Target", m_strRequestPath);
  if (!OpenRequest()) return;
  for (int redirects = 0;;) {  // one pass per request: the first, each redirect, and the "~" fallback
    long status = 0;
    if (!ContinueUnlessStopped() || !SendAnsweringCredentials(status)) return;
    if (status == HTTP_STATUS_OK) break;
    const bool goOn = IsRedirect(status) ? FollowRedirect(status, ++redirects) : TryWithoutTilde(status);
    if (!goOn) return;
  }
  CopyBody();
}

bool CHttpDownloadDlg::OpenSession() {
  m_hSession.reset(InternetOpenA(AfxGetAppName(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!m_hSession) return FailWithError(IDS_ERR_SESSION, 0);
  if (!ContinueUnlessStopped()) return false;
  if (InternetSetStatusCallback(m_hSession.get(), InternetStatusThunk) == INTERNET_INVALID_STATUS_CALLBACK) {
    return FailWithError(IDS_ERR_SESSION, 0);
  }
  return true;
}

bool CHttpDownloadDlg::OpenConnection() {
  const bool withLogin = !m_strLoginName.empty();
  m_hConnection.reset(InternetConnectA(m_hSession.get(), m_strHost.c_str(), m_nHostPort,
                                       withLogin ? m_strLoginName.c_str() : nullptr,
                                       withLogin ? m_strLoginPassword.c_str() : nullptr, ServiceOf(m_dwUrlService), 0,
                                       reinterpret_cast<DWORD_PTR>(this)));
  if (!m_hConnection) return FailWithError(IDS_ERR_CONNECT, 0);
  return true;
}

bool CHttpDownloadDlg::OpenRequest() {
  static const char* acceptTypes[] = {"*/*", nullptr};
  const DWORD flags = kRequestFlags | (m_dwUrlService == AFX_INET_SERVICE_HTTPS ? INTERNET_FLAG_SECURE : 0);
  m_hRequest.reset(HttpOpenRequestA(m_hConnection.get(), nullptr, m_strRequestPath.c_str(), nullptr, nullptr,
                                    acceptTypes, flags, reinterpret_cast<DWORD_PTR>(this)));
  if (!m_hRequest) return FailWithError(IDS_ERR_CONNECT, 0);
  return true;
}

bool CHttpDownloadDlg::SendAnsweringCredentials(long& status) {
  for (;;) {
    if (!HttpSendRequestA(m_hRequest.get(), nullptr, 0, nullptr, 0)) return FailWithError(IDS_ERR_CONNECT, 0);
    bool ok = false;
    status = QueryNumber(m_hRequest.get(), HTTP_QUERY_STATUS_CODE, ok);
    // A server that closes before any header leaves no status line; some WinINet builds then let
    // the send succeed and report the status 0 instead of failing.
    if (!ok || status <= 0) return FailWithMessage(IDS_ERR_NO_RESPONSE);
    if (status != HTTP_STATUS_DENIED && status != HTTP_STATUS_PROXY_AUTH_REQ) return true;
    // Without a resend there is nothing to download: the answer at hand is the refusal.
    if (!AskForCredentials()) return FailWithHttpStatus(status);
  }
}

bool CHttpDownloadDlg::AskForCredentials() {
  char drain[kDrainBlockSize];
  DWORD drained = 0;
  do {
    drained = 0;
    InternetReadFile(m_hRequest.get(), drain, sizeof drain, &drained);
  } while (drained != 0);
  const DWORD answer = InternetErrorDlg(
      m_hWnd, m_hRequest.get(), ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr);
  return answer == ERROR_INTERNET_FORCE_RETRY;
}

bool CHttpDownloadDlg::FollowRedirect(long status, int hop) {
  if (hop > kMaxRedirects) return FailWithError(IDS_ERR_HTTP_STATUS, ERROR_HTTP_REDIRECT_FAILED);
  const UrlParts current{m_dwUrlService, m_strHost, m_nHostPort, m_strRequestPath};
  UrlParts next;
  if (!ResolveRedirect(current, QueryText(m_hRequest.get(), HTTP_QUERY_LOCATION), next)) {
    return FailWithHttpStatus(status);
  }
  if (current.service == AFX_INET_SERVICE_HTTPS && next.service != AFX_INET_SERVICE_HTTPS) {
    return FailWithError(IDS_ERR_CONNECT, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  }
  ShowStatus(IDS_REDIRECTING, FormatUrl(next).c_str());
  const bool sameServer = next.server == current.server && next.port == current.port &&
                          ServiceOf(next.service) == ServiceOf(current.service);
  m_dwUrlService = next.service;
  m_strHost = next.server;
  m_nHostPort = next.port;
  m_strRequestPath = next.object;
  m_hRequest.reset();
  if (!sameServer) {
    m_hConnection.reset();
    if (!OpenConnection()) return false;
  }
  return OpenRequest();
}

bool CHttpDownloadDlg::TryWithoutTilde(long status) {
  const size_t tilde = m_strRequestPath.find('~');
  if (tilde == std::string::npos || tilde < 1) return FailWithHttpStatus(status);
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

bool CHttpDownloadDlg::CopyBody() {
  ShowStatus(IDS_GETTING_INFO);
  bool sizeKnown = false;
  const uint32_t size = static_cast<uint32_t>(QueryNumber(m_hRequest.get(), HTTP_QUERY_CONTENT_LENGTH, sizeKnown));
  if (sizeKnown) SizeProgressBar(size);
  ShowStatus(IDS_EMPTY_STATUS);

  TransferClock clock;
  clock.startTick = clock.lastRateTick = GetTickCount();
  Sha256 written;
  uint32_t total = 0;
  char block[kBlockSize];
  DWORD count = 0;
  do {
    count = 0;
    if (!InternetReadFile(m_hRequest.get(), block, sizeof block, &count)) return FailWithError(IDS_ERR_DOWNLOAD, 0);
    if (count == 0 || StopRequested()) break;
    long writeError = 0;
    if (!m_fileTarget.Write(block, count, writeError)) return FailWithError(IDS_ERR_DOWNLOAD, writeError);
    written.Update(block, count);
    total += count;
    ReportTransferProgress(clock, total, sizeKnown, size);
  } while (!StopRequested());

  if (!StopRequested() && sizeKnown && total < size) return FailWithError(IDS_ERR_DOWNLOAD, kTruncatedBodyError);
  long flushError = 0;
  if (!StopRequested() && !m_fileTarget.Flush(flushError)) return FailWithError(IDS_ERR_DOWNLOAD, flushError);
  HandOverTarget(written);
  return PostDone(0);
}

void CHttpDownloadDlg::HandOverTarget(Sha256& written) {
  m_fileTarget.Close();
  if (StopRequested()) {
    DeleteFileA(m_strTargetPath.c_str());
    return;
  }
  // No reading handle that denies writing can be opened beside the writing one, and the shell
  // cannot start a file open for writing: unheld for a moment, the file is compared with this
  // hash before it is started.
  m_writtenSha256 = written.Finish();
  m_heldTarget = HoldFileForReading(m_strTargetPath.c_str());
}

bool CHttpDownloadDlg::ContinueUnlessStopped() {
  if (StopRequested()) return PostDone(0);
  return true;
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
  m_fileTarget.Close();
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
    case INTERNET_STATUS_RESOLVING_NAME: stringId = IDS_RESOLVING; break;
    case INTERNET_STATUS_NAME_RESOLVED: stringId = IDS_RESOLVED; break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER: stringId = IDS_CONNECTING; break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER: stringId = IDS_CONNECTED; break;
    case INTERNET_STATUS_REDIRECT: stringId = IDS_REDIRECTING; break;
    default:
      ShowBlankStatus();
      return;
  }
  const char* text = static_cast<const char*>(info);
  const std::string argument = text != nullptr ? std::string(text, strnlen(text, infoLength)) : std::string();
  ShowStatus(stringId, argument.c_str());
}
