// Four pixels at a time. The relighting tools write their per-pixel math
// once, as templates over a float type F and its wide type D; it runs on
// single pixels with F = float, D = double, and on four pixels at once with
// F = Floats4, D = Doubles4. Every operation here gives, lane by lane, the
// bits that the same operation on float or double gives, so a pixel comes
// out the same whichever way it was worked.
//
// The row loops that use these are built twice, for baseline x86-64 and for
// AVX2, which works four doubles in one instruction; the loader picks the
// build that the processor runs (RowClones).
#pragma once

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

// GCC's clones only: Clang does not clone a row loop that inlines all it
// calls, and builds the baseline loop alone.
// Not under ThreadSanitizer: a clone's resolver runs while the program or
// the module is still being relocated, before the sanitizer's hooks that it
// calls can be reached.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define RowClones __attribute__((target_clones("avx2", "default")))
#else
#define RowClones
#endif

// Four floats.
struct Floats4 {
  __m128 v;

  Floats4() = default;
  Floats4(__m128 v) : v(v) {}
  Floats4(float f) : v(_mm_set1_ps(f)) {}

  friend Floats4 operator+(Floats4 a, Floats4 b) { return _mm_add_ps(a.v, b.v); }
  friend Floats4 operator-(Floats4 a, Floats4 b) { return _mm_sub_ps(a.v, b.v); }
  friend Floats4 operator*(Floats4 a, Floats4 b) { return _mm_mul_ps(a.v, b.v); }
  friend Floats4 operator/(Floats4 a, Floats4 b) { return _mm_div_ps(a.v, b.v); }
};

// Four doubles. They are kept as plain doubles and worked as one 32-byte
// vector inside each operation, so that no 32-byte vector crosses a call:
// a call's convention for those differs between the baseline and the AVX2
// build of a row loop.
struct Doubles4 {
  double v[4];

  Doubles4() = default;
  Doubles4(double d) : v{d, d, d, d} {}
};

namespace lanes {

using Vector4d = double __attribute__((vector_size(32)));
using Mask4d = int64_t __attribute__((vector_size(32)));
using Vector2d = double __attribute__((vector_size(16)));
using Vector4f = float __attribute__((vector_size(16)));

}  // namespace lanes

// `name`, a local 32-byte vector holding the lanes of `d`.
#define LANES_OF(name, d) \
  lanes::Vector4d name;   \
  std::memcpy(&name, (d).v, sizeof name)
// Returns the lanes of the 32-byte vector `expr` as a Doubles4.
#define RETURN_LANES(expr)                          \
  do {                                              \
    const lanes::Vector4d lanes_ = (expr);          \
    Doubles4 result_;                               \
    std::memcpy(result_.v, &lanes_, sizeof lanes_); \
    return result_;                                 \
  } while (0)

inline Doubles4 operator+(Doubles4 a, Doubles4 b) {
  LANES_OF(x, a);
  LANES_OF(y, b);
  RETURN_LANES(x + y);
}
inline Doubles4 operator-(Doubles4 a, Doubles4 b) {
  LANES_OF(x, a);
  LANES_OF(y, b);
  RETURN_LANES(x - y);
}
inline Doubles4 operator*(Doubles4 a, Doubles4 b) {
  LANES_OF(x, a);
  LANES_OF(y, b);
  RETURN_LANES(x * y);
}
inline Doubles4 operator/(Doubles4 a, Doubles4 b) {
  LANES_OF(x, a);
  LANES_OF(y, b);
  RETURN_LANES(x / y);
}

// One value in every lane.
template <typename V>
inline V Splat(double d) {
  if constexpr (std::is_same_v<V, Floats4> || std::is_same_v<V, float>)
    return V(static_cast<float>(d));
  else
    return V(d);
}

// Widening to double and narrowing back to float.
inline double Widen(float f) { return f; }
inline Doubles4 Widen(Floats4 f) {
  RETURN_LANES(__builtin_convertvector(reinterpret_cast<lanes::Vector4f>(f.v), lanes::Vector4d));
}
inline float Narrow(double d) { return static_cast<float>(d); }
inline Floats4 Narrow(Doubles4 d) {
  LANES_OF(x, d);
  return reinterpret_cast<__m128>(__builtin_convertvector(x, lanes::Vector4f));
}

// The wide type of a float type.
template <typename F>
using WideOf = decltype(Widen(F{}));

