#include "CliRecord.h"

#include <chrono>
#include <iostream>
#include <thread>

#include "AudioPlayer.h"
#include "Engine.h"
#include "Interrupt.h"
#include "MidiPlayer.h"
#include "MidiRender.h"
#include "WavePlayer.h"
#include "bass.h"

namespace cli {

const char* const kRecordUsage =
    "usage: orivelR-cli record OUT.wav --seconds N [recording options]\n"
    "       orivelR-cli karaoke SONG OUT.wav [recording options] [render options]\n"
    "  --source mic|wave       the microphone (default) or what the system plays\n"
    "  --rate 11025|22050|44100  --channels 1|2  --bits 8|16   the take's format\n"
    "                          (default 44100 Hz, 2 channels, 16 bits)\n";

namespace {

constexpr int kRate = 44100;

struct TakeOptions {
  std::string source = audiolib::kDefaultSource;
  int rate = 44100, channels = 2, bits = 16;
};

// Takes the recording options out of `args`; false with *error on a bad one.
bool takeOptions(std::vector<std::string>& args, TakeOptions* t, std::string* error) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool ours = a == "--source" || a == "--rate" || a == "--channels" || a == "--bits";
    if (!ours) {
      rest.push_back(a);
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = a + " needs a value";
      return false;
    }
    const std::string v = args[++i];
    int n = 0;
    if (a == "--source") {
      if (v == "mic")
        t->source = audiolib::kDefaultSource;
      else if (v == "wave")
        t->source = audiolib::kDefaultMonitor;
      else {
        *error = "--source is mic or wave";
        return false;
      }
    } else if (a == "--rate" && parseInt(v, 11025, 44100, &n) &&
               (n == 11025 || n == 22050 || n == 44100)) {
      t->rate = n;
    } else if (a == "--channels" && parseInt(v, 1, 2, &n)) {
      t->channels = n;
    } else if (a == "--bits" && parseInt(v, 8, 16, &n) && (n == 8 || n == 16)) {
      t->bits = n;
    } else {
      *error = "bad value for " + a + ": " + v;
      return false;
    }
  }
  args = rest;
  return true;
}

class StderrMessages final : public player::MessageSink {
 public:
  int show(int, const std::string& title, const std::string& text) override {
    std::cerr << title << ": " << text << "\n";
    return 1;
  }
};

// Records until `done` says so (checked every 10 ms), then saves the take to `out`.
int recordTake(const TakeOptions& t, const std::string& out, std::function<bool()> done,
               std::function<bool(int64_t*)> songStart) {
  auto& hooks = recorder::wavePlayerHooks();
  hooks = {};
  hooks.doEvents = [done] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done() || interrupted()) recorder::stopRequested = true;
  };
  hooks.message = [](const std::string& text) { std::cerr << "orivelR-cli: " << text << "\n"; };
  hooks.recordSource = [t] { return t.source; };
  hooks.songStartNs = std::move(songStart);
  hooks.takeFile = out;  // the take reaches the disk as it records
  recorder::stopRequested = false;
  recorder::recordFinished = false;
  try {
    recorder::WavePlayer wp;
    wp.setChannels(t.channels);
    wp.setSamplerate(t.rate);
    wp.setBitsPerSample(t.bits);
    wp.Record();
    wp.StopRecording();
    if (interrupted()) return kInterruptedStatus;
    wp.SaveAs(out);
    if (wp.lostFrames() > 0)
      std::cerr << "orivelR-cli: " << wp.lostFrames() << " frames of the take were lost\n";
    std::cerr << "orivelR-cli: recorded " << wp.length() / 1000.0 << " s to " << out << "\n";
  } catch (const recorder::WaveError& e) {
    std::cerr << "orivelR-cli: " << e.source << ": " << e.description << "\n";
    return 3;
  }
  return 0;
}

}  // namespace

