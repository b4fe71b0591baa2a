// URL parsing in the framework's manner: scheme, server, port and object of an absolute URL.
#pragma once

#include <cstdint>
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
