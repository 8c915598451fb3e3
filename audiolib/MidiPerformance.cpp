#include "MidiPerformance.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "Channel.h"
#include "Decoder.h"
#include "Engine.h"
#include "MidiRenderer.h"
#include "MidiSong.h"

namespace audiolib {

struct MidiCollectionData {
  std::string path;
};

struct MidiSegmentData {
  std::vector<uint8_t> bytes;
  SmfHeader header;
  int64_t totalTicks = 0;
  int64_t startTick = 0;
  std::shared_ptr<const MidiCollectionData> bank;
};

struct MidiStateData {
  std::shared_ptr<SongStatus> status;
  int division = kDefaultDivision;
  int64_t startMusic = 0;
  int64_t lengthMusic = 0;
  int aheadMs = 0;  // what the synth thread renders ahead of the mixer
};

namespace {

constexpr size_t kMaxSongBytes = 64u << 20;
constexpr long kMinVolume = -20000, kMaxVolume = 2000;

// FluidSynth logs through fprintf by default; on the mixing thread that is I/O, so messages
// raised while the engine renders (a missing instrument on a program change) are dropped.
void logMessage(int level, const char* message, void*) {
  if (inRender() || level > FLUID_WARN) return;
  std::fprintf(stderr, "fluidsynth: %s\n", message);
}

void installLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
      fluid_set_log_function(level, logMessage, nullptr);
  });
}

// Whether `path` names a regular file (or a link to one), asked before anything opens it:
// opening a named pipe waits for a writer, and a device or a directory is no song or bank.
std::vector<uint8_t> readFile(const std::string& path, size_t limit) {
  if (!checkRegularFile(path)) return {};
  // Not blocking, and asked again of what was opened: the name may have been given to a pipe
  // since it was looked at.
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } const file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  const int fd = file.fd;
  if (fd < 0) return {};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
  if (st.st_size <= 0 || uint64_t(st.st_size) > limit) return {};
  std::vector<uint8_t> bytes(size_t(st.st_size));
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    done += size_t(n);
  }
  return bytes;
}

bool engineHasOutput() {
  Engine& e = Engine::get();
  std::lock_guard lock(e.mutex);
  return e.initialised && e.output;
}

int aheadMs(const MidiRenderer& r) {
  return int(r.aheadFrames() * 1000 / std::max(1, r.sampleRate()));
}

// The engine stream's side of the synth. The stream is made first (its rate is the engine's,
// which the synth needs), so the renderer arrives later, before the stream first plays.
class SynthStream final : public ChannelRenderer {
 public:
  void attach(std::shared_ptr<MidiRenderer> r) {
    owner_ = std::move(r);
    r_.store(owner_.get(), std::memory_order_release);
  }
  int64_t render(float* frames, int64_t count) override {
    if (MidiRenderer* r = r_.load(std::memory_order_acquire)) return r->render(frames, count);
    std::memset(frames, 0, size_t(count) * 2 * sizeof(float));
    return count;
  }

 private:
  std::shared_ptr<MidiRenderer> owner_;
  std::atomic<MidiRenderer*> r_{nullptr};
};

}  // namespace

// ---- collection ---------------------------------------------------------------------------

std::string MidiCollection::path() const {
  return data_ ? data_->path : std::string();
}

// ---- segment ------------------------------------------------------------------------------

bool MidiSegment::ConnectToCollection(const MidiCollection& bank) {
  if (!data_) return false;
  data_->bank = bank.data_;
  return true;
}

bool MidiSegment::SetStandardMidiFile() {
  return bool(data_);
}

bool MidiSegment::Download(MidiPerformance& performance) {
  if (!data_ || !performance.renderer_) return false;
  if (!data_->bank) return true;
  return performance.useBank(data_->bank);
}

int64_t MidiSegment::GetLength() const {
  return data_ ? ticksToMusic(data_->totalTicks, data_->header.division) : 0;
}

bool MidiSegment::SetStartPoint(int64_t musicTime) {
  if (!data_ || musicTime < 0) return false;
  data_->startTick = musicToTicks(musicTime, data_->header.division);
  return true;
}

int MidiSegment::division() const {
  return data_ ? data_->header.division : 0;
}

// ---- segment state ------------------------------------------------------------------------

int64_t MidiSegmentState::GetSeek() const {
  if (!data_) return 0;
  const int64_t music =
      ticksToMusic(data_->status->tick.load(std::memory_order_acquire), data_->division);
  return std::clamp(music, data_->startMusic, std::max(data_->startMusic, data_->lengthMusic));
}

