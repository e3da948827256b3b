// Motion-vector clipper: limits the vectors of a motion-vector pass. Each
// pixel's red, green and blue form one vector; a vector at least as long as
// "Max Vector Length" is, by "Clip Mode", scaled back to that length
// ("Clip"), normalised ("Devide") or zeroed ("Disable"), and then multiplied
// by "Additional Multiplier". Shorter vectors, alpha and every further
// channel pass through unchanged.
#include <cmath>

#include "frame/tool.h"

namespace {

enum class ClipMode { Clip, Divide, Disable, Keep };

ClipMode ModeOf(const TextID& choice) {
  if (choice == "Clip") return ClipMode::Clip;
  if (choice == "Devide") return ClipMode::Divide;
  if (choice == "Disable") return ClipMode::Disable;
  return ClipMode::Keep;
}

// Rewrites one vector in place. A vector exactly as long as the limit counts
// as too long; a length that is not a number fails the test too, so such a
// vector gets the mode.
void ClipVector(float& r, float& g, float& b, ClipMode mode, double limit, double multiplier) {
  const double length = std::sqrt((g * g + b * b) + r * r);  // in float, then widened
  if (limit > length) return;
  switch (mode) {
    case ClipMode::Clip:
      r = static_cast<float>(r / length * limit * multiplier);
      g = static_cast<float>(g / length * limit * multiplier);
      b = static_cast<float>(b / length * limit * multiplier);
      break;
    case ClipMode::Divide:
      r = static_cast<float>(r / length * multiplier);
      g = static_cast<float>(g / length * multiplier);
      b = static_cast<float>(b / length * multiplier);
      break;
    case ClipMode::Disable:
      r = g = b = 0.0f;
      break;
    case ClipMode::Keep:
      break;
  }
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
    MapPixels(src, dst,
              [=](FltPixel& px) { ClipVector(px.R(), px.G(), px.B(), mode, limit, multiplier); });
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
