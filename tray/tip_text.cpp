#include "tray/tip_text.h"

#include <cstring>

std::size_t CopyTextCut(char* field, std::size_t fieldSize, const char* text, LeadBytePredicate isLeadByte) {
  const std::size_t room = fieldSize - 1;
  std::size_t length = text != nullptr ? std::strlen(text) : 0;
  if (length > room) {
    // Walk from the start: a trail byte may have the value of a lead byte, so only the walk knows
    // where the characters begin.
    std::size_t end = 0;
    while (end < room) {
      const std::size_t step = isLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
      if (end + step > room) break;
      end += step;
    }
    length = end;
  }
  if (length > 0) std::memcpy(field, text, length);
  field[length] = '\0';
  return length;
}
