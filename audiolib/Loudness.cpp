#include "Loudness.h"

#include <ebur128.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "Decoder.h"
#include "Engine.h"
#include "MidiPerformance.h"
#include "MidiRenderer.h"
#include "MidiSong.h"

namespace audiolib {

namespace fs = std::filesystem;

namespace {

// Frames per block: the decoders' and the synth's reads, and the meter's input.
constexpr int64_t kBlockFrames = 4096;
// The running estimate is brought up to date after this much audio (libebur128 goes over all
// its gating blocks for each estimate).
constexpr double kEstimateSeconds = 1.0;
// The last notes of a MIDI song ring out for at most this long, as in the offline render.
constexpr double kMidiTailSeconds = 5.0;
// A cache entry is one small text file; anything larger is no entry of ours.
constexpr std::uintmax_t kMaxCacheEntryBytes = 64 * 1024;
constexpr char kCacheMagic[] = "orivelR loudness 1\n";

struct StateFree {
  void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};
using R128 = std::unique_ptr<ebur128_state, StateFree>;

// What one measurement shares with whoever runs it.
struct Work {
  std::vector<float>& buffer;            // kBlockFrames x kMaxFileChannels samples
  std::unique_ptr<MidiRenderer>& synth;  // kept from song to song: the font loads once
  std::function<bool()> cancelled;       // asked between blocks
  std::function<void(double)> estimate;  // the loudness so far, now and then
};

// Integrated loudness of frames fed in blocks, with a running estimate.
class Meter {
 public:
  Meter(int channels, int rate, Work& work) : rate_(rate), work_(work) {
    st_.reset(ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_I));
    // 7.1 (WAV order: front pair, centre, LFE, back pair, side pair): the side pair counts as
    // surround too, which libebur128's default map would leave out.
    if (st_ && channels == 8) {
      ebur128_set_channel(st_.get(), 6, EBUR128_LEFT_SURROUND);
      ebur128_set_channel(st_.get(), 7, EBUR128_RIGHT_SURROUND);
    }
  }
  explicit operator bool() const { return bool(st_); }

  bool add(const float* frames, int64_t count) {
    if (ebur128_add_frames_float(st_.get(), frames, size_t(count)) != EBUR128_SUCCESS) return false;
    sinceEstimate_ += count;
    if (work_.estimate && sinceEstimate_ >= int64_t(kEstimateSeconds * rate_)) {
      sinceEstimate_ = 0;
      if (auto lufs = loudness()) work_.estimate(*lufs);
    }
    return true;
  }
  // Nothing for silence (libebur128 says -inf when no block passes the absolute gate).
  std::optional<double> loudness() const {
    double lufs = 0;
    if (ebur128_loudness_global(st_.get(), &lufs) != EBUR128_SUCCESS) return std::nullopt;
    if (!std::isfinite(lufs)) return std::nullopt;
    return lufs;
  }

