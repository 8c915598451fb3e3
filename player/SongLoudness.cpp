#include "SongLoudness.h"

#include <cstdlib>
#include <filesystem>

#include "Loudness.h"

namespace player {

SongLoudness::SongLoudness(std::string cacheDir, std::string soundFont)
    : scanner_(
          std::make_unique<audiolib::LoudnessScanner>(std::move(cacheDir), std::move(soundFont))) {}

SongLoudness::~SongLoudness() = default;

void SongLoudness::setEnabled(bool on) {
  enabled_ = on;
  if (on && opened_ && !scanned_) {
    scanner_->scan(path_);
    scanned_ = true;
  }
}

void SongLoudness::songOpened(const std::string& path) {
  opened_ = true;
  path_ = path;
  scanned_ = enabled_;
  // While the option is off nothing is measured: the worker would only take the player's time.
  if (enabled_) scanner_->scan(path);
}

float SongLoudness::gainDb() const {
  if (!enabled_ || !opened_) return 0.0f;
  const auto lufs = scanner_->loudness();
  return lufs ? float(audiolib::loudnessGainDb(*lufs)) : 0.0f;
}

bool SongLoudness::settled() const {
  return !enabled_ || !opened_ || (scanned_ && scanner_->finished());
}

std::string SongLoudness::userCacheDir() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::filesystem::path(home) / ".cache";
  else
    return {};
  const auto dir = base / "orivelR" / "loudness";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return ec ? std::string() : dir.string();
}

float SongLoudness::measureGainDb(const std::string& path, const std::string& cacheDir,
                                  const std::string& soundFont) {
  const auto lufs = audiolib::LoudnessScanner::measure(path, cacheDir, soundFont);
  return lufs ? float(audiolib::loudnessGainDb(*lufs)) : 0.0f;
}

}  // namespace player
