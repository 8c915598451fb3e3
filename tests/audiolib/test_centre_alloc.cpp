// The centre extractor's mixing-thread calls never allocate: this program replaces the C library's
// allocator with a counting one (C++'s new goes through it too) and counts what process, reset
// and the parameter setters allocate once the extractor is built.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "CentreExtractor.h"

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

template <class F>
long allocationsOf(F&& call) {
  gAllocations = 0;
  gCounting = true;
  call();
  gCounting = false;
  return gAllocations.load();
}

// A song's worth of live use at the usual rates: blocks of every size up to the largest, the
// parameters and the voice changing, seeks (reset) in between.
TEST(CentreExtractorAllocation, MixingThreadCallsNeverAllocate) {
  std::vector<int>* volatile probe = nullptr;
  ASSERT_GT(allocationsOf([&] { probe = new std::vector<int>(100); }), 0);
  delete probe;

  for (int rate : {44100, 48000, 96000}) {
    constexpr int kBlock = 1024;
    audiolib::CentreExtractor x(rate, kBlock);
    std::vector<float> block(2 * kBlock);
    long processes = 0, resets = 0, changes = 0;
    for (int round = 0; round < 8; ++round) {
      resets += allocationsOf([&] { x.reset(); });
      for (int b = 0; b < 200; ++b) {
        for (size_t i = 0; i < block.size(); ++i)
          block[i] = float(int((i + size_t(b)) * 7919 % 2001) - 1000) / 2000.0f;
        changes += allocationsOf([&] {
          x.setWidth(float(b % 11) / 10.0f);
          x.setLowCut(float(80 + b % 100));
          x.setHighCut(float(8000 + 100 * (b % 40)));
        });
        const int n = 1 + (b * 331 + round * 97) % kBlock;
        processes += allocationsOf([&] { x.process(block.data(), n, float(b % 3) / 2.0f); });
      }
    }
    EXPECT_EQ(processes, 0) << rate;
    EXPECT_EQ(resets, 0) << rate;
    EXPECT_EQ(changes, 0) << rate;
  }
}

}  // namespace
