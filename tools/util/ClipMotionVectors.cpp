// Motion-vector clipper: limits the vectors of a motion-vector pass. Each
// pixel's red, green and blue form one vector; a vector at least as long as
// "Max Vector Length" is, by "Clip Mode", scaled back to that length
// ("Clip"), normalised ("Devide") or zeroed ("Disable"), and then multiplied
// by "Additional Multiplier". Shorter vectors, alpha and every further
// channel pass through unchanged.
// The rule is in tools/util/rules.h, the fast rows in colour_rows.cpp.
#include "frame/tool.h"
#include "tools/util/rules.h"

namespace {

using util::ClipMode;

ClipMode ModeOf(const TextID& choice) {
  if (choice == "Clip") return ClipMode::Clip;
  if (choice == "Devide") return ClipMode::Divide;
  if (choice == "Disable") return ClipMode::Disable;
  return ClipMode::Keep;
}

}  // namespace

class ClipMotionVectors : public ThreadedOperator {
 public:
  ClipMotionVectors(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ClipMotionVectors", "Clip Motion Vectors"));
    maxLength_ = Add(
        *this,
        Slider("MaxLenght", "Max Vector Length").Default(50.0).LowerLimit(0.0).UpperLimit(250.0));
    mode_ = Add(*this, Choice("ClipMode", "Clip Mode", {"Clip", "Devide", "Disable"}, "Clip"));
    multiplier_ =
        Add(*this, Slider("AddMult", "Additional Multiplier").Default(1.0).LowerLimit(0.0));
    image_ = Add(*this, ImageInput("Image", "Image").MainInput(1).Required());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double multiplier = NumberValue(multiplier_, req);
    const double limit = NumberValue(maxLength_, req);
    Image* src = ImageValue(image_, req);
    Image* dst = NewImage({{ImageLike, src}});
    const ClipMode mode = ModeOf(ChoiceValue(mode_, req));
    // Not cleared first: every pixel of the result is written below, all of
    // its channels.
    const bool stream = StreamsPixels(size_t(src->Width()) * size_t(src->Height()));
    for (int32_t y = 0; y < src->Height(); ++y) {
      util::ClipRow(src->Group1(0, y), dst->Group1(0, y), size_t(src->Width()), mode, limit,
                    multiplier, stream);
      CopyFurtherRow(src, dst, y);
    }
    if (stream) kernels::FinishStreaming();
    output_->Set(req, dst);
  }

 private:
  // Held in this order, unlike the order of the page.
  Input* title_;
  Input* maxLength_;
  Input* multiplier_;
  Input* mode_;
  Input* image_;
  Output* output_;
};

extern constinit const ToolRecord ClipMotionVectorsRecord = {
    .registryId = "Quillmoor.ClipMotionVectors",
    .name = "ClipMotionVectors",
    .category = "Vexlan\\Misc",
    .shortName = "ClipMotionVectors",
    .description = "ClipMotionVectors",
    .buildText = "Built: Jan 16 2011",
    .regInt4 = 354,
    .regInt3 = std::nullopt,
    .regInt19 = std::nullopt,
    .factory = Factory<ClipMotionVectors>,
};
