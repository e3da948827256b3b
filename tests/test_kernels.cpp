// The kernel layer: every tool's fast rows against its plain rule, bit for
// bit, at every CPU level built into the program that this processor runs,
// on rows of awkward values and of every length up to past the widest step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
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
bool SamePixel(const FltPixel4& a, const FltPixel4& b) {
  for (int c = 0; c < 4; ++c)
    if (std::memcmp(&a.Chan[c], &b.Chan[c], sizeof(float)) != 0 &&
        !(std::isnan(a.Chan[c]) && std::isnan(b.Chan[c])))
      return false;
  return true;
}

// The fast form of a row and the plain rule of one pixel (blue, green, red,
// alpha, changed in place), each with the pixels of a second row.
struct RowCase {
  std::string name;
  std::function<void(const float* in, const float* second, float* out, size_t width)> fast;
  std::function<void(float (&px)[4], const float* second)> plain;
};

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
  // The divider: float Zmax, double Zmax, Zmax that need the division, and
  // results large enough to stream (the stream flag alone decides).
  for (double zmax : {7.5, 9.107735, 0.1, -2.5000000001, 1e-30, 1e30, 1e300, 1e-310, 0.0, -0.0,
                      double(Inf), double(NaN)})
    for (bool stream : {false, true})
      cases.push_back({"ZDevider Zmax " + std::to_string(zmax) + (stream ? " streamed" : ""),
                       [=](const float* in, const float*, float* out, size_t w) {
                         dof::DivideRun(in, out, w, zmax, stream);
                       },
                       [=](float(&px)[4], const float*) {
                         for (int c = 0; c < 3; ++c) px[c] = dof::DivideDepth(px[c], zmax);
                       }});
  // Zmax = x / h for a value x of the rows and a point h halfway between two
  // floats: there the product with the reciprocal would narrow to the wrong
  // float, and the run must divide instead.
  std::mt19937 random(11);
  std::uniform_real_distribution<float> unit(1.0f, 2.0f);
  for (int i = 0; i < 40; ++i) {
    const float f = unit(random) * float(1 << i % 20);
    const double halfway = double(f) + double(std::nextafter(f, Inf) - f) / 2;
    const double zmax = double(Awkward[14 + i % 6]) / halfway;
    cases.push_back({"ZDevider halfway " + std::to_string(zmax),
                     [=](const float* in, const float*, float* out, size_t w) {
                       dof::DivideRun(in, out, w, zmax, false);
                     },
                     [=](float(&px)[4], const float*) {
                       for (int c = 0; c < 3; ++c) px[c] = dof::DivideDepth(px[c], zmax);
                     }});
  }

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
  for (const util::Stretch& s : stretches)
    cases.push_back({"Normalizer stretch from " + std::to_string(s.low),
                     [=](const float* in, const float*, float* out, size_t w) {
                       util::StretchRow(in, out, w, s, stretches[0], stretches[2]);
                     },
                     [=](float(&px)[4], const float*) {
                       px[ChanR] = util::StretchValue(s, px[ChanR]);
                       px[ChanG] = util::StretchValue(stretches[0], px[ChanG]);
                       px[ChanB] = util::StretchValue(stretches[2], px[ChanB]);
                     }});

  using util::ClipMode;
  const struct {
    ClipMode mode;
    double limit, multiplier;
  } clips[] = {{ClipMode::Clip, 50, 1},           {ClipMode::Clip, 12.5, 1.5},
               {ClipMode::Divide, 50, 2},         {ClipMode::Divide, 0.3, -0.0},
               {ClipMode::Disable, 25, 1},        {ClipMode::Clip, 0, 1},
               {ClipMode::Clip, 50.000001, 3},    {ClipMode::Keep, 10, 2},
               {ClipMode::Divide, double(NaN), 1}};
  for (const auto& c : clips)
    cases.push_back({"ClipMotionVectors mode " + std::to_string(int(c.mode)) + " limit " +
                         std::to_string(c.limit),
                     [=](const float* in, const float*, float* out, size_t w) {
                       util::ClipRow(in, out, w, c.mode, c.limit, c.multiplier);
                     },
                     [=](float(&px)[4], const float*) {
                       util::ClipVector(c.mode, c.limit, c.multiplier, px[ChanR], px[ChanG],
                                        px[ChanB]);
                     }});

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
  const relight::Vec3<float> axis{0.0f, 0.6f, 0.8f}, none{0.0f, 0.0f, 0.0f};
  for (const relight::Spotlight& light :
       {relight::Spotlight{{0, 0, 10}, axis, relight::ConePower(8), 1.0},
        relight::Spotlight{{0, 3, 10}, axis, relight::ConePower(2.5), 2.0},
        relight::Spotlight{{1, 0, 0}, none, relight::ConePower(0), double(Inf)}})
    AddGreyCases(cases, "SimpleSpotlight " + std::to_string(light.power.exponent), light,
                 relight::SpotRow, relight::SpotGrey<float>);

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
      for (size_t width = 0; width <= 37; width += width < 20 ? 1 : 17) {
        const std::vector<float> in = PixelsOf(width, uint32_t(width)),
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
              << c.name << ", " << width << " wide, pixel " << x << ": " << fast[x].Chan[0] << " "
              << fast[x].Chan[1] << " " << fast[x].Chan[2] << " " << fast[x].Chan[3] << " against "
              << plain[x].Chan[0] << " " << plain[x].Chan[1] << " " << plain[x].Chan[2] << " "
              << plain[x].Chan[3];
      }
  });
}

