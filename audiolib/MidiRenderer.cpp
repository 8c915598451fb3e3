#include "MidiRenderer.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "Device.h"

namespace audiolib {

namespace {
constexpr int16_t kNoKey = -1;    // no note-on seen for this key
constexpr int16_t kDropped = -2;  // the note-on was transposed out of range and not sent
constexpr int kDrumChannel = 9;
constexpr int kNoteOff = 0x80, kNoteOn = 0x90, kKeyPressure = 0xA0, kControl = 0xB0,
              kProgram = 0xC0, kChannelPressure = 0xD0, kPitchBend = 0xE0;
}  // namespace

std::unique_ptr<MidiRenderer> MidiRenderer::create(int sampleRate, const std::string& soundFont) {
  std::unique_ptr<MidiRenderer> r(new MidiRenderer);
  r->rate_ = sampleRate;
  r->settings_ = new_fluid_settings();
  if (!r->settings_) return nullptr;
  fluid_settings_setnum(r->settings_, "synth.sample-rate", sampleRate);
  // Only the mixing thread calls the synth while it plays; its API needs no mutex.
  fluid_settings_setint(r->settings_, "synth.threadsafe-api", 0);
  // The synth's level at 0 dB of the master volume. At the window's default level (slider 50,
  // -9 dB) a full General MIDI band peaks some 4 dB under full scale, its RMS near -20 dBFS:
  // unmastered, its peaks stand 15 dB over its RMS. Louder settings meet the engine's output
  // limiter instead of clipping.
  fluid_settings_setnum(r->settings_, "synth.gain", 0.3);
  r->synth_ = new_fluid_synth(r->settings_);
  if (!r->synth_) return nullptr;
  if (fluid_synth_sfload(r->synth_, soundFont.c_str(), 1) == FLUID_FAILED) return nullptr;
  r->baseGain_ = fluid_synth_get_gain(r->synth_);
  r->gain_.store(r->baseGain_);
  for (auto& keys : r->soundingKey_) keys.fill(kNoKey);
  return r;
}

MidiRenderer::~MidiRenderer() {
  if (aheadRunning_.exchange(false)) {
    aheadWake_.release();
    aheadThread_.join();
  }
  // Nobody renders any more: the queues are ours to empty.
  Command c;
  while (commands_.pop(c))
    if (c.kind == Command::Play) delete c.song;
  collect();
  delete song_;
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
}

bool MidiRenderer::push(const Command& c) {
  collect();
  return commands_.push(c);
}

bool MidiRenderer::play(std::unique_ptr<MidiSong> song) {
  if (!song) return false;
  Command c;
  c.kind = Command::Play;
  c.song = song.get();
  if (!push(c)) return false;
  song.release();  // the mixer's now
  return true;
}

bool MidiRenderer::stop() {
  return push({Command::Stop});
}

bool MidiRenderer::programChange(int channel, int program) {
  Command c;
  c.kind = Command::Program;
  c.channel = channel;
  c.data1 = program;
  return push(c);
}

bool MidiRenderer::channelMessage(int channel, int status, int data1, int data2) {
  Command c;
  c.kind = Command::Message;
  c.channel = channel;
  c.status = status & 0xF0;
  c.data1 = data1;
  c.data2 = data2;
  return push(c);
}

void MidiRenderer::collect() {
  MidiSong* s;
  while (retired_.pop(s)) delete s;
}

int MidiRenderer::loadBank(const std::string& path) {
  Exclusive own(*this);
  // The mixer is off the synth: what it has not picked up yet is applied here, in order.
  Command c;
  while (commands_.pop(c)) apply(c);
  if (!song_ && !banks_.empty()) {
    // A font goes only once no voice holds its samples; a stopped voice lets go of them in
    // the next rendered block. (While a song plays the old banks stay below the new one.)
    resetSynth();
    float scratch[2 * MidiSong::kBlock];
    for (int i = 0; i < 2; ++i)
      fluid_synth_write_float(synth_, MidiSong::kBlock, scratch, 0, 2, scratch, 1, 2);
    for (int id : banks_) fluid_synth_sfunload(synth_, id, 0);
    banks_.clear();
  }
  const int id = fluid_synth_sfload(synth_, path.c_str(), 1);
  if (id == FLUID_FAILED) return -1;
  banks_.push_back(id);
  return id;
}

MidiRenderer::Exclusive::Exclusive(MidiRenderer& r) : r_(r) {
  r_.gate_.fetch_or(kWanted);
  while (r_.gate_.load() & kInside) std::this_thread::yield();
}

MidiRenderer::Exclusive::~Exclusive() {
  r_.gate_.fetch_and(~kWanted);
}

// ---- mixing thread ------------------------------------------------------------------------

void MidiRenderer::retire(MidiSong* song) {
  // The queue holds more than the command queue can hand over, and the controlling thread
  // empties it before every push: it never overflows.
  retired_.push(song);
}

void MidiRenderer::resetSynth() {
  // The synth renders 64 frames at a time: what is left of the block in progress is old
  // sound, dropped here so that the reset is heard from the next frame on.
  if (blockPhase_ != 0) {
    float scratch[2 * MidiSong::kBlock];
    const int rest = MidiSong::kBlock - blockPhase_;
    fluid_synth_write_float(synth_, rest, scratch, 0, 2, scratch, 1, 2);
    blockPhase_ = 0;
  }
  // Channels back to their defaults and the effects cleared. FluidSynth 2.3's reset lets the
  // voices ring out in their release; switching every voice off after it ends them at once.
  fluid_synth_system_reset(synth_);
  fluid_synth_all_sounds_off(synth_, -1);
  for (auto& keys : soundingKey_) keys.fill(kNoKey);
}

void MidiRenderer::apply(const Command& c) {
  switch (c.kind) {
    case Command::Play:
      if (song_) {
        song_->status()->phase.store(SongStatus::Stopped, std::memory_order_release);
        retire(song_);
      }
      resetSynth();
      // A new song: the file's own programs and volumes count again until the user's next.
      userProgram_.fill(false);
      userVolume_.fill(false);
      song_ = c.song;
      songFrames_ = 0;
      songStart_.store(synthesized_, std::memory_order_release);
      silenced_ = false;
      song_->goLive(&MidiRenderer::route, this);
      break;
    case Command::Stop:
      if (song_) {
        song_->status()->phase.store(SongStatus::Stopped, std::memory_order_release);
        retire(song_);
        song_ = nullptr;
      }
      resetSynth();
      // What the reverb still holds comes out over the next moments: not heard after a stop.
      silenced_ = true;
      break;
    case Command::Program:
      silenced_ = false;
      fluid_synth_program_change(synth_, c.channel, c.data1);
      userProgram_[size_t(c.channel)] = true;
      break;
    case Command::Message:
      silenced_ = false;
      switch (c.status) {
        case kControl:
          fluid_synth_cc(synth_, c.channel, c.data1, c.data2);
          if (c.data1 == 7) userVolume_[size_t(c.channel)] = true;
          break;
        case kProgram:
          fluid_synth_program_change(synth_, c.channel, c.data1);
          userProgram_[size_t(c.channel)] = true;
          break;
        case kNoteOn:
          fluid_synth_noteon(synth_, c.channel, c.data1, c.data2);
          break;
        case kNoteOff:
          fluid_synth_noteoff(synth_, c.channel, c.data1);
          break;
        case kKeyPressure:
          fluid_synth_key_pressure(synth_, c.channel, c.data1, c.data2);
          break;
        case kChannelPressure:
          fluid_synth_channel_pressure(synth_, c.channel, c.data1);
          break;
        case kPitchBend:
          fluid_synth_pitch_bend(synth_, c.channel, c.data1 | (c.data2 << 7));
          break;
        default:
          break;
      }
      break;
  }
}

void MidiRenderer::route(void* self, fluid_midi_event_t* event) {
  static_cast<MidiRenderer*>(self)->route(event);
}

void MidiRenderer::route(fluid_midi_event_t* e) {
  const int type = fluid_midi_event_get_type(e);
  const int ch = fluid_midi_event_get_channel(e);
  if (ch < 0 || ch > 15) {
    fluid_synth_handle_midi_event(synth_, e);
    return;
  }
  auto& keys = soundingKey_[size_t(ch)];
  switch (type) {
    case kNoteOn:
    case kNoteOff: {
      const int key = fluid_midi_event_get_key(e);
      const int velocity = fluid_midi_event_get_velocity(e);
      if (key < 0 || key > 127) return;
      if (type == kNoteOn && velocity > 0) {
        int sent = key;
        if (ch != kDrumChannel) sent += transpose_[size_t(ch)].load(std::memory_order_relaxed);
        if (sent < 0 || sent > 127) {
          keys[size_t(key)] = kDropped;
          return;
        }
        keys[size_t(key)] = int16_t(sent);
        fluid_synth_noteon(synth_, ch, sent, velocity);
      } else {
        // The key its note-on used, whatever the transposition is now.
        const int16_t sent = keys[size_t(key)];
        keys[size_t(key)] = kNoKey;
        if (sent == kDropped) return;
        fluid_synth_noteoff(synth_, ch, sent == kNoKey ? key : sent);
      }
      return;
    }
    case kKeyPressure: {
      const int key = fluid_midi_event_get_key(e);
      if (key < 0 || key > 127) return;
      const int16_t sent = keys[size_t(key)];
      if (sent >= 0) fluid_synth_key_pressure(synth_, ch, sent, fluid_midi_event_get_value(e));
      return;
    }
    case kProgram:
      if (userProgram_[size_t(ch)]) return;
      break;
    case kControl:
      if (fluid_midi_event_get_control(e) == 7 && userVolume_[size_t(ch)]) return;
      break;
    default:
      break;
  }
  fluid_synth_handle_midi_event(synth_, e);
}

void MidiRenderer::runAhead() {
  if (ahead_) return;
  ahead_ = std::make_unique<RingBuffer>(2, 4 * kAheadFrames, 0, 0);
  aheadRunning_ = true;
  aheadThread_ = std::thread([this] { aheadLoop(); });
}

void MidiRenderer::aheadLoop() {
  raiseThreadPriority(kSynthPriority);  // it must stay ahead of the mixer, under load too
  float block[2 * MidiSong::kBlock];
  while (aheadRunning_.load(std::memory_order_acquire)) {
    while (ahead_->readAvailable() < kAheadFrames) {
      synthesize(block, MidiSong::kBlock);
      ahead_->write(block, MidiSong::kBlock);
    }
    // The mixer wakes this thread after each read; the timeout only bounds a missed wake.
    (void)aheadWake_.try_acquire_for(std::chrono::milliseconds(5));
    while (aheadWake_.try_acquire()) {
    }
  }
}

int64_t MidiRenderer::render(float* frames, int64_t count) {
  if (!ahead_) return synthesize(frames, count);
  const int64_t got = ahead_->read(frames, count);
  if (got < count) {
    std::memset(frames + 2 * got, 0, size_t(count - got) * 2 * sizeof(float));
    underruns_.fetch_add(1, std::memory_order_relaxed);
  }
  aheadWake_.release();
  return count;
}

int64_t MidiRenderer::synthesize(float* frames, int64_t count) {
  if (gate_.fetch_or(kInside) & kWanted) {
    // The controlling thread has the synth (a sound bank is loading): silence this block.
    gate_.fetch_and(~kInside);
    std::memset(frames, 0, size_t(count) * 2 * sizeof(float));
    synthesized_ += count;
    return count;
  }
  Command c;
  while (commands_.pop(c)) apply(c);
  const float gain = gain_.load(std::memory_order_relaxed);
  if (gain != appliedGain_) {
    fluid_synth_set_gain(synth_, gain);
    appliedGain_ = gain;
  }
  if (song_) {
    const double tempo =
        std::clamp(tempo_.load(std::memory_order_relaxed), kMinTempoFactor, kMaxTempoFactor);
    if (tempo != song_->tempo()) song_->setTempo(tempo);
  }

  int64_t done = 0;
  while (done < count) {
    if (blockPhase_ == 0 && song_ && !song_->advanceBlock()) {
      song_->publish(songFrames_);
      song_->status()->phase.store(SongStatus::Ended, std::memory_order_release);
      retire(song_);
      song_ = nullptr;
    }
    const int n = int(std::min<int64_t>(count - done, MidiSong::kBlock - blockPhase_));
    float* out = frames + 2 * done;
    fluid_synth_write_float(synth_, n, out, 0, 2, out, 1, 2);
    blockPhase_ = (blockPhase_ + n) % MidiSong::kBlock;
    if (song_) songFrames_ += n;
    done += n;
  }
  synthesized_ += count;
  if (silenced_) std::memset(frames, 0, size_t(count) * 2 * sizeof(float));
  if (song_) song_->publish(songFrames_);
  activeVoices_.store(fluid_synth_get_active_voice_count(synth_), std::memory_order_release);
  gate_.fetch_and(~kInside);
  return count;
}

}  // namespace audiolib
