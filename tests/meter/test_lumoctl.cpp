// The meter control without sound: refusals and their error numbers, the layout and the
// oscilloscope picture it draws, its stored properties, the Designer plugin, and a host that
// drives it by name.
#include <gtest/gtest.h>

#include <QPluginLoader>
#include <QSettings>
#include <QSignalSpy>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <functional>
#include <tuple>

#include "LumoCtl.h"
#include "TestAudio.h"
#include "modRender.h"

namespace {

TEST(Meter, RefusalsRaiseTheirNumberAndChangeNothing) {
  const std::tuple<const char*, std::function<void(LumoCtl&)>, uint32_t, const char*> refusals[] = {
      {"StopVU", [](LumoCtl& m) { m.StopVU(); }, 0x80040001, "Control is not running"},
      {"StartRecording", [](LumoCtl& m) { m.StartRecording(3); }, 0x80040003,
       "Control can not record when is not running. Use StartVU first."},
      {"StopRecording", [](LumoCtl& m) { m.StopRecording(); }, 0x80040004,
       "Control is not saving. Use StartSave first"},
      {"StopPlaying", [](LumoCtl& m) { m.StopPlaying(); }, 0x80040006, "Control is not playing"},
      {"Quality3", [](LumoCtl& m) { m.setQuality(3); }, 0x80040007, "Quality setting out of range"},
      {"Quality4096", [](LumoCtl& m) { m.setQuality(4096); }, 0x80040007,
       "Quality setting out of range"},
      {"Style2", [](LumoCtl& m) { m.setStyle(2); }, 0x80040008, "Style setting out of range"},
      {"Resolution0", [](LumoCtl& m) { m.setResolution(0); }, 0x80040009,
       "Resolution setting out of range"},
      {"GetFileQualityWithoutFile", [](LumoCtl& m) { m.GetFileQuality(); }, 0x80040012,
       "No WAV file is loaded"}};
  for (const auto& [name, act, number, message] : refusals) {
    SCOPED_TRACE(name);
    LumoCtl meter;
    QSignalSpy errors(&meter, &LumoCtl::Error);
    QSignalSpy states(&meter, &LumoCtl::StateChanged);
    act(meter);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(std::tuple(uint32_t(errors[0][0].toInt()), errors[0][1].toString()),
              std::tuple(number, QString(message)));
    EXPECT_EQ(std::tuple(meter.Quality(), meter.Style(), meter.Resolution(), meter.State()),
              std::tuple(LumoCtl::qc11S08, LumoCtl::scVU, LumoCtl::rcGood, LumoCtl::scIdle));
    EXPECT_TRUE(states.isEmpty());
  }
}

// A driver or calibration out of range is ignored without an error; a refused Resolution is
// still marked changed for the host.
TEST(Meter, OutOfRangeDriverAndCalibrationAreIgnoredSilently) {
  LumoCtl meter;
  QSignalSpy errors(&meter, &LumoCtl::Error);
  QSignalSpy changed(&meter, &LumoCtl::PropertyChanged);
  meter.setResolution(-1);
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toString(), "Resolution");
  errors.clear();
  const int driver = meter.SoundDriver();
  for (int bad : {0, -1, meter.SoundDriversCount() + 1}) meter.setSoundDriver(bad);
  EXPECT_EQ(meter.SoundDriver(), driver);
  meter.setCalibration(2.5f);
  for (float bad : {0.0f, -1.0f}) meter.setCalibration(bad);
  EXPECT_EQ(meter.Calibration(), 2.5f);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(meter.SoundDriverName(0), "");
  EXPECT_EQ(meter.SoundDriverDescription(meter.SoundDriversCount() + 1), "");
  EXPECT_EQ(meter.SoundDriverType(0), 0);
}

