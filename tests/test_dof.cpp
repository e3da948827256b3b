// The depth-of-field tools that map each pixel on its own.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "tests/harness.h"

namespace {

TEST(ZDevider, DefaultLeavesEveryChannelAsItWasAndEmptyImagesStayEmpty) {
  ImagePtr src = MakeImage(
      3, 2,
      [](int x, int y) {
        return RGBA{x + 0.5f, -y * 1.5f, 7.25f, 0.3f};
      },
      {"Z", "id"}, [](int x, int y, int c) { return float(x * 10 + y + c * 100); });
  ToolHarness tool(ZDeviderRecord);
  ImagePtr out = tool.Connect("Input", src.get()).Render();
  ASSERT_TRUE(out);
  ASSERT_EQ(out->FurtherCount(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(PixelAt(out.get(), x, y), PixelAt(src.get(), x, y));
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), float(x * 10 + y));
      EXPECT_EQ(FurtherAt(out.get(), x, y, 1), float(x * 10 + y + 100));
    }
  for (auto [w, h] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 5}}) {
    ImagePtr empty(NewImage(w, h));
    out = tool.Connect("Input", empty.get()).Render();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Width(), w);
    EXPECT_EQ(out->Height(), h);
  }
}

TEST(ZDevider, DividesColourInDoublePrecisionAndKeepsAlpha) {
  constexpr float Inf = std::numeric_limits<float>::infinity();
  const struct {
    double zmax;
    RGBA in, want;
  } cases[] = {
      {2, {0.8f, 0.4f, 2.0f, 0.5f}, {0.4f, 0.2f, 1.0f, 0.5f}},
      // 1.3f / 0.1 is 12.9999995 in double, 13 as a float; a float division
      // by 0.1f would give 12.999999 (and 98.999992 for 9.9f).
      {0.1, {1.3f, 9.9f, 0.3f, 1}, {13, 99, 3, 1}},
      {0, {2, -2, 0, 1}, {Inf, -Inf, NAN, 1}},
      {-1, {2, -2, 0, 1}, {-2, 2, -0.0f, 1}},
  };
  for (const auto& c : cases) {
    // Five pixels: a block of four and one on its own.
    ImagePtr src = ConstantImage(5, 1, c.in);
    ToolHarness tool(ZDeviderRecord);
    ImagePtr out = tool.Set("Zmax", c.zmax).Connect("Input", src.get()).Render();
    for (int x : {0, 4})
      EXPECT_TRUE(SameValues(PixelAt(out.get(), x, 0), c.want))
          << "Zmax " << c.zmax << ", pixel " << x << ": " << PixelAt(out.get(), x, 0);
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
  ImagePtr src = MakeImage(
      3, 2,
      [](int x, int y) {
        return RGBA{x - 1.5f, y * 40.0f, -0.0f, 0.25f * x};
      },
      {"Z"}, [](int x, int y, int) { return float(x * 7 - y); });
  for (const ToolRecord* rec : CameraTools) {
    ToolHarness tool(*rec);
    EXPECT_FALSE(tool.Render());  // no source: the fields update, no image is set
    EXPECT_EQ(tool.Value("DoFN"), 7.524354090752879);
    ImagePtr out = tool.Connect("Input", src.get()).Render();
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

TEST(ZRemapper, UnboundedFarLimitKeepsEverythingBehindSharpAndThePlaneOfFocusCountsAsInFront) {
  const float depths[] = {10, 61, 1e30f, 100, 70, 61, 61, 80, 90};  // the last on its own
  ImagePtr src = MakeImage(9, 1, [&](int x, int) { return RGBA{1, 2, depths[x], 1}; });
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Set("PlaneOfFocus", 60).Connect("Input", src.get()).Render();
  const double near = 25.07532655959978;
  EXPECT_EQ(PixelAt(out.get(), 0, 0),
            (RGBA{float(((60.0 - 1) + near) - 60), float(((60.0 - 2) + near) - 60),
                  float(((60.0 - 10) + near) - 60), 1}));
  for (int x = 1; x < 9; ++x) EXPECT_EQ(PixelAt(out.get(), x, 0), (RGBA{0, 0, 0, 1})) << x;
  // Focused nearer than the focal length, the near limit lies beyond the
  // plane of focus, so the front and back formulas differ there. The plane
  // is a float, so that a pixel can sit exactly on it.
  const double s = 0.0078125;
  ImagePtr onPlane = ConstantImage(1, 1, {float(s), float(s), float(s), 1});
  out = tool.Set("PlaneOfFocus", s).Connect("Input", onPlane.get()).Render();
  const float want = float(((s - s) + tool.Value("DoFN")) - s);
  EXPECT_GT(want, 0.0f);
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{want, want, want, 1}));
}

}  // namespace
