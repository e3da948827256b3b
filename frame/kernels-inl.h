// The vectors and row walks of the kernel layer, for one CPU level: included
// once per level after <hwy/foreach_target.h> (see frame/kernels.h).
//
// The vectors are Highway's, at the width of the level: Doubles fills a
// register with doubles, Floats holds as many floats (so channels widen into
// one register and narrow back), and LoadPixels reads that many pixels of the
// common layout (blue, green, red, alpha) sorted into one vector per channel.
// Lanes wraps a register for the rules written once for plain values and
// registers (frame/lanes.h). Every operation used rounds lane by lane as the
// plain operation does; Highway fuses nothing unless MulAdd is called, which
// the row loops never do.
//
// Per-level include guard: toggled by foreach_target.h for every level.
#if defined(VEXLAN_FRAME_KERNELS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef VEXLAN_FRAME_KERNELS_INL_H_
#undef VEXLAN_FRAME_KERNELS_INL_H_
#else
#define VEXLAN_FRAME_KERNELS_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/lanes.h"

HWY_BEFORE_NAMESPACE();
namespace kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using kernels::LoadPixel;
using kernels::Rgba;

using Doubles = hn::ScalableTag<double>;
using Floats = hn::Rebind<float, Doubles>;
using FloatVec = hn::Vec<Floats>;
using DoubleVec = hn::Vec<Doubles>;
using FloatMask = hn::Mask<Floats>;
using DoubleMask = hn::Mask<Doubles>;
// All the floats a register holds, for rules that never widen.
using WideFloats = hn::ScalableTag<float>;
#if HWY_TARGET != HWY_SCALAR
// One pixel. (The portable baseline of some compilers has vectors of one
// lane only; it stores pixels with plain copies.)
using OnePixel = hn::Full128<float>;
#endif

// Pixels per step of a row walk.
HWY_INLINE size_t Step() { return hn::Lanes(Floats()); }

HWY_INLINE DoubleVec Widen(FloatVec f) { return hn::PromoteTo(Doubles(), f); }

// Narrowed lane by lane as static_cast<float> narrows: the emulated levels'
// DemoteTo would stop infinities and huge values at the largest float.
HWY_INLINE FloatVec Narrow(DoubleVec d) {
#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
  HWY_ALIGN double wide[hn::MaxLanes(Doubles())];
  HWY_ALIGN float narrow[hn::MaxLanes(Floats())];
  hn::Store(d, Doubles(), wide);
  for (size_t i = 0; i < hn::Lanes(Doubles()); ++i) narrow[i] = static_cast<float>(wide[i]);
  return hn::Load(Floats(), narrow);
#else
  return hn::DemoteTo(Floats(), d);
#endif
}

// a where a < b, else b (so b when either is not a number); the same with >.
// Highway's Min and Max leave the choice for a NaN to the level.
template <class V>
HWY_INLINE V Lesser(V a, V b) {
  return hn::IfThenElse(a < b, a, b);
}
template <class V>
HWY_INLINE V Greater(V a, V b) {
  return hn::IfThenElse(a > b, a, b);
}

// The lanes whose float is surely the one a rule narrows its double q0 to,
// given q with |q - q0| <= 2^-48 |q| (about 16 units in the last place):
// both ends of q (1 -+ 2^-47), rounded, lie either side of q0, and narrowing
// keeps the order of values, so where both ends narrow to one float q0 and
// q do too. Not a number never passes. An exact zero passes, so a fast form
// of a rule must give one exactly where the rule does, with its sign.
HWY_INLINE FloatMask NarrowsAsTheRule(DoubleVec q) {
  const Doubles d;
  return hn::Eq(Narrow(hn::Mul(q, hn::Set(d, 1 - 0x1p-47))),
                Narrow(hn::Mul(q, hn::Set(d, 1 + 0x1p-47))));
}

#if HWY_TARGET == HWY_AVX3
// At this level Step() pixels are 32 floats in two registers: one pick of
// lanes from both sorts out the blues and greens, another the reds and
// alphas, where the general interleaving takes a dozen shuffles.
HWY_INLINE __m512i SortedLanes(int first) {
  return _mm512_setr_epi32(first, first + 4, first + 8, first + 12, first + 16, first + 20,
                           first + 24, first + 28, first + 1, first + 5, first + 9, first + 13,
                           first + 17, first + 21, first + 25, first + 29);
}
HWY_INLINE __m512i PixelLanes(int first) {
  return _mm512_setr_epi32(first, first + 8, first + 16, first + 24, first + 1, first + 9,
                           first + 17, first + 25, first + 2, first + 10, first + 18, first + 26,
                           first + 3, first + 11, first + 19, first + 27);
}
#endif

