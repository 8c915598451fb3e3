// The MIDI player's figures: offline render speed of a 16-channel song as a multiple of real
// time, the lyric lighting error against the note onsets heard at tempo 0.5, 1.0 and 2.0, and
// the song scanner's time on a 1 MB song. Run by bench/run-midi-bench.sh.
#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSongs.h"
#include "Lyrics.h"
#include "MidiPerformance.h"
#include "SongScanner.h"
#include "bass.h"

namespace {

using Clock = std::chrono::steady_clock;
using benchsongs::Bytes;
using benchsongs::makeSong;
using benchsongs::writeTemp;

// Returns the speed; *voices gets the mean number of voices sounding.
double renderSpeed(int perQuarter, double* voices) {
  const int quarters = 360;  // 3 minutes at 120 bpm
  const std::string path =
      writeTemp(makeSong(16, quarters, perQuarter, 480 / perQuarter / 2), "orivelR-bench-16ch.mid");
  audiolib::MidiPerformance perf;
  perf.InitAudio();
  audiolib::MidiSegment song = audiolib::MidiLoader().LoadSegment(path);
  std::vector<float> block(2 * 1024);
  const auto t0 = Clock::now();
  audiolib::MidiSegmentState state = perf.PlaySegmentEx(song);
  int64_t frames = 0;
  double voiceSum = 0;
  while (state.IsPlaying()) {
    BASS_MixGetData(block.data(), DWORD(block.size() * sizeof(float)));
    frames += 1024;
    voiceSum += fluid_synth_get_active_voice_count(perf.synth());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  *voices = voiceSum / double(frames / 1024);
  perf.CloseDown();
  return (double(frames) / 44100) / seconds;
}

// Syllables are lit by the window's rule on a 10 ms timer: when the song's position in ticks
// reaches the tick at which the syllable starts. Here the position is read after each 10 ms
// of output, the way the timer would find it; device 0 has no output latency.
void lightingError(double factor, double* meanMs, double* maxMs) {
  const Bytes bytes = makeSong(1, 40, 1, 40, 115);  // a woodblock on every quarter
  const std::string path = writeTemp(bytes, "orivelR-bench-lyrics.mid");
  const midi::SongScan scan = midi::scanSong(bytes, std::nullopt);
  const midi::LyricTable table = midi::songLyrics(bytes, scan.lyricSource);
  audiolib::MidiPerformance perf;
  perf.InitAudio();
  perf.SetMasterTempo(float(factor));
  audiolib::MidiSegment song = audiolib::MidiLoader().LoadSegment(path);
  audiolib::MidiSegmentState state = perf.PlaySegmentEx(song);
  std::vector<float> audio;
  std::vector<float> block(2 * 441);
  std::vector<int64_t> lit;
  size_t cursor = 0;
  while (state.IsPlaying() || perf.IsSounding()) {
    BASS_MixGetData(block.data(), DWORD(block.size() * sizeof(float)));
    audio.insert(audio.end(), block.begin(), block.end());
    const int64_t clock = state.GetSeekHeard() * song.division() / 768;
    if (cursor + 1 < table.lyricEvents.size() && clock >= int64_t(table.lyricEvents[cursor].tick)) {
      ++cursor;
      if (!table.lyricEvents[cursor].text.empty()) lit.push_back(int64_t(audio.size() / 2));
    }
    if (audio.size() > 2 * 44100 * 60) break;
  }
  perf.CloseDown();
  // Note onsets: the first loud frame after a quiet stretch of 50 ms.
  std::vector<int64_t> onsets;
  int64_t quiet = 1 << 20;
  for (size_t f = 0; f < audio.size() / 2; ++f) {
    if (std::fabs(audio[2 * f]) > 0.02f) {
      if (quiet > 2205) onsets.push_back(int64_t(f));
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  const size_t n = std::min(onsets.size(), lit.size());
  double sum = 0, worst = 0;
  for (size_t i = 0; i < n; ++i) {
    const double e = std::fabs(double(lit[i] - onsets[i])) * 1000 / 44100;
    sum += e;
    worst = std::max(worst, e);
  }
  *meanMs = n ? sum / double(n) : -1;
  *maxMs = n ? worst : -1;
  std::printf("  (%zu syllables, %zu onsets)\n", lit.size(), onsets.size());
}

double scanMs() {
  Bytes song = makeSong(16, 2000);
  while (song.size() < (1u << 20)) song = makeSong(16, int(2000 * (1u << 20) / song.size()) + 1);
  std::printf("  scanned song: %.2f MB\n", double(song.size()) / (1 << 20));
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = Clock::now();
    const midi::SongScan scan = midi::scanSong(song, std::nullopt);
    const midi::LyricTable table = midi::songLyrics(song, scan.lyricSource);
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (table.lyricEvents.empty()) std::printf("no lyrics\n");
  }
  return best;
}

}  // namespace

int main() {
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  if (!BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr)) return 1;
  for (int perQuarter : {1, 2}) {
    double voices = 0;
    const double speed = renderSpeed(perQuarter, &voices);
    std::printf(
        "16-channel song, 3 minutes, %s notes: rendered offline at %.0f x real time "
        "(%.0f voices sounding on average)\n",
        perQuarter == 1 ? "quarter" : "eighth", speed, voices);
  }
  for (double factor : {0.5, 1.0, 2.0}) {
    double mean = 0, worst = 0;
    lightingError(factor, &mean, &worst);
    std::printf("lyric lighting error at tempo %.1f: mean %.1f ms, worst %.1f ms\n", factor, mean,
                worst);
  }
  std::printf("song scanner and lyric table on a 1 MB song: %.1f ms (best of 5)\n", scanMs());
  BASS_Free();
  return 0;
}
