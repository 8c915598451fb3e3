// WavePlayer without a sound device: the format lets and status items, opening, deleting and
// saving, the error texts; and the wave set-up list.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "TestAudio.h"
#include "WavePlayer.h"
#include "WaveSetup.h"
#include "bass.h"

using recorder::WavePlayer;

namespace {

TEST(WavePlayer, FormatLetsTakeOnlyTheirValuesAndAverageBytesFollow) {
  WavePlayer wp;  // a new recording: 11025 Hz, mono, 8 bits
  EXPECT_EQ(wp.samplerate(), 11025);
  EXPECT_EQ(wp.AvgBytesPerSecond(), 11025);
  wp.setSamplerate(48000);
  wp.setChannels(3);
  wp.setBitsPerSample(24);
  EXPECT_EQ(wp.samplerate(), 11025);
  EXPECT_EQ(wp.Channels(), 1);
  EXPECT_EQ(wp.BitsPerSample(), 8);
  wp.setSamplerate(22050);
  wp.setChannels(2);
  wp.setBitsPerSample(16);
  EXPECT_EQ(wp.AvgBytesPerSecond(), 16 / 8 * 2 * 22050);
  EXPECT_EQ(wp.FormatTag(), 1);
  EXPECT_THROW(wp.setFormatTag(2), recorder::WaveError);  // only PCM is recorded
}

TEST(WavePlayer, OpensDeletesAndSavesWhatSoxReadsBackAndSaysWhyASaveFailed) {
  testaudio::TempDir dir;
  const auto in = dir / "in.wav";
  // Two seconds: one of 440 Hz, one of silence.
  testaudio::writeWav(in, testaudio::makeAudio(22050, 2, 44100, [](int64_t f, int) {
                        return f < 22050 ? testaudio::sine(440, 0.5, f, 22050) : 0.0f;
                      }));
  WavePlayer wp;
  wp.OpenFile(in.string());
  EXPECT_EQ(wp.length(), 2000);
  EXPECT_EQ(wp.samplerate(), 22050);
  EXPECT_EQ(wp.Channels(), 2);
  EXPECT_EQ(wp.BitsPerSample(), 16);
  EXPECT_EQ(wp.FileName(), in.string());
  // A recording with audio keeps its format: its bytes were made in it.
  EXPECT_THROW(wp.setSamplerate(44100), recorder::WaveError);

  wp.delete_(-5, 500);  // a start outside the recording is 0
  EXPECT_EQ(wp.length(), 1500);
  wp.delete_(1000, 10'000);  // to the end at most
  EXPECT_EQ(wp.length(), 1000);
  // The opened file stays as it was until it is saved.
  EXPECT_EQ(testaudio::soxi(in, "s"), "44100");

  wp.SaveAs("");  // nothing
  const auto out = dir / "out.wav";
  wp.SaveAs(out.string());
  EXPECT_EQ(wp.FileName(), out.string());
  EXPECT_EQ(testaudio::soxi(out, "s"), "22050");
  const auto a = testaudio::readAudio(out);
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 440, 0, 11025), 0.5, 0.01);  // the tone stayed

  try {
    wp.SaveAs((dir / "no-such-folder" / "take.wav").string());
    FAIL() << "the save should fail";
  } catch (const recorder::WaveError& e) {
    EXPECT_EQ(e.source, "WavePlayer::Save");
    EXPECT_EQ(e.number, recorder::kErrCannotSave);
  }
  EXPECT_THROW(wp.OpenFile((dir / "missing.wav").string()), recorder::WaveError);

  // Saved to the file it was opened from, an unedited recording leaves it untouched.
  const std::string before = testaudio::slurp(out);
  wp.OpenFile(out.string());
  wp.Save();
  EXPECT_TRUE(testaudio::slurp(out) == before);
  EXPECT_FALSE(std::filesystem::exists(out.string() + ".part"));
}

