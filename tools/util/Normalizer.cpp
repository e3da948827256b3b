// Channel normalizer: stretches red, green and blue so that the darkest and
// brightest values of the image become 0 and 1. A first pass finds each
// channel's range among the values that lie within that channel's two
// thresholds; a second pass maps every pixel linearly from the range to 0 to 1,
// each channel by its own range or, with "Normalize By Image Luminance", all
// three by one common range. Alpha and further channels pass through. The
// mapping is not clamped: values outside the range land outside 0 to 1.
// The rules are in tools/util/rules.h, the fast rows in colour_rows.cpp.
#include "frame/tool.h"
#include "tools/util/rules.h"

using util::ChannelRange;
using util::Stretch;

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

    util::FindRanges(src, red, green, blue);
    const Stretch all = Stretch::Common(red, green, blue);
    const Stretch r = common ? all : Stretch::OfChannel(red);
    const Stretch g = common ? all : Stretch::OfChannel(green);
    const Stretch b = common ? all : Stretch::OfChannel(blue);
    const bool stream = StreamsPixels(size_t(src->Width()) * size_t(src->Height()));
    for (int32_t y = 0; y < src->Height(); ++y) {
      util::StretchRow(src->Group1(0, y), dst->Group1(0, y), size_t(src->Width()), r, g, b, stream);
      CopyFurtherRow(src, dst, y);
    }
    if (stream) kernels::FinishStreaming();
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
