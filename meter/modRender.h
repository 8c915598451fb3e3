// modRender: the meter's arithmetic, free of widgets. The VU levels of a stretch of captured
// bytes, the six-step level history and which LEDs an update repaints, the oscilloscope trace
// points, the LED colour tables and the LED row geometry, the oscilloscope background pictures
// and the recorded time. Bytes in, values out; the control only paints what these return.
#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QPolygon>
#include <QRect>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "LumoCtl.h"
#include "WavFile.h"

namespace lumo {

// The sample layout a quality code ("1M08" … "4S16") stands for; channels 0 when the code names
// no layout the meter knows (second character neither "M" nor "S", bits neither 8 nor 16).
struct SampleLayout {
  int channels = 0;
  int bits = 0;
  int blockAlign() const { return channels * bits / 8; }
  bool valid() const { return channels > 0; }
};
LUMOMETER_EXPORT SampleLayout layoutOfCode(std::string_view code);

// The first whole frame at or after `pos`: a stretch starting mid-frame would take the right
// channel for the left one.
LUMOMETER_EXPORT int32_t alignToFrame(int32_t pos, int blockAlign);

struct Levels {
  int left = 0;
  int right = 0;
};

// The VU levels of bytes FromPos … ToPos, every PeakStep-th byte: round(rms / 128 × NumVUs ×
// Calibration) per channel, over 8-bit values (128 − byte) or the signed high byte of 16-bit
// samples; mono gives both rows the same level. FromPos is moved to the first whole frame;
// positions past the end wrap to the start by whole frames. Nothing when the code names no
// layout or PeakStep is not positive; a stretch without a frame reads as silence.
LUMOMETER_EXPORT std::optional<Levels> vuLevels(std::span<const uint8_t> bytes,
                                                std::string_view code, int32_t FromPos,
                                                int32_t ToPos, int32_t PeakStep, int NumVUs,
                                                float Calibration);

// The last six levels of each row and the levels last shown.
struct LevelHistory {
  std::array<int16_t, 6> left{};
  std::array<int16_t, 6> right{};
  int previousLeft = 0;
  int previousRight = 0;
  // Forgets the shown levels (capture or playback starts); the history stays.
  void resetShown() { previousLeft = previousRight = 0; }
};

// LEDs from … to of one row, painted with their ON or OFF colours; empty when to < from.
struct LedRun {
  int from = 0;
  int to = -1;
  bool on = false;
  bool empty() const { return to < from; }
};
struct LedUpdate {
  LedRun left;
  LedRun right;
};

// Pushes the new levels into the history and returns the LEDs to repaint: the shown level is
// the mean of the last six; a fall paints shown … previous off, a rise previous … shown on.
// LEDs outside 0 … NumVUs − 1 are left out.
LUMOMETER_EXPORT LedUpdate ShowLevels(LevelHistory& history, int L, int R, int NumVUs);

// The oscilloscope polylines over a W × H surface: mono around the middle, stereo in two
// half-height bands (left above, right below). Nothing when the code names no layout or
// PeakStep is not positive.
struct OscTrace {
  QPolygon left;
  QPolygon right;  // empty for mono
};
LUMOMETER_EXPORT std::optional<OscTrace> oscTrace(std::span<const uint8_t> bytes,
                                                  std::string_view code, int32_t FromPos,
                                                  int32_t ToPos, int32_t PeakStep,
                                                  float Calibration, int W, int H);

// The six LED colours of the control as RGB values (red in the low byte).
struct MeterColours {
  qint64 RedOFF = 128, RedON = 255;
  qint64 GreenOFF = 32768, GreenON = 65280;
  qint64 YellowOFF = 32896, YellowON = 65535;
};
// Per LED its ON and OFF colour: green up to round(N/2), yellow up to round(N/4) + that + 1,
// red above; the traces take GreenON (left, mono) and YellowON (right).
struct ColourTables {
  std::vector<QColor> on;
  std::vector<QColor> off;
  QColor traceLeft;
  QColor traceRight;
};
LUMOMETER_EXPORT ColourTables buildColourTables(int NumVUs, const MeterColours& colours);

// An RGB value with red in the low byte, or a system colour 0x800000nn (0x8000000F is the
// button face) resolved through `palette`.
LUMOMETER_EXPORT QColor oleColour(qint64 colour, const QPalette& palette);

// The LED rectangles of both rows over a W × H control. Vertical: LED N − 1 at the top, rows
// at the left and right edges; horizontal: LED 0 at the left, rows at the top and bottom. One
// pixel between neighbouring LEDs.
struct LedGeometry {
  std::vector<QRect> vuL;
  std::vector<QRect> vuR;
};
LUMOMETER_EXPORT LedGeometry layoutLeds(int W, int H, int NumVUs, int Orientation);

// The oscilloscope backgrounds (320 × 200): 101 mono, 102 stereo.
constexpr int kOscMono = 101;
constexpr int kOscStereo = 102;
LUMOMETER_EXPORT int oscBackgroundId(std::string_view code);
LUMOMETER_EXPORT QImage oscBackground(int id);

// The recorded time of `bytes` bytes of `format`: {seconds} (simple), {seconds, minutes,
// hours} (full, the seconds rounded to the nearest whole one first, ties to even), else empty.
LUMOMETER_EXPORT QVector<float> SavedTimeOf(double bytes, const WaveFormat& format, int TimeFormat);

}  // namespace lumo
