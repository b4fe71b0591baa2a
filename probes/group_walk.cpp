#include "probes/group_walk.h"

std::string_view AdministratorsSid() {
  static constexpr char kBytes[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
  return std::string_view(kBytes, sizeof kBytes);
}

bool HasGroup(const TokenGroupEntry* groups, size_t count, std::string_view sid) {
  for (size_t i = 0; i < count; ++i) {
    if (groups[i].sid == sid) return true;
  }
  return false;
}
