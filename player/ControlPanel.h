// The player's controls without a window: their ranges, initial positions and change
// handlers, for the offline renderer and the tests. Setting a slider runs its handler on the
// player exactly as the window's slider would.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>

#include "AudioPlayer.h"
#include "PlayerControls.h"

namespace player {

struct ControlRange {
  int min;
  int max;
};
// The range of a control (sliders and scroll bars; check boxes are 0..1).
ControlRange rangeOf(Ctl control);

class ControlPanel final : public PlayerControls {
 public:
  ControlPanel();
  void setPlayer(AudioPlayer* player) { player_ = player; }

  int value(Ctl control, int index = 0) const override;
  void setValue(Ctl control, int value, int index = 0) override;
  bool enabled(Ctl control, int index = 0) const override;
  void setEnabled(Ctl control, bool enabled, int index = 0) override;
  // A user's click on a check box: the box toggles to `checked`, then its click handler runs.
  void click(Ctl box, bool checked);

 private:
  struct State {
    int value = 0;
    bool enabled = true;
  };
  State& at(Ctl control, int index);
  const State& at(Ctl control, int index) const;
  void changed(Ctl control, int index);

  std::map<std::pair<Ctl, int>, State> states_;
  AudioPlayer* player_ = nullptr;
};

}  // namespace player
