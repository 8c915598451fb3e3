// The loudness of whole songs (EBU R128 integrated loudness, libebur128), measured off the
// mixing thread so that every song can be played at one target loudness: audio files through
// the decoder the player opens them with, MIDI songs through an offline render of the engine's
// synthesizer at the player's default level. Results are kept per file in a cache folder, as
// loudness (not gain), so a song opened again is known at once whatever the target is then.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace audiolib {

constexpr double kTargetLufs = -16.0;

// How far a song is turned down or up. Mastered songs measure down to about -5 LUFS (-11 dB
// to the target), quiet recordings and General MIDI renders about -30 (+14 dB); 20 dB either
// way covers them with room, and a song quieter still is mostly silence or hiss that more
// gain would only bring forward. Peaks a gain pushes over full scale meet the output limiter.
constexpr double kMinLoudnessGainDb = -20.0;
constexpr double kMaxLoudnessGainDb = 20.0;

// The gain in dB that takes a song measured at `lufs` to `targetLufs`, within the range above;
// 0 for a loudness that is not finite.
double loudnessGainDb(double lufs, double targetLufs);
inline double loudnessGainDb(double lufs) {
  return loudnessGainDb(lufs, kTargetLufs);
}

// The MIDI player's level at its default slider position (50 of 0..100): -9 dB on the
// synthesizer's own gain. A MIDI song is measured as it sounds there.
constexpr double kDefaultMidiLevelDb = -9.0;
// The engine's rate, at which the player renders MIDI songs.
constexpr int kLoudnessMidiRate = 44100;

// True for the names the MIDI player opens (.mid, .midi, .kar, .rmi, in any case).
bool isMidiSongName(const std::string& path);

// Measures whole songs' integrated loudness on one low-priority worker thread, one song at a
// time, with one reused block buffer, and keeps the integrated loudness per file in a cache
// folder. The worker never takes the engine's lock: it opens its own decoder or its own
// synthesizer for each song.
class LoudnessScanner {
 public:
  // `cacheDir` empty: no cache. `soundFont`: the General MIDI font MIDI songs are rendered
  // with (empty: the engine's default font).
  LoudnessScanner(std::string cacheDir, std::string soundFont);
  ~LoudnessScanner();  // stops and joins the worker
  LoudnessScanner(const LoudnessScanner&) = delete;
  LoudnessScanner& operator=(const LoudnessScanner&) = delete;

  // Starts measuring `path`, in place of the song being measured. A song found in the cache
  // is known when this returns.
  void scan(const std::string& path);
  // For the song last given to scan(): the cached or final loudness, else the running
  // estimate over what has been measured so far; nullopt before there is any, for a silent
  // song, and for a file that can't be read.
  std::optional<double> loudness() const;
  // The song last given to scan() is measured to its end (or could not be).
  bool finished() const;

  // Blocking on the caller's thread: the whole song's loudness, through the same cache.
  static std::optional<double> measure(const std::string& path, const std::string& cacheDir,
                                       const std::string& soundFont);

  // The cache entry's file of `path` in `cacheDir` (it may not exist).
  static std::string cacheFile(const std::string& path, const std::string& cacheDir);

 private:
  void run();

  const std::string cacheDir_;
  const std::string soundFont_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::string path_;    // the song last given to scan()
  uint64_t job_ = 0;    // counts scan() calls; the worker measures while it is unchanged
  uint64_t taken_ = 0;  // the job the worker took last
  bool quit_ = false;
  std::optional<double> value_;
  bool finished_ = true;
  std::atomic<uint64_t> current_{0};  // job_, read by the worker between blocks
  std::thread worker_;
};

}  // namespace audiolib
