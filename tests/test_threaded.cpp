// The tools that render their rows on worker threads: the dirty depth of
// field, the convolution filter and the screen-space ambient occlusion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/harness.h"
#include "tools/dof/blur_support.h"
#include "tools/dof/camera.h"
#include "tools/relight/occlusion.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Sets the worker-thread limit for one scope.
class ThreadLimit {
 public:
  explicit ThreadLimit(int threads) : before_(WorkerThreadLimit()) {
    SetWorkerThreadLimit(threads);
  }
  ~ThreadLimit() { SetWorkerThreadLimit(before_); }

 private:
  int before_;
};

// Every channel of every pixel, bit for bit.
bool SameBytes(const Image* a, const Image* b) {
  if (a->Width() != b->Width() || a->Height() != b->Height() ||
      a->FurtherCount() != b->FurtherCount())
    return false;
  FltPixel pa, pb;
  for (int y = 0; y < a->Height(); ++y)
    for (int x = 0; x < a->Width(); ++x) {
      a->GetPixel(x, y, pa);
      b->GetPixel(x, y, pb);
      if (std::memcmp(pa.Chan, pb.Chan, a->ChannelCount() * sizeof(float)) != 0) return false;
    }
  return true;
}

ImagePtr RenderWithThreads(ToolHarness& tool, int threads) {
  ThreadLimit limit(threads);
  return tool.Render();
}

// A Z pass whose depth is `depth` everywhere but at the listed pixels.
ImagePtr DepthImage(int w, int h, float depth,
                    std::vector<std::pair<std::pair<int, int>, float>> at = {}) {
  return MakeImage(w, h, [&](int x, int y) {
    float z = depth;
    for (auto& [pos, value] : at)
      if (pos == std::pair{x, y}) z = value;
    return RGBA{z, z, z, 1};
  });
}

// ---------------------------------------------------------------------------
// Shared helpers of the blurs.

TEST(BlurSupport, EdgeIndexTruncatesThenClampsAndSaturates) {
  EXPECT_EQ(EdgeIndex(2.99, 5), 2);
  EXPECT_EQ(EdgeIndex(-0.99, 5), 0);  // truncates toward zero
  EXPECT_EQ(EdgeIndex(-7.0, 5), 0);
  EXPECT_EQ(EdgeIndex(4.5, 5), 4);
  EXPECT_EQ(EdgeIndex(1e300, 5), 4);
  EXPECT_EQ(EdgeIndex(-1e300, 5), 0);
  EXPECT_EQ(EdgeIndex(double(Inf), 5), 4);
  EXPECT_EQ(EdgeIndex(NaN, 5), 0);
  EXPECT_EQ(EdgeIndex(int64_t(1) << 40, 5), 4);
  // The same pixel that the host's nearest-edge sampling picks.
  ImagePtr img = MakeImage(5, 3, [](int x, int y) { return RGBA{float(x), float(y), 0, 1}; });
  EdgeReader reader(img.get());
  for (double pos : {-40.0, -1.5, -0.5, 0.0, 0.7, 2.2, 4.99, 7.0, 1e12, NaN}) {
    FltPixel px;
    img->SamplePixelD(ToFixed(std::trunc(pos)), ToFixed(std::trunc(pos / 2)), px);
    const float* read = reader.At(pos, pos / 2);
    EXPECT_EQ(read[ChanR], px.R()) << pos;
    EXPECT_EQ(read[ChanG], px.G()) << pos;
  }
}

TEST(BlurSupport, TruncatedCountSaturates) {
  EXPECT_EQ(TruncatedCount(20.9), 20);
  EXPECT_EQ(TruncatedCount(-3.7), -3);
  EXPECT_EQ(TruncatedCount(1e20), INT32_MAX);
  EXPECT_EQ(TruncatedCount(-1e20), INT32_MIN);
  EXPECT_EQ(TruncatedCount(NaN), 0);
}

