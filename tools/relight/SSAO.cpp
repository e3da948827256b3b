// Screen-space ambient occlusion: from a normal pass (encoded 0 .. 1) and a
// position pass it works out how much the surrounding surface hides each
// pixel. It looks up the positions of nearby pixels in a pattern turned by a
// per-pixel random vector and sums how far each lies in front of the pixel's
// normal, attenuated by distance. The result is a grey occlusion value
// (0 open, larger more hidden) in red, green, blue and alpha.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "frame/tool.h"
#include "tools/relight/occlusion.h"

class SSAO : public ThreadedOperator {
 public:
  SSAO(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("SSAO", "Screen Space Ambient Occlusion"));
    sampleRadius_ = Add(*this, Slider("SampleRad", "Sample Radius").Default(100.0));
    intensity_ = Add(*this, Slider("Intensity", "Intensity").Default(1.0));
    scale_ = Add(*this, Slider("Scale", "Scale").Default(1.0));
    bias_ = Add(*this, Slider("Bias", "Bias").Default(0.0));
    quality_ =
        Add(*this, Slider("Quality", "Quality").Default(1.0).IntegerValued().Range(1.0, 16.0));
    normals_ = Add(*this, ImageInput("Normals", "Normals").MainInput(1).Required());
    position_ = Add(*this, ImageInput("Position", "Position").MainInput(2).Required());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    values_.scale = NumberValue(scale_, req);
    values_.radius = NumberValue(sampleRadius_, req);
    values_.intensity = NumberValue(intensity_, req);
    values_.bias = NumberValue(bias_, req);
    values_.quality = PassGroups(NumberValue(quality_, req));
    normalsImage_ = ImageValue(normals_, req);
    positionImage_ = ImageValue(position_, req);
    positionRows_ = positionImage_->RowTable(1);
    TurnDirections();

