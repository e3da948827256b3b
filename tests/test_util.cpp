// The image utilities: normaliser, motion-vector clipper, stereo switch, and
// the two UV tools.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <utility>

#include "testing/harness.h"
#include "tools/util/uv.h"

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// A one-row image of the given pixels, with one further channel "id" that
// holds 10 + x.
ImagePtr Row(std::vector<RGBA> pixels) {
  return MakeImage(
      int(pixels.size()), 1, [pixels](int x, int) { return pixels[x]; }, {"id"},
      [](int x, int, int) { return 10.0f + x; });
}

std::vector<RGBA> RowOf(const Image* img) {
  std::vector<RGBA> out;
  for (int x = 0; x < img->Width(); ++x) out.push_back(PixelAt(img, x, 0));
  return out;
}

// The row's pixels are `want` (a NaN equal to a NaN) and its "id" channel
// came through untouched.
void ExpectRow(const Image* img, const std::vector<RGBA>& want, const std::string& what) {
  ASSERT_TRUE(img) << what;
  ASSERT_EQ(img->Width(), int(want.size())) << what;
  for (int x = 0; x < img->Width(); ++x) {
    EXPECT_TRUE(SameValues(PixelAt(img, x, 0), want[x]))
        << what << ", pixel " << x << ": " << PixelAt(img, x, 0) << " against " << want[x];
    EXPECT_EQ(FurtherAt(img, x, 0, 0), 10.0f + x) << what;
  }
}

// ---------------------------------------------------------------- Normalizer

TEST(Normalizer, StretchesEachChannelOrAllByTheRangeInsideTheThresholds) {
  auto check = [](double lum, double rMax, double gMin, std::vector<RGBA> in, std::vector<RGBA> out,
                  const char* what) {
    ImagePtr src = Row(in);
    ToolHarness tool(NormalizerRecord);
    tool.Set("Lum", lum).Set("RTreshMax", rMax).Set("GTreshMin", gMin);
    ExpectRow(tool.Connect("Input", src.get()).Render().get(), out, what);
  };
  check(0, 1, 0,
        {{0.25f, 0.5f, 0.125f, 0.3f}, {0.5f, 0.75f, 0.25f, 0.3f}, {0.75f, 1, 0.375f, 0.3f}},
        {{0, 0, 0, 0.3f}, {0.5f, 0.5f, 0.5f, 0.3f}, {1, 1, 1, 0.3f}}, "each by its own range");
  // Red: 1.5 lies above the maximum threshold 1, so the range is 0.25 to
  // 0.75 and 1.5 maps past 1. Green: -0.5 lies below the minimum threshold,
  // leaving an empty range at 0.5. Blue: every value lies above 1, so the
  // maximum keeps its starting 0 and the range runs backwards from 1.5.
  check(0, 1, 0, {{0.25f, -0.5f, 1.5f, 1}, {0.75f, 0.5f, 2.5f, 1}, {1.5f, 0.5f, 1.5f, 1}},
        {{0, 0, 0, 1}, {1, 0, float(1.0 / -1.5), 1}, {2.5f, 0, 0, 1}},
        "values outside the thresholds do not set the range");
  check(0, 1, 0, {{NaN, 0, 0, 1}, {0.25f, 0, 0, 1}, {0.75f, 0, 0, 1}},
        {{NaN, 0, 0, 1}, {0, 0, 0, 1}, {1, 0, 0, 1}}, "not a number never qualifies");
  // In double, 0.3f lies just above 0.3, so it is no maximum under "Max R"
  // 0.3; 0.7f lies just below 0.7, so it is no minimum under "Min G" 0.7.
  check(0, 0.3, 0.7, {{0.125f, 0.7f, 0, 1}, {0.25f, 0.75f, 0, 1}, {0.3f, 1.0f, 0, 1}},
        {{0, float((double(0.7f) - 0.75) / 0.25), 0, 1},
         {1, 0, 0, 1},
         {float((double(0.3f) - 0.125) / 0.125), 1, 0, 1}},
        "thresholds compare in double precision");
  // lo = 0.125 (green), hi = 0.875 (blue): (s - 0.125) / 0.75.
  const float sixth = float(1.0 / 6.0), third = float(1.0 / 3.0);
  check(1, 1, 0, {{0.25f, 0.125f, 0.375f, 0.5f}, {0.5f, 0.375f, 0.875f, 0.5f}},
        {{sixth, 0, third, 0.5f}, {0.5f, third, 1, 0.5f}},
        "common mode uses the widest range of the three");
}

