// Convolution filter: filters an image with a kernel that is itself an
// image, the second input, whose pixels are the weights. Each output pixel
// is the sum of the kernel's pixels times the source pixels under them,
// channel by channel, divided by the sum of the kernel's positive alphas.
// "Use Fast Sampling" visits a fixed count of pseudo-random kernel pixels,
// the same for every output pixel, instead of all of them.
//
// The kernel window is not centred: its row 0 falls on the source row
// y + Kh, its last row on y + 1, its columns on x .. x + Kw - 1. Reads past
// the source's edges repeat its edge pixels. The blocks of a row whose taps
// all fall inside the source are in Convolution_rows.cpp.
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/tool.h"
#include "tools/dof/blur_support.h"
#include "tools/dof/rules.h"

class Convolution : public ThreadedOperator {
 public:
  Convolution(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ConvFilter", "Convolution image filter"));
    sampling_ = Add(*this, Checkbox("Sampling", "Use Fast Sampling").Default(1.0));
    samples_ =
        Add(*this, Slider("Samples", "Samples").Default(250).IntegerValued().Range(50, 2500));
    image_ = Add(*this, ImageInput("Image", "Image").MainInput(1).Required());
    kernelInput_ = Add(*this, ImageInput("Kernel", "Kernel").MainInput(2).Required());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    source_ = ImageValue(image_, req);
    kernel_ = ImageValue(kernelInput_, req);
    fastSwitch_ = NumberValue(sampling_, req);
    sampleCount_ = SampleCount(NumberValue(samples_, req));
    ListTaps();

    RenderRows(*this, req, output_, source_, result_, FurtherChannels::Cleared);
  }

  void ProcessChunk(Request*, int chunk) override {
    const int32_t y = chunk;
    float* out = reinterpret_cast<float*>(result_->RowTable(1)[y]);
    if (heldTaps_)
      RenderRowFromTaps(y, out);
    else
      RenderRowTapByTap(y, out);
  }

 private:
  using Tap = dof::Tap;

  // Largest tap list held for a render; a larger kernel in full mode, or a
  // count typed far past the slider in fast mode, is walked tap by tap.
  static constexpr int64_t MaxHeldTaps = int64_t(1) << 20;

  bool FullMode() const { return fastSwitch_ == 0.0; }

  // Fast mode: the generator seeded with 50 gives every output pixel the
  // same taps, drawn with repetition. A kernel without pixels gives none.
  static void DrawTap(int32_t kw, int32_t kh, int32_t& kx, int32_t& ky) {
    ky = Rand() % kh;
    kx = Rand() % kw;
  }

  int64_t TapCount() const {
    const int64_t kw = kernel_->Width(), kh = kernel_->Height();
    if (kw == 0 || kh == 0) return 0;
    if (FullMode()) return kw * kh;
    return sampleCount_ > 0 ? sampleCount_ : 0;
  }

  // Lists the taps every output pixel runs, in order, and their weight: the
  // sum of the positive kernel alphas, in double precision.
  void ListTaps() {
    taps_.clear();
    weight_ = 0;
    const int64_t count = TapCount();
    heldTaps_ = count <= MaxHeldTaps;
    if (!heldTaps_) return;
    taps_.reserve(count);
    const int32_t kh = kernel_->Height();
    VisitTaps(count, [&](int32_t kx, int32_t ky) {
      Tap tap;
      std::memcpy(tap.weights, KernelPixel(kx, ky), sizeof tap.weights);
      tap.dx = kx;
      tap.dy = kh - ky;
      if (tap.weights[ChanA] > 0) weight_ += tap.weights[ChanA];
      taps_.push_back(tap);
    });
  }

