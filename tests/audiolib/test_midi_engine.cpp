// The MIDI sequencer inside the engine, on the render-on-demand device: songs written here as
// Standard MIDI Files are played through the performance and what comes out of the mix is
// measured (pitch, level, position), next to the synth's own state as FluidSynth reports it.
#include <fcntl.h>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "MidiPerformance.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "bass.h"

using audiolib::MidiCollection;
using audiolib::MidiLoader;
using audiolib::MidiPerformance;
using audiolib::MidiSegment;
using audiolib::MidiSegmentState;
using testaudio::TempDir;
using testmidi::TickTrack;

namespace {

constexpr int kRate = 44100;
// Every case names its font: the levels and timbres measured here are this font's.
constexpr const char* kFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kOrgan = 16;  // General MIDI Drawbar Organ: holds its level until the note ends
constexpr int kFlute = 73;  // a strong fundamental, for pitch
constexpr int kPiano = 0;

// A one-track file (format 0) of events at absolute ticks.
testmidi::Bytes smf(const TickTrack& track, int division = 480, uint32_t endTick = 0) {
  return testmidi::buildSmf(0, division, {track.bytes(endTick)});
}

// ---- a minimal DLS bank: one instrument (bank 0, program 0), one looped sine wave ----------

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// Each of `values` as a little-endian field of `width` bytes.
Bytes le(int width, std::initializer_list<uint32_t> values) {
  Bytes b;
  for (const uint32_t v : values)
    for (int i = 0; i < width; ++i) b.push_back(uint8_t(v >> (8 * i)));
  return b;
}
Bytes chunk(const char* id, const Bytes& body) {
  Bytes b = Bytes(id, id + 4) + le(4, {uint32_t(body.size())}) + body;
  if (body.size() % 2) b.push_back(0);
  return b;
}
Bytes list(const char* outer, const char* type, const Bytes& body) {
  return chunk(outer, Bytes(type, type + 4) + body);
}

// A sine of exactly 440 Hz at the unity note 69 (A4): 100 samples a period at 44000 Hz.
Bytes sineDls() {
  constexpr uint32_t kPeriod = 100, kPeriods = 44, kWaveRate = 44000;
  Bytes data;
  for (uint32_t i = 0; i < kPeriod * kPeriods; ++i)
    data = data + le(2, {uint16_t(int16_t(
                            std::lround(16000 * std::sin(2 * std::numbers::pi * i / kPeriod))))});
  // Unity note 69, no fine tune or attenuation, one loop over the whole wave.
  const Bytes wsmp = le(4, {20}) + le(2, {69, 0}) + le(4, {0, 0, 1, 16, 0, 0, kPeriod * kPeriods});
  const Bytes fmt = le(2, {1, 1}) + le(4, {kWaveRate, kWaveRate * 2}) + le(2, {2, 16});
  const Bytes wave = chunk("fmt ", fmt) + chunk("wsmp", wsmp) + chunk("data", data);
  const Bytes rgn = chunk("rgnh", le(2, {0, 127, 0, 127, 0, 0})) + chunk("wsmp", wsmp) +
                    chunk("wlnk", le(2, {0, 0}) + le(4, {1, 0}));
  const Bytes ins =
      chunk("insh", le(4, {1, 0, 0})) + list("LIST", "lrgn", list("LIST", "rgn ", rgn));
  return list("RIFF", "DLS ",
              chunk("colh", le(4, {1})) + list("LIST", "lins", list("LIST", "ins ", ins)) +
                  chunk("ptbl", le(4, {8, 1, 0})) +
                  list("LIST", "wvpl", list("LIST", "wave", wave)));
}

// ---- measurements -------------------------------------------------------------------------

using Mono = testaudio::Audio;  // the left channel of the mix
using testaudio::rms;
using testaudio::toneAmplitude;

// The strongest frequency between lo and hi, to a quarter hertz.
double strongestFrequency(const Mono& x, double lo, double hi, int64_t from, int64_t count) {
  double best = lo, bestAmp = -1;
  for (double f = lo; f <= hi; f += 0.25)
    if (const double a = toneAmplitude(x, 0, f, from, count); a > bestAmp) {
      bestAmp = a;
      best = f;
    }
  return best;
}

// ---- fixture ------------------------------------------------------------------------------

class MidiEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, kRate, 0, nullptr, nullptr));
    ASSERT_TRUE(perf.InitAudio(kFont));
  }
  void TearDown() override {
    perf.CloseDown();
    BASS_Free();
  }

  std::string write(const testmidi::Bytes& bytes, const std::string& name = "song.mid") {
    testmidi::writeFile(dir / name, bytes);
    return (dir / name).string();
  }
  MidiSegment load(const testmidi::Bytes& bytes) { return MidiLoader().LoadSegment(write(bytes)); }

  // The left channel of the next `seconds` of the mix, rendered in engine-sized blocks.
  static Mono mix(double seconds) {
    const auto frames = int64_t(seconds * kRate);
    Mono left{kRate, 1, std::vector<float>(size_t(frames))};
    std::vector<float> block(2 * 4096);
    for (int64_t done = 0; done < frames;) {
      const int64_t n = std::min<int64_t>(4096, frames - done);
      EXPECT_EQ(BASS_MixGetData(block.data(), DWORD(n * 8)), DWORD(n * 8));
      for (int64_t i = 0; i < n; ++i) left.samples[size_t(done + i)] = block[size_t(2 * i)];
      done += n;
    }
    return left;
  }

  // A held note of `program` on channel 0 from `startBeat` for `beats` (120 bpm, 480 ticks).
  MidiSegment heldNote(int program, int key, double startBeat, double beats) {
    return load(smf(TickTrack()
                        .program(0, 0, program)
                        .note(uint32_t(startBeat * 480), uint32_t(beats * 480), 0, key)));
  }

  TempDir dir;
  MidiPerformance perf;
};

