// Eight pixels at a time. The relighting tools write their per-pixel math
// once, as templates over a float type F and its wide type D; it runs on
// single pixels with F = float, D = double, and on eight pixels at once with
// F = Floats8, D = Doubles8. Every operation here gives, lane by lane, the
// bits that the same operation on float or double gives, so a pixel comes
// out the same whichever way it was worked.
//
// The row loops that use these are built three times, for baseline x86-64,
// for AVX2 (four doubles in one instruction) and for AVX-512 (all eight);
// the loader picks the build that the processor runs (RowClones). Nothing
// here is ever called: everything is inlined into those loops, so no vector
// wider than the baseline's crosses a call.
#pragma once

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

// GCC's clones only: Clang does not clone a row loop that inlines all it
// calls, and builds the baseline loop alone.
// Not under ThreadSanitizer: a clone's resolver runs while the program or
// the module is still being relocated, before the sanitizer's hooks that it
// calls can be reached.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define RowClones __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define RowClones
#endif

#define LANES_INLINE __attribute__((always_inline)) inline

namespace lanes {

using Vector8f = float __attribute__((vector_size(32)));
using Mask8f = int32_t __attribute__((vector_size(32)));
using Vector8d = double __attribute__((vector_size(64)));
using Mask8d = int64_t __attribute__((vector_size(64)));
using Vector16f = float __attribute__((vector_size(64)));
using Vector4f = float __attribute__((vector_size(16)));
using Vector2d = double __attribute__((vector_size(16)));

}  // namespace lanes

// Eight lanes of a scalar type, worked lane by lane.
template <typename Scalar, typename Vector, typename Half>
struct Lanes8 {
  Vector v;

  Lanes8() = default;
  LANES_INLINE Lanes8(Vector v) : v(v) {}
  // One value in every lane, as a broadcast.
  LANES_INLINE Lanes8(Scalar s)
      : v(__builtin_shufflevector(Half{s}, Half{s}, 0, 0, 0, 0, 0, 0, 0, 0)) {}

  LANES_INLINE friend Lanes8 operator+(Lanes8 a, Lanes8 b) { return a.v + b.v; }
  LANES_INLINE friend Lanes8 operator-(Lanes8 a, Lanes8 b) { return a.v - b.v; }
  LANES_INLINE friend Lanes8 operator*(Lanes8 a, Lanes8 b) { return a.v * b.v; }
  LANES_INLINE friend Lanes8 operator/(Lanes8 a, Lanes8 b) { return a.v / b.v; }
};

using Floats8 = Lanes8<float, lanes::Vector8f, lanes::Vector4f>;
using Doubles8 = Lanes8<double, lanes::Vector8d, lanes::Vector2d>;

namespace lanes {

// The lanes of `a` where `take` is set, of `b` elsewhere.
template <typename Lanes, typename Mask>
LANES_INLINE Lanes Select(Mask take, Lanes a, Lanes b) {
  using Vector = decltype(a.v);
  return reinterpret_cast<Vector>((take & reinterpret_cast<Mask>(a.v)) |
                                  (~take & reinterpret_cast<Mask>(b.v)));
}

}  // namespace lanes

// One value in every lane.
template <typename V>
LANES_INLINE V Splat(double d) {
  if constexpr (std::is_same_v<V, Floats8> || std::is_same_v<V, float>)
    return V(static_cast<float>(d));
  else
    return V(d);
}

// Widening to double and narrowing back to float.
inline double Widen(float f) { return f; }
LANES_INLINE Doubles8 Widen(Floats8 f) { return __builtin_convertvector(f.v, lanes::Vector8d); }
inline float Narrow(double d) { return static_cast<float>(d); }
LANES_INLINE Floats8 Narrow(Doubles8 d) { return __builtin_convertvector(d.v, lanes::Vector8f); }

// The wide type of a float type.
template <typename F>
using WideOf = decltype(Widen(F{}));

// Roots lane by lane, which the compiler turns into the widest root the
// build has. (The tools are built without errno from maths functions, so no
// lane calls out for a negative.)
inline float Sqrt(float f) { return __builtin_sqrtf(f); }
inline double Sqrt(double d) { return __builtin_sqrt(d); }
LANES_INLINE Floats8 Sqrt(Floats8 f) {
  for (int i = 0; i < 8; ++i) f.v[i] = __builtin_sqrtf(f.v[i]);
  return f;
}
LANES_INLINE Doubles8 Sqrt(Doubles8 d) {
  for (int i = 0; i < 8; ++i) d.v[i] = __builtin_sqrt(d.v[i]);
  return d;
}

inline double Abs(double d) { return std::fabs(d); }
LANES_INLINE Doubles8 Abs(Doubles8 d) {
  return reinterpret_cast<lanes::Vector8d>(reinterpret_cast<lanes::Mask8d>(d.v) & INT64_MAX);
}

// a when a < b, else b; so b when either is not a number.
inline double Lesser(double a, double b) { return a < b ? a : b; }
LANES_INLINE Doubles8 Lesser(Doubles8 a, Doubles8 b) { return lanes::Select(a.v < b.v, a, b); }
// a when a > b, else b; so b when either is not a number.
inline float Greater(float a, float b) { return a > b ? a : b; }
inline double Greater(double a, double b) { return a > b ? a : b; }
LANES_INLINE Floats8 Greater(Floats8 a, Floats8 b) { return lanes::Select(a.v > b.v, a, b); }
LANES_INLINE Doubles8 Greater(Doubles8 a, Doubles8 b) { return lanes::Select(a.v > b.v, a, b); }

