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
#include <vector>

#include "frame/tool.h"
#include "tools/util/rows.h"
#include "tools/util/uv.h"

namespace {

// A landing position along one axis of `size` pixels: below 0 is 0, at or
// past the far edge is the last pixel. A position that is not a number
// passes through unchanged.
double ClampToImage(double p, double size) {
  if (p < 0.0) return 0.0;
  if (p >= size) return size - 1.0;
  return p;
}

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

// The unwrap of the common layout, a row at a time.
//
// The landing places are worked four at a time in double precision with the
// operations of the pixel walk in the same order (so the same places), and
// the four pixels are written there at once, so that the UV pass, the source
// and the result are all streaming at the same time. The result is not
// cleared beforehand: each write sets all four channels of its pixel, so only
// the pixels that no write reaches need clearing, and a map of one byte per
// pixel says which those are. Clearing the whole image first would pass over
// it once more and then make every scattered write read its line back.
struct UnwrapRow {
  UVOrientation orientation;
  bool average, block;
  int32_t width, height;
  std::byte* const* in;   // rows of the source
  std::byte* const* out;  // rows of the result
  uint8_t* written;       // one byte per result pixel
};

inline float* PixelOf(std::byte* const* rows, int32_t x, int32_t y) {
  return reinterpret_cast<float*>(rows[y]) + 4 * size_t(x);
}

// Three rows of the source: the centre row and the rows above and beneath it
// (null at the first and last row).
struct SourceRows {
  const float *above, *here, *beneath;
};

// Source pixel x of the centre row, averaged with its direct neighbours inside
// the image when asked: the sum starts at the centre and takes the left,
// right, upper and lower neighbour in this order, in double precision, as the
// pixel walk does.
template <bool Average>
__attribute__((always_inline)) inline simd::Float4 SourcePixel(const SourceRows& rows, int32_t x,
                                                               int32_t width) {
  const float* at = rows.here + 4 * size_t(x);
  const simd::Float4 centre = simd::Load(at);
  if (!Average) return centre;
  using simd::Double4;
  Double4 sum = __builtin_convertvector(centre, Double4);
  int count = 1;
  auto add = [&](const float* p) {
    sum += __builtin_convertvector(simd::Load(p), Double4);
    ++count;
  };
  if (x >= 1) add(at - 4);
  if (x + 1 < width) add(at + 4);
  if (rows.above) add(rows.above + 4 * size_t(x));
  if (rows.beneath) add(rows.beneath + 4 * size_t(x));
  return __builtin_convertvector(sum / double(count), simd::Float4);
}

template <bool Average, bool Block>
__attribute__((always_inline)) inline void UnwrapRowOf(const UnwrapRow& r, const float* coords,
                                                       int32_t y) {
  using simd::Double4;
  using Float8 = float __attribute__((vector_size(32)));
  std::byte* const* const out = r.out;
  uint8_t* const written = r.written;
  const int32_t n = r.width;
  const double w = r.width, h = r.height;
  const UVOrientation orientation = r.orientation;
  const SourceRows rows = {y >= 1 ? PixelOf(r.in, 0, y - 1) : nullptr, PixelOf(r.in, 0, y),
                           y + 1 < r.height ? PixelOf(r.in, 0, y + 1) : nullptr};
  // One pixel, or two side by side, of row yi.
  auto put = [&](int32_t xi, int32_t yi, simd::Float4 p, bool right) {
    float* to = PixelOf(out, xi, yi);
    uint8_t* mark = written + size_t(yi) * size_t(n) + size_t(xi);
    if (Block && right) {
      const Float8 pair = __builtin_shufflevector(p, p, 0, 1, 2, 3, 0, 1, 2, 3);
      std::memcpy(to, &pair, sizeof pair);
      const uint16_t both = 0x0101;
      std::memcpy(mark, &both, sizeof both);
    } else {
      simd::Store(to, p);
      *mark = 1;
    }
  };
  // Source pixel x of the row to (xi, yi), and the rest of its block: the
  // four places are distinct and take the same value, so the pixels side by
  // side are written together.
  auto place = [&](int32_t x, int32_t xi, int32_t yi, bool right, bool below) {
    const simd::Float4 p = SourcePixel<Average>(rows, x, n);
    put(xi, yi, p, right);
    if (Block && below) put(xi, yi + 1, p, right);
  };

  const Double4 zero = {0.0, 0.0, 0.0, 0.0}, one = zero + 1.0;
  const Double4 width = zero + w, height = zero + h, lastColumn = width - 1.0,
                lastRow = height - 1.0;
  int32_t x = 0;
  for (const float* c = coords; x + 4 <= n; x += 4, c += 16) {
    constexpr int R = ChanR, G = ChanG;
    simd::Float4 red = {c[R], c[4 + R], c[8 + R], c[12 + R]};
    simd::Float4 green = {c[G], c[4 + G], c[8 + G], c[12 + G]};
    if (orientation.swap) std::swap(red, green);
    Double4 u = __builtin_convertvector(red, Double4);
    Double4 v = __builtin_convertvector(green, Double4);
    if (orientation.flipX) u = one - u;
    if (orientation.flipY) v = one - v;
    Double4 px = u * width, py = v * height;
    px = px < zero ? zero : px >= width ? lastColumn : px;
    py = py < zero ? zero : py >= height ? lastRow : py;
    const simd::Int4 named = __builtin_convertvector((px == px) & (py == py), simd::Int4);
    // Not a number is taken to 0 before the conversion, and then skipped.
    const simd::Int4 columns = __builtin_convertvector(px == px ? px : zero, simd::Int4);
    const simd::Int4 rows = __builtin_convertvector(py == py ? py : zero, simd::Int4);
    const simd::Int4 right = __builtin_convertvector(px + 1.0 < width, simd::Int4);
    const simd::Int4 below = __builtin_convertvector(py + 1.0 < height, simd::Int4);
    for (int i = 0; i < 4; ++i)
      if (named[i]) place(x + i, columns[i], rows[i], right[i] != 0, below[i] != 0);
  }
  for (coords += 4 * x; x < n; ++x, coords += 4) {
    double u, v;
    orientation.Read(coords[ChanR], coords[ChanG], u, v);
    const double px = ClampToImage(u * w, w), py = ClampToImage(v * h, h);
    if (std::isnan(px) || std::isnan(py)) continue;
    place(x, static_cast<int32_t>(px), static_cast<int32_t>(py), px + 1.0 < w, py + 1.0 < h);
  }
}

WideKernel void UnwrapRows(const UnwrapRow& r, const Image* uv, int32_t y) {
  const float* coords = uv->Group1(0, y);
  if (r.average) {
    if (r.block)
      UnwrapRowOf<true, true>(r, coords, y);
    else
      UnwrapRowOf<true, false>(r, coords, y);
  } else {
    if (r.block)
      UnwrapRowOf<false, true>(r, coords, y);
    else
      UnwrapRowOf<false, false>(r, coords, y);
  }
}

// Clears the pixels of row y that no write reached.
void ClearUnwritten(const UnwrapRow& r, int32_t y) {
  const uint8_t* written = r.written + size_t(y) * size_t(r.width);
  float* out = PixelOf(r.out, 0, y);
  const simd::Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
  int32_t x = 0;
  for (; x + 8 <= r.width; x += 8) {
    uint64_t eight;
    std::memcpy(&eight, written + x, sizeof eight);
    if (eight == 0x0101010101010101ull) continue;
    for (int i = 0; i < 8; ++i)
      if (!written[x + i]) simd::Store(out + 4 * (x + i), zero);
  }
  for (; x < r.width; ++x)
    if (!written[x]) simd::Store(out + 4 * x, zero);
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
    std::vector<uint8_t> written(size_t(w) * size_t(h), 0);
    const UnwrapRow r{options.orientation, options.average,  options.block, w, h,
                      src->RowTable(1),    dst->RowTable(1), written.data()};
    for (int32_t y = 0; y < h; ++y) UnwrapRows(r, uv, y);
    for (int32_t y = 0; y < h; ++y) ClearUnwritten(r, y);
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
        double u, v;
        options.orientation.Read(coords[ChanR], coords[ChanG], u, v);
        const double px = ClampToImage(u * width, width);
        const double py = ClampToImage(v * height, height);
        // A coordinate that is not a number names no place: the pixel is
        // dropped rather than written somewhere undefined.
        if (std::isnan(px) || std::isnan(py)) continue;

        in.Read(x, y, p);
        if (options.average) AverageWithNeighbours(in, x, y, w, h, p, neighbour);
        const int32_t xi = static_cast<int32_t>(px), yi = static_cast<int32_t>(py);
        out.Write(xi, yi, p);
        if (options.block) {
          // The 2 x 2 block, cut at the last column and the last row.
          const bool below = py + 1.0 < height, right = px + 1.0 < width;
          if (below) out.Write(xi, yi + 1, p);
          if (right) out.Write(xi + 1, yi, p);
          if (right && below) out.Write(xi + 1, yi + 1, p);
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
