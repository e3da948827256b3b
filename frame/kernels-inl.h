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

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "frame/lanes.h"

// For a lambda that a row loop calls once per register, which the compiler
// would otherwise keep out of line once it grows long.
#ifndef VEXLAN_INLINE_LAMBDA
#define VEXLAN_INLINE_LAMBDA __attribute__((always_inline))
#endif

HWY_BEFORE_NAMESPACE();
namespace kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using kernels::LoadPixel;
using kernels::PowExponent;
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
// Highway's Min and Max leave the choice for a NaN to the level; on the x86
// levels they are the processor's min and max, which make this very choice
// (the second operand when either is not a number, or both are zeros).
template <class V>
HWY_INLINE V Lesser(V a, V b) {
#if HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR
  return hn::Min(a, b);
#else
  return hn::IfThenElse(a < b, a, b);
#endif
}
template <class V>
HWY_INLINE V Greater(V a, V b) {
#if HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR
  return hn::Max(a, b);
#else
  return hn::IfThenElse(a > b, a, b);
#endif
}

// The lanes whose float is surely the one a rule narrows its double q0 to,
// given q with |q - q0| <= margin |q|, 2^-52 <= margin <= 2^-3 (by default
// 2^-48, about 16 units in the last place): both ends of q (1 -+ 2 margin),
// rounded, lie either side of q0, and narrowing keeps the order of values,
// so where both ends narrow to one float q0 and q do too. This holds across
// the whole float range: subnormal, too large and infinite lanes pass only
// where both ends agree. Not a number never passes. An exact zero passes, so
// a fast form of a rule must give one exactly where the rule does, with its
// sign.
HWY_INLINE FloatMask NarrowsAsTheRule(DoubleVec q, double margin = 0x1p-48) {
  const Doubles d;
  return hn::Eq(Narrow(hn::Mul(q, hn::Set(d, 1 - 2 * margin))),
                Narrow(hn::Mul(q, hn::Set(d, 1 + 2 * margin))));
}

