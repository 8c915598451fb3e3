#include "MidiPlayer.h"

#include <cmath>
#include <cstdio>

#include "Controls.h"
#include "MidiSong.h"
#include "Preload.h"

namespace player {

namespace {

// The language's rounding of CInt: to the nearest whole number, halves to even.
int cint(double v) {
  return int(std::nearbyint(v));
}

constexpr int kDrumChannel = 9;  // never transposed

long wholeSeconds(double seconds) {
  return seconds > 0 ? long(seconds) : 0;
}

}  // namespace

std::string midiPositionText(double seconds) {
  const long s = wholeSeconds(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
  return text;
}

std::string midiLengthText(double seconds) {
  const long s = wholeSeconds(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld :%02ld", s / 60, s % 60);
  return text;
}

MidiPlayer::MidiPlayer() = default;

MidiPlayer::~MidiPlayer() {
  if (midiPerformance) midiPerformance->CloseDown();
}

bool MidiPlayer::Initialize(const std::string& soundFont) {
  midiPerformance = std::make_unique<audiolib::MidiPerformance>();
  return midiPerformance->InitAudio(soundFont);
}

bool MidiPlayer::chooseSong(const std::string& path) {
  // A chosen song is opened by the next play: one still loaded (its key, its tempo, its
  // lyrics) is stopped and no longer counts.
  CloseDevice();
  songLoaded = false;
  songPlaying = 0;
  progressPercent = 0;
  midiRunning = stopLatch = stoppedOnce = stopPending = false;
  fileName_ = path;
  songBytes = audiolib::MidiLoader::ReadSongFile(path);
  songSegment = songBytes.empty() ? audiolib::MidiSegment{} : midiLoader.LoadSegment(songBytes);
  for (midi::ChannelState& c : channelTable) c.volume = 0;
  playable_ = {};
  return bool(songSegment);
}

void MidiPlayer::CloseDevice() {
  if (songLoaded && midiPerformance) midiPerformance->StopEx();
}

void MidiPlayer::OpenMusic(int level) {
  CloseDevice();
  // What the sequencer does not report, read from the song's bytes.
  const midi::SongScan scan = midi::scanSong(songBytes, timing);
  smfFormat = scan.smfFormat;
  trackCount = scan.trackCount;
  timing = scan.timing;
  lyrics = midi::songLyrics(songBytes, scan.lyricSource);
  for (size_t c = 0; c < channelTable.size(); ++c) {
    channelTable[c].inUse = scan.channels[c].inUse;
    channelTable[c].program = scan.channels[c].program;
    channelTable[c].volume = scan.channels[c].volume;
    channelTable[c].pan = scan.channels[c].pan;
    // A change the user made to the song before belongs to that song: this one plays its own
    // volumes (its fades too) and instruments until the user moves a strip.
    channelTable[c].volumeChanged = false;
    channelTable[c].instrumentChanged = false;
  }
  playable_ = midi::channelsWithNotes(songBytes);
  tempoMap_ = midi::TempoMap::ofFile(songBytes);
  // Every General MIDI instrument is in the synthesizer before the song starts: the preload
  // song of 128 program changes goes the same way as the song, from memory.
  const auto& preload = midi::preloadFileBytes();
  patchSegment = midiLoader.LoadSegment(std::vector<uint8_t>(preload.begin(), preload.end()));
  songSegment.ConnectToCollection(soundBank);
  songSegment.SetStandardMidiFile();
  patchSegment.SetStandardMidiFile();
  if (midiPerformance) {
    songSegment.Download(*midiPerformance);
    patchSegment.Download(*midiPerformance);
    midiPerformance->SetMasterTempo(1.0f);
    midiPerformance->SetMasterVolume(midi::masterVolume(level));
    // The key control reads 0 for an opened song, so the song plays in its own key: the
    // transposition of the song before stays in the sequencer otherwise, as the key control
    // is not heard while no song plays.
    sendKey(0);
  }
  lengthText = midiLengthText(lengthSeconds());
  songPlaying = 1;
  startTime = 0;
  lyricCursor = 0;
  songLoaded = true;
}

void MidiPlayer::Play(const std::array<int, 16>& sliders) {
  // The first syllable from the start point on is the one awaited.
  const int64_t startTick = songSegment.division() * startTime / audiolib::kMusicPerQuarter;
  lyricCursor = long(lyrics.lyricEvents.size()) - 1;
  for (size_t k = 0; k + 1 < lyrics.lyricEvents.size(); ++k)
    if (int64_t(lyrics.lyricEvents[k].tick) >= startTick) {
      lyricCursor = long(k);
      break;
    }
  const int64_t L = songSegment.GetLength();
  if (startTime >= L) startTime -= 10;
  if (startTime < 0) startTime = 0;
  songSegment.SetStartPoint(startTime);
  songPlaying = 0;
  if (midiPerformance) songState = midiPerformance->PlaySegmentEx(songSegment);
  SetChannels(sliders);
  songPlaying = 1;
  stopPending = false;
  midiRunning = true;
}

void MidiPlayer::Stop() {
  midiRunning = false;
  stopPending = stoppedOnce = stopLatch = true;
  songLoaded = false;
  if (midiPerformance) midiPerformance->StopEx();
  songPlaying = 0;
}

void MidiPlayer::SeekEnd() {
  if (midiPerformance) midiPerformance->StopEx();
}

MidiPlayer::Tick MidiPlayer::Timer_Timer() {
  Tick tick;
  if (songPlaying != 1) return tick;
  const int64_t length = songSegment.GetLength();
  const int64_t seek = songState.GetSeek();
  if (length > 0) progressPercent = cint(double(seek) * 100 / double(length));
  // The song ends when the sequencer has sent its last event (its notes then ring out), not
  // at 99.5 % of it; the next Play opens it again from the beginning.
  if (!stopLatch && midiRunning && (songState.HasEnded() || seek >= length)) {
    progressPercent = 100;
    songLoaded = false;
    midiRunning = false;
    songPlaying = 0;
    tick.ended = true;
    return tick;
  }
  tick.position = midiPositionText(seconds(songState.GetSeekHeard()));
  return tick;
}

std::optional<long> MidiPlayer::Timer1_Timer() {
  // The cursor waits on the element whose time is the start of the syllable after it; the
  // element before the first syllable carries that syllable's start, so none is skipped.
  // The song's position as heard, in the file's ticks: in step at any tempo and through any
  // tempo change of the song.
  const int64_t clock =
      songState.GetSeekHeard() * songSegment.division() / audiolib::kMusicPerQuarter;
  const long last = long(lyrics.lyricEvents.size()) - 1;
  if (lyricCursor + 1 > last || clock < int64_t(lyrics.lyricEvents[size_t(lyricCursor)].tick))
    return std::nullopt;
  return ++lyricCursor;
}

bool MidiPlayer::transpose(int key) {
  if (songPlaying == 0 || !midiPerformance) return false;
  sendKey(key);
  return true;
}

void MidiPlayer::sendKey(int key) {
  for (int channel = 0; channel < 16; ++channel)
    if (channel != kDrumChannel) midiPerformance->SendTransposePMSG(channel, key);
}

int MidiPlayer::keyHeard() const {
  return midiPerformance ? midiPerformance->GetTranspose(0) : 0;
}

double MidiPlayer::tempoHeard() const {
  const float factor = midiPerformance ? midiPerformance->GetMasterTempo() : 0.f;
  return factor > 0 ? factor : 1.0;
}

void MidiPlayer::setTempo(int slider) {
  if (midiPerformance) midiPerformance->SetMasterTempo(midi::tempoFactor(slider));
}

void MidiPlayer::setLevel(int slider1) {
  if (songLoaded && midiPerformance) midiPerformance->SetMasterVolume(midi::masterVolume(slider1));
}

bool MidiPlayer::loadSoundBank(const std::string& path) {
  audiolib::MidiCollection bank = midiLoader.LoadCollection(path);
  if (!bank) return false;
  soundBank = std::move(bank);
  return true;
}

void MidiPlayer::ZeroVariables() {
  lyricCursor = 0;
  lyrics.reset();
  midi::resetChannelTable(channelTable);
}

bool MidiPlayer::channelPlayable(int channel) const {
  return channel >= 0 && channel < 16 && playable_[size_t(channel)];
}

void MidiPlayer::channelVolume(int channel, int volume) {
  if (!midiPerformance) return;
  midiPerformance->SendMIDIPMSG(channel, 0xB0, 7, volume);
  channelTable[size_t(channel)].volumeChanged = true;
}

void MidiPlayer::channelProgram(int channel, int program) {
  if (!midiPerformance) return;
  midiPerformance->SendPatchPMSG(channel, program);
  channelTable[size_t(channel)].program = int16_t(program);
  channelTable[size_t(channel)].instrumentChanged = true;
}

void MidiPlayer::SetChannels(const std::array<int, 16>& sliders) {
  if (!midiPerformance) return;
  // The performance queues these after the song's start, so nothing needs to wait here.
  for (int i = 0; i < 16; ++i) {
    const midi::ChannelState& c = channelTable[size_t(i)];
    if (c.inUse != -1 && c.instrumentChanged) midiPerformance->SendPatchPMSG(i, c.program);
  }
  for (int i = 0; i < 16; ++i) {
    const midi::ChannelState& c = channelTable[size_t(i)];
    if (c.inUse != -1 && c.volumeChanged)
      midiPerformance->SendMIDIPMSG(i, 0xB0, 7, 127 - sliders[size_t(i)]);
  }
}

double MidiPlayer::seconds(int64_t musicTime) const {
  const int division = songSegment.division();
  if (division <= 0 || musicTime <= 0) return 0;
  return tempoMap_.ticksToMs(uint64_t(audiolib::musicToTicks(musicTime, division))) / 1000;
}

double MidiPlayer::lengthSeconds() const {
  return seconds(songSegment.GetLength());
}

}  // namespace player