TEST(BlurSupport, CameraGivesTheDirtyDofLimitsExactly) {
  // The blur's limits: c = |gate| x 25.4 / 1500, K = f^2 / (c N),
  // near = K s / (K + (s - f)), far = K s / (K - (s - f)), s in m and mm.
  struct Case {
    double f, s, w, h, n;
  };
  for (Case c : {Case{50, 9.107735, 0.98, 0.735, 2.8}, Case{35, 2.5, 1.417, 0.945, 1.4},
                 Case{400, 100, 0.5, 0.3, 22}, Case{4, 0.01, 0.98, 0.735, 0.7}}) {
    const double coc = std::sqrt(c.w * c.w + c.h * c.h) * 25.4 / 1500;
    const double k = c.f * c.f / (coc * c.n);
    const double sMm = c.s * 1000;
    const DepthOfField dof = ComputeDepthOfField(c.f, c.s, c.w, c.h, c.n);
    EXPECT_EQ(dof.coc, coc);
    EXPECT_EQ(dof.near, (k * c.s) / (k + (sMm - c.f)));
    EXPECT_EQ(dof.far, (k * c.s) / (k - (sMm - c.f)));
  }
  const DepthOfField dof = ComputeDepthOfField(50, 9.107735, 0.98, 0.735, 2.8);
  EXPECT_NEAR(dof.coc, 0.0207433, 1e-7);
  EXPECT_NEAR(dof.near, 7.524, 1e-3);
  EXPECT_NEAR(dof.far, 11.535, 1e-3);
}

// ---------------------------------------------------------------------------
// DirtyDof. With the default camera the zone of sharpness runs from about
// 7.524 m to 11.535 m. Seeded with 50, the generator's first offsets are
// (dy, dx) = (-14.85, -7.35) and (1.5, 8.1): from pixel (20, 20) they fall
// on (12, 5) and (28, 21).

ImagePtr CoordinateImage(int w, int h) {
  return MakeImage(w, h, [](int x, int y) { return RGBA{float(x), float(y), 0, 1}; });
}

TEST(DirtyDof, BlurMapHoldsTheDiameterInEveryChannel) {
  // f / N x f = 1000 and s - f = 1950 make b(z) = 1000 |d - 2000| / (1950 d).
  ImagePtr src = ConstantImage(3, 1, {0.5f, 0.5f, 0.5f, 0.5f});
  ImagePtr z = MakeImage(3, 1, [](int x, int) {
    return x == 0 ? RGBA{3, 4, 5, 9} : x == 1 ? RGBA{1, 1, 1, 1} : RGBA{0, 0, 0, 1};
  });
  ToolHarness tool(DirtyDofRecord);
  tool.Set("DoBlur", 0).Set("PlaneOfFocus", -2).Set("FocalLength", 50.9).Set("Fstop", 2.5);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("Zdepth", z.get()).Render();
  ASSERT_TRUE(out);
  const float at4 = float(2000.0 / 7800.0), at1 = float(1000.0 / 1950.0);
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{at4, at4, at4, at4}));  // mean of r, g, b: 4 m
  EXPECT_EQ(PixelAt(out.get(), 1, 0), (RGBA{at1, at1, at1, at1}));
  EXPECT_EQ(PixelAt(out.get(), 2, 0), (RGBA{Inf, Inf, Inf, Inf}));
}

TEST(DirtyDof, SharpPixelWithNothingNearerKeepsColourOverAlpha) {
  ImagePtr src = MakeImage(2, 1, [](int x, int) {
    return x == 0 ? RGBA{0.25f, 0.5f, 0.75f, 0.5f} : RGBA{0.25f, 0.5f, 0.75f, 0.0f};
  });
  ImagePtr z = DepthImage(2, 1, 9.0f);
  ToolHarness tool(DirtyDofRecord);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("Zdepth", z.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{0.5f, 1.0f, 1.5f, 1.0f}));
  // No weight: the 1 + 20 centre terms are left as summed.
  EXPECT_EQ(PixelAt(out.get(), 1, 0), (RGBA{5.25f, 10.5f, 15.75f, 0.0f}));
}

