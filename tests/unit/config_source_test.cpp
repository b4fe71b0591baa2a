#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/config_source.h"

namespace {

TEST(ConfigSource, UrlTest) {
  struct Case {
    const char* location;
    bool isUrl;
  };
  const Case cases[] = {
      {"http://server/dir/file.exe", true},
      {"https://server/f.exe", true},
      {"http/", true},
      {"httpx/y", true},
      {"HTTP://server/dir/file.exe", false},
      {"http", false},
      {"htt/", false},
      {"", false},
      {"32\\package.exe", false},
      {" http://server/x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsHttpLocation(c.location), c.isUrl) << c.location;
}

TEST(ConfigSource, QaRewrite) {
  struct Case {
    const char* url;
    const char* version;
    const char* expected;
  };
  const Case cases[] = {
      {"http://server/dir/file.exe", "6.10.18.01", "http://server/QA/dir/6.10.18.01/file.exe"},
      {"http://server/file.exe", "1", "http://server/file.exe"},
      {"http://server/a/b/file.exe", "2.0", "http://server/QA/a/2.0/b"},
      {"http://127.0.0.1:18080/files/setup64.exe", "7", "http://127.0.0.1:18080/QA/files/7/setup64.exe"},
      {"http:/x", "1", "http:/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(RewriteQaUrl(c.url, c.version), c.expected) << c.url;
}

TEST(ConfigSource, Resolution) {
  const std::set<std::string> files = {"C:\\app\\32\\package.exe"};
  auto isFile = [&](const std::string& path) { return files.count(path) != 0; };
  struct Case {
    const char* location;
    bool qaMode;
    int kind;
    const char* resolved;
    const char* missing;
  };
  const Case cases[] = {
      {"http://s/d/f.exe", false, kSourceUrl, "http://s/d/f.exe", ""},
      {"http://s/d/f.exe", true, kSourceQaUrl, "http://s/QA/d/9.9/f.exe", ""},
      {"http://s/f.exe", true, kSourceQaUrl, "http://s/f.exe", ""},
      {" \\32\\package.exe\\ ", false, kSourceLocal, "C:\\app\\32\\package.exe", ""},
      {" \\32\\package.exe\\ ", true, kSourceLocal, "C:\\app\\32\\package.exe", ""},
      // An empty location would name the installer's own directory: nothing to start.
      {"", false, kSourceNone, "", "C:\\app\\"},
      {" \\ ", false, kSourceNone, "", "C:\\app\\"},
      {"32", false, kSourceNone, "32", "C:\\app\\32"},
      {"64\\missing.exe", false, kSourceNone, "64\\missing.exe", "C:\\app\\64\\missing.exe"},
      {"HTTP://s/d/f.exe", false, kSourceNone, "HTTP://s/d/f.exe", "C:\\app\\HTTP://s/d/f.exe"},
      {"http", false, kSourceNone, "http", "C:\\app\\http"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    const SourceResolution r = ResolveSource(c.location, c.qaMode, "9.9", "C:\\app", isFile);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.location, c.resolved);
    EXPECT_EQ(r.missingPath, c.missing);
  }
}

// The copy in the working folder takes the name alone: a "/" is a separator to the system too.
TEST(ConfigSource, LocalPackageNameFollowsTheLastSeparator) {
  for (const char* path : {"C:\\app\\64/pkg.exe", "C:\\app\\64\\pkg.exe", "C:\\app/64\\pkg.exe", "pkg.exe"}) {
    EXPECT_EQ(LocalPackageName(path), "pkg.exe") << path;
  }
}

}  // namespace
