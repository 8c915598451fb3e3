// Writes the fuzzers' seed corpus: a few small files of each kind, made by the tests' own
// writers (and ffmpeg for the MP3s, as the tests make theirs). Usage: fuzz_make_corpus DIR,
// which fills DIR/scanner/, DIR/wav/ and so on, one folder a target.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ModuleWriter.h"
#include "SmfWriter.h"
#include "TestAudio.h"

namespace fs = std::filesystem;
using testmidi::Bytes;
using testmidi::TrackWriter;

namespace {

void put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  testmidi::writeFile(dir / name, bytes);
}

Bytes readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::pair<std::string, Bytes>> songs() {
  // A karaoke file: a Words track of lyric texts with line breaks and "@" headers, and a
  // music track with running status, a program, controllers and a tempo change.
  TrackWriter words, music(true), texts, sysex;
  words.text(0, 3, "Words").text(0, 1, "@KMIDI KARAOKE FILE").text(0, 1, "@TTitle");
  words.text(96, 1, "\\Hel").text(48, 1, "lo").text(48, 1, "/world").text(96, 1, " /").end();
  music.tempo(0, 500000).program(0, 0, 20).controller(0, 0, 7, 100).controller(0, 0, 10, 40);
  music.noteOn(0, 0, 60, 90).noteOn(96, 0, 60, 0).tempo(0, 400000).noteOn(0, 9, 36, 100);
  music.channel(48, 0xE0, {0, 64}).noteOn(48, 9, 36, 0).end(10);
  for (int i = 0; i < 50; ++i) texts.text(24, 1, i % 8 == 0 ? "/la" : "la");
  texts.end();
  sysex.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).text(0, 5, "perch\xE9 \x80").end();
  // One delta of 0x0FFFFFFF ticks: 77 hours of song in 44 bytes.
  TrackWriter endless;
  endless.noteOn(0, 0, 60, 90).noteOn(0x0FFFFFFF, 0, 60, 0).end();
  Bytes smpte = testmidi::buildSmf(0, 96, {music.bytes()});
  smpte[12] = 0xE7, smpte[13] = 0x28;
  return {{"karaoke.kar", testmidi::buildSmf(1, 96, {music.bytes(), words.bytes()})},
          {"texttrack.mid", testmidi::buildSmf(1, 480, {music.bytes(), texts.bytes()})},
          {"sysex-lyrics.mid", testmidi::buildSmf(0, 96, {sysex.bytes()})},
          {"long-delta.mid", testmidi::buildSmf(0, 480, {endless.bytes()})},
          {"smpte.mid", smpte}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus DIR\n");
    return 2;
  }
  const fs::path out = argv[1];
  for (const char* target : {"scanner", "smftrack", "lyrics"})
    for (const auto& [name, bytes] : songs()) put(out / target, name, bytes);

  const testaudio::TempDir tmp;
  auto tone = [](int rate, int channels, int64_t frames) {
    return testaudio::makeAudio(rate, channels, frames, [=](int64_t f, int ch) {
      return testaudio::sine(440.0 * (ch + 1), 0.5, f, rate);
    });
  };
  testaudio::writeWav(tmp / "s16.wav", tone(8000, 1, 200));
  testaudio::writeWav(tmp / "f32.wav", tone(44100, 2, 100), testaudio::Format::F32);
  const fs::path wavs = out / "wav";
  put(wavs, "s16-mono.wav", readAll(tmp / "s16.wav"));
  put(wavs, "f32-stereo.wav", readAll(tmp / "f32.wav"));
  put(wavs, "lowest-rate.wav", testaudio::craftedWav(1000, 1, 64));
  put(wavs, "most-channels.wav", testaudio::craftedWav(48000, 8, 256));
  put(wavs, "flac-header.flac", testaudio::craftedFlacHeader(44100, 2, 4410));

  const fs::path mp3s = out / "mp3";
  testaudio::writeWav(tmp / "short.wav", tone(44100, 2, 2000));
  testaudio::encodeMp3(tmp / "short.wav", tmp / "short.mp3");
  Bytes mp3 = readAll(tmp / "short.mp3");
  put(mp3s, "short.mp3", mp3);
  testaudio::writeWav(tmp / "mono.wav", tone(22050, 1, 1500));
  testaudio::encodeMp3(tmp / "mono.wav", tmp / "mono.mp3");
  put(mp3s, "mono-22k.mp3", readAll(tmp / "mono.mp3"));
  // Behind an ID3v2 tag with a little padding, and cut inside its last frame.
  Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
  tagged.resize(30, 0);
  tagged.insert(tagged.end(), mp3.begin(), mp3.begin() + std::ptrdiff_t(mp3.size() * 2 / 3));
  put(mp3s, "tagged-cut.mp3", tagged);

  testaudio::ModSong song;
  song.sample = testaudio::sineCycle(32, 100);
  song.patterns = {{{0, 0, 428, 1, 0xF, 3}, {8, 1, 214, 1}, {16, 0, 0, 0, 0xB, 0}}};
  song.orders = {0};
  put(out / "module", "song.mod", testaudio::buildModule(song));
  song.patterns.push_back({{0, 2, 320, 1, 0xC, 32}, {4, 3, 285, 1, 0xA, 0x10}});
  song.patterns[0].pop_back();
  song.orders = {0, 1, 0};
  put(out / "module", "two-patterns.mod", testaudio::buildModule(song));
  return 0;
}