TEST(DirtyDof, WithoutSamplesOrWithNanLimitsOnlyTheCentreCounts) {
  ImagePtr src = MakeImage(3, 1, [](int x, int) {
    const float a[] = {0.5f, 0.0f, -0.5f};
    return RGBA{0.25f, 0.5f, 0.75f, a[x]};
  });
  ImagePtr z = DepthImage(3, 1, 1.0f);  // foreground: blurred if any pass ran
  ToolHarness tool(DirtyDofRecord);
  tool.Connect("Image", src.get()).Connect("Zdepth", z.get());
  auto expectCentreOnly = [&](const char* what) {
    ImagePtr out = tool.Render();
    EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{0.5f, 1.0f, 1.5f, 1.0f})) << what;
    EXPECT_EQ(PixelAt(out.get(), 1, 0), PixelAt(src.get(), 1, 0)) << what;
    EXPECT_EQ(PixelAt(out.get(), 2, 0), PixelAt(src.get(), 2, 0)) << what;
  };
  tool.Set("cSamples", 0);
  expectCentreOnly("no samples");
  tool.Set("cSamples", -5);
  expectCentreOnly("negative samples");
  tool.Set("cSamples", 20).Set("ApertureWidth", 0).Set("ApertureHeight", 0);
  expectCentreOnly("zero film gate");
}

TEST(DirtyDof, ForegroundSampleLendsColourWhenItsDiscReachesThePixel) {
  ImagePtr src = CoordinateImage(40, 40);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("cSamples", 1).Connect("Image", src.get());
  // At 1 m the disc is about 19 pixels across the 16.6 to the sample.
  ImagePtr wide = DepthImage(40, 40, 1.0f);
  EXPECT_EQ(PixelAt(tool.Connect("Zdepth", wide.get()).Render().get(), 20, 20),
            (RGBA{16.0f, 12.5f, 0.0f, 1.0f}));
  // A sample in focus has almost no disc: the centre counts twice.
  ImagePtr sharp = DepthImage(40, 40, 1.0f, {{{12, 5}, 9.107735f}});
  EXPECT_EQ(PixelAt(tool.Connect("Zdepth", sharp.get()).Render().get(), 20, 20),
            (RGBA{20.0f, 20.0f, 0.0f, 1.0f}));
  // "Do Blur" that is not a number counts as on.
  tool.Set("DoBlur", NaN).Connect("Zdepth", wide.get());
  EXPECT_EQ(PixelAt(tool.Render().get(), 20, 20), (RGBA{16.0f, 12.5f, 0.0f, 1.0f}));
}

TEST(DirtyDof, BackgroundTakesOnlyNearerSamplesWithDiscsThatReach) {
  ImagePtr src = CoordinateImage(40, 40);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("cSamples", 1).Connect("Image", src.get());
  struct Case {
    float sampleDepth;
    RGBA expected;
  };
  for (Case c : {Case{0.5f, {16.0f, 12.5f, 0, 1}},  // nearer, disc about 41 pixels
                 Case{0.0f, {16.0f, 12.5f, 0, 1}},  // depth 0: an infinite disc
                 Case{2.0f, {20.0f, 20.0f, 0, 1}},  // nearer, but the disc falls short
                 Case{50.0f, {20.0f, 20.0f, 0, 1}}}) {
    ImagePtr z = DepthImage(40, 40, 50.0f, {{{12, 5}, c.sampleDepth}});
    EXPECT_EQ(PixelAt(tool.Connect("Zdepth", z.get()).Render().get(), 20, 20), c.expected)
        << "sample at " << c.sampleDepth << " m";
  }
}

