#include "framework/url.h"

#include "framework/ascii.h"
#include "framework/format.h"

namespace {
struct Scheme {
  const char* name;
  uint32_t service;
  uint16_t defaultPort;
};
const Scheme kSchemes[] = {
    {"http", AFX_INET_SERVICE_HTTP, 80},
    {"https", AFX_INET_SERVICE_HTTPS, 443},
    {"ftp", AFX_INET_SERVICE_FTP, 21},
    {"gopher", AFX_INET_SERVICE_GOPHER, 70},
};

const Scheme* SchemeOf(uint32_t service) {
  for (const Scheme& scheme : kSchemes) {
    if (scheme.service == service) return &scheme;
  }
  return nullptr;
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}
}  // namespace

BOOL AfxParseURL(const char* url, uint32_t& service, std::string& server, std::string& object, uint16_t& port) {
  if (url == nullptr) return 0;
  const std::string text(url);
  const size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos) return 0;
  const std::string schemeName = text.substr(0, schemeEnd);
  const Scheme* scheme = nullptr;
  for (const Scheme& candidate : kSchemes) {
    if (EqualsIgnoreCaseAscii(schemeName, candidate.name)) scheme = &candidate;
  }
  if (scheme == nullptr) return 0;

  const size_t authorityStart = schemeEnd + 3;
  size_t authorityEnd = text.find_first_of("/?#", authorityStart);
  if (authorityEnd == std::string::npos) authorityEnd = text.size();
  std::string authority = text.substr(authorityStart, authorityEnd - authorityStart);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);

  uint16_t parsedPort = scheme->defaultPort;
  std::string host = authority;
  const size_t bracket = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    if (!ParsePort(authority.substr(colon + 1), parsedPort)) return 0;
    host = authority.substr(0, colon);
  }
  if (host.empty()) return 0;

  std::string rest = text.substr(authorityEnd);
  const size_t fragment = rest.find('#');
  if (fragment != std::string::npos) rest.erase(fragment);
  if (rest.empty() || rest[0] != '/') rest = FormatText("/%s", rest.c_str());

  service = scheme->service;
  server = host;
  object = rest;
  port = parsedPort;
  return 1;
}

std::string FormatUrl(const UrlParts& parts) {
  const Scheme* scheme = SchemeOf(parts.service);
  std::string url = FormatText("%s://%s", scheme != nullptr ? scheme->name : "http", parts.server.c_str());
  if (scheme == nullptr || parts.port != scheme->defaultPort)
    url += FormatText(":%u", static_cast<unsigned>(parts.port));
  return url + parts.object;
}

BOOL ResolveRedirect(const UrlParts& base, const std::string& location, UrlParts& target) {
  if (location.empty()) return 0;
  UrlParts next;
  if (location.find("://") != std::string::npos) {
    if (!AfxParseURL(location.c_str(), next.service, next.server, next.object, next.port)) return 0;
  } else if (location.compare(0, 2, "//") == 0) {
    const Scheme* scheme = SchemeOf(base.service);
    if (scheme == nullptr) return 0;
    // Read up to its first NUL, as the parser reads it.
    const std::string absolute = FormatText("%s:%s", scheme->name, location.c_str());
    if (!AfxParseURL(absolute.c_str(), next.service, next.server, next.object, next.port)) return 0;
  } else {
    next = base;
    if (location[0] == '/') {
      next.object = location;
    } else {
      const std::string path = base.object.substr(0, base.object.find_first_of("?#"));
      next.object = path.substr(0, path.rfind('/') + 1) + location;
    }
    const size_t fragment = next.object.find('#');
    if (fragment != std::string::npos) next.object.erase(fragment);
  }
  target = next;
  return 1;
}

std::optional<ParsedUrl> ParseDownloadUrl(const std::string& url) {
  ParsedUrl parsed{url, {}};
  UrlParts& parts = parsed.parts;
  if (AfxParseURL(url.c_str(), parts.service, parts.server, parts.object, parts.port)) return parsed;
  parsed.text = FormatText("http://%s", url.c_str());
  if (AfxParseURL(parsed.text.c_str(), parts.service, parts.server, parts.object, parts.port)) return parsed;
  return std::nullopt;
}

bool SameOrigin(const UrlParts& a, const UrlParts& b) {
  return a.service == b.service && a.server == b.server && a.port == b.port;
}
