// The relighting tools: those that render on the calling thread (the
// intuitive relighter, the spot relighter and the falloff mask, and the
// pieces they share), then the screen-space ambient occlusion, which renders
// its rows on worker threads.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "testing/harness.h"
#include "tools/relight/channels.h"
#include "tools/relight/occlusion.h"

namespace {

using namespace relight;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

RGBA Grey(float v) { return {v, v, v, v}; }

// A one-row image of the given pixels.
ImagePtr Row(const std::vector<RGBA>& pixels) {
  return MakeImage(static_cast<int>(pixels.size()), 1, [&](int x, int) { return pixels[x]; });
}

// Every pixel of the image, row by row.
std::vector<RGBA> Pixels(const Image* img) {
  std::vector<RGBA> all;
  for (int y = 0; y < img->Height(); ++y)
    for (int x = 0; x < img->Width(); ++x) all.push_back(PixelAt(img, x, y));
  return all;
}

void ExpectGreyNear(const Image* img, int x, float expected, float tolerance = 1e-6f) {
  const RGBA p = PixelAt(img, x, 0);
  EXPECT_NEAR(p.r, expected, tolerance) << "pixel " << x;
  EXPECT_EQ(p.g, p.r) << "pixel " << x;
  EXPECT_EQ(p.b, p.r) << "pixel " << x;
  EXPECT_EQ(p.a, p.r) << "pixel " << x;
}

TEST(RelightShared, ClampSendsNotANumberToOne) {
  const double cases[][2] = {{-0.5, 0}, {0, 0},         {0.25, 0.25},  {1, 1},
                             {7, 1},    {-HUGE_VAL, 0}, {HUGE_VAL, 1}, {std::nan(""), 1}};
  for (auto [in, out] : cases) EXPECT_EQ(ClampMask(in), out) << in;
}

// The relighter's map test reads each named channel through the tool; here
// the rest: an unknown name reads the default, luminance, and a value beyond
// 0 … 1 is used as it is.
TEST(RelightShared, MapChannelDefaultsToLuminanceAndTakesValuesAsTheyAre) {
  EXPECT_EQ(MapChannelOf(TextID("Lumi")), MapChannel::Luminance);
  EXPECT_EQ(MapValue(MapChannel::Red, Rgba<float>{-2.0f, 0.6f, 0.9f, 0.25f}), -2.0);
}

// ---------------------------------------------------------------------------
// Intuitive relighter

TEST(Relight, LightFallsOffWithDistanceTimesAlpha) {
  // The light's red, green, blue, intensity and size; a row of pass pixels
  // and the grey each gets.
  auto check = [](const char* what, std::array<double, 5> light, const std::vector<RGBA>& pass,
                  const std::vector<float>& grey, float tolerance = 0) {
    SCOPED_TRACE(what);
    ImagePtr row = Row(pass);
    ToolHarness tool(RelightRecord);
    tool.Set("Red", light[0]).Set("Green", light[1]).Set("Blue", light[2]);
    tool.Set("LightIntensity", light[3]).Set("LightSize", light[4]);
    ImagePtr out = tool.Connect("NormalsOrPosition", row.get()).Render();
    ASSERT_TRUE(out);
    for (size_t x = 0; x < grey.size(); ++x) ExpectGreyNear(out.get(), int(x), grey[x], tolerance);
  };
  check("defaults: 1 - distance", {0, 0, 0, 1, 0},
        {{0, 0, 0, 1},
         {0.25f, 0, 0, 1},
         {3, -4, 0, 1},
         {0, 0, -0.5f, 0.5f},
         {0, 0, 0, 0},
         {NaN, 0, 0, 1}},
        {1, 0.75f, 0, 0.25f, 0, 0});
  check("distance 1 up to float rounding", {0, 0, 0, 1, 0}, {{0, 0.6f, 0.8f, 1}}, {0}, 1e-6f);
  check("red, green, blue against the light's three numbers", {1, 2, 3, 3, 0},
        {{1, 2, 3, 1}, {3, 2, 1, 1}, {2, 1, 3, 1}},
        {1, float(1 - std::sqrt(8.0) / 3), float(1 - std::sqrt(2.0) / 3)}, 1e-6f);
  check("ramp turns round when size exceeds intensity", {0, 0, 0, 1, 2},
        {{0.5f, 0, 0, 1}, {1.5f, 0, 0, 1}, {3, 0, 0, 0.5f}}, {0, 0.5f, 0.5f});
  check("equal radii: a hard edge that excludes the radius", {0, 0, 0, 1, 1},
        {{0.5f, 0, 0, 1}, {1, 0, 0, 1}, {1.001f, 0, 0, 0.75f}, {0, 9, 0, 1}}, {0, 0, 0.75f, 1});
}

TEST(Relight, MapScalesIntensityOrSizeByTheChosenChannel) {
  // Intensity 1 scaled by the map to m: a pixel at distance 0.125 gets
  // 1 - 0.125 / m.
  ImagePtr pass = Row({{0.125f, 0, 0, 1}});
  ImagePtr map = Row({{0.25f, 0.5f, 1.0f, 0.625f}});
  const std::pair<const char*, double> cases[] = {
      {"Red", 0.25}, {"Green", 0.5}, {"Blue", 1.0}, {"Alpha", 0.625}, {"Luminance", 1.75 / 3}};
  for (auto [channel, m] : cases) {
    ToolHarness tool(RelightRecord);
    tool.Choose("Map Channel", channel).Connect("Intensity/Size Map", map.get());
    SCOPED_TRACE(channel);
    ExpectGreyNear(tool.Connect("NormalsOrPosition", pass.get()).Render().get(), 0,
                   float(1 - 0.125 / m));
  }
  // Size 0.25 doubled by the map's red to 0.5: full light up to 0.5, half
  // way at 0.75. Without a map the choices change nothing.
  ImagePtr pass2 = Row({{0.5f, 0, 0, 1}, {0.75f, 0, 0, 1}});
  ImagePtr doubling = ConstantImage(2, 1, {2, 0, 0, 0});
  ToolHarness plain(RelightRecord), tool(RelightRecord);
  plain.Set("LightSize", 0.25).Connect("NormalsOrPosition", pass2.get());
  tool.Set("LightSize", 0.25).Choose("Map Fuction", "Size").Choose("Map Channel", "Red");
  tool.Connect("NormalsOrPosition", pass2.get());
  EXPECT_EQ(Pixels(tool.Render().get()), (std::vector<RGBA>{Grey(2.0f / 3), Grey(1.0f / 3)}));
  EXPECT_EQ(Pixels(plain.Render().get()), Pixels(tool.Render().get()));
  ImagePtr out = tool.Connect("Intensity/Size Map", doubling.get()).Render();
  ExpectGreyNear(out.get(), 0, 1.0f);
  ExpectGreyNear(out.get(), 1, 0.5f);
}

// ---------------------------------------------------------------------------
// Spot relighter

// The light at (0, 0, 10) aims at the origin.
ToolHarness& AimDown(ToolHarness& tool, double cone) {
  return tool.Set("Blue", 10).Set("LightConeSize", cone).Set("LightIntensity", 1);
}

TEST(SimpleSpotlight, DefaultsLightNothingAimedItIsFullOnTheAxisNoneAtRightAnglesOrBehind) {
  // Four points: one at the light, one at right angles to the axis, one
  // behind the light and one on the axis.
  ImagePtr pass = Row({{0, 0, 0, 0.25f}, {10, 0, 10, 1}, {0, 0, 20, 1}, {0, 0, 10, 1}});
  ToolHarness tool(SimpleSpotlightRecord);
  tool.Connect("Position", pass.get());
  EXPECT_EQ(Pixels(tool.Render().get()), (std::vector<RGBA>(4, Grey(0))));
  // The output's alpha is the light itself, not the pass's alpha; a point at
  // the light has no direction to it and gets no light.
  EXPECT_EQ(Pixels(AimDown(tool, 1).Render().get()),
            (std::vector<RGBA>{Grey(1), Grey(0), Grey(0), Grey(0)}));
}

TEST(SimpleSpotlight, OffTheAxisTheCosineIsRaisedToTheConeTimesIntensity) {
  // Points seen from the light at 60 degrees off the axis, along x and
  // along y: cos = 0.5, raised to the cone's exponent, times the intensity.
  const float off = static_cast<float>(2 * std::sin(M_PI / 3));
  ImagePtr offAxis = Row({{-off, 0, 9, 1}, {0, off, 9, 1}});
  ToolHarness tool(SimpleSpotlightRecord);
  tool.Connect("Position", offAxis.get());
  ImagePtr out = AimDown(tool, 8).Render();
  for (int x : {0, 1}) ExpectGreyNear(out.get(), x, 0.00390625f);
  ExpectGreyNear(AimDown(tool, 1).Render().get(), 0, 0.5f);
  ExpectGreyNear(AimDown(tool, 1).Set("LightIntensity", 3).Render().get(), 0, 1.5f);
}

TEST(SimpleSpotlight, EveryWholeExponentAgreesWithTheGeneralPower) {
  // Points at (-a, 0, 0) under a light at (0, 0, 1) aimed along -z: the
  // cosine is 1 / |(a, 0, 1)|, worked in float as the tool works it.
  std::vector<RGBA> points;
  std::vector<double> cosines;
  for (int i = 1; i <= 40; ++i) {
    const float a = 0.037f * i;
    points.push_back({-a, 0, 0, 1});
    cosines.push_back(1.0f / std::sqrt(a * a + 0.0f + 1.0f));
  }
  ImagePtr pass = Row(points);
  ToolHarness tool(SimpleSpotlightRecord);
  tool.Set("Blue", 1).Connect("Position", pass.get());
  for (double e : {0.0, 1.0, 2.0, 3.0, 7.0, 8.0, 37.0, 64.0, 99.0, 100.0, 2.5, -1.0}) {
    const std::vector<RGBA> out = Pixels(tool.Set("LightConeSize", e).Render().get());
    for (size_t i = 0; i < points.size(); ++i)
      ASSERT_EQ(out[i], Grey(static_cast<float>(std::pow(cosines[i], e))))
          << "exponent " << e << ", point " << i;
  }
}

TEST(SimpleSpotlight, NormalsAddADiffuseTermAlongTheAxis) {
  ImagePtr pass = ConstantImage(5, 1, {0, 0, 0, 1});
  ImagePtr normals = Row({{0, 0, 1, 1}, {0, 0, -1, 1}, {0, 0, 2, 1}, {1, 0, 1, 1}, {0, 0, 0, 1}});
  ToolHarness tool(SimpleSpotlightRecord);
  AimDown(tool, 8).Connect("Position", pass.get()).Connect("Normals", normals.get());
  ImagePtr out = tool.Set("LightIntensity", 2).Render();
  const float greys[] = {2, 0, 2, float(2 / std::sqrt(2.0)), 0};
  for (int x = 0; x < 5; ++x) ExpectGreyNear(out.get(), x, greys[x]);
  // Facing away gives zero even for an endless light.
  ExpectGreyNear(tool.Set("LightIntensity", INFINITY).Render().get(), 1, 0.0f, 0);
  // A light on its own target lights nothing through normals.
  ImagePtr two = Row({{0, 0, 0, 1}, {1, 1, 1, 1}}), up = ConstantImage(2, 1, {0, 0, 1, 1});
  ToolHarness onTarget(SimpleSpotlightRecord);
  onTarget.Set("Red", 4).Set("Red2", 4).Set("LightConeSize", 1);
  out = onTarget.Connect("Position", two.get()).Connect("Normals", up.get()).Render();
  EXPECT_EQ(Pixels(out.get()), (std::vector<RGBA>(2, Grey(0))));
}

// ---------------------------------------------------------------------------
// Falloff mask

TEST(Fallof, FacingRatioAgainstTheDepthAxis) {
  // Each normal and its grey: front and back faces 0, edge-on 1, no
  // direction its own alpha; stored values are used as they are, not decoded
  // from 0 … 1. Normals whose squares underflow or overflow have length 0 or
  // infinity, so there is no direction (the pixel's alpha), or every
  // quotient is 0 and the facing ratio is 0 (the full mask).
  const std::pair<RGBA, float> cases[] = {
      {{0, 0, 1, 1}, 0},
      {{0, 0, -1, 1}, 0},
      {{1, 0, 0, 1}, 1},
      {{0, -3, 0, 1}, 1},
      {{1, 0, 1, 1}, 0.29289322f},
      {{0, 0, 0, 0.5f}, 0.5f},
      {{1, 0, 0, 0}, 0},
      {{0.5f, 0.5f, 1, 1}, float(1 - 1 / std::sqrt(1.5))},
      {{0, 0, 1e-30f, 0.5f}, 0.5f},
      {{1e-30f, 0, 0, 0.25f}, 0.25f},
      {{INFINITY, 0, 0, 1}, 1},
      {{0, 0, INFINITY, 0.75f}, 0.75f},
      {{3e19f, 0, 3e19f, 1}, 1},
      {{0, NaN, 1, 0.5f}, 0.5f},
  };
  std::vector<RGBA> pixels;
  for (const auto& c : cases) pixels.push_back(c.first);
  ImagePtr normals = Row(pixels);
  ToolHarness tool(FallofRecord);
  ImagePtr out = tool.Connect("Normals", normals.get()).Render();
  for (size_t x = 0; x < std::size(cases); ++x) ExpectGreyNear(out.get(), int(x), cases[x].second);
}

TEST(Fallof, IntensityAndItsMapScaleBeforeTheClamp) {
  ImagePtr normals = Row({{1, 0, 1, 1}, {0, 1, 0, 1}, {0, 0, 0, 0.75f}});
  ToolHarness tool(FallofRecord);
  tool.Connect("Normals", normals.get());
  EXPECT_EQ(Pixels(tool.Set("Intensity", 4).Render().get()),
            (std::vector<RGBA>{Grey(1), Grey(1), Grey(0.75f)}));
  EXPECT_EQ(Pixels(tool.Set("Intensity", -1).Render().get()),
            (std::vector<RGBA>{Grey(0), Grey(0), Grey(0.75f)}));
  const float edge = float(1 - 1 / std::sqrt(2.0));
  ExpectGreyNear(tool.Set("Intensity", 2).Render().get(), 0, 2 * edge);
  // The map scales the intensity by the chosen channel; a zero normal keeps
  // its alpha.
  ImagePtr edges = Row({{1, 0, 1, 1}, {1, 0, 1, 1}, {0, 0, 0, 0.5f}});
  ImagePtr map = Row({{0.3f, 0.6f, 0.9f, 1}, {0.3f, 0.6f, 0.9f, 0}, {1, 1, 1, 0}});
  ToolHarness mapped(FallofRecord);
  mapped.Connect("Normals", edges.get()).Connect("Intensity Map", map.get());
  ImagePtr lum = mapped.Render();
  ExpectGreyNear(lum.get(), 0, edge * 0.6f);
  ExpectGreyNear(lum.get(), 1, edge * 0.6f);
  ImagePtr alpha = mapped.Choose("Map Channel", "Alpha").Render();
  ExpectGreyNear(alpha.get(), 0, edge);
  ExpectGreyNear(alpha.get(), 1, 0.0f, 0);
  ExpectGreyNear(alpha.get(), 2, 0.5f, 0);
  ExpectGreyNear(mapped.Choose("Map Channel", "Blue").Render().get(), 0, edge * 0.9f);
}

// ---------------------------------------------------------------------------
// All three

struct ToolCase {
  const char* name;
  const ToolRecord* record;
  const char* pass;
  const char* second;
};

const ToolCase AllTools[] = {
    {"Relight", &RelightRecord, "NormalsOrPosition", "Intensity/Size Map"},
    {"SimpleSpotlight", &SimpleSpotlightRecord, "Position", "Normals"},
    {"Fallof", &FallofRecord, "Normals", "Intensity Map"},
};

// The pass is required and the second image optional; the page groups the
// light's numbers and holds the cone's exponent to whole numbers.
TEST(RelightTools, InputsTakeTheirAttributes) {
  for (const ToolCase& t : AllTools) {
    ToolHarness tool(*t.record);
    EXPECT_TRUE(tool.In(t.pass).IsRequired()) << t.name;
    EXPECT_FALSE(tool.In(t.second).IsRequired()) << t.name;
    EXPECT_EQ(tool.In(t.second).Attributes().GetInt(MainInput), 2) << t.name;
  }
  ToolHarness relight(RelightRecord);
  const std::vector<const char*> options = relight.In("Map Fuction").Options();
  EXPECT_EQ(std::vector<std::string>(options.begin(), options.end()),
            (std::vector<std::string>{"Intensity", "Size"}));
  EXPECT_STREQ(relight.In("Red").Attributes().GetText(ColorGroupName), "Light Position/Direction");
  ToolHarness spot(SimpleSpotlightRecord);
  const TagList& cone = spot.In("LightConeSize").Attributes();
  EXPECT_EQ(cone.GetInt(Integer), 1);
  EXPECT_EQ(cone.GetDouble(RangeMin), 1.0);
  EXPECT_EQ(cone.GetDouble(LimitMax), 100.0);
  EXPECT_STREQ(spot.In("Red2").Attributes().GetText(ColorGroupName), "Light Target");
  EXPECT_EQ(spot.In("Blue2").Attributes().GetInt(ColorGroup), 3);
}

// No pass sets no image and an empty one an empty image. A second image of
// the pass's size keeps the further channels of the pass; one of another
// size clears the output, further channels too.
TEST(RelightTools, EmptyPassesFurtherChannelsAndASecondImageOfAnotherSize) {
  auto color = [](int x, int y) { return RGBA{0.1f * x, 0.2f * y, 0.5f, 1}; };
  ImagePtr pass = MakeImage(3, 2, color, {"Z", "id"},
                            [](int x, int y, int c) { return float(100 * c + 10 * y + x); });
  for (const ToolCase& t : AllTools) {
    ToolHarness bare(*t.record);
    EXPECT_THROW(bare.Render(), MissingImages) << t.name;
    ImagePtr empty(NewImage(4, 0));
    ImagePtr emptyOut = bare.Connect(t.pass, empty.get()).Render();
    ASSERT_TRUE(emptyOut) << t.name;
    EXPECT_EQ(emptyOut->Width(), 4);
    EXPECT_EQ(emptyOut->Height(), 0);
    for (auto [w, h] : {std::pair{0, 0}, {3, 2}, {3, 1}, {2, 2}, {4, 4}}) {
      SCOPED_TRACE(std::string(t.name) + " " + std::to_string(w) + "x" + std::to_string(h));
      ImagePtr second = ConstantImage(w, h, {0.5f, 0.5f, 1, 1});
      ToolHarness tool(*t.record);
      if (t.record == &SimpleSpotlightRecord) AimDown(tool, 1);
      tool.Connect(t.pass, pass.get());
      if (w > 0) tool.Connect(t.second, second.get());
      ImagePtr out = tool.Render();
      ASSERT_TRUE(out);
      ASSERT_EQ(out->FurtherNames(), pass->FurtherNames());
      if (w > 0 && (w != 3 || h != 2)) {
        ImagePtr cleared(NewImage({{ImageLike, static_cast<const void*>(pass.get())}}));
        cleared->Fill(0, 0, 0, 0);
        EXPECT_TRUE(SameBytes(out.get(), cleared.get()));
        continue;
      }
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          for (int c = 0; c < 2; ++c)
            EXPECT_EQ(FurtherAt(out.get(), x, y, c), float(100 * c + 10 * y + x));
    }
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

// On a bumpy surface seen from the front: the occlusion as grey in every
// channel, with the normals' further channel "id" (100 y + x); a bias of 2
// clears it; the quality counts in whole steps of at least one.
TEST(SSAO,
     WritesGreyOcclusionWithTheNormalsFurtherChannelsBiasClearsItAndQualityCountsInWholeSteps) {
  Bumps bumps(12, 10, {"id"});
  ToolHarness tool(SSAORecord);
  tool.Set("Intensity", 3).Set("SampleRad", 20);
  tool.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());
  ImagePtr out = tool.Render();  // quality 1, bias 0
  for (double q : {1.9, 0.0, -4.0, double(NaN)})
    EXPECT_TRUE(SameBytes(out.get(), tool.Set("Quality", q).Render().get())) << q;
  EXPECT_FALSE(SameBytes(out.get(), tool.Set("Quality", 2).Render().get()));
  ImagePtr biased = tool.Set("Quality", 1).Set("Bias", 2).Render();
  float most = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      const RGBA px = PixelAt(out.get(), x, y);
      EXPECT_EQ(px, (RGBA{px.r, px.r, px.r, px.r}));
      most = std::max(most, px.r);
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), float(100 * y + x));
      EXPECT_EQ(PixelAt(biased.get(), x, y).r, 0.0f);
    }
  EXPECT_GT(most, 0.0f);
}

