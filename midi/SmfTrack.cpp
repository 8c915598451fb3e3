#include "SmfTrack.h"

#include <algorithm>

namespace midi {

namespace {

// Calls `visit(trackData, event)` for the events of every track of `file`, in file order, at
// most kMaxEventsPerFile of them all.
template <class Visit>
void forEachEvent(std::span<const uint8_t> file, Visit visit) {
  size_t budget = kMaxEventsPerFile;
  for (const TrackChunk& c : trackChunks(file)) {
    const auto data = file.subspan(c.dataOffset, c.dataLength);
    const ParsedTrack parsed = parseTrack(data, budget);
    budget -= parsed.events.size();
    for (const TrackEvent& e : parsed.events) visit(data, e);
  }
}

// Reads a variable-length quantity of at most four bytes at `pos`; false when the bytes end
// first. A fourth byte with its continuation bit set still ends the number.
bool readVlq(std::span<const uint8_t> data, size_t& pos, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= data.size()) return false;
    const uint8_t b = data[pos++];
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return true;
}

uint32_t be(std::span<const uint8_t> bytes, size_t pos, int count) {
  uint32_t v = 0;
  for (int i = 0; i < count; ++i) {
    const size_t at = pos + size_t(i);
    v = (v << 8) | (at < bytes.size() ? bytes[at] : 0);
  }
  return v;
}

// Data bytes of a channel message, or of the system common messages a stray file may hold.
int dataBytes(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    case 0xF0:
      return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
    default:
      return 2;
  }
}

}  // namespace

ParsedTrack parseTrack(std::span<const uint8_t> data, size_t maxEvents) {
  ParsedTrack out;
  size_t pos = 0;
  uint64_t tick = 0;
  // Meta and system exclusive events leave the running status alone: files that go on with
  // data bytes after a lyric event mean the notes before it.
  uint8_t running = 0;
  while (pos < data.size() && out.events.size() < maxEvents) {
    TrackEvent e;
    e.deltaOffset = pos;
    uint32_t delta = 0;
    if (!readVlq(data, pos, delta) || pos >= data.size()) {
      out.truncated = true;
      break;
    }
    tick += delta;
    e.tick = tick;
    e.offset = pos;
    const uint8_t first = data[pos];
    bool complete = true;
    if (first == 0xFF) {
      e.status = 0xFF;
      pos += 1;
      e.metaType = pos < data.size() ? data[pos] : 0;
      pos += 1;
      uint32_t length = 0;
      complete = pos <= data.size() && readVlq(data, pos, length);
      e.dataOffset = std::min(pos, data.size());
      e.dataLength = std::min<size_t>(length, data.size() - e.dataOffset);
      complete = complete && e.dataLength == length;
      pos = e.dataOffset + e.dataLength;
    } else if (first == 0xF0 || first == 0xF7) {
      e.status = first;
      pos += 1;
      uint32_t length = 0;
      complete = readVlq(data, pos, length);
      e.dataOffset = std::min(pos, data.size());
      e.dataLength = std::min<size_t>(length, data.size() - e.dataOffset);
      complete = complete && e.dataLength == length;
      pos = e.dataOffset + e.dataLength;
    } else if (first & 0x80) {
      e.status = first;
      if (first < 0xF0) running = first;
      pos += 1;
      const size_t want = size_t(dataBytes(first));
      complete = data.size() - pos >= want;
      pos = std::min(pos + want, data.size());
    } else if (running) {
      e.status = running;
      const size_t want = size_t(dataBytes(running));
      complete = data.size() - pos >= want;
      pos = std::min(pos + want, data.size());
    } else {
      pos += 1;  // a data byte with nothing to belong to
    }
    e.end = pos;
    out.events.push_back(e);
    if (!complete) {
      out.truncated = true;
      break;
    }
    if (e.status == 0xFF && e.metaType == 0x2F) return out;
  }
  out.truncated = true;  // no end-of-track event
  return out;
}

std::vector<TrackChunk> trackChunks(std::span<const uint8_t> file) {
  std::vector<TrackChunk> chunks;
  if (file.size() > kMaxSongFileBytes) return chunks;
  const uint32_t wanted = be(file, 10, 2);
  // The header chunk's own length says where the first track starts.
  size_t pos = 8 + size_t(be(file, 4, 4));
  if (file.size() < 14 || pos < 14) pos = 14;
  while (chunks.size() < wanted && pos < file.size() && file.size() - pos >= 8) {
    const bool isTrack = std::equal(file.begin() + std::ptrdiff_t(pos),
                                    file.begin() + std::ptrdiff_t(pos + 4), "MTrk");
    const size_t length = be(file, pos + 4, 4);
    const size_t dataOffset = pos + 8;
    const size_t present = std::min(length, file.size() - dataOffset);
    if (isTrack) chunks.push_back({dataOffset, present});
    if (present < length) break;
    pos = dataOffset + length;
  }
  return chunks;
}