    // The tiles write every pixel, further channels included.
    const int32_t w = normalsImage_->Width(), h = normalsImage_->Height();
    tilesAcross_ = (w + TileWidth - 1) / TileWidth;
    RenderRows(*this, req, output_, normalsImage_, result_, FurtherChannels::WrittenByRows,
               w > 0 ? tilesAcross_ * ((h + TileHeight - 1) / TileHeight) : 0);
  }

  void ProcessChunk(Request*, int chunk) override {
    const int32_t w = normalsImage_->Width(), h = normalsImage_->Height();
    const int32_t x0 = chunk % tilesAcross_ * TileWidth, x1 = std::min(x0 + TileWidth, w);
    const int32_t y0 = chunk / tilesAcross_ * TileHeight, y1 = std::min(y0 + TileHeight, h);
    PixelCursor normals(normalsImage_), out(result_);
    FltPixel px;
    for (int32_t y = y0; y < y1; ++y) {
      // Each row draws its own sequence, two draws a pixel from its left
      // end, so one input gives one output whatever the spread of tiles over
      // threads; a tile starts where its first pixel's draws stand.
      // Multiplying spreads the seeds of neighbouring rows apart: with
      // consecutive seeds every row would start with nearly the same first
      // draw.
      Srand(RandSeedAfter(static_cast<uint32_t>(y) * 2654435761u, 2 * uint64_t(x0)));
      normals.GotoPixel(x0, y);
      out.GotoPixel(x0, y);
      for (int32_t x = x0; x < x1; ++x) {
        normals.ReadPixel(px);
        const float value = Occlusion(x, y, DecodeNormal(px.R(), px.G(), px.B()));
        px.R() = px.G() = px.B() = px.A() = value;
        out.WritePixel(px);  // further channels of the normal pass go through
        normals.NextPixel();
        out.NextPixel();
      }
    }
  }

 private:
  // The pixels are rendered in tiles: the samples of a tile's rows fall in
  // a window of the position pass that stays in the cache from one row to
  // the next, where whole rows of the pass would not.
  static constexpr int32_t TileWidth = 64, TileHeight = 128;

  // "Quality", truncated toward zero: the number of times the pattern's
  // four directions are walked. Below 1 (typed past the slider, or not a
  // number) it counts as 1, which also keeps the divisor from being 0.
  static int32_t PassGroups(double quality) {
    if (!(quality >= 1.0)) return 1;
    // Far past the slider (16) a render would never end: at most 4096
    // groups, 16384 samples a pixel.
    if (quality >= 4096.0) return 4096;
    return static_cast<int32_t>(quality);
  }

  // The position pass's point at (u, v): the whole pixel there, the nearest
  // edge pixel outside, as the host's nearest-edge sampling finds it, read
  // straight from the pass's rows. Positions saturate as 16.16 fixed point
  // before they become indices, so an infinite radius (a depth of 0) or a
  // NaN reads an edge pixel. A pass without pixels reads as 0.
  Vec3f PositionAt(double u, double v) const {
    const int32_t w = positionImage_->Width(), h = positionImage_->Height();
    if (w == 0 || h == 0) return {0, 0, 0};
    const int32_t x = std::clamp(ToFixed(std::trunc(u)) >> 16, 0, w - 1);
    const int32_t y = std::clamp(ToFixed(std::trunc(v)) >> 16, 0, h - 1);
    const float* p = PositionPixel(x, y);
    return {p[ChanR], p[ChanG], p[ChanB]};
  }

  const float* PositionPixel(int32_t x, int32_t y) const {
    return reinterpret_cast<const float*>(positionRows_[y]) + 4 * int64_t(x);
  }

  static constexpr double Pi = 3.14159265358979323846;
  static constexpr Vec2d Directions[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};

  static Vec2d Turned(Vec2d v, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return {c * v.x - s * v.y, s * v.x + c * v.y};
  }

  // The directions of every group, the same for every pixel: each further
  // group turns the four directions on, so that 4·Q directions spread evenly
  // around the pixel.
  void TurnDirections() {
    const int32_t groups = values_.quality;
    directions_.clear();
    directions_.reserve(4 * size_t(groups));
    for (int32_t g = 0; g < groups; ++g)
      for (Vec2d v : Directions)
        directions_.push_back(g > 0 ? Turned(v, g * (Pi / 2) / groups) : v);
  }

  float Occlusion(int32_t x, int32_t y, Vec3f n) const {
    const Vec3f p = PositionAt(x, y);
    const int first = Rand();
    const int second = Rand();
    const Vec2d turn = RandomTurn(first, second);
    // The pattern shrinks with depth (blue of the position pass).
    const float rad = static_cast<float>(values_.radius / p.z);

    // The samples' shares are worked out a batch at a time, apart from one
    // another (so several at once), then added in the pattern's order.
    constexpr int Batch = 16;
    float qx[Batch], qy[Batch], qz[Batch];
    double share[Batch];
    int filled = 0;
    float ao = 0;
    auto addBatch = [&] {
      for (int i = 0; i < filled; ++i)
        share[i] = OcclusionOf(p, n, {qx[i], qy[i], qz[i]}, values_.scale, values_.bias,
                               values_.intensity);
      for (int i = 0; i < filled; ++i) ao = static_cast<float>(ao + share[i]);
      filled = 0;
    };
    auto sample = [&](double dx, double dy) {
      const Vec3f q = PositionAt(x + dx, y + dy);
      qx[filled] = q.x, qy[filled] = q.y, qz[filled] = q.z;
      if (++filled == Batch) addBatch();
    };
    for (const Vec2d v : directions_) {
      const Vec2d r = Reflect(v, turn);
      const Vec2d c1{r.x * rad, r.y * rad};
      // About 45 degrees on; 0.707 as it stands.
      const Vec2d c2{0.707 * c1.x - 0.707 * c1.y, 0.707 * c1.x + 0.707 * c1.y};
      sample(c1.x * 0.25, c1.y * 0.25);
      sample(c2.x * 0.5, c2.y * 0.5);
      sample(c1.x * 0.75, c1.y * 0.75);
      sample(c2.x, c2.y);
    }
    if (filled > 0) addBatch();
    const int64_t passes = 4 * int64_t(values_.quality);
    return static_cast<float>(ao / (double(passes) * 4.0));
  }

  Input* title_;
  Input* sampleRadius_;
  Input* intensity_;
  Input* scale_;
  Input* bias_;
  Input* quality_;
  Input* normals_;
  Input* position_;
  Output* output_;

  // Written by Process before the rows start; only read by the rows.
  struct {
    double scale = 1;
    double radius = 100;
    double intensity = 1;
    double bias = 0;
    int32_t quality = 1;  // groups of four passes
  } values_;
  Image* normalsImage_ = nullptr;
  Image* positionImage_ = nullptr;
  std::byte* const* positionRows_ = nullptr;
  Image* result_ = nullptr;
  std::vector<Vec2d> directions_;
  int32_t tilesAcross_ = 0;
};

extern constinit const ToolRecord SSAORecord = {
    .registryId = "Quillmoor.SSAO",
    .name = "SSAO",
    .category = "Vexlan\\RelightTools",
    .shortName = "SSAO",
    .description = "Screen Space Ambient Occlusion",
    .buildText = "Built: Jan  4 2011",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 1,
    .factory = Factory<SSAO>,
};
