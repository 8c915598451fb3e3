// LRC lyric files: line times [mm:ss], [mm:ss.xx], [mm:ss.xxx] (several on one line for a
// chorus that returns), word times <mm:ss.xx> inside a line, and the tags [ti:], [ar:] and
// [offset:±ms]; UTF-8 or Windows-1252 text, with or without a byte-order mark, LF or CRLF.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "TimedLyrics.h"

namespace karaoke {

// The largest LRC file read, and the most timed lines kept from one.
constexpr size_t kMaxLrcBytes = size_t(4) << 20;
constexpr size_t kMaxLrcLines = size_t(1) << 16;
// How long the last line lasts when only its start is written.
constexpr double kLastLrcLineMs = 5000;

// Parses LRC text. A line with one time is one syllable lasting until the next timed line (an
// empty timed line ends the one before it and shows nothing); a line with word times has one
// syllable per word time. A positive [offset:] shows the words earlier: it is subtracted from
// every time.
TimedLyrics parseLrc(std::span<const uint8_t> bytes);

// The LRC file beside a song: same name, extension .lrc in any case.
std::optional<std::filesystem::path> findLrcFor(const std::filesystem::path& song);

// Reads and parses an LRC file (a regular file of at most kMaxLrcBytes).
std::optional<TimedLyrics> readLrcFile(const std::filesystem::path& path, std::string* error);

}  // namespace karaoke
