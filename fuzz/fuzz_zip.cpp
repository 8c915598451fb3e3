// MP3+G zips of any bytes: the reader ends, and what it gives keeps its limits; the MP3 is
// extracted into a folder in memory.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "InputFile.h"
#include "SongPackage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The zip's name must end in .zip, so it is a file of a folder in memory, gone at the end.
  struct Folder {
    std::filesystem::path path;
    Folder() {
      char name[] = "/dev/shm/orivelR-fuzz-zip-XXXXXX";
      if (!mkdtemp(name)) std::abort();
      path = name;
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder memory;
  const std::filesystem::path& folder = memory.path;
  const std::filesystem::path zip = folder / "song.zip";
  {
    FILE* f = std::fopen(zip.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
  }
  std::string error;
  const auto song = karaoke::openSongPackage(zip, folder / "cache", &error);
  if (song) {
    fuzz::require(song->cdg.size() <= karaoke::kMaxPackageCdgBytes);
    fuzz::require(song->audio.parent_path() == folder / "cache");
    std::error_code ec;
    fuzz::require(std::filesystem::file_size(song->audio, ec) <= karaoke::kMaxPackageMp3Bytes);
    std::filesystem::remove(song->audio, ec);
  } else {
    fuzz::require(!error.empty());
  }
  return 0;
}
