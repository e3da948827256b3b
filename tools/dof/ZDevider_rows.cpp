// The divider's run of pixels, at every CPU level.
//
// A Zmax that is a float divides in float, a register of channels at a
// time: the float quotient of floats is the double one narrowed. Any other
// Zmax is worked as two products that lie either side of the rule's double
// (DivisionBounds, in frame/lanes.h). Where both narrow to one float
// (NarrowBetween) that is the rule's float; a register with a lane where they
// do not goes through the division. Ordinary depths do that about once in a
// few million registers.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/dof/ZDevider_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <cmath>

#include "frame/kernels-inl.h"
#include "tools/dof/rules.h"

HWY_BEFORE_NAMESPACE();
namespace dof {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR
// The lanes of a register of channels that hold alpha: every fourth from
// `first`, the index of the register's first channel.
template <class D>
HWY_INLINE hn::Mask<D> AlphaLanes(D d, size_t first) {
  const hn::RebindToSigned<D> di;
  using T = hn::TFromD<decltype(di)>;
  const auto index = hn::Iota(di, static_cast<T>(first));
  return hn::RebindMask(d, hn::And(index, hn::Set(di, T{3})) == hn::Set(di, T{3}));
}

// Writes a register of channels; streamed ones go past the cache whole when
// the place is aligned to the register, else a pixel at a time.
template <bool Stream>
HWY_INLINE void Put(hn::Vec<WideFloats> v, float* out) {
  const WideFloats d;
  if constexpr (Stream) {
    if (reinterpret_cast<uintptr_t>(out) % (hn::Lanes(d) * sizeof(float)) == 0) {
      hn::Stream(v, d, out);
    } else {
      HWY_ALIGN float block[hn::MaxLanes(d)];
      hn::Store(v, d, block);
      const OnePixel px;
      for (size_t i = 0; i < hn::Lanes(d); i += 4) hn::Stream(hn::Load(px, block + i), px, out + i);
    }
  } else {
    hn::StoreU(v, d, out);
  }
}

#endif

template <bool Stream>
HWY_INLINE void DivideTail(const float* in, float* out, size_t pixels, double zmax) {
  for (size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
    const float px[4] = {DivideDepth(in[0], zmax), DivideDepth(in[1], zmax),
                         DivideDepth(in[2], zmax), in[3]};
    StorePixel<Stream>(px, out);
  }
}

#if HWY_TARGET != HWY_SCALAR
template <bool Stream>
HWY_INLINE void DivideByFloat(const float* in, float* out, size_t pixels, float zmax) {
  const WideFloats d;
  const size_t step = hn::Lanes(d) / 4;  // pixels per register
  const auto alpha = AlphaLanes(d, 0);
  const auto divisor = hn::Set(d, zmax);
  size_t i = 0;
  for (; i + step <= pixels; i += step, in += 4 * step, out += 4 * step) {
    const auto v = hn::LoadU(d, in);
    Put<Stream>(hn::IfThenElse(alpha, v, hn::Div(v, divisor)), out);
  }
  DivideTail<Stream>(in, out, pixels - i, zmax);
}

template <bool Stream>
HWY_INLINE void DivideByDouble(const float* in, float* out, size_t pixels, double zmax) {
  const WideFloats d;
  const Doubles dd;
  const size_t step = hn::Lanes(d) / 4;
  const auto alpha = AlphaLanes(d, 0);
  const auto lowAlpha = AlphaLanes(Floats(), 0);
  const auto highAlpha = AlphaLanes(Floats(), hn::Lanes(dd));
  const kernels::DivisionBounds bounds(zmax);
  const auto below = hn::Set(dd, bounds.below), above = hn::Set(dd, bounds.above),
             divisor = hn::Set(dd, zmax);
  size_t i = 0;
  for (; i + step <= pixels; i += step, in += 4 * step, out += 4 * step) {
    const auto v = hn::LoadU(d, in);
    const DoubleVec low = Widen(hn::LowerHalf(Floats(), v));
    const DoubleVec high = Widen(hn::UpperHalf(Floats(), v));
    hn::Vec<WideFloats> q;
    const SureFloats lowQ = NarrowBetween(hn::Mul(low, below), hn::Mul(low, above));
    const SureFloats highQ = NarrowBetween(hn::Mul(high, below), hn::Mul(high, above));
    if (bounds.usable && hn::AllTrue(Floats(), hn::Or(lowAlpha, lowQ.sure)) &&
        hn::AllTrue(Floats(), hn::Or(highAlpha, highQ.sure)))
      q = hn::Combine(d, highQ.value, lowQ.value);
    else
      q = hn::Combine(d, Narrow(hn::Div(high, divisor)), Narrow(hn::Div(low, divisor)));
    Put<Stream>(hn::IfThenElse(alpha, v, q), out);
  }
  DivideTail<Stream>(in, out, pixels - i, zmax);
}

#endif

void DivideRunAt(const float* in, float* out, size_t pixels, double zmax, bool stream) {
#if HWY_TARGET == HWY_SCALAR
  // Vectors of one lane: the rule itself, pixel by pixel.
  (void)stream;
  DivideTail<false>(in, out, pixels, zmax);
#else
  const float zmaxFloat = static_cast<float>(zmax);
  if (static_cast<double>(zmaxFloat) == zmax) {
    if (stream)
      DivideByFloat<true>(in, out, pixels, zmaxFloat);
    else
      DivideByFloat<false>(in, out, pixels, zmaxFloat);
  } else {
    if (stream)
      DivideByDouble<true>(in, out, pixels, zmax);
    else
      DivideByDouble<false>(in, out, pixels, zmax);
  }
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace dof
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace dof {
HWY_EXPORT(DivideRunAt);

void DivideRun(const float* in, float* out, size_t pixels, double zmax, bool stream) {
  KernelCall(DivideRunAt)(in, out, pixels, zmax, stream);
  if (stream) kernels::FinishStreaming();
}
}  // namespace dof
#endif  // HWY_ONCE
