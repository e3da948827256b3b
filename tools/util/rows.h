// Row helpers for the utilities' pixel loops: small vectors, and the copy of
// the further channels that the colour kernels pass through.
//
// A pixel of the common layout is four floats, blue, green, red, alpha, so one
// 4-float vector holds one pixel, and a 4-double vector holds it widened for
// arithmetic in double precision. Every operation here works lane by lane
// with the same rounding as the scalar operation, so a vector loop gives the
// same bits as the plain loop it replaces.
//
// Row kernels marked WideKernel are built twice, for baseline x86-64 and for
// AVX2 (which divides four doubles at once), and the loader picks the one the
// processor runs.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>


// Not under ThreadSanitizer: a clone's resolver runs while the program or
// the module is still being relocated, before the sanitizer's hooks that it
// calls can be reached.
#if defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define WideKernel __attribute__((target_clones("avx2", "default")))
#else
#define WideKernel
#endif

namespace simd {

using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));
using Double4 = double __attribute__((vector_size(32)));

inline Float4 Load(const float* p) {
  Float4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

// Widening to Double4 and narrowing back are __builtin_convertvector in the
// kernels themselves: a 4-double vector is never passed or returned, so the
// baseline build needs no AVX calling convention.

// Lanes of `a` where `mask` is set, of `b` elsewhere.
inline Float4 Select(Int4 mask, Float4 a, Float4 b) {
  return reinterpret_cast<Float4>((reinterpret_cast<Int4>(a) & mask) |
                                  (reinterpret_cast<Int4>(b) & ~mask));
}

// The smallest float at or above d, and the largest at or below: for every
// float s, s >= d exactly when s >= FloatAtOrAbove(d), and s <= d exactly when
// s <= FloatAtOrBelow(d). Not a number stays not a number.
inline float FloatAtOrAbove(double d) {
  float f = static_cast<float>(d);
  if (static_cast<double>(f) < d) f = std::nextafter(f, std::numeric_limits<float>::infinity());
  return f;
}
inline float FloatAtOrBelow(double d) {
  float f = static_cast<float>(d);
  if (static_cast<double>(f) > d) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
  return f;
}

}  // namespace simd
