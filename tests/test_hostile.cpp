// Hostile inputs: every tool under every troublesome value and image, the
// render checks and the pixel memory checker themselves, and vexlan given
// files that are not what they claim.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>

#include "testing/harness.h"
#include "testing/hostile.h"
#include "testing/program.h"

namespace fs = std::filesystem;

// Tools are named by class in test names and messages.
void PrintTo(const NamedTool& tool, std::ostream* os) { *os << tool.className; }

namespace {

// ------------------------------------------------------------- watchdog

// A case that runs past its time ends the test program with the case named,
// instead of leaving CI waiting.
char runningCase[256] = "";

void OnTimeUp(int) {
  const char prefix[] = "\nstill running after the time allowed: ";
  [[maybe_unused]] ssize_t n = write(2, prefix, sizeof prefix - 1);
  n = write(2, runningCase, strlen(runningCase));
  n = write(2, "\n", 1);
  _exit(124);
}

// Names the case that starts now and gives it its time.
void StartCase(const std::string& name) {
  std::snprintf(runningCase, sizeof runningCase, "%s", name.c_str());
  signal(SIGALRM, OnTimeUp);
  alarm(Sanitized ? 120 : 20);
}

// ---------------------------------------------------- tools in-process

using ImageFor = std::function<ImagePtr(size_t, const Input&)>;

class HostileSettings : public testing::TestWithParam<NamedTool> {
 protected:
  // A fresh tool with imageFor(i, input) on image input i, or nothing where
  // it gives null; by default a ramp on every image input, optional ones too.
  ToolHarness& Fresh(const ImageFor& imageFor = [](size_t, const Input&) { return Ramp(6, 5); }) {
    tool_.reset();
    images_.clear();
    tool_.emplace(*GetParam().record);
    size_t i = 0;
    for (const auto& in : tool_->Tool().Inputs())
      if (in->Kind() == InputKind::Image)
        if (ImagePtr img = imageFor(i++, *in)) {
          in->Connect(img.get());
          images_.push_back(std::move(img));
        }
    return *tool_;
  }
  // Renders the tool as it is set up and keeps what broke.
  void Check(const std::string& what) {
    const std::string named = std::string(GetParam().className) + " " + what;
    StartCase(named);
    const std::string broken = CheckRenders(*GetParam().record, tool_->Tool(), 8);
    if (!broken.empty()) failures_.push_back(named + ": " + broken);
  }
  void TearDown() override {
    alarm(0);
    std::string all;
    for (const std::string& f : failures_) all += "\n  " + f;
    EXPECT_TRUE(failures_.empty()) << failures_.size() << " cases broke:" << all;
  }

