// The tools that render their rows on worker threads (the dirty depth of
// field, the convolution filter and the screen-space ambient occlusion), and
// vexlan rendering several frames of a sequence at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cli/frames.h"
#include "tests/harness.h"
#include "tests/program.h"
#include "tools/dof/blur_support.h"
#include "tools/dof/camera.h"
#include "tools/relight/occlusion.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

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

// v = 1 + x + 3ky as (v, 2v, 0, 1); further channels hold x.
ImagePtr NumberedImage(int w, int h, int k = 1, const std::vector<std::string>& further = {}) {
  return MakeImage(
      w, h,
      [=](int x, int y) {
        const float v = 1.0f + x + 3.0f * y * k;
        return RGBA{v, 2 * v, 0, 1};
      },
      further, [](int x, int, int) { return float(x); });
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

// ---------------------------------------------------------------------------
// Convolution.

TEST(Convolution, FullModeWeighsByKernelAndDividesByPositiveAlphas) {
  // Kernel row 0 (on source row y + 2): 1 (alpha 1), 2 (alpha 2); row 1 (on
  // row y + 1): 1 (alpha -1), 0.5 (alpha 0). Only alphas 1 and 2 weigh.
  ImagePtr kernel = MakeImage(2, 2, [](int x, int y) {
    const RGBA px[2][2] = {{{1, 1, 1, 1}, {2, 2, 2, 2}}, {{1, 1, 1, -1}, {0.5f, 0.5f, 0.5f, 0}}};
    return px[y][x];
  });
  // Wide enough for whole blocks of pixels and an edge remainder; the
  // further channel is not convolved.
  ImagePtr src = NumberedImage(37, 4, 1, {"id"});
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  ImagePtr out = tool.Render();
  // Inside: v(x, y + 2) + 2 v(x + 1, y + 2) + v(x, y + 1) + 0.5 v(x + 1, y + 1)
  // = 29.5 + 4.5 (x + 3y), over 3; alpha 1 + 2 - 1 + 0 over 3.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 36; ++x) {
      const double sum = 29.5 + 4.5 * (x + 3 * y);
      EXPECT_EQ(PixelAt(out.get(), x, y),
                (RGBA{float(sum / 3), float(2 * sum / 3), 0, float(2.0 / 3)}))
          << x << "," << y;
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), 0.0f);
    }
  // (36, 3): every tap repeats the corner pixel, v = 46.
  EXPECT_EQ(PixelAt(out.get(), 36, 3), (RGBA{69, 138, 0, float(2.0 / 3)}));
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

TEST(SSAO, GreyInEveryChannelFurtherChannelsPassQualityBelowOneIsOneAndBiasTwoClears) {
  Bumps bumps(12, 10, {"id"});
  ToolHarness tool(SSAORecord);
  tool.Set("Intensity", 3).Set("SampleRad", 20);
  tool.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());
  ImagePtr out = tool.Render();
  for (double q : {1.9, 0.0, -4.0, NaN})
    EXPECT_TRUE(SameBytes(out.get(), tool.Set("Quality", q).Render().get())) << q;
  EXPECT_FALSE(SameBytes(out.get(), tool.Set("Quality", 2).Render().get()));
  ImagePtr biased = tool.Set("Quality", 1).Set("Bias", 2).Render();
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

