#include "probes/group_walk.h"

std::string_view AdministratorsSid() {
  static constexpr char kBytes[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
  return std::string_view(kBytes, sizeof kBytes);
}

bool HasGroup(const std::vector<TokenGroupEntry>& groups, std::string_view sid) {
  for (const TokenGroupEntry& group : groups) {
    if (group.sid == sid) return true;
  }
  return false;
}
