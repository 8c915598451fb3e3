// The meter control through the private sound server: a tone sung into the virtual
// microphone lights the LEDs, a recording holds what was sung, and a played file reaches the
// output whole and ends by itself.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <regex>

#include "LumoCtl.h"
#include "MicFeed.h"
#include "MonitorRecorder.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "modRender.h"

using testaudio::Audio;
using testaudio::MicFeed;

namespace {

// Whether LED i of a row shows its ON colour (the default colours: green up to LED 16).
bool lit(LumoCtl& meter, bool right, int i) {
  const auto g =
      lumo::layoutLeds(meter.width(), meter.height(), meter.NumVUs(), meter.Orientation());
  const QRect r = right ? g.vuR[size_t(i)] : g.vuL[size_t(i)];
  const QImage img = meter.grab().toImage();
  const QColor on = lumo::buildColourTables(meter.NumVUs(), {}).on[size_t(i)];
  return img.pixelColor(r.center()) == on;
}

uint32_t le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// The 10 ms blocks of `heard` where the 1 kHz tone is above half its level: the first and last
// block's frame, their count and the loudest block's level.
struct ToneBlocks {
  int64_t first = -1, last = -1, frames = 0;
  double loudest = 0;
};
ToneBlocks toneBlocks(const Audio& heard) {
  ToneBlocks b;
  for (int64_t f = 0; f + 441 <= heard.frames(); f += 441) {
    const double a = testaudio::toneAmplitude(heard, 0, 1000, f, 441);
    b.loudest = std::max(b.loudest, a);
    if (a <= 0.25) continue;
    if (b.first < 0) b.first = f;
    b.last = f;
    b.frames += 441;
  }
  return b;
}

// `seconds` of a stereo 1 kHz tone at half scale, a whole number of cycles.
std::filesystem::path toneFile(const std::filesystem::path& path, int seconds) {
  testaudio::writeWav(path, testaudio::makeAudio(44100, 2, 44100 * seconds, [](int64_t f, int) {
                        return testaudio::sine(1000, 0.5, f, 44100);
                      }));
  return path;
}

// A meter on the default microphone, shown so that its LEDs can be looked at.
struct Meter {
  LumoCtl ctl;
  QSignalSpy errors{&ctl, &LumoCtl::Error};
  QSignalSpy states{&ctl, &LumoCtl::StateChanged};
  explicit Meter(int quality) {
    ctl.resize(40, 165);
    ctl.setQuality(quality);
    ctl.setSoundDriver(ctl.DefaultSoundDriver());
    ctl.show();
  }
  void toTheSpeaker() {
    for (int i = 1; i <= ctl.SoundDriversCount(); ++i)
      if (ctl.SoundDriverType(i) == LumoCtl::sdtcOutput &&
          ctl.SoundDriverName(i).contains("KaraOut"))
        ctl.setSoundDriver(i);
  }
  std::vector<int> stateList(int from = 0) const {
    std::vector<int> s;
    for (int i = from; i < states.size(); ++i) s.push_back(states[i][0].toInt());
    return s;
  }
};

TEST(MeterSound, ToneLightsTheLedsAndSilencePutsThemOut) {
  REQUIRE_SOUND_SERVER();
  MicFeed feed(440, 0.5f);
  Meter m(LumoCtl::qc44S16);
  QSignalSpy peaks(&m.ctl, &LumoCtl::PeakValues);
  m.ctl.StartVU();
  ASSERT_TRUE(m.errors.isEmpty()) << m.errors[0][1].toString().toStdString();
  EXPECT_EQ(m.ctl.State(), LumoCtl::scRunning);
  // An RMS of 0.35 of full scale is level 11 of 32.
  EXPECT_TRUE(QTest::qWaitFor([&] { return lit(m.ctl, false, 8) && lit(m.ctl, true, 8); }, 5000));
  EXPECT_FALSE(lit(m.ctl, false, 16));
  EXPECT_TRUE(QTest::qWaitFor([&] { return peaks.size() >= 60; }, 5000));
  for (const auto& p : peaks) EXPECT_EQ(p[1].toInt() % 4, 0) << "FromPos inside a frame";
  feed.setAmplitude(0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !lit(m.ctl, false, 0) && !lit(m.ctl, true, 0); }, 5000));
  EXPECT_FALSE(lit(m.ctl, false, 8));
  m.ctl.StopVU();
  EXPECT_EQ(m.ctl.State(), LumoCtl::scIdle);
}

