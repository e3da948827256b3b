// The depth-of-field tools: those that map each pixel on its own, then the
// blurs, which render their rows on worker threads.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "testing/harness.h"
#include "tools/dof/blur_support.h"

namespace {

TEST(ZDevider, EmptyImagesStayEmpty) {
  ToolHarness tool(ZDeviderRecord);
  for (auto [w, h] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 5}}) {
    ImagePtr empty(NewImage(w, h));
    ImagePtr out = tool.Connect("Input", empty.get()).Render();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Width(), w);
    EXPECT_EQ(out->Height(), h);
  }
}

// Each case on five pixels (a block of four and one on its own), in the
// common layout and with further channels, which come through as they were.
TEST(ZDevider, DividesColourInDoublePrecisionAndKeepsAlphaAndFurtherChannels) {
  constexpr float Inf = std::numeric_limits<float>::infinity();
  const struct {
    std::optional<double> zmax;  // none: the default, 1
    RGBA in, want;
  } cases[] = {
      {std::nullopt, {0.5f, -1.5f, 7.25f, 0.3f}, {0.5f, -1.5f, 7.25f, 0.3f}},
      {2, {0.8f, 0.4f, 2.0f, 0.5f}, {0.4f, 0.2f, 1.0f, 0.5f}},
      // 1.3f / 0.1 is 12.9999995 in double, 13 as a float; a float division
      // by 0.1f would give 12.999999 (and 98.999992 for 9.9f).
      {0.1, {1.3f, 9.9f, 0.3f, 1}, {13, 99, 3, 1}},
      {0, {2, -2, 0, 1}, {Inf, -Inf, NAN, 1}},
      {-1, {2, -2, 0, 1}, {-2, 2, -0.0f, 1}},
  };
  for (const auto& c : cases)
    for (const std::vector<std::string>& further : {std::vector<std::string>{}, {"Z", "id"}}) {
      ImagePtr src = MakeImage(
          5, 1, [&](int, int) { return c.in; }, further,
          [](int x, int, int ch) { return float(x * 10 + ch * 100); });
      ToolHarness tool(ZDeviderRecord);
      if (c.zmax) tool.Set("Zmax", *c.zmax);
      ImagePtr out = tool.Connect("Input", src.get()).Render();
      ASSERT_EQ(out->FurtherNames(), further);
      for (int x = 0; x < 5; ++x) {
        EXPECT_TRUE(SameValues(PixelAt(out.get(), x, 0), c.want))
            << "Zmax " << c.zmax.value_or(1) << ", " << further.size() << " further, pixel " << x
            << ": " << PixelAt(out.get(), x, 0);
        for (int ch = 0; ch < int(further.size()); ++ch)
          EXPECT_EQ(FurtherAt(out.get(), x, 0, ch), float(x * 10 + ch * 100));
      }
    }
}

// --- Camera calculator and Z depth remapper ---------------------------------

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();
const ToolRecord* const CameraTools[] = {&FoCalcRecord, &ZRemapperRecord};

// The six computed fields, in the order the tools write them, compared to the
// last bit (NaN equal to NaN).
testing::AssertionResult FieldsAre(ToolHarness& tool, const std::vector<double>& want) {
  const char* ids[] = {"FrameAspect", "CoC", "HyperFocal", "DoFN", "DoFF", "DoFT"};
  for (size_t i = 0; i < 6; ++i) {
    const double got = tool.Value(ids[i]);
    if (!SameValue(got, want.at(i)))
      return testing::AssertionFailure() << ids[i] << " is " << testing::PrintToString(got)
                                         << ", not " << testing::PrintToString(want[i]);
  }
  return testing::AssertionSuccess();
}

// Both tools show the same camera: the remapper with the plane of focus ten
// times larger and a scene scale of 10.
TEST(CameraTools, FieldsShowDefaultsThenTheLastRenderToTheBit) {
  const double aspect = 1.3333333333333333, coc = 0.02074333333333333, hyper = 43.04308900162991;
  const std::pair<double, std::vector<double>> cases[] = {
      {9.107735, {aspect, coc, hyper, 7.524354090752879, 11.535117397613648, 4.0107633068607695}},
      {2, {aspect, coc, hyper, 1.9133200212179537, 2.0949064695488167, 0.1815864483308629}},
      {-2, {aspect, coc, hyper, 1.9133200212179537, 2.0949064695488167, 0.1815864483308629}},
      {60, {aspect, coc, hyper, 25.07532655959978, 0.0, 0.0}},  // far limit unbounded
      {0, {aspect, coc, hyper, 0.0, 0.0, 0.0}},
  };
  ImagePtr src = ConstantImage(1, 1, {1, 1, 1, 1});
  for (const ToolRecord* rec : CameraTools) {
    const double scale = rec == &ZRemapperRecord ? 10 : 1;
    ToolHarness tool(*rec);
    EXPECT_TRUE(FieldsAre(tool, {1.0, 1.0, 53.26039, 7.783956, 10.97404, 3.19008}));
    if (scale != 1) tool.Set("SceneScale", scale);
    for (const auto& [planeOfFocus, fields] : cases) {
      tool.Set("PlaneOfFocus", planeOfFocus * scale).Connect("Input", src.get()).Render();
      EXPECT_TRUE(FieldsAre(tool, fields)) << rec->name << " at " << planeOfFocus;
    }
  }
}

