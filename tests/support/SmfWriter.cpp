#include "SmfWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "TestAudio.h"

namespace testmidi {

Bytes vlq(uint32_t value) {
  Bytes out{uint8_t(value & 0x7F)};
  for (value >>= 7; value; value >>= 7) out.insert(out.begin(), uint8_t(0x80 | (value & 0x7F)));
  return out;
}

void TrackWriter::delta(uint32_t d) {
  const Bytes v = vlq(d);
  bytes_.insert(bytes_.end(), v.begin(), v.end());
}

TrackWriter& TrackWriter::channel(uint32_t d, uint8_t status, std::initializer_list<uint8_t> data) {
  delta(d);
  if (!running_ || status != last_) bytes_.push_back(status);
  last_ = status;
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

TrackWriter& TrackWriter::noteOn(uint32_t d, int ch, int key, int velocity) {
  return channel(d, uint8_t(0x90 | ch), {uint8_t(key), uint8_t(velocity)});
}

TrackWriter& TrackWriter::program(uint32_t d, int ch, int program) {
  return channel(d, uint8_t(0xC0 | ch), {uint8_t(program)});
}

TrackWriter& TrackWriter::controller(uint32_t d, int ch, int number, int value) {
  return channel(d, uint8_t(0xB0 | ch), {uint8_t(number), uint8_t(value)});
}

TrackWriter& TrackWriter::meta(uint32_t d, uint8_t type, const Bytes& data) {
  delta(d);
  bytes_.push_back(0xFF);
  bytes_.push_back(type);
  const Bytes len = vlq(uint32_t(data.size()));
  bytes_.insert(bytes_.end(), len.begin(), len.end());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

TrackWriter& TrackWriter::text(uint32_t d, uint8_t type, std::string_view s) {
  return meta(d, type, Bytes(s.begin(), s.end()));
}

TrackWriter& TrackWriter::tempo(uint32_t d, uint32_t micros) {
  return meta(d, 0x51, {uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)});
}

TrackWriter& TrackWriter::sysex(uint32_t d, const Bytes& data) {
  delta(d);
  bytes_.push_back(0xF0);
  const Bytes len = vlq(uint32_t(data.size()));
  bytes_.insert(bytes_.end(), len.begin(), len.end());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

TrackWriter& TrackWriter::end(uint32_t d) {
  return meta(d, 0x2F, {});
}

TickTrack& TickTrack::event(uint32_t tick, const Bytes& bytes) {
  events_.emplace_back(tick, bytes);
  return *this;
}

TickTrack& TickTrack::note(uint32_t tick, uint32_t length, int ch, int key, int velocity) {
  event(tick, {uint8_t(0x90 | ch), uint8_t(key), uint8_t(velocity)});
  return event(tick + length, {uint8_t(0x80 | ch), uint8_t(key), 0});
}

TickTrack& TickTrack::program(uint32_t tick, int ch, int program) {
  return event(tick, {uint8_t(0xC0 | ch), uint8_t(program)});
}

TickTrack& TickTrack::controller(uint32_t tick, int ch, int number, int value) {
  return event(tick, {uint8_t(0xB0 | ch), uint8_t(number), uint8_t(value)});
}

TickTrack& TickTrack::tempo(uint32_t tick, uint32_t micros) {
  return event(tick,
               {0xFF, 0x51, 0x03, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)});
}

Bytes TickTrack::bytes(uint32_t endTick) const {
  auto sorted = events_;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  Bytes out;
  uint32_t now = 0;
  auto put = [&](uint32_t tick, const Bytes& e) {
    const Bytes d = vlq(tick - now);
    now = tick;
    out.insert(out.end(), d.begin(), d.end());
    out.insert(out.end(), e.begin(), e.end());
  };
  for (const auto& [tick, e] : sorted) put(tick, e);
  put(std::max(now, endTick), {0xFF, 0x2F, 0x00});
  return out;
}

namespace {
void putBe(Bytes& out, uint32_t v, int count) {
  for (int i = count - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// midicsv writes a string quoted, with "" for a quote, \\ for a backslash and \ooo for
// control characters and some high bytes.
std::string unquote(const std::string& s) {
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '"' && s[i + 1] == '"') {
      out += '"';
      ++i;
    } else if (s[i] == '\\' && i + 1 < s.size() - 1 && s[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (s[i] == '\\' && i + 3 < s.size() - 1) {
      out += char(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> fields;
  std::string cur;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') quoted = !quoted;  // a doubled quote toggles twice
    if (c == ',' && !quoted) {
      fields.push_back(cur);
      cur.clear();
      if (i + 1 < line.size() && line[i + 1] == ' ') ++i;
    } else {
      cur += c;
    }
  }
  fields.push_back(cur);
  for (std::string& f : fields)
    if (!f.empty() && f.front() == '"') f = unquote(f);
  return fields;
}
}  // namespace

Bytes buildSmf(int format, int division, const std::vector<Bytes>& tracks) {
  Bytes out{'M', 'T', 'h', 'd'};
  putBe(out, 6, 4);
  putBe(out, uint32_t(format), 2);
  putBe(out, uint32_t(tracks.size()), 2);
  putBe(out, uint32_t(division), 2);
  for (const Bytes& t : tracks) {
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBe(out, uint32_t(t.size()), 4);
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<CsvRecord> midicsv(const std::filesystem::path& file) {
  std::string text;
  const int rc = testaudio::run("midicsv '" + file.string() + "' 2>/dev/null", &text);
  EXPECT_EQ(rc, 0) << "midicsv failed on " << file;
  std::vector<CsvRecord> records;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    std::vector<std::string> f = splitCsv(line);
    if (f.size() < 3) continue;
    CsvRecord r;
    r.track = std::stoi(f[0]);
    r.time = std::stoull(f[1]);
    r.type = f[2];
    r.fields.assign(f.begin() + 3, f.end());
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace testmidi
