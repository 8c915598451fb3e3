// A tolerant reader of Standard MIDI File tracks: where each event lies in a track's bytes and
// at which tick it falls, and the file's tempo map from ticks to milliseconds. It never reads
// past the bytes it is given; a damaged track yields the events before the damage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace midi {

// SMF header division when the header's is unusable (0 or SMPTE), and the SMF default tempo.
constexpr int kFallbackTicksPerQuarter = 480;
constexpr uint32_t kDefaultTempoMicros = 500000;

// What the readers take of one file, so that the work and memory of a file stay in proportion
// to a song and not to what its bytes claim. Karaoke files are tens to hundreds of kilobytes,
// the densest orchestral files a few megabytes; the player itself loads up to 64 MiB, and the
// scanner and lyric table read a larger file as no song at all.
constexpr size_t kMaxSongFileBytes = size_t(64) << 20;
// Events read per file (all tracks together); a file with more is read as truncated there. A
// dense song of an hour has some 500 000; two million take 128 MiB while parsed.
constexpr size_t kMaxEventsPerFile = size_t(1) << 21;

struct TrackEvent {
  size_t deltaOffset = 0;  // first byte of the delta time before the event
  size_t offset = 0;       // first byte of the event itself (status, or data under running status)
  size_t end = 0;          // one past its last byte
  uint64_t tick = 0;       // absolute tick from the start of the track
  uint8_t status = 0;      // status byte in force (0xFF meta, 0xF0/0xF7 sysex, 0 = unreadable)
  uint8_t metaType = 0;    // for meta events
  size_t dataOffset = 0;   // meta and sysex payload, clipped to the bytes present
  size_t dataLength = 0;
};

struct ParsedTrack {
  std::vector<TrackEvent> events;  // in byte order, so also in tick order
  bool truncated = false;          // the bytes ended inside an event or before an end of track
};

// Reads one track's data (the bytes after "MTrk" and its length): delta times, running status,
// meta events, system exclusive, up to the end-of-track event or the end of the bytes. A data
// byte without a running status becomes a one-byte event of status 0 so reading can go on.
// Reading stops, as truncated, after `maxEvents` events.
ParsedTrack parseTrack(std::span<const uint8_t> data, size_t maxEvents = kMaxEventsPerFile);

// The track chunks of a whole file, at most `trackCount` of the header, in file order; none
// for a file larger than kMaxSongFileBytes.
struct TrackChunk {
  size_t dataOffset = 0;  // in the file
  size_t dataLength = 0;  // clipped to the bytes present
};
std::vector<TrackChunk> trackChunks(std::span<const uint8_t> file);

// Header division in ticks per quarter note, or the fallback when it is 0, SMPTE or missing.
int ticksPerQuarter(std::span<const uint8_t> file);

// The tick of every byte of a region made of parsed tracks: a byte inside an event (its delta
// time included) gets that event's tick; bytes before the first event of a track, or outside
// every track, get tick 0; bytes after a track's last event get that event's tick.
class TickMap {
 public:
  // One track read from `data`, offsets relative to its start.
  static TickMap ofTrack(std::span<const uint8_t> data);
  // All track chunks of a whole file, offsets in the file; at most kMaxEventsPerFile events
  // of them all.
  static TickMap ofFile(std::span<const uint8_t> file);

  uint64_t tickAt(size_t offset) const;
  // The delta time of the next event of the same track after the event holding `offset`.
  std::optional<uint64_t> followingDelta(size_t offset) const;

 private:
  struct Span {
    size_t begin;  // delta offset of the event
    size_t trackEnd;
    uint64_t tick;
    int track;
  };
  // Adds at most `budget` events, and takes those added off it.
  void addTrack(std::span<const uint8_t> data, size_t base, int track, size_t& budget);
  // Index of the span holding `offset`, or -1 when the offset lies outside every track.
  std::ptrdiff_t find(size_t offset) const;
  std::vector<Span> spans_;  // sorted by begin
};

// Tempo changes of all tracks (format 0 and 1 share one timeline) with the SMF default of
// 120 beats per minute before the first one; the changes among the first kMaxEventsPerFile
// events of the file.
class TempoMap {
 public:
  static TempoMap ofFile(std::span<const uint8_t> file);

  double ticksToMs(uint64_t tick) const;
  int ticksPerQuarter() const { return ticksPerQuarter_; }
  // Microseconds per quarter note in force at `tick`.
  uint32_t tempoAt(uint64_t tick) const;

 private:
  struct Change {
    uint64_t tick;
    uint32_t micros;
    double msAt;  // milliseconds at `tick`
  };
  int ticksPerQuarter_ = kFallbackTicksPerQuarter;
  std::vector<Change> changes_{{0, kDefaultTempoMicros, 0.0}};  // sorted by tick, first at 0
};

// The channels (0..15) on which the file's tracks start at least one note.
std::array<bool, 16> channelsWithNotes(std::span<const uint8_t> file);

}  // namespace midi
