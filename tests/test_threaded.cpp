// The tools that render their rows on worker threads: the dirty depth of
// field, the convolution filter and the screen-space ambient occlusion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "tests/harness.h"
#include "tests/program.h"
#include "tools/dof/blur_support.h"
#include "tools/dof/camera.h"
#include "tools/relight/occlusion.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Every channel of every pixel, bit for bit.
bool SameBytes(const Image* a, const Image* b) {
  if (a->Width() != b->Width() || a->Height() != b->Height() ||
      a->ChannelCount() != b->ChannelCount())
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
  const int before = WorkerThreadLimit();
  SetWorkerThreadLimit(threads);
  ImagePtr out = tool.Render();
  SetWorkerThreadLimit(before);
  return out;
}

// A Z pass of one depth, but for one pixel.
ImagePtr DepthImage(int w, int h, float depth, int atX = -1, int atY = -1, float there = 0) {
  return MakeImage(w, h, [=](int x, int y) {
    const float z = x == atX && y == atY ? there : depth;
    return RGBA{z, z, z, 1};
  });
}

// (x, y, 0, 1) at pixel (x, y): a blended pixel shows which pixels went in.
ImagePtr CoordinateImage(int w, int h) {
  return MakeImage(w, h, [](int x, int y) { return RGBA{float(x), float(y), 0, 1}; });
}

// v = 1 + x + 3y as (v, 2v, 0, 1).
ImagePtr NumberedImage(int w, int h) {
  return MakeImage(w, h, [](int x, int y) {
    const float v = 1.0f + x + 3.0f * y;
    return RGBA{v, 2 * v, 0, 1};
  });
}

// A bumpy surface: a position pass of depth 4 .. 6 and its normals, 0 .. 1.
struct Bumps {
  ImagePtr normals, position;
  explicit Bumps(int w, int h, std::vector<std::string> further = {}) {
    auto z = [](float x, float y) { return 5 + std::sin(x * 0.4f) * std::cos(y * 0.3f); };
    position = MakeImage(w, h, [&](int x, int y) { return RGBA{float(x), float(y), z(x, y), 1}; });
    normals = MakeImage(
        w, h,
        [&](int x, int y) {
          const float dx = z(x + 1, y) - z(x - 1, y), dy = z(x, y + 1) - z(x, y - 1);
          const float len = std::sqrt(dx * dx + dy * dy + 4);
          return RGBA{0.5f - dx / len / 2, 0.5f - dy / len / 2, 0.5f + 1 / len, 1};
        },
        further, [](int x, int y, int) { return float(100 * y + x); });
  }
};

// ---------------------------------------------------------------------------
// What the blurs share.

TEST(BlurSupport, EdgeReaderPicksThePixelOfNearestEdgeSampling) {
  ImagePtr img = CoordinateImage(5, 3);
  EdgeReader reader(img.get());
  for (double pos :
       {-40.0, -1.5, -0.99, 0.0, 0.7, 2.2, 4.99, 7.0, 1e300, -1e300, double(Inf), NaN}) {
    FltPixel px;
    img->SamplePixelD(ToFixed(std::trunc(pos)), ToFixed(std::trunc(pos / 2)), px);
    const float* read = reader.At(pos, pos / 2);
    EXPECT_EQ(read[ChanR], px.R()) << pos;
    EXPECT_EQ(read[ChanG], px.G()) << pos;
  }
  EXPECT_EQ(reader.At<int64_t>(int64_t(1) << 40, -(int64_t(1) << 40))[ChanR], 4.0f);
}

// ---------------------------------------------------------------------------
// DirtyDof. With the default camera the zone of sharpness runs from about
// 7.524 m to 11.535 m. Seeded with 50, the first offsets (dy, dx) are
// (-14.85, -7.35) and (1.5, 8.1): from pixel (20, 20) they fall on (12, 5)
// and (28, 21), 16.6 and 8.2 pixels away.