  std::vector<std::string> failures_;
  std::optional<ToolHarness> tool_;
  std::vector<ImagePtr> images_;
};

TEST_P(HostileSettings, EveryHostileNumberOnEveryInputRendersSafelyAndRepeatably) {
  std::vector<std::string> ids;
  for (const auto& in : Fresh().Tool().Inputs())
    if (in->Kind() == InputKind::Number && !in->IsComputedField()) ids.push_back(in->ID().Text());
  for (const std::string& id : ids) {
    ToolHarness& tool = Fresh();
    const TagList& attrs = tool.In(id.c_str()).Attributes();
    std::vector<double> values(HostileNumbers().begin(), HostileNumbers().end());
    // Far past the slider at both ends.
    const double high = attrs.GetDouble(RangeMax).value_or(attrs.GetDouble(LimitMax).value_or(1.0));
    values.push_back(high * 1000);
    values.push_back(attrs.GetDouble(RangeMin).value_or(0.0) - 1000);
    for (double v : values) {
      tool.Set(id.c_str(), v);
      Check(id + "=" + testing::PrintToString(v));
    }
  }
}

TEST_P(HostileSettings, EveryOptionAndTextsThatAreNoOptionRenderSafely) {
  for (const auto& in : Fresh().Tool().Inputs()) {
    if (in->Kind() != InputKind::Choice) continue;
    std::vector<std::string> texts = {"", "Nonesuch"};
    for (const char* option : in->Options()) {
      texts.push_back(option);
      std::string lower = option;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      texts.push_back(lower);
    }
    for (const std::string& text : texts) {
      in->SetChoice(TextID(text));
      Check(std::string(in->ID().Text()) + "=\"" + text + "\"");
    }
  }
}

TEST_P(HostileSettings, ImagesEmptyTinyMismatchedAliasedOrNotFiniteRenderSafely) {
  constexpr float Inf = std::numeric_limits<float>::infinity();
  constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
  auto constant = [](float v) {
    return [v](int w, int h) { return ConstantImage(w, h, {v, v, v, v}); };
  };
  auto ramp = [](int w, int h) { return Ramp(w, h); };
  using Maker = std::function<ImagePtr(int, int)>;
  const std::pair<const char*, std::pair<int, int>> sizes[] = {
      {"no pixels", {0, 0}}, {"no rows", {6, 0}},  {"no columns", {0, 5}},
      {"one pixel", {1, 1}}, {"one row", {17, 1}}, {"one column", {1, 17}}};
  const std::pair<const char*, Maker> contents[] = {
      {"ramp", ramp},
      {"NaN", constant(NaN)},
      {"+inf", constant(Inf)},
      {"-inf", constant(-Inf)},
      {"FLT_MAX", constant(std::numeric_limits<float>::max())},
      {"zero", constant(0.0f)},
      {"further channels", [](int w, int h) {
         return Ramp(w, h, {"Z", "P.x", "P.y"});
       }}};

  for (const auto& [sizeName, size] : sizes)
    for (const auto& [contentName, make] : contents) {
      const auto [w, h] = size;
      const Maker& maker = make;
      Fresh([&](size_t, const Input&) { return maker(w, h); });
      Check(std::string("images of ") + sizeName + ", " + contentName);
    }
  // One input of another size than the others, in turn, larger and smaller.
  size_t inputCount = 0;
  for (const auto& in : Fresh().Tool().Inputs()) inputCount += in->Kind() == InputKind::Image;
  for (size_t odd = 0; odd < inputCount; ++odd)
    for (auto [w, h] : {std::pair{9, 2}, std::pair{2, 9}, std::pair{1, 1}, std::pair{0, 3}}) {
      const int oddW = w, oddH = h;
      Fresh([&](size_t i, const Input&) { return i == odd ? Ramp(oddW, oddH) : Ramp(6, 5); });
      Check("image input " + std::to_string(odd) + " of " + std::to_string(w) + " x " +
            std::to_string(h) + ", the others 6 x 5");
    }
  ImagePtr shared = Ramp(6, 5);
  Fresh([&](size_t, const Input&) {
    shared->Use();
    return ImagePtr(shared.get());
  });
  Check("one image on every input");
  Fresh([](size_t, const Input& in) { return in.IsRequired() ? Ramp(6, 5) : nullptr; });
  Check("optional inputs unconnected");
}

INSTANTIATE_TEST_SUITE_P(AllTools, HostileSettings, testing::ValuesIn(AllTools()),
                         [](const testing::TestParamInfo<NamedTool>& info) {
                           return std::string(info.param.className);
                         });

// Faults the checks above must see, each in a tool made for the purpose:
// it renders a clear image and then does `fault` to its input or output.
class FaultyTool : public ThreadedOperator {
 public:
  static inline void (*fault)(Image* src, Image* dst) = nullptr;

  FaultyTool(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }
  void Process(Request* req) override {
    Image* src = ImageValue(input_, req);
    Image* dst = NewImage({{ImageLike, src}});
    dst->Fill(0, 0, 0, 0);
    fault(src, dst);
    output_->Set(req, dst);
  }