TEST(DirtyDof, UnboundedFarLimitRunsForegroundAndBackgroundPasses) {
  // Focused at 100 m, beyond the hyperfocal distance: the far limit is 0
  // and a pixel at 1 m runs the any-depth pass, then the nearer-only one.
  ImagePtr src = CoordinateImage(40, 40);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("cSamples", 1).Set("PlaneOfFocus", 100).Connect("Image", src.get());
  ImagePtr level = DepthImage(40, 40, 1.0f);
  EXPECT_EQ(PixelAt(tool.Connect("Zdepth", level.get()).Render().get(), 20, 20),
            (RGBA{52.0f / 3, 15.0f, 0, 1}));  // the second sample lies no nearer
  ImagePtr nearer = DepthImage(40, 40, 1.0f, {{{28, 21}, 0.5f}});
  EXPECT_EQ(PixelAt(tool.Connect("Zdepth", nearer.get()).Render().get(), 20, 20),
            (RGBA{20.0f, 46.0f / 3, 0, 1}));
}

TEST(DirtyDof, ZSmallerThanTheSourceRepeatsItsEdge) {
  ImagePtr src = ConstantImage(4, 3, {1, 1, 1, 1});
  ImagePtr z = DepthImage(1, 1, 4.0f);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("DoBlur", 0).Set("PlaneOfFocus", 2).Set("Fstop", 2.5);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("Zdepth", z.get()).Render();
  const float at4 = float(2000.0 / 7800.0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(out.get(), x, y).r, at4) << x << "," << y;
  // An empty Z reads as depth 0 everywhere.
  ImagePtr empty(NewImage(0, 0));
  out = tool.Connect("Zdepth", empty.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 3, 2).g, Inf);
}

TEST(DirtyDof, BleedThresholdChangesNothing) {
  ImagePtr src = CoordinateImage(24, 16);
  ImagePtr z = MakeImage(24, 16, [](int x, int y) {
    const float d = 0.5f + x * 0.7f + y * 0.3f;
    return RGBA{d, d, d, 1};
  });
  ToolHarness tool(DirtyDofRecord);
  tool.Connect("Image", src.get()).Connect("Zdepth", z.get());
  ImagePtr first = tool.Set("BleedThreshold", 7).Render();
  EXPECT_TRUE(SameBytes(first.get(), tool.Set("BleedThreshold", 0.5).Render().get()));
  EXPECT_TRUE(SameBytes(first.get(), tool.Set("BleedThreshold", 100).Render().get()));
}

TEST(DirtyDof, CountsTooLongToHoldAreDrawnAtEveryPixel) {
  ImagePtr src = ConstantImage(1, 1, {0.25f, 0.5f, 0.75f, 0.5f});
  ImagePtr z = DepthImage(1, 1, 9.0f);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("cSamples", 600000).Connect("Image", src.get()).Connect("Zdepth", z.get());
  EXPECT_EQ(PixelAt(tool.Render().get(), 0, 0), (RGBA{0.5f, 1.0f, 1.5f, 1.0f}));
}

// ---------------------------------------------------------------------------
// Convolution.

// Pixel (x, y) of the source holds v = 1 + x + 3y: (v, 2v, 0, 1).
ImagePtr NumberedImage(int w, int h) {
  return MakeImage(w, h, [](int x, int y) {
    const float v = 1.0f + x + 3.0f * y;
    return RGBA{v, 2 * v, 0, 1};
  });
}

TEST(Convolution, UnitKernelInFullModeReadsTheRowBelow) {
  ImagePtr src = NumberedImage(3, 3);
  ImagePtr kernel = ConstantImage(1, 1, {1, 1, 1, 1});
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(PixelAt(out.get(), x, y), PixelAt(src.get(), x, std::min(y + 1, 2)))
          << x << "," << y;
}

