// The two needle meters of "   Level Stereo Recording   ": the level of each channel of the
// bytes the meter control just metered, turned into a needle value (18 at silence … 75 at
// full scale), smoothed over four updates, and drawn as a needle from a pivot at twice that
// many degrees.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <span>

namespace needle {

// Needle values {left, right} of the stretch fromPos … toPos of `values` (the bytes of a
// capture in the format of `quality`, a QualityConstants bit), with the calibration factor:
// level = round(rms × factor), needle = round(level ÷ 128 × 75 + 18), at most 75. The
// stretch is read frame by frame from fromPos; a position past the end wraps as the meter's
// own computation does. {18, 18} for an empty stretch.
std::array<int, 2> needleValues(std::span<const uint8_t> values, int fromPos, int toPos,
                                int quality, float factor);

// The last four shown values of one needle: the value shown is round((new + the three
// previous shown values) ÷ 4), ties to the even one.
class NeedleSmoother {
 public:
  int push(int value);

 private:
  std::array<int, 4> history_{};
};

// The needle's angle in radians for a shown value: 2 × value degrees.
double needleAngle(int shown);

}  // namespace needle

// One needle meter: a dial face and a needle from `pivot` at the angle of the shown value.
class NeedlePicture : public QWidget {
  Q_OBJECT
 public:
  explicit NeedlePicture(QWidget* parent = nullptr);
  void setPivot(QPointF pivot) { pivot_ = pivot; }
  QPointF pivot() const { return pivot_; }
  // Clears the picture and draws the needle at `shown`.
  void setShown(int shown);
  int shown() const { return shown_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPointF pivot_;
  int shown_ = 18;
};
