// The rows of the normaliser and the motion-vector clipper, at every CPU
// level. Each follows the tool's rule in tools/util/rules.h bit for bit.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/util/colour_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "frame/kernels-inl.h"
#include "host/image.h"
#include "tools/util/rules.h"

HWY_BEFORE_NAMESPACE();
namespace util {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

// The first pass of the normaliser. A value outside a threshold stands in as
// the starting value, which never wins; the comparisons that carry from pixel
// to pixel are then a plain minimum and maximum. The double thresholds become
// the float bounds that admit exactly the same float values.
//
// Each row is taken several registers of whole pixels at a time, into as
// many pairs of accumulators, reduced at the end of the row and then taken
// into the running range as one value per channel, rows in scan order. That
// gives the rule's bits:
// - The rule's minimum is the first value in scan order (starting value
//   first) that is numerically the smallest, and its maximum likewise. Two
//   floats numerically equal and not zero have the same bits, and no
//   candidate is ever not a number, so order matters only for zeros.
// - The maximum starts at +0 and only a value above it replaces it, so the
//   rule's maximum is never -0; nor is any accumulator's (Greater keeps its
//   second operand on a tie, the accumulator, which starts at +0).
// - A row's smallest value that is a zero is given the sign of the row's
//   first zero of that channel (where one zero lies within the threshold,
//   all do). Taking each row into the running minimum only where it is
//   strictly less is then the rule: the rule's running minimum, coming into
//   a row at m, leaves it unchanged unless the row holds a value below m,
//   and otherwise at the row's first value equal to the row's smallest.
//   Only the first row whose smallest value is a zero below the running
//   minimum needs the search, at most once per channel per image.
void FindRangesAt(const Image* img, ChannelRange* ranges) {
  ChannelRange &red = ranges[0], &green = ranges[1], &blue = ranges[2];
#if HWY_TARGET == HWY_SCALAR
  for (int32_t y = 0; y < img->Height(); ++y) {
    const float* p = img->Group1(0, y);
    for (int32_t x = 0; x < img->Width(); ++x, p += 4) {
      TakeIntoRange(blue, p[ChanB]);
      TakeIntoRange(green, p[ChanG]);
      TakeIntoRange(red, p[ChanR]);
    }
  }
#else
  // Whole pixels in every register.
  const WideFloats d;
  constexpr size_t MaxFloats = hn::MaxLanes(WideFloats());
  static_assert(MaxFloats % 4 == 0, "a register of whole pixels");
  const size_t floats = hn::Lanes(d), perRegister = floats / 4;
  constexpr float inf = std::numeric_limits<float>::infinity();
  const float low[4] = {FloatAtOrAbove(blue.tmin), FloatAtOrAbove(green.tmin),
                        FloatAtOrAbove(red.tmin), inf};
  const float high[4] = {FloatAtOrBelow(blue.tmax), FloatAtOrBelow(green.tmax),
                         FloatAtOrBelow(red.tmax), -inf};
  HWY_ALIGN float lows[MaxFloats], highs[MaxFloats];
  for (size_t i = 0; i < floats; ++i) lows[i] = low[i % 4], highs[i] = high[i % 4];
  const auto tmin = hn::Load(d, lows), tmax = hn::Load(d, highs);
  const auto startMin = hn::Set(d, 255.0f), startMax = hn::Zero(d);
  float min[3] = {255.0f, 255.0f, 255.0f}, max[3] = {0.0f, 0.0f, 0.0f};
  const size_t width = size_t(img->Width());
  for (int32_t y = 0; y < img->Height(); ++y) {
    const float* row = img->Group1(0, y);
    auto min0 = startMin, min1 = startMin, min2 = startMin, min3 = startMin;
    auto max0 = startMax, max1 = startMax, max2 = startMax, max3 = startMax;
    auto take = [&](const float* at, auto& lo, auto& hi) VEXLAN_INLINE_LAMBDA {
      const auto s = hn::LoadU(d, at);
      lo = Lesser(hn::IfThenElse(s >= tmin, s, startMin), lo);
      hi = Greater(hn::IfThenElse(s <= tmax, s, startMax), hi);
    };
    size_t x = 0;
    for (; x + 4 * perRegister <= width; x += 4 * perRegister) {
      const float* at = row + 4 * x;
      take(at, min0, max0);
      take(at + floats, min1, max1);
      take(at + 2 * floats, min2, max2);
      take(at + 3 * floats, min3, max3);
    }
    for (; x + perRegister <= width; x += perRegister) take(row + 4 * x, min0, max0);
    HWY_ALIGN float mins[MaxFloats], maxs[MaxFloats];
    hn::Store(Lesser(Lesser(min0, min1), Lesser(min2, min3)), d, mins);
    hn::Store(Greater(Greater(max0, max1), Greater(max2, max3)), d, maxs);
    for (int c = 0; c < 3; ++c) {
      // The accumulators' lanes hold candidates already.
      float lo = 255.0f, hi = 0.0f;
      for (size_t i = c; i < floats; i += 4) {
        if (mins[i] < lo) lo = mins[i];
        if (maxs[i] > hi) hi = maxs[i];
      }
      for (size_t i = x; i < width; ++i) {
        const float s = row[4 * i + c];
        if (s >= low[c] && s < lo) lo = s;
        if (s <= high[c] && s > hi) hi = s;
      }
      if (lo == 0.0f && lo < min[c]) {
        size_t i = 0;
        while (row[4 * i + c] != 0.0f) ++i;
        lo = row[4 * i + c];
      }
      if (lo < min[c]) min[c] = lo;
      if (hi > max[c]) max[c] = hi;
    }
  }
  blue.min = min[ChanB], green.min = min[ChanG], red.min = min[ChanR];
  blue.max = max[ChanB], green.max = max[ChanG], red.max = max[ChanR];
#endif
}

// Each channel's quotient d / span (d = value - low, the rule's own
// difference) is first bounded by two products that lie either side of the
// rule's double, with its sign (DivisionBounds, in frame/lanes.h): d = 0
// gives zeros of the rule's sign, an infinite d its infinities, and not a
// number is never sure. NarrowBetween gives the rule's float where both
// narrow to one. A step with a lane that may narrow otherwise goes through
// the division. A span whose bounds are not usable always divides. A
// channel that stretches to zero needs neither.
void StretchRowAt(const float* in, float* out, size_t width, const Stretch* stretch, bool stream) {
  const Doubles d;
  struct Channel {
    DoubleVec low, span, below, above;
    bool zero;
  };
  bool reciprocals = true;
  auto channel = [&](const Stretch& s) {
    const kernels::DivisionBounds bounds(s.span);
    if (!s.zero) reciprocals = reciprocals && bounds.usable;
    return Channel{hn::Set(d, s.low), hn::Set(d, s.span), hn::Set(d, s.zero ? 0.0 : bounds.below),
                   hn::Set(d, s.zero ? 0.0 : bounds.above), s.zero};
  };
  const Channel r = channel(stretch[0]), g = channel(stretch[1]), b = channel(stretch[2]);
  auto vec = [&](const Rgba<FloatVec>& px) {
    const DoubleVec dr = hn::Sub(Widen(px.r), r.low), dg = hn::Sub(Widen(px.g), g.low),
                    db = hn::Sub(Widen(px.b), b.low);
    auto narrowed = [](const Channel& c, FloatVec q) { return c.zero ? hn::Zero(Floats()) : q; };
    if (reciprocals) {
      const SureFloats qr = NarrowBetween(hn::Mul(dr, r.below), hn::Mul(dr, r.above));
      const SureFloats qg = NarrowBetween(hn::Mul(dg, g.below), hn::Mul(dg, g.above));
      const SureFloats qb = NarrowBetween(hn::Mul(db, b.below), hn::Mul(db, b.above));
      auto sure = [](const Channel& c, const SureFloats& q) {
        return c.zero ? hn::Ge(hn::Zero(Floats()), hn::Zero(Floats())) : q.sure;
      };
      if (hn::AllTrue(Floats(), hn::And(sure(r, qr), hn::And(sure(g, qg), sure(b, qb)))))
        return Rgba<FloatVec>{narrowed(r, qr.value), narrowed(g, qg.value), narrowed(b, qb.value),
                              px.a};
    }
    return Rgba<FloatVec>{narrowed(r, Narrow(hn::Div(dr, r.span))),
                          narrowed(g, Narrow(hn::Div(dg, g.span))),
                          narrowed(b, Narrow(hn::Div(db, b.span))), px.a};
  };
  auto plain = [&](float(&px)[4]) {
    px[ChanB] = StretchValue(stretch[2], px[ChanB]);
    px[ChanG] = StretchValue(stretch[1], px[ChanG]);
    px[ChanR] = StretchValue(stretch[0], px[ChanR]);
  };
  if (stream)
    MapRow<true>(in, out, width, vec, plain);
  else
    MapRow<false>(in, out, width, vec, plain);
}

// Pixels whose vectors are all shorter than the limit are written back as
// they came; in a step with any vector at the limit, all are worked and the
// shorter ones keep their own values.
//
// The rule's double is q0 = c / length, times the limit, times the
// multiplier (clipping; only the multiplier when dividing), each step
// rounded; its factors after the quotient are folded into one, F (the
// limit times the multiplier, rounded), and F (1 -+ 2^-47), rounded, times
// the reciprocal of the length, rounded, bound c's factor from below and
// above. Where F and (clipping) the limit are normal doubles of 2^-600 to
// 2^600 in magnitude, and the length is neither 0, infinite nor not a
// number:
// - the reciprocal lies between 2^-128 and 2^149, the bounds of the factor
//   between 2^-729 and 2^750, and the quotient c / length of the rule
//   between 2^-277 and 2 in magnitude, or is 0 (the length is not much
//   shorter than any channel, even where squares underflow), so no rounding
//   in either form leaves the normal doubles but the rule's last, and each
//   is off by at most 2^-53 of its value;
// - so c times each bound, exactly, lies either side of the rule's value
//   before its last rounding (four roundings against two, far less than
//   2^-47), and rounding to the nearest double keeps that order, overflow
//   and underflow included: the products rounded lie either side of q0,
//   with its sign, and NarrowBetween gives its float where both narrow to
//   one.
// A zero c gives zeros of the rule's sign in both forms. A zero length (all
// squares underflowed) gives infinities of the rule's
// sign, or not a number for c = 0; an infinite one zeros of the rule's
// sign, or not a number for infinite c; not a number is never sure. F is
// also used where it is exactly 0 (the multiplier or, clipping, the limit
// is 0 and the other finite): both forms give zeros of one sign, or not a
// number. Any other limit and multiplier always divide, as does a step with
// a lane that may narrow otherwise.
void ClipRowAt(const float* in, float* out, size_t width, ClipMode mode, double limit,
               double multiplier, bool stream) {
  const Doubles d;
  // For a float length, limit > length exactly when length < this float.
  const FloatVec shorter = hn::Set(Floats(), FloatAtOrAbove(limit));
  const DoubleVec scale = hn::Set(d, limit), times = hn::Set(d, multiplier);
  const bool clip = mode == ClipMode::Clip;
  const double factor = clip ? limit * multiplier : multiplier;
  auto normal = [](double v) { return std::abs(v) >= 0x1p-600 && std::abs(v) <= 0x1p600; };
  const bool reciprocal =
      (!clip || normal(limit) || limit == 0.0) &&
      (normal(factor) || (factor == 0.0 && (multiplier == 0.0 || (clip && limit == 0.0))));
  const DoubleVec below = hn::Set(d, factor * (1 - 0x1p-47)),
                  above = hn::Set(d, factor * (1 + 0x1p-47));
  auto vec = [&](const Rgba<FloatVec>& px) {
    const FloatVec length =
        hn::Sqrt(hn::Add(hn::Add(hn::Mul(px.g, px.g), hn::Mul(px.b, px.b)), hn::Mul(px.r, px.r)));
    const FloatMask reached = hn::Not(length < shorter);
    if (mode == ClipMode::Keep || hn::AllFalse(Floats(), reached)) return px;
    if (mode == ClipMode::Disable) {
      const FloatVec zero = hn::Zero(Floats());
      return Rgba<FloatVec>{hn::IfThenElse(reached, zero, px.r),
                            hn::IfThenElse(reached, zero, px.g),
                            hn::IfThenElse(reached, zero, px.b), px.a};
    }
    const DoubleVec wide = Widen(length);
    const DoubleVec r = Widen(px.r), g = Widen(px.g), b = Widen(px.b);
    if (reciprocal) {
      const DoubleVec inverse = hn::Div(hn::Set(d, 1.0), wide);
      const DoubleVec low = hn::Mul(inverse, below), high = hn::Mul(inverse, above);
      const SureFloats qr = NarrowBetween(hn::Mul(r, low), hn::Mul(r, high));
      const SureFloats qg = NarrowBetween(hn::Mul(g, low), hn::Mul(g, high));
      const SureFloats qb = NarrowBetween(hn::Mul(b, low), hn::Mul(b, high));
      const FloatMask sure = hn::And(qr.sure, hn::And(qg.sure, qb.sure));
      if (hn::AllTrue(Floats(), hn::Or(hn::Not(reached), sure)))
        return Rgba<FloatVec>{hn::IfThenElse(reached, qr.value, px.r),
                              hn::IfThenElse(reached, qg.value, px.g),
                              hn::IfThenElse(reached, qb.value, px.b), px.a};
    }
    auto divided = [&](DoubleVec c) {
      const DoubleVec q = hn::Div(c, wide);
      return Narrow(hn::Mul(clip ? hn::Mul(q, scale) : q, times));
    };
    return Rgba<FloatVec>{hn::IfThenElse(reached, divided(r), px.r),
                          hn::IfThenElse(reached, divided(g), px.g),
                          hn::IfThenElse(reached, divided(b), px.b), px.a};
  };
  auto plain = [&](float(&px)[4]) {
    ClipVector(mode, limit, multiplier, px[ChanR], px[ChanG], px[ChanB]);
  };
  if (stream)
    MapRow<true>(in, out, width, vec, plain);
  else
    MapRow<false>(in, out, width, vec, plain);
}

}  // namespace HWY_NAMESPACE
}  // namespace util
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace util {
HWY_EXPORT(FindRangesAt);
HWY_EXPORT(StretchRowAt);
HWY_EXPORT(ClipRowAt);

void FindRanges(const Image* img, ChannelRange& red, ChannelRange& green, ChannelRange& blue) {
  ChannelRange ranges[3] = {red, green, blue};
  KernelCall(FindRangesAt)(img, ranges);
  red = ranges[0], green = ranges[1], blue = ranges[2];
}

void StretchRow(const float* in, float* out, size_t width, const Stretch& red, const Stretch& green,
                const Stretch& blue, bool stream) {
  const Stretch stretch[3] = {red, green, blue};
  KernelCall(StretchRowAt)(in, out, width, stretch, stream);
}

void ClipRow(const float* in, float* out, size_t width, ClipMode mode, double limit,
             double multiplier, bool stream) {
  KernelCall(ClipRowAt)(in, out, width, mode, limit, multiplier, stream);
}
}  // namespace util
#endif  // HWY_ONCE
