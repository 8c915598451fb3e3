// The CD-TEXT block reader on any bytes: it stays within the bytes it is given, its tables
// stay within a disc's 100 entries, and writing the tables back as a block and reading that
// gives the same tables.
#include <cstdint>
#include <string>
#include <vector>

#include "CdText.h"
#include "InputFile.h"

namespace {

std::string blockOf(const cd::CdTextTables& t) {
  std::string block;
  for (size_t n = 0; n < t.title.size(); ++n)
    block += "TITLE" + std::to_string(n) + "=" + t.title[n] + '\0';
  for (size_t n = 0; n < t.performer.size(); ++n)
    block += "PERFORMER" + std::to_string(n) + "=" + t.performer[n] + '\0';
  return block + '\0';
}

void checkTables(const cd::CdTextTables& t, size_t size) {
  fuzz::require(t.title.size() <= cd::kMaxCdTextEntry + 1);
  fuzz::require(t.performer.size() <= cd::kMaxCdTextEntry + 1);
  for (const auto* table : {&t.title, &t.performer})
    for (const std::string& v : *table)
      fuzz::require(v.size() < size + 1 && v.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so that a read past the end is the sanitizer's to see.
  const std::vector<char> bytes(data, data + size);
  const cd::CdTextTables t = cd::parseCdText(bytes.data(), bytes.size());
  checkTables(t, size);
  const std::string again = blockOf(t);
  const cd::CdTextTables u = cd::parseCdText(again.data(), again.size());
  fuzz::require(u.title == t.title && u.performer == t.performer);
  return 0;
}
