// URL parsing in the framework's manner: scheme, server, port and object of an absolute URL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "framework/types.h"

// Service kinds. The values of FTP, Gopher and HTTP are WinINet's INTERNET_SERVICE_* numbers;
// HTTPS has none of its own there (it is HTTP over TLS), so it gets a value outside that range.
enum : uint32_t {
  AFX_INET_SERVICE_FTP = 1,
  AFX_INET_SERVICE_GOPHER = 2,
  AFX_INET_SERVICE_HTTP = 3,
  AFX_INET_SERVICE_HTTPS = 0x1008,
};

// Parses "scheme://[user[:password]@]server[:port][/path][?query][#fragment]" for the schemes
// http, https, ftp and gopher (case-insensitive). `object` is the path with its query ("/" when the
// URL has none); the fragment is dropped. Without a port the scheme's default is used. FALSE, with
// the outputs unspecified, for a URL without a known scheme, without a server, or with a port that
// is not a number from 1 to 65535.
BOOL AfxParseURL(const char* url, uint32_t& service, std::string& server, std::string& object, uint16_t& port);

// Where a request goes: what AfxParseURL yields.
struct UrlParts {
  uint32_t service = 0;
  std::string server;
  uint16_t port = 0;
  std::string object;  // path and query, starting with "/"
};

// Whether `a` and `b` are one origin: the same scheme, server and port. Credentials, and a
// connection with a login, belong to one origin.
bool SameOrigin(const UrlParts& a, const UrlParts& b);

// The URL of `parts` as text: "scheme://server[:port]object", the port only when it is not the
// scheme's default.
std::string FormatUrl(const UrlParts& parts);

// The target of a redirect whose Location header says `location`, for a request to `base`: an
// absolute URL, a scheme-relative one ("//server/path"), an absolute path, or a path relative to
// the base object's directory. FALSE for an empty or unparsable location.
BOOL ResolveRedirect(const UrlParts& base, const std::string& location, UrlParts& target);

// A URL as the download requests it: the text it is known by in the records and its parts.
struct ParsedUrl {
  std::string text;
  UrlParts parts;
};

// The one parse of a download's URL: AfxParseURL of `url`, or, when that fails, of "http://" +
// `url` (a URL given without its scheme), which then becomes the text. Empty when neither parses.
std::optional<ParsedUrl> ParseDownloadUrl(const std::string& url);
