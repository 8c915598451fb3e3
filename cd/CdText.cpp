#include "CdText.h"

#include <cstring>
#include <string_view>

namespace cd {

namespace {

// The entry number of "KEYn=..." after a key of `keyLength` characters, or -1.
int entryNumber(std::string_view s, size_t keyLength, size_t equals) {
  const std::string_view digits = s.substr(keyLength, equals - keyLength);
  if (digits.empty() || digits.size() > 2) return -1;
  int n = 0;
  for (char ch : digits) {
    if (ch < '0' || ch > '9') return -1;
    n = n * 10 + (ch - '0');
  }
  return n <= kMaxCdTextEntry ? n : -1;
}

void store(std::vector<std::string>& table, int n, std::string_view value) {
  if (table.size() <= size_t(n)) table.resize(size_t(n) + 1);
  table[size_t(n)] = std::string(value);
}

}  // namespace

CdTextTables parseCdText(const char* block, size_t size) {
  CdTextTables t;
  if (!block) return t;
  size_t at = 0;
  while (at < size) {
    const void* zero = std::memchr(block + at, '\0', size - at);
    const size_t end = zero ? size_t(static_cast<const char*>(zero) - block) : size;
    const std::string_view s(block + at, end - at);
    if (s.empty()) break;  // the empty string that ends the block
    at = end + 1;
    const size_t equals = s.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view value = s.substr(equals + 1);
    if (s.starts_with("TITLE")) {
      if (int n = entryNumber(s, 5, equals); n >= 0) store(t.title, n, value);
    } else if (s.starts_with("PERFORMER")) {
      if (int n = entryNumber(s, 9, equals); n >= 0) store(t.performer, n, value);
    }
  }
  return t;
}

}  // namespace cd
