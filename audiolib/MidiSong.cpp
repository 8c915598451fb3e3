#include "MidiSong.h"

#include <algorithm>
#include <cstring>

namespace audiolib {

namespace {
int be16(const uint8_t* p) {
  return (p[0] << 8) | p[1];
}
uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
}  // namespace

std::optional<SmfHeader> readSmfHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < 14 || std::memcmp(bytes.data(), "MThd", 4) != 0) return std::nullopt;
  if (be32(bytes.data() + 4) < 6) return std::nullopt;
  SmfHeader h;
  h.format = be16(bytes.data() + 8);
  h.tracks = be16(bytes.data() + 10);
  if (h.format > 2 || h.tracks < 1) return std::nullopt;
  const int division = be16(bytes.data() + 12);
  if (division == 0 || (division & 0x8000)) {
    h.division = kDefaultDivision;
    h.divisionReplaced = true;
  } else {
    h.division = division;
  }
  return h;
}

namespace {

struct TempoChange {
  int64_t tick;
  uint32_t micros;
};

bool readVlq(std::span<const uint8_t> b, size_t& pos, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= b.size()) return false;
    const uint8_t byte = b[pos++];
    value = (value << 7) | (byte & 0x7F);
    if (!(byte & 0x80)) return true;
  }
  return true;
}

// Data bytes after a channel or system common status.
size_t dataBytes(uint8_t status) {
  if ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) return 1;
  if (status < 0xF0) return 2;
  return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
}

// Appends the tempo changes of one track's data, each at its absolute tick. A tolerant walk
// like the player's own: running status, meta and system exclusive lengths, and a stray data
// byte skipped; the track ends at its end-of-track event or where its bytes do.
void collectTempi(std::span<const uint8_t> track, std::vector<TempoChange>& out) {
  size_t pos = 0;
  int64_t tick = 0;
  uint8_t running = 0;
  uint32_t delta = 0;
  while (readVlq(track, pos, delta) && pos < track.size()) {
    tick += delta;
    const uint8_t status = track[pos];
    if (status == 0xFF || status == 0xF0 || status == 0xF7) {
      pos += status == 0xFF ? 2 : 1;
      const uint8_t type = status == 0xFF && pos - 1 < track.size() ? track[pos - 1] : 0;
      uint32_t length = 0;
      if (pos > track.size() || !readVlq(track, pos, length)) return;
      if (type == 0x2F) return;
      if (type == 0x51 && length >= 3 && track.size() - pos >= 3) {
        const uint32_t micros =
            uint32_t(track[pos]) << 16 | uint32_t(track[pos + 1]) << 8 | track[pos + 2];
        if (micros > 0) out.push_back({tick, micros});
      }
      if (track.size() - pos < length) return;
      pos += length;
      continue;
    }
    if (status & 0x80) {
      ++pos;
      if (status < 0xF0) running = status;
    } else if (!running) {
      ++pos;
      continue;
    }
    pos = std::min(pos + dataBytes((status & 0x80) ? status : running), track.size());
  }
}

}  // namespace

