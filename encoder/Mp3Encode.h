// The MP3 encoder: reads a WAV file (or a headerless .raw file of 44.1 kHz stereo 16-bit
// little-endian samples) and writes a constant-bit-rate MP3 with libmp3lame. The MP3 is
// written under a temporary name beside the target and renamed over it only when complete,
// so a stopped or failed encoding never leaves a partial file under the target's name.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace encoder {

constexpr int kDefaultBitRateBps = 128000;
constexpr int kChannelStereo = 0;
constexpr int kChannelMono = 1;
// libmp3lame's quality level that the lame command uses unless told otherwise (-q 3).
constexpr int kLameCommandQuality = 3;

struct EncodeSettings {
  std::string source;
  std::string target;
  int bitRateBps = kDefaultBitRateBps;  // CBR, bits per second
  int channelMode = kChannelStereo;     // 0 stereo (joint stereo), 1 mono (downmixed)
  int quality = kLameCommandQuality;    // 0 best .. 9 fastest
};

struct EncodeResult {
  bool ok = false;
  bool cancelled = false;
  std::string error;   // for neither ok nor cancelled: what went wrong, for the user
  int bitRateBps = 0;  // the bit rate the MP3 has, once the encoder has started
  // For the user, when the MP3 was made other than asked (a bit rate its sample rate cannot
  // have); empty otherwise.
  std::string notice;
};

// Called on the encoding thread: every whole percent from 0 to 100 once, in order, 100 only
// when the target file is in place; the estimate of the seconds left once there is one.
using ProgressFn = std::function<void(int percent, std::optional<double> secondsLeft)>;

// True for a file name ending in ".raw" in any case: read as headerless samples.
bool isRawName(std::string_view path);

// Encodes settings.source into settings.target; returns when done, failed or stopped (`stop`
// is read between blocks). A bit rate the MP3's sample rate cannot have is replaced by the
// nearest one it can, and the result's notice says so.
EncodeResult encodeMp3(const EncodeSettings& settings, const std::atomic<bool>& stop,
                       const ProgressFn& progress = {});

}  // namespace encoder