// The normaliser's first pass keeps, channel by channel, the values the rule
// takes in scan order, down to the sign of a zero that ties.
TEST(Kernels, RangesOfTheNormalizerFollowTheRuleAtEveryLevel) {
  const double thresholds[][2] = {{0, 1}, {-Inf, Inf}, {-1e-40, 0}, {0.5, 0.5}, {NaN, 1}};
  AtEveryLevel([&] {
    for (int w : {1, 7, 19}) {
      const std::vector<float> values = PixelsOf(size_t(w) * 3, uint32_t(w));
      ImagePtr img = MakeImage(w, 3, [&](int x, int y) {
        const float* p = &values[4 * size_t(y * w + x)];
        return RGBA{p[ChanR], p[ChanG], p[ChanB], p[ChanA]};
      });
      for (const auto& t : thresholds) {
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
      }
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

// The UV tools' rows against the walk of an image with a further channel,
// which follows the plain rules of tools/util/uv.h pixel by pixel.
// The rows of four pixels of the common layout and the pixel-by-pixel walk
// of any layout give the same bits: the same UV pass over a texture with and
// without a further channel, in every mode and orientation. The pass holds
// positions inside, on and past every edge, past the fixed-point range, not
// a number, and pixels off the surface, over widths that leave a remainder;
// its lower rows hold only positions at most one repeat of the texture away,
// which the rows wrap a register at a time.
TEST(Kernels, PositionerRowsGiveTheBitsOfThePixelWalkAtEveryLevel) {
  AtEveryLevel([&] {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> coords = {0.0f,  0.5f,   0.999f,  1.0f,  -0.005f, -0.015f, 0.25f,
                                       NaN,   400.0f, -400.0f, inf,   -inf,    0.73f,   1.5f,
                                       -1.0f, 1e-30f, 0.333f,  2.01f, -0.5f,   0.1f,    0.9f};
    const std::vector<float> near = {0.0f, 0.5f,  0.999f, 1.0f, -0.005f, 0.25f, 0.73f,
                                     0.6f, -0.3f, 0.333f, 0.1f, 0.9f,    1.01f};
    const float alphas[] = {1.0f, 0.5f, 0.0f, -2.0f, 1.0f, NaN, 1.0f};
    ImagePtr pass = MakeImage(23, 14, [&](int x, int y) {
      const std::vector<float>& from = y < 7 ? coords : near;
      return RGBA{from[(x + 3 * y) % from.size()], from[(5 * x + y) % from.size()], 0,
                  alphas[(x + y) % 7]};
    });
    // Negative and infinite samples too: off the surface is +0, not 0 times
    // the sample.
    auto color = [inf](int x, int y) {
      return RGBA{float(x) - 6.0f, y == 8 ? inf : float(y), 1.0f + x * y, 0.5f};
    };
    ImagePtr common = MakeImage(13, 9, color);
    ImagePtr withFurther =
        MakeImage(13, 9, color, {"id"}, [](int x, int, int) { return float(x); });
    for (const char* mode : {"Black", "Wrap", "Duplicate"})
      for (int orientation = 0; orientation < 8; ++orientation) {
        ToolHarness tool(UVpositionerRecord);
        tool.Choose("SampleMode", mode).Set("Swap", orientation & 1).Set("Flipx", orientation & 2);
        tool.Set("Flipy", orientation & 4).Set("Xoffset", 0.125).Set("Uscale", 1.75);
        tool.Set("Vscale", 0.5).Connect("UV", pass.get());
        ImagePtr rows = tool.Connect("Image", common.get()).Render();
        ImagePtr walk = tool.Connect("Image", withFurther.get()).Render();
        for (int y = 0; y < pass->Height(); ++y)
          EXPECT_EQ(std::memcmp(rows->Group1(0, y), walk->Group1(0, y), 23 * 4 * sizeof(float)), 0)
              << mode << ", orientation " << orientation << ", row " << y;
      }
  });
}

// The rows of the common layout (written without clearing first, through a
// window of rows; the places that no write reaches are cleared after) and the
// pixel-by-pixel walk of any layout give the same bits, with every option and
// orientation. Every third row of the pass holds the pixels' own places, a
// row down, in its first 16 pixels, so that whole registers land side by
// side; the other places lie inside, on and past every edge, or are not a
// number or infinite, and reach rows far ahead of the window and behind it.
// The width leaves pixels past the last register; the source's values make
// averages that round. The rows are also run by hand with the window written
// out past the cache, as for a large result.
TEST(Kernels, UnwrapperRowsGiveTheBitsOfThePixelWalkAtEveryLevel) {
  AtEveryLevel([&] {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> coords = {0.0f,  0.5f,   0.999f, 1.0f, -0.3f, 1.7f,  0.25f,
                                       NaN,   -0.0f,  inf,    -inf, 0.73f, 0.04f, 0.96f,
                                       0.31f, 1e-30f, 0.333f, 0.1f, 0.9f,  0.62f, 0.48f};
    const int w = 23, h = 40;
    ImagePtr pass = MakeImage(w, h, [&](int x, int y) {
      if (y % 3 == 0 && x < 16) return RGBA{(x + 0.5f) / w, (y + 1.5f) / h, 0, 1};
      return RGBA{coords[(x + 3 * y) % coords.size()], coords[(5 * x + y) % coords.size()], 0, 1};
    });
    // Blue mixes huge values of both signs with small ones, so that the sum of
    // an average depends on the order it is taken in.
    const float blues[] = {1e30f, -1e30f, 0.25f, 3.0f, -1e30f};
    auto color = [&](int x, int y) {
      return RGBA{0.1f * x - 0.7f * y, 1.0f / (1 + x + y),
                  blues[(3 * x + 2 * y + x * y + x * x) % 5], 0.5f + 0.01f * x};
    };
    ImagePtr common = MakeImage(w, h, color);
    ImagePtr withFurther = MakeImage(w, h, color, {"id"}, [](int x, int, int) { return float(x); });
    const char* const options[] = {"Swap", "Flipx", "Flipy", "InterpolateSamples",
                                   "Interpolate pixel setting"};
    for (int set = 0; set < 32; ++set) {
      ToolHarness tool(UVunwrapRecord);
      for (int i = 0; i < 5; ++i) tool.Set(options[i], (set >> i) & 1);
      tool.Connect("UV", pass.get());
      ImagePtr rows = tool.Connect("Image", common.get()).Render();
      ImagePtr walk = tool.Connect("Image", withFurther.get()).Render();
      ImagePtr streamed(NewImage(w, h));
      UnwrapTarget target(streamed->RowTable(1), w, h, true);
      const UnwrapRows r{{(set & 1) != 0, (set & 2) != 0, (set & 4) != 0},
                         (set & 8) != 0,
                         (set & 16) != 0,
                         w,
                         h,
                         common->RowTable(1),
                         &target};
      for (int y = 0; y < h; ++y) UnwrapRow(r, pass->Group1(0, y), y);
      target.Finish();
      for (int y = 0; y < h; ++y) {
        EXPECT_EQ(std::memcmp(rows->Group1(0, y), walk->Group1(0, y), w * 4 * sizeof(float)), 0)
            << "options " << set << ", row " << y;
        EXPECT_EQ(std::memcmp(streamed->Group1(0, y), walk->Group1(0, y), w * 4 * sizeof(float)), 0)
            << "options " << set << ", streamed, row " << y;
      }
    }
  });
}

TEST(Kernels, LevelsAreNamedAndOnlyThoseTheProcessorRunsCanBeForced) {
  for (kernels::Cpu cpu :
       {kernels::Cpu::Avx512, kernels::Cpu::Avx2, kernels::Cpu::Sse4, kernels::Cpu::Scalar})
    EXPECT_EQ(kernels::CpuNamed(kernels::CpuName(cpu)), cpu);
  EXPECT_EQ(kernels::CpuNamed("avx"), std::nullopt);
  const std::vector<kernels::Cpu> here = kernels::CpuLevelsHere();
  for (kernels::Cpu cpu :
       {kernels::Cpu::Avx512, kernels::Cpu::Avx2, kernels::Cpu::Sse4, kernels::Cpu::Scalar}) {
    const bool runs = std::find(here.begin(), here.end(), cpu) != here.end();
    EXPECT_EQ(kernels::ForceCpu(cpu), runs) << kernels::CpuName(cpu);
  }
  EXPECT_TRUE(kernels::ForceCpu(std::nullopt));
  EXPECT_EQ(kernels::CurrentCpu(), here.front());
}

}  // namespace
