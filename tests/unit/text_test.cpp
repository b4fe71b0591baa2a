#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/format.h"
#include "framework/module_name.h"
#include "util/file_version.h"
#include "util/text.h"

namespace {

struct JoinCase {
  std::string first;
  std::vector<const char*> parts;  // passed as one list
  std::string expected;
};

std::string Join(const std::string& first, const std::vector<const char*>& p) {
  // JoinPath takes an initializer list; route the table's parts through it by count.
  std::string out;
  switch (p.size()) {
    case 1:
      return JoinPath(out, first, {p[0]});
    case 2:
      return JoinPath(out, first, {p[0], p[1]});
    case 3:
      return JoinPath(out, first, {p[0], p[1], p[2]});
    default:
      ADD_FAILURE() << "table row with unsupported part count";
      return out;
  }
}

TEST(JoinPath, BackslashRules) {
  const JoinCase cases[] = {
      {"C:\\Temp\\", {"~setup.exe"}, "C:\\Temp\\~setup.exe"},
      {"C:\\Temp", {"~setup.exe"}, "C:\\Temp\\~setup.exe"},
      {"C:\\Temp\\", {"\\sub"}, "C:\\Temp\\sub"},
      {"C:\\Temp", {"/sub"}, "C:\\Temp/sub"},
      {"C:\\Temp\\", {"/sub"}, "C:\\Temp/sub"},
      {"C:\\Temp\\\\", {"\\sub"}, "C:\\Temp\\\\sub"},
      {"a/", {"b"}, "a/\\b"},
      {"", {"a", "b"}, ""},
      {"a", {"", "b"}, "a"},
      {"a", {nullptr, "b"}, "a"},
      {"x", {"y", "z\\"}, "x\\y\\z\\"},
  };
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(Join(c.first, c.parts), c.expected);
  }
}

TEST(JoinPath, UsesAtMostTenPartsAndStoresTheResult) {
  std::string result = "old";
  const std::string& returned = JoinPath(result, "r", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"});
  EXPECT_EQ(result, "r\\1\\2\\3\\4\\5\\6\\7\\8\\9\\10");
  EXPECT_EQ(&returned, &result);
}

TEST(SplitString, FieldsAndCounts) {
  struct Case {
    std::string text;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"http://server/dir/file.exe", {"http:", "", "server", "dir", "file.exe"}},
      {"nosep", {"nosep"}},
      {"/", {"", ""}},
      {"a//b/", {"a", "", "b", ""}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> fields;
    EXPECT_EQ(SplitString(c.text, fields, '/'), static_cast<int>(c.fields.size())) << c.text;
    EXPECT_EQ(fields, c.fields) << c.text;
  }
}

TEST(SplitString, AppendsToAnExistingArrayAndIgnoresEmptyText) {
  std::vector<std::string> fields = {"kept"};
  EXPECT_EQ(SplitString("", fields, '/'), 0);
  EXPECT_EQ(fields, std::vector<std::string>{"kept"});
  EXPECT_EQ(SplitString("a/b", fields, '/'), 3);
  EXPECT_EQ(fields, (std::vector<std::string>{"kept", "a", "b"}));
}

TEST(Trim, CharacterSets) {
  EXPECT_EQ(TrimChars(" \\32\\package.exe\\ ", " \\"), "32\\package.exe");
  EXPECT_EQ(TrimChars("\\ \\", " \\"), "");
  EXPECT_EQ(TrimWhitespace("\t 1.2 \r\n"), "1.2");
  EXPECT_EQ(TrimWhitespace("a b"), "a b");
  EXPECT_TRUE(EqualsIgnoreCaseAscii("tRuE", "TRUE"));
  EXPECT_FALSE(EqualsIgnoreCaseAscii("TRUEX", "TRUE"));
}

TEST(FormatPlaceholders, ReplacesOnlyOneAndTwo) {
  EXPECT_EQ(FormatPlaceholders("%1% completed - %2", "42", "Quillmoor Internet Security"),
            "42% completed - Quillmoor Internet Security");
  EXPECT_EQ(FormatPlaceholders("%1 and %1, %3 %", "x"), "x and x, %3 %");
  EXPECT_EQ(FormatPlaceholders("%2 stays without a second argument", "x"), "%2 stays without a second argument");
  // Inserted text is not scanned again.
  EXPECT_EQ(FormatPlaceholders("[%1][%2]", "%2", "b"), "[%2][b]");
  EXPECT_EQ(FormatPlaceholders("ends with %", "x"), "ends with %");
}

TEST(FormatText, GrowsPastTheSmallBuffer) {
  const std::string big(1000, 'z');
  EXPECT_EQ(FormatText("<%s>%d", big.c_str(), 7), "<" + big + ">7");
}

TEST(ProductVersion, TwoDigitFields) {
  EXPECT_EQ(FormatProductVersion(0x0006000A, 0x00120001), "6.10.18.01");
  EXPECT_EQ(FormatProductVersion(0x00010002, 0x00030004), "1.02.03.04");
  EXPECT_EQ(FormatProductVersion(0x000A0000, 0x00640000), "10.00.100.00");
}

TEST(AppName, FileNameWithoutDirectoryAndExtension) {
  EXPECT_EQ(AppNameFromModulePath("C:\\dir\\setup.exe"), "setup");
  EXPECT_EQ(AppNameFromModulePath("Z:/work/~setup.exe"), "~setup");
  EXPECT_EQ(AppNameFromModulePath("C:\\a.b\\name.v2.exe"), "name.v2");
  EXPECT_EQ(AppNameFromModulePath("noext"), "noext");
}

}  // namespace
