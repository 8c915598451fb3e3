#include "effects/BiquadCascade.h"

#include <immintrin.h>

#include <array>
#include <utility>

namespace audiolib {

namespace {

// Step s of the skewed cascade: band k takes frame s - k. For the first n - 1 steps of a block
// the later bands have no frame yet, for the last n - 1 the earlier ones are done; those
// bands keep their state. A band that sits out produces a value nobody reads: its successor
// sits out in the next step too.
inline bool bandBusy(long s, int k, long count) {
  return k <= s && k > s - count;
}

// Two floats of one frame as the two lanes of a double vector, and back.
inline __m128d loadFrame(const float* p) {
  return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
inline void storeFrame(float* p, __m128d v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
}

// ---- SSE2: one band per vector, {left, right} ----------------------------------------------

struct Sse2Bands {
  __m128d b0, b1, b2, a1, a2;
};

template <int N, bool Edge>
inline void sse2Step(float* frames, long s, long count, const Sse2Bands (&c)[N], __m128d (&z0)[N],
                     __m128d (&z1)[N], __m128d (&y)[N]) {
  // From the last band down, so that y[k - 1] is still the previous step's output. Unrolled, so
  // that the arrays become registers.
#pragma GCC unroll 16
  for (int k = N - 1; k >= 0; --k) {
    if (Edge && !bandBusy(s, k, count)) continue;
    const __m128d x =
        k > 0 ? y[k - 1] : (!Edge || s < count ? loadFrame(frames + 2 * s) : _mm_setzero_pd());
    const __m128d out = _mm_add_pd(_mm_mul_pd(c[k].b0, x), z0[k]);
    z0[k] = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(c[k].b1, x), z1[k]), _mm_mul_pd(c[k].a1, out));
    z1[k] = _mm_sub_pd(_mm_mul_pd(c[k].b2, x), _mm_mul_pd(c[k].a2, out));
    y[k] = out;
  }
  if (s >= N - 1) storeFrame(frames + 2 * (s - (N - 1)), y[N - 1]);
}

template <int N>
void sse2Kernel(float* frames, size_t frameCount, const Biquad* q, StereoCascadeState& st) {
  Sse2Bands c[N];
  __m128d z0[N], z1[N], y[N];
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) {
    c[k] = {_mm_set1_pd(q[k].b0), _mm_set1_pd(q[k].b1), _mm_set1_pd(q[k].b2), _mm_set1_pd(q[k].a1),
            _mm_set1_pd(q[k].a2)};
    z0[k] = _mm_load_pd(st.z0 + 2 * k);
    z1[k] = _mm_load_pd(st.z1 + 2 * k);
    y[k] = _mm_setzero_pd();
  }
  const long count = long(frameCount), steps = count + N - 1;
  long s = 0;
  for (; s < N - 1; ++s) sse2Step<N, true>(frames, s, count, c, z0, z1, y);
  for (; s < count; ++s) sse2Step<N, false>(frames, s, count, c, z0, z1, y);
  for (; s < steps; ++s) sse2Step<N, true>(frames, s, count, c, z0, z1, y);
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) {
    _mm_store_pd(st.z0 + 2 * k, z0[k]);
    _mm_store_pd(st.z1 + 2 * k, z1[k]);
  }
}

// ---- AVX2 + FMA: two bands per vector, {2j left, 2j right, 2j+1 left, 2j+1 right} ------------

#define ORIVELR_AVX2 __attribute__((target("avx2,fma")))

struct Avx2Bands {
  __m256d b0, b1, b2, a1, a2;
};

ORIVELR_AVX2 inline __m256d pairOf(double lo, double hi) {
  return _mm256_set_pd(hi, hi, lo, lo);
}

template <int N, bool Edge>
ORIVELR_AVX2 inline void avx2Step(float* frames, long s, long count,
                                  const Avx2Bands (&c)[(N + 1) / 2], __m256d (&z0)[(N + 1) / 2],
                                  __m256d (&z1)[(N + 1) / 2], __m256d (&y)[(N + 1) / 2]) {
  constexpr int V = (N + 1) / 2;
#pragma GCC unroll 8
  for (int j = V - 1; j >= 0; --j) {
    __m256d x;
    if (j > 0) {
      x = _mm256_permute2f128_pd(y[j - 1], y[j], 0x21);  // {band 2j-1's, band 2j's}
    } else {
      const __m128d in = !Edge || s < count ? loadFrame(frames + 2 * s) : _mm_setzero_pd();
      x = _mm256_permute2f128_pd(_mm256_castpd128_pd256(in), y[0], 0x20);  // {frame, band 0's}
    }
    const __m256d out = _mm256_fmadd_pd(c[j].b0, x, z0[j]);
    const __m256d n0 = _mm256_fnmadd_pd(c[j].a1, out, _mm256_fmadd_pd(c[j].b1, x, z1[j]));
    const __m256d n1 = _mm256_fnmadd_pd(c[j].a2, out, _mm256_mul_pd(c[j].b2, x));
    if (Edge) {
      // The padding band of an odd count never counts as busy, so its state stays zero.
      const bool lo = bandBusy(s, 2 * j, count);
      const bool hi = 2 * j + 1 < N && bandBusy(s, 2 * j + 1, count);
      const __m256d m = _mm256_castsi256_pd(_mm256_set_epi64x(-hi, -hi, -lo, -lo));
      z0[j] = _mm256_blendv_pd(z0[j], n0, m);
      z1[j] = _mm256_blendv_pd(z1[j], n1, m);
    } else {
      z0[j] = n0;
      z1[j] = n1;
    }
    y[j] = out;
  }
  if (s >= N - 1) {
    const __m128d last =
        (N & 1) ? _mm256_castpd256_pd128(y[V - 1]) : _mm256_extractf128_pd(y[V - 1], 1);
    storeFrame(frames + 2 * (s - (N - 1)), last);
  }
}