 private:
  Input* input_;
  Output* output_;
};

TEST(RenderChecks, CatchToolsThatChangeTheirInputHoldItOrDependOnThreads) {
  const ToolRecord rec = {
      "Test.Faulty", "Faulty",           "Test", "Faulty", "", "", 0, std::nullopt,
      std::nullopt,  Factory<FaultyTool>};
  const struct {
    void (*fault)(Image*, Image*);
    const char* message;
    int holdsKept;
  } cases[] = {{[](Image* src, Image*) { src->Group1(0, 0)[ChanR] += 1.0f; },
                "an input image was changed", 0},
               {[](Image* src, Image*) { src->Use(); },
                "a render left an input image with 4 holders instead of 2", 2},
               {[](Image*, Image* dst) { dst->Group1(0, 0)[ChanR] = float(WorkerThreadLimit()); },
                "a second render on 8 workers gave other bytes", 0}};
  for (const auto& c : cases) {
    FaultyTool::fault = c.fault;
    ToolHarness tool(rec);
    ImagePtr img = Ramp(2, 2);
    tool.Connect("Input", img.get());
    EXPECT_EQ(CheckRenders(rec, tool.Tool(), 8), c.message);
    for (int hold = 0; hold < c.holdsKept; ++hold) img->Recycle();  // the holds it kept
  }
}

// ------------------------------------------------ pixel memory checker

#if defined(__SANITIZE_ADDRESS__)
#define VX_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX_ADDRESS_CHECKED 1
#endif
#endif

#ifdef VX_ADDRESS_CHECKED
// Pixel memory is padded for alignment; under the address checker the
// padding is off limits, so a tool that reads one pixel past an image is
// reported even when the read stays inside the allocation.
TEST(PixelMemoryDeathTest, ReadingOnePixelPastAnImageIsReported) {
  ImagePtr img = Ramp(1, 1);
  const volatile float* past = img->Group1(0, 0) + 4;
  EXPECT_DEATH({ [[maybe_unused]] float v = *past; }, "use-after-poison|heap-buffer-overflow");
}

TEST(PixelMemoryDeathTest, ReadingAReleasedImageIsReported) {
  Image* img = NewImage(4, 4);
  img->Fill(0, 0, 0, 0);
  const volatile float* pixel = img->Group1(1, 1);
  img->Recycle();
  EXPECT_DEATH({ [[maybe_unused]] float v = *pixel; }, "use-after-free");
}
#endif

// -------------------------------------------------- vexlan, hostile files

class VexlanHostileFiles : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(outDir_);
    WriteExr(good_, PatternPicture(64, 64));  // 4096 pixels
  }
  // ZDevider on the given input.
  Args Divide(const std::string& input, const std::string& output, const Args& more = {}) {
    return Vexlan(Args{"render", "ZDevider", "--input", "Input=" + input, "--output", output} +
                  more);
  }
  // The good file's bytes with another data window in its header.
  std::string WithDataWindow(std::array<int32_t, 4> window) const {
    std::string bytes = FileText(good_);
    const std::string key("dataWindow\0box2i\0", 17);
    const size_t at = bytes.find(key);
    EXPECT_NE(at, std::string::npos);
    return bytes.replace(at + key.size() + 4, sizeof window,
                         std::string(reinterpret_cast<const char*>(window.data()), sizeof window));
  }
  // A failed render: status 1, a message naming every text in `said`, no
  // crash.
  static void ExpectFailed(const ProgramRun& run, const std::vector<std::string>& said) {
    EXPECT_EQ(run.status, 1) << run.err;
    for (const std::string& text : said) EXPECT_TRUE(Holds(run.err, text));
    EXPECT_EQ(run.err.find("terminate called"), std::string::npos) << run.err;
  }

  ScratchFolder scratch_{"vexlan-hostile"};
  fs::path outDir_ = scratch_.Path() / "out";
  std::string good_ = scratch_ / "good.exr";
  std::string out_ = (outDir_ / "out.exr").string();
};

