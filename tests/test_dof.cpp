// The depth-of-field tools that map each pixel on its own.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/harness.h"

namespace {

TEST(ZDevider, DefaultLeavesEveryChannelAsItWas) {
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
}

TEST(ZDevider, DividesColourAndKeepsAlpha) {
  ImagePtr src = ConstantImage(2, 2, {0.8f, 0.4f, 2.0f, 0.5f});
  ToolHarness tool(ZDeviderRecord);
  ImagePtr out = tool.Set("Zmax", 2.0).Connect("Input", src.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 1, 1), (RGBA{0.4f, 0.2f, 1.0f, 0.5f}));
}

TEST(ZDevider, DividesInDoublePrecision) {
  // 1/3 worked in double then narrowed differs from float division for some
  // values; 16777215 / 3 is one.
  const float v = 16777215.0f;
  ImagePtr src = ConstantImage(1, 1, {v, -v, 1.0f, 1.0f});
  ToolHarness tool(ZDeviderRecord);
  ImagePtr out = tool.Set("Zmax", 3.0).Connect("Input", src.get()).Render();
  EXPECT_EQ(PixelAt(out.get(), 0, 0).r, static_cast<float>(double(v) / 3.0));
  EXPECT_EQ(PixelAt(out.get(), 0, 0).g, static_cast<float>(-double(v) / 3.0));
}

TEST(ZDevider, ZeroAndNegativeZmaxFollowIeee) {
  ImagePtr src = ConstantImage(1, 1, {2.0f, -2.0f, 0.0f, 1.0f});
  ToolHarness tool(ZDeviderRecord);
  tool.Connect("Input", src.get());
  RGBA zero = PixelAt(tool.Set("Zmax", 0.0).Render().get(), 0, 0);
  EXPECT_EQ(zero.r, std::numeric_limits<float>::infinity());
  EXPECT_EQ(zero.g, -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(zero.b));
  EXPECT_EQ(zero.a, 1.0f);
  RGBA negative = PixelAt(tool.Set("Zmax", -1.0).Render().get(), 0, 0);
  EXPECT_EQ(negative, (RGBA{-2.0f, 2.0f, -0.0f, 1.0f}));
}

TEST(ZDevider, EmptySourceStillSetsAnImage) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 5}}) {
    ImagePtr src(NewImage(w, h));
    ToolHarness tool(ZDeviderRecord);
    ImagePtr out = tool.Connect("Input", src.get()).Render();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Width(), w);
    EXPECT_EQ(out->Height(), h);
  }
}

// --- Camera calculator and Z depth remapper ---------------------------------

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// The six computed fields, in the order the tools write them.
constexpr const char* CameraFields[] = {"FrameAspect", "CoC", "HyperFocal", "DoFN", "DoFF", "DoFT"};

std::vector<double> Fields(ToolHarness& tool) {
  std::vector<double> values;
  for (const char* id : CameraFields) values.push_back(tool.Value(id));
  return values;
}

// The six fields compared to the last bit, NaN equal to NaN.
testing::AssertionResult FieldsAre(ToolHarness& tool, const std::vector<double>& want) {
  const std::vector<double> got = Fields(tool);
  for (size_t i = 0; i < got.size(); ++i)
    if (!(got[i] == want.at(i) || (std::isnan(got[i]) && std::isnan(want[i]))))
      return testing::AssertionFailure()
             << CameraFields[i] << " is " << testing::PrintToString(got[i]) << ", not "
             << testing::PrintToString(want[i]);
  return testing::AssertionSuccess();
}

