#include "ModuleWriter.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace testaudio {

namespace {

constexpr int kRows = 64;
constexpr int kChannels = 4;
constexpr int kSampleSlots = 31;

void put16be(std::vector<uint8_t>& out, int value) {
  out.push_back(uint8_t(value >> 8));
  out.push_back(uint8_t(value));
}

void putText(std::vector<uint8_t>& out, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? uint8_t(text[i]) : 0);
}

}  // namespace

std::vector<int8_t> sineCycle(int length, int amplitude) {
  std::vector<int8_t> s(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i)
    s[size_t(i)] = int8_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * i / length)));
  return s;
}

std::vector<uint8_t> buildModule(const ModSong& song) {
  if (song.sample.size() % 2 || song.sample.size() > 2 * 0xFFFF || song.orders.empty() ||
      song.orders.size() > 128)
    throw std::invalid_argument("module out of range");
  std::vector<uint8_t> out;
  putText(out, song.title, 20);
  // Sample headers: name, length in words, finetune, volume, loop start and length in words.
  const int words = int(song.sample.size() / 2);
  for (int slot = 0; slot < kSampleSlots; ++slot) {
    const bool used = slot == 0 && words > 0;
    putText(out, used ? "sine" : "", 22);
    put16be(out, used ? words : 0);
    out.push_back(0);
    out.push_back(used ? uint8_t(song.volume) : 0);
    put16be(out, 0);
    put16be(out, used ? words : 1);  // a loop length of 1 word means "no loop"
  }
  out.push_back(uint8_t(song.orders.size()));
  out.push_back(127);  // restart byte, as ProTracker writes it
  int patternCount = 0;
  for (size_t i = 0; i < 128; ++i) {
    const int p = i < song.orders.size() ? song.orders[i] : 0;
    patternCount = std::max(patternCount, p + 1);
    out.push_back(uint8_t(p));
  }
  for (char c : std::string("M.K.")) out.push_back(uint8_t(c));
  // Cells: sample high nibble | period high nibble, period low byte, sample low nibble |
  // effect, parameter.
  for (int p = 0; p < patternCount; ++p) {
    std::vector<uint8_t> cells(kRows * kChannels * 4, 0);
    if (size_t(p) < song.patterns.size())
      for (const ModNote& n : song.patterns[size_t(p)]) {
        uint8_t* c = &cells[size_t((n.row * kChannels + n.channel) * 4)];
        c[0] = uint8_t((n.sample & 0xF0) | ((n.period >> 8) & 0x0F));
        c[1] = uint8_t(n.period & 0xFF);
        c[2] = uint8_t(((n.sample & 0x0F) << 4) | (n.effect & 0x0F));
        c[3] = uint8_t(n.param);
      }
    out.insert(out.end(), cells.begin(), cells.end());
  }
  for (int8_t s : song.sample) out.push_back(uint8_t(s));
  return out;
}

void writeModule(const std::filesystem::path& path, const ModSong& song) {
  const std::vector<uint8_t> bytes = buildModule(song);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace testaudio
