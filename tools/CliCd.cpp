#include "CliCd.h"

#include <cstdio>
#include <iostream>

#include "Interrupt.h"
#include "Rip.h"
#include "TrackList.h"
#include "bass.h"

namespace cli {

const char* const kCdUsage =
    "usage: orivelR-cli cd drives               the CD drives and images (ORIVELR_CD_IMAGES)\n"
    "       orivelR-cli cd tracks DRIVE         the track list of drive index DRIVE\n"
    "       orivelR-cli cd rip DRIVE TRACK OUT.wav|OUT.wma [--bitrate B] [--tag NAME=VALUE]...\n"
    "       TRACK counts from 1; WMA at B bit/s (default 128000); NAME is one of Title, Author,\n"
    "       WM/AlbumTitle, Description, Rating, Copyright, WM/Genre, WM/Year\n";

namespace {

int usageError(const std::string& text) {
  std::cerr << "orivelR-cli cd: " << text << "\n" << kCdUsage;
  return 1;
}

bool parseNumber(const std::string& s, long min, long max, long* out) {
  size_t used = 0;
  try {
    *out = std::stol(s, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == s.size() && *out >= min && *out <= max;
}

bool endsWith(std::string s, const std::string& ext) {
  for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s.size() >= ext.size() && s.compare(s.size() - ext.size(), ext.size(), ext) == 0;
}

int drivesCommand() {
  const auto drives = cd::listDrives();
  if (drives.empty()) std::cerr << "orivelR-cli cd: no CD drive or image\n";
  for (const auto& d : drives) std::cout << d.index << "\t" << d.text << "\n";
  return 0;
}

int tracksCommand(long drive) {
  if (!BASS_CD_GetDriveDescription(DWORD(drive))) {
    std::cerr << "orivelR-cli cd: there is no drive " << drive << "\n";
    return 2;
  }
  const cd::TrackListing list = cd::loadTrackList(DWORD(drive));
  if (list.status == cd::TrackListing::NoDisc) {
    std::cerr << "orivelR-cli cd: no disc in drive " << drive << "\n";
    return 2;
  }
  if (list.status == cd::TrackListing::TrackCountFailed) {
    std::cerr << "orivelR-cli cd: " << cd::kTrackCountError << "\n";
    return 2;
  }
  std::cout << "Artist: " << list.artist << "\nAlbum: " << list.album << "\n";
  for (const auto& line : list.lines) std::cout << line << "\n";
  for (const auto& f : list.failures)
    std::cerr << "orivelR-cli cd: track " << f.track + 1 << ": "
              << cd::errorCodeText(cd::kTrackLengthError, f.code) << "\n";
  return list.failures.empty() ? 0 : 2;
}

}  // namespace

int cdCommand(const std::vector<std::string>& args) {
  if (args.empty()) return usageError("needs drives, tracks or rip");
  if (args[0] == "drives")
    return args.size() == 1 ? drivesCommand() : usageError("too many arguments");
  long drive = 0;
  if (args[0] == "tracks") {
    if (args.size() != 2) return usageError("tracks needs the drive index");
    if (!parseNumber(args[1], 0, 1000, &drive))
      return usageError("the drive is an index such as 0, not \"" + args[1] + "\"");
    return tracksCommand(drive);
  }
  if (args[0] != "rip") return usageError("unknown cd command \"" + args[0] + "\"");

  long track = 0, bitrate = 128000;
  std::array<std::string, 8> tags;
  bool tagged = false, bitrateGiven = false;
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--bitrate") {
      if (++i == args.size()) return usageError("--bitrate needs a value in bit/s");
      if (!parseNumber(args[i], 1, 10000000, &bitrate))
        return usageError("--bitrate takes a bit rate in bit/s such as 128000, not \"" + args[i] +
                          "\"");
      bitrateGiven = true;
    } else if (a == "--tag") {
      if (++i == args.size()) return usageError("--tag needs NAME=VALUE");
      const auto eq = args[i].find('=');
      const std::string name = args[i].substr(0, eq);
      size_t k = 0;
      while (k < cd::kWmaTagNames.size() && cd::kWmaTagNames[k] != name) ++k;
      if (eq == std::string::npos || k == cd::kWmaTagNames.size())
        return usageError("--tag takes NAME=VALUE with a WMA tag name, not \"" + args[i] + "\"");
      tags[k] = args[i].substr(eq + 1);
      tagged = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usageError("unknown option \"" + a + "\"");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 3)
    return usageError("rip needs the drive, the track and the output file");
  if (!parseNumber(positional[0], 0, 1000, &drive))
    return usageError("the drive is an index such as 0, not \"" + positional[0] + "\"");
  if (!parseNumber(positional[1], 1, 99, &track))
    return usageError("the track is a number from 1 to 99, not \"" + positional[1] + "\"");
  const std::string& out = positional[2];
  const bool wma = endsWith(out, ".wma");
  if (!wma && !endsWith(out, ".wav")) return usageError("the output file ends in .wav or .wma");
  if (!wma && (tagged || bitrateGiven)) return usageError("--bitrate and --tag are for WMA files");

  if (!BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr)) {
    std::cerr << "orivelR-cli cd: the audio engine could not start (error " << BASS_ErrorGetCode()
              << ")\n";
    return 3;
  }
  bool shown = false;
  cd::RipCallbacks callbacks;
  int lastPercent = -1;
  callbacks.progress = [&](int percent) {
    if (percent == lastPercent) return;
    lastPercent = percent;
    std::fprintf(stderr, "\rripping: %3d %%", percent);
    shown = true;
  };
  callbacks.pumpEvents = [] { return interrupted(); };
  const cd::RipResult r =
      wma ? cd::extractAudioTrackToWma(DWORD(drive), int(track - 1), DWORD(bitrate), out, tagged,
                                       tags, callbacks)
          : cd::extractAudioTrack(DWORD(drive), int(track - 1), out, callbacks);
  BASS_Free();
  if (shown) std::fputc('\n', stderr);
  if (r.status == cd::RipResult::Cancelled) {
    std::cerr << "orivelR-cli cd: interrupted, no file written\n";
    return kInterruptedStatus;
  }
  if (r.status == cd::RipResult::Failed) {
    std::cerr << "orivelR-cli cd: " << r.message << "\n";
    return 3;
  }
  std::cerr << r.message << "\n";
  return 0;
}

}  // namespace cli