// The shortest text that reads back as the same double.
std::string Shortest(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// One input as its table row: "ID: display name: attribute values in order".
std::string Describe(const Input& in) {
  static const std::map<Tag, std::string> names = {
      {RangeMin, "min="},         {Default, "default="},  {InputFlagA, "flagA="},
      {InputFlag10, "flag10="},   {InputFlag0, "flag0="}, {ColorGroup, "group="},
      {ColorChannel, "channel="}, {MainInput, "main="}};
  std::string text = std::string(in.ID().Text()) + ": " + in.Name().Text() + ":";
  for (const TagItem& item : in.Attributes()) {
    auto name = names.find(item.tag);
    text += " " + (name == names.end() ? "" : name->second) +
            (item.Kind() == TagKind::Double ? Shortest(item.value.d) : item.ValueText());
  }
  return text;
}

std::vector<std::string> DescribeInputs(ToolHarness& tool) {
  std::vector<std::string> rows;
  for (const auto& in : tool.Tool().Inputs()) rows.push_back(Describe(*in));
  return rows;
}

const std::vector<std::string> CameraInputRows = {
    "FocalLength: Focal Length (mm): \"Number\" \"SliderControl\" min=0 default=50",
    "ApertureWidth: Aperture Width (inch): \"Number\" \"SliderControl\" min=0 "
    "default=0.98",
    "ApertureHeight: Aperture Height (inch): \"Number\" \"SliderControl\" min=0 "
    "default=0.735",
    "Fstop: Fstop: \"Number\" \"SliderControl\" min=0 default=2.8",
};
const std::vector<std::string> FieldRows = {
    "FrameAspect: Frame Aspect: \"Number\" \"SliderControl\" default=1 flagA=1 flag10=1",
    "CoC: Circle of confusion (mm): \"Number\" \"SliderControl\" default=1 flagA=1 flag10=1",
    "HyperFocal: HyperFocal (m): \"Number\" \"SliderControl\" default=53.26039 flagA=1 "
    "flag10=1",
    "DOFInfo: If DofFar and DofTotal are infinite number output is 0.0: \"LabelControl\" flag0=0 "
    "flag10=1",
    "DoFN: DoF Near (m): \"Number\" \"SliderControl\" default=7.783956 flagA=1 flag10=1",
    "DoFF: DoF Far (m): \"Number\" \"SliderControl\" default=10.97404 flagA=1 flag10=1",
    "DoFT: DoF Total (m): \"Number\" \"SliderControl\" default=3.19008 flagA=1 flag10=1",
    "Input: Input: \"Image\" main=1",
};

TEST(CameraTools, DeclareTheirInputsInTableOrder) {
  const std::string title = "ICI: Input Cam And Scene Info: \"LabelControl\" flag0=0 flag10=1";
  std::vector<std::string> foCalc = {
      title,
      CameraInputRows[0],
      "PlaneOfFocus: Plane Of Focus (m): \"Number\" \"SliderControl\" default=9.107735 "
      "min=0",
      CameraInputRows[1],
      CameraInputRows[2],
      CameraInputRows[3],
      "CDO: Calculated DoF Output: \"LabelControl\" flag0=0 flag10=1"};
  foCalc.insert(foCalc.end(), FieldRows.begin(), FieldRows.end());
  std::vector<std::string> remapper = {
      title,
      "SceneScale: Scene Scale: \"Number\" \"SliderControl\" default=1",
      CameraInputRows[0],
      "PlaneOfFocus: Plane Of Focus (m): \"Number\" \"ColorControl\" default=9.107735 "
      "group=1 channel=0",
      CameraInputRows[1],
      CameraInputRows[2],
      CameraInputRows[3],
      "CDO: Calculated DoF Output (not multiplied by scene scale): \"LabelControl\" flag0=0 "
      "flag10=1"};
  remapper.insert(remapper.end(), FieldRows.begin(), FieldRows.end());
  ToolHarness calc(FoCalcRecord), remap(ZRemapperRecord);
  EXPECT_EQ(DescribeInputs(calc), foCalc);
  EXPECT_EQ(DescribeInputs(remap), remapper);
}

TEST(CameraTools, FieldsShowTheirOwnDefaultsUntilTheFirstRender) {
  for (const ToolRecord* rec : {&FoCalcRecord, &ZRemapperRecord}) {
    ToolHarness tool(*rec);
    EXPECT_TRUE(FieldsAre(tool, {1.0, 1.0, 53.26039, 7.783956, 10.97404, 3.19008}));
  }
}

// The worked camera values, to the last bit, for both tools: FoCalc with the
// plane of focus as given, the remapper with it ten times larger and a scene
// scale of 10.
TEST(CameraTools, FieldsShowTheCameraOfTheLastRenderToTheBit) {
  const double aspect = 1.3333333333333333, coc = 0.02074333333333333, hyper = 43.04308900162991;
  const struct {
    double planeOfFocus;
    std::vector<double> fields;
  } cases[] = {
      {9.107735, {aspect, coc, hyper, 7.524354090752879, 11.535117397613648, 4.0107633068607695}},
      {2, {aspect, coc, hyper, 1.9133200212179537, 2.0949064695488167, 0.1815864483308629}},
      // Beyond the hyperfocal distance the far limit is unbounded: shown as 0.
      {60, {aspect, coc, hyper, 25.07532655959978, 0.0, 0.0}},
      // A negative plane of focus counts by its size.
      {-2, {aspect, coc, hyper, 1.9133200212179537, 2.0949064695488167, 0.1815864483308629}},
      {0, {aspect, coc, hyper, 0.0, 0.0, 0.0}},
  };
  ImagePtr src = ConstantImage(1, 1, {1, 1, 1, 1});
  ToolHarness calc(FoCalcRecord), remap(ZRemapperRecord);
  calc.Connect("Input", src.get());
  remap.Set("SceneScale", 10).Connect("Input", src.get());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planeOfFocus);
    calc.Set("PlaneOfFocus", c.planeOfFocus).Render();
    EXPECT_TRUE(FieldsAre(calc, c.fields));
    remap.Set("PlaneOfFocus", c.planeOfFocus * 10).Render();
    EXPECT_TRUE(FieldsAre(remap, c.fields));
  }
}

