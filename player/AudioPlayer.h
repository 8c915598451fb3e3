// The audio player's procedures: the song's two streams, the effect chain around them and the
// vocal remover's switch. The window's handlers, the offline renderer and the tests call
// these; none of them holds player logic of its own.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "PlayerControls.h"
#include "bass.h"

namespace player {

// Band centres in Hz of the main equaliser (vseq) and of the "Peaking Equalizer" (Veq1).
constexpr std::array<float, 8> kMainBands = {40, 100, 400, 1500, 4000, 8000, 12000, 16000};
constexpr std::array<float, 8> kPeakingBands = {40, 100, 200, 1500, 3000, 4000, 5000, 8000};

// The library error box: the message, a blank line, then both libraries' last error codes.
std::string errorText(const std::string& message);
void Error_(MessageSink& messages, const std::string& message);

// The guide voice's share, read by the remover on the mixing thread. It lives as long as the
// program: a stream may still be mixed with the remover after its player has gone.
std::atomic<float>& guideVoice();

class AudioPlayer {
 public:
  AudioPlayer(PlayerControls& controls, MessageSink& messages)
      : controls_(controls), messages_(messages) {
    guideVoice().store(0.0f, std::memory_order_relaxed);
  }

  // Song streams and the remover's DSP; the handles keep their values after a free.
  HSTREAM mainStream = 0;
  HSTREAM boostStream = 0;
  // The bus that plays the two streams as one song: key, tempo and loudness gain. Made with the
  // first song and kept; a freed stream leaves it.
  HBUS songBus = 0;
  HDSP removerDsp = 0;
  DWORD streamFlags = BASS_SAMPLE_FLOAT;
  BASS_CHANNELINFO channelInfo{};

  // Opens `fileName` as the song's two streams (a module as the fall-back), starts both,
  // attaches "BassBoost" and, with the remover's box checked, switches the remover on.
  // False, after the library error box, when the file is neither a stream nor a module.
  bool playSong(const std::string& fileName);
  // Runs on the load failure, before the library error box.
  std::function<void()> onLoadFailed;
  // Detaches the four effects and frees both streams (each handle as stream and as module).
  void freeStreams();
  // The same before the song restarts as backing track of a recording.
  void freeForRestart();

  // The remover. Its method: the side signal ((R - L) / 2 on both channels, exact, no delay) or
  // centre extraction (keeps the band in stereo; it delays the song by its window, and the bass
  // path is delayed with it).
  enum class RemoverMethod { Side, Centre };
  void Chkrem_Click();
  // Takes effect at once when the remover is on.
  void setRemoverMethod(RemoverMethod method);
  RemoverMethod removerMethod() const { return method_; }
  void default_();  // switches the remover off (the window's procedure "default")

  // The effect chain.
  void equalizzatore();
  void equal1();
  void Chkcmp_Click();
  void Chklow_Click();
  void chkEqualizer_Click();
  void vcompr_Change(int index);
  void Slider3_Change(int index);
  void vseq_Change(int index);
  void Veq1_Change(int index);
  void SliderBalance_Change();

  // Key and tempo of the song, kept from song to song until `resetKeyTempo` (a new song is
  // chosen); a song restarted under a take keeps them. Values outside the ranges are clamped.
  static constexpr int kMinKey = -6, kMaxKey = 6;
  static constexpr int kMinTempo = 50, kMaxTempo = 150;
  void setSongKey(int semitones);
  void setSongTempo(int percent);
  void resetKeyTempo();
  int songKey() const { return key_; }
  int songTempo() const { return tempo_; }
  // The guide voice: 0..100 % of the song as it was blended back into what the remover leaves
  // (nothing while the remover is off).
  void setVoice(int percent);
  int voice() const { return voicePercent_; }
  // The song's loudness gain in dB, on top of the sliders; `ramp` false before it is heard.
  void setSongGain(float dB, bool ramp);
  float songGain() const { return gainDb_; }

 private:
  void setUpEqualiser(HSTREAM stream, const std::array<float, 8>& centres, Ctl bands);
  void applyBand(HSTREAM stream, int band, int position);

  void applyKeyTempo();
  void attachRemover();
  void detachRemover();

  PlayerControls& controls_;
  MessageSink& messages_;
  int key_ = 0;
  int tempo_ = 100;
  int voicePercent_ = 0;
  float gainDb_ = 0;
  RemoverMethod method_ = RemoverMethod::Side;
};

}  // namespace player