  // Calls visit(kx, ky) for the taps every output pixel runs, in order:
  // every kernel pixel in full mode, else `count` drawn from seed 50.
  template <typename Visit>
  void VisitTaps(int64_t count, Visit&& visit) const {
    const int32_t kw = kernel_->Width(), kh = kernel_->Height();
    if (FullMode()) {
      for (int32_t ky = 0; ky < kh; ++ky)
        for (int32_t kx = 0; kx < kw; ++kx) visit(kx, ky);
    } else {
      Srand(50);
      int32_t kx, ky;
      for (int64_t i = 0; i < count; ++i) {
        DrawTap(kw, kh, kx, ky);
        visit(kx, ky);
      }
    }
  }

  const float* KernelPixel(int32_t kx, int32_t ky) const {
    return reinterpret_cast<const float*>(kernel_->RowTable(1)[ky]) + 4 * kx;
  }

  // The common case: the taps are listed, so each row looks up the source
  // row of every tap once and runs them over blocks of output pixels.
  void RenderRowFromTaps(int32_t y, float* out) const {
    const EdgeReader source(source_);
    const int32_t width = source.Width();
    const size_t count = taps_.size();
    std::vector<const float*> rows(count);
    int32_t reach = 0;  // the largest column offset of any tap
    for (size_t t = 0; t < count; ++t) {
      rows[t] = source.EdgeRow(int64_t(y) + taps_[t].dy);
      if (taps_[t].dx > reach) reach = taps_[t].dx;
    }

    // Blocks of output pixels whose taps all fall inside the source's
    // columns, then the pixels near the right edge, whose taps may reach
    // past it: every pixel keeps its own sum, in tap order.
    int32_t x = dof::ConvolveBlocks(taps_.data(), rows.data(), count, reach, width, weight_, out);
    for (; x < width; ++x) {
      float sum[4] = {0, 0, 0, 0};
      for (size_t t = 0; t < count; ++t) {
        const float* k = taps_[t].weights;
        const float* s = rows[t] + 4 * EdgeIndex(int64_t(x) + taps_[t].dx, width);
        for (int c = 0; c < 4; ++c) sum[c] += k[c] * s[c];
      }
      dof::ConvolvedPixel(sum, weight_, out + 4 * x);
    }
  }

  // Taps too many to list: each pixel walks the kernel, or draws its taps
  // afresh from seed 50.
  void RenderRowTapByTap(int32_t y, float* out) const {
    const EdgeReader source(source_);
    const int32_t kh = kernel_->Height();
    const int64_t count = TapCount();
    for (int32_t x = 0; x < source.Width(); ++x) {
      float sum[4] = {0, 0, 0, 0};
      double weight = 0;
      VisitTaps(count, [&](int32_t kx, int32_t ky) {
        const float* k = KernelPixel(kx, ky);
        const float* s = source.At<int64_t>(int64_t(x) + kx, int64_t(y) + kh - ky);
        for (int c = 0; c < 4; ++c) sum[c] += k[c] * s[c];
        if (k[ChanA] > 0) weight += k[ChanA];
      });
      dof::ConvolvedPixel(sum, weight, out + 4 * x);
    }
  }

  Input* title_;
  Input* sampling_;
  Input* samples_;
  Input* image_;
  Input* kernelInput_;
  Output* output_;

  // Written by Process before the rows start; only read by the rows.
  Image* source_ = nullptr;
  Image* kernel_ = nullptr;
  Image* result_ = nullptr;
  int32_t sampleCount_ = 0;
  double fastSwitch_ = 1.0;
  std::vector<Tap> taps_;  // every pixel's taps, in order, when held
  bool heldTaps_ = true;
  double weight_ = 0;  // the sum of the held taps' positive alphas
};

extern constinit const ToolRecord ConvolutionRecord = {
    .registryId = "Quillmoor.Convolution",
    .name = "Convolution",
    .category = "Vexlan\\Blur",
    .shortName = "Convolution",
    .description = "Convolution",
    .buildText = "Built: Aug  9 2012",
    .regInt4 = 341,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<Convolution>,
};
