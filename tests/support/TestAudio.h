// Helpers of the tests: signals built in code, WAV files in and out, temporary folders and
// the independent command-line tools (sox, ffmpeg, ffprobe) run as programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testaudio {

struct Audio {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;  // interleaved
  int64_t frames() const { return channels ? int64_t(samples.size()) / channels : 0; }
  float at(int64_t frame, int ch) const { return samples[size_t(frame * channels + ch)]; }
};

// Builds `frames` frames where sample (frame, channel) = fn(frame, channel).
Audio makeAudio(int rate, int channels, int64_t frames,
                const std::function<float(int64_t, int)>& fn);
// A sine of `hz` at `amp`, starting at phase 0, at `frame` of a `rate` signal.
float sine(double hz, double amp, int64_t frame, int rate);

enum class Format { S16, F32 };
void writeWav(const std::filesystem::path& path, const Audio& audio, Format format = Format::S16);
Audio readAudio(const std::filesystem::path& path);  // any format libsndfile reads
// A 16-bit PCM WAV written byte by byte, so its header can claim what no writer would: any
// rate and channel count (the byte rate and block align follow from them, wrapping as 32 and
// 16 bits do), `dataBytes` of zero samples.
std::vector<uint8_t> craftedWav(uint32_t rate, uint16_t channels, uint32_t dataBytes);
// A FLAC file of its stream info block alone, claiming `frames` (up to 2^36 - 1) frames of
// 16-bit audio at `rate` with `channels` (1 to 8), and no audio frames at all.
std::vector<uint8_t> craftedFlacHeader(uint32_t rate, int channels, uint64_t frames);

// Runs a shell command; returns its exit status, its standard output in *out when given.
int run(const std::string& command, std::string* out = nullptr);
// `p` in single quotes, for a shell command.
std::string q(const std::filesystem::path& p);
// A command's standard output without its last line break; fails the test when it fails.
std::string output(const std::string& command);
// What soxi says of `file` for each letter of `flags` ("Drc": seconds, rate, channels), the
// answers separated by spaces; fails the test when sox can't read the file.
std::string soxi(const std::filesystem::path& file, const std::string& flags);
// A whole file as bytes, and a file written from them.
std::string slurp(const std::filesystem::path& p);
void spit(const std::filesystem::path& p, const std::string& bytes);
// Polls `done` every few milliseconds until it holds or `seconds` pass; true when it held.
bool waitFor(const std::function<bool()>& done, double seconds);
// The fields ffprobe shows of `file` for `entries` (its -show_entries, "stream=bit_rate"), by
// ffprobe's names, tags without their "TAG:"; `select` narrows the streams ("a:0").
std::map<std::string, std::string> probe(const std::filesystem::path& file,
                                         const std::string& entries,
                                         const std::string& select = "");
// Encodes a WAV file as MP3 (CBR 192k, LAME header) with ffmpeg; fails the test when it can't.
void encodeMp3(const std::filesystem::path& wav, const std::filesystem::path& mp3);
// Decoded frame count of a file by ffmpeg (which trims the encoder delay and padding).
int64_t ffmpegFrames(const std::filesystem::path& file);

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Root mean square of one channel over [from, from + count).
double rms(const Audio& a, int channel, int64_t from, int64_t count);
// Amplitude of the `hz` component of one channel (single-bin DFT over [from, from + count)).
double toneAmplitude(const Audio& a, int channel, double hz, int64_t from, int64_t count);

}  // namespace testaudio
