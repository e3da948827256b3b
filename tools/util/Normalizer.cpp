// Channel normalizer: stretches red, green and blue so that the darkest and
// brightest values of the image become 0 and 1. A first pass finds each
// channel's range among the values that lie within that channel's two
// thresholds; a second pass maps every pixel linearly from the range to 0 to 1,
// each channel by its own range or, with "Normalize By Image Luminance", all
// three by one common range. Alpha and further channels pass through. The
// mapping is not clamped: values outside the range land outside 0 to 1.
#include "frame/tool.h"

namespace {

// The range of one channel. The minimum is taken over the values at or above
// the minimum threshold and the maximum over the values at or below the
// maximum threshold, each test on its own. The starting values take part: a
// value of 255 or more never becomes the minimum and one of 0 or less never
// the maximum; a value that is not a number never qualifies.
struct ChannelRange {
  double tmin, tmax;
  double min = 255.0, max = 0.0;

  void Take(double s) {
    if (s >= tmin && s < min) min = s;
    if (s <= tmax && s > max) max = s;
  }
};

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

  float operator()(float s) const {
    return zero ? 0.0f : static_cast<float>((double(s) - low) / span);
  }
};

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

    for (int32_t y = 0; y < src->Height(); ++y) {
      const float* p = src->Group1(0, y);  // blue, green, red, alpha
      for (int32_t x = 0; x < src->Width(); ++x, p += 4) {
        red.Take(p[ChanR]);
        green.Take(p[ChanG]);
        blue.Take(p[ChanB]);
      }
    }

    const Stretch all = Stretch::Common(red, green, blue);
    const Stretch r = common ? all : Stretch::OfChannel(red);
    const Stretch g = common ? all : Stretch::OfChannel(green);
    const Stretch b = common ? all : Stretch::OfChannel(blue);
    MapPixels(src, dst, [&](FltPixel& px) {
      px.R() = r(px.R());
      px.G() = g(px.G());
      px.B() = b(px.B());
    });
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
