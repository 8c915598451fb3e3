// Effects of the effects add-on: small objects with three verbs. prepare() and
// setParameters()/getParameters() are called on the window thread; process() on the mixing
// thread, which must never wait, so an effect hands its parameters across through a
// ParamMailbox and picks them up at the start of the next block.
#pragma once

#include <cstddef>
#include <memory>

namespace audiolib {

class Effect {
 public:
  virtual ~Effect() = default;

  // Called once before the effect is attached, with the stream's rate and channel count.
  virtual void prepare(int sampleRate, int channels) = 0;
  // Applies one parameter record of the effect's type; false when the record is invalid.
  virtual bool setParameters(const void* record) = 0;
  // Fills `record` from the current parameters. The peaking equaliser reads the band index
  // from the record first and fills that band; false when there is no such band.
  virtual bool getParameters(void* record) const = 0;
  // Processes `count` interleaved frames in place. No lock, no allocation, no I/O.
  virtual void process(float* frames, size_t count) = 0;
  // Frames by which the effect delays what passes through it (window thread).
  virtual int latencyFrames() const { return 0; }
};

// The table of effect types: a new instance of `type`, or nullptr for an unknown type.
std::unique_ptr<Effect> createEffect(int type);

}  // namespace audiolib