// A song plays to its last event and the performance stays for the next one: the stream plays
// on, silent once the notes died. Stopped, a song is silent from the next block.
TEST_F(MidiEngine, SongIsHeardEndsWithItsLastEventAndStopSilencesTheNextBlock) {
  MidiSegment song = heldNote(kPiano, 69, 0, 1);  // half a second
  ASSERT_TRUE(song);
  const MidiSegmentState state = perf.PlaySegmentEx(song);
  ASSERT_TRUE(state);
  EXPECT_TRUE(state.IsPlaying());
  EXPECT_GT(rms(mix(0.4), 0, kRate / 20, kRate / 4), 0.002);
  mix(0.2);
  EXPECT_FALSE(state.IsPlaying());
  EXPECT_TRUE(state.HasEnded());
  mix(3.0);
  EXPECT_FALSE(perf.IsSounding());
  EXPECT_EQ(BASS_ChannelIsActive(perf.stream()), BASS_ACTIVE_PLAYING);

  const MidiSegmentState held = perf.PlaySegmentEx(heldNote(kOrgan, 69, 0, 8));
  ASSERT_GT(rms(mix(0.5), 0, 0, kRate / 2), 0.005);
  ASSERT_TRUE(perf.StopEx());
  const Mono after = mix(1024.0 / kRate);
  EXPECT_TRUE(
      std::all_of(after.samples.begin(), after.samples.end(), [](float x) { return x == 0.0f; }));
  EXPECT_FALSE(held.IsPlaying());
  EXPECT_FALSE(held.HasEnded());
}

// ---- pitch ------------------------------------------------------------------------------

TEST_F(MidiEngine, NoteSoundsAtTheTransposedPitchAndEndsOnItsKey) {
  MidiSegment song = heldNote(kFlute, 69, 0, 2);
  for (const int t : {2, -3}) {
    ASSERT_TRUE(perf.SendTransposePMSG(0, t));
    ASSERT_TRUE(perf.PlaySegmentEx(song));
    const Mono x = mix(0.8);
    const double expected = 440.0 * std::pow(2.0, t / 12.0);
    const double f = strongestFrequency(x, expected / 1.3, expected * 1.3, kRate / 5, kRate / 2);
    EXPECT_NEAR(f, expected, expected * 0.004) << "transpose " << t;
    // The note-off reaches the key that sounds, whatever the transposition is by then.
    ASSERT_TRUE(perf.IsSounding()) << t;
    perf.SendTransposePMSG(0, t + 5);
    mix(3.0);
    EXPECT_FALSE(perf.IsSounding()) << t;
  }
}

