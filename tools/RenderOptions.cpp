#include "RenderOptions.h"

#include <charconv>
#include <cmath>
#include <iostream>

#include "Decoder.h"

namespace cli {

const char* const kRenderUsage =
    "usage: orivelR-cli render SONG OUT.wav [options]\n"
    "       orivelR-cli render SONG --play [options]\n"
    "  --remover               check \"Vocal Remover\" (with its accompanying settings)\n"
    "  --remover-method M      side (the side signal, the default) or centre (centre extraction)\n"
    "  --vseq P0,...,P7        main equaliser sliders, 0..19 (10 = 0 dB, 0 = +10 dB)\n"
    "  --veq1 P0,...,P7        \"Peaking Equalizer\" scroll bars, 0..19\n"
    "  --slider3 P             \"BassBooster\" slider, 0..10 (level (10 - P) / 10)\n"
    "  --vcompr P              \"Gain Audio\" slider, 0..10 (gain 10 - P dB)\n"
    "  --balance V             balance of the bass path, -100..100\n"
    "  --chkcmp 0|1            \"Compr\" box\n"
    "  --chklow 0|1            \"BassBoost\" box\n"
    "  --chkequalizer 0|1      \"Peaking Equalizer\" box\n"
    "  --key N                 the song's key moved by N semitones, -6..6\n"
    "  --tempo P               the song's tempo, P percent of its own, 50..150\n"
    "  --voice V               guide voice: V percent of the original beside the remover\n"
    "  --loudness on|off       \"Same loudness for every song\" (on by default)\n"
    "  --seconds N             stop after N seconds (modules loop for ever)\n"
    "  --format f32|s16        samples of OUT.wav (default s16)\n"
    "  --play                  play to the default output device instead of a file\n";

namespace {

bool parseBands(const std::string& s, std::array<int, 8>* out) {
  size_t start = 0;
  for (int i = 0; i < 8; ++i) {
    const size_t comma = s.find(',', start);
    const bool last = i == 7;
    if (last != (comma == std::string::npos)) return false;
    const std::string part = s.substr(start, last ? std::string::npos : comma - start);
    if (!parseInt(part, 0, 19, &(*out)[size_t(i)])) return false;
    start = comma + 1;
  }
  return true;
}

}  // namespace

bool parseInt(const std::string& s, int lo, int hi, int* out) {
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi) return false;
  *out = v;
  return true;
}

std::optional<double> parseSeconds(const std::string& s) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v) || v <= 0) return std::nullopt;
  return v;
}

bool readableFile(const std::string& command, const std::string& path) {
  std::string why;
  if (audiolib::checkRegularFile(path, &why)) return true;
  std::cerr << "orivelR-cli " << command << ": cannot read " << path << ": " << why << "\n";
  return false;
}

std::optional<RenderOptions> parseRenderOptions(const std::vector<std::string>& args,
                                                std::string* error) {
  RenderOptions o;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    std::string v;
    auto intOpt = [&](std::optional<int>* target, int lo, int hi) {
      if (!next(&v)) return false;
      int n = 0;
      if (!parseInt(v, lo, hi, &n)) {
        *error = a + " takes a whole number from " + std::to_string(lo) + " to " +
                 std::to_string(hi) + ", not \"" + v + "\"";
        return false;
      }
      *target = n;
      return true;
    };
    auto bandsOpt = [&](std::optional<std::array<int, 8>>* target) {
      if (!next(&v)) return false;
      std::array<int, 8> bands{};
      if (!parseBands(v, &bands)) {
        *error = a + " takes eight positions 0..19 separated by commas, not \"" + v + "\"";
        return false;
      }
      *target = bands;
      return true;
    };
    if (a == "--remover") {
      o.remover = true;
    } else if (a == "--play") {
      o.play = true;
    } else if (a == "--vseq") {
      if (!bandsOpt(&o.vseq)) return std::nullopt;
    } else if (a == "--veq1") {
      if (!bandsOpt(&o.veq1)) return std::nullopt;
    } else if (a == "--slider3") {
      if (!intOpt(&o.slider3, 0, 10)) return std::nullopt;
    } else if (a == "--vcompr") {
      if (!intOpt(&o.vcompr, 0, 10)) return std::nullopt;
    } else if (a == "--balance") {
      if (!intOpt(&o.balance, -100, 100)) return std::nullopt;
    } else if (a == "--chkcmp") {
      if (!intOpt(&o.chkcmp, 0, 1)) return std::nullopt;
    } else if (a == "--chklow") {
      if (!intOpt(&o.chklow, 0, 1)) return std::nullopt;
    } else if (a == "--chkequalizer") {
      if (!intOpt(&o.chkequalizer, 0, 1)) return std::nullopt;
    } else if (a == "--key" || a == "--tempo" || a == "--voice") {
      std::optional<int> n;
      const bool key = a == "--key", tempo = a == "--tempo";
      if (!intOpt(&n, key ? -6 : tempo ? 50 : 0, key ? 6 : tempo ? 150 : 100)) return std::nullopt;
      (key ? o.key : tempo ? o.tempo : o.voice) = *n;
    } else if (a == "--remover-method") {
      if (!next(&v)) return std::nullopt;
      if (v != "side" && v != "centre") {
        *error = "--remover-method is side or centre, not \"" + v + "\"";
        return std::nullopt;
      }
      o.centreRemover = v == "centre";
    } else if (a == "--loudness") {
      if (!next(&v)) return std::nullopt;
      if (v != "on" && v != "off") {
        *error = "--loudness is on or off, not \"" + v + "\"";
        return std::nullopt;
      }
      o.loudness = v == "on";
    } else if (a == "--seconds") {
      if (!next(&v)) return std::nullopt;
      o.seconds = parseSeconds(v);
      if (!o.seconds) {
        *error = "--seconds takes a positive number of seconds, not \"" + v + "\"";
        return std::nullopt;
      }
    } else if (a == "--format") {
      if (!next(&v)) return std::nullopt;
      if (v != "f32" && v != "s16") {
        *error = "--format is f32 or s16, not \"" + v + "\"";
        return std::nullopt;
      }
      o.floatOutput = v == "f32";
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      *error = "unknown option " + a;
      return std::nullopt;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty()) {
    *error = "no song given";
    return std::nullopt;
  }
  o.song = positional[0];
  if (positional.size() > 1) o.out = positional[1];
  if (positional.size() > 2) {
    *error = "too many arguments";
    return std::nullopt;
  }
  if (o.out.empty() && !o.play) {
    *error = "no output file given (or --play)";
    return std::nullopt;
  }
  if (!o.out.empty() && o.play) {
    *error = "--play sends the song to the speakers: give no output file";
    return std::nullopt;
  }
  return o;
}

}  // namespace cli
