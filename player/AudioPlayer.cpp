#include "AudioPlayer.h"

#include <algorithm>

#include "modDSPtest.h"

namespace player {

namespace {
constexpr DWORD kModuleFlags = BASS_MUSIC_RAMP | BASS_SAMPLE_LOOP;  // 0x204
}  // namespace

std::string errorText(const std::string& message) {
  const int bassCode = BASS_ErrorGetCode();
  const int fxCode = BASS_FX_ErrorGetCode();
  return message + "\n\nBASS Error Code: " + std::to_string(bassCode) +
         "\nBASS_FX Error Code: " + std::to_string(fxCode);
}

void Error_(MessageSink& messages, const std::string& message) {
  messages.show(kMbExclamation, "Error", errorText(message));
}

bool AudioPlayer::playSong(const std::string& fileName) {
  mainStream = BASS_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, streamFlags);
  boostStream = BASS_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, streamFlags);
  if (mainStream == 0)
    mainStream = BASS_MusicLoad(FALSE, fileName.c_str(), 0, 0, streamFlags | kModuleFlags, 0);
  if (mainStream == 0) {
    if (onLoadFailed) onLoadFailed();
    Error_(messages_, "Selected file couldn't be loaded!");
    return false;
  }
  // One bus for both streams: they are shifted and stretched together and share one gain. It
  // stays from song to song (its stretcher is built once); a bus the engine no longer knows (it
  // was restarted) is made again.
  if (!songBus || !BASS_BusAddChannel(songBus, mainStream)) {
    songBus = BASS_BusCreate();
    BASS_BusAddChannel(songBus, mainStream);
  }
  if (boostStream) BASS_BusAddChannel(songBus, boostStream);
  applyKeyTempo();
  BASS_BusSetGain(songBus, gainDb_, FALSE);
  // Started one right after the other, the two streams begin on the same output frame.
  BASS_StreamPlay(mainStream, FALSE, BASS_STREAM_AUTOFREE);
  BASS_StreamPlay(boostStream, FALSE, BASS_STREAM_AUTOFREE);
  controls_.setEnabled(Ctl::Slider3, false);
  BASS_FX_DSP_Set(boostStream, kFxChannelGain, 1);
  Slider3_Change(0);
  Slider3_Change(1);
  if (controls_.value(Ctl::Chkrem) == 1) Chkrem_Click();
  return true;
}

void AudioPlayer::freeStreams() {
  BASS_FX_DSP_Remove(mainStream, kFxPeakingEq);
  BASS_FX_DSP_Remove(boostStream, kFxPeakingEq);
  BASS_FX_DSP_Remove(boostStream, kFxChannelGain);
  BASS_FX_DSP_Remove(mainStream, kFxCompressor);
  BASS_StreamFree(boostStream);
  BASS_MusicFree(boostStream);
  BASS_StreamFree(mainStream);
  BASS_MusicFree(mainStream);
}

void AudioPlayer::freeForRestart() {
  BASS_FX_DSP_Remove(boostStream, kFxChannelGain);
  BASS_FX_DSP_Remove(mainStream, kFxCompressor);
  BASS_FX_DSP_Remove(mainStream, kFxPeakingEq);
  BASS_FX_DSP_Remove(boostStream, kFxPeakingEq);
  BASS_StreamFree(boostStream);
  BASS_StreamFree(mainStream);
}

void AudioPlayer::Chkrem_Click() {
  // With no song open the record stays empty: the sliders move, nothing is attached.
  channelInfo = {};
  BASS_ChannelGetInfo(mainStream, &channelInfo);
  if (channelInfo.chans == 1) {
    messages_.show(kMbCritical, "OrivelRemover", "Only Stereo ");
    return;
  }
  if (controls_.value(Ctl::Chkrem) != 1) {
    default_();
    return;
  }
  attachRemover();
  equalizzatore();
  equal1();
  BASS_FX_DSP_Set(mainStream, kFxCompressor, 1);
  controls_.setValue(Ctl::vcompr, 8);
  vcompr_Change(0);
  controls_.setEnabled(Ctl::Slider3, true);
  // 7.5 rounded half to even: 8.
  controls_.setValue(Ctl::Slider3, 8);
  Slider3_Change(0);
}

void AudioPlayer::default_() {
  controls_.setValue(Ctl::Chkrem, 0);
  controls_.setEnabled(Ctl::Slider3, false);
  controls_.setValue(Ctl::Slider3, 10);
  controls_.setValue(Ctl::vcompr, 10);
  BASS_FX_DSP_Remove(boostStream, kFxPeakingEq);
  detachRemover();
  BASS_FX_DSP_Remove(mainStream, kFxPeakingEq);
  BASS_FX_DSP_Remove(mainStream, kFxCompressor);
}

void AudioPlayer::equalizzatore() {
  setUpEqualiser(mainStream, kMainBands, Ctl::vseq);
}

void AudioPlayer::equal1() {
  setUpEqualiser(boostStream, kPeakingBands, Ctl::Veq1);
}

void AudioPlayer::setUpEqualiser(HSTREAM stream, const std::array<float, 8>& centres, Ctl bands) {
  DWORD rate = 0;
  BASS_ChannelGetAttributes(stream, &rate, nullptr, nullptr);
  for (int i = 0; i < 8; ++i) BASS_FX_DSP_Set(stream, kFxPeakingEq, 0);
  for (int b = 0; b < 8; ++b) {
    const EqBand band{b, rate, 2.5f, 0.0f, centres[size_t(b)], 0.0f};
    BASS_FX_DSP_SetParameters(stream, kFxPeakingEq, &band);
  }
  for (int b = 0; b < 8; ++b) applyBand(stream, b, controls_.value(bands, b));
}

