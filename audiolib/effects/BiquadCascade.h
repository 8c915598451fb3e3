// The inner loop of the peaking equaliser: interleaved stereo float frames through up to
// kMaxCascade biquads in series (transposed direct form II, double precision), with the two
// channels as the lanes of one vector. Band k works on frame n while band k + 1 works on frame
// n - 1, so the bands of one step are independent of each other and the cascade costs about
// one biquad's latency per frame rather than one per band. The AVX2/FMA kernel takes two bands
// per vector and is chosen at start-up when the processor has it; the SSE2 one runs anywhere
// on x86-64. Both keep no state of their own and never allocate.
#pragma once

#include <cstddef>

namespace audiolib {

struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

constexpr int kMaxCascade = 16;

// The state of a cascade of `n` bands: z0[2 * k + c] and z1[2 * k + c] for band k, channel c.
struct StereoCascadeState {
  alignas(32) double z0[2 * kMaxCascade];
  alignas(32) double z1[2 * kMaxCascade];
};

using StereoCascadeFn = void (*)(float* frames, size_t count, const Biquad* q, int n,
                                 StereoCascadeState& z);

// Runs `count` frames in place through bands q[0], ..., q[n - 1] (1 <= n <= kMaxCascade).
void stereoCascadeSse2(float* frames, size_t count, const Biquad* q, int n, StereoCascadeState& z);
// The same with fused multiply-adds; only on a processor with AVX2 and FMA.
void stereoCascadeAvx2(float* frames, size_t count, const Biquad* q, int n, StereoCascadeState& z);
bool haveAvx2Fma();
// The fastest kernel of this processor, chosen once before main().
extern const StereoCascadeFn stereoCascade;

}  // namespace audiolib