// A new orientation swaps the control's sides (the same one again does not). LED geometry:
// round(165 / 32 − 1) = 4 pixels plus a one-pixel gap per LED, rows of half the width (or
// height), the first LED at the bottom (vertical) or the left (horizontal).
TEST(Meter, OrientationSwapsTheSidesAndLaysTheLedRowsOut) {
  LumoCtl meter;
  meter.resize(40, 165);
  for (const auto& [orientation, size] : {std::pair{LumoCtl::ocHorizontal, QSize(165, 40)},
                                          {LumoCtl::ocHorizontal, QSize(165, 40)},
                                          {LumoCtl::ocVertical, QSize(40, 165)}}) {
    meter.setOrientation(orientation);
    EXPECT_EQ(meter.size(), size);
  }
  const auto v = lumo::layoutLeds(40, 165, 32, LumoCtl::ocVertical);
  ASSERT_EQ(v.vuL.size(), 32u);
  EXPECT_EQ(v.vuL[31], QRect(0, 0, 20, 4));
  EXPECT_EQ(v.vuL[0], QRect(0, 155, 20, 4));
  EXPECT_EQ(v.vuR[0], QRect(20, 155, 20, 4));
  const auto h = lumo::layoutLeds(165, 41, 32, LumoCtl::ocHorizontal);
  EXPECT_EQ(h.vuL[0], QRect(0, 0, 4, 20));
  EXPECT_EQ(h.vuL[31], QRect(155, 0, 4, 20));
  EXPECT_EQ(h.vuR[31], QRect(155, 21, 4, 20));
  EXPECT_TRUE(lumo::layoutLeds(40, 165, 0, LumoCtl::ocVertical).vuL.empty());
}

TEST(Meter, ColourTablesAreGreenYellowRedFromTheBottomOnTheBackground) {
  const QColor green(0, 255, 0), yellow(255, 255, 0), red(255, 0, 0);
  const int splits[][4] = {{32, 17, 9, 6}, {10, 6, 3, 1}};  // LEDs, then green, yellow, red ones
  for (const auto& [leds, greens, yellows, reds] : splits) {
    const auto t = lumo::buildColourTables(leds, lumo::MeterColours{});
    ASSERT_EQ(int(t.on.size()), leds);
    int i = 0;
    const std::pair<QColor, int> bands[] = {{green, greens}, {yellow, yellows}, {red, reds}};
    for (const auto& [colour, count] : bands)
      for (int n = 0; n < count; ++n, ++i) EXPECT_EQ(t.on[size_t(i)], colour) << leds << ": " << i;
    EXPECT_EQ(t.off[0], QColor(0, 128, 0));
    EXPECT_EQ(t.off[size_t(leds - 1)], QColor(128, 0, 0));
    EXPECT_EQ(t.traceLeft, green);
    EXPECT_EQ(t.traceRight, yellow);
  }
  // The background: the button face of the palette, or an RGB value.
  QPalette palette;
  palette.setColor(QPalette::Button, QColor(1, 2, 3));
  EXPECT_EQ(lumo::oleColour(0x8000000F, palette), QColor(1, 2, 3));
  EXPECT_EQ(lumo::oleColour(0x123456, palette), QColor(0x56, 0x34, 0x12));
}

// The oscilloscope picture is the stereo background (lines at a quarter, half and three
// quarters of the height) for a stereo quality, the mono one (the middle line only) else.
TEST(Meter, OscilloscopeBackgroundFollowsTheQuality) {
  LumoCtl meter;
  meter.resize(320, 200);
  meter.setStyle(LumoCtl::scOsc);
  auto* picOsc = meter.findChild<QWidget*>("picOsc");
  ASSERT_TRUE(picOsc);
  const QColor grey(128, 128, 128);
  meter.setQuality(LumoCtl::qc44S16);
  meter.show();
  EXPECT_TRUE(picOsc->isVisible());
  QImage img = picOsc->grab().toImage();
  EXPECT_EQ(img.pixelColor(160, 50), grey);
  EXPECT_EQ(img.pixelColor(160, 100), grey);
  meter.setQuality(LumoCtl::qc44M16);
  img = picOsc->grab().toImage();
  EXPECT_EQ(img.pixelColor(160, 50), QColor(Qt::black));
  EXPECT_EQ(img.pixelColor(160, 100), grey);
  meter.setStyle(LumoCtl::scVU);
  EXPECT_FALSE(picOsc->isVisible());
}