// Without an output, Play says so; on the silent device, a range that has played to its end
// ends the wait, as the stop controls do; both leave the recording finished.
TEST(WavePlayer, PlayWithoutAnOutputSaysSoAndEndsAtTheRangesEndOrWhenStopped) {
  std::vector<std::string> shown;
  auto& hooks = recorder::wavePlayerHooks();
  hooks = {};
  hooks.message = [&](const std::string& t) { shown.push_back(t); };
  recorder::tickCount = 7;
  WavePlayer().Play(-1, 0);
  EXPECT_EQ(recorder::tickCount, 0);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Non è possibile fare il playback");
  shown.clear();

  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  testaudio::TempDir dir;
  const auto in = dir / "in.wav";
  testaudio::writeWav(in, testaudio::makeAudio(22050, 1, 22050 * 3 / 10, [](int64_t f, int) {
                        return testaudio::sine(440, 0.5, f, 22050);
                      }));
  WavePlayer wp;
  wp.OpenFile(in.string());
  int passes = 0;
  hooks.doEvents = [&] {
    ++passes;
    usleep(5000);
  };
  recorder::recordFinished = false;
  const auto started = std::chrono::steady_clock::now();
  wp.Play(100, 0);  // from 100 ms to the end
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(recorder::recordFinished);
  EXPECT_TRUE(shown.empty());
  // It waited for the 200 ms to play (less what the mixer reads ahead), pumping the events.
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_GT(passes, 1);
  EXPECT_GT(wp.Position(), 100);  // it followed the stream

  // A stop request ends it early.
  passes = 0;
  hooks.doEvents = [&] {
    if (++passes == 3) recorder::stopRequested = true;
    usleep(5000);
  };
  recorder::recordFinished = false;
  wp.Play();
  EXPECT_TRUE(recorder::recordFinished);
  EXPECT_EQ(passes, 4);  // the stop's pass and one more
  hooks = {};
  BASS_Free();
}

TEST(WaveErrors, TheFirstWordIsCutOffUnlessItIsTheOnlyOne) {
  std::string first;
  EXPECT_EQ(recorder::afterFirstWord("Save: the file cannot be written.", &first),
            "the file cannot be written.");
  EXPECT_EQ(first, "Save:");
  EXPECT_EQ(recorder::afterFirstWord("Unrecognised", &first), "Unrecognised");
  EXPECT_EQ(first, "");
  const recorder::WaveError e(recorder::kErrCannotRecord, "WavePlayer::Record", "no server");
  EXPECT_EQ(e.description, "nothing can be recorded from the chosen source. (no server)");
}

TEST(WaveSetup, TwelveItemsTheFirstSettingNothing) {
  const auto& items = recorder::kWaveSetupItems;
  EXPECT_STREQ(items[0].text, "11KHz @ 8bit Mono");
  EXPECT_FALSE(items[0].format);
  EXPECT_STREQ(items[11].text, "44KHz @ 16bit Stereo");
  for (size_t i = 1; i < items.size(); ++i) {
    const auto& f = *items[i].format;
    const int rate = i < 4 ? 11025 : i < 8 ? 22050 : 44100;
    EXPECT_EQ(f.rate, rate) << items[i].text;
    EXPECT_EQ(f.channels, std::string(items[i].text).ends_with("Stereo") ? 2 : 1);
    EXPECT_EQ(f.bits, std::string(items[i].text).find("16bit") != std::string::npos ? 16 : 8);
  }
}

TEST(WavHeader, SaysWhatSoxReads) {
  testaudio::TempDir dir;
  const auto path = dir / "h.wav";
  const audiolib::CaptureFormat f{22050, 2, 8};
  auto bytes = recorder::wavHeader(f, 400);
  bytes.resize(bytes.size() + 400, 0x80);
  testaudio::spit(path, std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(testaudio::soxi(path, "rcbs"), "22050 2 8 200");
}

}  // namespace
