// URL parsing: the input, up to its first NUL, is the URL.
#include "framework/url.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The service and default port a scheme name stands for; false for a scheme the parser refuses.
bool KnownScheme(const std::string& name, uint32_t& service, uint16_t& defaultPort) {
  static const struct {
    const char* name;
    uint32_t service;
    uint16_t port;
  } kSchemes[] = {{"http", AFX_INET_SERVICE_HTTP, 80},
                  {"https", AFX_INET_SERVICE_HTTPS, 443},
                  {"ftp", AFX_INET_SERVICE_FTP, 21},
                  {"gopher", AFX_INET_SERVICE_GOPHER, 70}};
  for (const auto& scheme : kSchemes) {
    if (Lower(name) == scheme.name) {
      service = scheme.service;
      defaultPort = scheme.port;
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url = SplitAtNul(data, size)[0];
  uint32_t service = 0;
  std::string server;
  std::string object;
  uint16_t port = 0;
  const BOOL parsed = AfxParseURL(url.c_str(), service, server, object, port);

  const size_t schemeEnd = url.find("://");
  uint32_t schemeService = 0;
  uint16_t defaultPort = 0;
  const bool known =
      schemeEnd != std::string::npos && KnownScheme(url.substr(0, schemeEnd), schemeService, defaultPort);
  if (!known) {
    FUZZ_CHECK(!parsed);
    return 0;
  }
  if (!parsed) return 0;

  FUZZ_CHECK(service == schemeService);
  FUZZ_CHECK(!server.empty());
  FUZZ_CHECK(server.find_first_of("/?#@") == std::string::npos);
  FUZZ_CHECK(url.find(server, schemeEnd + 3) != std::string::npos);
  FUZZ_CHECK(!object.empty() && object[0] == '/');
  FUZZ_CHECK(object.find('#') == std::string::npos);
  FUZZ_CHECK(port != 0);
  // No colon in the authority: the scheme's own port.
  const size_t authorityEnd = url.find_first_of("/?#", schemeEnd + 3);
  const std::string authority =
      url.substr(schemeEnd + 3, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - schemeEnd - 3);
  if (authority.find(':') == std::string::npos) FUZZ_CHECK(port == defaultPort);

  // The fields, written back as a URL with an explicit port, parse to the same fields.
  const std::string again = url.substr(0, schemeEnd) + "://" + server + ":" + std::to_string(port) + object;
  uint32_t service2 = 0;
  std::string server2;
  std::string object2;
  uint16_t port2 = 0;
  FUZZ_CHECK(AfxParseURL(again.c_str(), service2, server2, object2, port2));
  FUZZ_CHECK(service2 == service);
  FUZZ_CHECK(server2 == server);
  FUZZ_CHECK(object2 == object);
  FUZZ_CHECK(port2 == port);
  return 0;
}
