// The song clock the singer's screen and the karaoke picture read: where the song is as heard,
// in milliseconds of song time (the song's own tempo, whatever the tempo control plays it at),
// how long it is, and how far its key is moved. The main window sets it from the player of the song chosen, so nothing
// that reads it knows the players.
#pragma once

#include <functional>

namespace app {

struct SongClock {
  std::function<double()> positionMs;  // 0 while nothing plays
  std::function<double()> lengthMs;    // 0 when unknown
  std::function<int()> keyMoved;       // semitones the song is played away from its key


  double position() const { return positionMs ? positionMs() : 0; }
  double length() const { return lengthMs ? lengthMs() : 0; }
  int key() const { return keyMoved ? keyMoved() : 0; }
};

}  // namespace app