TEST(SSAO, AFlatSurfaceFacingTheCameraIsOpenAndSamplesOfOnePointAverageMinusBiasTimesIntensity) {
  ImagePtr normals = ConstantImage(9, 7, {0.5f, 0.5f, 1.0f, 1});
  ImagePtr flat = MakeImage(9, 7, [](int x, int y) { return RGBA{x * 0.5f, -y * 2.0f, 3, 1}; });
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", 3).Connect("Normals", normals.get()).Connect("Position", flat.get());
  EXPECT_TRUE(SameBytes(tool.Render().get(), ConstantImage(9, 7, {0, 0, 0, 0}).get()));
  // A 1 x 1 position pass: every sample hits the pixel's own point, adding
  // 0.25 x 2 each, and the 16 Q of them are divided by 16 Q.
  ImagePtr point = ConstantImage(1, 1, {0, 0, 2, 1});
  tool.Set("Bias", -0.25).Set("Intensity", 2).Connect("Position", point.get());
  for (double quality : {1.0, 3.0, 16.0})
    EXPECT_EQ(PixelAt(tool.Set("Quality", quality).Render().get(), 8, 6),
              (RGBA{0.5f, 0.5f, 0.5f, 0.5f}));
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

TEST(Threads, EveryThreadedToolGivesTheSameBytesOnOneOrEightThreads) {
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
  for (ToolHarness* tool : {&dof, &fast, &full, &ssao}) {
    SetWorkerThreadLimit(1);
    ImagePtr one = tool->Render();
    SetWorkerThreadLimit(8);
    EXPECT_TRUE(SameBytes(one.get(), tool->Render().get()))
        << tool->Tool().GetRegistry()->ID().Text();
  }
  SetWorkerThreadLimit(0);
  // The dirty depth of field's bleed threshold changes nothing.
  ImagePtr first = dof.Render();
  for (double bleed : {0.5, 100.0})
    EXPECT_TRUE(SameBytes(first.get(), dof.Set("BleedThreshold", bleed).Render().get())) << bleed;
}

// Frames of different lengths: frame f takes (f * 7 % 5) ms.
void RenderFor(int frame) { std::this_thread::sleep_for(std::chrono::milliseconds(frame * 7 % 5)); }

TEST(FramesInFlight, HandOnEveryFrameInOrderWithAtMostTheLimitAtOnceUpToTheFirstFailure) {
  for (int inFlight : {1, 2, 3, 8})
    for (bool failing : {false, true}) {
      SCOPED_TRACE(std::to_string(inFlight) + " in flight" + (failing ? ", failing" : ""));
      std::atomic<int> active{0}, most{0}, started{0};
      std::vector<int> delivered;
      int announced = -1;
      std::string error;
      try {
        RenderFramesInOrder(
            3, 62, inFlight,
            [&](int worker, int frame) {
              ++started;
              const int now = ++active;
              for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
              }
              RenderFor(frame);
              --active;
              if (failing && (frame == 8 || frame == 10))
                throw std::runtime_error("frame " + std::to_string(frame));
              return std::make_pair(worker, frame * 10);
            },
            [&](int frame) { announced = frame; },
            [&](int frame, std::pair<int, int> result) {
              EXPECT_EQ(announced, frame);
              EXPECT_EQ(result.second, frame * 10);
              EXPECT_GE(result.first, 0);
              EXPECT_LT(result.first, inFlight);
              delivered.push_back(frame);
            });
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      std::vector<int> expected(failing ? 5 : 60);
      std::iota(expected.begin(), expected.end(), 3);
      EXPECT_EQ(delivered, expected);
      EXPECT_EQ(error, failing ? "frame 8" : "");  // the first failed frame, not a later one
      EXPECT_EQ(announced, failing ? 8 : 62);
      EXPECT_LE(most, inFlight);
      EXPECT_EQ(active, 0);  // every frame in flight ended before the error came out
      // No frame was started after the failure was seen.
      EXPECT_LE(started, failing ? 6 + 4 * inFlight : 60);
    }
  // Up to the largest frame number.
  const int last = std::numeric_limits<int>::max();
  for (int inFlight : {1, 2}) {
    std::vector<int> delivered;
    RenderFramesInOrder(
        last - 2, last, inFlight, [](int, int frame) { return frame; }, [](int) {},
        [&](int frame, int) { delivered.push_back(frame); });
    EXPECT_EQ(delivered, (std::vector<int>{last - 2, last - 1, last}));
  }
}

TEST(FramesInFlight, RenderTogetherUpToTheLimit) {
  // Frame 0 finishes only once frame 1 has started: it cannot with one
  // frame at a time, and must with two.
  std::atomic<bool> secondStarted{false};
  bool overlapped = false;
  RenderFramesInOrder(
      0, 1, 2,
      [&](int, int frame) {
        if (frame == 1) secondStarted = true;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (frame == 0 && !secondStarted && std::chrono::steady_clock::now() < giveUp)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (frame == 0) overlapped = secondStarted;
        return frame;
      },
      [](int) {}, [](int, int) {});
  EXPECT_TRUE(overlapped);
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

TEST(Threads, VexlanWritesTheSameFilesAndFieldsOnOneOrSeveralThreads) {
  // Images and depths that differ from frame to frame, so that a frame
  // written under another's number would show.
  ScratchFolder scratch("vexlan-threads");
  const fs::path dir = scratch.Path();
  constexpr int w = 48, h = 32;
  auto depth = [](int frame) {
    return MakeImage(w, h, [=](int x, int y) {
      const float d = 0.3f * frame + 0.4f * x + 0.1f * y;
      return RGBA{d, d, d, 1};
    });
  };
  for (int frame = 1; frame <= 3; ++frame) {
    WritePfm(dir / ("image." + std::to_string(frame) + ".pfm"), NumberedImage(w, h, frame).get());
    WritePfm(dir / ("depth." + std::to_string(frame) + ".pfm"), depth(frame).get());
  }
  WritePfm(dir / "kernel.pfm", MakeImage(5, 5, [](int x, int y) {
                                 const float k = (x - 2) * (x - 2) + (y - 2) * (y - 2) <= 4;
                                 return RGBA{k, k, k, 1};
                               }).get());
  Bumps bumps(w, h);
  WritePfm(dir / "normal01.pfm", bumps.normals.get());
  WritePfm(dir / "position.pfm", bumps.position.get());
  const std::vector<std::vector<std::string>> renders = {
      {"DirtyDof", "Image", "image.#.pfm", "Zdepth", "depth.#.pfm"},
      {"Convolution", "Image", "image.#.pfm", "Kernel", "kernel.pfm"},
      {"SSAO", "Normals", "normal01.pfm", "Position", "position.pfm"},
      {"ZRemapper", "Input", "depth.#.pfm"}};
  const char* threads[] = {"1", "3", "0"};
  std::vector<Args> commands;
  for (const auto& render : renders)
    for (const char* n : threads) {
      Args args = {
          "render",    render[0], "--frames", "1-3",
          "--threads", n,         "--output", (dir / (render[0] + "-" + n + ".#.exr")).string()};
      for (size_t i = 1; i < render.size(); i += 2)
        args.insert(args.end(), {"--input", render[i] + "=" + (dir / render[i + 1]).string()});
      commands.push_back(Vexlan(args));
    }
  const std::vector<ProgramRun> runs = RunPrograms(commands, dir);
  for (size_t r = 0; r < renders.size(); ++r) {
    const std::string& tool = renders[r][0];
    for (size_t t = 0; t < 3; ++t) {
      ASSERT_EQ(runs[r * 3 + t].status, 0) << tool << ": " << runs[r * 3 + t].err;
      EXPECT_EQ(runs[r * 3 + t].out, runs[r * 3].out) << tool << " on " << threads[t];
    }
    for (int frame = 1; frame <= 3; ++frame) {
      const std::string file = std::string(".") + std::to_string(frame) + ".exr";
      const std::string one = FileText(dir / (tool + "-1" + file));  // outputs carry no time stamp
      EXPECT_FALSE(one.empty()) << tool;
      EXPECT_TRUE(one == FileText(dir / (tool + "-3" + file))) << tool << " frame " << frame;
      EXPECT_TRUE(one == FileText(dir / (tool + "-0" + file))) << tool << " frame " << frame;
    }
  }
  EXPECT_EQ(Lines(runs[9].out).size(), 3u * 6u);  // the remapper's fields after each frame
  EXPECT_NE(FileText(dir / "DirtyDof-1.1.exr"), FileText(dir / "DirtyDof-1.2.exr"));
}

}  // namespace
