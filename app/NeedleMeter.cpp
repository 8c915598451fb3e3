#include "NeedleMeter.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <bit>
#include <cmath>

namespace needle {

namespace {

// Format of a capture quality bit: 11 kHz formats are bits 0–3, 22 kHz 4–7, 44 kHz 8–11; in
// each group mono 8, stereo 8, mono 16, stereo 16.
struct Layout {
  int channels = 0;
  int bits = 0;
};
Layout layoutOf(int quality) {
  if (quality <= 0 || quality > 2048 || (quality & (quality - 1)) != 0) return {};
  const int bit = std::countr_zero(unsigned(quality)) % 4;
  return {bit % 2 == 0 ? 1 : 2, bit < 2 ? 8 : 16};
}

}  // namespace

std::array<int, 2> needleValues(std::span<const uint8_t> values, int fromPos, int toPos,
                                int quality, float factor) {
  const Layout layout = layoutOf(quality);
  const int frame = layout.channels * layout.bits / 8;
  if (values.empty() || frame == 0 || fromPos < 0 || toPos < fromPos) return {18, 18};
  const int upper = int(values.size()) - 1;
  auto byteAt = [&](int pos) -> int {
    if (pos > upper) pos = pos - upper + 1;
    return pos >= 0 && pos <= upper ? values[size_t(pos)] : 0;
  };
  // 8-bit samples are unsigned around 128; 16-bit ones are metered by their signed high byte.
  auto sampleAt = [&](int pos) -> int {
    if (layout.bits == 8) return 128 - byteAt(pos);
    const int v = int(std::lrint(byteAt(pos) / 256.0 + byteAt(pos + 1)));
    return v > 127 ? v - 256 : v;
  };
  double sumL = 0, sumR = 0;
  int count = 0;
  const int second = layout.bits / 8;
  for (int pos = fromPos; pos <= toPos; pos += frame) {
    const int l = sampleAt(pos);
    const int r = layout.channels == 2 ? sampleAt(pos + second) : l;
    sumL += l * l;
    sumR += r * r;
    ++count;
  }
  auto needleOf = [&](double sum) {
    const long level = std::lrint(std::sqrt(sum / count) * factor);
    return int(std::min<long>(75, std::lrint(level / 128.0 * 75 + 18)));
  };
  return {needleOf(sumL), needleOf(sumR)};
}

int NeedleSmoother::push(int value) {
  const int shown =
      int(std::lrint((value + history_[0] + history_[1] + history_[2]) / 4.0));  // ties to even
  std::rotate(history_.rbegin(), history_.rbegin() + 1, history_.rend());
  history_[0] = shown;
  return shown;
}

double needleAngle(int shown) {
  return 2 * shown * 0.0174532925199;
}

}  // namespace needle

NeedlePicture::NeedlePicture(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void NeedlePicture::setShown(int shown) {
  if (shown == shown_) return;
  shown_ = shown;
  update();
}

void NeedlePicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), QColor(0xF4, 0xEC, 0xD0));
  const double length = std::min(pivot_.x() - 4, pivot_.y() - 6);
  // The scale: the arc the needle sweeps, 36° (silence) to 150° (full scale), red from 130°.
  auto pointAt = [&](double degrees, double radius) {
    const double a = degrees * 0.0174532925199;
    return QPointF(pivot_.x() - radius * std::cos(a), pivot_.y() - radius * std::sin(a));
  };
  for (int deg = 36; deg <= 150; deg += 6) {
    p.setPen(QPen(deg >= 130 ? QColor(200, 0, 0) : QColor(40, 40, 40), deg % 18 == 0 ? 2 : 1));
    p.drawLine(pointAt(deg, length * 0.86), pointAt(deg, length * (deg % 18 == 0 ? 0.98 : 0.93)));
  }
  p.setPen(QPen(Qt::black, 1.5));
  p.drawLine(pivot_, pointAt(2.0 * shown_, length));
  p.setBrush(Qt::black);
  p.drawEllipse(pivot_, 3, 3);
}
