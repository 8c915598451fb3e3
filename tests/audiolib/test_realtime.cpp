// The mixing thread of a real output device never waits and never allocates: this program
// replaces the C library's allocator and the mutex locks with counting ones, and counts the
// calls made while the engine renders (inside the mixer's block, its DSP and effects), on
// SDL's paced silent driver, with everything a song brings playing at once.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "Engine.h"
#include "MidiPerformance.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "bass.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gLocks{0};

// Out of line, so that a debugger can break on the faulty call: `break onMixingThread`.
__attribute__((noinline)) void onMixingThread(std::atomic<long>& count) {
  ++count;
}
inline void countAllocation() {
  if (gCounting.load(std::memory_order_relaxed) && audiolib::inRender())
    onMixingThread(gAllocations);
}
inline void countLock() {
  if (gCounting.load(std::memory_order_relaxed) && audiolib::inRender()) onMixingThread(gLocks);
}

// The next definition of `name` (the C library's, GLib's), looked up on first use: the
// program's own startup may lock before any static of this file is set.
template <class Fn>
Fn next(std::atomic<Fn>& cache, const char* name) {
  Fn f = cache.load(std::memory_order_acquire);
  if (!f) {
    f = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
    cache.store(f, std::memory_order_release);
  }
  return f;
}
using MutexFn = int (*)(pthread_mutex_t*);
using GMutexFn = void (*)(void*);
std::atomic<MutexFn> realMutexLock{nullptr};
std::atomic<GMutexFn> realGMutexLock{nullptr};
std::atomic<GMutexFn> realGRecMutexLock{nullptr};
}  // namespace

extern "C" {
void* malloc(size_t n) {
  countAllocation();
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
  countAllocation();
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  countAllocation();
  return __libc_realloc(p, n);
}
void free(void* p) {
  if (p) countAllocation();
  __libc_free(p);
}
void* memalign(size_t alignment, size_t n) {
  countAllocation();
  return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
  countAllocation();
  return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  countAllocation();
  *out = __libc_memalign(alignment, n);
  return *out ? 0 : ENOMEM;
}
int pthread_mutex_lock(pthread_mutex_t* m) {
  countLock();
  return next(realMutexLock, "pthread_mutex_lock")(m);
}
// FluidSynth locks through GLib.
void g_mutex_lock(void* m) {
  countLock();
  next(realGMutexLock, "g_mutex_lock")(m);
}
void g_rec_mutex_lock(void* m) {
  countLock();
  next(realGRecMutexLock, "g_rec_mutex_lock")(m);
}
}

namespace {

using testaudio::TempDir;
using testmidi::TickTrack;

std::atomic<long> gBlocks{0};
void countBlocks(HDSP, DWORD, void*, DWORD, void*) {
  ++gBlocks;
}

double seconds(HSTREAM h) {
  return BASS_ChannelBytes2Seconds(h, BASS_ChannelGetPosition(h));
}

TEST(RealTime, MixingThreadNeitherAllocatesNorLocks) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  TempDir dir;
  // Two streams of one song (they share a decoder) stretched together on a bus and sought
  // while they play, a song at 22.05 kHz (resampled on the mixing thread) and a MIDI song
  // whose tuning and reset messages reach the synth.
  const auto tone = [](int rate) {
    return testaudio::makeAudio(rate, 2, rate * 2, [rate](int64_t f, int c) {
      return testaudio::sine(c ? 660 : 440, 0.2, f, rate);
    });
  };
  testaudio::writeWav(dir / "song.wav", tone(44100));
  testaudio::writeWav(dir / "low.wav", tone(22050));
  const testmidi::Bytes tuning = {0x7F, 0x7F, 0x08, 0x08, 0x7F, 0x7F, 0x7F, 0x00, 0x40, 0x40,
                                  0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0xF7};
  const testmidi::Bytes gmReset = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
  testmidi::TrackWriter track;
  track.sysex(0, gmReset).sysex(0, tuning).program(0, 0, 16);
  for (int i = 0; i < 8; ++i)
    track.noteOn(i ? 120 : 0, 0, 60 + i % 12, 100).sysex(0, tuning).noteOn(120, 0, 60 + i % 12, 0);
  testmidi::writeFile(dir / "song.mid", testmidi::buildSmf(0, 480, {track.end().bytes()}));