TEST(CameraTools, DegenerateCamerasWriteIeeeValuesIntoTheFields) {
  const struct {
    const char* input;
    double value;
    std::vector<double> fields;
  } cases[] = {
      // No f-stop: the hyperfocal distance is infinite and the limits NaN.
      {"Fstop", 0, {1.3333333333333333, 0.02074333333333333, Inf, NaN, NaN, NaN}},
      // No film gate height: an infinite aspect, the rest from the width alone.
      {"ApertureHeight",
       0,
       {Inf, 0.016594666666666667, 53.80386125203737, 7.795400363293231, 10.951368337454968,
        3.1559679741617366}},
  };
  for (const ToolRecord* rec : {&FoCalcRecord, &ZRemapperRecord}) {
    for (const auto& c : cases) {
      ToolHarness tool(*rec);
      ImagePtr src = ConstantImage(1, 1, {1, 1, 1, 1});
      ImagePtr out = tool.Set(c.input, c.value).Connect("Input", src.get()).Render();
      ASSERT_TRUE(out) << c.input;
      EXPECT_TRUE(FieldsAre(tool, c.fields)) << rec->name << " " << c.input;
    }
  }
}

TEST(FoCalc, PassesEveryChannelThrough) {
  ImagePtr src = MakeImage(
      3, 2,
      [](int x, int y) {
        return RGBA{x - 1.5f, y * 40.0f, -0.0f, 0.25f * x};
      },
      {"Z"}, [](int x, int y, int) { return float(x * 7 - y); });
  ToolHarness tool(FoCalcRecord);
  ImagePtr out = tool.Set("Fstop", 0).Connect("Input", src.get()).Render();
  ASSERT_TRUE(out);
  ASSERT_EQ(out->FurtherCount(), 1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(std::memcmp(out->Group1(x, y), src->Group1(x, y), 4 * sizeof(float)), 0);
      EXPECT_EQ(FurtherAt(out.get(), x, y, 0), float(x * 7 - y));
    }
}

TEST(CameraTools, WithoutAnImageTheFieldsUpdateAndNothingIsSet) {
  for (const ToolRecord* rec : {&FoCalcRecord, &ZRemapperRecord}) {
    ToolHarness tool(*rec);
    EXPECT_FALSE(tool.Render());
    EXPECT_EQ(tool.Value("DoFN"), 7.524354090752879);
    for (auto [w, h] : {std::pair{0, 0}, std::pair{4, 0}, std::pair{0, 4}}) {
      ImagePtr src(NewImage(w, h));
      ImagePtr out = tool.Connect("Input", src.get()).Render();
      ASSERT_TRUE(out);
      EXPECT_EQ(out->Width(), w);
      EXPECT_EQ(out->Height(), h);
    }
  }
}

// Grey depth pixels remapped with the default camera and a scene scale of 1,
// or ten times the depths, plane of focus and scene scale.
TEST(ZRemapper, RemapsDepthsToTheirDistanceOutOfFocus) {
  const float depths[] = {0, 5, 8, 10, 20};
  const float want[] = {7.524353981018066f, 2.5243539810180664f, 0, 0, 8.464882850646973f};
  for (double scale : {1.0, 10.0}) {
    ImagePtr src = MakeImage(5, 1, [&](int x, int) {
      const float z = depths[x] * float(scale);
      return RGBA{z, z, z, 0.5f};
    });
    ToolHarness tool(ZRemapperRecord);
    tool.Set("SceneScale", scale).Set("PlaneOfFocus", 9.107735 * scale);
    ImagePtr out = tool.Connect("Input", src.get()).Render();
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(PixelAt(out.get(), x, 0), (RGBA{want[x], want[x], want[x], 0.5f}))
          << "scale " << scale << ", depth " << depths[x];
  }
}

TEST(ZRemapper, BlueChoosesTheSideAndEachChannelKeepsItsOwnDepth) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ImagePtr src = MakeImage(4, 1, [nan](int x, int) {
    switch (x) {
      case 0:
        return RGBA{3, 20, 5, 0.75f};  // in front: green goes negative
      case 1:
        return RGBA{3, 20, -5, 0.75f};  // a negative depth counts by its size
      case 2:
        return RGBA{-3, 8, 20, 0.75f};  // behind: each from its own value
      default:
        return RGBA{3, nan, nan, 0.75f};  // no depth: the front formula
    }
  });
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Connect("Input", src.get()).Render();
  const RGBA front = {4.524353981018066f, -12.475646018981934f, 2.5243539810180664f, 0.75f};
  EXPECT_EQ(PixelAt(out.get(), 0, 0), front);
  EXPECT_EQ(PixelAt(out.get(), 1, 0), front);
  const double far = 11.535117397613648, s = 9.107735;
  EXPECT_EQ(PixelAt(out.get(), 2, 0), (RGBA{float(((3 + s) - far) - s), float(((8 + s) - far) - s),
                                            8.464882850646973f, 0.75f}));
  const RGBA none = PixelAt(out.get(), 3, 0);
  EXPECT_EQ(none.r, 4.524353981018066f);
  EXPECT_TRUE(std::isnan(none.g) && std::isnan(none.b));
}