// The same drum sounds with all channels transposed; what differs is the synth's modulated
// reverb, tens of decibels down (another drum would differ as much as it sounds).
TEST_F(MidiEngine, DrumChannelIsNeverTransposed) {
  MidiSegment song =
      load(smf(TickTrack().note(0, 240, 9, 56).note(480, 240, 9, 38), 480, 960));  // cowbell, snare
  ASSERT_TRUE(song);
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  const Mono plain = mix(1.5);
  for (int ch = 0; ch < 16; ++ch) perf.SendTransposePMSG(ch, 7);
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  const Mono transposed = mix(1.5);
  double signal = 0, difference = 0;
  for (size_t i = 0; i < plain.samples.size(); ++i) {
    const double p = plain.samples[i], d = transposed.samples[i] - p;
    signal += p * p;
    difference += d * d;
  }
  EXPECT_GT(std::sqrt(signal / double(plain.frames())), 0.005);
  EXPECT_LT(difference / signal, 0.01);
}

// ---- levels and controllers -------------------------------------------------------------

TEST_F(MidiEngine, MasterVolumeScalesTheLevelByItsDecibels) {
  MidiSegment song = heldNote(kOrgan, 69, 0, 4);
  ASSERT_TRUE(perf.SetMasterVolume(-900));
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  const double quiet = rms(mix(1.0), 0, kRate / 2, kRate / 2);
  ASSERT_TRUE(perf.SetMasterVolume(1200));
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  const double loud = rms(mix(1.0), 0, kRate / 2, kRate / 2);
  ASSERT_GT(quiet, 1e-4);
  EXPECT_NEAR(loud / quiet, std::pow(10.0, 2100 / 2000.0), 0.01 * std::pow(10.0, 2100 / 2000.0));
}

// A minute of a full General MIDI band: fifteen instruments each playing three-note chords on
// every beat at high velocity, and a drum kit on channel 10.
testmidi::Bytes denseSong() {
  constexpr int kPrograms[16] = {0, 48, 61, 16, 29, 33, 81, 89, 52, 0, 56, 65, 24, 11, 62, 73};
  constexpr int kChords[4][3] = {{60, 64, 67}, {55, 59, 62}, {57, 60, 64}, {53, 57, 60}};
  constexpr uint32_t kBeat = 480;
  constexpr int kBeats = 120;  // 120 bpm
  TickTrack track;
  for (int ch = 0; ch < 16; ++ch)
    if (ch != 9) track.program(0, ch, kPrograms[ch]);
  for (int beat = 0; beat < kBeats; ++beat) {
    const uint32_t t = uint32_t(beat) * kBeat;
    for (int ch = 0; ch < 16; ++ch) {
      if (ch == 9) continue;
      const int octave = 12 * (ch % 5 - 2);
      for (int i = 0; i < 3; ++i)
        track.note(t, kBeat, ch, kChords[beat / 4 % 4][i] + octave, 110 + (ch + i + beat) % 18);
    }
    track.note(t, kBeat / 2, 9, beat % 2 ? 38 : 36, 127);  // snare on 2 and 4, kick on 1 and 3
    track.note(t, kBeat / 2, 9, 42, 120).note(t + kBeat / 2, kBeat / 2, 9, 42, 110);
    if (beat % 4 == 0) track.note(t, kBeat, 9, 49, 127);
  }
  return smf(track, int(kBeat), kBeats * kBeat + 2 * kBeat);
}

// What the synth stream hands the mix: sample count, those a 16-bit conversion puts at full
// scale, the float peak and the sum of squares.
struct Levels {
  int64_t samples = 0, atFullScale = 0;
  double peak = 0, squares = 0;
};
void measureLevels(HDSP, DWORD, void* buffer, DWORD length, void* user) {
  auto& l = *static_cast<Levels*>(user);
  const auto* x = static_cast<const float*>(buffer);
  for (DWORD i = 0; i < length / sizeof(float); ++i) {
    const long s16 = std::clamp(std::lround(double(x[i]) * 32768), -32768L, 32767L);
    l.atFullScale += std::abs(s16) >= 32767;
    l.peak = std::max(l.peak, double(std::fabs(x[i])));
    l.squares += double(x[i]) * x[i];
    ++l.samples;
  }
}

