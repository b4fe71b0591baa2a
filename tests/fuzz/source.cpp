// Source resolution and the QA rewrite. The first byte holds the QA mode (bit 0) and whether the
// local path is a file (bit 1); the rest, cut at NUL bytes, is the location, the QA version and the
// module directory.
#include "app/config_source.h"
#include "framework/url.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == '/') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

void CheckRewrite(const std::string& url, const std::string& qa) {
  const std::string rewritten = RewriteQaUrl(url, qa);
  const std::vector<std::string> in = Fields(url);
  if (in.size() < 5) {
    FUZZ_CHECK(rewritten == url);
    return;
  }
  // scheme, "", server, then "QA", the first directory, the QA version and the next field.
  FUZZ_CHECK(rewritten.compare(0, in[0].size() + 2, in[0] + "//") == 0);
  if (qa.find('/') == std::string::npos) {
    const std::vector<std::string> out = Fields(rewritten);
    FUZZ_CHECK(out.size() == 7);
    FUZZ_CHECK(out[0] == in[0] && out[1].empty() && out[2] == in[2] && out[3] == "QA" && out[4] == in[3] &&
               out[5] == qa && out[6] == in[4]);
  }

  // The QA location lies on the same server: a URL that parses keeps its service, server and port.
  uint32_t service = 0;
  std::string server;
  std::string object;
  uint16_t port = 0;
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || in[0] != url.substr(0, schemeEnd) + ":" ||
      in[2].find_first_of("?#") != std::string::npos || !AfxParseURL(url.c_str(), service, server, object, port)) {
    return;
  }
  uint32_t service2 = 0;
  std::string server2;
  std::string object2;
  uint16_t port2 = 0;
  FUZZ_CHECK(AfxParseURL(rewritten.c_str(), service2, server2, object2, port2));
  FUZZ_CHECK(service2 == service && server2 == server && port2 == port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool qaMode = (data[0] & 1) != 0;
  const bool fileExists = (data[0] & 2) != 0;
  const std::vector<std::string> texts = SplitAtNul(data + 1, size - 1);
  const std::string& location = texts[0];
  const std::string qa = texts.size() > 1 ? texts[1] : "";
  const std::string directory = texts.size() > 2 ? texts[2] : "C:\\dir";

  const bool isHttp = location.compare(0, 4, "http") == 0 && location.find('/') != std::string::npos;
  FUZZ_CHECK(IsHttpLocation(location) == isHttp);
  CheckRewrite(location, qa);

  std::vector<std::string> asked;
  const SourceResolution r = ResolveSource(location, qaMode, qa, directory, [&](const std::string& path) {
    asked.push_back(path);
    return fileExists;
  });
  if (isHttp) {
    FUZZ_CHECK(asked.empty());
    FUZZ_CHECK(r.kind == (qaMode ? kSourceQaUrl : kSourceUrl));
    FUZZ_CHECK(r.location == (qaMode ? RewriteQaUrl(location, qa) : location));
    FUZZ_CHECK(r.missingPath.empty());
    return 0;
  }
  // A local location: asked about once, for the directory, a backslash and the trimmed name.
  const std::string trimmed = TrimLocalLocation(location);
  FUZZ_CHECK(trimmed.empty() ||
             (trimmed.front() != ' ' && trimmed.front() != '\\' && trimmed.back() != ' ' && trimmed.back() != '\\'));
  FUZZ_CHECK(location.find(trimmed) != std::string::npos);
  const std::string fullPath = directory + "\\" + trimmed;
  FUZZ_CHECK(asked.size() == 1 && asked[0] == fullPath);
  if (fileExists) {
    FUZZ_CHECK(r.kind == kSourceLocal && r.location == fullPath && r.missingPath.empty());
  } else {
    FUZZ_CHECK(r.kind == kSourceNone && r.location == trimmed && r.missingPath == fullPath);
  }
  return 0;
}
