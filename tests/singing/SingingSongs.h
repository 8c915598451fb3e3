// Songs built in code for the singing tests: a tune of two lines of syllables, each syllable on
// a note, with the words where a karaoke file puts them and other parts around it.
#pragma once

#include <string>
#include <vector>

#include "SmfWriter.h"

namespace singingtest {

// 480 ticks a quarter at 480 000 µs a quarter: one tick is one millisecond.
constexpr int kDivision = 480;
constexpr uint32_t kTempoMicros = 480000;

struct TuneNote {
  uint32_t tick;
  uint32_t length;
  int key;
  std::string syllable;  // "/" before the first of a line
};

// Two lines of eight syllables, a note every 500 ms lasting 400 ms, from tick 1000.
inline std::vector<TuneNote> tune() {
  const int keys[] = {60, 62, 64, 65, 67, 65, 64, 62, 64, 65, 67, 69, 67, 65, 64, 60};
  std::vector<TuneNote> notes;
  for (int i = 0; i < 16; ++i)
    notes.push_back({uint32_t(1000 + 500 * i), 400, keys[i], (i % 8 ? "la" : "/la")});
  return notes;
}

enum class WordsOn { NoteTrack, OwnTrack, OwnTrackNoTune };

// Track 1: tempo. Words on a track named "Words" (lyric events), with the tune on channel 0
// (NoteTrack) or apart: track 3 the tune on channel 3 (OwnTrack, or, for OwnTrackNoTune, the
// same notes 200 ms after each syllable). Always a bass on channel 1 on every fourth syllable
// and drums (channel 10) on every syllable.
inline testmidi::Bytes song(WordsOn where, const std::vector<TuneNote>& notes = tune()) {
  testmidi::TickTrack conductor, words, melody, bass, drums;
  conductor.tempo(0, kTempoMicros);
  words.event(0, {0xFF, 0x03, 0x05, 'W', 'o', 'r', 'd', 's'});
  for (size_t i = 0; i < notes.size(); ++i) {
    const TuneNote& n = notes[i];
    testmidi::Bytes text(n.syllable.begin(), n.syllable.end());
    text.insert(text.begin(), {0xFF, 0x05, uint8_t(n.syllable.size())});
    words.event(n.tick, text);
    if (where == WordsOn::NoteTrack) words.note(n.tick, n.length, 0, n.key);
    if (where == WordsOn::OwnTrack) melody.note(n.tick, n.length, 3, n.key);
    if (where == WordsOn::OwnTrackNoTune) melody.note(n.tick + 200, n.length - 200, 3, n.key);
    if (i % 4 == 0) bass.note(n.tick, 1900, 1, n.key - 24);
    drums.note(n.tick, 100, 9, 36);
  }
  std::vector<testmidi::Bytes> tracks{conductor.bytes(), words.bytes()};
  if (where != WordsOn::NoteTrack) tracks.push_back(melody.bytes());
  tracks.push_back(bass.bytes());
  tracks.push_back(drums.bytes());
  return testmidi::buildSmf(1, kDivision, tracks);
}

}  // namespace singingtest
