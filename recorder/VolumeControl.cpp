#include "VolumeControl.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace recorder {

std::optional<std::string> findOnPath(std::string_view name, std::string_view searchPath) {
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  while (true) {
    const size_t colon = searchPath.find(':');
    std::string_view dir = searchPath.substr(0, colon);
    if (dir.empty()) dir = ".";  // an empty entry is the current folder, as for the shell
    const std::filesystem::path candidate = std::filesystem::path(dir) / name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
      return candidate.string();
    if (colon == std::string_view::npos) return std::nullopt;
    searchPath.remove_prefix(colon + 1);
  }
}

std::optional<VolumeCommand> volumeControlCommand(VolumeView view,
                                                  std::optional<std::string_view> searchPath) {
  const char* env = std::getenv("PATH");
  const std::string_view path = searchPath ? *searchPath : std::string_view(env ? env : "");
  auto program = findOnPath("pavucontrol", path);
  if (!program) return std::nullopt;
  return VolumeCommand{*program, {view == VolumeView::Input ? "--tab=4" : "--tab=3"}};
}

}  // namespace recorder
