// Whether a token's group list holds a given group: the decision of the administrator check, kept
// apart from the token calls so it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One entry of a token's group list: the group's SID in binary form (the bytes GetLengthSid counts)
// and the group's attribute bits (SE_GROUP_ENABLED, SE_GROUP_USE_FOR_DENY_ONLY and so on).
struct TokenGroupEntry {
  std::string_view sid;
  uint32_t attributes;
};

// The binary form of S-1-5-32-544, the built-in Administrators alias: revision 1, two
// sub-authorities, authority 5 (NT), then 32 and 544 little-endian.
std::string_view AdministratorsSid();

// True when some entry's SID equals `sid` byte for byte (the system's EqualSid for well-formed
// SIDs); the walk runs from the first entry and stops at the first match. Attributes are not looked
// at, so an entry present for deny only counts as membership.
bool HasGroup(const TokenGroupEntry* groups, size_t count, std::string_view sid);