double songSeconds(std::span<const uint8_t> file, int64_t totalTicks) {
  const auto header = readSmfHeader(file);
  if (!header || totalTicks <= 0) return 0;
  std::vector<TempoChange> changes;
  size_t pos = 8 + size_t(be32(file.data() + 4));
  for (int t = 0; t < header->tracks && pos < file.size() && file.size() - pos >= 8; ++t) {
    const size_t length = be32(file.data() + pos + 4);
    const size_t begin = pos + 8;
    const size_t present = std::min(length, file.size() - begin);
    if (std::memcmp(file.data() + pos, "MTrk", 4) == 0)
      collectTempi(file.subspan(begin, present), changes);
    pos = begin + present;
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
  double micros = 0;
  int64_t tick = 0;
  uint32_t tempo = 500000;
  for (const TempoChange& c : changes) {
    if (c.tick >= totalTicks) break;
    micros += double(c.tick - tick) * tempo;
    tick = c.tick;
    tempo = c.micros;
  }
  micros += double(totalTicks - tick) * tempo;
  return micros / (1e6 * header->division);
}

void patchSmfDivision(std::span<uint8_t> bytes, int division) {
  bytes[12] = uint8_t(division >> 8);
  bytes[13] = uint8_t(division);
}

MidiSong::~MidiSong() {
  if (player_) delete_fluid_player(player_);
  if (clock_) delete_fluid_synth(clock_);
  if (settings_) delete_fluid_settings(settings_);
}

std::unique_ptr<MidiSong> MidiSong::prepare(std::span<const uint8_t> file, int sampleRate,
                                            int64_t startTick, double tempoFactor) {
  std::unique_ptr<MidiSong> song(new MidiSong);
  song->settings_ = new_fluid_settings();
  if (!song->settings_) return nullptr;
  fluid_settings_setnum(song->settings_, "synth.sample-rate", sampleRate);
  fluid_settings_setint(song->settings_, "synth.threadsafe-api", 0);
  fluid_settings_setint(song->settings_, "synth.polyphony", 1);
  fluid_settings_setint(song->settings_, "synth.reverb.active", 0);
  fluid_settings_setint(song->settings_, "synth.chorus.active", 0);
  // The clock has nothing to reset; the real synth is reset when a song starts.
  fluid_settings_setint(song->settings_, "player.reset-synth", 0);
  song->clock_ = new_fluid_synth(song->settings_);
  if (!song->clock_) return nullptr;
  song->player_ = new_fluid_player(song->clock_);
  if (!song->player_) return nullptr;
  fluid_player_set_playback_callback(song->player_, &MidiSong::onEvent, song.get());
  if (fluid_player_add_mem(song->player_, file.data(), file.size()) != FLUID_OK) return nullptr;
  fluid_player_seek(song->player_, int(std::clamp<int64_t>(startTick, 0, INT32_MAX)));
  fluid_player_play(song->player_);
  fluid_synth_write_float(song->clock_, kBlock, song->scratch_, 0, 2, song->scratch_, 1, 2);
  song->totalTicks_ = fluid_player_get_total_ticks(song->player_);
  // A file FluidSynth could not read leaves the player done without a track to play.
  if (fluid_player_get_status(song->player_) == FLUID_PLAYER_DONE && song->totalTicks_ == 0 &&
      song->prelude_.empty())
    return nullptr;
  song->setTempo(tempoFactor);
  song->status_->tick.store(
      std::min<int64_t>(fluid_player_get_current_tick(song->player_), song->totalTicks_));
  song->status_->usPerQuarter.store(fluid_player_get_midi_tempo(song->player_));
  return song;
}

int MidiSong::onEvent(void* data, fluid_midi_event_t* event) {
  auto* song = static_cast<MidiSong*>(data);
  if (song->sink_)
    song->sink_(song->target_, event);
  else
    song->prelude_.push_back(event);  // still on the preparing thread
  return FLUID_OK;
}

void MidiSong::goLive(EventSink sink, void* target) {
  sink_ = sink;
  target_ = target;
  for (fluid_midi_event_t* e : prelude_) sink_(target_, e);
}

bool MidiSong::advanceBlock() {
  if (finished()) return false;
  fluid_synth_write_float(clock_, kBlock, scratch_, 0, 2, scratch_, 1, 2);
  return !finished();
}

bool MidiSong::finished() const {
  // Every track ends with its end-of-track event, and the longest one at the total: once the
  // player's tick reaches it, everything has been sent.
  return fluid_player_get_status(player_) == FLUID_PLAYER_DONE ||
         fluid_player_get_current_tick(player_) >= totalTicks_;
}

void MidiSong::setTempo(double factor) {
  tempo_ = std::clamp(factor, kMinTempoFactor, kMaxTempoFactor);
  fluid_player_set_tempo(player_, FLUID_PLAYER_TEMPO_INTERNAL, tempo_);
}

void MidiSong::publish(int64_t frames) {
  status_->tick.store(std::min<int64_t>(fluid_player_get_current_tick(player_), totalTicks_),
                      std::memory_order_relaxed);
  status_->usPerQuarter.store(fluid_player_get_midi_tempo(player_), std::memory_order_relaxed);
  status_->framesPlayed.store(frames, std::memory_order_release);
}

}  // namespace audiolib
