// The kernel layer: every tool's fast rows against its plain rule, bit for
// bit, at every CPU level built into the program that this processor runs,
// on rows of awkward values and of every length up to past the widest step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "frame/kernels.h"
#include "testing/harness.h"
#include "tools/dof/rules.h"
#include "tools/relight/rules.h"
#include "tools/util/rules.h"
#include "tools/util/uv.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// Values every rule must carry through: zeros of both signs, infinities,
// not a number, subnormals, the largest and smallest normal floats, huge and
// negative values, and ordinary depths.
const float Awkward[] = {
    0.0f,  -0.0f,           Inf,   -Inf, NaN,  -NaN,      1e-40f, -1e-45f, 3e38f, -3e38f,
    1e30f, 1.17549435e-38f, -7.5f, 0.5f, 1.0f, 9.107735f, 30.0f,  40.0f,   2.5f,  -24.0f};

// `pixels` pixels of the common layout: awkward values mixed with random bit
// patterns and ordinary numbers, each kind in every lane over the rows made.
std::vector<float> PixelsOf(size_t pixels, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<uint32_t> anyBits;
  std::uniform_real_distribution<float> ordinary(-60.0f, 60.0f);
  std::vector<float> v(4 * pixels);
  for (size_t i = 0; i < v.size(); ++i) {
    const uint32_t bits = anyBits(random);
    switch ((i + seed) % 3) {
      case 0:
        v[i] = Awkward[(7 * i + seed) % std::size(Awkward)];
        break;
      case 1:
        std::memcpy(&v[i], &bits, sizeof bits);
        break;
      default:
        v[i] = ordinary(random);
    }
  }
  return v;
}

// The same pixel, bit for bit, but for the sign and payload of a value that
// is not a number: which of two such operands an operation passes on
// follows the operand order the compiler picks for each build, which no
// build promises.
testing::AssertionResult SamePixel(const FltPixel4& a, const FltPixel4& b) {
  for (int c = 0; c < 4; ++c)
    if (std::memcmp(&a.Chan[c], &b.Chan[c], sizeof(float)) != 0 &&
        !(std::isnan(a.Chan[c]) && std::isnan(b.Chan[c])))
      return testing::AssertionFailure()
             << a.Chan[0] << " " << a.Chan[1] << " " << a.Chan[2] << " " << a.Chan[3] << " against "
             << b.Chan[0] << " " << b.Chan[1] << " " << b.Chan[2] << " " << b.Chan[3];
  return testing::AssertionSuccess();
}

// The fast form of a row and the plain rule of one pixel (blue, green, red,
// alpha, changed in place), each with the pixels of a second row.
struct RowCase {
  std::string name;
  std::function<void(const float* in, const float* second, float* out, size_t width)> fast;
  std::function<void(float (&px)[4], const float* second)> plain;
  std::function<std::vector<float>(size_t pixels, uint32_t seed)> rows = PixelsOf;
};

// A double halfway between two floats, near a random value of 1 to 2^20.
double Halfway(std::mt19937& random, int i) {
  const float f = std::uniform_real_distribution<float>(1.0f, 2.0f)(random) * float(1 << i % 20);
  return double(f) + double(std::nextafter(f, Inf) - f) / 2;
}

// The relighting tools write one grey value into every channel.
template <typename Settings, typename Row, typename Grey>
void AddGreyCases(std::vector<RowCase>& cases, const std::string& name, const Settings& settings,
                  Row row, Grey grey) {
  for (bool paired : {false, true})
    for (bool stream : {false, true})
      cases.push_back({name + (paired ? " with second image" : "") + (stream ? " streamed" : ""),
                       [=](const float* in, const float* second, float* out, size_t w) {
                         row(settings, in, paired ? second : nullptr, out, w, stream);
                       },
                       [=](float(&px)[4], const float* second) {
                         const kernels::Rgba<float> p = kernels::LoadPixel(px);
                         const float value =
                             float(grey(settings, paired, p, kernels::LoadPixel(second)));
                         px[0] = px[1] = px[2] = px[3] = value;
                       }});
}