TEST(ZRemapper, UnboundedFarLimitKeepsEverythingBehindSharp) {
  ImagePtr src = MakeImage(3, 1, [](int x, int) {
    const float z[] = {10, 60, 1e30f};
    return RGBA{z[x], z[x], z[x], 1};
  });
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Set("PlaneOfFocus", 60).Connect("Input", src.get()).Render();
  const float front = float(((60.0 - 10) + 25.07532655959978) - 60);
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{front, front, front, 1}));
  EXPECT_EQ(PixelAt(out.get(), 1, 0), (RGBA{0, 0, 0, 1}));
  EXPECT_EQ(PixelAt(out.get(), 2, 0), (RGBA{0, 0, 0, 1}));
}

TEST(ZRemapper, AtThePlaneOfFocusThePixelCountsAsInFront) {
  // Focused nearer than the focal length the near limit lies beyond the
  // plane of focus, so the front and back formulas differ there.
  const double s = 0.0078125;  // a float, so a pixel can sit exactly on it
  ImagePtr src = ConstantImage(1, 1, {float(s), float(s), float(s), 1});
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Set("PlaneOfFocus", s).Connect("Input", src.get()).Render();
  const float want = float(((s - s) + tool.Value("DoFN")) - s);
  EXPECT_GT(want, 0.0f);
  EXPECT_EQ(PixelAt(out.get(), 0, 0), (RGBA{want, want, want, 1}));
}

TEST(ZRemapper, ZeroSceneScaleGivesNaNAndKeepsAlpha) {
  ImagePtr src = MakeImage(2, 1, [](int x, int) { return RGBA{0, 1, float(x), 0.5f}; });
  ToolHarness tool(ZRemapperRecord);
  ImagePtr out = tool.Set("SceneScale", 0).Connect("Input", src.get()).Render();
  EXPECT_TRUE(
      FieldsAre(tool, {1.3333333333333333, 0.02074333333333333, 43.04308900162991, NaN, NaN, NaN}));
  for (int x = 0; x < 2; ++x) {
    const RGBA px = PixelAt(out.get(), x, 0);
    EXPECT_TRUE(std::isnan(px.r) && std::isnan(px.g) && std::isnan(px.b));
    EXPECT_EQ(px.a, 0.5f);
  }
}

// Images with further channels take the pixel-by-pixel walk, the common
// layout a row at a time: both must give the same bits, for any width.
TEST(ZRemapper, EveryLayoutGivesTheSameBits) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> depth(-25, 25);
  const float specials[] = {
      0, -0.0f, 9.107735f, 7.524354f, 11.535117f, std::numeric_limits<float>::infinity(), NAN};
  auto value = [&](int x, int y) {
    return (x + y) % 5 == 0 ? specials[(x * 3 + y) % 7] : depth(gen);
  };
  for (int width : {1, 2, 7}) {
    ImagePtr plain = MakeImage(width, 3, [&](int x, int y) {
      return RGBA{value(x, y), value(x, y), value(x, y), value(x, y)};
    });
    ImagePtr layered = MakeImage(
        width, 3, [&](int x, int y) { return PixelAt(plain.get(), x, y); }, {"id"},
        [](int x, int y, int) { return float(x + 10 * y); });
    for (double scale : {1.0, 0.1, 10.0}) {
      for (double planeOfFocus : {9.107735, 60.0}) {
        SCOPED_TRACE(testing::Message() << width << " " << scale << " " << planeOfFocus);
        ToolHarness tool(ZRemapperRecord);
        tool.Set("SceneScale", scale).Set("PlaneOfFocus", planeOfFocus * scale);
        ImagePtr a = tool.Connect("Input", plain.get()).Render();
        ImagePtr b = tool.Connect("Input", layered.get()).Render();
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < width; ++x) {
            EXPECT_EQ(std::memcmp(a->Group1(x, y), b->Group1(x, y), 4 * sizeof(float)), 0)
                << x << "," << y;
            EXPECT_EQ(FurtherAt(b.get(), x, y, 0), float(x + 10 * y));
          }
      }
    }
  }
}

}  // namespace