// `value` where `test` is not 0 (not a number included), else `otherwise`.
inline float IfNonZero(float test, float value, float otherwise) {
  return test != 0.0f ? value : otherwise;
}
LANES_INLINE Floats8 IfNonZero(Floats8 test, Floats8 value, Floats8 otherwise) {
  return lanes::Select(test.v != 0.0f, value, otherwise);
}

// `value` where `test` is greater than 0, else 0 (also where `test` is not a
// number).
inline double IfPositive(float test, double value) { return test > 0.0f ? value : 0.0; }
LANES_INLINE Doubles8 IfPositive(Floats8 test, Doubles8 value) {
  // Compared as doubles: a float is greater than 0 exactly when it is so
  // widened.
  const lanes::Mask8d positive = Widen(test).v > 0.0;
  return reinterpret_cast<lanes::Vector8d>(positive & reinterpret_cast<lanes::Mask8d>(value.v));
}

// `value` where `test` is greater than 0, else not a number (also where
// `test` is not a number).
inline double IfPositiveElseNaN(float test, double value) {
  return test > 0.0f ? value : std::numeric_limits<double>::quiet_NaN();
}
LANES_INLINE Doubles8 IfPositiveElseNaN(Floats8 test, Doubles8 value) {
  return lanes::Select(Widen(test).v > 0.0, value,
                       Doubles8(std::numeric_limits<double>::quiet_NaN()));
}

// The lanes one by one, for what has no vector form.
template <typename Fn>
LANES_INLINE Doubles8 EachLane(Doubles8 d, Fn&& fn) {
  for (int i = 0; i < 8; ++i) d.v[i] = fn(d.v[i]);
  return d;
}
template <typename Fn>
inline double EachLane(double d, Fn&& fn) {
  return fn(d);
}

// A pixel's red, green, blue and alpha.
template <typename F>
struct Rgba4 {
  F r, g, b, a;
};

// Eight pixels of the common layout (blue, green, red, alpha each), turned
// into one value of each channel per lane.
LANES_INLINE Rgba4<Floats8> LoadPixels8(const float* in) {
  lanes::Vector16f lo, hi;
  std::memcpy(&lo, in, sizeof lo);
  std::memcpy(&hi, in + 16, sizeof hi);
  const lanes::Vector16f rg =
      __builtin_shufflevector(lo, hi, 2, 6, 10, 14, 18, 22, 26, 30, 1, 5, 9, 13, 17, 21, 25, 29);
  const lanes::Vector16f ba =
      __builtin_shufflevector(lo, hi, 0, 4, 8, 12, 16, 20, 24, 28, 3, 7, 11, 15, 19, 23, 27, 31);
  return {__builtin_shufflevector(rg, rg, 0, 1, 2, 3, 4, 5, 6, 7),
          __builtin_shufflevector(rg, rg, 8, 9, 10, 11, 12, 13, 14, 15),
          __builtin_shufflevector(ba, ba, 0, 1, 2, 3, 4, 5, 6, 7),
          __builtin_shufflevector(ba, ba, 8, 9, 10, 11, 12, 13, 14, 15)};
}
inline Rgba4<float> LoadPixel(const float* in) { return {in[2], in[1], in[0], in[3]}; }

// Writes each lane's value into red, green, blue and alpha of its pixel.
// Pixels of the common layout are 16-byte aligned; a streamed pixel goes
// past the cache.
template <bool Stream>
LANES_INLINE void StoreGrey8(float* out, Floats8 grey) {
  const lanes::Vector8f g = grey.v;
  const lanes::Vector16f lo =
      __builtin_shufflevector(g, g, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  const lanes::Vector16f hi =
      __builtin_shufflevector(g, g, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7);
  if constexpr (Stream) {
    const lanes::Vector4f p[8] = {__builtin_shufflevector(lo, lo, 0, 1, 2, 3),
                                  __builtin_shufflevector(lo, lo, 4, 5, 6, 7),
                                  __builtin_shufflevector(lo, lo, 8, 9, 10, 11),
                                  __builtin_shufflevector(lo, lo, 12, 13, 14, 15),
                                  __builtin_shufflevector(hi, hi, 0, 1, 2, 3),
                                  __builtin_shufflevector(hi, hi, 4, 5, 6, 7),
                                  __builtin_shufflevector(hi, hi, 8, 9, 10, 11),
                                  __builtin_shufflevector(hi, hi, 12, 13, 14, 15)};
    for (int i = 0; i < 8; ++i) _mm_stream_ps(out + 4 * i, reinterpret_cast<__m128>(p[i]));
  } else {
    std::memcpy(out, &lo, sizeof lo);
    std::memcpy(out + 16, &hi, sizeof hi);
  }
}
template <bool Stream>
inline void StoreGrey(float* out, float grey) {
  const __m128 p = _mm_set1_ps(grey);
  if constexpr (Stream)
    _mm_stream_ps(out, p);
  else
    _mm_storeu_ps(out, p);
}