std::vector<RowCase> Cases() {
  std::vector<RowCase> cases;
  auto divide = [&](const std::string& name, double zmax, bool stream) {
    cases.push_back({"ZDevider " + name + " " + std::to_string(zmax) + (stream ? " streamed" : ""),
                     [=](const float* in, const float*, float* out, size_t w) {
                       dof::DivideRun(in, out, w, zmax, stream);
                     },
                     [=](float(&px)[4], const float*) {
                       for (int c = 0; c < 3; ++c) px[c] = dof::DivideDepth(px[c], zmax);
                     }});
  };
  // Float Zmax, double Zmax, Zmax that need the division, and results large
  // enough to stream (the stream flag alone decides).
  for (double zmax : {7.5, 9.107735, 0.1, -2.5000000001, 1e-30, 1e30, 1e300, 1e-310, 0.0, -0.0,
                      double(Inf), double(NaN)})
    for (bool stream : {false, true}) divide("Zmax", zmax, stream);
  // Zmax = x / h for a value x of the rows and a point h halfway between two
  // floats: there the product with the reciprocal would narrow to the wrong
  // float, and the run must divide instead.
  std::mt19937 random(11);
  for (int i = 0; i < 40; ++i)
    divide("halfway", double(Awkward[14 + i % 6]) / Halfway(random, i), false);

  for (const dof::SharpZone zone :
       {dof::SharpZone{1.0, 9.107735, 7.783956, 10.97404},
        dof::SharpZone{0.1, 91.07735, 70.0, -1.0}, dof::SharpZone{10.0, 0.9, 0.5, 2.5},
        dof::SharpZone{-1.0, 5.0, 5.0, 5.0}})
    cases.push_back({"ZRemapper scale " + std::to_string(zone.scale),
                     [=](const float* in, const float*, float* out, size_t w) {
                       dof::RemapRow(zone, in, out, w);
                     },
                     [=](float(&px)[4], const float*) {
                       const dof::Side side = dof::SideOf(zone, px[ChanB]);
                       for (int c = 0; c < 3; ++c)
                         px[c] = dof::DistanceOutOfFocus(zone, px[c], side);
                     }});

  const util::Stretch stretches[] = {{0.25, 0.5, false},
                                     {-3.0, 1e-30, false},
                                     {0, 1, true},
                                     {0.5, 0.0, false},
                                     {1e30, -2.0, false}};
  auto addStretch = [&](const util::Stretch& s, bool stream) {
    cases.push_back({"Normalizer stretch from " + std::to_string(s.low) + " by " +
                         std::to_string(s.span) + (stream ? " streamed" : ""),
                     [=](const float* in, const float*, float* out, size_t w) {
                       util::StretchRow(in, out, w, s, stretches[0], stretches[2], stream);
                     },
                     [=](float(&px)[4], const float*) {
                       px[ChanR] = util::StretchValue(s, px[ChanR]);
                       px[ChanG] = util::StretchValue(stretches[0], px[ChanG]);
                       px[ChanB] = util::StretchValue(stretches[2], px[ChanB]);
                     }});
  };
  for (const util::Stretch& s : stretches)
    for (bool stream : {false, true}) addStretch(s, stream);
  // Spans that put a value of the rows at a point halfway between two floats.
  for (int i = 0; i < 20; ++i)
    addStretch({0.5, (Awkward[14 + i % 6] - 0.5) / Halfway(random, i), false}, i % 2);

  using util::ClipMode;
  const struct {
    ClipMode mode;
    double limit, multiplier;
  } clips[] = {{ClipMode::Clip, 50, 1},           {ClipMode::Clip, 12.5, 1.5},
               {ClipMode::Divide, 50, 2},         {ClipMode::Divide, 0.3, -0.0},
               {ClipMode::Disable, 25, 1},        {ClipMode::Clip, 0, 1},
               {ClipMode::Clip, 50.000001, 3},    {ClipMode::Keep, 10, 2},
               {ClipMode::Divide, double(NaN), 1}};
  auto addClip = [&](ClipMode mode, double limit, double multiplier, bool stream) {
    cases.push_back({"ClipMotionVectors mode " + std::to_string(int(mode)) + " limit " +
                         std::to_string(limit) + " times " + std::to_string(multiplier) +
                         (stream ? " streamed" : ""),
                     [=](const float* in, const float*, float* out, size_t w) {
                       util::ClipRow(in, out, w, mode, limit, multiplier, stream);
                     },
                     [=](float(&px)[4], const float*) {
                       util::ClipVector(mode, limit, multiplier, px[ChanR], px[ChanG], px[ChanB]);
                     }});
  };
  for (const auto& c : clips)
    for (bool stream : {false, true}) addClip(c.mode, c.limit, c.multiplier, stream);
  // Vectors of whole lengths, and multipliers and limits that put one of
  // their clipped channels at a point halfway between two floats.
  const float triples[][3] = {{3, 4, 0}, {12, 0, 5}, {15, 8, 0}, {7, 0, 24}, {20, 21, 0}};
  for (int i = 0; i < 30; ++i) {
    const float* t = triples[i % 5];
    const double q = t[0] / std::sqrt(double(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]));
    const double limit = i % 3 ? 1.0 : 0.75 + i % 5;
    addClip(i % 3 ? ClipMode::Divide : ClipMode::Clip, limit, Halfway(random, i) / (q * limit),
            false);
    cases.back().rows = [triples](size_t pixels, uint32_t) {
      std::vector<float> v;
      for (size_t x = 0; x < pixels; ++x) {
        const float* t = triples[x % 5];
        v.insert(v.end(), {t[2], t[1], t[0], 1.0f});
      }
      return v;
    };
  }

  using relight::MapChannel;
  for (auto channel : {MapChannel::Luminance, MapChannel::Alpha})
    for (double intensity : {1.0, -1.0, 4.0})
      AddGreyCases(cases, "Fallof " + std::to_string(intensity),
                   relight::Falloff{intensity, channel}, relight::FalloffRow,
                   relight::FalloffGrey<float>);
  for (const relight::Light& light :
       {relight::Light{0, 0, 0, 1, 0, MapChannel::Luminance, false},
        relight::Light{0, 0, 0, 1, 1, MapChannel::Red, false},
        relight::Light{0.5, -1, 0, 1, 3, MapChannel::Green, true},
        relight::Light{1e30, 2, -3, 2, 0.5, MapChannel::Alpha, false}})
    AddGreyCases(cases, "Relight " + std::to_string(light.size), light, relight::LightRow,
                 relight::LightGrey<float>);
  // The spotlight: whole cone exponents; the general power and that of a
  // whole number and a half on cosines of every kind, from +0 (no axis), and
  // for an exponent it leaves to the standard library (below 1); and a light
  // so far away that every pixel of ordinary values sees the same cosine c,
  // with intensities that put c^e · intensity just above and just below a
  // point halfway between two floats (normal, subnormal, and between the
  // largest float and infinity), or c^e below the range of doubles: the
  // rows' powers must leave those registers to the plain rule.
  const relight::Vec3<float> axis{0.0f, 0.6f, 0.8f}, none{0.0f, 0.0f, 0.0f};
  std::vector<relight::Spotlight> lights = {{{0, 0, 10}, axis, relight::ConePower(8), 1.0},
                                            {{0, 3, 10}, axis, relight::ConePower(2.5), 2.0},
                                            {{0, 3, 10}, axis, relight::ConePower(2.7), 2.0},
                                            {{1, 0, 0}, none, relight::ConePower(0), double(Inf)},
                                            {{1, 0, 0}, none, relight::ConePower(7.5), 1.0},
                                            {{1, 0, 0}, none, relight::ConePower(7.3), 1.0},
                                            {{0, 3, 10}, axis, relight::ConePower(0.5), 1.0}};
  const relight::Vec3<float> far{1e18f, 2e18f, 3e18f};
  const float c = std::max(relight::Dot(relight::Normalized(far), axis), 0.0f);
  const double halfways[] = {(double(1.3f) + double(std::nextafter(1.3f, 0.0f))) / 2,
                             std::ldexp(2 * 1234567 + 1, -150),
                             std::ldexp(1.0, 128) - std::ldexp(1.0, 103)};
  for (double exponent : {7.5, 7.3, 2000.5, 2000.3})
    for (double halfway : halfways)
      for (double side : {1 + 0x1p-50, 1 - 0x1p-50})
        lights.push_back(
            {far, axis, relight::ConePower(exponent), halfway * side / std::pow(c, exponent)});
  for (double exponent : {30000.5, 30000.3})
    for (double intensity : {1.0, 1e300})
      lights.push_back({far, axis, relight::ConePower(exponent), intensity});
  // c^e among the doubles below the normal ones, lit back into the floats.
  lights.push_back(
      {far, axis, relight::ConePower(std::floor(-1050 / std::log2(c)) + 0.5), 0x1p1000});
  for (const relight::Spotlight& light : lights) {
    char name[80];
    std::snprintf(name, sizeof name, "SimpleSpotlight %g intensity %.17g", light.power.exponent,
                  light.intensity);
    AddGreyCases(cases, name, light, relight::SpotRow, relight::SpotGrey<float>);
  }

  for (bool stream : {false, true})
    cases.push_back({std::string("copy") + (stream ? " streamed" : ""),
                     [=](const float* in, const float*, float* out, size_t w) {
                       kernels::CopyPixels(in, out, 4 * w, stream);
                     },
                     [](float(&)[4], const float*) {}});
  return cases;
}