inline float Sqrt(float f) { return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(f))); }
inline double Sqrt(double d) { return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(d))); }
inline Floats4 Sqrt(Floats4 f) { return _mm_sqrt_ps(f.v); }
inline Doubles4 Sqrt(Doubles4 d) {
  LANES_OF(x, d);
  const lanes::Vector2d lo = _mm_sqrt_pd(__builtin_shufflevector(x, x, 0, 1));
  const lanes::Vector2d hi = _mm_sqrt_pd(__builtin_shufflevector(x, x, 2, 3));
  RETURN_LANES(__builtin_shufflevector(lo, hi, 0, 1, 2, 3));
}

inline double Abs(double d) { return std::fabs(d); }
inline Doubles4 Abs(Doubles4 d) {
  LANES_OF(x, d);
  RETURN_LANES(reinterpret_cast<lanes::Vector4d>(reinterpret_cast<lanes::Mask4d>(x) & INT64_MAX));
}

// a when a < b, else b; so b when either is not a number.
inline double Lesser(double a, double b) { return a < b ? a : b; }
inline Doubles4 Lesser(Doubles4 a, Doubles4 b) {
  LANES_OF(x, a);
  LANES_OF(y, b);
  const lanes::Mask4d take = x < y;
  RETURN_LANES(reinterpret_cast<lanes::Vector4d>((take & reinterpret_cast<lanes::Mask4d>(x)) |
                                                 (~take & reinterpret_cast<lanes::Mask4d>(y))));
}
// a when a > b, else b; so b when either is not a number.
inline float Greater(float a, float b) { return a > b ? a : b; }
inline double Greater(double a, double b) { return a > b ? a : b; }
inline Floats4 Greater(Floats4 a, Floats4 b) { return _mm_max_ps(a.v, b.v); }
inline Doubles4 Greater(Doubles4 a, Doubles4 b) {
  LANES_OF(x, a);
  LANES_OF(y, b);
  const lanes::Mask4d take = x > y;
  RETURN_LANES(reinterpret_cast<lanes::Vector4d>((take & reinterpret_cast<lanes::Mask4d>(x)) |
                                                 (~take & reinterpret_cast<lanes::Mask4d>(y))));
}

// `value` where `test` is not 0, else `otherwise`.
inline float IfNonZero(float test, float value, float otherwise) {
  return test != 0.0f ? value : otherwise;
}
inline Floats4 IfNonZero(Floats4 test, Floats4 value, Floats4 otherwise) {
  const __m128 keep = _mm_cmpneq_ps(test.v, _mm_setzero_ps());
  return _mm_or_ps(_mm_and_ps(keep, value.v), _mm_andnot_ps(keep, otherwise.v));
}

// `value` where `test` is greater than 0, else 0 (also where `test` is not a
// number).
inline double IfPositive(float test, double value) { return test > 0.0f ? value : 0.0; }
inline Doubles4 IfPositive(Floats4 test, Doubles4 value) {
  // Compared as doubles: a float is greater than 0 exactly when it is so
  // widened.
  LANES_OF(t, Widen(test));
  LANES_OF(x, value);
  RETURN_LANES(reinterpret_cast<lanes::Vector4d>((t > 0.0) & reinterpret_cast<lanes::Mask4d>(x)));
}

// The lanes one by one, for what has no four-wide form.
template <typename Fn>
inline Doubles4 EachLane(Doubles4 d, Fn&& fn) {
  for (double& lane : d.v) lane = fn(lane);
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

// Four pixels of the common layout (blue, green, red, alpha each), turned
// into one value of each channel per lane.
inline Rgba4<Floats4> LoadPixels4(const float* in) {
  __m128 b = _mm_loadu_ps(in), g = _mm_loadu_ps(in + 4), r = _mm_loadu_ps(in + 8),
         a = _mm_loadu_ps(in + 12);
  _MM_TRANSPOSE4_PS(b, g, r, a);
  return {r, g, b, a};
}
inline Rgba4<float> LoadPixel(const float* in) { return {in[2], in[1], in[0], in[3]}; }

// Writes each lane's value into red, green, blue and alpha of its pixel.
// Pixels of the common layout are 16-byte aligned, so each is stored whole.
template <bool Stream>
inline void StoreGrey4(float* out, Floats4 grey) {
  const __m128 p[4] = {_mm_shuffle_ps(grey.v, grey.v, 0x00), _mm_shuffle_ps(grey.v, grey.v, 0x55),
                       _mm_shuffle_ps(grey.v, grey.v, 0xAA), _mm_shuffle_ps(grey.v, grey.v, 0xFF)};
  for (int i = 0; i < 4; ++i) {
    if constexpr (Stream)
      _mm_stream_ps(out + 4 * i, p[i]);
    else
      _mm_storeu_ps(out + 4 * i, p[i]);
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