void applyUserMoves(const RenderOptions& o, player::ControlPanel& panel) {
  using player::Ctl;
  if (o.vseq)
    for (int i = 0; i < 8; ++i) panel.setValue(Ctl::vseq, (*o.vseq)[size_t(i)], i);
  if (o.veq1)
    for (int i = 0; i < 8; ++i) panel.setValue(Ctl::Veq1, (*o.veq1)[size_t(i)], i);
  if (o.slider3) panel.setValue(Ctl::Slider3, *o.slider3);
  if (o.vcompr) panel.setValue(Ctl::vcompr, *o.vcompr);
  if (o.balance) panel.setValue(Ctl::SliderBalance, *o.balance);
  if (o.chkcmp) panel.click(Ctl::Chkcmp, *o.chkcmp == 1);
  if (o.chklow) panel.click(Ctl::Chklow, *o.chklow == 1);
  if (o.chkequalizer) panel.click(Ctl::chkEqualizer, *o.chkequalizer == 1);
}

void applySongMoves(const RenderOptions& o, player::AudioPlayer& p) {
  p.setSongKey(o.key);
  p.setSongTempo(o.tempo);
  p.setVoice(o.voice);
  p.setRemoverMethod(o.centreRemover ? player::AudioPlayer::RemoverMethod::Centre
                                     : player::AudioPlayer::RemoverMethod::Side);
}

int recordCommand(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  TakeOptions t;
  std::string error;
  if (!takeOptions(args, &t, &error)) {
    std::cerr << "orivelR-cli record: " << error << "\n" << kRecordUsage;
    return 1;
  }
  double seconds = -1;  // none given
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--seconds" && i + 1 < args.size())
      seconds = parseSeconds(args[++i]).value_or(-1);
    else if (out.empty() && args[i].rfind("--", 0) != 0)
      out = args[i];
    else
      seconds = -1, out.clear(), i = args.size();
  }
  if (out.empty() || seconds < 0) {
    std::cerr << "orivelR-cli record: give OUT.wav and --seconds N\n" << kRecordUsage;
    return 1;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  return recordTake(t, out, [until] { return std::chrono::steady_clock::now() >= until; }, {});
}

int karaokeCommand(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  TakeOptions t;
  std::string error;
  if (!takeOptions(args, &t, &error)) {
    std::cerr << "orivelR-cli karaoke: " << error << "\n" << kRecordUsage;
    return 1;
  }
  auto o = parseRenderOptions(args, &error);
  if (!o || o->play) {
    std::cerr << "orivelR-cli karaoke: " << (o ? "--play is not a karaoke option" : error) << "\n"
              << kRecordUsage;
    return 1;
  }
  if (!readableFile("karaoke", o->song)) return 2;
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  if (!BASS_Init(BASS_DEVICE_DEFAULT, kRate, 0, nullptr, nullptr)) {
    std::cerr << "orivelR-cli: Couldn't Initialize Digital Output\n";
    return 4;
  }
  const auto started = std::chrono::steady_clock::now();
  auto pastLimit = [&] {
    return o->seconds &&
           std::chrono::steady_clock::now() - started >= std::chrono::duration<double>(*o->seconds);
  };
  int status = 0;
  if (isMidiFile(o->song)) {
    player::MidiPlayer midi;
    if (!midi.chooseSong(o->song) || !midi.Initialize()) {
      std::cerr << "orivelR-cli: " << o->song << " is not a MIDI song that can be played\n";
      status = 2;
    } else {
      midi.OpenMusic(50);
      midi.Play({});
      status = recordTake(
          t, o->out,
          [&] {
            return pastLimit() ||
                   (!midi.songState.IsPlaying() && !midi.midiPerformance->IsSounding());
          },
          [&](int64_t* ns) { return midi.midiPerformance->songStartHeardNs(ns); });
      midi.midiPerformance->CloseDown();
    }
  } else {
    player::ControlPanel panel;
    StderrMessages messages;
    player::AudioPlayer p(panel, messages);
    panel.setPlayer(&p);
    p.streamFlags = BASS_SAMPLE_FLOAT;
    if (o->remover) panel.setValue(player::Ctl::Chkrem, 1);
    applySongMoves(*o, p);
    if (!p.playSong(o->song)) {
      status = 2;
    } else {
      applyUserMoves(*o, panel);
      const HSTREAM song = p.mainStream;
      status = recordTake(
          t, o->out,
          [&] { return pastLimit() || BASS_ChannelIsActive(song) == BASS_ACTIVE_STOPPED; },
          [song](int64_t* ns) { return audiolib::streamFrameHeardNs(song, 0, ns); });
      p.freeStreams();
    }
  }
  BASS_Free();
  return status;
}

}  // namespace cli
