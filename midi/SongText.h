// Song file bytes to the UTF-8 text the window shows: lyrics, titles and track names. Karaoke
// files of the last century write Windows-1252; notation programs of today write UTF-8 and
// say nothing about it, so each text is judged by its own bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace midi {

// Windows-1252 bytes to UTF-8; the five codes Windows leaves undefined map to U+0081 etc.
std::string cp1252ToUtf8(std::span<const uint8_t> bytes);

// Whether `bytes` are well-formed UTF-8 (no overlong form, no surrogate, nothing above
// U+10FFFF, no sequence cut short) holding at least one character of more than one byte.
// Pure ASCII is not counted: it reads the same either way.
bool isMultiByteUtf8(std::span<const uint8_t> bytes);

// A text of a song file as UTF-8: the bytes as they are when isMultiByteUtf8, else read as
// Windows-1252. A Windows-1252 text of accented letters is almost never valid UTF-8 (an
// accented letter followed by a plain one breaks every sequence), so the guess is safe.
std::string songTextToUtf8(std::span<const uint8_t> bytes);

}  // namespace midi
