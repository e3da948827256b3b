// Motion-vector clipper: limits the vectors of a motion-vector pass. Each
// pixel's red, green and blue form one vector; a vector at least as long as
// "Max Vector Length" is, by "Clip Mode", scaled back to that length
// ("Clip"), normalised ("Devide") or zeroed ("Disable"), and then multiplied
// by "Additional Multiplier". Shorter vectors, alpha and every further
// channel pass through unchanged.
#include <cmath>

#include "frame/tool.h"
#include "tools/util/rows.h"

namespace {

using simd::Float4;

enum class ClipMode { Clip, Divide, Disable, Keep };

ClipMode ModeOf(const TextID& choice) {
  if (choice == "Clip") return ClipMode::Clip;
  if (choice == "Devide") return ClipMode::Divide;
  if (choice == "Disable") return ClipMode::Disable;
  return ClipMode::Keep;
}

// Rewrites one row of vectors. A vector exactly as long as the limit counts
// as too long; a length that is not a number fails the test too, so such a
// vector gets the mode. The length is worked in float, (g g + b b) + r r, and
// each pixel is one vector of four lanes, alpha among them; alpha is always
// written back as it was.
#define Wide(v) __builtin_convertvector(v, simd::Double4)

WideKernel void ClipRow(const float* in, float* out, int32_t width, ClipMode mode, double limit,
                        double multiplier) {
  // For a float length, limit > length exactly when length < this float.
  const float shorter = simd::FloatAtOrAbove(limit);
  const simd::Int4 alpha = {0, 0, 0, -1};
  for (int32_t x = 0; x < width; ++x) {
    const Float4 v = simd::Load(in + 4 * x);
    const Float4 squares = v * v;
    const float length = std::sqrt((squares[ChanG] + squares[ChanB]) + squares[ChanR]);
    Float4 clipped = v;
    if (!(length < shorter)) {
      switch (mode) {
        case ClipMode::Clip:
          clipped = __builtin_convertvector(Wide(v) / double(length) * limit * multiplier, Float4);
          break;
        case ClipMode::Divide:
          clipped = __builtin_convertvector(Wide(v) / double(length) * multiplier, Float4);
          break;
        case ClipMode::Disable:
          clipped = Float4{0.0f, 0.0f, 0.0f, 0.0f};
          break;
        case ClipMode::Keep:
          break;
      }
    }
    simd::Store(out + 4 * x, simd::Select(alpha, v, clipped));
  }
}

#undef Wide

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
    for (int32_t y = 0; y < src->Height(); ++y) {
      ClipRow(src->Group1(0, y), dst->Group1(0, y), src->Width(), mode, limit, multiplier);
      CopyFurtherRow(src, dst, y);
    }
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
