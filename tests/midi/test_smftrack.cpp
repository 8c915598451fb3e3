// The track reader against midicsv's parse, on every truncation of a track, and the tick of
// bytes that lie inside events.
#include <gtest/gtest.h>

#include "SmfTrack.h"
#include "SmfWriter.h"
#include "TestAudio.h"

using testmidi::Bytes;
using testmidi::TrackWriter;

namespace {

std::vector<std::pair<std::string, Bytes>> tracks() {
  TrackWriter a(true), b, c;
  a.noteOn(0, 0, 60, 90).noteOn(10, 0, 64, 90).text(5, 5, "la").noteOn(7, 0, 60, 0);
  a.noteOn(0, 0, 64, 0).program(3, 1, 20).program(3, 1, 21).end(100);
  b.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).text(200, 1, std::string(300, 'x'));
  b.controller(0x0FFFFFFF, 2, 7, 100).channel(1, 0xE3, {0x00, 0x40}).channel(1, 0xD3, {0x10});
  b.channel(16383, 0xA3, {60, 10}).tempo(1, 300000).end(2);
  for (int i = 0; i < 40; ++i) c.text(uint32_t(i * 37), 5, std::string(size_t(i % 5), 'a'));
  c.end();
  return {{"RunningStatusAcrossLyrics", a.bytes()},
          {"SysexLongTextBigDeltas", b.bytes()},
          {"ManyLyrics", c.bytes()}};
}

class TrackReader : public ::testing::TestWithParam<std::pair<std::string, Bytes>> {};

TEST_P(TrackReader, EventsAndTicksMatchMidicsv) {
  const Bytes& track = GetParam().second;
  testaudio::TempDir dir;
  testmidi::writeFile(dir / "t.mid", testmidi::buildSmf(0, 96, {track}));
  std::vector<uint64_t> ticks;
  for (const auto& r : testmidi::midicsv(dir / "t.mid"))
    if (r.track == 1 && r.type != "Start_track") ticks.push_back(r.time);

  const midi::ParsedTrack parsed = midi::parseTrack(track);
  EXPECT_FALSE(parsed.truncated);
  ASSERT_EQ(parsed.events.size(), ticks.size());
  size_t next = 0;
  for (size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(parsed.events[i].tick, ticks[i]) << "event " << i;
    EXPECT_EQ(parsed.events[i].deltaOffset, next) << "events tile the track";
    next = parsed.events[i].end;
  }
  EXPECT_EQ(next, track.size());
}

// Cut anywhere, a track yields the events before the cut unchanged and never reads past it.
TEST_P(TrackReader, EveryTruncationKeepsTheEventsBeforeIt) {
  const Bytes& track = GetParam().second;
  const midi::ParsedTrack whole = midi::parseTrack(track);
  for (size_t n = 0; n < track.size(); ++n) {
    const midi::ParsedTrack part = midi::parseTrack(std::span(track.data(), n));
    ASSERT_TRUE(part.truncated) << n;
    ASSERT_LE(part.events.size(), whole.events.size()) << n;
    for (size_t i = 0; i < part.events.size(); ++i) {
      const midi::TrackEvent &a = part.events[i], &b = whole.events[i];
      ASSERT_EQ(std::tie(a.offset, a.tick), std::tie(b.offset, b.tick)) << n;
      ASSERT_LE(std::max(a.end, a.dataOffset + a.dataLength), n);
      ASSERT_TRUE(a.end == b.end || i + 1 == part.events.size()) << "only the last is cut";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Tracks, TrackReader, ::testing::ValuesIn(tracks()),
                         [](const auto& info) { return info.param.first; });

// A byte inside an event, its delta time included, has that event's tick.
TEST(TickMap, BytesInsideEventsHaveTheEventsTick) {
  TrackWriter t;
  const Bytes& track =
      t.noteOn(5, 0, 60, 90).text(16383, 1, "\xFF").noteOn(7, 0, 62, 90).end(3).bytes();
  const midi::TickMap map = midi::TickMap::ofTrack(track);
  for (const midi::TrackEvent& e : midi::parseTrack(track).events)
    for (size_t o = e.deltaOffset; o < e.end; ++o) EXPECT_EQ(map.tickAt(o), e.tick) << o;
  ASSERT_EQ(track[4], 0xFF) << "the delta 16383 is written FF 7F";
  EXPECT_EQ(map.followingDelta(4), 7u);
  EXPECT_EQ(map.followingDelta(track.size() - 1), std::nullopt);
}

// Events are counted over the whole file: the budget the first track leaves decides whether the
// second track's tempo is read. A track of one-byte events (a delta, a stray data byte) would
// otherwise make a parse as large as 32 times the file.
TEST(EventLimit, ReadingStopsAtTheFilesEventCount) {
  for (const auto& [firstTrackEvents, tempo] :
       {std::pair{midi::kMaxEventsPerFile - 1, 250000u}, {midi::kMaxEventsPerFile, 500000u}}) {
    Bytes filler(2 * (firstTrackEvents - 1), 0);
    filler.insert(filler.end(), {0x00, 0xFF, 0x2F, 0x00});
    TrackWriter second;
    const Bytes file = testmidi::buildSmf(1, 96, {filler, second.tempo(0, 250000).end().bytes()});
    EXPECT_EQ(midi::TempoMap::ofFile(file).tempoAt(0), tempo) << firstTrackEvents;
    const midi::ParsedTrack parsed = midi::parseTrack(filler, firstTrackEvents - 1);
    EXPECT_EQ(parsed.events.size(), firstTrackEvents - 1);
    EXPECT_TRUE(parsed.truncated);
  }
}

}  // namespace
