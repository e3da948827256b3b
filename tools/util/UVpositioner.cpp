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
#include "tools/util/rows.h"
#include "tools/util/uv.h"

namespace {

enum class SampleMode { Black, Wrap, Duplicate, None };

SampleMode ModeOf(const TextID& choice) {
  if (choice == "Black") return SampleMode::Black;
  if (choice == "Wrap") return SampleMode::Wrap;
  if (choice == "Duplicate") return SampleMode::Duplicate;
  return SampleMode::None;
}

struct Placement {
  UVOrientation orientation;
  double xOffset, yOffset, uScale, vScale;
  double width, height;  // of the texture

  // The texture pixel position (not yet truncated) of a UV pixel's red and
  // green: the offset is added first, the sum scaled, then taken to pixels.
  // No clamping.
  void Position(float red, float green, double& px, double& py) const {
    double u, v;
    orientation.Read(red, green, u, v);
    px = ((u + xOffset) * uScale) * width;
    py = ((v + yOffset) * vScale) * height;
  }
};

// The texture's pixels, for the common layout (blue, green, red, alpha and
// nothing else), read straight from its rows.
struct TextureRows {
  std::byte* const* rows;
  int32_t width, height;  // both above 0

  // Where the sampling operation of the mode reads a whole pixel position:
  // black outside (the zero pixel), the texture repeated, or its edge
  // extended.
  template <SampleMode Mode>
  const float* At(int32_t column, int32_t row) const {
    if constexpr (Mode == SampleMode::Black) {
      if (uint32_t(column) >= uint32_t(width) || uint32_t(row) >= uint32_t(height)) return Zero;
    } else if constexpr (Mode == SampleMode::Wrap) {
      column = Wrapped(column, width);
      row = Wrapped(row, height);
    } else {
      column = column < 0 ? 0 : column >= width ? width - 1 : column;
      row = row < 0 ? 0 : row >= height ? height - 1 : row;
    }
    return Inside(column, row);
  }

  // A pixel known to lie inside.
  const float* Inside(int32_t column, int32_t row) const {
    return reinterpret_cast<const float*>(rows[row]) + 4 * size_t(column);
  }

  static int32_t Wrapped(int32_t v, int32_t size) {
    if (uint32_t(v) < uint32_t(size)) return v;
    const int32_t m = v % size;
    return m < 0 ? m + size : m;
  }