// At the window's default level (slider 50: -9 dB) a full band stays below full scale in the
// synth's own output, where the engine's limiter at the end of the mix can't hide it.
TEST_F(MidiEngine, DenseSongAtTheDefaultLevelStaysBelowFullScale) {
  Levels l;
  ASSERT_TRUE(BASS_ChannelSetDSP(perf.stream(), &measureLevels, &l, 0));
  ASSERT_TRUE(perf.SetMasterVolume(-900));
  const MidiSegmentState state = perf.PlaySegmentEx(load(denseSong()));
  ASSERT_TRUE(state);
  mix(62.0);
  EXPECT_TRUE(state.HasEnded());
  ASSERT_GT(l.samples, 2 * 60 * kRate);
  EXPECT_LT(double(l.atFullScale) / double(l.samples), 0.0005);
  EXPECT_LT(l.peak, 1.0);
  // And not buried: within some 10 dB of a mastered track's RMS (-14 to -12 dBFS).
  EXPECT_GT(10 * std::log10(l.squares / double(l.samples)), -24.0);
}

TEST_F(MidiEngine, UserProgramSurvivesTheFilesLaterProgramChange) {
  TickTrack track;
  for (int ch : {0, 1})
    track.program(0, ch, kPiano).program(480, ch, 40).note(0, 4 * 480, ch, 60 + ch);
  MidiSegment song = load(smf(track));
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  mix(0.1);
  ASSERT_TRUE(perf.SendPatchPMSG(0, kOrgan + 3));
  mix(0.9);  // past the file's change at beat 1
  int sfont = -1, bank = -1, preset = -1;
  fluid_synth_get_program(perf.synth(), 0, &sfont, &bank, &preset);
  EXPECT_EQ(preset, kOrgan + 3);
  fluid_synth_get_program(perf.synth(), 1, &sfont, &bank, &preset);
  EXPECT_EQ(preset, 40);  // the channel the user left alone follows the file
}

// ---- position ---------------------------------------------------------------------------

// Eight beats at 100 bpm and 96 ticks to the quarter: 768 music units a beat, 0.6 s a beat.
// Tempo 0 crawls rather than halts.
TEST_F(MidiEngine, SeekAndLengthAreMusicTimeAtTheFilesDivisionAndTempoZeroCrawls) {
  MidiSegment song =
      load(smf(TickTrack().tempo(0, 600000).program(0, 0, kOrgan).note(0, 8 * 96, 0, 60), 96));
  ASSERT_TRUE(song);
  EXPECT_EQ(song.division(), 96);
  EXPECT_EQ(song.GetLength(), 8 * 768);

  ASSERT_TRUE(perf.SetMasterTempo(0.0f));
  EXPECT_GT(perf.GetMasterTempo(), 0.0f);
  EXPECT_LE(perf.GetMasterTempo(), 0.001f);
  MidiSegmentState state = perf.PlaySegmentEx(song);
  mix(1.0);
  EXPECT_TRUE(state.IsPlaying());
  EXPECT_LE(state.GetSeek(), 2);  // a thousandth of a second of the song: 1.3 units
  ASSERT_TRUE(perf.SetMasterTempo(1.0f));
  mix(1.2);
  EXPECT_NEAR(double(state.GetSeek()), 2 * 768, 12);
  EXPECT_EQ(state.GetSeekHeard(), state.GetSeek());  // no output latency on device 0

  ASSERT_TRUE(song.SetStartPoint(4 * 768));
  state = perf.PlaySegmentEx(song);
  EXPECT_EQ(state.GetSeek(), 4 * 768);
  mix(1.2);
  EXPECT_NEAR(double(state.GetSeek()), 6 * 768, 12);
  EXPECT_TRUE(state.IsPlaying());
  mix(1.3);
  EXPECT_TRUE(state.HasEnded());
  EXPECT_EQ(state.GetSeek(), song.GetLength());

  // A zero division would never let the player's ticks advance: 480 ticks to the quarter.
  MidiSegment zero = load(smf(TickTrack().program(0, 0, kOrgan).note(0, 960, 0, 60), 0));
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero.division(), 480);
  EXPECT_EQ(zero.GetLength(), 2 * 768);
  state = perf.PlaySegmentEx(zero);
  mix(1.5);
  EXPECT_TRUE(state.HasEnded());
}

