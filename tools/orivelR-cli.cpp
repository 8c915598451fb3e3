// orivelR-cli: the player without the window. `render` plays a song through the player's
// two streams and effect chain and writes what the speakers would get, or plays it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "AudioPlayer.h"
#include "CliCd.h"
#include "CliEncode.h"
#include "CliKaraoke.h"
#include "CliRecord.h"
#include "CliSinging.h"
#include "ControlPanel.h"
#include "Device.h"
#include "Interrupt.h"
#include "MidiCommands.h"
#include "MidiRender.h"
#include "RenderOptions.h"
#include "SongLoudness.h"
#include "WavOut.h"
#include "bass.h"

namespace {

constexpr int kRate = 44100;

class StderrMessages final : public player::MessageSink {
 public:
  int show(int, const std::string& title, const std::string& text) override {
    std::cerr << title << ": " << text << "\n";
    return 1;
  }
};

// Frames of the song at the output rate, or -1 when unknown.
int64_t songFrames(HSTREAM stream) {
  const QWORD bytes = BASS_StreamGetLength(stream);
  BASS_CHANNELINFO info{};
  if (bytes == QWORD(-1) || !BASS_ChannelGetInfo(stream, &info)) return -1;
  const int bytesPerFrame = int(info.chans) * ((info.flags & BASS_SAMPLE_FLOAT) ? 4 : 2);
  const double frames = double(bytes / QWORD(bytesPerFrame));
  return int64_t(std::llround(frames * kRate / info.freq));
}

bool anyActive(const player::AudioPlayer& p) {
  return BASS_ChannelIsActive(p.mainStream) != 0 ||
         (p.boostStream && BASS_ChannelIsActive(p.boostStream) != 0);
}

int render(const cli::RenderOptions& o) {
  if (!cli::readableFile("render", o.song)) return 2;
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  if (!BASS_Init(o.play ? BASS_DEVICE_DEFAULT : BASS_DEVICE_NOSOUND, kRate, 0, nullptr, nullptr)) {
    StderrMessages m;
    player::Error_(m, "Couldn't Initialize Digital Output");
    return 4;
  }
  player::ControlPanel panel;
  StderrMessages messages;
  player::AudioPlayer p(panel, messages);
  panel.setPlayer(&p);
  if (const HSTREAM h = BASS_StreamCreate(kRate, 2, BASS_SAMPLE_FLOAT, nullptr, nullptr)) {
    BASS_StreamFree(h);
    p.streamFlags = BASS_SAMPLE_FLOAT;
  } else {
    p.streamFlags = 0;
  }
  if (o.remover) panel.setValue(player::Ctl::Chkrem, 1);

  cli::WavOut out;
  std::string error;
  if (!o.play) {
    // The file is opened first so that a bad target fails before any work.
    if (!out.open(o.out, kRate, o.floatOutput, &error)) {
      std::cerr << "orivelR-cli: " << error << "\n";
      BASS_Free();
      return 3;
    }
  }
  cli::applySongMoves(o, p);
  // The window measures a song while it plays and moves to the gain as it learns it; a file
  // is rendered with the gain of the whole song from its first frame.
  if (o.loudness)
    p.setSongGain(
        player::SongLoudness::measureGainDb(o.song, player::SongLoudness::userCacheDir(), {}),
        false);
  if (!p.playSong(o.song)) {
    BASS_Free();
    return 2;
  }
  cli::applyUserMoves(o, panel);

  // At another tempo the song lasts 100 / P of its own length.
  int64_t length = songFrames(p.mainStream);
  if (length >= 0) length = int64_t(std::llround(double(length) * 100.0 / o.tempo));
  const int64_t limit = o.seconds ? int64_t(std::llround(*o.seconds * kRate)) : length;
  if (o.play) {
    const auto start = std::chrono::steady_clock::now();
    while (anyActive(p) && !cli::interrupted()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const double t =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (o.seconds && t >= *o.seconds) break;
    }
    p.freeStreams();
    BASS_Free();
    if (const uint64_t dry = audiolib::outputUnderflows())
      std::cerr << "orivelR-cli: the sound output ran dry " << dry
                << (dry == 1 ? " time" : " times") << ": what was heard has gaps\n";
    return cli::interrupted() ? cli::kInterruptedStatus : 0;
  }

  std::vector<float> block(2 * 1024);
  int64_t written = 0;
  bool ok = true;
  // Effects that delay the song (the centre remover) delay it in the mix: the file starts with
  // the song's first frame all the same, and the silence after the song brings its end out.
  BASS_CHANNELINFO info{};
  int64_t skip = 0;
  if (BASS_ChannelGetInfo(p.mainStream, &info) && info.freq > 0)
    skip = int64_t(std::llround(double(std::max(0, BASS_FX_GetLatency(p.mainStream))) * kRate /
                                info.freq * 100.0 / o.tempo));
  while (skip > 0 && anyActive(p)) {
    const int64_t n = std::min<int64_t>(1024, skip);
    BASS_MixGetData(block.data(), DWORD(n * 2 * sizeof(float)));
    skip -= n;
  }
  while ((limit < 0 || written < limit) && !cli::interrupted()) {
    const int64_t n = limit < 0 ? 1024 : std::min<int64_t>(1024, limit - written);
    const bool wasActive = anyActive(p);
    if (!wasActive) break;
    BASS_MixGetData(block.data(), DWORD(n * 2 * sizeof(float)));
    if (!out.write(block.data(), long(n))) {
      ok = false;
      break;
    }
    written += n;
  }
  p.freeStreams();
  BASS_Free();
  if (cli::interrupted()) return cli::kInterruptedStatus;  // the partial file goes with `out`
  if (!ok || !out.commit(&error)) {
    std::cerr << "orivelR-cli: " << (error.empty() ? "cannot write " + o.out : error) << "\n";
    return 3;
  }
  return 0;
}

void usage() {
  std::cerr << "orivelR-cli: the karaoke player without its window\n"
            << cli::kRenderUsage << cli::kMidiRenderUsage << cli::kRecordUsage << cli::kSingingUsage
            << "usage: orivelR-cli scan SONG.kar      what the song file scanner finds\n"
            << "       orivelR-cli lyrics SONG.kar    the timed lyric table and its lines\n"
            << cli::kKaraokeUsage;
}

}  // namespace