TEST(DirtyDof, BlurMapHoldsTheDiameterInEveryChannel) {
  // f / N x f = 1000 and s - f = 1950 make b(z) = 1000 |d - 2000| / (1950 d).
  ImagePtr src = ConstantImage(3, 1, {0.5f, 0.5f, 0.5f, 0.5f});
  ImagePtr z = MakeImage(3, 1, [](int x, int) {
    return x == 0 ? RGBA{3, 4, 5, 9} : x == 1 ? RGBA{1, 1, 1, 1} : RGBA{0, 0, 0, 1};
  });
  ToolHarness tool(DirtyDofRecord);
  tool.Set("DoBlur", 0).Set("PlaneOfFocus", -2).Set("FocalLength", 50.9).Set("Fstop", 2.5);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("Zdepth", z.get()).Render();
  const float at4 = float(2000.0 / 7800.0), at1 = float(1000.0 / 1950.0);
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{at4, at4, at4, at4}));  // mean of r, g, b: 4 m
  EXPECT_EQ(PixelAt(out.get(), 1, 0), (RGBA{at1, at1, at1, at1}));
  EXPECT_EQ(PixelAt(out.get(), 2, 0), (RGBA{Inf, Inf, Inf, Inf}));
  // A Z smaller than the source repeats its edge; an empty one reads as 0.
  ImagePtr wide = ConstantImage(4, 2, {1, 1, 1, 1}), small = DepthImage(1, 1, 4),
           empty(NewImage(0, 0));
  out = tool.Connect("Image", wide.get()).Connect("Zdepth", small.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 3, 1).r, at4);
  out = tool.Connect("Zdepth", empty.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 3, 1).r, Inf);
}

TEST(DirtyDof, OnlyTheCentreCountsWhenNothingNearerReachesIt) {
  // Alphas 0.5, 0 and -0.5; only a positive one divides.
  ImagePtr src = MakeImage(3, 1, [](int x, int) {
    return RGBA{0.25f, 0.5f, 0.75f, 0.5f - 0.5f * x};
  });
  ToolHarness tool(DirtyDofRecord);
  tool.Connect("Image", src.get());
  const RGBA overAlpha{0.5f, 1.0f, 1.5f, 1.0f};
  // In the zone of sharpness with everything at one depth: 1 + 20 centre terms.
  ImagePtr sharp = DepthImage(3, 1, 9.0f);
  ImagePtr out = tool.Connect("Zdepth", sharp.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 0, 0), overAlpha);
  EXPECT_EQ(PixelAt(out.get(), 1, 0), (RGBA{5.25f, 10.5f, 15.75f, 0.0f}));
  // In the foreground with no samples, or limits that are not numbers.
  ImagePtr near = DepthImage(3, 1, 1.0f);
  tool.Connect("Zdepth", near.get());
  const double cases[][2] = {{0, 0.98}, {-5, 0.98}, {20, 0}};  // samples, film gate scale
  for (auto [samples, gate] : cases) {
    tool.Set("cSamples", samples).Set("ApertureWidth", gate).Set("ApertureHeight", gate);
    out = tool.Render();
    EXPECT_EQ(PixelAt(out.get(), 0, 0), overAlpha) << samples << " " << gate;
    EXPECT_EQ(PixelAt(out.get(), 2, 0), PixelAt(src.get(), 2, 0)) << samples << " " << gate;
  }
}

