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

// The first pass of the normaliser. Each pixel is one vector of blue, green,
// red, alpha, and each lane follows the rule of its channel in scan order. A
// value outside a threshold stands in as the starting value, which never
// wins; the comparisons that carry from pixel to pixel are then a plain
// minimum and maximum. The double thresholds become the float bounds that
// admit exactly the same float values.
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
  const OnePixel d;
  constexpr float inf = std::numeric_limits<float>::infinity();
  HWY_ALIGN const float low[4] = {FloatAtOrAbove(blue.tmin), FloatAtOrAbove(green.tmin),
                                  FloatAtOrAbove(red.tmin), inf};
  HWY_ALIGN const float high[4] = {FloatAtOrBelow(blue.tmax), FloatAtOrBelow(green.tmax),
                                   FloatAtOrBelow(red.tmax), -inf};
  const auto tmin = hn::Load(d, low), tmax = hn::Load(d, high);
  const auto startMin = hn::Set(d, 255.0f), startMax = hn::Zero(d);
  auto min = startMin, max = startMax;
  for (int32_t y = 0; y < img->Height(); ++y) {
    const float* row = img->Group1(0, y);
    for (int32_t x = 0; x < img->Width(); ++x) {
      const auto s = hn::LoadU(d, row + 4 * x);
      min = Lesser(hn::IfThenElse(s >= tmin, s, startMin), min);
      max = Greater(hn::IfThenElse(s <= tmax, s, startMax), max);
    }
  }
  HWY_ALIGN float mins[4], maxs[4];
  hn::Store(min, d, mins);
  hn::Store(max, d, maxs);
  blue.min = mins[ChanB], green.min = mins[ChanG], red.min = mins[ChanR];
  blue.max = maxs[ChanB], green.max = maxs[ChanG], red.max = maxs[ChanR];
#endif
}

void StretchRowAt(const float* in, float* out, size_t width, const Stretch* stretch) {
  const Stretch &red = stretch[0], &green = stretch[1], &blue = stretch[2];
  const Doubles d;
  auto channel = [&](const Stretch& s) {
    const DoubleVec low = hn::Set(d, s.low), span = hn::Set(d, s.span);
    const bool zero = s.zero;
    return [=](FloatVec v) {
      return zero ? hn::Zero(Floats()) : Narrow(hn::Div(hn::Sub(Widen(v), low), span));
    };
  };
  const auto r = channel(red), g = channel(green), b = channel(blue);
  auto vec = [&](const Rgba<FloatVec>& px) {
    return Rgba<FloatVec>{r(px.r), g(px.g), b(px.b), px.a};
  };
  auto plain = [&](float(&px)[4]) {
    px[ChanB] = StretchValue(blue, px[ChanB]);
    px[ChanG] = StretchValue(green, px[ChanG]);
    px[ChanR] = StretchValue(red, px[ChanR]);
  };
  MapRow<false>(in, out, width, vec, plain);
}

// Pixels whose vectors are all shorter than the limit are written back as
// they came; in a step with any vector at the limit, all are worked and the
// shorter ones keep their own values.
void ClipRowAt(const float* in, float* out, size_t width, ClipMode mode, double limit,
               double multiplier) {
  const Doubles d;
  // For a float length, limit > length exactly when length < this float.
  const FloatVec shorter = hn::Set(Floats(), FloatAtOrAbove(limit));
  const DoubleVec scale = hn::Set(d, limit), times = hn::Set(d, multiplier);
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
    auto scaled = [&](FloatVec c) {
      DoubleVec q = hn::Div(Widen(c), wide);
      if (mode == ClipMode::Clip) q = hn::Mul(q, scale);
      return hn::IfThenElse(reached, Narrow(hn::Mul(q, times)), c);
    };
    return Rgba<FloatVec>{scaled(px.r), scaled(px.g), scaled(px.b), px.a};
  };
  auto plain = [&](float(&px)[4]) {
    ClipVector(mode, limit, multiplier, px[ChanR], px[ChanG], px[ChanB]);
  };
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
                const Stretch& blue) {
  const Stretch stretch[3] = {red, green, blue};
  KernelCall(StretchRowAt)(in, out, width, stretch);
}

void ClipRow(const float* in, float* out, size_t width, ClipMode mode, double limit,
             double multiplier) {
  KernelCall(ClipRowAt)(in, out, width, mode, limit, multiplier);
}
}  // namespace util
#endif  // HWY_ONCE
