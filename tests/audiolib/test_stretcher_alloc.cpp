// The stretcher's mixing-thread calls never allocate: this program replaces the C library's
// allocator with a counting one (C++'s new goes through it too) and counts, per call, what
// push, pull, setKeyTempo and reset allocate once the stretcher is built.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "Stretcher.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
inline void count() {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
  count();
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
  count();
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  count();
  return __libc_realloc(p, n);
}
void free(void* p) {
  if (p) count();
  __libc_free(p);
}
void* memalign(size_t alignment, size_t n) {
  count();
  return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
  count();
  return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  count();
  *out = __libc_memalign(alignment, n);
  return *out ? 0 : ENOMEM;
}
}

namespace {

using audiolib::StretchEngine;
using audiolib::Stretcher;

// Allocations made by `call`.
template <class F>
long allocationsOf(F&& call) {
  gAllocations = 0;
  gCounting = true;
  call();
  gCounting = false;
  return gAllocations.load();
}

class StretcherAllocation : public ::testing::TestWithParam<StretchEngine> {};

TEST_P(StretcherAllocation, MixingThreadCallsNeverAllocate) {
  constexpr int kRate = 44100, kBlock = 1024;
  // The counter sees an allocation made in C++.
  std::vector<int>* volatile probe = nullptr;
  ASSERT_GT(allocationsOf([&] { probe = new std::vector<int>(100); }), 0);
  delete probe;

  Stretcher s(kRate, 2, GetParam(), kBlock);
  std::vector<float> in(kBlock * 2), out(kBlock * 2);
  for (size_t i = 0; i < in.size(); ++i) in[i] = float(int(i * 7919 % 2001) - 1000) / 2000.0f;

  long pushes = 0, pulls = 0, changes = 0, resets = 0, queries = 0;
  // A song's worth of live use: keys and tempi over the whole range, changing every block or
  // held, with seeks (reset) in between, each at different ratios.
  constexpr double kKeys[] = {0, 6, -6, 2, -1, 5, -5, 0.5};
  constexpr double kTempi[] = {1.0, 0.5, 1.5, 0.9, 1.1, 0.5, 1.5, 0.75};
  for (int round = 0; round < 16; ++round) {
    changes += allocationsOf([&] { s.setKeyTempo(kKeys[round % 8], kTempi[(round * 3) % 8]); });
    resets += allocationsOf([&] { s.reset(); });
    for (int b = 0; b < 120; ++b) {
      if (round % 2 && b % 4 == 0)
        changes += allocationsOf([&] { s.setKeyTempo(kKeys[b % 8], kTempi[b % 8]); });
      int want = 0;
      queries += allocationsOf([&] {
        want = s.required();
        (void)s.pendingInputFrames();
        (void)s.latencyMs();
        (void)s.available();
      });
      pushes += allocationsOf([&] { s.push(in.data(), want); });
      pulls += allocationsOf([&] {
        while (s.pull(out.data(), kBlock) > 0) {
        }
      });
    }
  }
  EXPECT_EQ(pushes, 0);
  EXPECT_EQ(pulls, 0);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(queries, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, StretcherAllocation,
                         ::testing::Values(StretchEngine::Finer, StretchEngine::Faster),
                         [](const auto& info) {
                           return info.param == StretchEngine::Finer ? "R3" : "R2";
                         });

}  // namespace