int64_t MidiSegmentState::GetSeekHeard() const {
  if (!data_) return 0;
  const int64_t seek = GetSeek();
  const int usPerQuarter = std::max(1, data_->status->usPerQuarter.load());
  const int64_t lagMs = int64_t(BASS_GetLatency()) + data_->aheadMs;
  const int64_t lag = lagMs * 1000 * kMusicPerQuarter / usPerQuarter;
  return std::max(data_->startMusic, seek - lag);
}

bool MidiSegmentState::IsPlaying() const {
  return data_ && data_->status->phase.load(std::memory_order_acquire) == SongStatus::Playing;
}

bool MidiSegmentState::HasEnded() const {
  return data_ && data_->status->phase.load(std::memory_order_acquire) == SongStatus::Ended;
}

// ---- loader -------------------------------------------------------------------------------

MidiSegment MidiLoader::LoadSegment(const std::string& path) {
  return LoadSegment(ReadSongFile(path));
}

std::vector<uint8_t> MidiLoader::ReadSongFile(const std::string& path) {
  return readFile(path, kMaxSongBytes);
}

MidiSegment MidiLoader::LoadSegment(std::vector<uint8_t> bytes) {
  installLog();
  MidiSegment segment;
  if (bytes.size() > kMaxSongBytes) return segment;
  auto data = std::make_shared<MidiSegmentData>();
  data->bytes = std::move(bytes);
  const auto header = readSmfHeader(data->bytes);
  if (!header) return segment;
  data->header = *header;
  // FluidSynth plays neither SMPTE divisions nor a zero one (its ticks would never advance).
  if (header->divisionReplaced) patchSmfDivision(data->bytes, header->division);
  // The same preparation a play goes through tells whether FluidSynth can read the file,
  // and how long it is.
  const auto probe = MidiSong::prepare(data->bytes, 44100, 0, 1.0);
  if (!probe) return segment;
  // A song that would play for hours (a damaged delta time) is no song to sing to.
  if (!songLengthAcceptable(data->bytes, probe->totalTicks())) return segment;
  data->totalTicks = probe->totalTicks();
  segment.data_ = std::move(data);
  return segment;
}

MidiCollection MidiLoader::LoadCollection(const std::string& path) {
  MidiCollection bank;
  if (!checkRegularFile(path)) return bank;
  std::ifstream in(path, std::ios::binary);
  char head[12] = {};
  if (!in.read(head, sizeof head)) return bank;
  if (std::memcmp(head, "RIFF", 4) != 0) return bank;
  if (std::memcmp(head + 8, "DLS ", 4) != 0 && std::memcmp(head + 8, "sfbk", 4) != 0) return bank;
  auto data = std::make_shared<MidiCollectionData>();
  data->path = path;
  bank.data_ = std::move(data);
  return bank;
}

// ---- performance --------------------------------------------------------------------------

MidiPerformance::MidiPerformance() = default;

MidiPerformance::~MidiPerformance() {
  CloseDown();
}

