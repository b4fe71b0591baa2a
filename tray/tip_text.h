// Texts cut to the fixed-size character fields of the shell's notify record (tooltip 128 bytes,
// balloon text 256, balloon title 64), counted in bytes of the ANSI code page.
#pragma once

#include <cstddef>

// Tells whether a byte of the ANSI code page starts a double-byte character.
using LeadBytePredicate = bool (*)(unsigned char byte);

// Copies `text` (null: the empty text) into `field` of `fieldSize` bytes (at least 1) and
// terminates it. A text longer than fieldSize - 1 bytes is cut to at most that many, never between
// the two bytes of a double-byte character (the whole character is left out instead). A text that
// fits is copied unchanged. Returns the number of bytes copied, without the terminator.
std::size_t CopyTextCut(char* field, std::size_t fieldSize, const char* text, LeadBytePredicate isLeadByte);
