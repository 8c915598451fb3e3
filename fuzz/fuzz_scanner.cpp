// The song scanner on any bytes: the lyric source lies inside the file, the timing is finite
// and positive, and the channel table holds values the window can show.
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

#include "InputFile.h"
#include "SongScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  for (const auto& previous :
       {std::optional<midi::SongTiming>{}, std::optional(midi::fallbackTiming(file))}) {
    const midi::SongScan s = midi::scanSong(file, previous);
    const midi::SongTiming& t = s.timing;
    fuzz::require(std::isfinite(t.msPerTick) && t.msPerTick > 0);
    fuzz::require(std::isfinite(t.songBpm) && t.tempoMicros > 0 && t.ticksPerSixteenth > 0);
    const midi::LyricSource& src = s.lyricSource;
    fuzz::require(src.offset <= size && src.length <= size - src.offset);
    fuzz::require((src.kind == midi::LyricSourceKind::WholeFile) == (src.track == 0));
    fuzz::require(src.track <= s.trackCount);
    fuzz::require(!midi::describe(src).empty());
    for (int c = 0; c < midi::kChannelCount; ++c) {
      const midi::ChannelState& ch = s.channels[size_t(c)];
      fuzz::require(ch.inUse == -1 || ch.inUse == c + 1);
      if (ch.inUse < 0) continue;
      fuzz::require(ch.program >= 0 && ch.program <= 255);
      fuzz::require(ch.volume >= 1 && ch.volume <= 126);
      fuzz::require(ch.pan >= 0 && ch.pan <= 255);
    }
  }
  return 0;
}