// Runs `body` once at each level this processor has, forced, and names the
// level in every failure.
void AtEveryLevel(const std::function<void()>& body) {
  const std::vector<kernels::Cpu> levels = kernels::CpuLevelsHere();
  ASSERT_FALSE(levels.empty());
  EXPECT_EQ(levels.back(), kernels::Cpu::Scalar);
  for (kernels::Cpu cpu : levels) {
    SCOPED_TRACE(kernels::CpuName(cpu));
    ASSERT_TRUE(kernels::ForceCpu(cpu));
    ASSERT_EQ(kernels::CurrentCpu(), cpu);
    body();
  }
  kernels::ForceCpu(std::nullopt);
}

TEST(Kernels, EveryFastRowHasTheBitsOfItsPlainRuleAtEveryLevel) {
  const std::vector<RowCase> cases = Cases();
  AtEveryLevel([&] {
    for (const RowCase& c : cases)
      // Up to past the widest step, and one row of several chunks of steps.
      for (size_t width = 0; width <= 300; width += width < 20 ? 1 : width < 37 ? 17 : 263) {
        const std::vector<float> in = c.rows(width, uint32_t(width)),
                                 second = PixelsOf(width, uint32_t(width + 3));
        // 16-byte aligned, as every pixel of the common layout is.
        std::vector<FltPixel4> fast(width + 1), plain(width + 1);
        c.fast(in.data(), second.data(), fast[0].Chan, width);
        for (size_t x = 0; x < width; ++x) {
          std::memcpy(plain[x].Chan, &in[4 * x], sizeof plain[x].Chan);
          c.plain(plain[x].Chan, &second[4 * x]);
        }
        kernels::FinishStreaming();
        for (size_t x = 0; x < width; ++x)
          ASSERT_TRUE(SamePixel(fast[x], plain[x]))
              << c.name << ", " << width << " wide, pixel " << x;
      }
  });
}

