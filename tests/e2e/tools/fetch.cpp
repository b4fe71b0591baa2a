// fetch: one GET through WinINet, the way the installer makes it, for proving the test servers
// and certificates under Wine and as the bare loop the benchmark compares the installer with.
//   fetch <url> [--block N] [--out FILE] [--flags HEX] [--callback 1]
// --block: bytes per InternetReadFile (default 1024); --out: where the body goes (default nowhere);
// --flags: request flags (default 0x84400000, reload | no cache write | keep connection; an https
// URL adds INTERNET_FLAG_SECURE); --callback 1: a status callback that only counts the notifications
// is registered and the handles carry a context, so WinINet calls it as it calls the installer's
// (the cost of the calls themselves, as a baseline). Prints one line:
//   status=N length=N|- bytes=N seconds=S [notifications=N]   the body was read to its end (exit 0)
//   error=N stage=STAGE bytes=N seconds=S          a WinINet or file call failed (exit 1)
// seconds runs from sending the request to the end of the body; exit 2 for bad arguments.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/handle.h"

namespace {

struct Clock {
  LARGE_INTEGER frequency, start;
  Clock() {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
  }
  double Seconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  }
};

LONG notifications = 0;

void CALLBACK CountNotification(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) { ++notifications; }

int Failed(const char* stage, DWORD error, unsigned long bytes, double seconds) {
  printf("error=%lu stage=%s bytes=%lu seconds=%.3f\n", error, stage, bytes, seconds);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: fetch <url> [--block N] [--out FILE] [--flags HEX] [--callback 1]\n");
    return 2;
  }
  std::string url = argv[1], out;
  DWORD block = 1024, flags = 0x84400000;
  bool callback = false;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--block")
      block = strtoul(argv[i + 1], nullptr, 0);
    else if (name == "--out")
      out = argv[i + 1];
    else if (name == "--flags")
      flags = strtoul(argv[i + 1], nullptr, 16);
    else if (name == "--callback")
      callback = strtoul(argv[i + 1], nullptr, 0) != 0;
    else
      return 2;
  }
  if (argc % 2 != 0 || block == 0) return 2;

  char host[256] = "", path[2048] = "";
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  char extra[2048] = "";
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof extra;
  if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return Failed("crack", GetLastError(), 0, 0);
  std::string object = std::string(path) + extra;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;

  UniqueInternetHandle session(InternetOpenA("fetch", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return Failed("open", GetLastError(), 0, 0);
  if (callback && InternetSetStatusCallbackA(session.get(), CountNotification) == INTERNET_INVALID_STATUS_CALLBACK) {
    return Failed("callback", GetLastError(), 0, 0);
  }
  // WinINet calls the callback only for handles with a context other than 0.
  const DWORD_PTR context = callback ? 1 : 0;
  UniqueInternetHandle connection(
      InternetConnectA(session.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, context));
  if (!connection) return Failed("connect", GetLastError(), 0, 0);
  const char* accept[] = {"*/*", nullptr};
  UniqueInternetHandle request(
      HttpOpenRequestA(connection.get(), nullptr, object.c_str(), nullptr, nullptr, accept, flags, context));
  if (!request) return Failed("request", GetLastError(), 0, 0);

  UniqueHandle file;
  if (!out.empty()) {
    file.reset(CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return Failed("file", GetLastError(), 0, 0);
  }

  Clock clock;
  if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
    return Failed("send", GetLastError(), 0, clock.Seconds());
  }
  char status[32] = "", length[32] = "-";
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, status, &size, nullptr)) {
    return Failed("query", GetLastError(), 0, clock.Seconds());
  }
  size = sizeof length;
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr)) lstrcpyA(length, "-");

  std::vector<char> buffer(block);
  unsigned long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer.data(), block, &got)) {
      return Failed("read", GetLastError(), total, clock.Seconds());
    }
    if (got == 0) break;
    total += got;
    DWORD written = 0;
    if (file && (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got)) {
      return Failed("write", GetLastError(), total, clock.Seconds());
    }
  }
  printf("status=%s length=%s bytes=%lu seconds=%.3f", status, length, total, clock.Seconds());
  if (callback) printf(" notifications=%ld", notifications);
  printf("\n");
  return 0;
}
