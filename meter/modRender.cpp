// modRender: level, trace, colour and geometry arithmetic of the meter (see modRender.h).
#include "modRender.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace lumo {

namespace {

// Nearest whole number, ties to the even one (the rounding of every "nearest" here).
int64_t roundEven(double v) {
  return int64_t(std::nearbyint(v));
}

// Byte `pos` of the array, positions past the end wrapped by whole frames (`usable` is the
// array's length cut to whole frames, so a wrapped frame stays a frame).
uint8_t byteAt(std::span<const uint8_t> bytes, int64_t pos, int64_t usable) {
  return bytes[size_t(pos % usable)];
}

// The value the meter takes of the sample at `pos`: 128 − byte for 8 bit, the signed high
// byte (rounded with the low one) for 16 bit.
int sampleValue(std::span<const uint8_t> bytes, int64_t pos, int64_t usable, int bits) {
  if (bits == 8) return 128 - int(byteAt(bytes, pos, usable));
  const double lo = byteAt(bytes, pos, usable);
  const double hi = byteAt(bytes, pos + 1, usable);
  int v = int(roundEven(lo / 256 + hi));
  if (v > 127) v -= 256;
  return v;
}

// The array's length cut to whole frames; 0 when it holds none.
int64_t usableLength(std::span<const uint8_t> bytes, int blockAlign) {
  return int64_t(bytes.size()) / blockAlign * blockAlign;
}

}  // namespace

SampleLayout layoutOfCode(std::string_view code) {
  if (code.size() < 4) return {};
  int channels = 0;
  if (code[1] == 'M') channels = 1;
  if (code[1] == 'S') channels = 2;
  int bits = 0;
  if (code.substr(2, 2) == "08") bits = 8;
  if (code.substr(2, 2) == "16") bits = 16;
  if (channels == 0 || bits == 0) return {};
  return {channels, bits};
}

int32_t alignToFrame(int32_t pos, int blockAlign) {
  if (blockAlign <= 1 || pos <= 0) return std::max(pos, 0);
  return int32_t((int64_t(pos) + blockAlign - 1) / blockAlign * blockAlign);
}

std::optional<Levels> vuLevels(std::span<const uint8_t> bytes, std::string_view code,
                               int32_t FromPos, int32_t ToPos, int32_t PeakStep, int NumVUs,
                               float Calibration) {
  const SampleLayout layout = layoutOfCode(code);
  if (!layout.valid() || PeakStep <= 0) return std::nullopt;
  const int64_t usable = usableLength(bytes, layout.blockAlign());
  if (usable == 0) return Levels{};
  const int bytesPerSample = layout.bits / 8;
  int64_t sumL = 0, sumR = 0, count = 0;
  for (int64_t pos = alignToFrame(FromPos, layout.blockAlign()); pos <= ToPos; pos += PeakStep) {
    ++count;
    const int l = sampleValue(bytes, pos, usable, layout.bits);
    sumL += l * l;
    if (layout.channels == 2) {
      const int r = sampleValue(bytes, pos + bytesPerSample, usable, layout.bits);
      sumR += r * r;
    }
  }
  if (layout.channels == 1) sumR = sumL;
  if (count == 0) return Levels{};
  const double scale = double(NumVUs) * double(Calibration) / 128;
  const double rmsL = std::sqrt(double(sumL) / double(count));
  const double rmsR = std::sqrt(double(sumR) / double(count));
  return Levels{int(roundEven(rmsL * scale)), int(roundEven(rmsR * scale))};
}

namespace {

// Pushes `level` in front of the six-entry history and returns the mean of the six.
int pushLevel(std::array<int16_t, 6>& history, int level) {
  std::move_backward(history.begin(), history.end() - 1, history.end());
  history[0] = int16_t(std::clamp(level, -32768, 32767));
  const int sum = std::accumulate(history.begin(), history.end(), 0);
  return int(roundEven(double(sum) / 6));
}

LedRun runBetween(int shown, int previous, int NumVUs) {
  LedRun run;
  run.on = shown > previous;
  run.from = std::max(std::min(shown, previous), 0);
  run.to = std::min(std::max(shown, previous), NumVUs - 1);
  return run;
}

}  // namespace

LedUpdate ShowLevels(LevelHistory& history, int L, int R, int NumVUs) {
  const int shownL = pushLevel(history.left, L);
  const int shownR = pushLevel(history.right, R);
  LedUpdate update{runBetween(shownL, history.previousLeft, NumVUs),
                   runBetween(shownR, history.previousRight, NumVUs)};
  history.previousLeft = shownL;
  history.previousRight = shownR;
  return update;
}

std::optional<OscTrace> oscTrace(std::span<const uint8_t> bytes, std::string_view code,
                                 int32_t FromPos, int32_t ToPos, int32_t PeakStep,
                                 float Calibration, int W, int H) {
  const SampleLayout layout = layoutOfCode(code);
  if (!layout.valid() || PeakStep <= 0) return std::nullopt;
  OscTrace trace;
  const bool stereo = layout.channels == 2;
  // Mono draws around the middle over the full height; stereo gives each channel a band of
  // half the height around its own centre line.
  const double band = stereo ? H / 2.0 : double(H);
  const double centreL = stereo ? H / 4.0 : H / 2.0;
  const double centreR = 3 * H / 4.0;
  trace.left << QPoint(0, int(centreL));
  if (stereo) trace.right << QPoint(0, int(centreR));
  const int64_t usable = usableLength(bytes, layout.blockAlign());
  const int32_t from = alignToFrame(FromPos, layout.blockAlign());
  if (usable == 0 || ToPos <= from) return trace;
  const double span = double(ToPos - from);
  const int bytesPerSample = layout.bits / 8;
  for (int64_t pos = int64_t(from) + PeakStep; pos <= ToPos; pos += PeakStep) {
    const int x = int(roundEven(double(pos - from) / span * W));
    const int l = sampleValue(bytes, pos, usable, layout.bits);
    trace.left << QPoint(x, int(roundEven(Calibration * l / 256.0 * band + centreL)));
    if (stereo) {
      const int r = sampleValue(bytes, pos + bytesPerSample, usable, layout.bits);
      trace.right << QPoint(x, int(roundEven(Calibration * r / 256.0 * band + centreR)));
    }
  }
  return trace;
}

