// The CD window's rippers: a track to TRACK.WAV (handed to the player) or to TRACK<n>.WMA at a
// bit rate with tags, read as a decoding CD stream in 20000-byte blocks. They run on the
// caller's thread; between blocks they report progress and let the caller's events run (and
// ask whether to stop). Every outcome comes back as a value with the text the window shows.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cd {

inline constexpr const char* kModule = "frmDemo";
inline constexpr const char* kStreamError = "Unable to Create CD Stream!";
inline constexpr const char* kWavDone = "WAV File Encoded.";
inline constexpr const char* kNoCodec = "Error: Can't find a codec";
inline constexpr const char* kOpenOutputError = "An error occured while opening output file.";
inline constexpr const char* kEncodeError = "An error occured while encoding WMA data.";
inline constexpr size_t kTransferBytes = 20000;

// The tag names by text box index (txtWMATags(0..7)).
inline const std::array<std::string, 8> kWmaTagNames = {"Title",       "Author", "WM/AlbumTitle",
                                                        "Description", "Rating", "Copyright",
                                                        "WM/Genre",    "WM/Year"};

// ShowErrorCode's text: `text`, then, unless `code` is -1, two line breaks, "Error Code : "
// and the code.
std::string errorCodeText(const std::string& text, int code);
// ReportRoutineError's text (no blank between the routine and "in module : ").
std::string routineErrorText(const std::string& module, const std::string& routine, int number,
                             const std::string& description);
// "###,##0 Kbps" of a rate in bit/s.
std::string bitrateLine(uint32_t bitsPerSecond);
// "###.#" of a duration in seconds.
std::string secondsText(double seconds);
// The path with a trailing "/" added when it has none (RPP).
std::string RPP(const std::string& folder);
// folder + "TRACK.WAV", folder + "TRACK<track + 1>.WMA".
std::string trackWavPath(const std::string& folder);
std::string trackWmaPath(const std::string& folder, int track);
// The main window's LabelSongLength caption after a WAV rip of track index `track`.
std::string handOverCaption(int track);

// The 44-byte WAV header: PCM, `channels` (at most 2), `rate`, `bits`, the RIFF size
// dataBytes + 36 and the data size dataBytes.
std::array<uint8_t, 44> makeWavHeader(int channels, uint32_t rate, int bits, uint32_t dataBytes);

struct EncoderRates {
  std::vector<uint32_t> rates;  // bit/s, in the library's order (the items' data)
  std::vector<std::string> lines;
  std::string error;  // the box's text when there are none (ShowErrorCode)
};
// LoadWMAEncoderRates: the rates of BASS_WMA_EncodeGetRates(44100, 0).
EncoderRates loadWmaEncoderRates();

struct RipCallbacks {
  std::function<void(int percent)> progress;  // 0..100, after each block
  // Called after each block: let pending events run; true stops the rip.
  std::function<bool()> pumpEvents;
};

struct RipResult {
  enum Status { Done, Failed, Cancelled } status = Failed;
  // What the window shows: the message box's text, title and kind.
  std::string message;
  std::string title;
  enum Box { Plain, Critical, RoutineError } box = Plain;
  int errorCode = -1;      // the library's code of a failure, -1 when none applies
  std::string path;        // the file written
  uint64_t dataBytes = 0;  // audio bytes ripped
  double seconds = 0;      // the rip's duration
};

// ExtractAudioTrack: track index `track` of `drive` to the WAV file `path`, written as
// `path`.part and renamed over `path` once the whole track is in it. A read or write error
// ends in a RoutineError result; it and a cancelled rip leave an older `path` as it was.
RipResult extractAudioTrack(uint32_t drive, int track, const std::string& path,
                            const RipCallbacks& callbacks);

// ExtractAudioTrackToWMA: to `path` at `bitrate` bit/s; when `writeTags`, every non-empty
// value of `tags` (by kWmaTagNames index) is written. A write failure keeps the file.
RipResult extractAudioTrackToWma(uint32_t drive, int track, uint32_t bitrate,
                                 const std::string& path, bool writeTags,
                                 const std::array<std::string, 8>& tags,
                                 const RipCallbacks& callbacks);

}  // namespace cd