void AudioPlayer::applyBand(HSTREAM stream, int band, int position) {
  // Read the band back so that it keeps its centre, bandwidth and rate.
  EqBand record{};
  record.band = band;
  BASS_FX_DSP_GetParameters(stream, kFxPeakingEq, &record);
  record.gain = float(10 - position);
  BASS_FX_DSP_SetParameters(stream, kFxPeakingEq, &record);
}

void AudioPlayer::Chkcmp_Click() {
  if (controls_.value(Ctl::Chkcmp) == 1) {
    BASS_FX_DSP_Set(mainStream, kFxCompressor, 1);
    vcompr_Change(0);
  } else {
    BASS_FX_DSP_Remove(mainStream, kFxCompressor);
  }
}

void AudioPlayer::Chklow_Click() {
  if (controls_.value(Ctl::Chklow) == 1) {
    BASS_FX_DSP_Set(boostStream, kFxChannelGain, 1);
    Slider3_Change(0);
    Slider3_Change(0);
  } else {
    BASS_FX_DSP_Remove(boostStream, kFxChannelGain);
  }
}

void AudioPlayer::chkEqualizer_Click() {
  if (controls_.value(Ctl::chkEqualizer) == 1)
    equal1();
  else
    BASS_FX_DSP_Remove(boostStream, kFxPeakingEq);
}

void AudioPlayer::vcompr_Change(int) {
  const float gain = float(10 - controls_.value(Ctl::vcompr));
  const FxCompressor record{10.0f, 10.0f, 10.0f, gain, 1000.0f};
  BASS_FX_DSP_SetParameters(mainStream, kFxCompressor, &record);
}

void AudioPlayer::Slider3_Change(int) {
  const float g = float((10 - controls_.value(Ctl::Slider3)) / 10.0);
  const FxChannelGain record{g, g};
  BASS_FX_DSP_SetParameters(boostStream, kFxChannelGain, &record);
}

void AudioPlayer::vseq_Change(int index) {
  applyBand(mainStream, index, controls_.value(Ctl::vseq, index));
}

void AudioPlayer::Veq1_Change(int index) {
  applyBand(boostStream, index, controls_.value(Ctl::Veq1, index));
}

void AudioPlayer::SliderBalance_Change() {
  BASS_ChannelSetAttributes(boostStream, -1, -1, controls_.value(Ctl::SliderBalance));
}

void AudioPlayer::attachRemover() {
  if (method_ == RemoverMethod::Side) {
    removerDsp = BASS_ChannelSetDSP(mainStream, &VocalRemoverProc, &guideVoice(), 0);
    return;
  }
  BASS_FX_DSP_Set(mainStream, kFxCentreRemover, 0);
  const FxCentreRemover centre{guideVoice().load(), 0.5f};
  BASS_FX_DSP_SetParameters(mainStream, kFxCentreRemover, &centre);
  // The bass path waits as long as the remover delays the song, so the two stay in step.
  const FxDelay delay{std::max(0, BASS_FX_GetLatency(mainStream))};
  if (delay.frames > 0 && BASS_FX_DSP_Set(boostStream, kFxDelay, 0))
    BASS_FX_DSP_SetParameters(boostStream, kFxDelay, &delay);
}

void AudioPlayer::detachRemover() {
  BASS_ChannelRemoveDSP(mainStream, removerDsp);
  BASS_FX_DSP_Remove(mainStream, kFxCentreRemover);
  BASS_FX_DSP_Remove(boostStream, kFxDelay);
}

void AudioPlayer::setRemoverMethod(RemoverMethod method) {
  if (method == method_) return;
  const bool on = mainStream && controls_.value(Ctl::Chkrem) == 1 &&
                  BASS_ChannelIsActive(mainStream) != BASS_ACTIVE_STOPPED;
  if (on) detachRemover();
  method_ = method;
  if (on) attachRemover();
}

std::atomic<float>& guideVoice() {
  static std::atomic<float> share{0};
  return share;
}

void AudioPlayer::setSongKey(int semitones) {
  key_ = std::clamp(semitones, kMinKey, kMaxKey);
  applyKeyTempo();
}

void AudioPlayer::setSongTempo(int percent) {
  tempo_ = std::clamp(percent, kMinTempo, kMaxTempo);
  applyKeyTempo();
}

void AudioPlayer::resetKeyTempo() {
  key_ = 0;
  tempo_ = 100;
  applyKeyTempo();
}

void AudioPlayer::applyKeyTempo() {
  if (songBus) BASS_BusSetKeyTempo(songBus, float(key_), float(tempo_) / 100.0f);
}

void AudioPlayer::setVoice(int percent) {
  voicePercent_ = std::clamp(percent, 0, 100);
  guideVoice().store(float(voicePercent_) / 100.0f, std::memory_order_relaxed);
  // The centre remover takes the share as a parameter of its own.
  FxCentreRemover centre{};
  if (BASS_FX_DSP_GetParameters(mainStream, kFxCentreRemover, &centre)) {
    centre.voice = guideVoice().load();
    BASS_FX_DSP_SetParameters(mainStream, kFxCentreRemover, &centre);
  }
}

void AudioPlayer::setSongGain(float dB, bool ramp) {
  gainDb_ = dB;
  if (songBus) BASS_BusSetGain(songBus, dB, ramp ? TRUE : FALSE);
}

}  // namespace player
