// The CD add-on and the rippers on disc images written here: BIN/CUE with and without
// CD-TEXT, a cdrdao TOC, a cut one and a garbage one. Rips are checked against the audio the
// images were made of, against cd-paranoia on the same image, and WMA files with ffprobe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "CdDecoder.h"
#include "Rip.h"
#include "TestAudio.h"
#include "TrackList.h"
#include "bass.h"

namespace fs = std::filesystem;
using testaudio::q;
using testaudio::slurp;
using testaudio::spit;

namespace {

constexpr int kSectorBytes = 2352;
// Sectors of the three tracks: 10 s exactly (1764000 bytes), 3 s, and 4 s and 7 sectors.
const std::array<int, 3> kSectors = {750, 225, 307};

std::string msf(int sectors) {
  char s[16];
  std::snprintf(s, sizeof s, "%02d:%02d:%02d", sectors / 75 / 60, sectors / 75 % 60, sectors % 75);
  return s;
}

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(s[at + size_t(i)]);
  return v;
}

// The images and the audio they hold, made once for the whole run.
struct Discs : testing::Environment {
  static inline fs::path dir;
  static inline std::array<std::string, 3> audio;  // each track's 16-bit stereo bytes

  void SetUp() override {
    dir = fs::temp_directory_path() / ("orivelR-cd-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    uint32_t seed = 12345;
    std::string bin;
    for (size_t t = 0; t < audio.size(); ++t) {
      std::string& a = audio[t];
      const int frames = kSectors[t] * 588;
      a.resize(size_t(frames) * 4);
      for (int f = 0; f < frames; ++f) {
        // A tone under noise, with both ends of the 16-bit range in every track.
        seed = seed * 1664525u + 1013904223u;
        int l = int(std::lround(20000 * std::sin(f * 0.05 * (t + 1)))) + int(seed >> 20) - 2048;
        int r = int(int16_t(seed >> 8));
        if (f == 100) l = 32767, r = -32768;
        const int16_t s[2] = {int16_t(std::clamp(l, -32768, 32767)), int16_t(r)};
        std::memcpy(&a[size_t(f) * 4], s, 4);
      }
      bin += a;
    }
    // libcdio takes a cue sheet's data from the file named like the sheet, and a TOC's
    // relative names from the working folder: each sheet gets its own name, the TOC a full path.
    spit(dir / "disc.bin", bin);
    fs::create_symlink(dir / "disc.bin", dir / "text.bin");
    fs::create_symlink(dir / "disc.bin", dir / "plain.bin");
    std::string text =
        "PERFORMER \"Disc Artist\"\nTITLE \"Disc Album\"\nFILE \"disc.bin\" BINARY\n";
    std::string plain = "FILE \"disc.bin\" BINARY\n";
    std::string toc = "CD_DA\n";
    int at = 0;
    for (size_t t = 0; t < audio.size(); ++t) {
      const std::string n = "0" + std::to_string(t + 1);
      text += "  TRACK " + n + " AUDIO\n    PERFORMER \"Singer " + std::to_string(t + 1) +
              "\"\n    TITLE \"Song " + std::to_string(t + 1) + "\"\n    INDEX 01 " + msf(at) +
              "\n";
      plain += "  TRACK " + n + " AUDIO\n    INDEX 01 " + msf(at) + "\n";
      toc += "TRACK AUDIO\nFILE \"" + (dir / "disc.bin").string() + "\" " + msf(at) + " " +
             msf(kSectors[t]) + "\n";
      at += kSectors[t];
    }
    spit(dir / "text.cue", text);
    spit(dir / "plain.cue", plain);
    spit(dir / "plain.toc", toc);
    // A cut image: its cue lists 10 s before track 2, its file holds 5 s.
    spit(dir / "cut.bin", bin.substr(0, size_t(kSectorBytes) * 375));
    spit(dir / "cut.cue",
         "FILE \"cut.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:10:00\n");
    std::string garbage;
    for (int i = 0; i < 4000; ++i) garbage += char((i * 7919) >> 3);
    spit(dir / "garbage.cue", garbage);
    std::string images;
    for (const char* name : {"text.cue", "plain.cue", "plain.toc", "cut.cue", "garbage.cue"})
      images += (images.empty() ? "" : ":") + (dir / name).string();
    setenv("ORIVELR_CD_IMAGES", images.c_str(), 1);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
  }
  void TearDown() override {
    BASS_Free();
    fs::remove_all(dir);
  }
};
const auto* const kDiscs = testing::AddGlobalTestEnvironment(new Discs);

// The drive index of an image (real drives come first).
DWORD driveOf(const std::string& image) {
  for (const auto& d : cd::listDrives())
    if (d.text == "image: " + (Discs::dir / image).string()) return DWORD(d.index);
  ADD_FAILURE() << image << " is not in the drive list";
  return 0xFFFF;
}

// The tracks' lengths as the lists show them: 10 s, 3 s, and 4.09 s rounded.
const std::array<const char*, 3> kLengths = {"00:10", "00:03", "00:04"};

struct ListCase {
  std::string image;
  bool cdText;
};

class ImageTrackList : public testing::TestWithParam<ListCase> {};

TEST_P(ImageTrackList, ListsEveryTrackWithItsLength) {
  const cd::TrackListing list = cd::loadTrackList(driveOf(GetParam().image));
  ASSERT_EQ(list.status, cd::TrackListing::Listed);
  EXPECT_TRUE(list.failures.empty());
  ASSERT_EQ(list.lines.size(), 3u);
  for (size_t t = 0; t < 3; ++t) {
    const std::string n = std::to_string(t + 1);
    const std::string name = GetParam().cdText ? "Singer " + n + " / Song " + n : "Track " + n;
    EXPECT_EQ(list.lines[t], "0" + n + "\t" + name + "\t[" + kLengths[t] + "]");
  }
  EXPECT_EQ(list.artist, GetParam().cdText ? "Disc Artist" : "Unknown Artist");
  EXPECT_EQ(list.album, GetParam().cdText ? "Disc Album" : "Unknown Album");
}

INSTANTIATE_TEST_SUITE_P(Images, ImageTrackList,
                         testing::Values(ListCase{"text.cue", true}, ListCase{"plain.cue", false},
                                         ListCase{"plain.toc", false}));

TEST(ImageDrive, HasNoDoorAndSaysSo) {
  const DWORD d = driveOf("text.cue");
  EXPECT_EQ(BASS_CD_GetDriveLetter(d), d);
  for (DWORD action :
       {BASS_CD_DOOR_CLOSE, BASS_CD_DOOR_OPEN, BASS_CD_DOOR_LOCK, BASS_CD_DOOR_UNLOCK}) {
    EXPECT_FALSE(BASS_CD_Door(d, action));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  }
  EXPECT_FALSE(BASS_CD_DoorIsOpen(d));
  EXPECT_FALSE(BASS_CD_DoorIsLocked(d));
  BASS_CD_INFO info{};
  info.size = sizeof info;
  ASSERT_TRUE(BASS_CD_GetInfo(d, &info));
  EXPECT_FALSE(info.canopen);
  EXPECT_FALSE(info.canlock);
  EXPECT_TRUE(info.cdtext);
  EXPECT_TRUE(info.rwflags & BASS_CD_RWFLAG_READCDDA);
  // The disc is still there after the door calls.
  EXPECT_EQ(BASS_CD_GetTracks(d), 3u);
  EXPECT_EQ(BASS_CD_GetTrackLength(d, 0), 1764000u);
}

// Over an older, longer rip, a track of the TOC and the odd-length one of the cue sheet; sox
// reads the header, and cd-paranoia reads the same track from the same image.
TEST(WavRip, IsTheTrackBitForBitBehindAHeaderSoxReads) {
  const bool paranoia = testaudio::run("command -v cd-paranoia") == 0;
  for (const auto& [image, t] :
       {std::pair<std::string, size_t>{"plain.toc", 0}, {"plain.cue", 2}}) {
    SCOPED_TRACE(image);
    const fs::path out = Discs::dir / "TRACK.WAV";
    spit(out, std::string(3000000, 'x'));
    int lastPercent = -1;
    const cd::RipResult r = cd::extractAudioTrack(
        driveOf(image), int(t), out, {[&](int p) { lastPercent = p; }, [] { return false; }});
    ASSERT_EQ(r.status, cd::RipResult::Done) << r.message;
    EXPECT_EQ(r.message, "WAV File Encoded.");
    EXPECT_EQ(lastPercent, 100);
    const size_t bytes = size_t(kSectors[t]) * kSectorBytes;
    EXPECT_EQ(testaudio::soxi(out, "trcbes"),
              "wav 44100 2 16 Signed Integer PCM " + std::to_string(kSectors[t] * 588));
    const std::string wav = slurp(out);
    ASSERT_EQ(wav.size(), bytes + 44);
    EXPECT_EQ(le32(wav, 4), bytes + 36);  // the RIFF size, which sox does not check
    EXPECT_TRUE(wav.substr(44) == Discs::audio[t]);
    if (!paranoia || image != "plain.cue") continue;
    const fs::path theirs = Discs::dir / "theirs.wav";
    ASSERT_EQ(testaudio::run("cd-paranoia -q -d " + q(Discs::dir / image) + " -w " +
                             std::to_string(t + 1) + " " + q(theirs) + " 2>&1"),
              0);
    const std::string b = slurp(theirs);
    EXPECT_TRUE(wav.substr(44) == b.substr(b.size() - bytes));
  }
  if (!paranoia) GTEST_SKIP() << "cd-paranoia is missing";
}

// A rip that fails part-way (the disk refuses the file past 500 kB: a size limit on the command
// line's rip) or is cancelled leaves the older TRACK.WAV byte for byte, and nothing beside it.
TEST(WavRip, ThatFailsOrIsCancelledKeepsTheOlderFile) {
  const fs::path folder = Discs::dir / "keep";
  fs::create_directories(folder);
  const fs::path out = folder / "TRACK.WAV";
  const std::string older = "RIFF an older rip " + std::string(100000, 'o');
  spit(out, older);

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{500000, 500000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string cli = ORIVELR_CLI;
    const std::string drive = std::to_string(driveOf("plain.cue"));
    execl(cli.c_str(), cli.c_str(), "cd", "rip", drive.c_str(), "1", out.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(WEXITSTATUS(status), 127);
  EXPECT_TRUE(slurp(out) == older) << "the failed rip touched the older file";

  const cd::RipResult r =
      cd::extractAudioTrack(driveOf("plain.cue"), 0, out, {{}, [] { return true; }});
  EXPECT_EQ(r.status, cd::RipResult::Cancelled);
  EXPECT_TRUE(slurp(out) == older) << "the cancelled rip touched the older file";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST(WmaRates, AreOfferedHighestFirstAndAllOpen) {
  const cd::EncoderRates rates = cd::loadWmaEncoderRates();
  ASSERT_TRUE(rates.error.empty()) << rates.error;
  ASSERT_GE(rates.rates.size(), 5u);
  EXPECT_TRUE(std::is_sorted(rates.rates.rbegin(), rates.rates.rend()));
  EXPECT_EQ(rates.lines.front(), cd::bitrateLine(rates.rates.front()));
  for (uint32_t r : rates.rates) {
    const HWMENCODE e = BASS_WMA_EncodeOpenFile(44100, 0, r, (Discs::dir / "probe.wma").c_str());
    EXPECT_NE(e, 0u) << r;
    BASS_WMA_EncodeClose(e);
  }
}

struct WmaCase {
  std::string name;
  std::string image;
  int track;
  uint32_t bitrate;
  bool tags;
  std::array<std::string, 8> values;
  std::map<std::string, std::string> expected;  // by ffprobe's names
};

class WmaRip : public testing::TestWithParam<WmaCase> {};

// The file runs at the rate chosen for the track's length, into TRACK<n>.WMA, and carries
// the non-empty boxes as its tags.
TEST_P(WmaRip, RunsAtTheRateChosenWithTheNonEmptyBoxesAsTags) {
  const WmaCase& c = GetParam();
  const fs::path folder = Discs::dir / ("wma-" + c.name);
  fs::create_directories(folder);
  const std::string out = cd::trackWmaPath(folder, c.track);
  const cd::RipResult r =
      cd::extractAudioTrackToWma(driveOf(c.image), c.track, c.bitrate, out, c.tags, c.values, {});
  ASSERT_EQ(r.status, cd::RipResult::Done) << r.message;
  EXPECT_TRUE(r.message.starts_with("WMA File Encoded. Encoding took ")) << r.message;
  EXPECT_TRUE(fs::exists(folder / ("TRACK" + std::to_string(c.track + 1) + ".WMA")));
  auto p = testaudio::probe(out, "format=bit_rate,duration:format_tags");
  EXPECT_NEAR(std::stod(p["bit_rate"]), c.bitrate, c.bitrate * 0.1);
  EXPECT_NEAR(std::stod(p["duration"]), kSectors[size_t(c.track)] / 75.0, 0.1);
  for (const char* notATag : {"bit_rate", "duration", "encoder"}) p.erase(notATag);
  auto expected = c.expected;
  // ffprobe leaves the rating out: TagLib reads it back.
  if (expected.erase("rating")) {
    TagLib::ASF::File f(out.c_str());
    ASSERT_TRUE(f.isValid() && f.tag());
    EXPECT_EQ(f.tag()->rating().to8Bit(true), c.values[4]);
  }
  EXPECT_EQ(p, expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rips, WmaRip, testing::Values(
    WmaCase{"Rate32000", "plain.cue", 0, 32000, false, {}, {}},
    WmaCase{"Rate320000", "plain.cue", 0, 320000, false, {}, {}},
    WmaCase{"AllTags", "text.cue", 2, 128000, true,
            {"Song", "Singer", "Album", "About it", "5", "(c) Us", "Pop", "1999"},
            {{"title", "Song"}, {"artist", "Singer"}, {"album", "Album"}, {"comment", "About it"},
             {"rating", "5"}, {"copyright", "(c) Us"}, {"genre", "Pop"}, {"WM/Year", "1999"}}},
    WmaCase{"YearOnly", "text.cue", 0, 128000, true, {"", "", "", "", "", "", "", "2001"},
            {{"WM/Year", "2001"}}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

struct FailureCase {
  std::string name;
  std::string image;
  int track;
  uint32_t wmaBitrate;  // 0: a WAV rip
  bool badFolder;
  cd::RipResult::Box box;
  std::string message;  // the start of the box's text
};

class RipFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(RipFailure, ShowsTheWindowsMessage) {
  const auto& c = GetParam();
  const fs::path folder = c.badFolder ? Discs::dir / "no" / "such" : Discs::dir;
  const DWORD drive = driveOf(c.image);
  const cd::RipResult r =
      c.wmaBitrate ? cd::extractAudioTrackToWma(drive, c.track, c.wmaBitrate,
                                                cd::trackWmaPath(folder, c.track), false, {}, {})
                   : cd::extractAudioTrack(drive, c.track, cd::trackWavPath(folder), {});
  EXPECT_EQ(r.status, cd::RipResult::Failed);
  EXPECT_EQ(r.box, c.box);
  EXPECT_TRUE(r.message.starts_with(c.message)) << r.message;
}

const std::string kNoStream = "Unable to Create CD Stream!";
const std::string kNoOutput = "An error occured while opening output file.\n\nError Code : ";
using enum cd::RipResult::Box;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Failures, RipFailure, testing::Values(
    FailureCase{"WavNoSuchTrack", "plain.cue", 7, 0, false, Plain, kNoStream},
    FailureCase{"WavNoTrackSelected", "plain.cue", -1, 0, false, Plain, kNoStream},
    FailureCase{"WmaNoSuchTrack", "plain.cue", 7, 128000, false, Critical,
                kNoStream + "\n\nError Code : 13"},
    FailureCase{"WmaOutputFolderMissing", "plain.cue", 0, 128000, true, Critical, kNoOutput + "33"},
    FailureCase{"WmaRateNotOffered", "plain.cue", 0, 12345, false, Critical, kNoOutput + "44"},
    FailureCase{"WavGarbageImage", "garbage.cue", 0, 0, false, Plain, kNoStream},
    FailureCase{"WavDamagedImage", "cut.cue", 0, 0, false, Plain, kNoStream},
    FailureCase{"WavOutputFolderMissing", "plain.cue", 0, 0, true, RoutineError,
                "Error in routine : ExtractAudioTrackin module : frmDemo\nError #2\n"}),
    [](const auto& info) { return info.param.name; });
// clang-format on

// A read error reaches the stream's read-error syncs once, on a thread of the library, also
// when the read ahead failed before the stream had its handle. (An image does not fail to
// read; the error is raised where the decoder would raise it.) A lasting sync sees every
// notification in order, so a marker posted last tells when all before it were delivered.
TEST(CdReadError, RunsTheStreamsSyncsOnceOffTheCallersThread) {
  struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<DWORD> lasting;  // tracks, in order
    int once = 0;
    std::thread::id thread;
  };
  static Seen seen;
  const HSTREAM s = BASS_CD_StreamCreate(driveOf("plain.cue"), 1, BASS_STREAM_DECODE);
  ASSERT_NE(s, 0u);
  ASSERT_NE(BASS_ChannelSetSync(
                s, BASS_SYNC_ONETIME | BASS_SYNC_CD_ERROR, 0,
                [](HSYNC, DWORD, DWORD, void*) {
                  std::lock_guard lock(seen.mutex);
                  ++seen.once;
                  seen.thread = std::this_thread::get_id();
                },
                nullptr),
            0u);
  ASSERT_NE(BASS_ChannelSetSync(
                s, BASS_SYNC_CD_ERROR, 0,
                [](HSYNC, DWORD, DWORD track, void*) {
                  std::lock_guard lock(seen.mutex);
                  seen.lasting.push_back(track);
                  seen.changed.notify_all();
                },
                nullptr),
            0u);
  audiolib::CdErrorReport report(1);
  report.raise();  // before the handle is known: held back
  report.raise();
  report.setHandle(s);
  report.raise();
  audiolib::postCdError(s, 99);  // the marker
  std::unique_lock lock(seen.mutex);
  ASSERT_TRUE(seen.changed.wait_for(lock, std::chrono::seconds(10), [] {
    return !seen.lasting.empty() && seen.lasting.back() == 99;
  }));
  EXPECT_EQ(seen.lasting, (std::vector<DWORD>{1, 99}));
  EXPECT_EQ(seen.once, 1);
  EXPECT_NE(seen.thread, std::this_thread::get_id());
  lock.unlock();
  BASS_StreamFree(s);
}

TEST(CdCli, ListsTracksAndRips) {
  const std::string cli = ORIVELR_CLI;
  const std::string drive = std::to_string(driveOf("text.cue"));
  EXPECT_EQ(testaudio::output(cli + " cd tracks " + drive),
            "Artist: Disc Artist\nAlbum: Disc Album\n01\tSinger 1 / Song 1\t[00:10]\n"
            "02\tSinger 2 / Song 2\t[00:03]\n03\tSinger 3 / Song 3\t[00:04]");
  const fs::path out = Discs::dir / "cli.wav";
  testaudio::output(cli + " cd rip " + drive + " 2 " + q(out));
  EXPECT_TRUE(slurp(out).substr(44) == Discs::audio[1]);
  std::string log;
  EXPECT_EQ(testaudio::run(cli + " cd rip " + drive + " 9 " + q(out) + " 2>&1", &log), 3);
  EXPECT_NE(log.find("Unable to Create CD Stream!"), std::string::npos);
}

}  // namespace
