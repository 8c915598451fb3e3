// The player's view of the window's controls. The player's procedures read and set control
// values through it, as the window's handlers do; the window implements it on its widgets,
// the renderer and the tests on ControlPanel.
#pragma once

#include <string>

namespace player {

enum class Ctl {
  Chkrem,         // check box "  Vocal  Remover   "
  Chkcmp,         // check box "Compr"
  Chklow,         // check box "BassBoost"
  chkEqualizer,   // check box "Peaking Equalizer"
  vcompr,         // vertical slider 0..10, tool tip "Gain Audio" (control array, one member)
  Slider3,        // vertical slider 0..10, tool tip "BassBooster" (control array, one member)
  vseq,           // 8 vertical sliders 0..19, the main equaliser
  Veq1,           // 8 vertical scroll bars 0..19, the "Peaking Equalizer"
  SliderBalance,  // slider -100..100, balance of the second stream
};

class PlayerControls {
 public:
  virtual ~PlayerControls() = default;
  virtual int value(Ctl control, int index = 0) const = 0;
  // Sets a value from code. For sliders and scroll bars this runs the control's change
  // handler when the value changes, exactly as a user move does; check boxes only change.
  virtual void setValue(Ctl control, int value, int index = 0) = 0;
  virtual bool enabled(Ctl control, int index = 0) const = 0;
  virtual void setEnabled(Ctl control, bool enabled, int index = 0) = 0;
};

// Message boxes: style is the sum of the buttons and the icon (16 critical stop, 48
// exclamation, 64 information); returns the button pressed (1 = OK).
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual int show(int style, const std::string& title, const std::string& text) = 0;
};

constexpr int kMbCritical = 16;
constexpr int kMbExclamation = 48;

}  // namespace player
