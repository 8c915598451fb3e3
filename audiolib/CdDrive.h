// The CD drives of the CD add-on: the machine's drives (libcdio's device list) followed by the
// images of ORIVELR_CD_IMAGES, each with its libcdio handle for the window's calls (tracks,
// lengths, CD-TEXT, door, capabilities). The streams read through CdDecoder on handles of
// their own. All calls take the drive list's lock; none runs on the mixing thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace audiolib {

// The CD-TEXT block of BASS_CD_GetID: "KEYn=value" strings, each ended by a zero, and a final
// zero. `entries` are (key with its entry number, value) in the order they are to appear.
std::string makeCdTextBlock(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace audiolib
