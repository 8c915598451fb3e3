// "Same loudness for every song": each song opened is measured (in the background, cached per
// file) and the gain that brings it to the common loudness is applied to it, on top of the
// player's sliders. The window asks for the gain while a song plays; the command-line renderer
// measures the whole song first.
#pragma once

#include <memory>
#include <string>

namespace audiolib {
class LoudnessScanner;
}

namespace player {

class SongLoudness {
 public:
  // `cacheDir`: where measured songs are remembered (empty: nowhere); `soundFont`: the General
  // MIDI font MIDI songs are measured with.
  SongLoudness(std::string cacheDir, std::string soundFont);
  ~SongLoudness();

  // Songs are measured only while the option is on: switched on, the song opened is measured.
  void setEnabled(bool on);
  bool enabled() const { return enabled_; }
  // A song was opened: its measurement starts, or its loudness is known from before.
  void songOpened(const std::string& path);
  // The gain in dB to apply now: 0 while the option is off, before anything is known about the
  // song and for a silent one; a running estimate while the song is being measured.
  float gainDb() const;
  // True once the song's whole loudness is known (the gain will not change any more).
  bool settled() const;

  // Where the window and the renderer remember measured songs: the user's cache folder
  // ($XDG_CACHE_HOME, else ~/.cache), orivelR/loudness; created when missing. Empty when there
  // is no home to put it in.
  static std::string userCacheDir();

  // The gain for the whole of `path`, measured on the caller's thread (the renderer's).
  static float measureGainDb(const std::string& path, const std::string& cacheDir,
                             const std::string& soundFont);

 private:
  std::unique_ptr<audiolib::LoudnessScanner> scanner_;
  bool enabled_ = true;
  bool opened_ = false;
  std::string path_;  // the song opened
  bool scanned_ = false;
};

}  // namespace player