TEST(DirtyDof, SamplesCountWhenTheirDiscReachesThePixel) {
  // Pixel (20, 20) of a coordinate image; the depth is the same everywhere
  // but at one pixel. Blended takes (12, 5); the centre alone is (20, 20).
  const RGBA blended{16, 12.5f, 0, 1}, centre{20, 20, 0, 1};
  const struct {
    const char* what;
    double planeOfFocus, doBlur;
    float depth;
    int atX, atY;
    float there;
    RGBA want;
  } cases[] = {
      {"foreground: a 19-pixel disc at 1 m reaches", 9.107735, 1, 1, -1, -1, 0, blended},
      {"a sample in focus has almost no disc", 9.107735, 1, 1, 12, 5, 9.107735f, centre},
      {"Do Blur that is not a number counts as on", 9.107735, NaN, 1, -1, -1, 0, blended},
      {"background: nearer with a 41-pixel disc", 9.107735, 1, 50, 12, 5, 0.5f, blended},
      {"background: depth 0, an infinite disc", 9.107735, 1, 50, 12, 5, 0, blended},
      {"background: nearer but falling short", 9.107735, 1, 50, 12, 5, 2, centre},
      {"background: as far as the pixel", 9.107735, 1, 50, -1, -1, 0, centre},
      // Beyond the hyperfocal distance the far limit is 0: a pixel at 1 m
      // runs the any-depth pass, then the nearer-only one.
      {"unbounded far limit, level", 100, 1, 1, -1, -1, 0, {52.0f / 3, 15.0f, 0, 1}},
      {"unbounded far limit, (28, 21) nearer", 100, 1, 1, 28, 21, 0.5f, {20.0f, 46.0f / 3, 0, 1}},
  };
  ImagePtr src = CoordinateImage(40, 40);
  for (const auto& c : cases) {
    ImagePtr z = DepthImage(40, 40, c.depth, c.atX, c.atY, c.there);
    ToolHarness tool(DirtyDofRecord);
    tool.Set("cSamples", 1).Set("PlaneOfFocus", c.planeOfFocus).Set("DoBlur", c.doBlur);
    tool.Connect("Image", src.get()).Connect("Zdepth", z.get());
    EXPECT_EQ(PixelAt(tool.Render().get(), 20, 20), c.want) << c.what;
  }
}

TEST(DirtyDof, BleedThresholdChangesNothing) {
  ImagePtr src = CoordinateImage(24, 16);
  ImagePtr z = MakeImage(24, 16, [](int x, int y) {
    const float d = 0.5f + x * 0.7f + y * 0.3f;
    return RGBA{d, d, d, 1};
  });
  ToolHarness tool(DirtyDofRecord);
  tool.Connect("Image", src.get()).Connect("Zdepth", z.get());
  ImagePtr first = tool.Render();
  EXPECT_TRUE(SameBytes(first.get(), tool.Set("BleedThreshold", 0.5).Render().get()));
  EXPECT_TRUE(SameBytes(first.get(), tool.Set("BleedThreshold", 100).Render().get()));
}

// ---------------------------------------------------------------------------
// Convolution.

TEST(Convolution, UnitKernelInFullModeReadsTheRowBelow) {
  ImagePtr src = NumberedImage(3, 3), kernel = ConstantImage(1, 1, {1, 1, 1, 1});
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(PixelAt(out.get(), x, y), PixelAt(src.get(), x, std::min(y + 1, 2)))
          << x << "," << y;
}

TEST(Convolution, FullModeWeighsByKernelAndDividesByPositiveAlphas) {
  // Kernel row 0 (on source row y + 2): 1 (alpha 1), 2 (alpha 2); row 1 (on
  // row y + 1): 1 (alpha -1), 0.5 (alpha 0). Only alphas 1 and 2 weigh.
  ImagePtr kernel = MakeImage(2, 2, [](int x, int y) {
    const RGBA px[2][2] = {{{1, 1, 1, 1}, {2, 2, 2, 2}}, {{1, 1, 1, -1}, {0.5f, 0.5f, 0.5f, 0}}};
    return px[y][x];
  });
  ImagePtr src = NumberedImage(3, 4);
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  // (0, 0): 7 + 2 x 8 + 4 + 0.5 x 5 over 3; alpha 1 + 2 - 1 + 0.
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{float(29.5 / 3), float(59.0 / 3), 0, float(2.0 / 3)}));
  // (2, 3): every tap repeats the corner pixel, v = 12.
  EXPECT_EQ(PixelAt(out.get(), 2, 3), (RGBA{18, 36, 0, float(2.0 / 3)}));
}