TEST(Convolution, FullModeWeighsByKernelAndDividesByPositiveAlphas) {
  // Kernel (colour = weight on every channel but alpha):
  //   row 0: 1 (alpha 1), 2 (alpha 2)   falls on source row y + 2
  //   row 1: 1 (alpha -1), 0.5 (alpha 0)  falls on source row y + 1
  // Only alphas 1 and 2 weigh: w = 3.
  ImagePtr kernel = MakeImage(2, 2, [](int x, int y) {
    const RGBA px[2][2] = {{{1, 1, 1, 1}, {2, 2, 2, 2}}, {{1, 1, 1, -1}, {0.5f, 0.5f, 0.5f, 0}}};
    return px[y][x];
  });
  ImagePtr src = NumberedImage(3, 4);
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  // (0, 0): 7 + 2 x 8 + 4 + 0.5 x 5; alpha 1 + 2 - 1 + 0.
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{float(29.5 / 3), float(59.0 / 3), 0, float(2.0 / 3)}));
  // (2, 3): every tap repeats the corner pixel, v = 12.
  EXPECT_EQ(PixelAt(out.get(), 2, 3), (RGBA{18.0f, 36.0f, 0, float(2.0 / 3)}));
}

TEST(Convolution, FastModeDrawsTheSameTapsWithRepetition) {
  // Seeded with 50, six draws on a 2 x 2 kernel give (kx, ky) = (1, 1),
  // (0, 0), (1, 0), (0, 0), (1, 0), (1, 0): pixel (0, 1) is never used.
  ImagePtr kernel = MakeImage(2, 2, [](int x, int y) {
    const float k[2][2] = {{1, 2}, {100, 4}};
    return RGBA{k[y][x], k[y][x], k[y][x], k[y][x]};
  });
  ImagePtr src = NumberedImage(2, 3);
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Samples", 6).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  // Source pixels (1, 1), (0, 2), (1, 2), ... hold v = 5, 7, 8:
  // 4 x 5 + 1 x 7 + 2 x 8 + 1 x 7 + 2 x 8 + 2 x 8 over 4 + 1 + 2 + 1 + 2 + 2.
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{float(82.0 / 12), float(164.0 / 12), 0, 1}));
  // More taps than kernel pixels of one pixel: the mean of one source pixel.
  ImagePtr unit = ConstantImage(1, 1, {1, 1, 1, 1});
  out = tool.Set("Samples", 3).Connect("Kernel", unit.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 1, 0), PixelAt(src.get(), 1, 1));
}

TEST(Convolution, NoTapsDivideByZeroWeight) {
  ImagePtr src = NumberedImage(3, 2);
  ImagePtr empty(NewImage(0, 3));
  ImagePtr unit = ConstantImage(1, 1, {1, 1, 1, 1});
  struct Case {
    const char* what;
    double fast;
    double samples;
    Image* kernel;
  };
  for (Case c : {Case{"empty kernel, full", 0, 250, empty.get()},
                 Case{"empty kernel, fast", 1, 250, empty.get()},
                 Case{"no samples", 1, 0, unit.get()}, Case{"negative samples", 1, -9, unit.get()},
                 Case{"samples not a number", NaN, NaN, unit.get()}}) {
    ToolHarness tool(ConvolutionRecord);
    tool.Set("Sampling", c.fast).Set("Samples", c.samples);
    ImagePtr out = tool.Connect("Image", src.get()).Connect("Kernel", c.kernel).Render();
    ASSERT_TRUE(out) << c.what;
    const RGBA px = PixelAt(out.get(), 2, 1);
    EXPECT_TRUE(std::isnan(px.r) && std::isnan(px.g) && std::isnan(px.b) && std::isnan(px.a))
        << c.what << ": " << px;
  }
}