  alignas(16) static constexpr float Zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Where one UV pixel of the common layout takes its sample from; null off
// the surface (alpha 0).
template <SampleMode Mode>
inline const float* SourceOf(const Placement& at, const TextureRows& texture, const float* coords) {
  if (coords[ChanA] == 0.0f) return nullptr;
  double px, py;
  at.Position(coords[ChanR], coords[ChanG], px, py);
  int32_t fx, fy;
  if constexpr (Mode == SampleMode::Wrap) {
    fx = WrappedPixelFixed(px, texture.width);
    fy = WrappedPixelFixed(py, texture.height);
  } else {
    fx = WholePixelFixed(px);
    fy = WholePixelFixed(py);
  }
  return texture.At<Mode>(fx >> 16, fy >> 16);
}

// The whole pixel of four positions, as WholePixelFixed(p) >> 16 gives it:
// truncated toward zero within -32768 to 32767, not a number at -32768.
__attribute__((always_inline)) inline simd::Int4 WholePixels(const simd::Double4& position) {
  simd::Double4 p = position;
  const simd::Double4 low = {-32768.0, -32768.0, -32768.0, -32768.0};
  const simd::Double4 high = {32767.0, 32767.0, 32767.0, 32767.0};
  p = p > low ? p : low;
  p = p < high ? p : high;
  return __builtin_convertvector(p, simd::Int4);
}

// A row of the common layout in two passes. First the sources of the row,
// four pixels at a time: the positions are worked in double precision with
// the operations of Placement::Position, in the same order, so each lane has
// the bits of the one-pixel path (a repeating texture reached past the
// fixed-point range takes the one-pixel path, which brings it back by whole
// repeats). Then the samples, each fetched well ahead of its use: the
// texture is read wherever the UV pass points, and waiting for each read in
// turn costs more than all the arithmetic. (Writing the result past the
// cache, as a large copy does, was slower here: the streaming stores wait on
// the texture reads.)
template <SampleMode Mode>
__attribute__((always_inline)) inline void PlaceRow(const Placement& at, const TextureRows& texture,
                                                    const float* coords, float* out, int32_t width,
                                                    const float** sources) {
  using simd::Double4;
  // Every lane the same value, -0 included.
  const Double4 zero = {0.0, 0.0, 0.0, 0.0}, one = {1.0, 1.0, 1.0, 1.0};
  const Double4 xOffset = {at.xOffset, at.xOffset, at.xOffset, at.xOffset};
  const Double4 yOffset = {at.yOffset, at.yOffset, at.yOffset, at.yOffset};
  const Double4 uScale = {at.uScale, at.uScale, at.uScale, at.uScale};
  const Double4 vScale = {at.vScale, at.vScale, at.vScale, at.vScale};
  const Double4 texWidth = {at.width, at.width, at.width, at.width};
  const Double4 texHeight = {at.height, at.height, at.height, at.height};
  const simd::Int4 origin = {0, 0, 0, 0};
  const simd::Int4 lastColumn = origin + (texture.width - 1),
                   lastRow = origin + (texture.height - 1);
  int32_t x = 0;
  for (const float* c = coords; x + 4 <= width; x += 4, c += 16) {
    constexpr int R = ChanR, G = ChanG, A = ChanA;
    simd::Float4 red = {c[R], c[4 + R], c[8 + R], c[12 + R]};
    simd::Float4 green = {c[G], c[4 + G], c[8 + G], c[12 + G]};
    if (at.orientation.swap) std::swap(red, green);
    Double4 u = __builtin_convertvector(red, Double4);
    Double4 v = __builtin_convertvector(green, Double4);
    if (at.orientation.flipX) u = one - u;
    if (at.orientation.flipY) v = one - v;
    const Double4 px = ((u + xOffset) * uScale) * texWidth;
    const Double4 py = ((v + yOffset) * vScale) * texHeight;
    if constexpr (Mode == SampleMode::Wrap) {
      const Double4 low = zero - 32769.0, high = zero + 32768.0;
      const auto inside = (px > low) & (px < high) & (py > low) & (py < high);
      if (!(inside[0] & inside[1] & inside[2] & inside[3])) {
        for (int i = 0; i < 4; ++i) sources[x + i] = SourceOf<Mode>(at, texture, c + 4 * i);
        continue;
      }
    }
    simd::Int4 columns = WholePixels(px), rows = WholePixels(py);
    if constexpr (Mode == SampleMode::Duplicate) {
      // The edge extended: the four places clamped at once, with no branch
      // that depends on where each one falls.
      columns = columns < origin ? origin : columns;
      columns = columns > lastColumn ? lastColumn : columns;
      rows = rows < origin ? origin : rows;
      rows = rows > lastRow ? lastRow : rows;
      for (int i = 0; i < 4; ++i) {
        const float* inside = texture.Inside(columns[i], rows[i]);
        sources[x + i] = c[4 * i + A] == 0.0f ? nullptr : inside;
      }
    } else {
      for (int i = 0; i < 4; ++i)
        sources[x + i] = c[4 * i + A] == 0.0f ? nullptr : texture.At<Mode>(columns[i], rows[i]);
    }
  }
  for (; x < width; ++x) sources[x] = SourceOf<Mode>(at, texture, coords + 4 * x);

  constexpr int32_t Ahead = 128;
  for (x = 0; x < width; ++x, coords += 4, out += 4) {
    if (x + Ahead < width) __builtin_prefetch(sources[x + Ahead]);
    simd::Float4 weighted = {0.0f, 0.0f, 0.0f, 0.0f};
    if (sources[x]) weighted = simd::Load(sources[x]) * coords[ChanA];
    simd::Store(out, weighted);
  }
}

#define PLACE_ROW(Name, Mode)                                                                \
  WideKernel void Name(const Placement& at, const TextureRows& texture, const float* coords, \
                       float* out, int32_t width, const float** sources) {                   \
    PlaceRow<Mode>(at, texture, coords, out, width, sources);                                \
  }
PLACE_ROW(PlaceRowBlack, SampleMode::Black)
PLACE_ROW(PlaceRowWrap, SampleMode::Wrap)
PLACE_ROW(PlaceRowDuplicate, SampleMode::Duplicate)
#undef PLACE_ROW

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
      auto row = mode == SampleMode::Black  ? PlaceRowBlack
                 : mode == SampleMode::Wrap ? PlaceRowWrap
                                            : PlaceRowDuplicate;
      std::vector<const float*> sources(uv->Width());
      for (int32_t y = 0; y < uv->Height(); ++y)
        row(at, rows, uv->Group1(0, y), dst->Group1(0, y), uv->Width(), sources.data());
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
        simd::Float4 weighted = {0.0f, 0.0f, 0.0f, 0.0f};
        if (a != 0.0f) {
          double px, py;
          at.Position(coords[ChanR], coords[ChanG], px, py);
          sample(px, py, q);
          weighted = simd::Load(q.Chan) * a;
        }
        simd::Store(out, weighted);
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
