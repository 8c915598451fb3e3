// The two vocal removers on WAV files, for bench/run-centre-bench.sh:
//   centre_tool centre IN.wav OUT.wav   centre extraction over the whole file (the offline form)
//   centre_tool side IN.wav OUT.wav     the side signal, (R-L)/2 on both channels
//   centre_tool quality MIX ACC LEAD BASS LEFT RIGHT HALF
//     both methods on the mix and on each stem alone; prints one table row per method: the
//     accompaniment's scale-invariant SDR, the lead's level drop, the output channels'
//     correlation, the level change of the hard-left part, the half-left part and the bass, each
//     passed alone and as found in the mix's output (the stems' least-squares gains in it). The
//     row "none" is the mix itself, nothing removed.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CentreExtractor.h"

namespace {

struct Wav {
  std::vector<float> frames;  // interleaved stereo
  int rate = 0;
};

bool readWav(const char* path, Wav& wav) {
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> f(sf_open(path, SFM_READ, &info), &sf_close);
  if (!f || info.channels < 1 || info.channels > 2) {
    std::fprintf(stderr, "centre_tool: cannot read %s as mono or stereo\n", path);
    return false;
  }
  std::vector<float> raw(size_t(info.frames * info.channels));
  sf_readf_float(f.get(), raw.data(), info.frames);
  wav.rate = info.samplerate;
  wav.frames.resize(size_t(info.frames * 2));
  for (sf_count_t i = 0; i < info.frames; ++i)
    for (int c = 0; c < 2; ++c)
      wav.frames[size_t(2 * i + c)] = raw[size_t(i * info.channels + (info.channels == 2 ? c : 0))];
  return true;
}

bool writeWav(const char* path, const std::vector<float>& frames, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  std::unique_ptr<SNDFILE, decltype(&sf_close)> f(sf_open(path, SFM_WRITE, &info), &sf_close);
  if (!f) return false;
  sf_command(f.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  return sf_writef_float(f.get(), frames.data(), sf_count_t(frames.size() / 2)) ==
         sf_count_t(frames.size() / 2);
}

std::vector<float> side(const std::vector<float>& in) {
  std::vector<float> out(in.size());
  for (size_t i = 0; i + 1 < in.size(); i += 2) out[i] = out[i + 1] = 0.5f * (in[i + 1] - in[i]);
  return out;
}

std::vector<float> run(const std::string& method, const Wav& in) {
  if (method == "none") return in.frames;
  return method == "side" ? side(in.frames) : audiolib::extractCentreAligned(in.frames, in.rate);
}

double dot(const std::vector<float>& a, const std::vector<float>& b) {
  double s = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) s += double(a[i]) * b[i];
  return s;
}
double db(double powerRatio) {
  return 10.0 * std::log10(std::max(powerRatio, 1e-30));
}

double siSdr(const std::vector<float>& estimate, const std::vector<float>& reference) {
  const double alpha = dot(estimate, reference) / dot(reference, reference);
  double target = 0, error = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    const double t = alpha * reference[i];
    target += t * t;
    error += (estimate[i] - t) * (estimate[i] - t);
  }
  return db(target / error);
}

double channelCorrelation(const std::vector<float>& s) {
  double l = 0, r = 0, lr = 0;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    l += double(s[i]) * s[i];
    r += double(s[i + 1]) * s[i + 1];
    lr += double(s[i]) * s[i + 1];
  }
  return l > 0 && r > 0 ? lr / std::sqrt(l * r) : 0.0;
}

// The gains with which the stems make up `out` best (least squares over all of them at once, so
// two parts that share notes do not lend each other level), in dB.
std::vector<double> stemGainsDb(const std::vector<float>& out,
                                const std::vector<const Wav*>& stems) {
  const size_t n = stems.size();
  std::vector<std::vector<double>> a(n, std::vector<double>(n + 1));
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) a[i][j] = dot(stems[i]->frames, stems[j]->frames);
    a[i][n] = dot(stems[i]->frames, out);
  }
  for (size_t c = 0; c < n; ++c) {  // Gauss-Jordan with partial pivoting
    size_t pivot = c;
    for (size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    std::swap(a[c], a[pivot]);
    for (size_t r = 0; r < n; ++r) {
      if (r == c || a[c][c] == 0) continue;
      const double f = a[r][c] / a[c][c];
      for (size_t k = c; k <= n; ++k) a[r][k] -= f * a[c][k];
    }
  }
  std::vector<double> gains(n);
  for (size_t i = 0; i < n; ++i)
    gains[i] = 20.0 * std::log10(std::max(std::fabs(a[i][n] / a[i][i]), 1e-15));
  return gains;
}

double aloneDb(const std::string& method, const Wav& stem) {
  const std::vector<float> out = run(method, stem);
  return db(dot(out, out) / dot(stem.frames, stem.frames));
}

int quality(char** paths) {
  Wav mix, acc, lead, bass, left, right, half;
  Wav* all[] = {&mix, &acc, &lead, &bass, &left, &right, &half};
  for (int i = 0; i < 7; ++i)
    if (!readWav(paths[i], *all[i])) return 2;
  const std::vector<const Wav*> stems = {&lead, &bass, &left, &right, &half};
  std::printf("%-7s %8s %16s %6s %16s %16s %16s\n", "method", "acc_sdr", "lead_db alone/mix",
              "corr", "left_db alone/mix", "half_db alone/mix", "bass_db alone/mix");
  for (const std::string method : {"none", "side", "centre"}) {
    const std::vector<float> out = run(method, mix);
    const std::vector<double> g = stemGainsDb(out, stems);
    std::printf("%-7s %8.2f %8.2f/%-7.2f %6.3f %8.2f/%-7.2f %8.2f/%-7.2f %8.2f/%-7.2f\n",
                method.c_str(), siSdr(out, acc.frames), aloneDb(method, lead), g[0],
                channelCorrelation(out), aloneDb(method, left), g[2], aloneDb(method, half), g[4],
                aloneDb(method, bass), g[1]);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "quality" && argc == 9) return quality(argv + 2);
  if ((mode == "centre" || mode == "side") && argc == 4) {
    Wav in;
    if (!readWav(argv[2], in)) return 2;
    return writeWav(argv[3], run(mode, in), in.rate) ? 0 : 1;
  }
  std::fprintf(stderr,
               "usage: centre_tool centre|side IN.wav OUT.wav\n"
               "       centre_tool quality MIX ACC LEAD BASS LEFT RIGHT HALF\n");
  return 2;
}