 private:
  R128 st_;
  int rate_;
  Work& work_;
  int64_t sinceEstimate_ = 0;
};

// Through the decoder the player would open the file with: a stream, else a module (played
// once, with the player's volume ramping).
std::optional<double> measureAudio(const std::string& path, Work& work) {
  int error = 0;
  std::unique_ptr<Decoder> d = openStreamDecoder(path, &error);
  if (!d) d = openModuleDecoder(path, kLoudnessMidiRate, false, true, &error);
  if (!d) return std::nullopt;
  Meter meter(d->channels(), d->sampleRate(), work);
  if (!meter) return std::nullopt;
  for (;;) {
    if (work.cancelled && work.cancelled()) return std::nullopt;
    const int64_t got = readFinite(*d, work.buffer.data(), kBlockFrames);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    if (!meter.add(work.buffer.data(), got)) return std::nullopt;
  }
  return meter.loudness();
}

// An offline render through a synthesizer of our own, as the MIDI player plays the song at
// its default level: the song, then its last notes ringing out.
std::optional<double> measureMidi(const std::string& path, const std::string& font, Work& work) {
  if (font.empty()) return std::nullopt;
  // The loader's checks: a regular file within its size, a MIDI header, a playable length.
  std::vector<uint8_t> bytes = MidiLoader::ReadSongFile(path);
  const auto header = readSmfHeader(bytes);
  if (!header) return std::nullopt;
  if (header->divisionReplaced) patchSmfDivision(bytes, header->division);
  auto song = MidiSong::prepare(bytes, kLoudnessMidiRate, 0, 1.0);
  if (!song || !songLengthAcceptable(bytes, song->totalTicks())) return std::nullopt;
  if (!work.synth) work.synth = MidiRenderer::create(kLoudnessMidiRate, font);
  if (!work.synth) return std::nullopt;
  MidiRenderer& synth = *work.synth;
  synth.setGain(synth.baseGain() * float(std::pow(10.0, kDefaultMidiLevelDb / 20)));
  const std::shared_ptr<SongStatus> status = song->status();
  if (!synth.play(std::move(song))) return std::nullopt;

  Meter meter(2, kLoudnessMidiRate, work);
  if (!meter) return std::nullopt;
  const auto tailLimit = int64_t(kMidiTailSeconds * kLoudnessMidiRate);
  int64_t tail = 0;
  std::optional<double> result;
  for (;;) {
    if (work.cancelled && work.cancelled()) break;
    const bool playing = status->phase.load(std::memory_order_acquire) == SongStatus::Playing;
    if (!playing && (synth.activeVoices() == 0 || tail > tailLimit)) {
      result = meter.loudness();
      break;
    }
    synth.render(work.buffer.data(), kBlockFrames);
    if (!meter.add(work.buffer.data(), kBlockFrames)) break;
    if (!playing) tail += kBlockFrames;
  }
  // Silent from the next render on; the next song resets the synth anyway.
  synth.stop();
  return result;
}

// ---- the cache ----------------------------------------------------------------------------

std::string fileStamp(const fs::path& canonical, std::error_code& ec) {
  const auto size = fs::file_size(canonical, ec);
  if (ec) return {};
  const auto time = fs::last_write_time(canonical, ec);
  if (ec) return {};
  return canonical.string() + "\n" + std::to_string(size) + " " +
         std::to_string(time.time_since_epoch().count()) + "\n";
}

// An entry's file, named by the FNV-1a hash of the song's canonical path.
std::string entryFile(const fs::path& canonicalSong, const std::string& cacheDir) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : canonicalSong.string()) h = (h ^ c) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.r128", static_cast<unsigned long long>(h));
  return (fs::path(cacheDir) / name).string();
}

struct CacheEntry {
  std::string file;  // where the entry lives
  std::string key;   // what it must begin with
};

// The entry of `path` (a regular file): its file is named by its canonical path, so a changed
// song overwrites its old entry; the key holds the song's (and for MIDI the font's) canonical
// path, size and modification time, so a changed song or font misses.
std::optional<CacheEntry> cacheEntry(const std::string& path, const std::string& cacheDir,
                                     const std::string& font) {
  if (cacheDir.empty()) return std::nullopt;
  std::error_code ec;
  const fs::path song = fs::canonical(path, ec);
  if (ec) return std::nullopt;
  CacheEntry e;
  e.key = kCacheMagic + fileStamp(song, ec);
  if (ec) return std::nullopt;
  if (isMidiSongName(path)) {
    const fs::path f = fs::canonical(font, ec);
    if (ec) return std::nullopt;
    e.key += fileStamp(f, ec);
    if (ec) return std::nullopt;
  }
  e.file = entryFile(song, cacheDir);
  return e;
}

std::optional<double> readCache(const CacheEntry& e) {
  std::error_code ec;
  if (!checkRegularFile(e.file)) return std::nullopt;
  const auto size = fs::file_size(e.file, ec);
  if (ec || size > kMaxCacheEntryBytes) return std::nullopt;
  std::ifstream in(e.file, std::ios::binary);
  std::string text(size_t(size), '\0');
  if (!in.read(text.data(), std::streamsize(text.size()))) return std::nullopt;
  if (!text.starts_with(e.key)) return std::nullopt;
  const std::string value = text.substr(e.key.size());
  if (value.empty() || value.back() != '\n') return std::nullopt;
  char* end = nullptr;
  const double lufs = std::strtod(value.c_str(), &end);
  if (end != value.c_str() + value.size() - 1) return std::nullopt;
  // A finite value within what a song can measure (libebur128 gates at -70 LUFS).
  if (!std::isfinite(lufs) || lufs < -70 || lufs > 10) return std::nullopt;
  return lufs;
}