// The floats of a rule's doubles q0, in the lanes where they are sure: given
// bounds `below` and `above` with q0 between them (below <= q0 <= above, or
// the other way round), all three of one sign, the lanes where both bounds
// narrow to one float. Narrowing keeps the order of values, so q0 narrows to
// that float too, which is `value`; exact zeros of q0's sign pass. A rule
// worked with its rounding error folded into its factors gets its bounds
// from two products where NarrowsAsTheRule takes three and one more
// narrowing.
struct SureFloats {
  FloatVec value;
  FloatMask sure;
};
HWY_INLINE SureFloats NarrowBetween(DoubleVec below, DoubleVec above) {
  const FloatVec value = Narrow(below);
  return {value, hn::Eq(value, Narrow(above))};
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

// Writes Step() pixels of one grey value each in blue, green, red and alpha.
template <bool Stream>
HWY_INLINE void StoreGreyPixels(FloatVec grey, float* out) {
#if HWY_TARGET == HWY_AVX3
  // Each of two picks of lanes from the grey values makes four pixels.
  const __m512 g = _mm512_castps256_ps512(grey.raw);
  const __m512 first =
      _mm512_permutexvar_ps(_mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3), g);
  const __m512 last =
      _mm512_permutexvar_ps(_mm512_setr_epi32(4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7), g);
  if constexpr (Stream) {
    if (reinterpret_cast<uintptr_t>(out) % 64 == 0) {
      _mm512_stream_ps(out, first);
      _mm512_stream_ps(out + 16, last);
      return;
    }
  } else {
    _mm512_storeu_ps(out, first);
    _mm512_storeu_ps(out + 16, last);
    return;
  }
#endif
  StorePixels<Stream>({grey, grey, grey, grey}, out);
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
template <class D>
HWY_INLINE Lanes<D> IfNonZero(Lanes<D> test, Lanes<D> value, Lanes<D> otherwise) {
  return hn::IfThenElse(test.v != hn::Zero(D()), value.v, otherwise.v);
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

// The register form of a rule's value where it may narrow to other floats
// than the plain rule's: in the lanes whose sign bit `risky` sets. The row
// walks work such a register's pixels out again by the plain rule
// (GreyRow). A plain value is always sure (frame/lanes.h).
using SignVec = hn::Vec<hn::RebindToSigned<Doubles>>;
template <class V>
struct Unsure {
  V value;
  SignVec risky;
};
HWY_INLINE Unsure<DoubleLanes> Sure(DoubleLanes v) {
  return {v, hn::Zero(hn::RebindToSigned<Doubles>())};
}
// The value of a register known to be sure (made by Sure).
template <class V>
HWY_INLINE V SureValue(const Unsure<V>& u) {
  return u.value;
}
HWY_INLINE Unsure<FloatLanes> Narrow(const Unsure<DoubleLanes>& u) {
  return {Narrow(u.value.v), u.risky};
}
HWY_INLINE bool AllSure(const SignVec& risky) {
  const hn::RebindToSigned<Doubles> di;
  return hn::AllFalse(Doubles(),
                      hn::RebindMask(Doubles(), hn::TestBit(risky, hn::Set(di, INT64_MIN))));
}

// The power of PowThen's register form: c^e = 2^(e log2 c), worked with
// tables of 16 entries and short polynomials to about 2^-41 (the error is
// bounded below, at PowThen).
//
// log2 c: c = 2^E m with m in [1, 2), and m in the interval
// [1 + j/16, 1 + (j+1)/16) taken to r = m R_j - 1 (|r| <= 0.0304) with a
// reciprocal R_j of 12 bits near the interval's middle: log2 c is
// E - log2 R_j + log2(1 + r), the last the series to r^8 (which leaves out
// at most 2^-47.9).
//
// 2^y: n = y * 16 rounded, f = y - n/16 (exact, |f| <= 1/32), and 2^y is
// 2^(n div 16) * 2^((n mod 16)/16) * 2^f, the last the series of exp(f ln 2)
// to f^5 (which leaves out at most 2^-42.6 of it).
struct PowTables {
  double reciprocal[16], minusLog2[16], exp2[16];
};
constexpr PowTables Pow = {
    {3972 / 4096.0, 3745 / 4096.0, 3542 / 4096.0, 3361 / 4096.0, 3197 / 4096.0, 3048 / 4096.0,
     2913 / 4096.0, 2789 / 4096.0, 2675 / 4096.0, 2570 / 4096.0, 2473 / 4096.0, 2383 / 4096.0,
     2300 / 4096.0, 2222 / 4096.0, 2149 / 4096.0, 2081 / 4096.0},
    {0x1.6b50e297afccep-5, 0x1.08b438e517a8cp-3, 0x1.ad5dc4700fe7bp-3, 0x1.242c4835c0306p-2,
     0x1.6e13af9f3a147p-2, 0x1.b495d4e9185f7p-2, 0x1.f782d47292571p-2, 0x1.1be33373eb0dfp-1,
     0x1.3ab6ebafde191p-1, 0x1.584b0513e7ce2p-1, 0x1.74b65165826ebp-1, 0x1.90187ac0e8e3cp-1,
     0x1.aa482b35ca9cfp-1, 0x1.c3c4488dde200p-1, 0x1.dc7114805da05p-1, 0x1.f43150dd29e82p-1},
    {0x1.0000000000000p+0, 0x1.0b5586cf9890fp+0, 0x1.172b83c7d517bp+0, 0x1.2387a6e756238p+0,
     0x1.306fe0a31b715p+0, 0x1.3dea64c123422p+0, 0x1.4bfdad5362a27p+0, 0x1.5ab07dd485429p+0,
     0x1.6a09e667f3bcdp+0, 0x1.7a11473eb0187p+0, 0x1.8ace5422aa0dbp+0, 0x1.9c49182a3f090p+0,
     0x1.ae89f995ad3adp+0, 0x1.c199bdd85529cp+0, 0x1.d5818dcfba487p+0, 0x1.ea4afa2a490dap+0}};

// table[index] lane by lane, for indexes 0 … 15.
HWY_INLINE DoubleVec Lookup16(const double (&table)[16],
                              hn::Vec<hn::RebindToSigned<Doubles>> index) {
#if HWY_TARGET == HWY_AVX3
  return DoubleVec{
      _mm512_permutex2var_pd(_mm512_loadu_pd(table), index.raw, _mm512_loadu_pd(table + 8))};
#else
  return hn::GatherIndex(Doubles(), table, index);
#endif
}

// log2 c for c a positive normal double (+0 gives about -1023, and other
// numbers some number or not a number: no trap, nothing undefined).
HWY_INLINE DoubleVec Log2(DoubleVec c) {
  const Doubles d;
  const hn::RebindToUnsigned<Doubles> du;
  const hn::RebindToSigned<Doubles> di;
  const auto bits = hn::BitCast(du, c);
  // The biased exponent in the low bits of 2^52 gives 2^52 + it exactly.
  const DoubleVec exponent =
      hn::Sub(hn::BitCast(d, hn::Or(hn::ShiftRight<52>(bits), hn::Set(du, 0x4330000000000000u))),
              hn::Set(d, 0x1p52 + 1023));
  const DoubleVec m = hn::BitCast(d, hn::Or(hn::And(bits, hn::Set(du, (uint64_t(1) << 52) - 1)),
                                            hn::Set(du, 0x3ff0000000000000u)));
  const auto j = hn::BitCast(di, hn::And(hn::ShiftRight<48>(bits), hn::Set(du, 15u)));
  const DoubleVec r = hn::MulSub(m, Lookup16(Pow.reciprocal, j), hn::Set(d, 1.0));
  const DoubleVec r2 = hn::Mul(r, r), r4 = hn::Mul(r2, r2);
  // (-1)^(k+1) / (k ln 2), k = 1 … 8, summed in pairs.
  const DoubleVec a =
      hn::MulAdd(hn::Set(d, -0x1.71547652b82fep-1), r, hn::Set(d, 0x1.71547652b82fep+0));
  const DoubleVec b =
      hn::MulAdd(hn::Set(d, -0x1.71547652b82fep-2), r, hn::Set(d, 0x1.ec709dc3a03fdp-2));
  const DoubleVec e =
      hn::MulAdd(hn::Set(d, -0x1.ec709dc3a03fdp-3), r, hn::Set(d, 0x1.2776c50ef9bfep-2));
  const DoubleVec f =
      hn::MulAdd(hn::Set(d, -0x1.71547652b82fep-3), r, hn::Set(d, 0x1.a61762a7aded9p-3));
  const DoubleVec series = hn::Mul(r, hn::MulAdd(hn::MulAdd(f, r2, e), r4, hn::MulAdd(b, r2, a)));
  return hn::Add(hn::Add(exponent, Lookup16(Pow.minusLog2, j)), series);
}

// 2^y for -1000 < y < 1000.
HWY_INLINE DoubleVec Exp2(DoubleVec y) {
  const Doubles d;
  const hn::RebindToUnsigned<Doubles> du;
  const hn::RebindToSigned<Doubles> di;
  // 1.5 * 2^52 rounds 16 y to the nearest whole number n and holds it in
  // its low bits.
  const DoubleVec shift = hn::Set(d, 0x1.8p52);
  const DoubleVec sum = hn::MulAdd(y, hn::Set(d, 16.0), shift);
  const DoubleVec f = hn::NegMulAdd(hn::Sub(sum, shift), hn::Set(d, 1.0 / 16), y);
  const auto n = hn::BitCast(du, sum);
  const auto j = hn::And(n, hn::Set(du, 15u));
  // (ln 2)^k / k!, k = 0 … 5.
  const DoubleVec f2 = hn::Mul(f, f);
  const DoubleVec a = hn::MulAdd(hn::Set(d, 0x1.62e42fefa39efp-1), f, hn::Set(d, 1.0));
  const DoubleVec b =
      hn::MulAdd(hn::Set(d, 0x1.c6b08d704a0c0p-5), f, hn::Set(d, 0x1.ebfbdff82c58fp-3));
  const DoubleVec e =
      hn::MulAdd(hn::Set(d, 0x1.5d87fe78a6731p-10), f, hn::Set(d, 0x1.3b2ab6fba4e77p-7));
  const DoubleVec series = hn::MulAdd(hn::MulAdd(e, f2, b), f2, a);
  const DoubleVec scaled = hn::Mul(Lookup16(Pow.exp2, hn::BitCast(di, j)), series);
  // n - j is 16 (n div 16); shifted by 48 it is n div 16 in the exponent
  // field, whatever the bits of the shift above.
  return hn::BitCast(d, hn::Add(hn::BitCast(du, scaled), hn::ShiftLeft<48>(hn::Sub(n, j))));
}

// finish(c^e) lane by lane (frame/lanes.h), unsure where it may narrow to
// other bits than finish(std::pow(c, e)).
//
// For 1 <= e <= 2^16, a lane with +0 <= c <= 1 + 2^-12 takes
// p = Exp2(max(y, -999)) with y = e * Log2(c), at most 23. Why its bits are
// sure elsewhere than where it says, with eps = 2^-53:
// - Log2 is off log2 c by at most 2^-47.3 + 2 eps |L|, L its value: the
//   series leaves out 2^-47.9, its terms and sums add 2^-50, r is off by at
//   most 2^-52 (2^-51.4 in the logarithm), the table by eps, the two sums by
//   eps (|L| + 1.1) and eps |L|. So |y - e log2 c| <= e 2^-47.3 + 3 eps |y|,
//   which is e 2^-47.3 + 2^-41.4 where y >= -999.
// - Exp2 is off 2^y in ratio by at most 2^-42.5 (series, terms and sums,
//   table, product).
// - So |ln(p / c^e)| is at most e 2^-47.8 + 2^-41.9 + 2^-42.5; std::pow is
//   allowed 1 ulp (2 eps), and finish rounds at most twice on either side:
//   v = finish(p) and finish(std::pow(c, e)) differ in ratio by at most
//   exp(e 2^-47.8 + 2^-41.2). Both have the same sign, so the rule's double
//   lies within (e 2^-47.8 + 2^-41.1) |v| of v, and the lane is sure where
//   NarrowsAsTheRule holds with a margin of ceil(e) 2^-47 + 2^-40
//   (PowExponent: more than 1.7 times that).
// - Where y < -999 (c = +0 among them: Log2 takes it for 2^-1023), y is off
//   by at most 2^-25 and p = 2^-999 is at least c^e / (1 + 2^-24): the lane
//   is sure of v only if v is below 2^-151, where both narrow to a zero of
//   its sign.
// Any other lane (c negative, not a number or above 1 + 2^-12) and any
// other e leave the register unsure: the row walk works its pixels out by
// the plain rule.
//
// The row walks may take the logarithm in a stage of its own
// (PowLogarithm, then PowFromLogarithm).
HWY_INLINE DoubleLanes PowLogarithm(DoubleLanes c, const PowExponent& e) {
  return hn::Mul(Log2(c.v), hn::Set(Doubles(), e.value));
}

template <class Finish>
HWY_INLINE Unsure<DoubleLanes> PowFromLogarithm(DoubleLanes c, DoubleLanes y, const PowExponent& e,
                                                const Finish& finish) {
  const Doubles d;
  const hn::RebindToSigned<Doubles> di;
  const DoubleLanes v = finish(DoubleLanes(Exp2(hn::Max(y.v, hn::Set(d, -999.0)))));
  if (!e.fast) return {v, hn::Set(di, -1)};
  const auto cBits = hn::BitCast(di, c.v);
  // Negative where c is negative or above the limit (as a difference of
  // bits, which order positive doubles), where y < -999, and where v is not
  // below 2^-151.
  const auto outsideC = hn::Or(cBits, hn::Sub(hn::Set(di, 0x3ff0010000000000), cBits));
  const auto low = hn::BitCast(di, hn::Add(y.v, hn::Set(d, 999.0)));
  const auto magnitude = hn::And(hn::BitCast(di, v.v), hn::Set(di, INT64_MAX));
  const auto tiny = hn::Sub(magnitude, hn::Set(di, int64_t(1023 - 151) << 52));
  const hn::RebindToSigned<Floats> fi;
  const auto unsure = hn::PromoteTo(
      di, hn::BitCast(fi, hn::VecFromMask(Floats(), hn::Not(NarrowsAsTheRule(v.v, e.margin)))));
  return {v, hn::Or3(outsideC, hn::AndNot(tiny, low), unsure)};
}

// finish(c^e) for e a whole number and a half (PowExponent::half, e =
// n + 1/2): p = c^n by repeated squaring, times the root of c,
// each step rounded. A square's error doubles with each squaring, so c^n
// carries at most n - 1 roundings' worth and the root and the last product
// two more: p is off c^e by at most (n + 1.01) eps in ratio, eps = 2^-53,
// where no step leaves the normal doubles, which holds for +0 < c <=
// 1 + 2^-12 with p >= 2^-1000 (every step then lies between p and e^16).
// With std::pow's unit in the last place and finish's roundings on either
// side, the rule's double lies within (n + 8) eps |v| of v = finish(p):
// the lane is sure where NarrowsAsTheRule holds with the margin (n + 16) eps
// (PowExponent). c = +0 gives +0, as std::pow does. Any other lane (c
// negative, not a number or above 1 + 2^-12, or 0 < p < 2^-1000) is unsure.
template <class Finish>
HWY_INLINE Unsure<DoubleLanes> PowHalfThen(DoubleLanes c, const PowExponent& e,
                                           const Finish& finish) {
  const hn::RebindToSigned<Doubles> di;
  DoubleLanes power = 1.0, square = c;
  for (unsigned bits = e.whole;;) {
    if (bits & 1u) power = power * square;
    if ((bits >>= 1) == 0) break;
    square = square * square;
  }
  const DoubleLanes p = power * Sqrt(c);
  const DoubleLanes v = finish(p);
  const auto cBits = hn::BitCast(di, c.v);
  const auto outsideC = hn::Or(cBits, hn::Sub(hn::Set(di, 0x3ff0010000000000), cBits));
  const auto tiny = hn::IfThenElseZero(
      hn::Ne(cBits, hn::Zero(di)), hn::Sub(hn::BitCast(di, p.v), hn::Set(di, int64_t(23) << 52)));
  const hn::RebindToSigned<Floats> fi;
  const auto unsure = hn::PromoteTo(
      di, hn::BitCast(fi, hn::VecFromMask(Floats(), hn::Not(NarrowsAsTheRule(v.v, e.margin)))));
  return {v, hn::Or3(outsideC, tiny, unsure)};
}

template <class Finish>
HWY_INLINE Unsure<DoubleLanes> PowThen(DoubleLanes c, const PowExponent& e, const Finish& finish) {
  if (e.half) return PowHalfThen(c, e, finish);
  return PowFromLogarithm(c, PowLogarithm(c, e), e, finish);
}

// Copies `floats` floats (whole pixels), past the cache when `stream` is
// set: then a whole register at a time where the destination is aligned to
// it (a whole line of the cache at the widest level, which leaves the
// processor fewer partial lines to gather before they go out), else a pixel
// at a time.
HWY_INLINE void CopyFloats(const float* HWY_RESTRICT from, float* HWY_RESTRICT to, size_t floats,
                           bool stream) {
#if HWY_TARGET == HWY_SCALAR
  (void)stream;
  if (floats > 0) std::memcpy(to, from, floats * sizeof(float));
#else
  const OnePixel px;
  if (stream) {
    const WideFloats dw;
    const size_t wide = hn::Lanes(dw);
    size_t i = 0;
    if (reinterpret_cast<uintptr_t>(to) % (wide * sizeof(float)) == 0)
      for (; i + wide <= floats; i += wide) hn::Stream(hn::LoadU(dw, from + i), dw, to + i);
    for (; i < floats; i += 4) hn::Stream(hn::LoadU(px, from + i), px, to + i);
  } else {
    for (size_t i = 0; i < floats; i += 4) hn::StoreU(hn::LoadU(px, from + i), px, to + i);
  }
#endif
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

// The pixels from `x` to `end` of a grey row by the plain rule.
template <bool Stream, class Plain>
HWY_INLINE void GreyPixels(const float* in, const float* second, float* out, size_t x, size_t end,
                           const Plain& plain) {
  for (; x < end; ++x) {
    const float grey = plain(LoadPixel(in + 4 * x), LoadPixel(second + 4 * x));
    const float px[4] = {grey, grey, grey, grey};
    StorePixel<Stream>(px, out + 4 * x);
  }
}

// The middle stage of a rule in two stages (GreyRow).
struct NoStage {};

// The grey values of a register, sure or not (Unsure).
HWY_INLINE FloatVec Value(const FloatLanes& grey) { return grey.v; }
HWY_INLINE FloatVec Value(const Unsure<FloatLanes>& grey) { return grey.value.v; }
HWY_INLINE bool AllSure(const FloatLanes&) { return true; }
HWY_INLINE bool AllSure(const Unsure<FloatLanes>& grey) { return AllSure(grey.risky); }

// Up to `Chunk` whole steps of a grey row from `x` (at least one), each
// stage of the rule over all of them before the next; the places of unsure
// steps go into `redo`, and their pixels are left to the caller. Returns
// where it stopped. Out of line, so that the loops keep the registers for
// themselves (the plain rule's calls are the caller's), with the stages
// taken by value: what they hold is the loops' own, which no store into
// the row can change.
template <size_t Chunk, bool Stream, class First, class Middle, class Last>
HWY_NOINLINE size_t GreyChunk(const float* HWY_RESTRICT in, const float* HWY_RESTRICT second,
                              float* HWY_RESTRICT out, size_t x, size_t width, First first,
                              Middle middle, Last last, size_t (&redo)[Chunk], size_t& unsure) {
  const size_t step = Step();
  const size_t n = (width - x) / step < Chunk ? (width - x) / step : Chunk;
  auto at = [&](size_t i) { return LoadPixels(in + 4 * (x + i * step)); };
  auto secondAt = [&](size_t i) { return LoadPixels(second + 4 * (x + i * step)); };
  auto finish = [&](const auto& stage) {
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
      const auto grey = last(stage[i]);
      if (HWY_UNLIKELY(!AllSure(grey))) {
        redo[count++] = x + i * step;
        continue;
      }
      StoreGreyPixels<Stream>(Value(grey), out + 4 * (x + i * step));
    }
    unsure = count;
  };
  auto then = [&](auto& a) {
    if constexpr (std::is_same_v<Middle, NoStage>) {
      finish(a);
    } else if constexpr (std::is_invocable_v<Middle, decltype(a), size_t>) {
      middle(a, n);
      finish(a);
    } else {
      decltype(middle(a[0])) b[Chunk];
      for (size_t i = 0; i < n; ++i) b[i] = middle(a[i]);
      finish(b);
    }
  };
  if constexpr (std::is_invocable_v<First, Rgba<FloatVec>, Rgba<FloatVec>>) {
    decltype(first(at(0), at(0))) a[Chunk];
    for (size_t i = 0; i < n; ++i) a[i] = first(at(i), secondAt(i));
    then(a);
  } else {
    // Two registers at a time; an odd last one goes with itself.
    decltype(first(at(0), at(0), at(0), at(0)).first) a[Chunk];
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
      const auto both = first(at(i), secondAt(i), at(i + 1), secondAt(i + 1));
      a[i] = both.first;
      a[i + 1] = both.second;
    }
    if (i < n) a[i] = first(at(i), secondAt(i), at(i), secondAt(i)).first;
    then(a);
  }
  return x + n * step;
}

// Grey into four channels, by a rule in stages, each of which runs over a
// chunk of registers (in the first level cache) before the next: a long
// chain of dependent operations per register is then cut into short ones,
// which the processor overlaps across registers far better. `first` takes
// the pixels of a register and the pixels at the same places of `second`
// (the pixels themselves again when it is null) to its first value, or
// those of two registers to a std::pair of theirs; `middle` (or NoStage)
// one register's first value to its second, or all first values of the
// chunk in place (given them and their count); `last` a register's value
// to its grey values: FloatLanes, or Unsure ones whose register then takes
// the plain rule. `plain` gives one float for one pixel and its second, for
// those registers and for the pixels after the last whole step. Each grey
// value is written into blue, green, red and alpha.
template <bool Stream, class First, class Middle, class Last, class Plain>
HWY_INLINE void GreyRow(const float* HWY_RESTRICT in, const float* HWY_RESTRICT second,
                        float* HWY_RESTRICT out, size_t width, const First& first,
                        const Middle& middle, const Last& last, const Plain& plain) {
  if (!second) second = in;
  const size_t step = Step();
  constexpr size_t Chunk = 32;
  size_t x = 0, redo[Chunk] = {}, unsure = 0;
  while (x + step <= width) {
    x = GreyChunk<Chunk, Stream>(in, second, out, x, width, first, middle, last, redo, unsure);
    for (size_t i = 0; i < unsure; ++i)
      GreyPixels<Stream>(in, second, out, redo[i], redo[i] + step, plain);
  }
  GreyPixels<Stream>(in, second, out, x, width, plain);
}

// f of the pixels of two registers: at once on a register of twice the
// floats where the level has one, split back into each register's values.
template <class Fn>
HWY_INLINE std::pair<FloatLanes, FloatLanes> OnBoth(const Fn& f, const Rgba<FloatVec>& a,
                                                    const Rgba<FloatVec>& b) {
#if HWY_TARGET == HWY_SCALAR
  return {f(Wrap(a)), f(Wrap(b))};
#else
  const WideFloats w;
  const Rgba<Lanes<WideFloats>> both{hn::Combine(w, b.r, a.r), hn::Combine(w, b.g, a.g),
                                     hn::Combine(w, b.b, a.b), hn::Combine(w, b.a, a.a)};
  const Lanes<WideFloats> value = f(both);
  return {FloatLanes(hn::LowerHalf(Floats(), value.v)),
          FloatLanes(hn::UpperHalf(Floats(), value.v))};
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace kernels
HWY_AFTER_NAMESPACE();

#endif  // VEXLAN_FRAME_KERNELS_INL_H_
