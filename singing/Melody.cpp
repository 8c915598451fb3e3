// The melody of a song: its notes by track and channel, matched against the syllables' times.
#include "Melody.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "SmfTrack.h"
#include "SongScanner.h"

namespace singing {

namespace {

struct Part {
  int track = 0;  // 1-based
  int channel = 0;
  std::vector<MelodyNote> notes;  // as played, maybe overlapping
};

// Every non-drum note of the file, grouped by track and channel, with times from the tempo map.
std::vector<Part> notesByPart(std::span<const uint8_t> file, const midi::TempoMap& tempo) {
  std::map<std::pair<int, int>, Part> parts;
  const auto chunks = midi::trackChunks(file);
  size_t budget = midi::kMaxEventsPerFile;
  for (size_t t = 0; t < chunks.size() && budget > 0; ++t) {
    const auto data = file.subspan(chunks[t].dataOffset, chunks[t].dataLength);
    const midi::ParsedTrack parsed = midi::parseTrack(data, budget);
    budget -= std::min(budget, parsed.events.size());
    // Open notes per (channel, key), oldest first.
    std::map<std::pair<int, int>, std::vector<uint64_t>> open;
    uint64_t lastTick = 0;
    for (const midi::TrackEvent& e : parsed.events) {
      lastTick = e.tick;
      const int kind = e.status & 0xF0;
      if (kind != 0x80 && kind != 0x90) continue;
      const int channel = e.status & 0x0F;
      if (channel == 9) continue;
      size_t d = e.offset;
      if (d < e.end && data[d] >= 0x80) ++d;  // the status byte, unless running status
      if (d + 2 > e.end) continue;
      const int key = data[d] & 0x7F, velocity = data[d + 1] & 0x7F;
      auto& starts = open[{channel, key}];
      if (kind == 0x90 && velocity > 0) {
        starts.push_back(e.tick);
      } else if (!starts.empty()) {
        Part& part = parts[{int(t) + 1, channel}];
        part.notes.push_back({tempo.ticksToMs(starts.front()), tempo.ticksToMs(e.tick), key});
        starts.erase(starts.begin());
      }
    }
    for (auto& [where, starts] : open)
      for (uint64_t s : starts)
        parts[{int(t) + 1, where.first}].notes.push_back(
            {tempo.ticksToMs(s), tempo.ticksToMs(lastTick), where.second});
  }
  std::vector<Part> out;
  for (auto& [where, part] : parts) {
    if (part.notes.empty()) continue;
    part.track = where.first;
    part.channel = where.second;
    out.push_back(std::move(part));
  }
  return out;
}

// One note at a time: a later note ends the sounding one; of notes starting together the
// highest stays.
std::vector<MelodyNote> monophonic(std::vector<MelodyNote> notes) {
  std::sort(notes.begin(), notes.end(), [](const MelodyNote& a, const MelodyNote& b) {
    return a.startMs != b.startMs ? a.startMs < b.startMs : a.key > b.key;
  });
  std::vector<MelodyNote> out;
  for (const MelodyNote& n : notes) {
    if (!out.empty() && out.back().startMs == n.startMs) continue;
    if (!out.empty() && out.back().endMs > n.startMs) out.back().endMs = n.startMs;
    out.push_back(n);
  }
  std::erase_if(out, [](const MelodyNote& n) { return n.endMs <= n.startMs; });
  return out;
}

// Share of syllables with a note of `notes` (sorted by start) starting within kSyllableNoteMs.
double syllableMatch(const std::vector<double>& syllables, const std::vector<MelodyNote>& notes) {
  if (syllables.empty()) return 0;
  std::vector<double> onsets;
  for (const MelodyNote& n : notes) onsets.push_back(n.startMs);
  std::sort(onsets.begin(), onsets.end());
  int hits = 0;
  for (double s : syllables) {
    const auto it = std::lower_bound(onsets.begin(), onsets.end(), s - kSyllableNoteMs);
    if (it != onsets.end() && *it <= s + kSyllableNoteMs) ++hits;
  }
  return double(hits) / double(syllables.size());
}

// Share of the part's distinct onsets with a syllable within kSyllableNoteMs.
double onsetPrecision(const std::vector<double>& syllables, const std::vector<MelodyNote>& notes) {
  std::vector<double> onsets;
  for (const MelodyNote& n : notes) onsets.push_back(n.startMs);
  std::sort(onsets.begin(), onsets.end());
  onsets.erase(std::unique(onsets.begin(), onsets.end()), onsets.end());
  if (onsets.empty()) return 0;
  std::vector<double> sorted = syllables;
  std::sort(sorted.begin(), sorted.end());
  int hits = 0;
  for (double o : onsets) {
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), o - kSyllableNoteMs);
    if (it != sorted.end() && *it <= o + kSyllableNoteMs) ++hits;
  }
  return double(hits) / double(onsets.size());
}

}  // namespace

bool showsText(const std::string& text) {
  return !std::all_of(text.begin(), text.end(),
                      [](unsigned char c) { return std::isspace(c) || c == '/' || c == '\\'; });
}

std::vector<double> syllableStarts(const midi::LyricTable& table) {
  std::vector<double> starts;
  for (size_t i = 1; i < table.lyricEvents.size(); ++i) {
    const midi::LyricEvent& e = table.lyricEvents[i];
    if (showsText(e.text)) starts.push_back(e.time - e.duration);
  }
  return starts;
}

std::optional<Melody> songMelody(std::span<const uint8_t> file, std::string* whyNot) {
  auto fail = [&](const char* reason) -> std::optional<Melody> {
    if (whyNot) *whyNot = reason;
    return std::nullopt;
  };
  const midi::LyricSource source = midi::findLyricSource(file);
  const std::vector<double> syllables = syllableStarts(midi::songLyrics(file, source));
  if (syllables.empty()) return fail("the song has no words");
  const std::vector<Part> parts = notesByPart(file, midi::TempoMap::ofFile(file));

  if (source.kind != midi::LyricSourceKind::WholeFile) {
    const Part* only = nullptr;
    int channels = 0;
    for (const Part& p : parts)
      if (p.track == source.track) {
        only = &p;
        ++channels;
      }
    if (channels == 1) {
      Melody m{monophonic(only->notes), only->track, only->channel, true, 0};
      m.syllableMatch = syllableMatch(syllables, m.notes);
      return m;
    }
  }
  // Ties (a chord part follows the words as well as the tune) go to the part whose own onsets
  // fall on syllables most often.
  std::optional<Melody> best;
  double bestPrecision = 0;
  for (const Part& p : parts) {
    const double match = syllableMatch(syllables, p.notes);
    const double precision = onsetPrecision(syllables, p.notes);
    if (!best || match > best->syllableMatch ||
        (match == best->syllableMatch && precision > bestPrecision)) {
      best = Melody{{}, p.track, p.channel, false, match};
      bestPrecision = precision;
    }
  }
  if (!best) return fail("the song has no notes outside the drums");
  if (best->syllableMatch < kMinSyllableMatch) return fail("no track's notes follow the words");
  for (const Part& p : parts)
    if (p.track == best->track && p.channel == best->channel) best->notes = monophonic(p.notes);
  return best;
}

}  // namespace singing
