// The host layer: tag lists, images, cursors, sampling, reference counts,
// inputs and the worker threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "testing/harness.h"

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(TextIDs, EqualTextsAreOneIdentifier) {
  EXPECT_EQ(TextID("Settings"), TextID(std::string("Settings")));
  EXPECT_FALSE(TextID("Settings") == TextID("settings"));
  EXPECT_TRUE(TextID("Luminance") == "Luminance");
  EXPECT_FALSE(TextID("Luminance") == "Lum");
  EXPECT_TRUE(TextID() == "");
}

TEST(TagLists, ReadBackByKindEndWithZeroTagAndRejectAValueOfAnotherKind) {
  TagList tags{{Default, 2.5},
               {RangeMin, 0.0},
               {Integer, 1},
               {ColorGroupName, "Light"},
               {ChoiceDefault, TextID("Red")}};
  ASSERT_EQ(tags.Size(), 5u);
  EXPECT_EQ(tags.Data()[5].tag, 0u);  // the list's end
  EXPECT_EQ(tags[0].Kind(), TagKind::Double);
  EXPECT_EQ(tags[2].Kind(), TagKind::Int);
  EXPECT_EQ(tags[3].Kind(), TagKind::Text);
  EXPECT_EQ(tags[4].Kind(), TagKind::ID);
  EXPECT_EQ(tags.GetDouble(Default), 2.5);
  EXPECT_EQ(tags.GetInt(Integer), 1);
  EXPECT_STREQ(tags.GetText(ColorGroupName), "Light");
  EXPECT_TRUE(*tags.GetID(ChoiceDefault) == "Red");
  EXPECT_FALSE(tags.GetDouble(RangeMax));
  EXPECT_EQ(tags[0].ValueText(), "2.5");
  EXPECT_EQ(tags[3].ValueText(), "\"Light\"");
  EXPECT_EQ(TagName(InputFlagA), "InputFlagA");
  EXPECT_EQ(TagName(0x12345678), "0x12345678");
  EXPECT_THROW(TagItem(Default, 1), std::logic_error);          // a double tag given an integer
  EXPECT_THROW(TagItem(Integer, 1.0), std::logic_error);        // an integer tag given a double
  EXPECT_THROW(TagItem(DataType, "Number"), std::logic_error);  // an ID tag given a text
}

TEST(Images, KeepTheirSizeAndFurtherChannelsAndFillClearsThem) {
  ImagePtr img = Ramp(5, 3, {"Z", "mask"});
  EXPECT_EQ(img->ChannelCount(), 6);
  ImagePtr like(NewImage({{ImageLike, static_cast<const void*>(img.get())}}));
  EXPECT_EQ(like->Width(), 5);
  EXPECT_EQ(like->Height(), 3);
  EXPECT_EQ(like->FurtherNames(), (std::vector<std::string>{"Z", "mask"}));
  EXPECT_EQ(NewImage(TagList()), nullptr);
  ImagePtr negative(NewImage(-4, -1));
  EXPECT_EQ(negative->Width(), 0);
  EXPECT_EQ(negative->Height(), 0);

  img->Fill(0.25f, 0.5f, 0.75f, 1.0f);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(PixelAt(img.get(), x, y), (RGBA{0.25f, 0.5f, 0.75f, 1.0f}));
      EXPECT_EQ(FurtherAt(img.get(), x, y, 1), 0.0f);
    }
  // Slot order of the record: blue, green, red, alpha.
  EXPECT_EQ(img->Group1(2, 1)[ChanB], 0.75f);
  EXPECT_EQ(img->Group1(2, 1)[ChanR], 0.25f);
}

TEST(Cursors, WalkRowsAndCarryFurtherChannels) {
  auto color = [](int x, int y) { return RGBA{float(x), float(y), float(x * y), 1}; };
  ImagePtr src = MakeImage(4, 3, color, {"a", "b", "c"},
                           [](int x, int y, int c) { return float(100 * c + 10 * y + x); });
  ImagePtr dst(NewImage({{ImageLike, static_cast<const void*>(src.get())}}));
  PixelCursor in(src.get()), out(dst.get());
  FltPixel px;
  for (int y = 0; y < 3; ++y) {
    in.GotoRow(y);
    out.GotoRow(y);
    for (int x = 0; x < 4; ++x, in.NextPixel(), out.NextPixel()) {
      in.ReadPixel(px);
      out.WritePixel(px);
    }
  }
  EXPECT_TRUE(SameBytes(dst.get(), src.get()));
  // Placing on a pixel lands on that pixel in both groups.
  PixelCursor at(src.get());
  at.GotoPixel(3, 2);
  at.ReadPixel(px);
  EXPECT_EQ(px.R(), 3.0f);
  EXPECT_EQ(px.B(), 6.0f);
  EXPECT_EQ(px.Chan[ChanFurther + 2], 223.0f);
}

std::pair<float, float> At(void (Image::*sample)(int32_t, int32_t, FltPixel&) const,
                           const Image* img, double x, double y) {
  FltPixel px;
  (img->*sample)(ToFixed(x), ToFixed(y), px);
  return {px.R(), px.G()};
}