TEST(Normalizer, FlatImagesAndTheLuminanceSwitch) {
  ImagePtr colour = ConstantImage(2, 2, {0.25f, 0.5f, 0.75f, 0.3f});
  ImagePtr grey = ConstantImage(2, 2, {0.5f, 0.5f, 0.5f, 0.3f});
  ImagePtr black = ConstantImage(2, 2, {0, 0, 0, 1});
  ToolHarness tool(NormalizerRecord);
  auto render = [&](const ImagePtr& img, double lum) {
    return PixelAt(tool.Set("Lum", lum).Connect("Input", img.get()).Render().get(), 1, 1);
  };
  // Per channel every range is empty; in common the three values spread.
  // The checkbox counts as on only at exactly 1.
  for (double off : {0.0, 0.5, 2.0, -1.0}) EXPECT_EQ(render(colour, off), (RGBA{0, 0, 0, 0.3f}));
  EXPECT_EQ(render(colour, 1), (RGBA{0, 0.5f, 1, 0.3f}));
  for (double lum : {0.0, 1.0}) {
    EXPECT_EQ(render(grey, lum), (RGBA{0, 0, 0, 0.3f}));
    EXPECT_EQ(render(black, lum), (RGBA{0, 0, 0, 1}));
  }
}

// ---------------------------------------------------------- ClipMotionVectors

TEST(ClipMotionVectors, ModesTreatVectorsAtOrPastTheLimit) {
  auto check = [](const char* mode, double limit, double mult, std::vector<RGBA> in,
                  std::vector<RGBA> out) {
    ImagePtr src = Row(in);
    ToolHarness tool(ClipMotionVectorsRecord);
    tool.Choose("ClipMode", mode).Set("MaxLenght", limit).Set("AddMult", mult);
    ExpectRow(tool.Connect("Image", src.get()).Render().get(), out,
              std::string(mode) + " " + std::to_string(limit) + " " + std::to_string(mult));
  };
  // (30, 40, 0) is exactly as long as the limit 50 and counts as too long;
  // a limit a hair above 50 (no float lies between) leaves it alone. The
  // multiplier scales only vectors at the limit, in "Devide" mode.
  check("Clip", 50, 1, {{30, 40, 0, 0.5f}, {60, 80, 0, 0.5f}, {3, 4, 0, 0.5f}, {0, 60, 80, 0.5f}},
        {{30, 40, 0, 0.5f}, {30, 40, 0, 0.5f}, {3, 4, 0, 0.5f}, {0, 30, 40, 0.5f}});
  check("Clip", 50.000001, 1, {{30, 40, 0, 0.5f}}, {{30, 40, 0, 0.5f}});
  check("Clip", 50, 2, {{60, 80, 0, 1}, {3, 4, 0, 1}}, {{60, 80, 0, 1}, {3, 4, 0, 1}});
  check("Devide", 50, 2, {{60, 80, 0, 1}, {3, 4, 0, 1}}, {{1.2f, 1.6f, 0, 1}, {3, 4, 0, 1}});
  // A channel that is not a number makes the length fail the test; at limit
  // 0 the zero vector reaches the limit too and divides 0 by 0.
  check("Disable", 50, 1, {{60, 80, 0, 0.25f}, {0, 0, -50, 0.75f}, {3, 4, 0, 1}, {NaN, 1, 1, 1}},
        {{0, 0, 0, 0.25f}, {0, 0, 0, 0.75f}, {3, 4, 0, 1}, {0, 0, 0, 1}});
  const RGBA undefined{NaN, NaN, NaN, 1};
  for (const char* mode : {"Clip", "Devide"})
    check(mode, 0, 1, {{0, 0, 0, 1}, {NaN, 1, 1, 1}}, {undefined, undefined});
}

// --------------------------------------------------------------- StereoSwitch

