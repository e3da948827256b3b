// Four pixels at a time. The relighting tools write their per-pixel math
// once, as templates over a float type F and its wide type D; it runs on
// single pixels with F = float, D = double, and on four pixels at once with
// F = Floats4, D = Doubles4. Every operation here gives, lane by lane, the
// bits that the same operation on float or double gives, so a pixel comes
// out the same whichever way it was worked.
#pragma once

#include <immintrin.h>

#include <cmath>
#include <type_traits>

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

// Four doubles, in two halves.
struct Doubles4 {
  __m128d lo, hi;

  Doubles4() = default;
  Doubles4(__m128d lo, __m128d hi) : lo(lo), hi(hi) {}
  Doubles4(double d) : lo(_mm_set1_pd(d)), hi(lo) {}

  friend Doubles4 operator+(Doubles4 a, Doubles4 b) {
    return {_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)};
  }
  friend Doubles4 operator-(Doubles4 a, Doubles4 b) {
    return {_mm_sub_pd(a.lo, b.lo), _mm_sub_pd(a.hi, b.hi)};
  }
  friend Doubles4 operator*(Doubles4 a, Doubles4 b) {
    return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)};
  }
  friend Doubles4 operator/(Doubles4 a, Doubles4 b) {
    return {_mm_div_pd(a.lo, b.lo), _mm_div_pd(a.hi, b.hi)};
  }
};

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
  return {_mm_cvtps_pd(f.v), _mm_cvtps_pd(_mm_movehl_ps(f.v, f.v))};
}
inline float Narrow(double d) { return static_cast<float>(d); }
inline Floats4 Narrow(Doubles4 d) { return _mm_movelh_ps(_mm_cvtpd_ps(d.lo), _mm_cvtpd_ps(d.hi)); }

// The wide type of a float type.
template <typename F>
using WideOf = decltype(Widen(F{}));

inline float Sqrt(float f) { return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(f))); }
inline double Sqrt(double d) { return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(d))); }
inline Floats4 Sqrt(Floats4 f) { return _mm_sqrt_ps(f.v); }
inline Doubles4 Sqrt(Doubles4 d) { return {_mm_sqrt_pd(d.lo), _mm_sqrt_pd(d.hi)}; }

inline double Abs(double d) { return std::fabs(d); }
inline Doubles4 Abs(Doubles4 d) {
  const __m128d sign = _mm_set1_pd(-0.0);
  return {_mm_andnot_pd(sign, d.lo), _mm_andnot_pd(sign, d.hi)};
}

// a when a < b, else b; so b when either is not a number.
inline double Lesser(double a, double b) { return a < b ? a : b; }
inline Doubles4 Lesser(Doubles4 a, Doubles4 b) {
  return {_mm_min_pd(a.lo, b.lo), _mm_min_pd(a.hi, b.hi)};
}
// a when a > b, else b; so b when either is not a number.
inline float Greater(float a, float b) { return a > b ? a : b; }
inline double Greater(double a, double b) { return a > b ? a : b; }
inline Floats4 Greater(Floats4 a, Floats4 b) { return _mm_max_ps(a.v, b.v); }
inline Doubles4 Greater(Doubles4 a, Doubles4 b) {
  return {_mm_max_pd(a.lo, b.lo), _mm_max_pd(a.hi, b.hi)};
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
  const __m128 keep = _mm_cmpgt_ps(test.v, _mm_setzero_ps());
  // Each float mask widened to a double mask: lanes 0, 0, 1, 1 and 2, 2, 3, 3.
  const __m128d lo = _mm_castps_pd(_mm_unpacklo_ps(keep, keep));
  const __m128d hi = _mm_castps_pd(_mm_unpackhi_ps(keep, keep));
  return {_mm_and_pd(lo, value.lo), _mm_and_pd(hi, value.hi)};
}

// The lanes one by one, for what has no four-wide form.
template <typename Fn>
inline Doubles4 EachLane(Doubles4 d, Fn&& fn) {
  alignas(16) double lanes[4];
  _mm_store_pd(lanes, d.lo);
  _mm_store_pd(lanes + 2, d.hi);
  for (double& lane : lanes) lane = fn(lane);
  return {_mm_load_pd(lanes), _mm_load_pd(lanes + 2)};
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