// Refused takes leave the meter running; a take holds what was sung, with sizes that match
// what the control reported; StopVU while recording ends the take as well.
TEST(MeterSound, RecordingHoldsWhatWasSungAndRefusalsKeepTheMeterRunning) {
  REQUIRE_SOUND_SERVER();
  testaudio::TempDir dir;
  MicFeed feed(440, 0.5f);
  Meter m(LumoCtl::qc11M08);
  QSignalSpy saved(&m.ctl, &LumoCtl::SavedBytes);
  m.ctl.StartVU();
  ASSERT_EQ(m.ctl.State(), LumoCtl::scRunning);
  m.ctl.setFileName("");
  m.ctl.StartRecording();
  ASSERT_EQ(m.errors.size(), 1);
  EXPECT_EQ(uint32_t(m.errors[0][0].toInt()), 0x80040012u);
  EXPECT_TRUE(m.errors[0][1].toString().startsWith("Stream cannot be Created. Error ("));
  EXPECT_EQ(m.ctl.State(), LumoCtl::scRunning);
  const auto existing = dir / "existing.wav";
  testaudio::spit(existing, "x");
  m.ctl.setFileName(QString::fromStdString(existing.string()));
  m.ctl.StartRecording();
  ASSERT_EQ(m.errors.size(), 2);
  EXPECT_EQ(uint32_t(m.errors[1][0].toInt()), 0x8004000Fu);
  EXPECT_EQ(m.ctl.State(), LumoCtl::scRunning);

  ASSERT_TRUE(QTest::qWaitFor([&] { return lit(m.ctl, false, 8); }, 5000)) << "no tone heard";
  const auto take = dir / "take.wav";
  m.ctl.setFileName(QString::fromStdString(take.string()));
  int before = m.states.size();
  m.ctl.StartRecording();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !saved.isEmpty() && saved.last()[0].toDouble() >= 2.5 * 11025; }, 8000));
  m.ctl.StopRecording();
  EXPECT_EQ(m.stateList(before), (std::vector<int>{2, 3, 1}));
  auto bytes = testaudio::slurp(take);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(double(le32(bytes, 40)), saved.last()[0].toDouble());
  EXPECT_EQ(le32(bytes, 40), bytes.size() - 44);
  EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
  EXPECT_NEAR(m.ctl.SavedTime(LumoCtl::rtfcSimple)[0], (bytes.size() - 44) / 11025.0, 1e-3);
  std::string stat;
  testaudio::run("sox '" + take.string() + "' -n stat 2>&1", &stat);
  std::smatch rms, freq;
  ASSERT_TRUE(std::regex_search(stat, rms, std::regex(R"(RMS\s+amplitude:\s+([0-9.]+))"))) << stat;
  ASSERT_TRUE(std::regex_search(stat, freq, std::regex(R"(Rough\s+frequency:\s+([0-9]+))")));
  EXPECT_NEAR(std::stod(rms[1]), 0.5 / std::sqrt(2.0), 0.04);
  EXPECT_NEAR(std::stod(freq[1]), 440, 15);

  const auto second = dir / "second.wav";
  m.ctl.setFileName(QString::fromStdString(second.string()));
  m.ctl.StartRecording();
  ASSERT_EQ(m.ctl.State(), LumoCtl::scSaving);
  m.ctl.StartPlaying();
  ASSERT_EQ(m.errors.size(), 3);
  EXPECT_EQ(uint32_t(m.errors[2][0].toInt()), 0x80040005u);
  const int savedBefore = saved.size();
  ASSERT_TRUE(QTest::qWaitFor([&] { return saved.size() > savedBefore; }, 3000));
  before = m.states.size();
  m.ctl.StopVU();
  EXPECT_EQ(m.stateList(before), (std::vector<int>{3, 1, 0}));
  bytes = testaudio::slurp(second);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(le32(bytes, 40), bytes.size() - 44);
  EXPECT_EQ(double(le32(bytes, 40)), saved.last()[0].toDouble());
}