TEST(StereoSwitch, PassesOnTheVeryImageOfTheChosenEyeAndNothingWhenItIsNotConnected) {
  ImagePtr left = ConstantImage(2, 2, {1, 0, 0, 1});
  ImagePtr right = ConstantImage(3, 1, {0, 0, 1, 1});
  ToolHarness tool(StereoSwitchRecord), rightOnly(StereoSwitchRecord), leftOnly(StereoSwitchRecord);
  tool.Connect("LeftImage", left.get()).Connect("RightImage", right.get());
  {
    ImagePtr out = tool.Render();
    EXPECT_EQ(out.get(), left.get());
    EXPECT_EQ(left->Holders(), 3);  // ours, the input's, and the result's own
    EXPECT_EQ(right->Holders(), 2);
  }
  EXPECT_EQ(left->Holders(), 2);
  EXPECT_EQ(tool.Choose("Input", "Right").Render().get(), right.get());
  EXPECT_EQ(PixelAt(right.get(), 2, 0), (RGBA{0, 0, 1, 1}));
  EXPECT_FALSE(rightOnly.Connect("RightImage", right.get()).Render());
  leftOnly.Connect("LeftImage", left.get());
  EXPECT_FALSE(leftOnly.Choose("Input", "Right").Render());
  EXPECT_FALSE(leftOnly.Choose("Input", "Centre").Render());
  EXPECT_EQ(left->Holders(), 3);  // ours and the two tools' inputs
}

// --------------------------------------------------------------- UVpositioner

// A texture whose pixel (x, y) holds red x, green y, blue 1, alpha 1.
ImagePtr PositionTexture(int w, int h) {
  return MakeImage(w, h, [](int x, int y) { return RGBA{float(x), float(y), 1, 1}; });
}

using Settings = std::vector<std::pair<const char*, double>>;

TEST(UVpositioner, SettingsAndSampleModesPlaceOnePixelOfTheTexture) {
  // One UV pixel on a 100 x 40 texture, sampled whole and weighted by the
  // pass's alpha. u = 1 is one column past the texture; -0.5 truncates to
  // column 0 and -1.5 to column -1. The offset is added before scaling.
  // 0.5 * 1000.5 * 100 = 50025 pixels lies past the 16.16 range: Black sees
  // far outside, Duplicate the edge, Wrap keeps repeating (50025 mod 100 =
  // 25). Not a number lies far outside on the negative side.
  const RGBA none{0, 0, 0, 0}, row20{0, 20, 1, 1}, last20{99, 20, 1, 1};
  const struct {
    const char* mode;
    Settings set;
    RGBA uv, want;
  } cases[] = {
      {"Black", {}, {0.25f, 0.5f, 0, 1}, {25, 20, 1, 1}},
      {"Black", {}, {0.25f, 0.5f, 0, 0.5f}, {12.5f, 10, 0.5f, 0.5f}},
      {"Black", {}, {0.25f, 0.5f, 0, 0}, none},
      {"Wrap", {}, {0.25f, 0.5f, 0, 0}, none},
      {"Duplicate", {}, {0.25f, 0.5f, 0, 0}, none},
      {"Black", {}, {1.0f, 0.5f, 0, 1}, none},
      {"Wrap", {}, {1.0f, 0.5f, 0, 1}, row20},
      {"Duplicate", {}, {1.0f, 0.5f, 0, 1}, last20},
      {"Black", {}, {-0.005f, 0.5f, 0, 1}, row20},
      {"Wrap", {}, {-0.005f, 0.5f, 0, 1}, row20},
      {"Duplicate", {}, {-0.005f, 0.5f, 0, 1}, row20},
      {"Black", {}, {-0.015f, 0.5f, 0, 1}, none},
      {"Wrap", {}, {-0.015f, 0.5f, 0, 1}, last20},
      {"Duplicate", {}, {-0.015f, 0.5f, 0, 1}, row20},
      {"Wrap", {{"Xoffset", 0.5}, {"Uscale", 2}}, {0, 0.5f, 0, 1}, row20},               // px = 100
      {"Wrap", {{"Xoffset", 0.5}, {"Uscale", 2}}, {0.25f, 0.5f, 0, 1}, {50, 20, 1, 1}},  // 150
      {"Wrap",
       {{"Xoffset", 0.5}, {"Uscale", 2}, {"Yoffset", -0.25}, {"Vscale", 0.5}},
       {0.25f, 0.75f, 0, 1},
       {50, 10, 1, 1}},  // py = 10
      {"Black", {{"Swap", 1}}, {0.125f, 0.875f, 0, 1}, {87, 5, 1, 1}},
      {"Black", {{"Flipy", 1}}, {0.25f, 0.25f, 0, 1}, {25, 30, 1, 1}},
      {"Black", {{"Flipy", 1}, {"Flipx", 1}}, {0.25f, 0.25f, 0, 1}, {75, 30, 1, 1}},
      {"Black", {{"Uscale", 1000.5}}, {0.5f, 0.5f, 0, 1}, none},
      {"Duplicate", {{"Uscale", 1000.5}}, {0.5f, 0.5f, 0, 1}, last20},
      {"Wrap", {{"Uscale", 1000.5}}, {0.5f, 0.5f, 0, 1}, {25, 20, 1, 1}},
      {"Wrap", {{"Uscale", 1000.5}, {"Xoffset", -1}}, {0.5f, 0.5f, 0, 1}, {75, 20, 1, 1}},
      {"Black", {}, {NaN, 0.5f, 0, 1}, none},
      {"Duplicate", {}, {NaN, 0.5f, 0, 1}, row20},
  };
  ImagePtr texture = PositionTexture(100, 40);
  for (const auto& c : cases) {
    ImagePtr pass = ConstantImage(1, 1, c.uv);
    ToolHarness tool(UVpositionerRecord);
    for (const auto& [id, value] : c.set) tool.Set(id, value);
    tool.Choose("SampleMode", c.mode).Connect("Image", texture.get()).Connect("UV", pass.get());
    EXPECT_EQ(PixelAt(tool.Render().get(), 0, 0), c.want)
        << c.mode << " " << c.uv << " with " << c.set.size() << " settings";
  }
}

