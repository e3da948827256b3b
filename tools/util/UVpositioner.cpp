// UV positioner: places a texture onto a rendered surface through the
// surface's UV pass. For every pixel of the UV pass it looks up the texture
// pixel that the pixel's UV names and writes it, weighted by the UV pass's
// alpha, at the same place in the output; the output has the UV pass's size.
// Offsets and scales move and resize the texture in UV space, and the sample
// mode says what lies outside it: black, the texture repeated, or its border
// pixels extended. Positions are whole texture pixels: nothing is
// interpolated.
#include <utility>
#include <vector>

#include "frame/tool.h"
#include "tools/util/uv.h"

namespace {

SampleMode ModeOf(const TextID& choice) {
  if (choice == "Black") return SampleMode::Black;
  if (choice == "Wrap") return SampleMode::Wrap;
  if (choice == "Duplicate") return SampleMode::Duplicate;
  return SampleMode::None;
}

}  // namespace

class UVpositioner : public ThreadedOperator {
 public:
  UVpositioner(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("UVunwrap", "Position image by UV"));
    swap_ = Add(*this, Checkbox("Swap", "Swap UV").Default(0.0));
    flipX_ = Add(*this, Checkbox("Flipx", "Flip X").Default(0.0));
    flipY_ = Add(*this, Checkbox("Flipy", "Flip Y").Default(0.0));
    mode_ =
        Add(*this, Choice("SampleMode", "Sample Mode", {"Black", "Wrap", "Duplicate"}, "Black"));
    xOffset_ = Add(*this, Slider("Xoffset", "X Offset").Default(0.0).Range(-1.0, 1.0));
    yOffset_ = Add(*this, Slider("Yoffset", "Y Offset").Default(0.0).Range(-1.0, 1.0));
    uScale_ = Add(*this, Slider("Uscale", "U Scale").Default(1.0).LowerLimit(0.0));
    vScale_ = Add(*this, Slider("Vscale", "V Scale").Default(1.0).LowerLimit(0.0));
    texture_ = Add(*this, ImageInput("Image", "Image").MainInput(2).Required());
    uv_ = Add(*this, ImageInput("UV", "UV").MainInput(1).Required());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    Placement at;
    at.orientation = {NumberValue(swap_, req) != 0.0, NumberValue(flipX_, req) != 0.0,
                      NumberValue(flipY_, req) != 0.0};
    at.uScale = NumberValue(uScale_, req);
    at.vScale = NumberValue(vScale_, req);
    at.xOffset = NumberValue(xOffset_, req);
    at.yOffset = NumberValue(yOffset_, req);
    const Image* texture = ImageValue(texture_, req);
    Image* uv = ImageValue(uv_, req);
    Image* dst = NewImage({{ImageLike, uv}});
    const SampleMode mode = ModeOf(ChoiceValue(mode_, req));
    at.width = texture->Width();
    at.height = texture->Height();

    if (texture->FurtherCount() == 0 && dst->FurtherCount() == 0 && at.width > 0 && at.height > 0 &&
        mode != SampleMode::None) {
      // The common layout: rows of four pixels, the texture read in place.
      const TextureRows rows{texture->RowTable(1), texture->Width(), texture->Height()};
      std::vector<const float*> sources(uv->Width());
      for (int32_t y = 0; y < uv->Height(); ++y)
        PlaceRow(mode, at, rows, uv->Group1(0, y), dst->Group1(0, y), uv->Width(), sources.data());
      output_->Set(req, dst);
      return;
    }

    switch (mode) {
      case SampleMode::Black:
        Place(at, uv, dst, [texture](double px, double py, FltPixel& q) {
          texture->SamplePixelB(WholePixelFixed(px), WholePixelFixed(py), q);
        });
        break;
      case SampleMode::Wrap:
        Place(at, uv, dst, [texture](double px, double py, FltPixel& q) {
          texture->SamplePixelW(WrappedPixelFixed(px, texture->Width()),
                                WrappedPixelFixed(py, texture->Height()), q);
        });
        break;
      case SampleMode::Duplicate:
        Place(at, uv, dst, [texture](double px, double py, FltPixel& q) {
          texture->SamplePixelD(WholePixelFixed(px), WholePixelFixed(py), q);
        });
        break;
      case SampleMode::None:
        // A choice that is no option samples nothing. (The sampling modes
        // write every pixel, so only here is the result cleared.)
        dst->Fill(0, 0, 0, 0);
        break;
    }
    output_->Set(req, dst);
  }

 private:
  // Walks the UV pass and the output in step; `sample` fills the sample
  // record from the texture. The colour and alpha of the sample are weighted
  // by the UV alpha, each a float product. Where the UV alpha is 0 the pixel
  // is off the surface: zero in every channel, whatever the texture holds.
  template <typename Sample>
  static void Place(const Placement& at, const Image* uv, Image* dst, Sample&& sample) {
    FltPixel q{};
    const int further = dst->FurtherCount();
    std::byte* const* furtherRows = dst->RowTable(2);
    const ptrdiff_t furtherStep = dst->PixelStep(2);
    for (int32_t y = 0; y < uv->Height(); ++y) {
      const float* coords = uv->Group1(0, y);  // blue, green, red, alpha
      float* out = dst->Group1(0, y);
      for (int32_t x = 0; x < uv->Width(); ++x, coords += 4, out += 4) {
        const float a = coords[ChanA];
        if (a != 0.0f) {
          double px, py;
          at.Position(coords[ChanR], coords[ChanG], px, py);
          sample(px, py, q);
          for (int c = 0; c < 4; ++c) out[c] = q.Chan[c] * a;
        } else {
          std::fill_n(out, 4, 0.0f);
        }
        if (further) {
          auto* rest = reinterpret_cast<float*>(furtherRows[y] + x * furtherStep);
          if (a != 0.0f)
            std::memcpy(rest, q.Chan + ChanFurther, further * sizeof(float));
          else
            std::fill_n(rest, further, 0.0f);
        }
      }
    }
  }

  Input* title_;
  Input* swap_;
  Input* flipX_;
  Input* flipY_;
  Input* mode_;
  Input* xOffset_;
  Input* yOffset_;
  Input* uScale_;
  Input* vScale_;
  Input* texture_;
  Input* uv_;
  Output* output_;
};

extern constinit const ToolRecord UVpositionerRecord = {
    .registryId = "Quillmoor.UVpositioner",
    .name = "UVpositioner",
    .category = "Vexlan\\UVTools",
    .shortName = "UVpositioner",
    .description = "UV positioner",
    .buildText = "Built: Dec 20 2010",
    .regInt4 = 354,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<UVpositioner>,
};
