// MP3+G songs: the MP3 that is heard and the CD+G stream that is shown. A song comes as a zip
// holding both with the same name, as an MP3 with its .cdg beside it, or as a .cdg with its
// MP3 beside it (names and extensions in any case).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace karaoke {

constexpr uint64_t kMaxPackageMp3Bytes = uint64_t(200) << 20;
constexpr uint64_t kMaxPackageCdgBytes = uint64_t(64) << 20;
constexpr size_t kMaxPackageEntries = 1000;

struct SongPackage {
  std::filesystem::path audio;  // the MP3 to play (extracted into the cache folder for a zip)
  std::vector<uint8_t> cdg;     // the whole CD+G stream
};

// Whether `path` names a song this file opens: a .zip, or an .mp3 or .cdg with its partner
// beside it.
bool isSongPackage(const std::filesystem::path& path);

// Opens the song at `path`. A zip's MP3 is written into `cacheFolder` under a name of its own
// (made from the zip's path, so two songs never share one); with an empty `cacheFolder` it is
// not extracted and `audio` stays empty (for a reader of the pictures alone). nullopt with the
// reason in *error when the song cannot be opened.
std::optional<SongPackage> openSongPackage(const std::filesystem::path& path,
                                           const std::filesystem::path& cacheFolder,
                                           std::string* error);

}  // namespace karaoke