// A twelve-second file plays to its last second and ends by itself, also while the meter
// captures at the same time.
TEST(MeterSound, PlaybackReachesTheOutputWholeAndEndsByItselfOrLoopsWithoutGaps) {
  REQUIRE_SOUND_SERVER();
  testaudio::run("pactl set-sink-volume @DEFAULT_SINK@ 100%");
  testaudio::TempDir dir;
  constexpr int kSeconds = 12;
  const auto song = toneFile(dir / "song.wav", kSeconds);
  Meter m(LumoCtl::qc44S16);
  QSignalSpy peaks(&m.ctl, &LumoCtl::PeakValues);
  m.ctl.StartVU();
  ASSERT_EQ(m.ctl.State(), LumoCtl::scRunning);
  m.toTheSpeaker();
  ASSERT_EQ(m.ctl.SoundDriverType(m.ctl.SoundDriver()), LumoCtl::sdtcOutput);
  m.ctl.setFileName(QString::fromStdString(song.string()));

  testaudio::MonitorRecorder rec;
  ASSERT_TRUE(rec.ok()) << rec.error();
  const int before = m.states.size();
  m.ctl.StartPlaying();
  ASSERT_TRUE(m.errors.isEmpty()) << m.errors[0][1].toString().toStdString();
  EXPECT_EQ(m.ctl.FileQualityCode(), "4S16");
  m.ctl.GetFileQuality();
  EXPECT_EQ(m.ctl.Quality(), LumoCtl::qc44S16);
  m.ctl.StartRecording();
  ASSERT_EQ(m.errors.size(), 1);
  EXPECT_EQ(uint32_t(m.errors[0][0].toInt()), 0x80040002u);

  const int peaksBefore = peaks.size();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return m.ctl.State() == LumoCtl::scRunning && m.stateList(before).size() >= 4; },
      (kSeconds + 6) * 1000));
  EXPECT_EQ(m.stateList(before), (std::vector<int>{4, 5, 1, 1}));
  EXPECT_GT(peaks.size() - peaksBefore, 100);
  rec.recordMore(4410);
  const Audio heard = rec.stop();

  // The tone is there at its level, for the whole length of the file.
  const ToneBlocks tone = toneBlocks(heard);
  EXPECT_NEAR(tone.loudest, 0.5, 0.05);
  EXPECT_GE(tone.frames, int64_t(44100 * (kSeconds - 0.05)));
  EXPECT_LE(tone.frames, int64_t(44100 * (kSeconds + 0.05)));
  m.ctl.StopVU();

  // Looped, a one-second file (a whole number of cycles) plays on without a gap at the seams
  // until it is stopped.
  m.ctl.setFileName(QString::fromStdString(toneFile(dir / "loop.wav", 1).string()));
  testaudio::MonitorRecorder loopRec;
  ASSERT_TRUE(loopRec.ok()) << loopRec.error();
  const int loopBefore = m.states.size();
  m.ctl.StartPlaying(true);
  ASSERT_EQ(m.ctl.State(), LumoCtl::scPlaying);
  const int64_t start = loopRec.frames();
  ASSERT_TRUE(QTest::qWaitFor([&] { return loopRec.frames() - start >= 44100 * 4; }, 10000));
  m.ctl.StopPlaying();
  EXPECT_EQ(m.stateList(loopBefore), (std::vector<int>{4, 5, 0, 0}));
  const ToneBlocks loop = toneBlocks(loopRec.stop());
  ASSERT_GE(loop.first, 0) << "nothing heard";
  EXPECT_GT(loop.last - loop.first, 44100 * 2) << "the loop did not go on";
  EXPECT_EQ(loop.frames, loop.last - loop.first + 441) << "a gap in the looped tone";
}

}  // namespace
