// The depth-of-field tools that map each pixel on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

}  // namespace