TEST(Convolution, FullModeMatchesTheTapByTapSumAcrossTheWholeImage) {
  // Wide enough for whole blocks of pixels and an edge remainder; the
  // source carries a further channel, which the result leaves at 0.
  const int w = 37, h = 5, kw = 5, kh = 3;
  ImagePtr src = MakeImage(
      w, h,
      [](int x, int y) {
        return RGBA{0.1f * x - y, std::sin(0.3f * x + y), 1.0f / (1 + x + y), 0.5f + 0.1f * y};
      },
      {"id"}, [](int x, int, int) { return float(x); });
  ImagePtr kernel = MakeImage(kw, kh, [](int x, int y) {
    return RGBA{0.3f * x, 0.2f * y + 0.1f, 1.0f / (1 + x), x == 2 ? -0.5f : 0.25f * (x + y)};
  });
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float sum[4] = {0, 0, 0, 0};
      double weight = 0;
      for (int ky = 0; ky < kh; ++ky)
        for (int kx = 0; kx < kw; ++kx) {
          const float* k = kernel->Group1(kx, ky);
          const float* s = src->Group1(std::min(x + kx, w - 1), std::min(y + kh - ky, h - 1));
          for (int c = 0; c < 4; ++c) sum[c] += k[c] * s[c];
          if (k[ChanA] > 0) weight += k[ChanA];
        }
      const float* got = out->Group1(x, y);
      for (int c = 0; c < 4; ++c)
        EXPECT_EQ(got[c], float(sum[c] / weight)) << x << "," << y << " channel " << c;
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), 0.0f);
    }
}

TEST(Convolution, CountsTooLongToHoldAreDrawnAtEveryPixel) {
  ImagePtr src = ConstantImage(2, 2, {0.5f, 0.25f, 2, 1});
  ImagePtr kernel = ConstantImage(3, 2, {2, 2, 2, 0.5f});
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Samples", (1 << 20) + 1).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  const RGBA px = PixelAt(tool.Render().get(), 1, 1);
  EXPECT_NEAR(px.r, 2.0, 1e-4);
  EXPECT_NEAR(px.g, 1.0, 1e-4);
  EXPECT_NEAR(px.b, 8.0, 1e-4);
  EXPECT_NEAR(px.a, 1.0, 1e-4);
}

// ---------------------------------------------------------------------------
// SSAO.

TEST(SSAOMath, NormalsDecodeFromZeroToOne) {
  const Vec3f n = DecodeNormal(1.0f, 0.5f, 0.5f);
  EXPECT_EQ(n.x, 1.0f);
  EXPECT_EQ(n.y, 0.0f);
  EXPECT_EQ(n.z, 0.0f);
  const Vec3f tilted = DecodeNormal(1.0f, 0.5f, 1.0f);  // (1, 0, 1) made unit length
  EXPECT_NEAR(tilted.x, std::sqrt(0.5), 1e-7);
  EXPECT_NEAR(tilted.z, std::sqrt(0.5), 1e-7);
  const Vec3f zero = DecodeNormal(0.5f, 0.5f, 0.5f);
  EXPECT_EQ(zero.x, 0.0f);
  EXPECT_EQ(zero.y, 0.0f);
  EXPECT_EQ(zero.z, 0.0f);
}

TEST(SSAOMath, RandomTurnTakesXFromTheSecondDraw) {
  const Vec2d r = RandomTurn(0, 32767);  // y from 0.45, x from almost 0.55
  EXPECT_NEAR(r.x, std::sqrt(0.5), 1e-4);
  EXPECT_NEAR(r.y, -std::sqrt(0.5), 1e-4);
  const Vec2d down = RandomTurn(0, 16384);  // x exactly 0
  EXPECT_EQ(down.x, 0.0);
  EXPECT_NEAR(down.y, -1.0, 1e-6);
}