TEST_F(VexlanHostileFiles, BadFilesAndUnwritableOutputsFailLeavingTheOutputAsItWas) {
  const std::string precious = "the frame the compositor already approved";
  WriteBytes(out_, precious);
  const std::string whole = FileText(good_);
  const std::string empty = scratch_ / "empty.exr", text = scratch_ / "notes.exr",
                    folder = scratch_ / "folder.exr", missing = scratch_ / "missing.exr";
  WriteBytes(empty, "");
  WriteBytes(text, "These are notes, not pixels.\n");
  fs::create_directory(folder);
  struct Case {
    Args args;
    std::vector<std::string> said;
  };
  std::vector<Case> cases = {
      {Divide(missing, out_), {missing + ": no such file"}},
      {Divide(empty, out_), {empty}},
      {Divide(text, out_), {text + ": not an image file"}},
      {Divide(folder, out_), {folder + ": is a folder"}},
      {Divide(good_, out_, {"--max-pixels", "4095"}),
       {"64 x 64 = 4096 pixels", "limit of 4095", "--max-pixels"}},
      {Divide(good_, scratch_ / "nowhere/out.exr"), {"the folder", "nowhere does not exist"}},
      {Divide(good_, good_ + "/out.exr"), {good_ + " is not a folder"}},
      {Divide(good_, outDir_.string()), {}},
      // A tool that sets no image: the right eye chosen, only the left given.
      {Vexlan({"render", "StereoSwitch", "--input", "LeftImage=" + good_, "--set", "Input=Right",
               "--output", out_}),
       {"set no image on its output", "not connected: RightImage"}},
  };
  // Permissions do not stop root; a kernel file system that takes no new
  // files stops everyone.
  fs::path locked = scratch_.Path() / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  if (geteuid() == 0) locked = "/sys";
  const std::string refused = (locked / "vexlan-out.exr").string();
  const bool refuses = !std::ofstream(locked / "probe.exr");
  if (refuses) cases.push_back({Divide(good_, refused), {refused}});
  std::error_code ec;
  fs::remove(locked / "probe.exr", ec);
  // Cut inside the header, inside the pixels, and one byte short.
  const std::pair<size_t, std::vector<std::string>> cuts[] = {
      {20, {}}, {whole.size() / 2, {"cannot be read", "truncated"}}, {whole.size() - 1, {}}};
  for (const auto& [keep, said] : cuts) {
    const std::string cut = scratch_ / ("cut" + std::to_string(keep) + ".exr");
    WriteBytes(cut, whole.substr(0, keep));
    cases.push_back({Divide(cut, out_), said});
    cases.back().said.push_back(cut);
  }
  // A data window that claims to lie a hundred million pixels away: small in
  // itself, huge together with the display window.
  WriteBytes(scratch_ / "far.exr", WithDataWindow({100000000, 0, 100000063, 63}));
  cases.push_back({Divide(scratch_ / "far.exr", out_),
                   {"far.exr: its display and data windows together", "--max-pixels"}});
  // Names in the file that are no text: shown escaped.
  WriteExr(scratch_ / "bytes.exr", {1, 1, {"R", "G", "B", "Z\xff"}, {1, 2, 3, 4}});
  cases.push_back({Divide(scratch_ / "bytes.exr:nope", out_), {"nothing named", "Z\\xFF"}});
  std::vector<Args> commands;
  for (const Case& c : cases) commands.push_back(c.args);
  commands.push_back(Divide(good_, (outDir_ / "limit.exr").string(), {"--max-pixels", "4096"}));
  const std::vector<ProgramRun> runs = RunPrograms(commands, scratch_.Path());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].args[6]);
    ExpectFailed(runs[i], cases[i].said);
    EXPECT_EQ(runs[i].err.find('\xff'), std::string::npos) << runs[i].err;
  }
  EXPECT_EQ(runs.back().status, 0) << "at the pixel limit: " << runs.back().err;
  EXPECT_EQ(FilesIn(outDir_), (std::set<std::string>{"out.exr", "limit.exr"}));
  EXPECT_EQ(FileText(out_), precious);
  EXPECT_FALSE(fs::exists(scratch_ / "nowhere"));
  EXPECT_FALSE(fs::exists(refused));
  if (!refuses) GTEST_SKIP() << locked << " takes new files here: that case did not run";
}

TEST_F(VexlanHostileFiles, AHeaderClaimingMorePixelsThanTheLimitAllocatesNothing) {
  // The data window of a real file stretched to 100000 x 100000 pixels, 160
  // GB of float pixels, with room for the offset table that such a header
  // implies, so that the header reads as whole.
  std::string bytes = WithDataWindow({0, 0, 99999, 99999});
  const std::string huge = scratch_ / "huge.exr", cut = scratch_ / "huge-cut.exr";
  WriteBytes(cut, bytes);  // short of its offset table: a damaged file
  bytes.append(100000 * sizeof(uint64_t), '\0');
  WriteBytes(huge, bytes);

  const auto runs = RunPrograms(
      {Divide(huge, out_), Divide(huge, out_, {"--max-pixels", "1e11"}), Divide(cut, out_)},
      scratch_.Path());
  ExpectFailed(runs[0], {"--max-pixels", huge});
  EXPECT_LT(runs[0].peakKiB, 1024 * 1024) << "KiB at the peak";
  ExpectFailed(runs[1], {huge, "memory"});  // let through, the pixels cannot be had
  ExpectFailed(runs[2], {cut});
  EXPECT_TRUE(FilesIn(outDir_).empty());
}

}  // namespace
