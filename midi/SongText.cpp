#include "SongText.h"

#include <array>

namespace midi {

namespace {

constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

bool continuation(uint8_t b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace

std::string cp1252ToUtf8(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const uint8_t b : bytes)
    appendUtf8(out, b >= 0x80 && b < 0xA0 ? char32_t(kCp1252High[b - 0x80]) : char32_t(b));
  return out;
}

bool isMultiByteUtf8(std::span<const uint8_t> bytes) {
  bool multiByte = false;
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The range of the second byte narrows where the lead alone would allow an overlong
    // form (E0, F0), a surrogate (ED) or a code point past U+10FFFF (F4).
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;  // a stray continuation byte, C0/C1 (always overlong) or F5..FF
    }
    if (bytes.size() - i < length) return false;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
    for (size_t k = 2; k < length; ++k)
      if (!continuation(bytes[i + k])) return false;
    multiByte = true;
    i += length;
  }
  return multiByte;
}

std::string songTextToUtf8(std::span<const uint8_t> bytes) {
  if (isMultiByteUtf8(bytes)) return std::string(bytes.begin(), bytes.end());
  return cp1252ToUtf8(bytes);
}

}  // namespace midi