// Step() pixels of the common layout, one vector per channel.
HWY_INLINE Rgba<FloatVec> LoadPixels(const float* in) {
  Rgba<FloatVec> p;
#if HWY_TARGET == HWY_AVX3
  const __m512 first = _mm512_loadu_ps(in), last = _mm512_loadu_ps(in + 16);
  const hn::Vec512<float> bg{_mm512_permutex2var_ps(first, SortedLanes(0), last)};
  const hn::Vec512<float> ra{_mm512_permutex2var_ps(first, SortedLanes(2), last)};
  p.b = hn::LowerHalf(Floats(), bg), p.g = hn::UpperHalf(Floats(), bg);
  p.r = hn::LowerHalf(Floats(), ra), p.a = hn::UpperHalf(Floats(), ra);
#else
  hn::LoadInterleaved4(Floats(), in, p.b, p.g, p.r, p.a);
#endif
  return p;
}

// Writes Step() pixels. Streamed pixels go past the cache, one pixel (16
// bytes, the alignment of every pixel of the common layout) at a time.
template <bool Stream>
HWY_INLINE void StorePixels(const Rgba<FloatVec>& p, float* out) {
#if HWY_TARGET == HWY_AVX3
  const hn::Full512<float> all;
  const __m512 bg = hn::Combine(all, p.g, p.b).raw, ra = hn::Combine(all, p.a, p.r).raw;
  const __m512 first = _mm512_permutex2var_ps(bg, PixelLanes(0), ra);
  const __m512 last = _mm512_permutex2var_ps(bg, PixelLanes(4), ra);
  if constexpr (Stream) {
    if (reinterpret_cast<uintptr_t>(out) % 64 == 0) {
      _mm512_stream_ps(out, first);
      _mm512_stream_ps(out + 16, last);
    } else {
      _mm_stream_ps(out, _mm512_extractf32x4_ps(first, 0));
      _mm_stream_ps(out + 4, _mm512_extractf32x4_ps(first, 1));
      _mm_stream_ps(out + 8, _mm512_extractf32x4_ps(first, 2));
      _mm_stream_ps(out + 12, _mm512_extractf32x4_ps(first, 3));
      _mm_stream_ps(out + 16, _mm512_extractf32x4_ps(last, 0));
      _mm_stream_ps(out + 20, _mm512_extractf32x4_ps(last, 1));
      _mm_stream_ps(out + 24, _mm512_extractf32x4_ps(last, 2));
      _mm_stream_ps(out + 28, _mm512_extractf32x4_ps(last, 3));
    }
    return;
  }
  _mm512_storeu_ps(out, first);
  _mm512_storeu_ps(out + 16, last);
  return;
#endif
#if HWY_TARGET != HWY_SCALAR
  if constexpr (Stream) {
    HWY_ALIGN float block[4 * hn::MaxLanes(Floats())];
    hn::StoreInterleaved4(p.b, p.g, p.r, p.a, Floats(), block);
    const OnePixel px;
    for (size_t i = 0; i < 4 * Step(); i += 4) hn::Stream(hn::Load(px, block + i), px, out + i);
    return;
  }
#endif
  hn::StoreInterleaved4(p.b, p.g, p.r, p.a, Floats(), out);
}

// Writes one pixel given as blue, green, red, alpha.
template <bool Stream>
HWY_INLINE void StorePixel(const float (&bgra)[4], float* out) {
#if HWY_TARGET == HWY_SCALAR
  std::memcpy(out, bgra, sizeof bgra);
#else
  const OnePixel px;
  const auto v = hn::LoadU(px, bgra);
  if constexpr (Stream)
    hn::Stream(v, px, out);
  else
    hn::StoreU(v, px, out);
#endif
}

// The lanes of a register as a value of their own, for rules written once
// for plain values and registers (frame/lanes.h): arithmetic with registers
// and with plain numbers, which fill every lane.
template <class D>
struct Lanes {
  using Scalar = hn::TFromD<D>;
  hn::Vec<D> v;

  Lanes() = default;
  HWY_INLINE Lanes(hn::Vec<D> v) : v(v) {}
  HWY_INLINE Lanes(Scalar s) : v(hn::Set(D(), s)) {}

  HWY_INLINE friend Lanes operator+(Lanes a, Lanes b) { return hn::Add(a.v, b.v); }
  HWY_INLINE friend Lanes operator-(Lanes a, Lanes b) { return hn::Sub(a.v, b.v); }
  HWY_INLINE friend Lanes operator*(Lanes a, Lanes b) { return hn::Mul(a.v, b.v); }
  HWY_INLINE friend Lanes operator/(Lanes a, Lanes b) { return hn::Div(a.v, b.v); }
};
using FloatLanes = Lanes<Floats>;
using DoubleLanes = Lanes<Doubles>;

