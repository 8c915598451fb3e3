#include "ControlPanel.h"

#include <algorithm>

namespace player {

namespace {
constexpr std::array<int, 8> kVseqStart = {0, 4, 4, 10, 10, 10, 10, 3};
constexpr std::array<int, 8> kVeq1Start = {0, 0, 9, 19, 19, 19, 19, 19};
}  // namespace

ControlRange rangeOf(Ctl control) {
  switch (control) {
    case Ctl::vcompr:
    case Ctl::Slider3:
      return {0, 10};
    case Ctl::vseq:
    case Ctl::Veq1:
      return {0, 19};
    case Ctl::SliderBalance:
      return {-100, 100};
    default:
      return {0, 1};
  }
}

ControlPanel::ControlPanel() {
  for (Ctl box : {Ctl::Chkrem, Ctl::Chkcmp, Ctl::Chklow, Ctl::chkEqualizer})
    states_[{box, 0}] = {0, true};
  states_[{Ctl::vcompr, 0}] = {10, true};
  // "BassBooster" is live only while the remover is on.
  states_[{Ctl::Slider3, 0}] = {10, false};
  states_[{Ctl::SliderBalance, 0}] = {0, true};
  for (int i = 0; i < 8; ++i) {
    states_[{Ctl::vseq, i}] = {kVseqStart[size_t(i)], true};
    states_[{Ctl::Veq1, i}] = {kVeq1Start[size_t(i)], true};
  }
}

ControlPanel::State& ControlPanel::at(Ctl control, int index) {
  return states_[{control, index}];
}

const ControlPanel::State& ControlPanel::at(Ctl control, int index) const {
  static const State none{};
  auto it = states_.find({control, index});
  return it == states_.end() ? none : it->second;
}

int ControlPanel::value(Ctl control, int index) const {
  return at(control, index).value;
}

void ControlPanel::setValue(Ctl control, int value, int index) {
  const ControlRange r = rangeOf(control);
  value = std::clamp(value, r.min, r.max);
  State& s = at(control, index);
  if (s.value == value) return;
  s.value = value;
  changed(control, index);
}

bool ControlPanel::enabled(Ctl control, int index) const {
  return at(control, index).enabled;
}

void ControlPanel::setEnabled(Ctl control, bool enabled, int index) {
  at(control, index).enabled = enabled;
}

void ControlPanel::click(Ctl box, bool checked) {
  at(box, 0).value = checked ? 1 : 0;
  if (!player_) return;
  switch (box) {
    case Ctl::Chkrem:
      player_->Chkrem_Click();
      break;
    case Ctl::Chkcmp:
      player_->Chkcmp_Click();
      break;
    case Ctl::Chklow:
      player_->Chklow_Click();
      break;
    case Ctl::chkEqualizer:
      player_->chkEqualizer_Click();
      break;
    default:
      break;
  }
}

void ControlPanel::changed(Ctl control, int index) {
  if (!player_) return;
  switch (control) {
    case Ctl::vcompr:
      player_->vcompr_Change(index);
      break;
    case Ctl::Slider3:
      player_->Slider3_Change(index);
      break;
    case Ctl::vseq:
      player_->vseq_Change(index);
      break;
    case Ctl::Veq1:
      player_->Veq1_Change(index);
      break;
    case Ctl::SliderBalance:
      player_->SliderBalance_Change();
      break;
    default:
      break;  // check boxes change without a click
  }
}

}  // namespace player