// ---- sound bank -------------------------------------------------------------------------

// The bank's instrument is a pure sine; the General MIDI piano it replaces is rich in
// overtones.
TEST_F(MidiEngine, DlsBankInstrumentIsHeard) {
  MidiSegment song = heldNote(kPiano, 69, 0, 2);
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  const Mono piano = mix(0.6);
  const MidiCollection bank = MidiLoader().LoadCollection(write(sineDls(), "sine.dls"));
  ASSERT_TRUE(bank);
  ASSERT_TRUE(song.ConnectToCollection(bank));
  ASSERT_TRUE(song.SetStandardMidiFile());
  ASSERT_TRUE(song.Download(perf));
  ASSERT_TRUE(perf.PlaySegmentEx(song));
  const Mono sine = mix(0.6);

  auto overtones = [](const Mono& x) {
    double sum = 0;
    for (int h = 2; h <= 5; ++h) sum += toneAmplitude(x, 0, 440.0 * h, kRate / 10, kRate / 4);
    return sum / toneAmplitude(x, 0, 440.0, kRate / 10, kRate / 4);
  };
  EXPECT_GT(toneAmplitude(sine, 0, 440.0, kRate / 10, kRate / 4), 0.01);
  EXPECT_NEAR(strongestFrequency(sine, 300, 700, kRate / 10, kRate / 4), 440.0, 1.0);
  EXPECT_LT(overtones(sine), 0.01);
  EXPECT_GT(overtones(piano), 0.05);
}

// ---- failures ---------------------------------------------------------------------------

// Each bad file gives a null segment that plays nothing; the engine stays working after them.
TEST_F(MidiEngine, UnplayableFilesGiveNoSegmentAndLeaveTheEngineWorking) {
  auto truncated = smf(TickTrack().program(0, 0, 0).note(0, 480, 0, 60).note(480, 480, 0, 62));
  truncated.resize(truncated.size() - 9);
  std::vector<uint8_t> garbage(3000);
  uint32_t seed = 99;
  for (auto& c : garbage) c = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
  const std::vector<uint8_t> notMidi = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  for (const auto& bytes :
       {std::vector<uint8_t>{}, garbage, testmidi::buildSmf(0, 480, {}), truncated, notMidi}) {
    SCOPED_TRACE(testing::Message() << bytes.size() << " bytes");
    MidiSegment bad = MidiLoader().LoadSegment(write(bytes));
    EXPECT_FALSE(bad);
    EXPECT_EQ(bad.GetLength(), 0);
    EXPECT_FALSE(bad.Download(perf));
    const MidiSegmentState none = perf.PlaySegmentEx(bad);
    EXPECT_FALSE(none);
    EXPECT_EQ(none.GetSeek(), 0);
    EXPECT_FALSE(none.IsPlaying());
  }
  const MidiSegmentState good = perf.PlaySegmentEx(heldNote(kPiano, 69, 0, 1));
  EXPECT_GT(rms(mix(0.3), 0, 0, kRate / 4), 0.005);
  EXPECT_TRUE(good.IsPlaying());
}