  const HSTREAM main = BASS_StreamCreateFile(FALSE, (dir / "song.wav").c_str(), 0, 0, 0);
  const HSTREAM bass = BASS_StreamCreateFile(FALSE, (dir / "song.wav").c_str(), 0, 0, 0);
  const HSTREAM low = BASS_StreamCreateFile(FALSE, (dir / "low.wav").c_str(), 0, 0, 0);
  ASSERT_TRUE(main && bass && low);
  for (HSTREAM h : {main, bass, low}) {
    ASSERT_TRUE(BASS_ChannelSetDSP(h, &countBlocks, nullptr, 0));
    ASSERT_TRUE(BASS_FX_DSP_Set(h, kFxPeakingEq, 0));
    for (int band = 0; band < 8; ++band) {
      const EqBand eq{band, 44100, 1, 0, 40.0f * float(1 << band), 3};
      ASSERT_TRUE(BASS_FX_DSP_SetParameters(h, kFxPeakingEq, &eq));
    }
    const FxCompressor gain{10, 10, 10, 6, 1000};
    const FxChannelGain half{0.5f, 0.5f};
    ASSERT_TRUE(BASS_FX_DSP_Set(h, kFxCompressor, 0));
    ASSERT_TRUE(BASS_FX_DSP_SetParameters(h, kFxCompressor, &gain));
    ASSERT_TRUE(BASS_FX_DSP_Set(h, kFxChannelGain, 0));
    ASSERT_TRUE(BASS_FX_DSP_SetParameters(h, kFxChannelGain, &half));
  }
  // The remover that keeps the band on the song, the bass path delayed to stay in step.
  const FxCentreRemover centre{0.3f, 0.5f};
  const FxDelay delay{2048};
  ASSERT_TRUE(BASS_FX_DSP_Set(main, kFxCentreRemover, 0));
  ASSERT_TRUE(BASS_FX_DSP_SetParameters(main, kFxCentreRemover, &centre));
  ASSERT_TRUE(BASS_FX_DSP_Set(bass, kFxDelay, 0));
  ASSERT_TRUE(BASS_FX_DSP_SetParameters(bass, kFxDelay, &delay));
  // The song's two streams on a bus, moved in key and tempo: its stretcher is built here.
  const HBUS bus = BASS_BusCreate();
  ASSERT_TRUE(BASS_BusAddChannel(bus, main) && BASS_BusAddChannel(bus, bass));
  ASSERT_TRUE(BASS_BusSetKeyTempo(bus, 2, 0.9f));
  audiolib::MidiPerformance perf;
  ASSERT_TRUE(perf.InitAudio("/usr/share/sounds/sf2/TimGM6mb.sf2"));
  const auto song = audiolib::MidiLoader().LoadSegment((dir / "song.mid").string());
  ASSERT_TRUE(song);

  gCounting = true;
  const auto state = perf.PlaySegmentEx(song);
  for (HSTREAM h : {main, bass, low}) ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
  // While it plays, the window moves the controls.
  const EqBand band{2, 44100, 1, 0, 160, -6};
  ASSERT_TRUE(BASS_FX_DSP_SetParameters(main, kFxPeakingEq, &band));
  ASSERT_TRUE(BASS_ChannelSlideAttributes(bass, -1, 50, -50, 200));
  ASSERT_TRUE(perf.SendTransposePMSG(0, 3));
  ASSERT_TRUE(BASS_BusSetKeyTempo(bus, -3, 1.1f));
  ASSERT_TRUE(BASS_BusSetGain(bus, 6, TRUE));
  ASSERT_TRUE(perf.SetSongGain(-4, true));
  EXPECT_TRUE(testaudio::waitFor([&] { return seconds(main) > 1.5; }, 30));
  EXPECT_GT(BASS_BusGetLatency(bus), 0.0f) << "the stretcher is out of the song's path";
  ASSERT_TRUE(BASS_ChannelSetPosition(main, 0));
  // The resampled song plays to its end, where the resampler's tail comes out.
  EXPECT_TRUE(
      testaudio::waitFor([&] { return BASS_ChannelIsActive(low) == BASS_ACTIVE_STOPPED; }, 30));
  EXPECT_TRUE(testaudio::waitFor([&] { return !state.IsPlaying(); }, 30));
  EXPECT_TRUE(perf.StopEx());
  EXPECT_TRUE(testaudio::waitFor([&] { return seconds(main) > 1.0; }, 30));
  gCounting = false;

  EXPECT_GT(gBlocks.load(), 100);
  EXPECT_TRUE(state.HasEnded());
  EXPECT_EQ(gAllocations.load(), 0) << "allocations or frees on the mixing thread";
  EXPECT_EQ(gLocks.load(), 0) << "mutex locks on the mixing thread";
  perf.CloseDown();
  BASS_Free();
}

}  // namespace