TEST(UVpositioner, WholePixelFixedIsTheSaturatedTruncatedPosition) {
  for (double p : {0.0, 0.99, -0.5, -1.5, 25.0, 32767.9, 32768.0, -32768.0, -32768.5, -32769.0,
                   -32769.5, 1e12, -1e12, std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), std::nan("")})
    EXPECT_EQ(WholePixelFixed(p), ToFixed(std::trunc(p))) << p;
}

TEST(UVpositioner, OutputTakesThePassSizeAndFurtherChannelsComeWithTheSample) {
  ImagePtr texture = PositionTexture(4, 2);
  ImagePtr pass = MakeImage(3, 5, [](int x, int y) { return RGBA{x / 4.0f, y / 5.0f, 0, 1}; });
  ToolHarness tool(UVpositionerRecord);
  ImagePtr out = tool.Connect("Image", texture.get()).Connect("UV", pass.get()).Render();
  ASSERT_EQ(out->Width(), 3);
  ASSERT_EQ(out->Height(), 5);
  EXPECT_EQ(PixelAt(out.get(), 2, 3), (RGBA{2, 1, 1, 1}));  // (0.5 * 4, 0.6 * 2)
  EXPECT_EQ(PixelAt(out.get(), 1, 4), (RGBA{1, 1, 1, 1}));
  // Further channels come with the sample, not weighted, and clear off the
  // surface.
  ImagePtr withId = MakeImage(
      4, 2, [&](int x, int y) { return PixelAt(texture.get(), x, y); }, {"id"},
      [](int x, int y, int) { return 100.0f + x + 10 * y; });
  ImagePtr uv = Row({{0.5f, 0.5f, 0, 0.5f}, {0.5f, 0.5f, 0, 0}});
  out = tool.Connect("Image", withId.get()).Connect("UV", uv.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{1, 0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(FurtherAt(out.get(), 0, 0, 0), 112.0f);  // texture pixel (2, 1)
  EXPECT_EQ(PixelAt(out.get(), 1, 0), (RGBA{0, 0, 0, 0}));
  EXPECT_EQ(FurtherAt(out.get(), 1, 0, 0), 0.0f);
}

// ------------------------------------------------------------------- UVunwrap

// An image whose pixel (x, y) is (x + 3y, 1, -y, 0.5), with a further channel
// "id" holding 100 + x + 10y.
ImagePtr Numbered(int w, int h) {
  auto color = [](int x, int y) { return RGBA{float(x + 3 * y), 1, float(-y), 0.5f}; };
  return MakeImage(w, h, color, {"id"}, [](int x, int y, int) { return 100.0f + x + 10 * y; });
}

// A UV pass of the given size whose pixels are uv(x, y).
ImagePtr UVPass(int w, int h, std::function<std::pair<float, float>(int, int)> uv) {
  return MakeImage(w, h, [uv](int x, int y) {
    auto [u, v] = uv(x, y);
    return RGBA{u, v, 0, 1};
  });
}

TEST(UVunwrap, OwnCentresReproduceTheSourceAndAUVPassOfAnotherSizeGivesAnEmptyImage) {
  ImagePtr src = Numbered(3, 2);
  ImagePtr own = UVPass(3, 2, [](int x, int y) {
    return std::pair{(x + 0.5f) / 3, (y + 0.5f) / 2};
  });
  ToolHarness tool(UVunwrapRecord);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("UV", own.get()).Render();
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(PixelAt(out.get(), x, y), PixelAt(src.get(), x, y)) << x << "," << y;
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), 100.0f + x + 10 * y);
    }
  for (auto [w, h] : {std::pair{2, 2}, std::pair{3, 3}}) {
    ImagePtr other = UVPass(w, h, [](int, int) { return std::pair{0.5f, 0.5f}; });
    out = tool.Connect("UV", other.get()).Render();
    ASSERT_EQ(out->Width(), 3);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(out.get(), x, y), (RGBA{0, 0, 0, 0}));
  }
}