template <int N>
ORIVELR_AVX2 void avx2Kernel(float* frames, size_t frameCount, const Biquad* q,
                             StereoCascadeState& st) {
  constexpr int V = (N + 1) / 2;
  Avx2Bands c[V];
  __m256d z0[V], z1[V], y[V];
  const Biquad none{1, 0, 0, 0, 0};
#pragma GCC unroll 8
  for (int j = 0; j < V; ++j) {
    const Biquad& lo = q[2 * j];
    const Biquad& hi = 2 * j + 1 < N ? q[2 * j + 1] : none;
    c[j] = {pairOf(lo.b0, hi.b0), pairOf(lo.b1, hi.b1), pairOf(lo.b2, hi.b2), pairOf(lo.a1, hi.a1),
            pairOf(lo.a2, hi.a2)};
    z0[j] = _mm256_load_pd(st.z0 + 4 * j);
    z1[j] = _mm256_load_pd(st.z1 + 4 * j);
    y[j] = _mm256_setzero_pd();
  }
  if (N & 1) {  // the padding band starts from rest
    z0[V - 1] = _mm256_insertf128_pd(z0[V - 1], _mm_setzero_pd(), 1);
    z1[V - 1] = _mm256_insertf128_pd(z1[V - 1], _mm_setzero_pd(), 1);
  }
  const long count = long(frameCount), steps = count + N - 1;
  long s = 0;
  for (; s < N - 1; ++s) avx2Step<N, true>(frames, s, count, c, z0, z1, y);
  for (; s < count; ++s) avx2Step<N, false>(frames, s, count, c, z0, z1, y);
  for (; s < steps; ++s) avx2Step<N, true>(frames, s, count, c, z0, z1, y);
#pragma GCC unroll 8
  for (int j = 0; j < V; ++j) {
    if ((N & 1) && j == V - 1) {  // leave the slots after the last band alone
      _mm_store_pd(st.z0 + 4 * j, _mm256_castpd256_pd128(z0[j]));
      _mm_store_pd(st.z1 + 4 * j, _mm256_castpd256_pd128(z1[j]));
    } else {
      _mm256_store_pd(st.z0 + 4 * j, z0[j]);
      _mm256_store_pd(st.z1 + 4 * j, z1[j]);
    }
  }
}

// Kernels by band count, so that each cascade's loops unroll and its vectors stay in registers.
template <template <int> class Pick, size_t... I>
constexpr auto kernelTable(std::index_sequence<I...>) {
  using Fn = void (*)(float*, size_t, const Biquad*, StereoCascadeState&);
  return std::array<Fn, sizeof...(I)>{Pick<int(I) + 1>::fn...};
}

template <int N>
struct PickSse2 {
  static constexpr auto fn = &sse2Kernel<N>;
};
template <int N>
struct PickAvx2 {
  static constexpr auto fn = &avx2Kernel<N>;
};

constexpr auto kSse2 = kernelTable<PickSse2>(std::make_index_sequence<kMaxCascade>());
constexpr auto kAvx2 = kernelTable<PickAvx2>(std::make_index_sequence<kMaxCascade>());

StereoCascadeFn pickKernel() {
  return haveAvx2Fma() ? &stereoCascadeAvx2 : &stereoCascadeSse2;
}

}  // namespace

void stereoCascadeSse2(float* frames, size_t count, const Biquad* q, int n, StereoCascadeState& z) {
  if (n >= 1 && n <= kMaxCascade && count > 0) kSse2[size_t(n - 1)](frames, count, q, z);
}

void stereoCascadeAvx2(float* frames, size_t count, const Biquad* q, int n, StereoCascadeState& z) {
  if (n >= 1 && n <= kMaxCascade && count > 0) kAvx2[size_t(n - 1)](frames, count, q, z);
}

bool haveAvx2Fma() {
  __builtin_cpu_init();  // may run before the run-time library's own initialisation
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

const StereoCascadeFn stereoCascade = pickKernel();

}  // namespace audiolib
