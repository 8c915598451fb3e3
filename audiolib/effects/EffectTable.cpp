// The table of effect types of the effects add-on: adding an effect is one class and one row.
#include <array>
#include <memory>

#include "Effect.h"
#include "bass.h"
#include "effects/CentreRemover.h"
#include "effects/ChannelGain.h"
#include "effects/Compressor.h"
#include "effects/Delay.h"
#include "effects/PeakingEq.h"

namespace audiolib {

namespace {

template <class T>
std::unique_ptr<Effect> make() {
  return std::make_unique<T>();
}

struct Row {
  int type;
  std::unique_ptr<Effect> (*create)();
};

constexpr std::array kTable{
    Row{kFxChannelGain, &make<ChannelGain>},
    Row{kFxPeakingEq, &make<PeakingEq>},
    Row{kFxCompressor, &make<Compressor>},
    Row{kFxCentreRemover, &make<CentreRemover>},
    Row{kFxDelay, &make<Delay>},
};

}  // namespace

std::unique_ptr<Effect> createEffect(int type) {
  for (const Row& r : kTable)
    if (r.type == type) return r.create();
  return nullptr;
}

}  // namespace audiolib
