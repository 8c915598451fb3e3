#include "effects/PeakingEq.h"

#include <bit>
#include <cmath>
#include <numbers>

#include "Finite.h"

namespace audiolib {

namespace {

bool validBand(const EqBand& b) {
  if (b.band < 0 || b.band >= PeakingEq::kMaxBands) return false;
  if (!std::isfinite(b.bandwidth) || !std::isfinite(b.q) || !std::isfinite(b.center) ||
      !std::isfinite(b.gain))
    return false;
  return b.center > 0.0f && (b.q > 0.0f || b.bandwidth > 0.0f);
}

// States below this (some 400 dB under full scale) are cleared at the end of a block, so that
// a decaying filter never reaches subnormal numbers.
constexpr double kTiny = 1e-20;

double flushTiny(double z) {
  return std::fabs(z) < kTiny ? 0.0 : z;
}

// A NaN or an infinity that reached a filter (from a DSP callback before it) would stay in its
// state and silence everything after it: the state starts again from rest, and the block's
// own non-finite output is silenced.
bool finiteState(double z0, double z1) {
  return std::isfinite(z0) && std::isfinite(z1);
}

uint32_t floatBits(float v) {
  return std::bit_cast<uint32_t>(v);
}

// True when every sample is +0.0 (a -0.0 would come out of the filter as +0.0).
bool allZeroBits(const float* p, size_t n) {
  uint32_t any = 0;
  for (size_t i = 0; i < n; ++i) any |= floatBits(p[i]);
  return any == 0;
}

}  // namespace

PeakingEq::PeakingEq() : state_(size_t(kMaxBands) * size_t(channels_)) {}

void PeakingEq::prepare(int sampleRate, int channels) {
  channels_ = channels > 0 ? channels : 1;
  state_.assign(size_t(kMaxBands) * size_t(channels_), {0.0, 0.0});
  if (sampleRate > 0) settings_.rate = uint32_t(sampleRate);
  // Bands set before prepare() were meant for this rate: hand the table over again so the
  // mixing thread computes their coefficients for it.
  mailbox_.publish(settings_);
}

bool PeakingEq::setParameters(const void* record) {
  if (!record) return false;
  const auto& b = *static_cast<const EqBand*>(record);
  if (!validBand(b)) return false;
  settings_.bands[size_t(b.band)] = b;
  settings_.used |= 1u << b.band;
  mailbox_.publish(settings_);
  return true;
}

bool PeakingEq::getParameters(void* record) const {
  if (!record) return false;
  auto& b = *static_cast<EqBand*>(record);
  if (b.band < 0 || b.band >= kMaxBands || !(settings_.used & (1u << b.band))) return false;
  b = settings_.bands[size_t(b.band)];
  return true;
}

void PeakingEq::recompute(const Settings& s) {
  activeCount_ = 0;
  for (int i = 0; i < kMaxBands; ++i) {
    const EqBand& b = s.bands[size_t(i)];
    const double fs = b.sampleRate ? double(b.sampleRate) : double(s.rate);
    // A band at 0 dB is left out, so that it passes the signal bit for bit. A band centred at
    // or above 0.45 of the rate is left out too: its centre is beyond what the stream can
    // carry, and clamping it below Nyquist would pile it onto the bands under it (on a
    // 22050 Hz stream the 12 and 16 kHz bands would both land on the same frequency).
    const bool active = (s.used & (1u << i)) && b.gain != 0.0f && b.center < 0.45 * fs;
    if (!active) {
      for (int c = 0; c < channels_; ++c) state_[size_t(i * channels_ + c)] = {0.0, 0.0};
      continue;
    }
    const double a = std::pow(10.0, double(b.gain) / 40.0);
    const double w0 = 2.0 * std::numbers::pi * double(b.center) / fs;
    const double sn = std::sin(w0), cs = std::cos(w0);
    const double alpha =
        b.q > 0.0f ? sn / (2.0 * double(b.q))
                   : sn * std::sinh(std::numbers::ln2 / 2.0 * double(b.bandwidth) * w0 / sn);
    const double a0 = 1.0 + alpha / a;
    Biquad q{(1.0 + alpha * a) / a0, -2.0 * cs / a0, (1.0 - alpha * a) / a0, -2.0 * cs / a0,
             (1.0 - alpha / a) / a0};
    // A bandwidth of many octaves can overflow sinh(); such a band cannot be computed.
    if (!std::isfinite(q.b0) || !std::isfinite(q.b1) || !std::isfinite(q.b2) ||
        !std::isfinite(q.a1) || !std::isfinite(q.a2))
      continue;
    activeCoeffs_[size_t(activeCount_)] = q;
    active_[size_t(activeCount_++)] = i;
  }
}

void PeakingEq::process(float* frames, size_t count) {
  if (mailbox_.fetch(current_)) recompute(current_);
  if (activeCount_ == 0 || count == 0) return;
  if (channels_ == 2)
    processStereo(frames, count);
  else
    processChannels(frames, count);
}

void PeakingEq::processStereo(float* frames, size_t count) {
  StereoCascadeState st;
  bool atRest = true;
  for (int k = 0; k < activeCount_; ++k) {
    for (size_t c = 0; c < 2; ++c) {
      const auto& z = state_[size_t(active_[size_t(k)]) * 2 + c];
      st.z0[2 * k + int(c)] = z[0];
      st.z1[2 * k + int(c)] = z[1];
      atRest = atRest && z[0] == 0.0 && z[1] == 0.0;
    }
  }
  // The filter is linear: silence into a filter at rest is silence out, bit for bit.
  if (atRest && allZeroBits(frames, 2 * count)) return;
  stereoCascade(frames, count, activeCoeffs_.data(), activeCount_, st);
  bool finite = true;
  for (int k = 0; k < activeCount_; ++k) {
    for (size_t c = 0; c < 2; ++c) {
      auto& z = state_[size_t(active_[size_t(k)]) * 2 + c];
      z[0] = flushTiny(st.z0[2 * k + int(c)]);
      z[1] = flushTiny(st.z1[2 * k + int(c)]);
      finite = finite && finiteState(z[0], z[1]);
    }
  }
  if (!finite) {
    for (auto& z : state_) z = {0.0, 0.0};
    zeroNonFinite(frames, 2 * count);
  }
}

void PeakingEq::processChannels(float* frames, size_t count) {
  const size_t ch = size_t(channels_);
  const int n = activeCount_;
  std::array<std::array<double, 2>, kMaxBands> z;
  for (size_t c = 0; c < ch; ++c) {
    bool atRest = true;
    for (int k = 0; k < n; ++k) {
      z[size_t(k)] = state_[size_t(active_[size_t(k)]) * ch + c];
      atRest = atRest && z[size_t(k)][0] == 0.0 && z[size_t(k)][1] == 0.0;
    }
    if (atRest) {
      bool silent = true;
      for (size_t f = 0; f < count && silent; ++f) silent = floatBits(frames[f * ch + c]) == 0;
      if (silent) continue;
    }
    for (size_t f = 0; f < count; ++f) {
      double x = frames[f * ch + c];
      for (int k = 0; k < n; ++k) {
        const Biquad& q = activeCoeffs_[size_t(k)];
        auto& [z1, z2] = z[size_t(k)];
        // Transposed direct form II.
        const double y = q.b0 * x + z1;
        z1 = q.b1 * x - q.a1 * y + z2;
        z2 = q.b2 * x - q.a2 * y;
        x = y;
      }
      frames[f * ch + c] = float(x);
    }
    bool finite = true;
    for (int k = 0; k < n; ++k) {
      auto& dst = state_[size_t(active_[size_t(k)]) * ch + c];
      dst = {flushTiny(z[size_t(k)][0]), flushTiny(z[size_t(k)][1])};
      finite = finite && finiteState(dst[0], dst[1]);
    }
    if (!finite) {
      for (int k = 0; k < n; ++k) state_[size_t(active_[size_t(k)]) * ch + c] = {0.0, 0.0};
      for (size_t f = 0; f < count; ++f)
        if (!std::isfinite(frames[f * ch + c])) frames[f * ch + c] = 0.0f;
    }
  }
}

}  // namespace audiolib