TEST(Meter, PropertiesRoundTripAndDefaultsAreNotStored) {
  testaudio::TempDir dir;
  QSettings settings(QString::fromStdString((dir / "bag.ini").string()), QSettings::IniFormat);
  LumoSettingsBag bag(settings, "lumo1");
  // Every stored property away from its default.
  // clang-format off
  const std::pair<const char*, QVariant> stored[] = {
      {"Calibration", 2.5f},         {"Orientation", LumoCtl::ocHorizontal},
      {"Quality", LumoCtl::qc44S16}, {"Style", LumoCtl::scOsc},
      {"FileName", "take.wav"},      {"Resolution", LumoCtl::rcLow},
      {"Background", "back.png"},    {"RedOFF", 1},
      {"RedON", 2},                  {"GreenOFF", 3},
      {"GreenON", 4},                {"YellowOFF", 5},
      {"YellowON", 6},               {"EnableRendering", false},
      {"NumVUs", 10},                {"BackgroundColor", 0x123456}};
  // clang-format on
  LumoCtl a;
  for (const auto& [name, value] : stored) ASSERT_TRUE(a.setProperty(name, value)) << name;
  a.WriteProperties(bag);
  settings.sync();
  settings.beginGroup("lumo1");
  EXPECT_EQ(settings.childKeys().size(), 16);
  settings.endGroup();

  LumoCtl b;
  b.ReadProperties(bag);
  for (const auto& [name, value] : stored) {
    EXPECT_EQ(b.property(name), a.property(name)) << name;
    EXPECT_NE(b.property(name), LumoCtl().property(name)) << name;
  }

  // A control at its defaults removes every stored value, and reads back as a new one.
  LumoCtl fresh;
  fresh.WriteProperties(bag);
  settings.beginGroup("lumo1");
  EXPECT_TRUE(settings.childKeys().isEmpty());
  settings.endGroup();
  b.ReadProperties(bag);
  for (const auto& [name, value] : stored)
    EXPECT_EQ(b.property(name), fresh.property(name)) << name;
  EXPECT_EQ(b.NumVUs(), 32);
  EXPECT_EQ(b.BackgroundColor(), 0x8000000FLL);
}

TEST(Meter, DesignerPluginCreatesTheControl) {
  QPluginLoader loader(LUMO_DESIGNER_PLUGIN);
  auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
  ASSERT_TRUE(plugin) << loader.errorString().toStdString();
  EXPECT_EQ(plugin->name(), "LumoCtl");
  EXPECT_TRUE(plugin->domXml().contains("class=\"LumoCtl\""));
  std::unique_ptr<QWidget> w(plugin->createWidget(nullptr));
  EXPECT_TRUE(qobject_cast<LumoCtl*>(w.get()));
}

TEST(Meter, HostDrivesItByName) {
  LumoCtl meter;
  QObject* host = &meter;
  QSignalSpy errors(&meter, &LumoCtl::Error);
  QSignalSpy changed(&meter, &LumoCtl::PropertyChanged);
  EXPECT_TRUE(host->setProperty("Quality", 2048));
  EXPECT_EQ(meter.Quality(), 2048);
  EXPECT_EQ(changed.value(0).value(0).toString(), "Quality");
  EXPECT_TRUE(host->property("Version").isValid());
  EXPECT_TRUE(QMetaObject::invokeMethod(host, "StopVU"));
  EXPECT_TRUE(QMetaObject::invokeMethod(host, "StartRecording", Q_ARG(int, 5)));
  EXPECT_EQ(errors.size(), 2);  // both calls arrived: their refusals are tested above
  QVector<float> full;
  EXPECT_TRUE(QMetaObject::invokeMethod(host, "SavedTime", Q_RETURN_ARG(QVector<float>, full),
                                        Q_ARG(int, LumoCtl::rtfcFull)));
  EXPECT_EQ(full.size(), 3);
}

// Seconds (rounded), minutes and hours, or the seconds alone, of bytes of the capture format.
TEST(Meter, SavedTimeFromTheBytesOfTheCaptureFormat) {
  const lumo::WaveFormat f{1, 2, 44100, 176400, 4, 16, 0};
  const std::tuple<double, int, QVector<float>> cases[] = {{3725.4, LumoCtl::rtfcFull, {5, 2, 1}},
                                                           {59.6, LumoCtl::rtfcFull, {0, 1, 0}},
                                                           {3599.6, LumoCtl::rtfcFull, {0, 0, 1}},
                                                           {2.5, LumoCtl::rtfcSimple, {2.5f}},
                                                           {2.5, 2, {}}};
  for (const auto& [seconds, format, expected] : cases)
    EXPECT_EQ(lumo::SavedTimeOf(seconds * 176400, f, format), expected) << seconds << " " << format;
}

}  // namespace