TEST(Convolution, FullModeMatchesTheTapByTapSumAcrossTheWholeImage) {
  // Wide enough for whole blocks of pixels and an edge remainder; the
  // source's further channel is left at 0.
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
      for (int c = 0; c < 4; ++c)
        EXPECT_EQ(out->Group1(x, y)[c], float(sum[c] / weight)) << x << "," << y;
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), 0.0f);
    }
}

TEST(Convolution, FastModeDrawsTheSameTapsWithRepetition) {
  // Seeded with 50, six draws on a 2 x 2 kernel give (kx, ky) = (1, 1),
  // (0, 0), (1, 0), (0, 0), (1, 0), (1, 0); pixel (0, 1) is never used.
  ImagePtr kernel = MakeImage(2, 2, [](int x, int y) {
    const float k[2][2] = {{1, 2}, {100, 4}};
    return RGBA{k[y][x], k[y][x], k[y][x], k[y][x]};
  });
  ImagePtr src = NumberedImage(2, 3);
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Samples", 6).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  // Source pixels (1, 1), (0, 2), (1, 2) hold v = 5, 7, 8:
  // 4 x 5 + 1 x 7 + 2 x 8 + 1 x 7 + 2 x 8 + 2 x 8 over 4 + 1 + 2 + 1 + 2 + 2.
  EXPECT_EQ(PixelAt(tool.Render().get(), 0, 0), (RGBA{float(82.0 / 12), float(164.0 / 12), 0, 1}));
  // Three taps of a one-pixel kernel: the mean of one source pixel.
  ImagePtr unit = ConstantImage(1, 1, {1, 1, 1, 1});
  tool.Set("Samples", 3).Connect("Kernel", unit.get());
  EXPECT_EQ(PixelAt(tool.Render().get(), 1, 0), PixelAt(src.get(), 1, 1));
  // A count typed far past the slider is held at the largest count a
  // render takes. Every tap reads (1, 2), v = 8.
  ImagePtr even = ConstantImage(3, 2, {0.25f, 0.25f, 0.25f, 0.5f});
  tool.Set("Samples", (1 << 20) + 1).Connect("Kernel", even.get());
  EXPECT_EQ(PixelAt(tool.Render().get(), 1, 1), (RGBA{4, 8, 0, 1}));
}

TEST(Convolution, NoTapsDivideByZeroWeight) {
  ImagePtr src = NumberedImage(3, 2), empty(NewImage(0, 3)),
           unit = ConstantImage(1, 1, {1, 1, 1, 1});
  const std::tuple<double, double, Image*> cases[] = {{0.0, 250.0, empty.get()},
                                                      {1.0, 250.0, empty.get()},
                                                      {1.0, 0.0, unit.get()},
                                                      {1.0, -9.0, unit.get()},
                                                      {NaN, NaN, unit.get()}};
  for (auto [fast, samples, kernel] : cases) {
    ToolHarness tool(ConvolutionRecord);
    tool.Set("Sampling", fast).Set("Samples", samples);
    ImagePtr out = tool.Connect("Image", src.get()).Connect("Kernel", kernel).Render();
    const RGBA px = PixelAt(out.get(), 2, 1);
    EXPECT_TRUE(std::isnan(px.r) && std::isnan(px.g) && std::isnan(px.b) && std::isnan(px.a))
        << fast << " " << samples << ": " << px;
  }
}

// ---------------------------------------------------------------------------
// SSAO.

TEST(SSAOMath, NormalsTurnsAndOcclusionOfOneSample) {
  const Vec3f zero = DecodeNormal(0.5f, 0.5f, 0.5f);  // stays zero, no division
  EXPECT_TRUE(zero.x == 0 && zero.y == 0 && zero.z == 0);
  const Vec2d r = RandomTurn(0, 32767);  // y from 0.45, x from almost 0.55
  EXPECT_NEAR(r.x, std::sqrt(0.5), 1e-4);
  EXPECT_NEAR(r.y, -std::sqrt(0.5), 1e-4);
  const Vec3f p{1, 2, 3}, n{0, 0, 1};
  // Along the normal at distance 3, scale 0.5, intensity 2: 2 / (1 + 1.5).
  EXPECT_DOUBLE_EQ(OcclusionOf(p, n, {1, 2, 6}, 0.5, 0, 2), 0.8);
  EXPECT_EQ(OcclusionOf(p, n, {1, 2, 0}, 1, 0, 1), 0.0);  // behind the surface
  EXPECT_DOUBLE_EQ(OcclusionOf(p, n, {1, 2, 4}, 1, 0.25, 1), 0.75 / 2);
  EXPECT_DOUBLE_EQ(OcclusionOf(p, n, p, 1, -0.25, 4), 1.0);  // the point itself
  EXPECT_TRUE(std::isnan(OcclusionOf(p, n, {1, 2, 4}, 1, NaN, 1)));
}