std::string MidiPerformance::defaultSoundFont() {
  // A font of the user's choice first.
  if (const char* chosen = std::getenv("ORIVELR_SOUNDFONT"); chosen && *chosen) return chosen;
  for (const char* p :
       {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/sounds/sf2/default-GM.sf2"}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(p, ec)) return p;
  }
  return {};
}

bool MidiPerformance::InitAudio(const std::string& soundFont) {
  if (renderer_) return true;
  installLog();
  const std::string font = soundFont.empty() ? defaultSoundFont() : soundFont;
  if (font.empty() || !checkRegularFile(font)) return false;
  auto channel = std::make_unique<SynthStream>();
  SynthStream* synthStream = channel.get();
  const HSTREAM h = BASS_StreamCreateRendered(std::move(channel), 0);
  if (!h) return false;
  BASS_CHANNELINFO info{};
  std::shared_ptr<MidiRenderer> r;
  if (BASS_ChannelGetInfo(h, &info)) r = MidiRenderer::create(int(info.freq), font);
  if (!r) {
    BASS_StreamFree(h);
    return false;
  }
  // On a device of its own the mixer must not wait for the synth: it runs ahead.
  if (engineHasOutput()) r->runAhead();
  synthStream->attach(r);
  if (!BASS_StreamPlay(h, FALSE, 0)) {
    BASS_StreamFree(h);
    return false;
  }
  renderer_ = std::move(r);
  stream_ = h;
  // A bus of its own gives the synthesizer's stream the song's loudness gain, ramped.
  bus_ = BASS_BusCreate();
  BASS_BusAddChannel(bus_, h);
  baseGain_ = renderer_->baseGain();
  volume_ = 0;
  return true;
}

bool MidiPerformance::songStartHeardNs(int64_t* ns) const {
  if (!renderer_) return false;
  const int64_t start = renderer_->songStartFrame();
  return start >= 0 && audiolib::streamFrameHeardNs(stream_, start, ns);
}

MidiSegmentState MidiPerformance::PlaySegmentEx(const MidiSegment& segment, int64_t) {
  MidiSegmentState state;
  if (!renderer_ || !segment.data_) return state;
  // The engine may have freed the stream (BASS_Free) or someone stopped it.
  if (BASS_ChannelIsActive(stream_) != BASS_ACTIVE_PLAYING && !BASS_StreamPlay(stream_, FALSE, 0))
    return state;
  const MidiSegmentData& d = *segment.data_;
  auto song = MidiSong::prepare(d.bytes, renderer_->sampleRate(), d.startTick, renderer_->tempo());
  if (!song) return state;
  auto data = std::make_shared<MidiStateData>();
  data->status = song->status();
  data->division = d.header.division;
  data->startMusic = ticksToMusic(std::min(d.startTick, d.totalTicks), d.header.division);
  data->lengthMusic = ticksToMusic(d.totalTicks, d.header.division);
  data->aheadMs = aheadMs(*renderer_);
  if (!renderer_->play(std::move(song))) return state;
  state.data_ = std::move(data);
  return state;
}

bool MidiPerformance::StopEx() {
  return renderer_ && renderer_->stop();
}

bool MidiPerformance::SetMasterTempo(float factor) {
  if (!renderer_ || std::isnan(factor)) return false;
  renderer_->setTempo(std::clamp(double(factor), kMinTempoFactor, kMaxTempoFactor));
  return true;
}

float MidiPerformance::GetMasterTempo() const {
  return renderer_ ? float(renderer_->tempo()) : 0.0f;
}

bool MidiPerformance::SetMasterVolume(long hundredthsOfDb) {
  if (!renderer_) return false;
  volume_ = std::clamp(hundredthsOfDb, kMinVolume, kMaxVolume);
  renderer_->setGain(baseGain_ * float(std::pow(10.0, double(volume_) / 2000.0)));
  return true;
}

long MidiPerformance::GetMasterVolume() const {
  return renderer_ ? volume_ : 0;
}

bool MidiPerformance::SendTransposePMSG(int channel, int semitones) {
  if (!renderer_ || channel < 0 || channel > 15) return false;
  renderer_->setTranspose(channel, std::clamp(semitones, -127, 127));
  return true;
}

int MidiPerformance::GetTranspose(int channel) const {
  if (!renderer_ || channel < 0 || channel > 15) return 0;
  return renderer_->transpose(channel);
}

bool MidiPerformance::SendPatchPMSG(int channel, int program) {
  if (!renderer_ || channel < 0 || channel > 15 || program < 0 || program > 127) return false;
  return renderer_->programChange(channel, program);
}

bool MidiPerformance::SendMIDIPMSG(int channel, int status, int data1, int data2) {
  if (!renderer_ || channel < 0 || channel > 15) return false;
  if ((status & 0xF0) < 0x80 || (status & 0xF0) > 0xE0) return false;
  if (data1 < 0 || data1 > 127 || data2 < 0 || data2 > 127) return false;
  return renderer_->channelMessage(channel, status, data1, data2);
}

bool MidiPerformance::SetSongGain(float dB, bool ramp) {
  return renderer_ && BASS_BusSetGain(bus_, dB, ramp ? TRUE : FALSE);
}

bool MidiPerformance::CloseDown() {
  if (!renderer_) return false;
  // Freeing the stream waits out a block in progress; the engine may have freed it already.
  BASS_StreamFree(stream_);
  BASS_BusFree(bus_);
  stream_ = 0;
  bus_ = 0;
  renderer_.reset();
  bank_.reset();
  return true;
}

DWORD MidiPerformance::GetLatency() const {
  return renderer_ ? BASS_GetLatency() + DWORD(aheadMs(*renderer_)) : 0;
}

bool MidiPerformance::IsSounding() const {
  return renderer_ && renderer_->activeVoices() > 0;
}

fluid_synth_t* MidiPerformance::synth() const {
  return renderer_ ? renderer_->synth() : nullptr;
}

bool MidiPerformance::useBank(const std::shared_ptr<const MidiCollectionData>& bank) {
  if (bank == bank_) return true;
  if (renderer_->loadBank(bank->path) < 0) return false;
  bank_ = bank;
  return true;
}

}  // namespace audiolib
