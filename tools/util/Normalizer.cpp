// Channel normalizer: stretches red, green and blue so that the darkest and
// brightest values of the image become 0 and 1. A first pass finds each
// channel's range among the values that lie within that channel's two
// thresholds; a second pass maps every pixel linearly from the range to 0 to 1,
// each channel by its own range or, with "Normalize By Image Luminance", all
// three by one common range. Alpha and further channels pass through. The
// mapping is not clamped: values outside the range land outside 0 to 1.
#include "frame/tool.h"
#include "tools/util/rows.h"

namespace {

using simd::Float4;
using simd::Int4;

// The thresholds of one channel and the range found within them. The minimum
// is taken over the values at or above the minimum threshold and the maximum
// over the values at or below the maximum threshold, each test on its own.
// The starting values take part: a value of 255 or more never becomes the
// minimum and one of 0 or less never the maximum; a value that is not a number
// never qualifies.
struct ChannelRange {
  double tmin, tmax;
  double min = 255.0, max = 0.0;
};

// The first pass: the range of red, green and blue over the whole image. Each
// pixel is one vector, and each lane follows the rule of its channel in scan
// order, so the result is the one a channel-by-channel scan finds (down to
// the sign of a zero). The double thresholds become the float bounds that
// admit exactly the same float values.
void FindRanges(const Image* img, ChannelRange& red, ChannelRange& green, ChannelRange& blue) {
  using simd::FloatAtOrAbove, simd::FloatAtOrBelow;
  constexpr float inf = std::numeric_limits<float>::infinity();
  const Float4 tmin = {FloatAtOrAbove(blue.tmin), FloatAtOrAbove(green.tmin),
                       FloatAtOrAbove(red.tmin), inf};
  const Float4 tmax = {FloatAtOrBelow(blue.tmax), FloatAtOrBelow(green.tmax),
                       FloatAtOrBelow(red.tmax), -inf};
  const Float4 start_min = {255.0f, 255.0f, 255.0f, 255.0f}, start_max = {0.0f, 0.0f, 0.0f, 0.0f};
  Float4 min = start_min, max = start_max;
  for (int32_t y = 0; y < img->Height(); ++y) {
    const float* row = img->Group1(0, y);  // blue, green, red, alpha
    for (int32_t x = 0; x < img->Width(); ++x) {
      const Float4 s = simd::Load(row + 4 * x);
      // A value outside a threshold stands in as the starting value, which
      // never wins; the comparisons that carry from pixel to pixel are then
      // a plain minimum and maximum.
      const Float4 low = simd::Select(s >= tmin, s, start_min);
      const Float4 high = simd::Select(s <= tmax, s, start_max);
      min = low < min ? low : min;
      max = high > max ? high : max;
    }
  }
  blue.min = min[ChanB], green.min = min[ChanG], red.min = min[ChanR];
  blue.max = max[ChanB], green.max = max[ChanG], red.max = max[ChanR];
}

// A linear map from a found range onto 0 to 1, or to 0 where the range is
// unusable.
struct Stretch {
  double low = 0.0, span = 1.0;
  bool zero = true;

  // Per channel: usable when it is not empty and both ends lie within the
  // thresholds (which fails only when a threshold outside 0 to 255 left a
  // starting value in place).
  static Stretch OfChannel(const ChannelRange& c) {
    const double span = c.max - c.min;
    return {c.min, span, !(span != 0.0 && c.max <= c.tmax && c.min >= c.tmin)};
  }
  // In common: the smallest minimum and the largest maximum of the three.
  static Stretch Common(const ChannelRange& r, const ChannelRange& g, const ChannelRange& b) {
    double lo = 255.0, hi = 0.0;
    for (const ChannelRange* c : {&r, &g, &b}) {
      if (c->min >= c->tmin && c->min < lo) lo = c->min;
      if (c->max <= c->tmax && c->max > hi) hi = c->max;
    }
    return {lo, hi - lo, hi - lo == 0.0};
  }
};

// The stretch of each lane of a pixel vector; alpha keeps its value.
struct PixelStretch {
  double low[4], span[4];
  int32_t computed[4], kept[4];