TEST(SSAO, FlatSurfaceFacingTheCameraIsOpen) {
  ImagePtr normals = ConstantImage(9, 7, {0.5f, 0.5f, 1.0f, 1});
  ImagePtr position = MakeImage(9, 7, [](int x, int y) { return RGBA{x * 0.5f, -y * 2.0f, 3, 1}; });
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", 3).Connect("Normals", normals.get()).Connect("Position", position.get());
  ImagePtr out = tool.Render();
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(PixelAt(out.get(), x, y), (RGBA{0, 0, 0, 0}));
}

TEST(SSAO, GreyInEveryChannelFurtherChannelsPassAndBiasTwoClears) {
  Bumps bumps(12, 10, {"id"});
  ToolHarness tool(SSAORecord);
  tool.Set("Intensity", 3).Set("SampleRad", 20);
  tool.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());
  ImagePtr out = tool.Render();
  ImagePtr biased = tool.Set("Bias", 2).Render();
  float most = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      const RGBA px = PixelAt(out.get(), x, y);
      EXPECT_EQ(px, (RGBA{px.r, px.r, px.r, px.r}));
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), float(100 * y + x));
      EXPECT_EQ(PixelAt(biased.get(), x, y).r, 0.0f);
      most = std::max(most, px.r);
    }
  EXPECT_GT(most, 0.0f);
}

TEST(SSAO, SamplesOfOnePointAverageMinusBiasTimesIntensity) {
  // A 1 x 1 position pass: every sample hits the pixel's own point, adding
  // 0.25 x 2 each, and the 16 Q of them are divided by 16 Q.
  ImagePtr normals = ConstantImage(3, 2, {0.5f, 0.5f, 1.0f, 1}),
           position = ConstantImage(1, 1, {0, 0, 2, 1});
  ToolHarness tool(SSAORecord);
  tool.Set("Bias", -0.25).Set("Intensity", 2);
  tool.Connect("Normals", normals.get()).Connect("Position", position.get());
  for (double quality : {1.0, 3.0, 16.0})
    EXPECT_EQ(PixelAt(tool.Set("Quality", quality).Render().get(), 2, 1),
              (RGBA{0.5f, 0.5f, 0.5f, 0.5f}));
}

TEST(SSAO, QualityBelowOneRendersAsOneAndMoreWalksMoreDirections) {
  Bumps bumps(10, 8);
  ToolHarness tool(SSAORecord);
  tool.Set("SampleRad", 30)
      .Connect("Normals", bumps.normals.get())
      .Connect("Position", bumps.position.get());
  ImagePtr one = tool.Render();
  for (double q : {1.9, 0.0, -4.0, NaN})
    EXPECT_TRUE(SameBytes(one.get(), tool.Set("Quality", q).Render().get())) << q;
  EXPECT_FALSE(SameBytes(one.get(), tool.Set("Quality", 2).Render().get()));
}

TEST(SSAO, DepthZeroAndHugeRadiiSampleEdgePixels) {
  ImagePtr normals = ConstantImage(6, 5, {0.5f, 0.7f, 0.9f, 1});
  ImagePtr position = MakeImage(6, 5, [](int x, int y) {
    return RGBA{float(x), float(y), (x + y) % 3 == 0 ? 0.0f : 1.0f + x, 1};
  });
  ToolHarness tool(SSAORecord);
  tool.Connect("Normals", normals.get()).Connect("Position", position.get());
  for (double radius : {100.0, 0.0, -1e300, 1e300}) {
    ImagePtr out = tool.Set("SampleRad", radius).Render();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_TRUE(std::isfinite(PixelAt(out.get(), x, y).r)) << radius;
  }
}