// The normaliser's first pass keeps, channel by channel, the values the rule
// takes in scan order, down to the sign of a zero that ties: on rows of
// awkward values, and on rows of ones with two zeros of opposite signs at
// every pair of places (over two rows that span several registers of
// several accumulators at every level), each channel's pair elsewhere.
TEST(Kernels, RangesOfTheNormalizerFollowTheRuleAtEveryLevel) {
  const double thresholds[][2] = {{0, 1}, {-Inf, Inf}, {-1e-40, 0}, {0.5, 0.5}, {NaN, 1}};
  auto check = [](const std::vector<float>& values, int w, const double(&t)[2]) {
    ImagePtr img = MakeImage(w, int(values.size() / 4) / w, [&](int x, int y) {
      const float* p = &values[4 * size_t(y * w + x)];
      return RGBA{p[ChanR], p[ChanG], p[ChanB], p[ChanA]};
    });
    util::ChannelRange red{t[0], t[1]}, green{-t[1], t[1]}, blue{t[0], 1e30};
    util::ChannelRange r = red, g = green, b = blue;
    util::FindRanges(img.get(), red, green, blue);
    for (size_t i = 0; i < values.size(); i += 4) {
      util::TakeIntoRange(b, values[i + ChanB]);
      util::TakeIntoRange(g, values[i + ChanG]);
      util::TakeIntoRange(r, values[i + ChanR]);
    }
    for (auto [got, want] : {std::pair(red, r), std::pair(green, g), std::pair(blue, b)}) {
      EXPECT_EQ(std::signbit(got.min), std::signbit(want.min)) << w << " wide";
      EXPECT_EQ(got.min, want.min) << w << " wide, thresholds " << t[0] << " " << t[1];
      EXPECT_EQ(got.max, want.max) << w << " wide, thresholds " << t[0] << " " << t[1];
      EXPECT_EQ(std::signbit(got.max), std::signbit(want.max)) << w << " wide";
    }
  };
  AtEveryLevel([&] {
    for (int w : {1, 7, 19}) {
      const std::vector<float> values = PixelsOf(size_t(w) * 3, uint32_t(w));
      for (const auto& t : thresholds) check(values, w, t);
    }
    constexpr int w = 37, n = 2 * w;
    for (int first = 0; first < n; ++first)
      for (int second = first + 1; second < n; ++second)
        for (float zero : {0.0f, -0.0f}) {
          std::vector<float> values(4 * n, 1.0f);
          auto pair = [&](int channel, int a, int b) {
            values[4 * std::min(a, b) + channel] = zero;
            values[4 * std::max(a, b) + channel] = -zero;
          };
          pair(ChanR, first, second);
          pair(ChanG, (first + 5) % n, (second + 5) % n);
          pair(ChanB, n - 1 - first, n - 1 - second);
          check(values, w, thresholds[0]);
        }
  });
}

