// The CD+G decoder on any stream: every pixel stays a palette index, the offsets stay in range,
// and a seek backwards lands on the picture a replay from the start gives.
#include <cstdint>
#include <vector>

#include "CdgDecoder.h"
#include "InputFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The stream is cut to a little over two snapshots of packets, so a run stays quick.
  const std::vector<uint8_t> stream(data, data + std::min<size_t>(size, 3200 * 24));
  karaoke::CdgDecoder decoder(stream);
  const size_t count = decoder.packetCount();
  decoder.renderAt(count);
  const karaoke::CdgState& s = decoder.state();
  for (uint8_t v : s.pixels) fuzz::require(v < 16);
  fuzz::require(s.hOffset >= 0 && s.hOffset <= 5 && s.vOffset >= 0 && s.vOffset <= 11);
  fuzz::require(s.border < 16 && s.transparent < 16);
  const size_t back = count * 2 / 3;
  decoder.renderAt(back);
  karaoke::CdgDecoder replay(stream);
  replay.renderAt(back);
  fuzz::require(decoder.state() == replay.state());
  fuzz::require(decoder.toRgba().size() == size_t(karaoke::kCdgWidth) * karaoke::kCdgHeight * 4);
  return 0;
}