int main(int argc, char** argv) {
  cli::stopOnSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    usage();
    return args.empty() ? 1 : 0;
  }
  if (args[0] == "render" && args.size() > 1 && cli::isMidiFile(args[1])) {
    std::string error;
    auto o = cli::parseMidiRenderOptions({args.begin() + 1, args.end()}, &error);
    if (!o) {
      std::cerr << "orivelR-cli render: " << error << "\n" << cli::kMidiRenderUsage;
      return 1;
    }
    return cli::renderMidi(*o);
  }
  if (args[0] == "render") {
    std::string error;
    auto o = cli::parseRenderOptions({args.begin() + 1, args.end()}, &error);
    if (!o) {
      std::cerr << "orivelR-cli render: " << error << "\n" << cli::kRenderUsage;
      return 1;
    }
    return render(*o);
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "scan") return cli::runScan(rest);
  if (args[0] == "lyrics") return cli::lyricsCommand(rest);
  if (args[0] == "cdg") return cli::cdgCommand(rest);
  if (args[0] == "record") return cli::recordCommand(rest);
  if (args[0] == "karaoke") return cli::karaokeCommand(rest);
  if (args[0] == "encode") return cli::encodeCommand(argc - 1, argv + 1);
  if (args[0] == "cd") return cli::cdCommand(rest);
  if (args[0] == "pitch") return cli::pitchCommand(rest);
  if (args[0] == "score") return cli::scoreCommand(rest);
  std::cerr << "orivelR-cli: unknown command \"" << args[0] << "\"\n";
  usage();
  return 1;
}
