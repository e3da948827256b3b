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
// the rewritten channels in double, (channel / length) L m, narrowed to float;
// alpha is always written back as it was.
//
// Four pixels are taken at a time and turned into one vector per channel, so
// that one square root serves four lengths and three divisions of four
// doubles serve twelve channels. A block with no vector at the limit is
// written back as it came; in a block with any, all four are worked and the
// shorter ones keep their own values.
#define Wide(v) __builtin_convertvector(v, simd::Double4)
#define Narrow(v) __builtin_convertvector(v, Float4)

// One vector of four lanes, alpha among them, for the pixels past the last
// whole block.
inline Float4 ClipPixel(Float4 v, ClipMode mode, float shorter, double limit, double multiplier) {
  const Float4 squares = v * v;
  const float length = std::sqrt((squares[ChanG] + squares[ChanB]) + squares[ChanR]);
  if (length < shorter) return v;
  Float4 clipped = v;
  switch (mode) {
    case ClipMode::Clip:
      clipped = Narrow(Wide(v) / double(length) * limit * multiplier);
      break;
    case ClipMode::Divide:
      clipped = Narrow(Wide(v) / double(length) * multiplier);
      break;
    case ClipMode::Disable:
      clipped = Float4{0.0f, 0.0f, 0.0f, 0.0f};
      break;
    case ClipMode::Keep:
      break;
  }
  return simd::Select(simd::Int4{0, 0, 0, -1}, v, clipped);
}

// Four pixels as four channel vectors and back (the exchange is its own
// inverse).
__attribute__((always_inline)) inline void Exchange(Float4& p0, Float4& p1, Float4& p2,
                                                    Float4& p3) {
  const Float4 t0 = __builtin_shufflevector(p0, p1, 0, 4, 1, 5);
  const Float4 t1 = __builtin_shufflevector(p2, p3, 0, 4, 1, 5);
  const Float4 t2 = __builtin_shufflevector(p0, p1, 2, 6, 3, 7);
  const Float4 t3 = __builtin_shufflevector(p2, p3, 2, 6, 3, 7);
  p0 = __builtin_shufflevector(t0, t1, 0, 1, 4, 5);
  p1 = __builtin_shufflevector(t0, t1, 2, 3, 6, 7);
  p2 = __builtin_shufflevector(t2, t3, 0, 1, 4, 5);
  p3 = __builtin_shufflevector(t2, t3, 2, 3, 6, 7);
}

// Lane by lane, which the compiler makes one vector root (the tools are
// built without errno from maths functions).
inline Float4 SquareRoot(Float4 v) {
  for (int i = 0; i < 4; ++i) v[i] = __builtin_sqrtf(v[i]);
  return v;
}

WideKernel void ClipRow(const float* in, float* out, int32_t width, ClipMode mode, double limit,
                        double multiplier) {
  // For a float length, limit > length exactly when length < this float.
  const float shorter = simd::FloatAtOrAbove(limit);
  const Float4 shorter4 = {shorter, shorter, shorter, shorter};
  using simd::Double4;
  // Every lane the multiplier itself, -0 included.
  const Double4 scale = {limit, limit, limit, limit},
                times = {multiplier, multiplier, multiplier, multiplier};
  int32_t x = 0;
  for (; x + 4 <= width; x += 4, in += 16, out += 16) {
    Float4 b = simd::Load(in), g = simd::Load(in + 4), r = simd::Load(in + 8),
           a = simd::Load(in + 12);
    Exchange(b, g, r, a);
    const Float4 length = SquareRoot((g * g + b * b) + r * r);
    const simd::Int4 reached = ~(length < shorter4);
    if (mode != ClipMode::Keep && (reached[0] | reached[1] | reached[2] | reached[3])) {
      Float4 nb = {0.0f, 0.0f, 0.0f, 0.0f}, ng = nb, nr = nb;
      if (mode != ClipMode::Disable) {
        const Double4 wide = Wide(length);
        Double4 qb = Wide(b) / wide, qg = Wide(g) / wide, qr = Wide(r) / wide;
        if (mode == ClipMode::Clip) qb = qb * scale, qg = qg * scale, qr = qr * scale;
        nb = Narrow(qb * times), ng = Narrow(qg * times), nr = Narrow(qr * times);
      }
      b = simd::Select(reached, nb, b);
      g = simd::Select(reached, ng, g);
      r = simd::Select(reached, nr, r);
    }
    Exchange(b, g, r, a);
    simd::Store(out, b);
    simd::Store(out + 4, g);
    simd::Store(out + 8, r);
    simd::Store(out + 12, a);
  }
  for (; x < width; ++x, in += 4, out += 4)
    simd::Store(out, ClipPixel(simd::Load(in), mode, shorter, limit, multiplier));
}

#undef Narrow
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