TEST(Sampling, InsideGivesThePixelAndOutsideEachFollowsItsEdgeRule) {
  // 4 x 3; red is the column and green the row.
  ImagePtr img = MakeImage(4, 3, [](int x, int y) { return RGBA{float(x), float(y), 0, 1}; });
  const auto D = &Image::SamplePixelD, W = &Image::SamplePixelW, B = &Image::SamplePixelB;
  const struct {
    decltype(D) sample;
    double x, y;
    float r, g;
  } cases[] = {
      {D, 2, 1, 2, 1},      {W, 2, 1, 2, 1},      {B, 2, 1, 2, 1}, {D, 3.99, 2.5, 3, 2},
      {W, 3.99, 2.5, 3, 2}, {B, 3.99, 2.5, 3, 2},  // the pixel it lies in
      {D, -5, 7, 0, 2},     {D, 9, -1, 3, 0},     {W, 5, 4, 1, 1}, {W, -1, -1, 3, 2},
      {W, -9, -4, 3, 2},    {W, -0.5, 0, 3, 0},   {B, 4, 0, 0, 0}, {B, -0.01, 0, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(At(c.sample, img.get(), c.x, c.y), (std::pair{c.r, c.g})) << c.x << ", " << c.y;
  FltPixel px;
  std::fill_n(px.Chan, MaxChannels, 7.0f);
  img->SamplePixelB(ToFixed(-0.01), ToFixed(0), px);
  EXPECT_EQ(px.A(), 0.0f);

  // No position reads outside the image (the address sanitizer watches).
  ImagePtr empty(NewImage(0, 0));
  const double hostile[] = {NaN,          Inf,           -Inf,    1e300,   -1e300,
                            2147483647.0, -2147483648.0, 32767.9, -32768.5};
  for (double x : hostile)
    for (double y : hostile)
      for (auto sample : {D, W, B}) {
        auto [r, g] = At(sample, img.get(), x, y);
        EXPECT_TRUE(r >= 0.0f && r <= 3.0f && g >= 0.0f && g <= 2.0f);
        EXPECT_EQ(At(sample, empty.get(), x, y), (std::pair{0.0f, 0.0f}));
      }
  EXPECT_EQ(ToFixed(NaN), INT32_MIN);
  EXPECT_EQ(ToFixed(1e300), INT32_MAX);
  EXPECT_EQ(ToFixed(-1e300), INT32_MIN);
  EXPECT_EQ(ToFixed(-1.0), -65536);
}

TEST(ReferenceCounts, NewUseRecycleAndOutputSet) {
  Image* img = NewImage(2, 2);
  EXPECT_EQ(img->Holders(), 1);
  img->Use();
  EXPECT_EQ(img->Holders(), 2);
  {
    TagList attrs{{DataType, TextID("Image")}, {MainInput, 1}};
    Output out(TextID("Output"), TextID("Output"), attrs);
    Request req;
    out.Set(&req, img);  // takes over one hold
    EXPECT_EQ(img->Holders(), 2);
    Image* taken = req.TakeResult(&out);
    EXPECT_EQ(taken, img);
    out.Set(&req, taken);  // left with the request: dropped with it
  }
  EXPECT_EQ(img->Holders(), 1);
  {
    Input in(TextID("Input"), TextID("Input"), TagList{{DataType, TextID("Image")}});
    in.Connect(img);
    EXPECT_EQ(img->Holders(), 2);
    EXPECT_EQ(in.GetValue(nullptr), img);
  }
  EXPECT_EQ(img->Holders(), 1);
  {
    // An upstream image is made once, when first asked for, and its hold is
    // the input's; one never asked for is never made; a failed one is not
    // asked again.
    Input in(TextID("Input"), TextID("Input"), TagList{{DataType, TextID("Image")}});
    int made = 0;
    in.ConnectUpstream([&] { return ++made, img->Use(), img; });
    EXPECT_TRUE(in.IsConnected());
    EXPECT_EQ(in.Connected(), nullptr);
    EXPECT_EQ(made, 0);
    EXPECT_EQ(in.GetValue(nullptr), img);
    EXPECT_EQ(in.GetValue(nullptr), img);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(img->Holders(), 2);
    in.ConnectUpstream([&]() -> Image* { throw std::runtime_error("unreadable"); });
    EXPECT_EQ(img->Holders(), 1);
    EXPECT_THROW(in.GetValue(nullptr), std::runtime_error);
    EXPECT_EQ(in.GetValue(nullptr), nullptr);
    in.ConnectUpstream([&] { return ++made, img; });
    in.Connect(nullptr);
    EXPECT_FALSE(in.IsConnected());
    EXPECT_EQ(made, 1);
  }
  img->Recycle();
}

TEST(Inputs, TakeTheirKindAndDefaultFromTheirAttributes) {
  Input number(
      TextID("Zmax"), TextID("Zmax"),
      TagList{
          {DataType, TextID("Number")}, {InputControl, TextID("SliderControl")}, {Default, 2.5}});
  EXPECT_EQ(number.Kind(), InputKind::Number);
  EXPECT_EQ(static_cast<Number*>(number.GetValue(nullptr))->Value(), 2.5);
  number.SetValue(AutoNumber(-4.0), 0.0, 1, nullptr);
  EXPECT_EQ(number.NumberValue(), -4.0);
  EXPECT_FALSE(number.IsComputedField());

  Input choice(TextID("Mode"), TextID("Mode"),
               TagList{{DataType, TextID("TextID")},
                       {InputControl, TextID("MultiButtonIDControl")},
                       {ChoiceText, "Black"},
                       {ChoiceText, "Wrap"},
                       {ChoiceFlag, 1},
                       {ChoiceDefault, TextID("Wrap")}});
  EXPECT_EQ(choice.Kind(), InputKind::Choice);
  EXPECT_TRUE(static_cast<TextIDParam*>(choice.GetValue(nullptr))->ID() == "Wrap");
  ASSERT_EQ(choice.Options().size(), 2u);
  EXPECT_STREQ(choice.Options()[0], "Black");
  EXPECT_STREQ(choice.Options()[1], "Wrap");

  // Labels hold no value; an image input is required unless it says not.
  Input label(TextID("Title"), TextID("ICI"), TagList{{InputControl, TextID("LabelControl")}});
  EXPECT_EQ(label.GetValue(nullptr), nullptr);
  Input optional(TextID("Map"), TextID("Map"),
                 TagList{{DataType, TextID("Image")}, {MainInput, 2}, {Required, 0}});
  EXPECT_FALSE(optional.IsRequired());
  EXPECT_EQ(optional.GetValue(nullptr), nullptr);
}

class RowRecorder : public ThreadedOperator {
 public:
  RowRecorder() : ThreadedOperator(nullptr, ScriptVal{}, TagList()) {}
  void ProcessChunk(Request*, int chunk) override { rows[chunk].fetch_add(1); }
  std::atomic<int> rows[64] = {};
};

TEST(WorkerThreads, RunEveryChunkOnceWhateverTheLimit) {
  for (int limit : {1, 2, 8, 0}) {
    SetWorkerThreadLimit(limit);
    RowRecorder op;
    Request req;
    op.DoMultiProcess(&req, 64);
    for (int i = 0; i < 64; ++i)
      EXPECT_EQ(op.rows[i].load(), 1) << "chunk " << i << " limit " << limit;
    op.DoMultiProcess(&req, 0);  // no chunks: nothing runs
  }
  SetWorkerThreadLimit(0);
}

// Hands its pass on, untouched, and counts its renders.
class PassOn : public Operator {
 public:
  PassOn() : Operator(nullptr, ScriptVal{}, TagList()) {
    pass = AddInput(TextID("Pass"), TextID("Pass"), TagList{{DataType, TextID("Image")}});
    AddInput(TextID("Map"), TextID("Map"), TagList{{DataType, TextID("Image")}, {Required, 0}});
    out = AddOutput(TextID("Output"), TextID("Output"), TagList());
  }
  void Process(Request* req) override {
    ++renders;
    Image* img = static_cast<Image*>(pass->GetValue(req));
    img->Use();
    out->Set(req, img);
  }
  Input* pass;
  Output* out;
  int renders = 0;
};

TEST(RenderTool, RefusesAMissingRequiredImageBeforeTheToolRunsAndHandsBackTheResult) {
  PassOn tool;
  try {
    RenderTool(tool);
    ADD_FAILURE() << "rendered without its required image";
  } catch (const MissingImages& e) {
    EXPECT_EQ(e.Inputs(), std::vector<std::string>{"Pass"});
    EXPECT_STREQ(e.what(), "the tool needs an image on Pass");
  }
  EXPECT_EQ(tool.renders, 0);

  // The optional map stays unconnected; the result carries its own hold.
  ImagePtr pass(NewImage(2, 1));
  tool.pass->Connect(pass.get());
  ImagePtr result = RenderTool(tool, 3.0);
  EXPECT_EQ(result.get(), pass.get());
  EXPECT_EQ(pass->Holders(), 3);  // ours, the input's and the result's
  result.reset();
  tool.pass->Connect(nullptr);
  EXPECT_EQ(pass->Holders(), 1);
}

TEST(Generator, IsTheClassicSequenceAndPrivateToEachThread) {
  Srand(1);
  EXPECT_EQ(Rand(), 41);
  EXPECT_EQ(Rand(), 18467);
  EXPECT_EQ(Rand(), 6334);
  Srand(50);
  const int first = Rand(), second = Rand();
  Srand(50);
  EXPECT_EQ(Rand(), first);
  std::thread([] {
    Srand(7);
    Rand();
    Rand();
  }).join();
  EXPECT_EQ(Rand(), second);  // another thread's draws left this sequence alone
  // A seed moved on by n draws goes on as the sequence does after n draws.
  for (uint64_t n : {0, 1, 2, 7, 1000, 3839}) {
    Srand(2654435761u);
    for (uint64_t i = 0; i < n; ++i) Rand();
    const int next = Rand();
    Srand(RandSeedAfter(2654435761u, n));
    EXPECT_EQ(Rand(), next) << n << " draws on";
  }
}

}  // namespace
