#include <gtest/gtest.h>

#include "framework/url.h"

namespace {

TEST(ParseUrl, Accepted) {
  struct Case {
    const char* url;
    uint32_t service;
    const char* server;
    const char* object;
    uint16_t port;
  };
  const Case cases[] = {
      {"http://server/dir/setup.exe", AFX_INET_SERVICE_HTTP, "server", "/dir/setup.exe", 80},
      {"HTTP://Server:8080/a?b=c&d", AFX_INET_SERVICE_HTTP, "Server", "/a?b=c&d", 8080},
      {"https://localhost/x.exe", AFX_INET_SERVICE_HTTPS, "localhost", "/x.exe", 443},
      {"http://127.0.0.1:18080", AFX_INET_SERVICE_HTTP, "127.0.0.1", "/", 18080},
      {"http://host?q", AFX_INET_SERVICE_HTTP, "host", "/?q", 80},
      {"http://user:pw@host:81/p#frag", AFX_INET_SERVICE_HTTP, "host", "/p", 81},
      {"ftp://files/pub", AFX_INET_SERVICE_FTP, "files", "/pub", 21},
      {"http://[::1]:8080/v6", AFX_INET_SERVICE_HTTP, "[::1]", "/v6", 8080},
      {"http://h/~beta/setup.exe", AFX_INET_SERVICE_HTTP, "h", "/~beta/setup.exe", 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    uint32_t service = 0;
    std::string server, object;
    uint16_t port = 0;
    ASSERT_TRUE(AfxParseURL(c.url, service, server, object, port));
    EXPECT_EQ(service, c.service);
    EXPECT_EQ(server, c.server);
    EXPECT_EQ(object, c.object);
    EXPECT_EQ(port, c.port);
  }
}

TEST(ParseUrl, Refused) {
  const char* cases[] = {
      "server/dir/setup.exe",
      "",
      "http://",
      "http:///path",
      "http://host:/p",
      "http://host:0/p",
      "http://host:65536/p",
      "http://host:8x/p",
      "mailto://x",
      "://host/p",
      "http://user@/p",
  };
  for (const char* url : cases) {
    uint32_t service = 0;
    std::string server, object;
    uint16_t port = 0;
    EXPECT_FALSE(AfxParseURL(url, service, server, object, port)) << url;
  }
  uint32_t service = 0;
  std::string server, object;
  uint16_t port = 0;
  EXPECT_FALSE(AfxParseURL(nullptr, service, server, object, port));
}

}  // namespace

namespace {

TEST(Redirect, LocationsResolveAgainstTheRequest) {
  const UrlParts base{AFX_INET_SERVICE_HTTP, "host", 8080, "/files/dir/setup.exe?x=1"};
  struct Case {
    const char* location;
    const char* url;
  };
  const Case cases[] = {
      {"http://other/a.exe", "http://other/a.exe"},    {"https://other:8443/a.exe", "https://other:8443/a.exe"},
      {"//mirror/b.exe", "http://mirror/b.exe"},       {"/root.exe", "http://host:8080/root.exe"},
      {"c.exe", "http://host:8080/files/dir/c.exe"},   {"../up.exe?q", "http://host:8080/files/dir/../up.exe?q"},
      {"/frag.exe#part", "http://host:8080/frag.exe"},
  };
  for (const Case& c : cases) {
    UrlParts target;
    ASSERT_TRUE(ResolveRedirect(base, c.location, target)) << c.location;
    EXPECT_EQ(FormatUrl(target), c.url) << c.location;
  }
  UrlParts untouched{AFX_INET_SERVICE_FTP, "kept", 21, "/kept"};
  for (const char* refused : {"", "gopher://", "http://host:99999/x", "mailto://x"}) {
    EXPECT_FALSE(ResolveRedirect(base, refused, untouched)) << refused;
    EXPECT_EQ(FormatUrl(untouched), "ftp://kept/kept");
  }
}

TEST(Redirect, UrlTextOmitsDefaultPorts) {
  EXPECT_EQ(FormatUrl({AFX_INET_SERVICE_HTTP, "h", 80, "/p"}), "http://h/p");
  EXPECT_EQ(FormatUrl({AFX_INET_SERVICE_HTTPS, "h", 443, "/p"}), "https://h/p");
  EXPECT_EQ(FormatUrl({AFX_INET_SERVICE_HTTPS, "h", 80, "/p"}), "https://h:80/p");
  EXPECT_EQ(FormatUrl({AFX_INET_SERVICE_HTTP, "127.0.0.1", 18080, "/files/setup64.exe"}),
            "http://127.0.0.1:18080/files/setup64.exe");
}

}  // namespace

namespace {

TEST(ParseDownloadUrl, AUrlWithoutItsSchemeIsTakenAsHttpAndKnownByThatText) {
  struct Case {
    const char* url;
    const char* text;  // nullptr: refused
    const char* server;
  };
  const Case cases[] = {
      {"https://host/a.exe", "https://host/a.exe", "host"},
      {"host:81/a.exe", "http://host:81/a.exe", "host"},
      {"mailto://x", nullptr, nullptr},
      {"http://", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<ParsedUrl> parsed = ParseDownloadUrl(c.url);
    ASSERT_EQ(parsed.has_value(), c.text != nullptr) << c.url;
    if (!parsed) continue;
    EXPECT_EQ(parsed->text, c.text);
    EXPECT_EQ(parsed->parts.server, c.server);
  }
}

}  // namespace