  PixelStretch(const Stretch& r, const Stretch& g, const Stretch& b)
      : low{b.low, g.low, r.low, 0.0},
        span{b.span, g.span, r.span, 1.0},
        computed{-int32_t(!b.zero), -int32_t(!g.zero), -int32_t(!r.zero), 0},
        kept{0, 0, 0, -1} {}
};

// The second pass over one row: (s - low) / span in double, narrowed.
WideKernel void StretchRow(const float* in, float* out, int32_t width, const PixelStretch& st) {
  simd::Double4 low, span;
  Int4 computed, kept;
  std::memcpy(&low, st.low, sizeof low);
  std::memcpy(&span, st.span, sizeof span);
  std::memcpy(&computed, st.computed, sizeof computed);
  std::memcpy(&kept, st.kept, sizeof kept);
  for (int32_t x = 0; x < width; ++x) {
    const Float4 s = simd::Load(in + 4 * x);
    const Float4 mapped =
        __builtin_convertvector((__builtin_convertvector(s, simd::Double4) - low) / span, Float4);
    simd::Store(out + 4 * x, reinterpret_cast<Float4>((reinterpret_cast<Int4>(mapped) & computed) |
                                                      (reinterpret_cast<Int4>(s) & kept)));
  }
}

}  // namespace

class Normalizer : public ThreadedOperator {
 public:
  Normalizer(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ICI", "Auto Normalizes Color Values"));
    lum_ =
        Add(*this,
            Checkbox("Lum", "Normalize By Image Luminance (not separate channels)").Default(0.0));
    rMin_ = Add(*this, Slider("RTreshMin", "Min R Value To Hold In Account").Default(0.0));
    rMax_ = Add(*this, Slider("RTreshMax", "Max R Value To Hold In Account").Default(1.0));
    gMin_ = Add(*this, Slider("GTreshMin", "Min G Value To Hold In Account").Default(0.0));
    gMax_ = Add(*this, Slider("GTreshMax", "Max G Value To Hold In Account").Default(1.0));
    bMin_ = Add(*this, Slider("BTreshMin", "Min B Value To Hold In Account").Default(0.0));
    bMax_ = Add(*this, Slider("BTreshMax", "Max B Value To Hold In Account").Default(1.0));
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    ChannelRange red{NumberValue(rMin_, req), NumberValue(rMax_, req)};
    ChannelRange green{NumberValue(gMin_, req), NumberValue(gMax_, req)};
    ChannelRange blue{NumberValue(bMin_, req), NumberValue(bMax_, req)};
    // Common mode only at exactly 1; any other value is per channel.
    const bool common = NumberValue(lum_, req) == 1.0;
    Image* src = ImageValue(input_, req);
    // Not cleared: the second pass writes every pixel.
    Image* dst = NewImage({{ImageLike, src}});

    FindRanges(src, red, green, blue);
    const Stretch all = Stretch::Common(red, green, blue);
    const PixelStretch stretch =
        common ? PixelStretch(all, all, all)
               : PixelStretch(Stretch::OfChannel(red), Stretch::OfChannel(green),
                              Stretch::OfChannel(blue));
    for (int32_t y = 0; y < src->Height(); ++y) {
      StretchRow(src->Group1(0, y), dst->Group1(0, y), src->Width(), stretch);
      CopyFurtherRow(src, dst, y);
    }
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  Input* lum_;
  Input* rMin_;
  Input* rMax_;
  Input* gMin_;
  Input* gMax_;
  Input* bMin_;
  Input* bMax_;
  Input* input_;
  Output* output_;
};

extern constinit const ToolRecord NormalizerRecord = {
    .registryId = "Quillmoor.Normalizer",
    .name = "Normalizer",
    .category = "Vexlan\\ColorTools",
    .shortName = "Normalizer",
    .description = "Channel Normalizer",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = std::nullopt,
    .regInt19 = std::nullopt,
    .factory = Factory<Normalizer>,
};