// ---------------------------------------------------------------------------
// One input gives one output, whatever the number of threads.

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
  ToolHarness dof(DirtyDofRecord), fast(ConvolutionRecord), full(ConvolutionRecord),
      ssao(SSAORecord);
  dof.Connect("Image", src.get()).Connect("Zdepth", z.get());
  fast.Connect("Image", src.get()).Connect("Kernel", kernel.get());
  full.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ssao.Set("Quality", 2).Set("SampleRad", 25);
  ssao.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());
  for (ToolHarness* tool : {&dof, &fast, &full, &ssao})
    EXPECT_TRUE(SameBytes(RenderWithThreads(*tool, 1).get(), RenderWithThreads(*tool, 8).get()))
        << tool->Tool().GetRegistry()->ID().Text();
}

namespace fs = std::filesystem;

// A three-channel float image file (alpha reads as 1), rows bottom up.
void WritePfm(const fs::path& path, const Image* img) {
  std::ofstream out(path, std::ios::binary);
  out << "PF\n" << img->Width() << " " << img->Height() << "\n-1.0\n";
  for (int y = img->Height() - 1; y >= 0; --y)
    for (int x = 0; x < img->Width(); ++x) {
      const RGBA c = PixelAt(img, x, y);
      const float rgb[3] = {c.r, c.g, c.b};
      out.write(reinterpret_cast<const char*>(rgb), sizeof rgb);
    }
}

TEST(Threads, VexlanWritesTheSameFileOnOneOrEightThreads) {
  ScratchFolder scratch("vexlan-threads");
  const fs::path dir = scratch.Path();
  const int w = 48, h = 32;
  WritePfm(dir / "image.pfm", NumberedImage(w, h).get());
  WritePfm(dir / "depth.pfm", MakeImage(w, h, [](int x, int y) {
                                const float d = 0.3f + 0.4f * x + 0.1f * y;
                                return RGBA{d, d, d, 1};
                              }).get());
  WritePfm(dir / "kernel.pfm", MakeImage(5, 5, [](int x, int y) {
                                 const float k = (x - 2) * (x - 2) + (y - 2) * (y - 2) <= 4;
                                 return RGBA{k, k, k, 1};
                               }).get());
  Bumps bumps(w, h);
  WritePfm(dir / "normal01.pfm", bumps.normals.get());
  WritePfm(dir / "position.pfm", bumps.position.get());
  const std::vector<std::vector<std::string>> renders = {
      {"DirtyDof", "Image", "image.pfm", "Zdepth", "depth.pfm"},
      {"Convolution", "Image", "image.pfm", "Kernel", "kernel.pfm"},
      {"SSAO", "Normals", "normal01.pfm", "Position", "position.pfm"}};
  for (const auto& render : renders) {
    std::string files[2];
    for (int run : {0, 1}) {
      const fs::path out = dir / ("out" + std::to_string(run) + ".exr");
      std::vector<std::string> args = {VEXLAN_BIN, "--plugin", VEXLAN_PLUGIN_PATH, "render",
                                       render[0]};
      for (int i : {1, 3})
        args.insert(args.end(), {"--input", render[i] + "=" + (dir / render[i + 1]).string()});
      args.insert(args.end(), {"--output", out.string(), "--threads", run == 0 ? "1" : "8"});
      const ProgramRun ran = RunProgram(args, dir);
      ASSERT_EQ(ran.status, 0) << ran.err;
      files[run] = FileText(out);  // every byte: outputs carry no time stamp
    }
    EXPECT_FALSE(files[0].empty()) << render[0];
    EXPECT_TRUE(files[0] == files[1]) << render[0];
  }
}

}  // namespace
