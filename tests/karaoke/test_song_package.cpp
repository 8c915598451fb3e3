// MP3+G songs from zips written here with libarchive, and from files side by side.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "SmfWriter.h"
#include "SongPackage.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<std::string, std::string>>;

void writeZip(const fs::path& path, const Entries& entries) {
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
  for (const auto& [name, data] : entries) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.c_str());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_entry_set_size(e, la_int64_t(data.size()));
    archive_write_header(a, e);
    archive_write_data(a, data.data(), data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
}

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& p, const std::string& s) {
  std::ofstream(p, std::ios::binary) << s;
}

const std::string kMp3 = std::string("ID3\x03") + std::string(5000, 'm');
const std::string kCdg = std::string(96, '\x09');

TEST(SongPackage, ZipGivesTheMp3AndCdgOfTheSameName) {
  testaudio::TempDir dir;
  writeZip(dir / "song.zip", {{"readme.txt", "hi"},
                              {"Other.cdg", "x"},
                              {"Folder/Song.MP3", kMp3},
                              {"folder/song.cdg", kCdg}});
  std::string error;
  const auto song = karaoke::openSongPackage(dir / "song.zip", dir / "cache", &error);
  ASSERT_TRUE(song) << error;
  EXPECT_EQ(song->audio.parent_path(), dir / "cache");
  EXPECT_EQ(contents(song->audio), kMp3);
  EXPECT_EQ(std::string(song->cdg.begin(), song->cdg.end()), kCdg);
  EXPECT_FALSE(fs::exists(song->audio.string() + ".part"));
  // Without a cache folder only the pictures are read.
  const auto pictures = karaoke::openSongPackage(dir / "song.zip", {}, &error);
  ASSERT_TRUE(pictures);
  EXPECT_TRUE(pictures->audio.empty());
  EXPECT_EQ(pictures->cdg.size(), kCdg.size());
}

TEST(SongPackage, ZipsWithoutASafePairAreRefused) {
  testaudio::TempDir dir;
  const std::string kNoPair = "the zip holds no MP3 and CD+G pair with the same name";
  const std::vector<std::pair<Entries, std::string>> cases = {
      {{{"a.mp3", kMp3}, {"b.cdg", kCdg}}, kNoPair},
      {{{"../song.mp3", kMp3}, {"../song.cdg", kCdg}}, kNoPair},
      {{{"/tmp/song.mp3", kMp3}, {"/tmp/song.cdg", kCdg}}, kNoPair},
      {{{"song.mp3", kMp3}}, kNoPair},
      {{}, kNoPair},
  };
  for (const auto& [entries, why] : cases) {
    writeZip(dir / "bad.zip", entries);
    std::string error;
    EXPECT_FALSE(karaoke::openSongPackage(dir / "bad.zip", dir / "cache", &error));
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  writeText(dir / "junk.zip", "PK not really a zip at all");
  std::string error;
  EXPECT_FALSE(karaoke::openSongPackage(dir / "junk.zip", dir / "cache", &error));
  EXPECT_NE(error.find("zip"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "cache") && !fs::is_empty(dir / "cache"));
}

TEST(SongPackage, Mp3AndCdgSideBySideInAnyCase) {
  testaudio::TempDir dir;
  writeText(dir / "Song.mp3", kMp3);
  writeText(dir / "song.CDG", kCdg);
  std::string error;
  for (const fs::path& opened : {dir / "Song.mp3", dir / "song.CDG"}) {
    const auto song = karaoke::openSongPackage(opened, {}, &error);
    ASSERT_TRUE(song) << error;
    EXPECT_EQ(song->audio, dir / "Song.mp3");
    EXPECT_EQ(song->cdg.size(), kCdg.size());
    EXPECT_TRUE(karaoke::isSongPackage(opened));
  }
  writeText(dir / "lonely.mp3", kMp3);
  EXPECT_FALSE(karaoke::openSongPackage(dir / "lonely.mp3", {}, &error));
  EXPECT_NE(error.find("no CD+G file"), std::string::npos);
  EXPECT_FALSE(karaoke::isSongPackage(dir / "lonely.mp3"));
}

TEST(SongPackage, PipeIsNeverOpened) {
  testaudio::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe.zip").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir / "pipe.cdg").c_str(), 0600), 0);
  writeText(dir / "pipe.mp3", kMp3);
  std::string error;
  EXPECT_FALSE(karaoke::openSongPackage(dir / "pipe.zip", dir.path(), &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
  EXPECT_FALSE(
      karaoke::openSongPackage(dir / "pipe.mp3", dir.path(), &error));  // its .cdg is a pipe
}

}  // namespace
