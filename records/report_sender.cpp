#include "records/report_sender.h"

#include <process.h>
#include <wininet.h>

#include "framework/app.h"
#include "framework/error_text.h"
#include "framework/format.h"
#include "framework/handle.h"
#include "framework/url.h"

namespace {
// No credentials of any kind go with the report, none are asked for, nothing is kept or taken from
// a cache; a redirect is not followed (it could lead away from https). Certificate errors stay
// errors: no INTERNET_FLAG_IGNORE_CERT_* flag.
constexpr DWORD kReportFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_COOKIES |
                               INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                               INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
const char kJsonHeader[] = "Content-Type: application/json\r\n";

DWORD runStart = 0;

// What the sending thread works on, shared by it and the caller: whichever lets go last deletes it,
// so a thread still blocked when the bound has passed keeps its part until the process ends it.
struct Sending {
  LONG holders = 2;
  std::string agent;
  UrlParts url;
  std::string json;
  DWORD timeoutMs = 0;
  DWORD error = 0;  // the system's error of the step that failed; 0 when an answer came
  DWORD status = 0;
};

void SetTimeouts(HINTERNET session, DWORD ms) {
  for (const DWORD option :
       {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(session, option, &ms, sizeof ms);
  }
}

void Send(Sending& sending) {
  UniqueInternetHandle session(InternetOpenA(sending.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) {
    sending.error = GetLastError();
    return;
  }
  SetTimeouts(session.get(), sending.timeoutMs);
  UniqueInternetHandle connection(InternetConnectA(session.get(), sending.url.server.c_str(), sending.url.port, nullptr,
                                                   nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) {
    sending.error = GetLastError();
    return;
  }
  UniqueInternetHandle request(HttpOpenRequestA(connection.get(), "POST", sending.url.object.c_str(), nullptr, nullptr,
                                                nullptr, kReportFlags, 0));
  if (!request || !HttpSendRequestA(request.get(), kJsonHeader, static_cast<DWORD>(sizeof kJsonHeader - 1),
                                    const_cast<char*>(sending.json.data()), static_cast<DWORD>(sending.json.size()))) {
    sending.error = GetLastError();
    return;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    sending.error = GetLastError();
    return;
  }
  sending.status = status;
}

void LetGo(Sending* sending) {
  if (InterlockedDecrement(&sending->holders) == 0) delete sending;
}

unsigned __stdcall SendingThread(void* param) {
  Sending* sending = static_cast<Sending*>(param);
  Send(*sending);
  LetGo(sending);
  return 0;
}
}  // namespace

void StartRunClock() { runStart = GetTickCount(); }

int64_t RunMilliseconds() { return static_cast<int64_t>(static_cast<DWORD>(GetTickCount() - runStart)); }

bool ProxyConfigured() {
  // A null handle asks for the settings every INTERNET_OPEN_TYPE_PRECONFIG session starts from.
  DWORD size = 0;
  InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO)) return false;
  std::string buffer(size, '\0');
  if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, &buffer[0], &size)) return false;
  return reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data())->dwAccessType == INTERNET_OPEN_TYPE_PROXY;
}

std::string SendRunReport(const std::string& url, const std::string& json, DWORD boundMs) {
  const std::optional<ParsedUrl> parsed = ParseDownloadUrl(url);
  if (!parsed || parsed->parts.service != AFX_INET_SERVICE_HTTPS) return "Run report not sent: no https:// address";
  Sending* sending = new Sending;
  sending->agent = AfxGetAppName();
  sending->url = parsed->parts;
  sending->json = json;
  sending->timeoutMs = boundMs;
  const std::string& server = parsed->parts.server;
  UniqueHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SendingThread, sending, 0, nullptr)));
  if (!thread) {
    delete sending;
    return "Run report not sent: no thread to send it";
  }
  std::string entry;
  if (WaitForSingleObject(thread.get(), boundMs) != WAIT_OBJECT_0) {
    entry = FormatText("Run report not sent: no answer from %s within %lu ms", server.c_str(),
                       static_cast<unsigned long>(boundMs));
  } else if (sending->error != 0) {
    entry = FormatText("Run report not sent to %s: %s", server.c_str(), SystemErrorText(sending->error).c_str());
  } else {
    entry = FormatText("Run report sent to %s: HTTP %lu", server.c_str(), static_cast<unsigned long>(sending->status));
  }
  LetGo(sending);
  return entry;
}
