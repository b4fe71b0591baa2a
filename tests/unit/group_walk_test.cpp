#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "probes/group_walk.h"

namespace {

// Group attribute bits as tokens report them.
constexpr uint32_t kMandatory = 0x1, kEnabledByDefault = 0x2, kEnabled = 0x4, kDenyOnly = 0x10, kLogonId = 0xC0000000;

// The binary SID for a text such as "S-1-5-32-544": revision, sub-authority count, the 48-bit
// authority big-endian, then each sub-authority as 32 bits little-endian.
std::string SidBytes(const char* text) {
  std::vector<unsigned long long> parts;
  for (const char* p = text + 2; *p;) {
    char* end;
    parts.push_back(std::strtoull(p, &end, 10));
    p = *end ? end + 1 : end;
  }
  std::string bytes;
  bytes += static_cast<char>(parts[0]);
  bytes += static_cast<char>(parts.size() - 2);
  for (int shift = 40; shift >= 0; shift -= 8) bytes += static_cast<char>(parts[1] >> shift);
  for (size_t i = 2; i < parts.size(); ++i)
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(parts[i] >> shift);
  return bytes;
}

TEST(GroupWalk, AdministratorsSidIsTheBuiltInAlias) {
  const std::string expected("\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00", 16);
  EXPECT_EQ(AdministratorsSid(), expected);
  EXPECT_EQ(SidBytes("S-1-5-32-544"), expected);
}

TEST(GroupWalk, FindsAdministratorsWhateverItsAttributes) {
  struct Group {
    const char* sid;
    uint32_t attributes;
  };
  struct Case {
    const char* name;
    std::vector<Group> groups;
    bool expected;
  };
  const uint32_t on = kMandatory | kEnabledByDefault | kEnabled;
  const Case cases[] = {
      {"enabled, among others", {{"S-1-1-0", on}, {"S-1-5-32-544", on}, {"S-1-5-32-545", on}, {"S-1-5-11", on}}, true},
      {"present for deny only (filtered token)",
       {{"S-1-1-0", on}, {"S-1-5-32-544", kDenyOnly}, {"S-1-5-32-545", on}},
       true},
      {"present with no attribute bits", {{"S-1-5-32-544", 0}}, true},
      {"first of many", {{"S-1-5-32-544", on}, {"S-1-5-5-0-999", kLogonId | on}, {"S-1-1-0", on}}, true},
      {"last of many", {{"S-1-1-0", on}, {"S-1-5-4", on}, {"S-1-5-32-544", on}}, true},
      {"absent", {{"S-1-1-0", on}, {"S-1-5-32-545", on}, {"S-1-5-11", on}, {"S-1-2-0", on}}, false},
      {"empty list", {}, false},
      {"Users alias S-1-5-32-545", {{"S-1-5-32-545", on}}, false},
      {"Power Users alias S-1-5-32-547", {{"S-1-5-32-547", on}}, false},
      {"domain account with RID 544", {{"S-1-5-21-1004336348-1177238915-682003330-544", on}}, false},
      {"one sub-authority more", {{"S-1-5-32-544-1", on}}, false},
      {"only the built-in domain S-1-5-32", {{"S-1-5-32", on}}, false},
      {"another authority S-1-1-32-544", {{"S-1-1-32-544", on}}, false},
      {"another revision S-2-5-32-544", {{"S-2-5-32-544", on}}, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> storage;
    storage.reserve(c.groups.size());
    std::vector<TokenGroupEntry> entries;
    for (const Group& g : c.groups) {
      storage.push_back(SidBytes(g.sid));
      entries.push_back({storage.back(), g.attributes});
    }
    EXPECT_EQ(HasGroup(entries.data(), entries.size(), AdministratorsSid()), c.expected) << c.name;
  }
}

TEST(GroupWalk, ComparesEveryByteOfTheSid) {
  const std::string admins = SidBytes("S-1-5-32-544");
  for (size_t length = 0; length < admins.size(); ++length) {
    const std::vector<TokenGroupEntry> entries = {{std::string_view(admins.data(), length), kEnabled}};
    EXPECT_FALSE(HasGroup(entries.data(), entries.size(), AdministratorsSid())) << "first " << length << " bytes";
  }
  for (size_t i = 0; i < admins.size(); ++i) {
    std::string changed = admins;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    const std::vector<TokenGroupEntry> entries = {{changed, kEnabled}};
    EXPECT_FALSE(HasGroup(entries.data(), entries.size(), AdministratorsSid())) << "byte " << i << " changed";
  }
}

}  // namespace
