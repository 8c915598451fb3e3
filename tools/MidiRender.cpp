#include "MidiRender.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>

#include "Decoder.h"
#include "Interrupt.h"
#include "MidiPlayer.h"
#include "RenderOptions.h"
#include "SongLoudness.h"
#include "WavOut.h"
#include "bass.h"

namespace cli {

const char* const kMidiRenderUsage =
    "usage: orivelR-cli render SONG.kar|SONG.mid OUT.wav [options]\n"
    "  --tempo V               tempo slider 0..127 (64 = the song's tempo, 127 = twice)\n"
    "  --transpose K           key in semitones, -10..10 (the drums keep theirs)\n"
    "  --level V               MIDI level slider 0..100 (default 50)\n"
    "  --mute CH               mute channel CH (1..16); may be repeated\n"
    "  --volume CH=V           channel CH's volume, controller 7, 0..127\n"
    "  --program CH=P          channel CH's instrument, General MIDI program 0..127\n"
    "  --bank FILE.dls         a DLS (or SoundFont) bank for the song's instruments\n"
    "  --seconds N             stop after N seconds\n"
    "  --format f32|s16        samples of OUT.wav (default s16)\n"
    "  --loudness on|off       \"Same loudness for every song\" (on by default)\n";

namespace {

constexpr int kRate = 44100;

bool pair(const std::string& s, int hi, std::pair<int, int>* out) {
  const size_t eq = s.find('=');
  return eq != std::string::npos && parseInt(s.substr(0, eq), 1, 16, &out->first) &&
         parseInt(s.substr(eq + 1), 0, hi, &out->second);
}

}  // namespace

bool isMidiFile(const std::string& path) {
  // Only a regular file is looked into: a pipe would block the look for ever.
  if (!audiolib::checkRegularFile(path)) return false;
  std::ifstream in(path, std::ios::binary);
  char head[12] = {};
  in.read(head, sizeof head);
  const std::string h(head, size_t(in.gcount()));
  return h.starts_with("MThd") ||
         (h.starts_with("RIFF") && h.size() == 12 && h.substr(8) == "RMID");
}

std::optional<MidiRenderOptions> parseMidiRenderOptions(const std::vector<std::string>& args,
                                                        std::string* error) {
  MidiRenderOptions o;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    auto bad = [&](const std::string& v, const char* what) {
      *error = a + " takes " + what + ", not \"" + v + "\"";
      return std::nullopt;
    };
    if (a == "--tempo" || a == "--transpose" || a == "--level" || a == "--mute") {
      auto v = value();
      if (!v) return std::nullopt;
      int n = 0;
      if (a == "--tempo" && !parseInt(*v, 0, 127, &o.tempo)) return bad(*v, "0..127");
      if (a == "--transpose" && !parseInt(*v, -10, 10, &o.transpose)) return bad(*v, "-10..10");
      if (a == "--level" && !parseInt(*v, 0, 100, &o.level)) return bad(*v, "0..100");
      if (a == "--mute") {
        if (!parseInt(*v, 1, 16, &n)) return bad(*v, "a channel 1..16");
        o.mute.push_back(n);
      }
    } else if (a == "--volume" || a == "--program") {
      auto v = value();
      if (!v) return std::nullopt;
      std::pair<int, int> p;
      if (!pair(*v, 127, &p)) return bad(*v, "CH=V with CH 1..16 and V 0..127");
      (a == "--volume" ? o.volume : o.program).push_back(p);
    } else if (a == "--bank") {
      auto v = value();
      if (!v) return std::nullopt;
      o.bank = *v;
    } else if (a == "--loudness") {
      const auto v = value();
      if (!v) return std::nullopt;
      if (*v != "on" && *v != "off") return bad(*v, "on or off");
      o.loudness = *v == "on";
    } else if (a == "--seconds") {
      auto v = value();
      if (!v) return std::nullopt;
      o.seconds = parseSeconds(*v);
      if (!o.seconds) return bad(*v, "a positive number");
    } else if (a == "--format") {
      auto v = value();
      if (!v) return std::nullopt;
      if (*v != "f32" && *v != "s16") return bad(*v, "f32 or s16");
      o.floatOutput = *v == "f32";
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return std::nullopt;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) {
    *error = positional.size() < 2 ? "give a song and an output file" : "too many arguments";
    return std::nullopt;
  }
  o.song = positional[0];
  o.out = positional[1];
  return o;
}

int renderMidi(const MidiRenderOptions& o) {
  if (!readableFile("render", o.song) || (!o.bank.empty() && !readableFile("render", o.bank)))
    return 2;
  if (!BASS_Init(BASS_DEVICE_NOSOUND, kRate, 0, nullptr, nullptr)) {
    std::cerr << "orivelR-cli: the engine would not start\n";
    return 4;
  }
  int status = 0;
  {
    player::MidiPlayer midi;
    if (!o.bank.empty() && !midi.loadSoundBank(o.bank)) {
      std::cerr << "orivelR-cli: " << o.bank << " is not a sound bank\n";
      status = 2;
    } else if (!midi.chooseSong(o.song)) {
      std::cerr << "orivelR-cli: " << o.song << " is not a MIDI song that can be played\n";
      status = 2;
    } else if (!midi.Initialize()) {
      std::cerr << "orivelR-cli: no General MIDI sound font is installed\n";
      status = 4;
    }
    WavOut out;
    std::string error;
    if (status == 0 && !out.open(o.out, kRate, o.floatOutput, &error)) {
      std::cerr << "orivelR-cli: " << error << "\n";
      status = 3;
    }
    if (status == 0) {
      midi.OpenMusic(o.level);
      if (o.loudness)
        midi.midiPerformance->SetSongGain(
            player::SongLoudness::measureGainDb(o.song, player::SongLoudness::userCacheDir(), {}),
            false);
      midi.setTempo(o.tempo);
      midi.Play({});
      if (o.transpose) midi.transpose(o.transpose);
      for (auto [ch, p] : o.program) midi.channelProgram(ch - 1, p);
      for (auto [ch, v] : o.volume) midi.channelVolume(ch - 1, v);
      for (int ch : o.mute) midi.channelVolume(ch - 1, 0);
      const int64_t limit = o.seconds ? int64_t(std::llround(*o.seconds * kRate)) : -1;
      std::vector<float> block(2 * 1024);
      int64_t written = 0;
      bool ok = true;
      // The song, then its last notes ringing out (at most 5 s of them).
      int64_t tail = 0;
      while (ok && (limit < 0 || written < limit) && !interrupted()) {
        const bool playing = midi.songState.IsPlaying();
        if (!playing && (!midi.midiPerformance->IsSounding() || tail > 5 * kRate)) break;
        const int64_t n = limit < 0 ? 1024 : std::min<int64_t>(1024, limit - written);
        BASS_MixGetData(block.data(), DWORD(n * 8));
        ok = out.write(block.data(), long(n));
        written += n;
        if (!playing) tail += n;
      }
      midi.midiPerformance->CloseDown();
      if (interrupted()) {
        status = kInterruptedStatus;  // the partial file goes with `out`
      } else if (!ok || !out.commit(&error)) {
        std::cerr << "orivelR-cli: " << (error.empty() ? "cannot write " + o.out : error) << "\n";
        status = 3;
      }
    }
  }
  BASS_Free();
  return status;
}

}  // namespace cli