TEST(SSAOMath, OcclusionFallsWithDistanceAndBias) {
  const Vec3f p{1, 2, 3}, n{0, 0, 1};
  // Straight along the normal at distance 3, scale 0.5: 1 / (1 + 1.5).
  EXPECT_DOUBLE_EQ(OcclusionOf(p, n, {1, 2, 6}, 0.5, 0, 2), 0.8);
  // Behind the surface: nothing; bias lowers what is in front.
  EXPECT_EQ(OcclusionOf(p, n, {1, 2, 0}, 1, 0, 1), 0.0);
  EXPECT_DOUBLE_EQ(OcclusionOf(p, n, {1, 2, 4}, 1, 0.25, 1), 0.75 / 2);
  EXPECT_EQ(OcclusionOf(p, n, {1, 2, 4}, 1, 2, 1), 0.0);
  // The point itself: the zero direction, so only a negative bias counts.
  EXPECT_DOUBLE_EQ(OcclusionOf(p, n, p, 1, -0.25, 4), 1.0);
  EXPECT_TRUE(std::isnan(OcclusionOf(p, n, {1, 2, 4}, 1, NaN, 1)));
}

// A bumpy surface: a position pass of depth 4 .. 6 and its normals.
struct Bumps {
  ImagePtr normals, position;
  Bumps(int w, int h, std::vector<std::string> further = {}) {
    auto height = [](float x, float y) { return 5 + std::sin(x * 0.4f) * std::cos(y * 0.3f); };
    position = MakeImage(w, h, [&](int x, int y) {
      return RGBA{float(x), float(y), height(x, y), 1};
    });
    normals = MakeImage(
        w, h,
        [&](int x, int y) {
          const float dx = height(x + 1, y) - height(x - 1, y);
          const float dy = height(x, y + 1) - height(x, y - 1);
          const float len = std::sqrt(dx * dx + dy * dy + 4);
          return RGBA{0.5f - dx / len / 2, 0.5f - dy / len / 2, 0.5f + 1 / len, 1};
        },
        further, [](int x, int y, int) { return float(100 * y + x); });
  }
};

TEST(SSAO, FlatSurfaceFacingTheCameraIsOpen) {
  ImagePtr normals = ConstantImage(9, 7, {0.5f, 0.5f, 1.0f, 1});
  ImagePtr position = MakeImage(9, 7, [](int x, int y) { return RGBA{x * 0.5f, -y * 2.0f, 3, 1}; });
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", 3).Connect("Normals", normals.get()).Connect("Position", position.get());
  ImagePtr out = tool.Render();
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(PixelAt(out.get(), x, y), (RGBA{0, 0, 0, 0}));
}

TEST(SSAO, GreyValueInEveryChannelAndFurtherChannelsPassThrough) {
  Bumps bumps(12, 10, {"id"});
  ToolHarness tool(SSAORecord);
  tool.Set("Intensity", 3).Set("SampleRad", 20);
  ImagePtr out = tool.Connect("Normals", bumps.normals.get())
                     .Connect("Position", bumps.position.get())
                     .Render();
  ASSERT_EQ(out->FurtherCount(), 1);
  bool someOcclusion = false;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      const RGBA px = PixelAt(out.get(), x, y);
      EXPECT_EQ(px.g, px.r);
      EXPECT_EQ(px.b, px.r);
      EXPECT_EQ(px.a, px.r);
      EXPECT_GE(px.r, 0.0f);
      someOcclusion |= px.r > 0;
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), float(100 * y + x));
    }
  EXPECT_TRUE(someOcclusion);
  // A bias of 2 or more leaves nothing in front of any normal.
  out = tool.Set("Bias", 2).Render();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(PixelAt(out.get(), x, y).r, 0.0f);
}