namespace {
QColor rgbColour(qint64 c) {
  return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}
}  // namespace

ColourTables buildColourTables(int NumVUs, const MeterColours& colours) {
  ColourTables t;
  const int n = std::max(NumVUs, 0);
  const int h = int(roundEven(NumVUs / 2.0));
  const int y = int(roundEven(NumVUs / 4.0)) + h + 1;
  t.on.resize(size_t(n));
  t.off.resize(size_t(n));
  for (int i = 0; i < n; ++i) {
    if (i <= h) {
      t.on[size_t(i)] = rgbColour(colours.GreenON);
      t.off[size_t(i)] = rgbColour(colours.GreenOFF);
    } else if (i <= y) {
      t.on[size_t(i)] = rgbColour(colours.YellowON);
      t.off[size_t(i)] = rgbColour(colours.YellowOFF);
    } else {
      t.on[size_t(i)] = rgbColour(colours.RedON);
      t.off[size_t(i)] = rgbColour(colours.RedOFF);
    }
  }
  t.traceLeft = rgbColour(colours.GreenON);
  t.traceRight = rgbColour(colours.YellowON);
  return t;
}

QColor oleColour(qint64 colour, const QPalette& palette) {
  if ((colour & 0xFFFFFF00LL) == 0x80000000LL) {
    switch (colour & 0xFF) {
      case 0x05:
        return palette.color(QPalette::Base);
      case 0x08:
        return palette.color(QPalette::Text);
      case 0x0D:
        return palette.color(QPalette::Highlight);
      case 0x0E:
        return palette.color(QPalette::HighlightedText);
      case 0x0F:
        return palette.color(QPalette::Button);
      case 0x10:
        return palette.color(QPalette::Dark);
      case 0x12:
        return palette.color(QPalette::ButtonText);
      case 0x14:
        return palette.color(QPalette::Light);
      default:
        return palette.color(QPalette::Window);
    }
  }
  return rgbColour(colour);
}

LedGeometry layoutLeds(int W, int H, int NumVUs, int Orientation) {
  LedGeometry g;
  if (NumVUs <= 0) return g;
  g.vuL.resize(size_t(NumVUs));
  g.vuR.resize(size_t(NumVUs));
  if (Orientation == LumoCtl::ocHorizontal) {
    const int w = std::max(int(roundEven(double(W) / NumVUs - 1)), 0);
    const int rowHeight = H / 2;
    for (int i = 0; i < NumVUs; ++i) {
      const int left = i * (w + 1);
      g.vuL[size_t(i)] = QRect(left, 0, w, rowHeight);
      g.vuR[size_t(i)] = QRect(left, H - rowHeight, w, rowHeight);
    }
  } else {
    const int h = std::max(int(roundEven(double(H) / NumVUs - 1)), 0);
    const int rowWidth = W / 2;
    for (int i = 0; i < NumVUs; ++i) {
      const int top = (NumVUs - 1 - i) * (h + 1);
      g.vuL[size_t(i)] = QRect(0, top, rowWidth, h);
      g.vuR[size_t(i)] = QRect(W - rowWidth, top, rowWidth, h);
    }
  }
  return g;
}

int oscBackgroundId(std::string_view code) {
  return code.find('S') != std::string_view::npos ? kOscStereo : kOscMono;
}

namespace {

// Black, grey centre lines (one, or one per channel band and the band border) and a tick
// scale along the left edge.
QImage drawOscBackground(bool stereo) {
  QImage img(320, 200, QImage::Format_RGB32);
  img.fill(Qt::black);
  QPainter p(&img);
  const QColor grey(128, 128, 128);
  p.setPen(grey);
  if (stereo) {
    for (int y : {50, 100, 150}) p.drawLine(0, y, 319, y);
  } else {
    p.drawLine(0, 100, 319, 100);
  }
  for (int y = 0; y < 200; y += 10) p.drawLine(0, y, (y % 50 == 0) ? 8 : 4, y);
  return img;
}

}  // namespace

QImage oscBackground(int id) {
  static const QImage mono = drawOscBackground(false);
  static const QImage stereo = drawOscBackground(true);
  return id == kOscStereo ? stereo : mono;
}

QVector<float> SavedTimeOf(double bytes, const WaveFormat& format, int TimeFormat) {
  const double bytesPerSecond =
      double(format.channels) * double(format.samplesPerSec) * double(format.bitsPerSample) / 8;
  // No capture format yet: nothing was recorded.
  const float seconds = bytesPerSecond > 0 ? float(bytes / bytesPerSecond) : 0.0f;
  if (TimeFormat == LumoCtl::rtfcSimple) return {seconds};
  if (TimeFormat != LumoCtl::rtfcFull) return {};
  const int64_t n = roundEven(seconds);
  const int64_t m = n / 60;
  const int64_t h = m / 60;
  return {float(std::trunc(std::fabs(double(seconds) - 60.0 * double(m)))),
          float(std::llabs(m - 60 * h)), float(h)};
}

}  // namespace lumo
