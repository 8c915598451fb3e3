#include "CliKaraoke.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iostream>

#include "CdgDecoder.h"
#include "KarLyrics.h"
#include "LrcParser.h"
#include "MidiCommands.h"
#include "MidiRender.h"
#include "SongPackage.h"
#include "SongScanner.h"

namespace cli {

const char* const kKaraokeUsage =
    "       orivelR-cli lyrics SONG --words   one row per word: START_MS, LINE, TEXT (a .kar,\n"
    "                                         or an audio song with its .lrc beside it)\n"
    "       orivelR-cli cdg SONG.cdg|SONG.zip --at SECONDS OUT.png   the CD+G picture then\n";

namespace {

namespace fs = std::filesystem;

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  put32(png, uint32_t(data.size()));
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  put32(png, crc32(png.data() + start, png.size() - start));
}

int lyricsWords(const std::string& song) {
  karaoke::TimedLyrics lyrics;
  if (isMidiFile(song)) {
    std::string error;
    const auto bytes = karaoke::readRegularFile(song, midi::kMaxSongFileBytes, &error);
    if (!bytes) {
      std::cerr << "orivelR-cli lyrics: cannot read " << error << "\n";
      return 3;
    }
    lyrics = karaoke::karLyrics(*bytes);
  } else {
    std::error_code ec;
    if (!fs::is_regular_file(song, ec)) {
      std::cerr << "orivelR-cli lyrics: cannot read " << song << ": not a regular file\n";
      return 3;
    }
    const fs::path p(song);
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return char(c | 0x20); });
    const auto lrc = ext == ".lrc" ? std::optional<fs::path>(p) : karaoke::findLrcFor(p);
    if (!lrc) {
      std::cerr << "orivelR-cli lyrics: " << song
                << " has no LRC file of the same name beside it\n";
      return 3;
    }
    std::string error;
    const auto read = karaoke::readLrcFile(*lrc, &error);
    if (!read) {
      std::cerr << "orivelR-cli lyrics: cannot read " << error << "\n";
      return 3;
    }
    lyrics = *read;
  }
  for (size_t l = 0; l < lyrics.lines.size(); ++l)
    for (const karaoke::Syllable& s : lyrics.lines[l].syllables)
      std::cout << std::llround(s.startMs) << "\t" << l + 1 << "\t" << s.text << "\n";
  return 0;
}

}  // namespace

std::vector<uint8_t> encodePng(int width, int height, const std::vector<uint8_t>& rgb) {
  // The zlib stream: header, stored blocks of at most 65535 bytes, Adler-32 of the raw data.
  std::vector<uint8_t> raw;
  raw.reserve(size_t(height) * (size_t(width) * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    const auto row = rgb.begin() + std::ptrdiff_t(size_t(y) * size_t(width) * 3);
    raw.insert(raw.end(), row, row + width * 3);
  }
  std::vector<uint8_t> z{0x78, 0x01};
  for (size_t at = 0; at < raw.size() || at == 0;) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(uint8_t(n));
    z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n));
    z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
    at += n;
    if (last) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  put32(z, b << 16 | a);

  std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  put32(header, uint32_t(width));
  put32(header, uint32_t(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

int lyricsCommand(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  bool words = false;
  for (const std::string& a : args) (a == "--words" ? words = true : (rest.push_back(a), false));
  if (!words) return runLyrics(args);
  if (rest.size() != 1) {
    std::cerr << "usage: orivelR-cli lyrics SONG --words\n";
    return 2;
  }
  return lyricsWords(rest[0]);
}

int cdgCommand(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::optional<double> at;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--at" && i + 1 < args.size()) {
      char* end = nullptr;
      const double v = std::strtod(args[i + 1].c_str(), &end);
      if (end == args[i + 1].c_str() || *end || !std::isfinite(v) || v < 0) {
        std::cerr << "orivelR-cli cdg: --at needs seconds, not \"" << args[i + 1] << "\"\n";
        return 2;
      }
      at = v;
      ++i;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2 || !at) {
    std::cerr << "usage: orivelR-cli cdg SONG.cdg|SONG.zip --at SECONDS OUT.png\n";
    return 2;
  }
  const fs::path song(positional[0]);
  std::string ext = song.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return char(c | 0x20); });
  std::string error;
  std::optional<std::vector<uint8_t>> cdg;
  if (ext == ".cdg") {
    cdg = karaoke::readRegularFile(song, karaoke::kMaxPackageCdgBytes, &error);
  } else if (auto package = karaoke::openSongPackage(song, {}, &error)) {
    cdg = std::move(package->cdg);
  }
  if (!cdg) {
    std::cerr << "orivelR-cli cdg: cannot read " << error << "\n";
    return 3;
  }
  karaoke::CdgDecoder decoder(std::move(*cdg));
  decoder.renderAt(karaoke::CdgDecoder::packetAt(*at));
  const std::vector<uint8_t> rgba = decoder.toRgba();
  std::vector<uint8_t> rgb;
  rgb.reserve(rgba.size() / 4 * 3);
  for (size_t i = 0; i < rgba.size(); i += 4)
    rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
  const std::vector<uint8_t> png = encodePng(karaoke::kCdgWidth, karaoke::kCdgHeight, rgb);
  std::ofstream out(positional[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  out.close();
  if (!out) {
    std::cerr << "orivelR-cli cdg: cannot write " << positional[1] << "\n";
    return 4;
  }
  return 0;
}

}  // namespace cli
