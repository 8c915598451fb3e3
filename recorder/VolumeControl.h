// The desktop's own volume control, which the mixer panel's two buttons open: the command that
// starts it on the right page, or none when the machine has no volume control. No Qt.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace recorder {

enum class VolumeView {
  Input,   // the recording devices (`Cominput`)
  Output,  // the playback devices (`Comout`)
};

struct VolumeCommand {
  std::string program;  // full path
  std::vector<std::string> arguments;
};

// What the window shows when there is no volume control to start.
inline constexpr std::string_view kNoVolumeControlText =
    "No volume control is installed: install pavucontrol";

// pavucontrol found on `searchPath` (a PATH-style list; the process's PATH when omitted),
// opened on the tab of the view: its tabs are numbered 1 playback streams, 2 recording
// streams, 3 output devices, 4 input devices, 5 configuration.
std::optional<VolumeCommand> volumeControlCommand(VolumeView view,
                                                  std::optional<std::string_view> searchPath = {});

// The first executable file called `name` in a PATH-style list.
std::optional<std::string> findOnPath(std::string_view name, std::string_view searchPath);

}  // namespace recorder
