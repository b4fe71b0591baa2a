#include "download/transfer.h"

#include "download/retry_rules.h"

namespace {
// Redirects are followed by the engine, not by WinINet: a loop must end, and a stop request must
// be seen between hops (Wine's WinINet follows a redirect to itself for ever inside one send).
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                INTERNET_FLAG_NO_AUTO_REDIRECT;

// HTTPS is HTTP over TLS: the HTTP service on the URL's port, with the secure flag on requests.
DWORD ServiceOf(uint32_t urlService) {
  return urlService == AFX_INET_SERVICE_HTTPS ? INTERNET_SERVICE_HTTP : urlService;
}
}  // namespace

bool Transfer::OpenSession(const char* agent) {
  session_.reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  return static_cast<bool>(session_);
}

bool Transfer::SetStatusCallback(INTERNET_STATUS_CALLBACK callback) {
  return InternetSetStatusCallback(session_.get(), callback) != INTERNET_INVALID_STATUS_CALLBACK;
}

bool Transfer::Connect(const UrlParts& url, const std::string& user, const std::string& password, DWORD_PTR context) {
  Disconnect();
  const bool withLogin = !user.empty();
  connection_.reset(InternetConnectA(session_.get(), url.server.c_str(), url.port, withLogin ? user.c_str() : nullptr,
                                     withLogin ? password.c_str() : nullptr, ServiceOf(url.service), 0, context));
  return static_cast<bool>(connection_);
}

bool Transfer::OpenRequest(const UrlParts& url, DWORD_PTR context) {
  static const char* acceptTypes[] = {"*/*", nullptr};
  const DWORD flags = kRequestFlags | (url.service == AFX_INET_SERVICE_HTTPS ? INTERNET_FLAG_SECURE : 0);
  // The one it replaces is closed before any failure is reported: closing reports to the screen,
  // whose thread may be waiting for the worker once the end is posted.
  HINTERNET opened =
      HttpOpenRequestA(connection_.get(), nullptr, url.object.c_str(), nullptr, nullptr, acceptTypes, flags, context);
  const DWORD error = GetLastError();
  request_.reset(opened);
  SetLastError(error);
  return opened != nullptr;
}

void Transfer::Disconnect() {
  request_.reset();
  connection_.reset();
}

DWORD Transfer::CreateTarget(const std::string& path) {
  path_ = path;
  DWORD error = 0;
  return file_.OpenForWriting(path.c_str(), error) ? 0 : error;
}

bool Transfer::Write(const void* block, DWORD count, long& error) {
  if (!file_.Write(block, count, error)) return false;
  written_.Update(block, count);
  position_ += count;
  return true;
}

bool Transfer::Restart(long& error) {
  if (!file_.Truncate(error)) return false;
  written_ = Sha256();
  position_ = 0;
  return true;
}

void Transfer::DiscardTarget() {
  file_.Close();
  DeleteFileA(path_.c_str());
}

DownloadedPackage Transfer::HandOverTarget() {
  file_.Close();
  // No reading handle that denies writing can be opened beside the writing one, and the shell
  // cannot start a file open for writing: unheld for a moment, the file is compared with this
  // hash before it is started.
  DownloadedPackage package;
  package.path = path_;
  package.sha256 = written_.Finish();
  package.held = HoldFileForReading(path_.c_str());
  if (!package.held) package.holdError = GetLastError();
  return package;
}

void Transfer::RememberWholeAnswer(const std::string& validator, bool lengthKnown, uint32_t length) {
  validator_ = validator;
  lengthKnown_ = lengthKnown;
  length_ = length;
}

RequestStart Transfer::NextRequest() const {
  // Without the length a cut could not be told from the end, and a resumed answer not checked.
  if (validator_.empty() || !lengthKnown_ || position_ == 0) return RequestStart{};
  return RequestStart{position_, ResumeHeaders(position_, validator_)};
}

void Transfer::KeepCredentials(bool proxy) {
  Credentials given = {};
  DWORD userLength = sizeof given.user - 1;
  DWORD passwordLength = sizeof given.password - 1;
  // What does not fit whole is not kept: the user would be asked again.
  if (InternetQueryOptionA(request_.get(), proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME,
                           given.user, &userLength) &&
      InternetQueryOptionA(request_.get(), proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD,
                           given.password, &passwordLength)) {
    (proxy ? proxy_ : server_) = given;
  }
  SecureZeroMemory(&given, sizeof given);
}

bool Transfer::ApplyCredentials(bool proxy) const {
  const Credentials& kept = proxy ? proxy_ : server_;
  if (kept.user[0] == '\0') return false;
  return InternetSetOptionA(request_.get(), proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME,
                            const_cast<char*>(kept.user), lstrlenA(kept.user)) &&
         InternetSetOptionA(request_.get(), proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD,
                            const_cast<char*>(kept.password), lstrlenA(kept.password));
}

void Transfer::ForgetServerCredentials() { SecureZeroMemory(&server_, sizeof server_); }