// Written whole to a file of its own, then renamed over the entry: a reader sees the old
// entry or the new one, never half of one.
void writeCache(const CacheEntry& e, double lufs) {
  std::error_code ec;
  fs::create_directories(fs::path(e.file).parent_path(), ec);
  char value[40];
  std::snprintf(value, sizeof value, "%.17g\n", lufs);
  const std::string temp =
      e.file + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(::syscall(SYS_gettid));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << e.key << value;
    out.flush();
    if (!out) {
      fs::remove(temp, ec);
      return;
    }
  }
  fs::rename(temp, e.file, ec);
  if (ec) fs::remove(temp, ec);
}

std::string resolveFont(const std::string& soundFont) {
  return soundFont.empty() ? MidiPerformance::defaultSoundFont() : soundFont;
}

std::optional<double> measureSong(const std::string& path, const std::string& cacheDir,
                                  const std::string& font, Work& work) {
  // A pipe or a device would block its reader; it is not opened at all.
  if (!checkRegularFile(path)) return std::nullopt;
  const auto entry = cacheEntry(path, cacheDir, font);
  if (entry)
    if (auto cached = readCache(*entry)) return cached;
  const auto lufs = isMidiSongName(path) ? measureMidi(path, font, work) : measureAudio(path, work);
  if (lufs && entry) writeCache(*entry, *lufs);
  return lufs;
}

}  // namespace

double loudnessGainDb(double lufs, double targetLufs) {
  if (!std::isfinite(lufs) || !std::isfinite(targetLufs)) return 0.0;
  return std::clamp(targetLufs - lufs, kMinLoudnessGainDb, kMaxLoudnessGainDb);
}

bool isMidiSongName(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".mid" || ext == ".midi" || ext == ".kar" || ext == ".rmi";
}

std::string LoudnessScanner::cacheFile(const std::string& path, const std::string& cacheDir) {
  if (cacheDir.empty()) return {};
  std::error_code ec;
  const fs::path song = fs::canonical(path, ec);
  return ec ? std::string() : entryFile(song, cacheDir);
}

std::optional<double> LoudnessScanner::measure(const std::string& path, const std::string& cacheDir,
                                               const std::string& soundFont) {
  std::vector<float> buffer(size_t(kBlockFrames * kMaxFileChannels));
  std::unique_ptr<MidiRenderer> synth;
  Work work{buffer, synth, {}, {}};
  return measureSong(path, cacheDir, resolveFont(soundFont), work);
}

LoudnessScanner::LoudnessScanner(std::string cacheDir, std::string soundFont)
    : cacheDir_(std::move(cacheDir)), soundFont_(resolveFont(soundFont)) {
  worker_ = std::thread([this] { run(); });
}

LoudnessScanner::~LoudnessScanner() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    current_.store(++job_, std::memory_order_relaxed);
  }
  wake_.notify_all();
  worker_.join();
}

void LoudnessScanner::scan(const std::string& path) {
  // A known song is known at once: its entry is a stat and a small read away.
  std::optional<double> cached;
  if (!cacheDir_.empty() && checkRegularFile(path))
    if (const auto e = cacheEntry(path, cacheDir_, soundFont_)) cached = readCache(*e);
  {
    std::lock_guard lock(mutex_);
    current_.store(++job_, std::memory_order_relaxed);
    path_ = path;
    value_ = cached;
    finished_ = cached.has_value();
    taken_ = cached ? job_ : taken_;
  }
  if (!cached) wake_.notify_all();
}

std::optional<double> LoudnessScanner::loudness() const {
  std::lock_guard lock(mutex_);
  return value_;
}

bool LoudnessScanner::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void LoudnessScanner::run() {
  // Below the windows and the engine's feeder: a song is measured with what time is left.
  // (A nice value of its own is a thread's own on Linux.)
  ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 10);
  std::vector<float> buffer(size_t(kBlockFrames * kMaxFileChannels));
  std::unique_ptr<MidiRenderer> synth;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || taken_ != job_; });
    if (quit_) return;
    const uint64_t job = taken_ = job_;
    const std::string path = path_;
    lock.unlock();
    Work work{buffer, synth, [&] { return current_.load(std::memory_order_relaxed) != job; },
              [&](double lufs) {
                std::lock_guard l(mutex_);
                if (job == job_) value_ = lufs;
              }};
    const auto lufs = measureSong(path, cacheDir_, soundFont_, work);
    lock.lock();
    if (job == job_) {
      value_ = lufs;
      finished_ = true;
    }
  }
}

}  // namespace audiolib