// The convolution filter's blocks: each pixel the sums of its taps in tap
// order, divided by the weight, as ConvolvedPixel takes them one by one.
TEST(Kernels, ConvolutionBlocksFollowTheRuleAtEveryLevel) {
  const std::vector<float> source = PixelsOf(64 * 3, 5), weights = PixelsOf(9, 6);
  std::vector<dof::Tap> taps;
  std::vector<const float*> rows;
  for (int t = 0; t < 9; ++t) {
    dof::Tap tap{
        {weights[4 * t], weights[4 * t + 1], weights[4 * t + 2], weights[4 * t + 3]}, t % 5, t % 3};
    taps.push_back(tap);
    rows.push_back(&source[4 * 64 * size_t(tap.dy)]);
  }
  AtEveryLevel([&] {
    for (double weight : {3.5, 0.0, -1.0})
      for (int32_t width : {0, 7, 12, 40, 64}) {
        std::vector<FltPixel4> fast(64), plain(64);
        const int32_t done = dof::ConvolveBlocks(taps.data(), rows.data(), taps.size(), 4, width,
                                                 weight, fast[0].Chan);
        int32_t whole = 0;  // the blocks of eight whose taps, 4 columns on, fit
        while (whole + 7 + 4 < width) whole += 8;
        EXPECT_EQ(done, whole) << width;
        for (int32_t x = 0; x < done; ++x) {
          float sum[4] = {0, 0, 0, 0};
          for (size_t t = 0; t < taps.size(); ++t)
            for (int c = 0; c < 4; ++c)
              sum[c] += taps[t].weights[c] * rows[t][4 * (x + taps[t].dx) + c];
          dof::ConvolvedPixel(sum, weight, plain[size_t(x)].Chan);
          ASSERT_TRUE(SamePixel(fast[size_t(x)], plain[size_t(x)]))
              << width << " wide, weight " << weight << ", pixel " << x;
        }
      }
  });
}

// A UV pass of 23 pixels across, a width that leaves pixels past the last
// register, whose coordinates cycle through `coords`, or `place` where it
// gives one.
ImagePtr UVPassOf(int h, const std::vector<float>& coords,
                  const std::function<float(int, int)>& alpha,
                  const std::function<std::optional<RGBA>(int, int)>& place = {}) {
  return MakeImage(23, h, [&](int x, int y) {
    if (place)
      if (const std::optional<RGBA> p = place(x, y)) return *p;
    return RGBA{coords[(x + 3 * y) % coords.size()], coords[(5 * x + y) % coords.size()], 0,
                alpha(x, y)};
  });
}

// A texture of the common layout, and the same with a further channel.
struct Textures {
  ImagePtr common, withFurther;
  Textures(int w, int h, const std::function<RGBA(int, int)>& color)
      : common(MakeImage(w, h, color)),
        withFurther(MakeImage(w, h, color, {"id"}, [](int x, int, int) { return float(x); })) {}

  // The UV tool as it is set up gives the same bits with its rows of the
  // common layout on the first as with its pixel-by-pixel walk of any layout
  // on the second; the walk is returned.
  ImagePtr ExpectRowsAsTheWalk(ToolHarness& tool, const std::string& what) const {
    ImagePtr rows = tool.Connect("Image", common.get()).Render();
    ImagePtr walk = tool.Connect("Image", withFurther.get()).Render();
    ExpectSameRows(*rows, *walk, what);
    return walk;
  }
  static void ExpectSameRows(const Image& a, const Image& b, const std::string& what) {
    for (int y = 0; y < a.Height(); ++y)
      EXPECT_EQ(std::memcmp(a.Group1(0, y), b.Group1(0, y), a.Width() * 4 * sizeof(float)), 0)
          << what << ", row " << y;
  }
};

