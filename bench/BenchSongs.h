// Songs the benchmarks make for themselves: Standard MIDI Files of many channels, with a
// lyric syllable on every quarter.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace benchsongs {

using Bytes = std::vector<uint8_t>;

inline void vlq(Bytes& out, uint32_t v) {
  uint8_t buf[5];
  int n = 0;
  buf[n++] = v & 0x7F;
  while (v >>= 7) buf[n++] = 0x80 | (v & 0x7F);
  while (n) out.push_back(buf[--n]);
}

inline void put32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

inline Bytes chunk(const char* id, const Bytes& data) {
  Bytes out(id, id + 4);
  put32(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// A format-1 song at 120 bpm, 480 ticks a quarter: `channels` channels playing for `quarters`
// quarters, `perQuarter` notes of `length` ticks each per quarter (program `program`, or one
// per channel when negative); channel 0 carries a lyric syllable on every quarter.
inline Bytes makeSong(int channels, int quarters, int perQuarter = 2, int length = 120,
                      int program = -1) {
  Bytes head = {0, 1, 0, uint8_t(channels + 1), 0x01, 0xE0};
  Bytes conductor;
  vlq(conductor, 0);
  conductor.insert(conductor.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
  vlq(conductor, 0);
  conductor.insert(conductor.end(), {0xFF, 0x2F, 0x00});
  Bytes song(4 + 4 + 6);
  song = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  song.insert(song.end(), head.begin(), head.end());
  const auto c = chunk("MTrk", conductor);
  song.insert(song.end(), c.begin(), c.end());
  for (int ch = 0; ch < channels; ++ch) {
    Bytes t;
    const uint8_t status = uint8_t(ch);
    vlq(t, 0);
    t.insert(t.end(), {uint8_t(0xC0 | status), uint8_t(program >= 0 ? program : (ch * 8) % 128)});
    const uint32_t step = uint32_t(480 / perQuarter);
    for (int e = 0; e < quarters * perQuarter; ++e) {
      if (ch == 0 && e % perQuarter == 0) {
        vlq(t, 0);
        t.insert(t.end(), {0xFF, 0x01, 0x02, 'l', 'a'});
      }
      const uint8_t key = uint8_t(ch == 9 ? 36 + e % 8 : 48 + (e * 7 + ch * 3) % 24);
      vlq(t, 0);
      t.insert(t.end(), {uint8_t(0x90 | status), key, 100});
      vlq(t, uint32_t(length));
      t.insert(t.end(), {uint8_t(0x80 | status), key, 0});
      vlq(t, step - uint32_t(length));
      t.insert(t.end(), {0xFF, 0x01, 0x00});  // an empty text keeps the eighth's length
    }
    vlq(t, 0);
    t.insert(t.end(), {0xFF, 0x2F, 0x00});
    const auto tc = chunk("MTrk", t);
    song.insert(song.end(), tc.begin(), tc.end());
  }
  return song;
}

inline std::string writeTemp(const Bytes& bytes, const char* name) {
  const auto path = std::filesystem::temp_directory_path() / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path.string();
}

}  // namespace benchsongs
