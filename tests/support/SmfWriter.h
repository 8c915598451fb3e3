// A writer of small Standard MIDI Files, so tests can build the songs they scan, and a reader
// of midicsv's listing of a file, the independent parse the tests compare against.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testmidi {

using Bytes = std::vector<uint8_t>;

// The variable-length quantity of `value` (at most 0x0FFFFFFF).
Bytes vlq(uint32_t value);

// One track's event bytes, written in order; each event takes the delta time before it.
class TrackWriter {
 public:
  // Leaves out a channel status byte equal to the last one written (meta events do not reset it).
  explicit TrackWriter(bool runningStatus = false) : running_(runningStatus) {}

  TrackWriter& channel(uint32_t delta, uint8_t status, std::initializer_list<uint8_t> data);
  TrackWriter& noteOn(uint32_t delta, int ch, int key, int velocity);
  TrackWriter& program(uint32_t delta, int ch, int program);
  TrackWriter& controller(uint32_t delta, int ch, int number, int value);
  TrackWriter& meta(uint32_t delta, uint8_t type, const Bytes& data);
  // A text-like meta event (01 text, 03 track name, 05 lyric) with the string's bytes as they are.
  TrackWriter& text(uint32_t delta, uint8_t type, std::string_view bytes);
  TrackWriter& tempo(uint32_t delta, uint32_t micros);
  TrackWriter& sysex(uint32_t delta, const Bytes& data);  // F0, length, data
  TrackWriter& end(uint32_t delta = 0);

  const Bytes& bytes() const { return bytes_; }

 private:
  void delta(uint32_t d);
  Bytes bytes_;
  bool running_;
  uint8_t last_ = 0;
};

// One track's events placed at absolute ticks in any order; written sorted by tick (ties in the
// order added) with the deltas between them, then the end of track at `endTick` or the last event.
class TickTrack {
 public:
  TickTrack& event(uint32_t tick, const Bytes& bytes);
  // Note-on at `tick`, note-off (80, velocity 0) `length` ticks later.
  TickTrack& note(uint32_t tick, uint32_t length, int ch, int key, int velocity = 100);
  TickTrack& program(uint32_t tick, int ch, int program);
  TickTrack& controller(uint32_t tick, int ch, int number, int value);
  TickTrack& tempo(uint32_t tick, uint32_t micros);
  Bytes bytes(uint32_t endTick = 0) const;

 private:
  std::vector<std::pair<uint32_t, Bytes>> events_;
};

// A header chunk and one MTrk chunk per track, each with its true length.
Bytes buildSmf(int format, int division, const std::vector<Bytes>& tracks);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);

// One line of midicsv's listing: track, absolute time, record type and the fields after it
// (strings unquoted and unescaped to their bytes).
struct CsvRecord {
  int track = 0;
  uint64_t time = 0;
  std::string type;
  std::vector<std::string> fields;
  long number(size_t i) const { return std::stol(fields.at(i)); }
};

// midicsv's listing of `file`; fails the test when midicsv does not run.
std::vector<CsvRecord> midicsv(const std::filesystem::path& file);

}  // namespace testmidi