TEST(UVunwrap, LaterPixelsWinAndOutsideCoordinatesPileOnTheBorder) {
  {
    // Everything lands on (0, 0); the last source pixel stays there.
    ImagePtr src = Numbered(3, 2);
    ImagePtr uv = UVPass(3, 2, [](int, int) { return std::pair{0.0f, 0.0f}; });
    ToolHarness tool(UVunwrapRecord);
    ImagePtr out = tool.Connect("Image", src.get()).Connect("UV", uv.get()).Render();
    EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{5, 1, -1, 0.5f}));
    EXPECT_EQ(FurtherAt(out.get(), 0, 0, 0), 112.0f);
    EXPECT_EQ(PixelAt(out.get(), 2, 1), (RGBA{0, 0, 0, 0}));
  }
  // u = 1 and 1.7 both land on the last column (the later wins), -0.3 on the
  // first, 0.6 on 2.4 -> column 2; column 1 receives nothing. The same by
  // rows through V.
  const float us[] = {1.0f, 1.7f, -0.3f, 0.6f};
  ImagePtr src = Row({{1, 0, 0, 1}, {2, 0, 0, 1}, {3, 0, 0, 1}, {4, 0, 0, 1}});
  ImagePtr uv = UVPass(4, 1, [&](int x, int) { return std::pair{us[x], 0.5f}; });
  ToolHarness tool(UVunwrapRecord);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("UV", uv.get()).Render();
  EXPECT_EQ(RowOf(out.get()),
            (std::vector<RGBA>{{3, 0, 0, 1}, {0, 0, 0, 0}, {4, 0, 0, 1}, {2, 0, 0, 1}}));
  ImagePtr column = MakeImage(1, 4, [](int, int y) { return RGBA{float(y + 1), 0, 0, 1}; });
  ImagePtr uvColumn = UVPass(1, 4, [&](int, int y) { return std::pair{0.5f, us[y]}; });
  out = tool.Connect("Image", column.get()).Connect("UV", uvColumn.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 0, 0).r, 3.0f);
  EXPECT_EQ(PixelAt(out.get(), 0, 3).r, 2.0f);
}