TEST_F(MidiEngine, NullAndClosedObjectsDoNothing) {
  EXPECT_FALSE(MidiLoader().LoadSegment((dir / "missing.mid").string()));
  EXPECT_FALSE(MidiLoader().LoadCollection((dir / "missing.dls").string()));
  EXPECT_FALSE(MidiLoader().LoadCollection(write(smf(TickTrack()), "song.dls")));
  MidiSegment null;
  EXPECT_FALSE(null.SetStartPoint(10));
  EXPECT_FALSE(null.ConnectToCollection(MidiCollection()));

  MidiSegment song = heldNote(kPiano, 60, 0, 1);
  ASSERT_TRUE(perf.CloseDown());
  EXPECT_FALSE(perf.CloseDown());
  EXPECT_FALSE(perf.PlaySegmentEx(song));
  EXPECT_FALSE(perf.SetMasterTempo(1.0f));
  EXPECT_EQ(perf.GetMasterTempo(), 0.0f);
  EXPECT_FALSE(perf.SendPatchPMSG(0, 1));
  EXPECT_FALSE(perf.SendMIDIPMSG(0, 0xB0, 7, 1));
  EXPECT_FALSE(perf.StopEx());
  EXPECT_EQ(perf.synth(), nullptr);
  EXPECT_FALSE(song.Download(perf));

  // And a performance outlives BASS_Free without touching the freed engine.
  MidiPerformance other;
  ASSERT_TRUE(other.InitAudio(kFont));
  BASS_Free();
  EXPECT_FALSE(other.PlaySegmentEx(song).IsPlaying());
  EXPECT_TRUE(other.CloseDown());
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, kRate, 0, nullptr, nullptr));
}

// A named pipe, a directory or a device is no song, no bank and no sound font, and is refused
// before it is opened: opening a pipe waits for a writer.
TEST_F(MidiEngine, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
  const auto fifo = dir / "bank.dls";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::filesystem::path& path : {fifo, dir.path(), std::filesystem::path("/dev/zero")}) {
    SCOPED_TRACE(path);
    auto refused = std::async(std::launch::async, [&] {
      MidiPerformance other;
      return !MidiLoader().LoadSegment(path.string()) &&
             MidiLoader::ReadSongFile(path.string()).empty() &&
             !MidiLoader().LoadCollection(path.string()) && !other.InitAudio(path.string());
    });
    if (refused.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      // Release a reader held in open() so the test ends.
      ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << "a load waited on " << path;
    }
    EXPECT_TRUE(refused.get());
  }
}

// ---- on a real mixing thread ----------------------------------------------------------

// SDL's paced silent driver: the engine mixes on its own thread while this one, as the
// window would, steers the song and reads its position.
TEST(MidiEngineThreaded, WindowSteersTheSongWhileTheMixerPlaysIt) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, kRate, 0, nullptr, nullptr));
  TempDir dir;
  const auto path = (dir / "song.mid").string();
  testmidi::writeFile(
      path, smf(TickTrack().program(0, 0, kOrgan).note(0, 4 * 480, 0, 60).note(960, 960, 0, 64)));
  {
    MidiPerformance perf;
    ASSERT_TRUE(perf.InitAudio(kFont));
    MidiSegment song = MidiLoader().LoadSegment(path);
    ASSERT_TRUE(song);
    perf.SetMasterTempo(2.0f);  // the two seconds pass in one
    const MidiSegmentState state = perf.PlaySegmentEx(song);
    int64_t last = 0;
    bool monotonic = true;
    for (int i = 0; i < 1000 && state.IsPlaying(); ++i) {
      perf.SendTransposePMSG(0, i % 5);
      perf.SendMIDIPMSG(0, 0xB0, 7, 100 + i % 20);
      perf.SetMasterVolume(-(i % 10) * 100);
      const int64_t seek = state.GetSeek();
      monotonic = monotonic && seek >= last;
      last = seek;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(monotonic);
    EXPECT_TRUE(state.HasEnded());
    EXPECT_EQ(state.GetSeek(), song.GetLength());

    const MidiSegmentState again = perf.PlaySegmentEx(song);
    EXPECT_TRUE(testaudio::waitFor([&] { return again.GetSeek() > 0; }, 5));
    ASSERT_TRUE(perf.StopEx());
    EXPECT_TRUE(testaudio::waitFor([&] { return !again.IsPlaying(); }, 5));
    EXPECT_FALSE(again.HasEnded());
    EXPECT_TRUE(perf.CloseDown());
  }
  BASS_Free();
}

}  // namespace
