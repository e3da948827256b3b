// Dirty depth of field: fakes a lens's depth of field on a rendered image
// with the help of its Z-depth pass. Every output pixel averages the pixel
// with a fixed pattern of samples around it; a sample lends its colour when
// its own blur circle reaches the pixel and, for pixels in or behind the
// zone of sharpness, only when it lies nearer the camera. With "Do Blur" off
// the tool shows the blur-circle diameter itself, as a map for judging the
// camera settings. The rows render a register of pixels at a time in
// DirtyDof_rows.cpp, with RenderPixel's bits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "frame/tool.h"
#include "tools/dof/blur_support.h"
#include "tools/dof/camera.h"
#include "tools/dof/rules.h"

class DirtyDof : public ThreadedOperator {
 public:
  DirtyDof(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("DirtyDOF", "Dirty Depth Of Field"));
    doBlur_ = Add(*this, Checkbox("DoBlur", "Do Blur").Default(1.0));
    circularSamples_ = Add(
        *this, Slider("cSamples", "Circular Samples").Default(20).IntegerValued().Range(3, 500));
    bleedThreshold_ =
        Add(*this, Slider("BleedThreshold", "Bleed Threshold").Default(7.0).Range(0.5, 100));
    planeOfFocus_ = Add(*this, Color("PlaneOfFocus", "Plane Of Focus (m)")
                                   .Default(9.107735)
                                   .ColorGroup(1)
                                   .ColorChannel(0));
    focalLength_ =
        Add(*this, Slider("FocalLength", "FocalLength").Default(50).Range(4, 400).IntegerValued());
    fstop_ = Add(*this, Slider("Fstop", "Fstop").Default(2.8).LowerLimit(0));
    apertureWidth_ =
        Add(*this, Slider("ApertureWidth", "Aperture Width (inch)").Default(0.98).LowerLimit(0));
    apertureHeight_ =
        Add(*this, Slider("ApertureHeight", "Aperture Height (inch)").Default(0.735).LowerLimit(0));
    image_ = Add(*this, ImageInput("Image", "Image").MainInput(1).Required());
    zdepth_ = Add(*this, ImageInput("Zdepth", "Zdepth").MainInput(2).Required());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    source_ = ImageValue(image_, req);
    depth_ = ImageValue(zdepth_, req);
    const double focusM = std::fabs(NumberValue(planeOfFocus_, req));
    focusMm_ = focusM * 1000;
    blurSwitch_ = NumberValue(doBlur_, req);
    sampleCount_ = SampleCount(NumberValue(circularSamples_, req));
    fNumber_ = NumberValue(fstop_, req);
    focalMm_ = TruncatedCount(NumberValue(focalLength_, req));
    const double width = NumberValue(apertureWidth_, req);
    const double height = NumberValue(apertureHeight_, req);
    // "Bleed Threshold" is shown for the artist but takes no part.

    const DepthOfField dof =
        ComputeDepthOfField(static_cast<double>(focalMm_), focusM, width, height, fNumber_);
    coc_ = dof.coc;
    nearLimit_ = dof.near;
    farLimit_ = dof.far < 0 ? 0.0 : dof.far;  // 0: the zone of sharpness is unbounded
    maxOffset_ = 15.0;
    DrawPattern();