TEST(SSAO, SamplesOfOnePointAverageMinusBiasTimesIntensity) {
  // A 1 x 1 position pass: every sample hits the pixel's own point, each
  // adding 0.25 x 2, and the sum of 16 Q of them is divided by 16 Q.
  ImagePtr normals = ConstantImage(3, 2, {0.5f, 0.5f, 1.0f, 1});
  ImagePtr position = ConstantImage(1, 1, {0, 0, 2, 1});
  ToolHarness tool(SSAORecord);
  tool.Set("Bias", -0.25).Set("Intensity", 2);
  tool.Connect("Normals", normals.get()).Connect("Position", position.get());
  for (double quality : {1.0, 3.0, 16.0}) {
    ImagePtr out = tool.Set("Quality", quality).Render();
    EXPECT_EQ(PixelAt(out.get(), 2, 1), (RGBA{0.5f, 0.5f, 0.5f, 0.5f})) << quality;
  }
}

TEST(SSAO, QualityBelowOneRendersAsOne) {
  Bumps bumps(10, 8);
  ToolHarness tool(SSAORecord);
  tool.Set("SampleRad", 30);
  tool.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());
  ImagePtr one = tool.Set("Quality", 1).Render();
  for (double q : {1.9, 0.0, -4.0, NaN})
    EXPECT_TRUE(SameBytes(one.get(), tool.Set("Quality", q).Render().get())) << q;
  // More quality walks more directions.
  EXPECT_FALSE(SameBytes(one.get(), tool.Set("Quality", 2).Render().get()));
}

TEST(SSAO, DepthZeroAndHugeRadiiSampleEdgePixels) {
  ImagePtr normals = ConstantImage(6, 5, {0.5f, 0.7f, 0.9f, 1});
  ImagePtr position = MakeImage(6, 5, [](int x, int y) {
    return RGBA{float(x), float(y), (x + y) % 3 == 0 ? 0.0f : 1.0f + x, 1};
  });
  for (double radius : {100.0, 0.0, -1e300, 1e300}) {
    ToolHarness tool(SSAORecord);
    tool.Set("SampleRad", radius);
    ImagePtr out =
        tool.Connect("Normals", normals.get()).Connect("Position", position.get()).Render();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x)
        EXPECT_TRUE(std::isfinite(PixelAt(out.get(), x, y).r)) << radius << " " << x << "," << y;
  }
}

// ---------------------------------------------------------------------------
// One input, one output, whatever the number of threads.

TEST(Threads, EveryToolGivesTheSameBytesOnOneOrEightThreads) {
  const int w = 96, h = 64;
  ImagePtr src = MakeImage(w, h, [](int x, int y) {
    return RGBA{std::sin(x * 0.2f), float(y) / h, float((x * 7 + y * 3) % 11),
                0.25f + (x % 4) * 0.25f};
  });
  ImagePtr z = MakeImage(w, h, [](int x, int y) {
    const float d = 0.3f + 0.25f * x + 0.1f * y;  // every zone
    return RGBA{d, d, d, 1};
  });
  ImagePtr kernel = MakeImage(7, 5, [](int x, int y) {
    const float k = 1.0f / (1 + (x - 3) * (x - 3) + (y - 2) * (y - 2));
    return RGBA{k, k, k, k};
  });
  Bumps bumps(w, h, {"id"});

  ToolHarness dof(DirtyDofRecord);
  dof.Connect("Image", src.get()).Connect("Zdepth", z.get());
  ToolHarness fast(ConvolutionRecord);
  fast.Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ToolHarness full(ConvolutionRecord);
  full.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ToolHarness ssao(SSAORecord);
  ssao.Set("Quality", 2).Set("SampleRad", 25);
  ssao.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());

  for (auto [name, tool] : {std::pair{"DirtyDof", &dof}, std::pair{"Convolution fast", &fast},
                            std::pair{"Convolution full", &full}, std::pair{"SSAO", &ssao}}) {
    ImagePtr one = RenderWithThreads(*tool, 1);
    ImagePtr eight = RenderWithThreads(*tool, 8);
    ASSERT_TRUE(one && eight) << name;
    EXPECT_TRUE(SameBytes(one.get(), eight.get())) << name;
  }
}

}  // namespace