// In every mode and orientation, on a pass that holds positions inside, on
// and past every edge, past the fixed-point range, not a number, and pixels
// off the surface; negative and infinite samples too: off the surface is +0,
// not 0 times the sample. The pass's lower rows hold only positions at most
// one repeat of the texture away, which the rows wrap a register at a time.
TEST(Kernels, PositionerRowsGiveTheBitsOfThePixelWalkAtEveryLevel) {
  const float alphas[] = {1.0f, 0.5f, 0.0f, -2.0f, 1.0f, NaN, 1.0f};
  const std::vector<float> near = {0.0f, 0.5f,  0.999f, 1.0f, -0.005f, 0.25f, 0.73f,
                                   0.6f, -0.3f, 0.333f, 0.1f, 0.9f,    1.01f};
  ImagePtr pass = UVPassOf(
      14, {0.0f, 0.5f,  0.999f, 1.0f,  -0.005f, -0.015f, 0.25f, NaN,   400.0f, -400.0f, Inf,
           -Inf, 0.73f, 1.5f,   -1.0f, 1e-30f,  0.333f,  2.01f, -0.5f, 0.1f,   0.9f},
      [&](int x, int y) { return alphas[(x + y) % 7]; },
      [&](int x, int y) -> std::optional<RGBA> {
        if (y < 7) return std::nullopt;
        return RGBA{near[(x + 3 * y) % near.size()], near[(5 * x + y) % near.size()], 0,
                    alphas[(x + y) % 7]};
      });
  const Textures texture(13, 9, [](int x, int y) {
    return RGBA{float(x) - 6.0f, y == 8 ? Inf : float(y), 1.0f + x * y, 0.5f};
  });
  AtEveryLevel([&] {
    for (const char* mode : {"Black", "Wrap", "Duplicate"})
      for (int orientation = 0; orientation < 8; ++orientation) {
        ToolHarness tool(UVpositionerRecord);
        tool.Choose("SampleMode", mode).Set("Swap", orientation & 1).Set("Flipx", orientation & 2);
        tool.Set("Flipy", orientation & 4).Set("Xoffset", 0.125).Set("Uscale", 1.75);
        tool.Set("Vscale", 0.5).Connect("UV", pass.get());
        texture.ExpectRowsAsTheWalk(
            tool, std::string(mode) + ", orientation " + std::to_string(orientation));
      }
  });
}

// With every option and orientation (the rows write without clearing first,
// through a window of rows; the places that no write reaches are cleared
// after). Every third row of the pass holds the pixels' own places, a row
// down, in its first 16 pixels, so that whole registers land side by side;
// the other places lie inside, on and past every edge, or are not a number or
// infinite, and reach rows far ahead of the window and behind it. Blue mixes
// huge values of both signs with small ones, so that the sum of an average
// depends on the order it is taken in. The rows are also run by hand with the
// window written out past the cache, as for a large result.
TEST(Kernels, UnwrapperRowsGiveTheBitsOfThePixelWalkAtEveryLevel) {
  const int w = 23, h = 40;
  ImagePtr pass = UVPassOf(
      h, {0.0f,  0.5f,  0.999f, 1.0f,  -0.3f,  1.7f,   0.25f, NaN,  -0.0f, Inf,  -Inf,
          0.73f, 0.04f, 0.96f,  0.31f, 1e-30f, 0.333f, 0.1f,  0.9f, 0.62f, 0.48f},
      [](int, int) { return 1.0f; },
      [&](int x, int y) -> std::optional<RGBA> {
        if (y % 3 == 0 && x < 16) return RGBA{(x + 0.5f) / w, (y + 1.5f) / h, 0, 1};
        return std::nullopt;
      });
  const Textures source(w, h, [](int x, int y) {
    const float blues[] = {1e30f, -1e30f, 0.25f, 3.0f, -1e30f};
    return RGBA{0.1f * x - 0.7f * y, 1.0f / (1 + x + y), blues[(3 * x + 2 * y + x * y + x * x) % 5],
                0.5f + 0.01f * x};
  });
  const char* const options[] = {"Swap", "Flipx", "Flipy", "InterpolateSamples",
                                 "Interpolate pixel setting"};
  AtEveryLevel([&] {
    for (int set = 0; set < 32; ++set) {
      ToolHarness tool(UVunwrapRecord);
      for (int i = 0; i < 5; ++i) tool.Set(options[i], (set >> i) & 1);
      const std::string what = "options " + std::to_string(set);
      ImagePtr walk = source.ExpectRowsAsTheWalk(tool.Connect("UV", pass.get()), what);
      ImagePtr streamed(NewImage(w, h));
      UnwrapTarget target(streamed->RowTable(1), w, h, true);
      const UnwrapRows r{{(set & 1) != 0, (set & 2) != 0, (set & 4) != 0},
                         (set & 8) != 0,
                         (set & 16) != 0,
                         w,
                         h,
                         source.common->RowTable(1),
                         &target};
      for (int y = 0; y < h; ++y) UnwrapRow(r, pass->Group1(0, y), y);
      target.Finish();
      Textures::ExpectSameRows(*streamed, *walk, what + ", streamed");
    }
  });
}

