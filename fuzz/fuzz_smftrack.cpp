// The track reader, the tick map and the tempo map on any bytes, read both as one track and as
// a whole file: events lie in order inside the bytes, ticks never go back, times are finite
// and grow with the tick; and the player's song length walk on the same bytes.
#include <cmath>
#include <cstdint>
#include <span>

#include "InputFile.h"
#include "MidiSong.h"
#include "SmfTrack.h"

namespace {

void checkTrack(std::span<const uint8_t> data) {
  const midi::ParsedTrack parsed = midi::parseTrack(data);
  fuzz::require(parsed.events.size() <= midi::kMaxEventsPerFile);
  size_t pos = 0;
  uint64_t tick = 0;
  for (const midi::TrackEvent& e : parsed.events) {
    fuzz::require(e.deltaOffset == pos && e.deltaOffset < e.offset && e.offset < e.end);
    fuzz::require(e.end <= data.size() && e.tick >= tick);
    if (e.status == 0xFF || e.status == 0xF0 || e.status == 0xF7)
      fuzz::require(e.dataOffset <= data.size() && e.dataLength <= data.size() - e.dataOffset);
    pos = e.end;
    tick = e.tick;
  }
  const midi::TickMap map = midi::TickMap::ofTrack(data);
  for (const midi::TrackEvent& e : parsed.events) {
    fuzz::require(map.tickAt(e.offset) == e.tick && map.tickAt(e.end - 1) == e.tick);
    if (const auto next = map.followingDelta(e.offset)) fuzz::require(e.tick + *next >= e.tick);
  }
}

void checkFile(std::span<const uint8_t> file) {
  const int division = midi::ticksPerQuarter(file);
  fuzz::require(division > 0 && division < 0x8000);
  uint64_t lastTick = 0;
  for (const midi::TrackChunk& c : midi::trackChunks(file)) {
    fuzz::require(c.dataOffset <= file.size() && c.dataLength <= file.size() - c.dataOffset);
    for (const midi::TrackEvent& e :
         midi::parseTrack(file.subspan(c.dataOffset, c.dataLength)).events)
      lastTick = std::max(lastTick, e.tick);
  }
  const midi::TickMap ticks = midi::TickMap::ofFile(file);
  for (size_t o = 0; o < file.size(); o += 1 + file.size() / 64) (void)ticks.followingDelta(o);
  const midi::TempoMap tempo = midi::TempoMap::ofFile(file);
  double before = 0;
  for (uint64_t t : {uint64_t(0), lastTick / 3, lastTick / 2, lastTick, lastTick + 1}) {
    const double ms = tempo.ticksToMs(t);
    fuzz::require(std::isfinite(ms) && ms >= before && tempo.tempoAt(t) > 0);
    before = ms;
  }
  const double seconds = audiolib::songSeconds(file, int64_t(lastTick) + 1);
  fuzz::require(std::isfinite(seconds) && seconds >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  checkTrack(bytes);
  checkFile(bytes);
  return 0;
}