TEST(CameraTools, DegenerateCamerasWriteIeeeValuesAsTheyCome) {
  const std::tuple<const char*, double, std::vector<double>> cases[] = {
      {"Fstop", 0, {1.3333333333333333, 0.02074333333333333, Inf, NaN, NaN, NaN}},
      {"ApertureHeight",
       0,
       {Inf, 0.016594666666666667, 53.80386125203737, 7.795400363293231, 10.951368337454968,
        3.1559679741617366}},
      {"SceneScale",
       0,
       {1.3333333333333333, 0.02074333333333333, 43.04308900162991, NaN, NaN, NaN}},
  };
  ImagePtr src = MakeImage(2, 1, [](int x, int) { return RGBA{0, 1, float(x), 0.5f}; });
  for (const ToolRecord* rec : CameraTools)
    for (const auto& [input, value, fields] : cases) {
      ToolHarness tool(*rec);
      if (!tool.Tool().FindInput(input)) continue;
      ImagePtr out = tool.Set(input, value).Connect("Input", src.get()).Render();
      ASSERT_TRUE(out);
      EXPECT_TRUE(FieldsAre(tool, fields)) << rec->name << " " << input;
      EXPECT_EQ(PixelAt(out.get(), 1, 0).a, 0.5f);
    }
}

TEST(CameraTools, PassAlphaAndFurtherChannelsThroughAndNeedAnImage) {
  auto color = [](int x, int y) { return RGBA{x - 1.5f, y * 40.0f, -0.0f, 0.25f * x}; };
  ImagePtr src = MakeImage(3, 2, color, {"Z"}, [](int x, int y, int) { return float(x * 7 - y); });
  for (const ToolRecord* rec : CameraTools) {
    ToolHarness tool(*rec);
    EXPECT_THROW(tool.Render(), MissingImages);
    ImagePtr out = tool.Connect("Input", src.get()).Render();
    EXPECT_EQ(tool.Value("DoFN"), 7.524354090752879);
    ASSERT_EQ(out->FurtherCount(), 1);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(PixelAt(out.get(), x, y).a, 0.25f * x);
        EXPECT_EQ(FurtherAt(out.get(), x, y, 0), float(x * 7 - y));
        if (rec == &FoCalcRecord) {
          EXPECT_EQ(std::memcmp(out->Group1(x, y), src->Group1(x, y), 4 * sizeof(float)), 0);
        }
      }
  }
}

// Depth pixels (red, green, blue) remapped with the default camera, or with
// depths, plane of focus and scene scale all ten times larger.
TEST(ZRemapper, RemapsDepthToDistanceOutOfFocusWithBlueChoosingTheSide) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const double s = 9.107735, far = 11.535117397613648;
  // Each case: red, green, blue in, then out.
  const std::array<float, 3> cases[][2] = {
      {{0, 0, 0}, {7.524353981018066f, 7.524353981018066f, 7.524353981018066f}},
      {{5, 5, 5}, {2.5243539810180664f, 2.5243539810180664f, 2.5243539810180664f}},
      {{8, 8, 8}, {0, 0, 0}},
      {{10, 10, 10}, {0, 0, 0}},
      {{20, 20, 20}, {8.464882850646973f, 8.464882850646973f, 8.464882850646973f}},
      {{3, 20, 5}, {4.524353981018066f, -12.475646018981934f, 2.5243539810180664f}},
      {{3, 20, -5}, {4.524353981018066f, -12.475646018981934f, 2.5243539810180664f}},
      {{-3, 8, 20}, {float(((3 + s) - far) - s), float(((8 + s) - far) - s), 8.464882850646973f}},
      {{3, nan, nan}, {4.524353981018066f, nan, nan}},  // no depth: the front formula
  };
  const int n = std::size(cases);
  for (double scale : {1.0, 10.0}) {
    ImagePtr src = MakeImage(n, 1, [&](int x, int) {
      const auto [r, g, b] = cases[x][0];
      return RGBA{r * float(scale), g * float(scale), b * float(scale), 0.5f};
    });
    ToolHarness tool(ZRemapperRecord);
    tool.Set("SceneScale", scale).Set("PlaneOfFocus", 9.107735 * scale);
    ImagePtr out = tool.Connect("Input", src.get()).Render();
    for (int x = 0; x < n; ++x) {
      const auto [r, g, b] = cases[x][1];
      EXPECT_TRUE(SameValues(PixelAt(out.get(), x, 0), {r, g, b, 0.5f}))
          << "scale " << scale << ", pixel " << x << ": " << PixelAt(out.get(), x, 0);
    }
  }
}