HWY_INLINE DoubleLanes Widen(FloatLanes f) { return Widen(f.v); }
HWY_INLINE FloatLanes Narrow(DoubleLanes d) { return Narrow(d.v); }
template <class D>
HWY_INLINE Lanes<D> Sqrt(Lanes<D> a) {
  return hn::Sqrt(a.v);
}
HWY_INLINE DoubleLanes Abs(DoubleLanes d) { return hn::Abs(d.v); }
template <class D>
HWY_INLINE Lanes<D> Lesser(Lanes<D> a, Lanes<D> b) {
  return Lesser(a.v, b.v);
}
template <class D>
HWY_INLINE Lanes<D> Greater(Lanes<D> a, Lanes<D> b) {
  return Greater(a.v, b.v);
}
HWY_INLINE FloatLanes IfNonZero(FloatLanes test, FloatLanes value, FloatLanes otherwise) {
  return hn::IfThenElse(test.v != hn::Zero(Floats()), value.v, otherwise.v);
}
// Compared as doubles: a float is greater than 0 exactly when it is so
// widened.
HWY_INLINE DoubleLanes IfPositive(FloatLanes test, DoubleLanes value) {
  return hn::IfThenElseZero(Widen(test.v) > hn::Zero(Doubles()), value.v);
}
HWY_INLINE DoubleLanes IfPositiveElseNaN(FloatLanes test, DoubleLanes value) {
  return hn::IfThenElse(Widen(test.v) > hn::Zero(Doubles()), value.v,
                        hn::Set(Doubles(), std::numeric_limits<double>::quiet_NaN()));
}
template <class Fn>
HWY_INLINE DoubleLanes EachLane(DoubleLanes d, Fn&& fn) {
  HWY_ALIGN double lanes[hn::MaxLanes(Doubles())];
  hn::Store(d.v, Doubles(), lanes);
  for (size_t i = 0; i < hn::Lanes(Doubles()); ++i) lanes[i] = fn(lanes[i]);
  return hn::Load(Doubles(), lanes);
}

HWY_INLINE Rgba<FloatLanes> Wrap(const Rgba<FloatVec>& p) { return {p.r, p.g, p.b, p.a}; }

// The row walks. Each takes the vector form of a rule for whole steps of
// pixels and the tool's plain rule for the pixels after the last whole step.

// Pixel to pixel: `vec` maps Rgba<FloatVec> to Rgba<FloatVec>; `plain` maps
// the blue, green, red, alpha of one pixel in place.
template <bool Stream, class Vec, class Plain>
HWY_INLINE void MapRow(const float* HWY_RESTRICT in, float* HWY_RESTRICT out, size_t width,
                       const Vec& vec, const Plain& plain) {
  const size_t step = Step();
  size_t x = 0;
  for (; x + step <= width; x += step)
    StorePixels<Stream>(vec(LoadPixels(in + 4 * x)), out + 4 * x);
  for (; x < width; ++x) {
    float px[4] = {in[4 * x], in[4 * x + 1], in[4 * x + 2], in[4 * x + 3]};
    plain(px);
    StorePixel<Stream>(px, out + 4 * x);
  }
}

// Grey into four channels: `vec` gives one FloatVec of grey values for
// Step() pixels and the pixels at the same place of `second` (the pixels
// themselves again when it is null), `plain` one float for one pixel and its
// second; each is written into blue, green, red and alpha.
template <bool Stream, class Vec, class Plain>
HWY_INLINE void GreyRow(const float* HWY_RESTRICT in, const float* HWY_RESTRICT second,
                        float* HWY_RESTRICT out, size_t width, const Vec& vec, const Plain& plain) {
  if (!second) second = in;
  const size_t step = Step();
  size_t x = 0;
  for (; x + step <= width; x += step) {
    const FloatVec grey = vec(LoadPixels(in + 4 * x), LoadPixels(second + 4 * x));
    StorePixels<Stream>({grey, grey, grey, grey}, out + 4 * x);
  }
  for (; x < width; ++x) {
    const float grey = plain(LoadPixel(in + 4 * x), LoadPixel(second + 4 * x));
    const float px[4] = {grey, grey, grey, grey};
    StorePixel<Stream>(px, out + 4 * x);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace kernels
HWY_AFTER_NAMESPACE();

#endif  // VEXLAN_FRAME_KERNELS_INL_H_