TEST(UVunwrap, SwapFlipsAndPixelBlocksSetTheLandingPlaces) {
  // Only source pixel (sx, sy) of a 3 x 3 image has a UV; the others are not
  // a number and are skipped. Pixel blocks are cut at the last column and
  // row; a coordinate that is not a number drops the pixel, block and all.
  using Places = std::set<std::pair<int, int>>;
  const char* const block = "Interpolate pixel setting";
  const struct {
    Settings set;
    int sx, sy;
    float u, v;
    Places places;
  } cases[] = {
      {{}, 1, 1, 0.5f, 0.0f, {{1, 0}}},
      {{{"Flipx", 1}}, 1, 1, 0.0f, 0.0f, {{2, 0}}},
      {{{"Flipy", 1}}, 1, 1, 0.0f, 0.5f, {{0, 1}}},
      {{{"Swap", 1}}, 1, 1, 0.0f, 0.8f, {{2, 0}}},
      {{{block, 1}}, 0, 0, 0.5f, 0.5f, {{1, 1}, {2, 1}, {1, 2}, {2, 2}}},
      {{{block, 1}}, 0, 0, 1.0f, 0.0f, {{2, 0}, {2, 1}}},
      {{{block, 1}}, 0, 0, 0.0f, 1.0f, {{0, 2}, {1, 2}}},
      {{{block, 1}}, 0, 0, 1.0f, 1.0f, {{2, 2}}},
      {{{block, 1}}, 0, 0, NaN, 0.5f, {}},
  };
  ImagePtr src = ConstantImage(3, 3, {1, 2, 3, 1});
  for (const auto& c : cases) {
    ImagePtr uv = UVPass(3, 3, [&](int x, int y) {
      return x == c.sx && y == c.sy ? std::pair{c.u, c.v} : std::pair{NaN, NaN};
    });
    ToolHarness tool(UVunwrapRecord);
    for (const auto& [id, value] : c.set) tool.Set(id, value);
    ImagePtr out = tool.Connect("Image", src.get()).Connect("UV", uv.get()).Render();
    Places written;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x)
        if (PixelAt(out.get(), x, y) == RGBA{1, 2, 3, 1}) written.insert({x, y});
    EXPECT_EQ(written, c.places) << c.sx << "," << c.sy << " at " << c.u << ", " << c.v;
  }
}

TEST(UVunwrap, InterpolateSamplesAveragesWithNeighboursInside) {
  // Red is x + 3y; each average counts the pixel and its neighbours inside
  // the image: 3 at a corner, 4 on an edge, 5 inside.
  ImagePtr src = Numbered(3, 3);
  ImagePtr uv = UVPass(3, 3, [](int x, int y) {
    return std::pair{(x + 0.5f) / 3, (y + 0.5f) / 3};
  });
  ToolHarness tool(UVunwrapRecord);
  ImagePtr out = tool.Set("InterpolateSamples", 1)
                     .Connect("Image", src.get())
                     .Connect("UV", uv.get())
                     .Render();
  const double expected[3][3] = {
      {4.0 / 3, 7.0 / 4, 8.0 / 3}, {13.0 / 4, 4.0, 19.0 / 4}, {16.0 / 3, 25.0 / 4, 20.0 / 3}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      RGBA p = PixelAt(out.get(), x, y);
      EXPECT_EQ(p.r, static_cast<float>(expected[y][x])) << x << "," << y;
      EXPECT_EQ(p.g, 1.0f);
      EXPECT_EQ(p.a, 0.5f);
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), 100.0f + x + 10 * y);  // the centre's own
    }
  EXPECT_EQ(PixelAt(out.get(), 1, 0).b, -0.25f);  // (0 + 0 + 0 - 1) / 4

  ImagePtr one = ConstantImage(1, 1, {0.3f, 0.6f, 0.9f, 0.7f});
  ImagePtr uvOne = UVPass(1, 1, [](int, int) { return std::pair{0.5f, 0.5f}; });
  out = tool.Connect("Image", one.get()).Connect("UV", uvOne.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{0.3f, 0.6f, 0.9f, 0.7f}));
}

TEST(UVunwrap, PlacesNoWriteReachesAreZeroWhateverTheMemoryHeld) {
  // The result takes the pixel memory of an image of its size released just
  // before (the host keeps a few such blocks for the next frame), which still
  // holds that image's pixels; every pixel lands on (3, 1).
  ImagePtr src = ConstantImage(7, 3, {1, 2, 3, 1});
  ImagePtr uv = UVPass(7, 3, [](int, int) { return std::pair{0.5f, 0.5f}; });
  ConstantImage(7, 3, {NaN, 5, 5, 5});
  ToolHarness tool(UVunwrapRecord);
  ImagePtr out = tool.Connect("Image", src.get()).Connect("UV", uv.get()).Render();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(PixelAt(out.get(), x, y), (x == 3 && y == 1 ? RGBA{1, 2, 3, 1} : RGBA{0, 0, 0, 0}))
          << x << "," << y;
}

}  // namespace
