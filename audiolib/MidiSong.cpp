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