TEST(ZRemapper, UnboundedFarLimitKeepsEverythingBehindSharp) {
  const float depths[] = {10, 61, 1e30f, 100, 70, 61, 61, 80, 90};  // the last on its own
  ImagePtr src = MakeImage(9, 1, [&](int x, int) { return RGBA{1, 2, depths[x], 1}; });
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Set("PlaneOfFocus", 60).Connect("Input", src.get()).Render();
  const double near = 25.07532655959978;
  EXPECT_EQ(PixelAt(out.get(), 0, 0),
            (RGBA{float(((60.0 - 1) + near) - 60), float(((60.0 - 2) + near) - 60),
                  float(((60.0 - 10) + near) - 60), 1}));
  for (int x = 1; x < 9; ++x) EXPECT_EQ(PixelAt(out.get(), x, 0), (RGBA{0, 0, 0, 1})) << x;
}

TEST(ZRemapper, APixelOnThePlaneOfFocusCountsAsInFront) {
  // Focused nearer than the focal length, the near limit lies beyond the
  // plane of focus, so the front and back formulas differ there. The plane
  // is a float, so that a pixel can sit exactly on it.
  const double s = 0.0078125;
  ImagePtr onPlane = ConstantImage(1, 1, {float(s), float(s), float(s), 1});
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Set("PlaneOfFocus", s).Connect("Input", onPlane.get()).Render();
  const float want = float(((s - s) + tool.Value("DoFN")) - s);
  EXPECT_GT(want, 0.0f);
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{want, want, want, 1}));
}

// ===========================================================================
// The blurs, which render their rows on worker threads.

constexpr float InfF = std::numeric_limits<float>::infinity();

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

// ---------------------------------------------------------------------------
// What the blurs share.

TEST(BlurSupport, EdgeReaderPicksThePixelOfNearestEdgeSampling) {
  ImagePtr img = CoordinateImage(5, 3);
  EdgeReader reader(img.get());
  for (double pos : {-40.0, -1.5, -0.99, 0.0, 0.7, 2.2, 4.99, 7.0, 1e300, -1e300, Inf, NaN}) {
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
  EXPECT_EQ(PixelAt(out.get(), 2, 0), (RGBA{InfF, InfF, InfF, InfF}));
  // A Z smaller than the source repeats its edge; an empty one reads as 0.
  ImagePtr wide = ConstantImage(4, 2, {1, 1, 1, 1}), small = DepthImage(1, 1, 4),
           empty(NewImage(0, 0));
  out = tool.Connect("Image", wide.get()).Connect("Zdepth", small.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 3, 1).r, at4);
  out = tool.Connect("Zdepth", empty.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 3, 1).r, InfF);
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

// One input gives one output, whatever the number of threads.

// Colour that varies over the frame, with partial alphas.
ImagePtr ThreadsSource(int w, int h) {
  return MakeImage(w, h, [=](int x, int y) {
    return RGBA{std::sin(x * 0.2f), float(y) / h, float((x * 7 + y * 3) % 11),
                0.25f + (x % 4) * 0.25f};
  });
}

TEST(DirtyDof, SameBytesOnOneOrEightThreadsAndWhateverTheBleedThreshold) {
  ImagePtr src = ThreadsSource(96, 64);
  // Depths in front of, inside and behind the zone of sharpness.
  ImagePtr z = MakeImage(96, 64, [](int x, int y) {
    const float d = 0.3f + 0.25f * x + 0.1f * y;
    return RGBA{d, d, d, 1};
  });
  ToolHarness dof(DirtyDofRecord);
  dof.Connect("Image", src.get()).Connect("Zdepth", z.get());
  EXPECT_TRUE(SameBytesOnOneOrManyThreads(dof));
  ImagePtr first = dof.Render();
  for (double bleed : {0.5, 100.0})
    EXPECT_TRUE(SameBytes(first.get(), dof.Set("BleedThreshold", bleed).Render().get())) << bleed;
}

TEST(Convolution, SameBytesOnOneOrEightThreadsInBothModes) {
  ImagePtr src = ThreadsSource(96, 64);
  ImagePtr kernel = MakeImage(7, 5, [](int x, int y) {
    const float k = 1.0f / (1 + (x - 3) * (x - 3) + (y - 2) * (y - 2));
    return RGBA{k, k, k, k};
  });
  ToolHarness fast(ConvolutionRecord), full(ConvolutionRecord);
  fast.Connect("Image", src.get()).Connect("Kernel", kernel.get());
  full.Set("Sampling", 0).Connect("Image", src.get()).Connect("Kernel", kernel.get());
  EXPECT_TRUE(SameBytesOnOneOrManyThreads(fast));
  EXPECT_TRUE(SameBytesOnOneOrManyThreads(full));
}

}  // namespace
