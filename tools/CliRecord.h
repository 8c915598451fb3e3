// `orivelR-cli record` and `orivelR-cli karaoke`: the recorder without its window. `record`
// takes N seconds from a source; `karaoke` plays a song as the record button does and records
// the take over it, lined up with the song, until the song ends.
#pragma once

#include <string>
#include <vector>

#include "ControlPanel.h"
#include "RenderOptions.h"

namespace cli {

int recordCommand(const std::vector<std::string>& args);
int karaokeCommand(const std::vector<std::string>& args);
// Applies the player options as a user would move the controls after pressing play.
void applyUserMoves(const RenderOptions& o, player::ControlPanel& panel);
// Key, tempo, guide voice and the remover's method onto the player, before its song is played.
void applySongMoves(const RenderOptions& o, player::AudioPlayer& p);

extern const char* const kRecordUsage;

}  // namespace cli
