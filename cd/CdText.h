// The CD-TEXT block of a disc (BASS_CD_GetID with BASS_CDID_CDTEXT): zero-terminated
// "KEYn=value" strings ended by an empty one, turned into the title and performer tables.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cd {

// Entries 0 (the disc) to 99 (the last track a disc can have); a larger number in a block is
// ignored rather than sized by.
constexpr int kMaxCdTextEntry = 99;

struct CdTextTables {
  // Indexed by entry number; missing entries are empty strings.
  std::vector<std::string> title;
  std::vector<std::string> performer;
};

// Reads at most `size` bytes of `block` (a block from the library ends itself; `size` keeps a
// damaged one from running on). Keys compare by their first characters as the window's
// reader does ("TITLE", "PERFORMER"); the entry number is the digits before the first "=",
// the value everything after it. Strings without a key, a number or an "=" are skipped.
CdTextTables parseCdText(const char* block, size_t size);

}  // namespace cd
