#include "TestAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testaudio {

Audio makeAudio(int rate, int channels, int64_t frames,
                const std::function<float(int64_t, int)>& fn) {
  Audio a;
  a.rate = rate;
  a.channels = channels;
  a.samples.resize(size_t(frames * channels));
  for (int64_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) a.samples[size_t(f * channels + c)] = fn(f, c);
  return a;
}

float sine(double hz, double amp, int64_t frame, int rate) {
  return float(amp * std::sin(2.0 * std::numbers::pi * hz * double(frame) / rate));
}

void writeWav(const std::filesystem::path& path, const Audio& audio, Format format) {
  SF_INFO info{};
  info.samplerate = audio.rate;
  info.channels = audio.channels;
  info.format = SF_FORMAT_WAV | (format == Format::S16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error("cannot write " + path.string());
  sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_writef_float(f, audio.samples.data(), audio.frames());
  sf_close(f);
}

namespace {
void putLe(std::vector<uint8_t>& b, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putBe(std::vector<uint8_t>& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void putText(std::vector<uint8_t>& b, const char* text) {
  while (*text) b.push_back(uint8_t(*text++));
}
}  // namespace

std::vector<uint8_t> craftedWav(uint32_t rate, uint16_t channels, uint32_t dataBytes) {
  std::vector<uint8_t> b;
  putText(b, "RIFF");
  putLe(b, 36 + uint64_t(dataBytes), 4);
  putText(b, "WAVEfmt ");
  putLe(b, 16, 4);
  putLe(b, 1, 2);  // PCM
  putLe(b, channels, 2);
  putLe(b, rate, 4);
  putLe(b, uint32_t(rate * channels * 2u), 4);
  putLe(b, uint16_t(channels * 2u), 2);
  putLe(b, 16, 2);
  putText(b, "data");
  putLe(b, dataBytes, 4);
  b.resize(b.size() + dataBytes);
  return b;
}

std::vector<uint8_t> craftedFlacHeader(uint32_t rate, int channels, uint64_t frames) {
  std::vector<uint8_t> b;
  putText(b, "fLaC");
  b.push_back(0x80);  // the last metadata block, STREAMINFO
  putBe(b, 34, 3);
  putBe(b, 4096, 2);  // smallest and largest block
  putBe(b, 4096, 2);
  putBe(b, 0, 3);  // frame sizes unknown
  putBe(b, 0, 3);
  // 20 bits of rate, 3 of channels - 1, 5 of bits per sample - 1, 36 of total samples.
  putBe(b,
        uint64_t(rate & 0xFFFFF) << 44 | uint64_t(channels - 1) << 41 | uint64_t(15) << 36 |
            (frames & 0xFFFFFFFFFull),
        8);
  b.resize(b.size() + 16);  // MD5 unknown
  return b;
}

Audio readAudio(const std::filesystem::path& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) throw std::runtime_error("cannot read " + path.string());
  Audio a;
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.samples.resize(size_t(info.frames * info.channels));
  sf_readf_float(f, a.samples.data(), info.frames);
  sf_close(f);
  return a;
}

int run(const std::string& command, std::string* out) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string q(const std::filesystem::path& p) {
  return "'" + p.string() + "'";
}

std::string output(const std::string& command) {
  std::string out;
  EXPECT_EQ(run(command, &out), 0) << command;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string soxi(const std::filesystem::path& file, const std::string& flags) {
  std::string answers;
  for (char flag : flags)
    answers += (answers.empty() ? "" : " ") + output(std::string("soxi -") + flag + " " + q(file));
  return answers;
}

std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void spit(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

bool waitFor(const std::function<bool()>& done, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::map<std::string, std::string> probe(const std::filesystem::path& file,
                                         const std::string& entries, const std::string& select) {
  std::istringstream lines(output("ffprobe -v error " +
                                  (select.empty() ? "" : "-select_streams " + select + " ") +
                                  "-of default=nw=1 -show_entries " + entries + " " + q(file)));
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("TAG:")) line = line.substr(4);
    if (const auto eq = line.find('='); eq != std::string::npos)
      fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

void encodeMp3(const std::filesystem::path& wav, const std::filesystem::path& mp3) {
  const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + wav.string() +
                          "' -c:a libmp3lame -b:a 192k '" + mp3.string() + "'";
  ASSERT_EQ(run(cmd), 0) << cmd;
}

int64_t ffmpegFrames(const std::filesystem::path& file) {
  std::string out;
  const std::string cmd =
      "ffmpeg -nostdin -v error -i '" + file.string() + "' -f s16le -ac 1 - | wc -c";
  if (run(cmd, &out) != 0) return -1;
  return std::stoll(out) / 2;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "orivelR-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

double rms(const Audio& a, int channel, int64_t from, int64_t count) {
  double sum = 0;
  for (int64_t f = from; f < from + count; ++f) sum += double(a.at(f, channel)) * a.at(f, channel);
  return count > 0 ? std::sqrt(sum / double(count)) : 0.0;
}

double toneAmplitude(const Audio& a, int channel, double hz, int64_t from, int64_t count) {
  double re = 0, im = 0;
  for (int64_t f = 0; f < count; ++f) {
    const double w = 2.0 * std::numbers::pi * hz * double(from + f) / a.rate;
    re += a.at(from + f, channel) * std::cos(w);
    im += a.at(from + f, channel) * std::sin(w);
  }
  return 2.0 * std::sqrt(re * re + im * im) / double(count);
}

}  // namespace testaudio