int ticksPerQuarter(std::span<const uint8_t> file) {
  const uint32_t division = be(file, 12, 2);
  if (division == 0 || (division & 0x8000)) return kFallbackTicksPerQuarter;
  return int(division);
}

TickMap TickMap::ofTrack(std::span<const uint8_t> data) {
  TickMap map;
  size_t budget = kMaxEventsPerFile;
  map.addTrack(data, 0, 0, budget);
  return map;
}

TickMap TickMap::ofFile(std::span<const uint8_t> file) {
  TickMap map;
  int track = 0;
  size_t budget = kMaxEventsPerFile;
  for (const TrackChunk& c : trackChunks(file))
    map.addTrack(file.subspan(c.dataOffset, c.dataLength), c.dataOffset, track++, budget);
  return map;
}

void TickMap::addTrack(std::span<const uint8_t> data, size_t base, int track, size_t& budget) {
  const ParsedTrack parsed = parseTrack(data, budget);
  budget -= parsed.events.size();
  for (const TrackEvent& e : parsed.events)
    spans_.push_back({base + e.deltaOffset, base + data.size(), e.tick, track});
}

std::ptrdiff_t TickMap::find(size_t offset) const {
  auto it = std::upper_bound(spans_.begin(), spans_.end(), offset,
                             [](size_t o, const Span& s) { return o < s.begin; });
  if (it == spans_.begin()) return -1;
  --it;
  if (offset >= it->trackEnd) return -1;
  return it - spans_.begin();
}

uint64_t TickMap::tickAt(size_t offset) const {
  const std::ptrdiff_t i = find(offset);
  return i < 0 ? 0 : spans_[size_t(i)].tick;
}

std::optional<uint64_t> TickMap::followingDelta(size_t offset) const {
  const std::ptrdiff_t i = find(offset);
  if (i < 0 || size_t(i) + 1 >= spans_.size()) return std::nullopt;
  const Span& here = spans_[size_t(i)];
  const Span& next = spans_[size_t(i) + 1];
  if (next.track != here.track) return std::nullopt;
  return next.tick - here.tick;
}

TempoMap TempoMap::ofFile(std::span<const uint8_t> file) {
  TempoMap map;
  map.ticksPerQuarter_ = midi::ticksPerQuarter(file);
  struct Raw {
    uint64_t tick;
    uint32_t micros;
  };
  std::vector<Raw> raw;
  forEachEvent(file, [&](std::span<const uint8_t> data, const TrackEvent& e) {
    if (e.status != 0xFF || e.metaType != 0x51 || e.dataLength < 3) return;
    const uint32_t micros = be(data, e.dataOffset, 3);
    if (micros > 0) raw.push_back({e.tick, micros});
  });
  // Tracks are read one after the other; a stable sort keeps a track's own order at equal ticks.
  std::stable_sort(raw.begin(), raw.end(),
                   [](const Raw& a, const Raw& b) { return a.tick < b.tick; });
  for (const Raw& r : raw) {
    const Change& last = map.changes_.back();
    const double ms =
        last.msAt + double(r.tick - last.tick) * last.micros / (1000.0 * map.ticksPerQuarter_);
    // Of two changes at one tick the later one is found by the lookups and so wins.
    map.changes_.push_back({r.tick, r.micros, ms});
  }
  return map;
}

double TempoMap::ticksToMs(uint64_t tick) const {
  auto it = std::upper_bound(changes_.begin(), changes_.end(), tick,
                             [](uint64_t t, const Change& c) { return t < c.tick; });
  const Change& c = *std::prev(it);
  return c.msAt + double(tick - c.tick) * c.micros / (1000.0 * ticksPerQuarter_);
}

uint32_t TempoMap::tempoAt(uint64_t tick) const {
  auto it = std::upper_bound(changes_.begin(), changes_.end(), tick,
                             [](uint64_t t, const Change& c) { return t < c.tick; });
  return std::prev(it)->micros;
}

std::array<bool, 16> channelsWithNotes(std::span<const uint8_t> file) {
  std::array<bool, 16> channels{};
  forEachEvent(file, [&](std::span<const uint8_t> data, const TrackEvent& e) {
    if ((e.status & 0xF0) != 0x90) return;
    // The velocity is the event's last byte when the event is whole (a Note On of velocity
    // 0 is a Note Off); a status byte of its own makes the event one byte longer.
    const size_t whole = data[e.offset] & 0x80 ? 3 : 2;
    if (e.end - e.offset == whole && data[e.end - 1] != 0) channels[e.status & 0x0F] = true;
  });
  return channels;
}

}  // namespace midi