    if (blurSwitch_ != 0.0) WorkOutSampleDepths(req);
    phase_ = Phase::Pixels;
    tilesAcross_ = (source_->Width() + TileWidth - 1) / TileWidth;
    RenderRows(*this, req, output_, source_, result_, FurtherChannels::Cleared,
               source_->Width() > 0
                   ? tilesAcross_ * ((source_->Height() + TileHeight - 1) / TileHeight)
                   : 0);
  }

  void ProcessChunk(Request*, int chunk) override {
    if (phase_ == Phase::SampleDepths) {
      const int32_t y = chunk;
      const float* px = EdgeReader(depth_).Row(y);
      const int64_t first = int64_t(y) * depth_->Width();
      for (int32_t x = 0; x < depth_->Width(); ++x, px += 4) WorkOutSampleDepth(first + x, px);
      return;
    }
    const EdgeReader source(source_), depth(depth_);
    const int32_t x0 = chunk % tilesAcross_ * TileWidth;
    const int32_t x1 = std::min(x0 + TileWidth, source.Width());
    const int32_t y0 = chunk / tilesAcross_ * TileHeight;
    const int32_t y1 = std::min(y0 + TileHeight, source.Height());
    for (int32_t y = y0; y < y1; ++y) {
      const float* centre = source.Row(y) + 4 * int64_t(x0);
      float* out = reinterpret_cast<float*>(result_->RowTable(1)[y]) + 4 * int64_t(x0);
      if (blurSwitch_ == 0.0) {
        for (int32_t x = x0; x < x1; ++x, out += 4) {
          const float b = static_cast<float>(Diameter(PixelDepth(depth.At<int64_t>(x, y))));
          out[0] = out[1] = out[2] = out[3] = b;
        }
        continue;
      }
      const int32_t done = depth.Width() > 0 && depth.Height() > 0
                               ? dof::DirtyDofRow(RowsToRender(), y, x0, x1, out)
                               : x0;
      centre += 4 * int64_t(done - x0);
      out += 4 * int64_t(done - x0);
      for (int32_t x = done; x < x1; ++x, centre += 4, out += 4) {
        // Z is read at the pixel's own place; a Z smaller than the source
        // repeats its edge pixels rather than reading past them.
        RenderPixel(x, y, PixelDepth(depth.At<int64_t>(x, y)), centre, source, out);
      }
    }
  }

 private:
  // The pixels are rendered in tiles: the samples of a tile's rows fall in
  // a window of the source and depth passes that stays in the cache from
  // one row to the next, where whole rows of them would not.
  static constexpr int32_t TileWidth = 256, TileHeight = 64;

  using Offset = dof::SampleOffset;

  double Diameter(float z) const {
    return BlurDiameter(z, static_cast<double>(focalMm_), fNumber_, focusMm_);
  }

  // The generator seeded with 50 gives every pixel the same offsets: up to
  // two passes of n samples, the second pass going on where the first ended.
  static Offset DrawOffset(double maxOffset) {
    const int r1 = Rand();
    const int r2 = Rand();
    const double ky = (r1 % 200) / 100.0 - 1;
    const double kx = (r2 % 200) / 100.0 - 1;
    return {ky * maxOffset, kx * maxOffset};
  }

  void WorkOutSampleDepths(Request* req) {
    const int64_t depthPixels = int64_t(depth_->Width()) * depth_->Height();
    sampleRadius_.resize(depthPixels > 0 ? depthPixels : 1);
    sampleDepth_.resize(depthPixels > 0 ? depthPixels : 1);
    if (depthPixels == 0) WorkOutSampleDepth(0, EdgeReader(depth_).At<int64_t>(0, 0));
    phase_ = Phase::SampleDepths;
    DoMultiProcess(req, depth_->Width() > 0 ? depth_->Height() : 0);
  }

  // What a sample needs of a depth pixel is worked out once per render, not
  // once for every sample that reads it: how far it lies (for the nearer
  // test) and the radius of its blur disc in pixels, where one acceptable
  // blur circle is one pixel.
  void WorkOutSampleDepth(int64_t index, const float* bgra) {
    const float zs = PixelDepth(bgra);
    sampleRadius_[index] = (Diameter(zs) / coc_) * 0.5;
    sampleDepth_[index] = std::fabs(zs);
  }

  // The index of the depth pixel that a sample at (sx, sy) reads: the nearest
  // edge pixel outside the pass, the one entry of an empty pass.
  int64_t SampleIndex(double sx, double sy) const {
    const int32_t w = depth_->Width(), h = depth_->Height();
    if (w == 0 || h == 0) return 0;
    return int64_t(EdgeIndex(sy, h)) * w + EdgeIndex(sx, w);
  }

  dof::DirtyRows RowsToRender() const {
    return {source_->RowTable(1), source_->Width(), source_->Height(), sampleRadius_.data(),
            sampleDepth_.data(),  depth_->Width(),  depth_->Height(),  pattern_.data(),
            sampleCount_,         nearLimit_,       farLimit_};
  }

  void DrawPattern() {
    pattern_.clear();
    const int64_t count = 2 * int64_t(sampleCount_ > 0 ? sampleCount_ : 0);
    if (blurSwitch_ == 0.0) return;
    pattern_.reserve(count);
    Srand(50);
    for (int64_t i = 0; i < count; ++i) pattern_.push_back(DrawOffset(maxOffset_));
  }

  void RenderPixel(int32_t x, int32_t y, float z, const float* centre, const EdgeReader& source,
                   float* out) const {
    float sum[4] = {centre[0], centre[1], centre[2], centre[3]};
    double weight = centre[ChanA] + 0.0;  // the centre counts once, whatever its alpha
    const double zc = std::fabs(z);

    const Offset* offsets = pattern_.data();  // this pixel's offsets, in order
    auto runPass = [&](bool nearerOnly) {
      for (int32_t i = 0; i < sampleCount_; ++i) {
        const Offset o = *offsets++;
        const double sy = o.dy + y, sx = o.dx + x;
        const int64_t at = SampleIndex(sx, sy);
        const double distance = std::sqrt((y - sy) * (y - sy) + (x - sx) * (x - sx));
        // A sample whose blur disc reaches the pixel lends its colour, unless
        // only nearer samples count and it is not nearer; else the centre
        // counts once more.
        const bool lends = !(nearerOnly && zc <= sampleDepth_[at]) && sampleRadius_[at] > distance;
        const float* p = lends ? source.At(sx, sy) : centre;
        for (int c = 0; c < 4; ++c) sum[c] += p[c];
        weight += p[ChanA] > 0 ? p[ChanA] : 0.0;  // the weight is never -0, so adding 0 keeps it
      }
    };
    // The zones are tested one after another: with an unbounded far limit
    // (0) a pixel before the near limit runs the foreground and the
    // background pass. A limit that is not a number runs neither.
    if (nearLimit_ <= zc && zc <= farLimit_) runPass(true);
    if (zc < nearLimit_) runPass(false);
    if (zc > farLimit_) runPass(true);

    for (int c = 0; c < 4; ++c) out[c] = weight > 0 ? static_cast<float>(sum[c] / weight) : sum[c];
  }

  Input* title_;
  Input* doBlur_;
  Input* circularSamples_;
  Input* bleedThreshold_;
  Input* planeOfFocus_;
  Input* focalLength_;
  Input* fstop_;
  Input* apertureWidth_;
  Input* apertureHeight_;
  Input* image_;
  Input* zdepth_;
  Output* output_;

  // Written by Process before the rows start; only read by the rows.
  Image* source_ = nullptr;
  Image* depth_ = nullptr;
  Image* result_ = nullptr;
  int32_t sampleCount_ = 0;
  int32_t focalMm_ = 0;
  double blurSwitch_ = 0;
  double focusMm_ = 0;
  double fNumber_ = 0;
  double coc_ = 0;
  double nearLimit_ = 0;
  double farLimit_ = 0;  // 0 when unbounded
  double maxOffset_ = 0;
  std::vector<Offset> pattern_;
  // One per depth pixel: the radius of its blur disc in pixels, and |z|.
  std::vector<double> sampleRadius_;
  std::vector<float> sampleDepth_;
  enum class Phase { SampleDepths, Pixels } phase_ = Phase::Pixels;
  int32_t tilesAcross_ = 0;
};

extern constinit const ToolRecord DirtyDofRecord = {
    .registryId = "Quillmoor.DirtyDof",
    .name = "DirtyDOF",
    .category = "Vexlan\\Blur",
    .shortName = "DirtyDOF",
    .description = "DirtyDOF",
    .buildText = "Built: Aug  9 2012",
    .regInt4 = 341,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<DirtyDof>,
};