// Normals facing the camera: a flat surface is open; on a 1 x 1 position
// pass every sample hits the pixel's own point, adding 0.25 x 2 each, and
// the 16 Q of them are divided by 16 Q.
TEST(SSAO, AFlatSurfaceIsOpenAndSamplesOfOnePointAverageMinusBiasTimesIntensity) {
  ImagePtr normals = ConstantImage(9, 7, {0.5f, 0.5f, 1.0f, 1});
  ImagePtr flat = MakeImage(9, 7, [](int x, int y) { return RGBA{x * 0.5f, -y * 2.0f, 3, 1}; });
  ImagePtr point = ConstantImage(1, 1, {0, 0, 2, 1});
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", 3).Connect("Normals", normals.get()).Connect("Position", flat.get());
  EXPECT_TRUE(SameBytes(tool.Render().get(), ConstantImage(9, 7, {0, 0, 0, 0}).get()));
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

TEST(SSAO, SameBytesOnOneOrEightThreads) {
  Bumps bumps(96, 64, {"id"});
  ToolHarness ssao(SSAORecord);
  ssao.Set("Quality", 2).Set("SampleRad", 25);
  ssao.Connect("Normals", bumps.normals.get()).Connect("Position", bumps.position.get());
  EXPECT_TRUE(SameBytesOnOneOrManyThreads(ssao));
}

}  // namespace
