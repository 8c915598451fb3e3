#include "WaveErrors.h"

namespace recorder {

std::string mciGetErrorString(int code) {
  switch (code) {
    case kErrDeviceNotOpen:
      return "Device: no recording is open.";
    case kErrBadRange:
      return "Range: the time given is outside the recording.";
    case kErrFileNotFound:
      return "File: the file cannot be found or is not a wave file.";
    case kErrCannotSave:
      return "Save: the file cannot be written.";
    case kErrBadFormat:
      return "Format: the wave format is not supported or the recording is not empty.";
    case kErrTakeStopped:
      return "Disk: the take stopped because the disk refused to write it. What was recorded "
             "until then is kept.";
    case kErrCannotRecord:
      return "Record: nothing can be recorded from the chosen source.";
    case kErrCannotPlay:
      return "Playback: the sound output is not available.";
    default:
      return "Unknown: an unknown error occurred.";
  }
}

std::string afterFirstWord(const std::string& text, std::string* firstWord) {
  const auto space = text.find(' ');
  if (space == std::string::npos) {
    if (firstWord) firstWord->clear();
    return text;
  }
  if (firstWord) *firstWord = text.substr(0, space);
  return text.substr(space + 1);
}

std::string errorDescription(int code, std::string* firstWord) {
  return afterFirstWord(mciGetErrorString(code), firstWord);
}

namespace {
std::string describe(int number, const std::string& detail) {
  std::string d = errorDescription(number);
  if (!detail.empty()) d += " (" + detail + ")";
  return d;
}
}  // namespace

WaveError::WaveError(int n, std::string src, const std::string& detail)
    : std::runtime_error(src + ": " + describe(n, detail)),
      number(n),
      source(std::move(src)),
      description(describe(n, detail)) {}

}  // namespace recorder
