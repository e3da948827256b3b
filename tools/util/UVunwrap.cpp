// UV unwrapper: carries a rendered image into texture space through the UV
// pass rendered with it. Every source pixel is written into the output at the
// place its own UV names (a scatter, the counterpart of the UV positioner's
// gather); the output has the source's size, and pixels that nothing lands on
// stay transparent black. Where several pixels land on one place the last in
// scan order wins. UV outside 0 to 1 piles up on the border columns and rows.
//
// Options: "Interpolate samples" averages each source pixel with its four
// direct neighbours before it is written; "Interpolate pixel setting" writes
// each pixel as a 2 x 2 block, which closes one-pixel gaps between
// neighbouring landing places.
#include <cmath>

#include "frame/tool.h"
#include "tools/util/uv.h"

namespace {

// Whole pixels of any image, every channel, through a cursor.
class AllPixels {
 public:
  explicit AllPixels(const Image* img) : cursor_(img) {}
  void Read(int32_t x, int32_t y, FltPixel& px) {
    cursor_.GotoPixel(x, y);
    cursor_.ReadPixel(px);
  }
  void Write(int32_t x, int32_t y, const FltPixel& px) {
    cursor_.GotoPixel(x, y);
    cursor_.WritePixel(px);
  }

 private:
  PixelCursor cursor_;
};

// Averages the red, green, blue and alpha of `centre`, the pixel (x, y), with
// those of its direct neighbours that lie inside the image, all weighted
// alike. The centre keeps its own further channels.
void AverageWithNeighbours(AllPixels& src, int32_t x, int32_t y, int32_t w, int32_t h,
                           FltPixel& centre, FltPixel& neighbour) {
  double sum[4] = {centre.Chan[0], centre.Chan[1], centre.Chan[2], centre.Chan[3]};
  int count = 1;
  auto add = [&](int32_t nx, int32_t ny) {
    src.Read(nx, ny, neighbour);
    for (int c = 0; c < 4; ++c) sum[c] += neighbour.Chan[c];
    ++count;
  };
  if (x >= 1) add(x - 1, y);
  if (x + 1 < w) add(x + 1, y);
  if (y >= 1) add(x, y - 1);
  if (y + 1 < h) add(x, y + 1);
  for (int c = 0; c < 4; ++c) centre.Chan[c] = static_cast<float>(sum[c] / count);
}

}  // namespace

class UVunwrap : public ThreadedOperator {
 public:
  UVunwrap(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("UVunwrap", "Unwrap image by UV"));
    swap_ = Add(*this, Checkbox("Swap", "Swap UV").Default(0.0));
    flipX_ = Add(*this, Checkbox("Flipx", "Flip X").Default(0.0));
    flipY_ = Add(*this, Checkbox("Flipy", "Flip Y").Default(0.0));
    average_ = Add(*this, Checkbox("InterpolateSamples", "Interpolate samples").Default(0.0));
    block_ =
        Add(*this, Checkbox("Interpolate pixel setting", "Interpolate pixel setting").Default(0.0));
    image_ = Add(*this, ImageInput("Image", "Image").MainInput(1).Required());
    uv_ = Add(*this, ImageInput("UV", "UV").MainInput(2).Required());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const UVOrientation orientation{NumberValue(swap_, req) != 0.0, NumberValue(flipX_, req) != 0.0,
                                    NumberValue(flipY_, req) != 0.0};
    const bool average = NumberValue(average_, req) != 0.0;
    const bool block = NumberValue(block_, req) != 0.0;
    const Image* src = ImageValue(image_, req);
    const Image* uv = ImageValue(uv_, req);
    Image* dst = NewImage({{ImageLike, src}});
    const bool sameSize = uv->Width() == src->Width() && uv->Height() == src->Height();
    if (sameSize && src->FurtherCount() == 0 && dst->FurtherCount() == 0) {
      UnwrapCommon(src, uv, dst, {orientation, average, block});
      output_->Set(req, dst);
      return;
    }
    dst->Fill(0, 0, 0, 0);
    // A UV pass of another size names no place in the source: the result
    // stays empty.
    if (sameSize) {
      AllPixels in(src), out(dst);
      Unwrap(src, uv, in, out, {orientation, average, block});
    }
    output_->Set(req, dst);
  }

 private:
  struct Options {
    UVOrientation orientation;
    bool average, block;
  };

  // The common layout (four channels, nothing else), a row at a time.
  static void UnwrapCommon(const Image* src, const Image* uv, Image* dst, const Options& options) {
    const int32_t w = src->Width(), h = src->Height();
    UnwrapTarget result(dst->RowTable(1), w, h,
                        size_t(w) * size_t(h) * sizeof(FltPixel4) >= StreamingBytes);
    const UnwrapRows r{options.orientation, options.average, options.block, w, h,
                       src->RowTable(1),    &result};
    for (int32_t y = 0; y < h; ++y) UnwrapRow(r, uv->Group1(0, y), y);
    result.Finish();
  }

  // Any layout, pixel by pixel through cursors, into a cleared result.
  static void Unwrap(const Image* src, const Image* uv, AllPixels& in, AllPixels& out,
                     const Options& options) {
    const int32_t w = src->Width(), h = src->Height();
    const double width = w, height = h;
    FltPixel p, neighbour;
    for (int32_t y = 0; y < h; ++y) {
      const float* coords = uv->Group1(0, y);  // blue, green, red, alpha
      for (int32_t x = 0; x < w; ++x, coords += 4) {
        // A coordinate that is not a number names no place: the pixel is
        // dropped rather than written somewhere undefined.
        Landing at;
        if (!LandingOf(options.orientation, coords[ChanR], coords[ChanG], width, height, at))
          continue;
        in.Read(x, y, p);
        if (options.average) AverageWithNeighbours(in, x, y, w, h, p, neighbour);
        out.Write(at.x, at.y, p);
        if (options.block) {
          // The 2 x 2 block, cut at the last column and the last row.
          if (at.below) out.Write(at.x, at.y + 1, p);
          if (at.right) out.Write(at.x + 1, at.y, p);
          if (at.right && at.below) out.Write(at.x + 1, at.y + 1, p);
        }
      }
    }
  }

  Input* title_;
  Input* swap_;
  Input* flipX_;
  Input* flipY_;
  Input* average_;
  Input* block_;
  Input* image_;
  Input* uv_;
  Output* output_;
};

extern constinit const ToolRecord UVunwrapRecord = {
    .registryId = "Quillmoor.UVunwrap",
    .name = "UVunwrap",
    .category = "Vexlan\\UVTools",
    .shortName = "UVunwrap",
    .description = "UV unwrapper",
    .buildText = "Built: Dec 20 2010",
    .regInt4 = 354,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<UVunwrap>,
};