// The dirty depth of field's rows against its plain loop, which renders
// every pixel at the scalar level: widths that leave pixels past the last
// register and span more than one tile, depth passes of other sizes, depths
// in front of, inside and behind the zone of sharpness, at 0, negative and
// not a number, and a plane of focus past the hyperfocal distance, where a
// pixel in front runs both passes. The source holds alphas of every sign,
// an infinity and a value that is not a number.
TEST(Kernels, DirtyDofRowsGiveTheBitsOfThePlainLoopAtEveryLevel) {
  const struct {
    int width, height, depthWidth, depthHeight;
    double planeOfFocus, samples;
  } cases[] = {
      {301, 3, 301, 3, 9.107735, 20}, {37, 6, 11, 4, 9.107735, 20}, {21, 5, 40, 9, 9.107735, 7},
      {29, 7, 29, 7, 100, 20},        {13, 4, 1, 1, 100, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", depth " << c.depthWidth
                                    << " x " << c.depthHeight << ", focus " << c.planeOfFocus);
    ImagePtr src = MakeImage(c.width, c.height, [](int x, int y) {
      const float alphas[] = {1.0f, 0.5f, 0.0f, -0.25f, 2.0f, -0.0f, 1.0f};
      return RGBA{x == 5 && y == 1 ? Inf : std::sin(0.3f * x), float(y) / 3,
                  x == 9 && y == 2 ? NaN : float((x * 7 + y * 3) % 11), alphas[(x + 2 * y) % 7]};
    });
    ImagePtr z = MakeImage(c.depthWidth, c.depthHeight, [](int x, int y) {
      const float d = (x + y) % 13 == 4   ? NaN
                      : (x + y) % 17 == 6 ? 0.0f
                                          : 0.3f + 0.25f * x + 0.1f * y;
      return RGBA{d, d, (x + y) % 19 == 8 ? -d : d, 1};
    });
    ToolHarness tool(DirtyDofRecord);
    tool.Set("PlaneOfFocus", c.planeOfFocus).Set("cSamples", c.samples);
    tool.Connect("Image", src.get()).Connect("Zdepth", z.get());
    ASSERT_TRUE(kernels::ForceCpu(kernels::Cpu::Scalar));
    ImagePtr plain = tool.Render();
    AtEveryLevel([&] { EXPECT_TRUE(SameBytes(plain.get(), tool.Render().get())); });
  }
}

TEST(Kernels, LevelsAreNamedAndOnlyThoseTheProcessorRunsCanBeForced) {
  EXPECT_EQ(kernels::CpuNamed("avx"), std::nullopt);
  const std::vector<kernels::Cpu> here = kernels::CpuLevelsHere();
  for (kernels::Cpu cpu :
       {kernels::Cpu::Avx512, kernels::Cpu::Avx2, kernels::Cpu::Sse4, kernels::Cpu::Scalar}) {
    EXPECT_EQ(kernels::CpuNamed(kernels::CpuName(cpu)), cpu);
    const bool runs = std::find(here.begin(), here.end(), cpu) != here.end();
    EXPECT_EQ(kernels::ForceCpu(cpu), runs) << kernels::CpuName(cpu);
  }
  EXPECT_TRUE(kernels::ForceCpu(std::nullopt));
  EXPECT_EQ(kernels::CurrentCpu(), here.front());
}

}  // namespace
