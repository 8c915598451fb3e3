// The recorder's error codes and their texts. A text is a first word (what failed) and then
// the description; an error raised by WavePlayer carries the description only.
#pragma once

#include <stdexcept>
#include <string>

namespace recorder {

enum WaveErrorCode : int {
  kErrDeviceNotOpen = 263,
  kErrBadRange = 266,
  kErrFileNotFound = 275,
  kErrCannotSave = 286,
  kErrBadFormat = 297,
  kErrTakeStopped = 333,  // the disk refused the take's writes: it stopped, what was kept
  kErrCannotRecord = 340,
  kErrCannotPlay = 341,
};

// The full text of `code` (the first word included); a code without a text of its own gets a
// generic one.
std::string mciGetErrorString(int code);
// The description of `code`: its text after the first space, or the whole text when it has
// none; `firstWord`, when given, receives the word cut off (empty when none was).
std::string errorDescription(int code, std::string* firstWord = nullptr);
// The same rule on any text.
std::string afterFirstWord(const std::string& text, std::string* firstWord = nullptr);

// What WavePlayer raises: the number is the code, the source names the operation
// ("WavePlayer::Record"), the description follows the rule above, with any detail the system
// gave appended.
struct WaveError : std::runtime_error {
  WaveError(int number, std::string source, const std::string& detail = {});
  int number;
  std::string source;
  std::string description;
};

}  // namespace recorder
