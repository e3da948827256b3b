// Hostile inputs: every tool under every troublesome value and image, the
// pixel memory checker itself, vexlan given files that are not what they
// claim, and the same render giving the same bytes on any number of threads.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "fuzz/driver.h"
#include "tests/harness.h"
#include "tests/program.h"

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

class Watchdog {
 public:
  explicit Watchdog(unsigned seconds) : seconds_(seconds) { signal(SIGALRM, OnTimeUp); }
  ~Watchdog() { alarm(0); }
  void Case(const std::string& name) {
    std::snprintf(runningCase, sizeof runningCase, "%s", name.c_str());
    alarm(seconds_);
  }

 private:
  unsigned seconds_;
};

// Sanitizer builds run everything several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif
constexpr unsigned CaseSeconds = Sanitized ? 120 : 20;

// ---------------------------------------------------- tools in-process

// A pass-like image: smooth values in 0 .. 1 and an opaque alpha.
ImagePtr Ramp(int w, int h, const std::vector<std::string>& further = {}) {
  return MakeImage(
      w, h,
      [](int x, int y) {
        auto v = [&](int c) { return static_cast<float>((x * 7 + y * 13 + c * 5) % 16) / 15.0f; };
        return RGBA{v(2), v(1), v(0), 1.0f};
      },
      further, [](int x, int y, int c) { return static_cast<float>(x + y + c); });
}

std::string NumberText(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// One tool set up with a ramp on every image input (optional ones too),
// ready for one hostile change.
struct HostileCase {
  explicit HostileCase(const NamedTool& named) : rec(*named.record), tool(rec) {}

  void ConnectAll(int w, int h) {
    for (const auto& in : tool.Tool().Inputs())
      if (in->Kind() == InputKind::Image) {
        images.push_back(Ramp(w, h));
        in->Connect(images.back().get());
      }
  }
  std::vector<Input*> ImageInputs() {
    std::vector<Input*> inputs;
    for (const auto& in : tool.Tool().Inputs())
      if (in->Kind() == InputKind::Image) inputs.push_back(in.get());
    return inputs;
  }
  // What broke in the renders, prefixed with the case; empty when nothing.
  std::string Check(const std::string& what) {
    const std::string broken = CheckRenders(rec, tool.Tool(), 8);
    return broken.empty() ? "" : what + ": " + broken;
  }

  const ToolRecord& rec;
  ToolHarness tool;
  std::vector<ImagePtr> images;
};

class HostileSettings : public testing::TestWithParam<NamedTool> {
 protected:
  void Expect(const std::string& broken) {
    if (!broken.empty()) failures_.push_back(broken);
  }
  void TearDown() override {
    std::string all;
    for (const std::string& f : failures_) all += "\n  " + f;
    EXPECT_TRUE(failures_.empty()) << failures_.size() << " cases broke:" << all;
  }
  std::string Name(const std::string& what) {
    return std::string(GetParam().className) + " " + what;
  }

  Watchdog watchdog_{CaseSeconds};
  std::vector<std::string> failures_;
};

TEST_P(HostileSettings, EveryHostileNumberOnEveryInputRendersSafelyAndRepeatably) {
  std::vector<std::string> ids;
  {
    HostileCase probe(GetParam());
    for (const auto& in : probe.tool.Tool().Inputs())
      if (in->Kind() == InputKind::Number && !in->IsComputedField()) ids.push_back(in->ID().Text());
  }
  for (const std::string& id : ids) {
    HostileCase c(GetParam());
    const TagList& attrs = c.tool.In(id.c_str()).Attributes();
    std::vector<double> values(HostileNumbers().begin(), HostileNumbers().end());
    // Far past the slider at both ends.
    const double high = attrs.GetDouble(RangeMax).value_or(attrs.GetDouble(LimitMax).value_or(1.0));
    values.push_back(high * 1000);
    values.push_back(attrs.GetDouble(RangeMin).value_or(0.0) - 1000);
    c.ConnectAll(6, 5);
    for (double v : values) {
      const std::string what = Name(id + "=" + NumberText(v));
      watchdog_.Case(what);
      c.tool.Set(id.c_str(), v);
      Expect(c.Check(what));
    }
  }
}

TEST_P(HostileSettings, EveryOptionAndTextsThatAreNoOptionRenderSafely) {
  HostileCase c(GetParam());
  c.ConnectAll(6, 5);
  for (const auto& in : c.tool.Tool().Inputs()) {
    if (in->Kind() != InputKind::Choice) continue;
    std::vector<std::string> texts = {"", "Nonesuch"};
    for (const char* option : in->Options()) {
      texts.push_back(option);
      std::string lower = option;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      texts.push_back(lower);
    }
    for (const std::string& text : texts) {
      const std::string what = Name(std::string(in->ID().Text()) + "=\"" + text + "\"");
      watchdog_.Case(what);
      in->SetChoice(TextID(text));
      Expect(c.Check(what));
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

  // Every image input alike.
  for (const auto& [sizeName, size] : sizes)
    for (const auto& [contentName, make] : contents) {
      const std::string what = Name(std::string("images of ") + sizeName + ", " + contentName);
      watchdog_.Case(what);
      HostileCase c(GetParam());
      for (Input* in : c.ImageInputs()) {
        c.images.push_back(make(size.first, size.second));
        in->Connect(c.images.back().get());
      }
      Expect(c.Check(what));
    }

  // One input of another size than the others, in turn, larger and smaller.
  const size_t inputCount = HostileCase(GetParam()).ImageInputs().size();
  for (size_t odd = 0; odd < inputCount; ++odd)
    for (auto [w, h] : {std::pair{9, 2}, std::pair{2, 9}, std::pair{1, 1}, std::pair{0, 3}}) {
      const std::string what =
          Name("image input " + std::to_string(odd) + " of " + std::to_string(w) + " x " +
               std::to_string(h) + ", the others 6 x 5");
      watchdog_.Case(what);
      HostileCase c(GetParam());
      std::vector<Input*> inputs = c.ImageInputs();
      for (size_t i = 0; i < inputs.size(); ++i) {
        c.images.push_back(i == odd ? Ramp(w, h) : Ramp(6, 5));
        inputs[i]->Connect(c.images.back().get());
      }
      Expect(c.Check(what));
    }

  // One image on every input, and the optional inputs left unconnected.
  {
    const std::string what = Name("one image on every input");
    watchdog_.Case(what);
    HostileCase c(GetParam());
    c.images.push_back(Ramp(6, 5));
    for (Input* in : c.ImageInputs()) in->Connect(c.images.back().get());
    Expect(c.Check(what));
  }
  {
    const std::string what = Name("optional inputs unconnected");
    watchdog_.Case(what);
    HostileCase c(GetParam());
    for (Input* in : c.ImageInputs())
      if (in->IsRequired()) {
        c.images.push_back(Ramp(6, 5));
        in->Connect(c.images.back().get());
      }
    Expect(c.Check(what));
  }
}

INSTANTIATE_TEST_SUITE_P(AllTools, HostileSettings, testing::ValuesIn(AllTools()),
                         [](const testing::TestParamInfo<NamedTool>& info) {
                           return std::string(info.param.className);
                         });

// Faults the checks above must see, each in a tool made for the purpose.
class FaultyTool : public ThreadedOperator {
 public:
  enum Fault { WritesIntoItsInput, KeepsAHoldOnItsInput, DependsOnTheThreadCount };
  static inline Fault fault = WritesIntoItsInput;

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
    switch (fault) {
      case WritesIntoItsInput:
        src->Group1(0, 0)[ChanR] += 1.0f;
        break;
      case KeepsAHoldOnItsInput:
        src->Use();
        break;
      case DependsOnTheThreadCount:
        dst->Group1(0, 0)[ChanR] = static_cast<float>(WorkerThreadLimit());
        break;
    }
    output_->Set(req, dst);
  }

 private:
  Input* input_;
  Output* output_;
};

TEST(RenderChecks, CatchToolsThatChangeTheirInputHoldItOrDependOnThreads) {
  const ToolRecord rec = {.registryId = "Test.Faulty",
                          .name = "Faulty",
                          .category = "Test",
                          .shortName = "Faulty",
                          .description = "",
                          .buildText = "",
                          .regInt4 = 0,
                          .regInt3 = std::nullopt,
                          .regInt19 = std::nullopt,
                          .factory = Factory<FaultyTool>};
  const std::pair<FaultyTool::Fault, std::string> cases[] = {
      {FaultyTool::WritesIntoItsInput, "an input image was changed"},
      {FaultyTool::KeepsAHoldOnItsInput,
       "a render left an input image with 4 holders instead of 2"},
      {FaultyTool::DependsOnTheThreadCount, "a second render on 8 workers gave other bytes"}};
  for (const auto& [fault, message] : cases) {
    FaultyTool::fault = fault;
    ToolHarness tool(rec);
    ImagePtr img = Ramp(2, 2);
    tool.Connect("Input", img.get());
    EXPECT_EQ(CheckRenders(rec, tool.Tool(), 8), message);
    if (fault == FaultyTool::KeepsAHoldOnItsInput)
      for (int render = 0; render < 2; ++render) img->Recycle();  // the holds it kept
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

void WriteExr(const std::string& path, int w, int h) {
  std::vector<float> pixels(size_t(w) * h * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>(i % 7) / 7.0f;
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(w, h, 4, OIIO::TypeDesc::FLOAT);
  ASSERT_TRUE(out->open(path, spec));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()));
  ASSERT_TRUE(out->close());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> FilesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

class VexlanHostileFiles : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(outDir_);
    good_ = scratch_ / "good.exr";
    WriteExr(good_, 16, 16);
  }

  ProgramRun Vexlan(std::vector<std::string> args) {
    args.insert(args.begin(), VEXLAN_BIN);
    return RunProgram(args, scratch_.Path());
  }
  // ZDevider on the given input, into the output folder.
  ProgramRun Divide(const std::string& input, const std::string& output,
                    std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"render",         "ZDevider", "--input",
                                     "Input=" + input, "--output", output};
    args.insert(args.end(), more.begin(), more.end());
    return Vexlan(args);
  }

  // A failed render: status 1, a message naming `culprit`, no crash, and
  // nothing left in the output folder but what was there before.
  void ExpectFailed(const ProgramRun& run, const std::string& culprit,
                    const std::set<std::string>& before = {}) {
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(culprit), std::string::npos)
        << "the message should name " << culprit << ":\n"
        << run.err;
    EXPECT_EQ(run.err.find("terminate called"), std::string::npos) << run.err;
    EXPECT_EQ(FilesIn(outDir_), before);
  }

  ScratchFolder scratch_{"vexlan-hostile"};
  fs::path outDir_ = scratch_.Path() / "out";
  std::string good_;
};

TEST_F(VexlanHostileFiles, AGoodFileRendersSoTheFailuresBelowAreTheFiles) {
  const ProgramRun run = Divide(good_, outDir_ / "out.exr");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FilesIn(outDir_), std::set<std::string>{"out.exr"});
}

TEST_F(VexlanHostileFiles, AnEmptyFileIsRefused) {
  const std::string empty = scratch_ / "empty.exr";
  WriteBytes(empty, "");
  ExpectFailed(Divide(empty, outDir_ / "out.exr"), empty);
}

TEST_F(VexlanHostileFiles, TruncatedExrFilesAreRefused) {
  const std::string whole = FileText(good_);
  // Cut inside the header, inside the offset table, and one byte short.
  for (size_t keep : {size_t(20), whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(keep);
    const std::string cut = scratch_ / ("cut" + std::to_string(keep) + ".exr");
    WriteBytes(cut, whole.substr(0, keep));
    ExpectFailed(Divide(cut, outDir_ / "out.exr"), cut);
  }
}

TEST_F(VexlanHostileFiles, ATextFileNamedExrIsRefused) {
  const std::string text = scratch_ / "notes.exr";
  WriteBytes(text, "These are notes, not pixels.\n");
  ExpectFailed(Divide(text, outDir_ / "out.exr"), text);
}

TEST_F(VexlanHostileFiles, AFolderOrAMissingFileAsInputIsRefused) {
  const std::string folder = scratch_ / "folder.exr";
  fs::create_directory(folder);
  ExpectFailed(Divide(folder, outDir_ / "out.exr"), folder);
  const std::string missing = scratch_ / "missing.exr";
  ExpectFailed(Divide(missing, outDir_ / "out.exr"), missing);
}

TEST_F(VexlanHostileFiles, AHeaderClaimingMorePixelsThanTheLimitAllocatesNothing) {
  // The data window of a real file stretched to 100000 x 100000 pixels, 160
  // GB of float pixels, with room for the offset table that such a header
  // implies, so that the header reads as whole.
  std::string bytes = FileText(good_);
  const std::string key("dataWindow\0box2i\0", 17);
  const size_t at = bytes.find(key);
  ASSERT_NE(at, std::string::npos);
  const int32_t window[4] = {0, 0, 99999, 99999};
  bytes.replace(at + key.size() + 4, sizeof window,
                std::string(reinterpret_cast<const char*>(window), sizeof window));
  bytes.append(100000 * sizeof(uint64_t), '\0');
  const std::string huge = scratch_ / "huge.exr";
  WriteBytes(huge, bytes);

  const ProgramRun refused = Divide(huge, outDir_ / "out.exr");
  ExpectFailed(refused, "--max-pixels");
  EXPECT_NE(refused.err.find(huge), std::string::npos) << refused.err;
  EXPECT_LT(refused.peakKiB, 1024 * 1024) << "KiB at the peak";

  // Let through, the pixels cannot be had: a failure, not a crash.
  ExpectFailed(Divide(huge, outDir_ / "out.exr", {"--max-pixels", "1e11"}), "memory");

  // Cut short of its offset table, it is a damaged file.
  const std::string cut = scratch_ / "huge-cut.exr";
  WriteBytes(cut, bytes.substr(0, bytes.size() - 100000 * sizeof(uint64_t)));
  ExpectFailed(Divide(cut, outDir_ / "out.exr"), cut);
}

TEST_F(VexlanHostileFiles, MaxPixelsSetsTheLimit) {
  // good.exr holds 16 x 16 = 256 pixels.
  ExpectFailed(Divide(good_, outDir_ / "out.exr", {"--max-pixels", "255"}), "--max-pixels");
  const ProgramRun run = Divide(good_, outDir_ / "out.exr", {"--max-pixels", "256"});
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(VexlanHostileFiles, AnOutputThatCannotBeWrittenIsRefusedBeforeAndWithoutAFile) {
  const std::string missingFolder = scratch_ / "nowhere/out.exr";
  ExpectFailed(Divide(good_, missingFolder), "nowhere");
  EXPECT_FALSE(fs::exists(scratch_ / "nowhere"));

  const std::string underAFile = good_ + "/out.exr";  // a file where a folder should be
  ExpectFailed(Divide(good_, underAFile), good_);

  const std::string isAFolder = outDir_.string();
  EXPECT_EQ(Divide(good_, isAFolder).status, 1);
}

TEST_F(VexlanHostileFiles, AFolderThatRefusesWritesLeavesNoFile) {
  // Permissions do not stop root; a kernel file system that takes no new
  // files stops everyone.
  fs::path locked = scratch_.Path() / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  if (geteuid() == 0) locked = "/sys";
  std::error_code ec;
  if (std::ofstream(locked / "probe.exr")) {
    fs::remove(locked / "probe.exr", ec);
    GTEST_SKIP() << locked << " takes new files here";
  }
  const fs::path target = locked / "vexlan-out.exr";
  const ProgramRun run = Divide(good_, target.string());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find(target.string()), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(VexlanHostileFiles, AFailedRenderLeavesTheExistingOutputAsItWas) {
  const std::string out = outDir_ / "out.exr";
  const std::string precious = "the frame the compositor already approved";
  WriteBytes(out, precious);

  const std::string broken = scratch_ / "broken.exr";
  WriteBytes(broken, FileText(good_).substr(0, 100));
  ExpectFailed(Divide(broken, out), broken, {"out.exr"});
  EXPECT_EQ(FileText(out), precious);

  // A tool that sets no image: the right eye chosen, only the left given.
  const ProgramRun run = Vexlan({"render", "StereoSwitch", "--input", "LeftImage=" + good_, "--set",
                                 "Input=Right", "--output", out});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(FilesIn(outDir_), std::set<std::string>{"out.exr"});
  EXPECT_EQ(FileText(out), precious);
}

TEST_F(VexlanHostileFiles, HostileNumbersOnTheCommandLineRenderOrAreRefusedAsUsage) {
  for (const char* value : {"nan", "-inf", "4.9e-324"}) {
    SCOPED_TRACE(value);
    const ProgramRun run =
        Divide(good_, outDir_ / "out.exr", {"--set", std::string("Zmax=") + value});
    EXPECT_EQ(run.status, 0) << run.err;
  }
  for (const char* value : {"", "abc", "1,5"}) {
    SCOPED_TRACE(value);
    const ProgramRun run =
        Divide(good_, outDir_ / "other.exr", {"--set", std::string("Zmax=") + value});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_FALSE(fs::exists(outDir_ / "other.exr"));
  }
}

// ----------------------------------------------------------- determinism

// One demo step as the demo prints it: "vexlan render TOOL --input 'ID=FILE'
// ... --set 'ID=VALUE' ... --output FILE", names relative to the folder.
struct DemoCommand {
  std::string tool, output;
  std::vector<std::pair<std::string, std::string>> inputs, sets;  // ID and file or value
};

std::vector<DemoCommand> ParseDemoCommands(const std::string& log) {
  std::vector<DemoCommand> commands;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("vexlan render ", 0) != 0) continue;
    const size_t outputAt = line.rfind(" --output ");
    if (outputAt == std::string::npos) continue;
    DemoCommand c;
    std::istringstream(line.substr(14)) >> c.tool;
    c.output = line.substr(outputAt + 10);
    // Each quoted argument follows its option: --input 'ID=FILE', --set 'ID=VALUE'.
    for (size_t at = line.find(" '"); at != std::string::npos; at = line.find(" '", at + 1)) {
      const size_t end = line.find('\'', at + 2);
      const std::string word = line.substr(at + 2, end - at - 2);
      const size_t optionAt = line.rfind("--", at);
      const size_t eq = word.find('=');
      if (end == std::string::npos || optionAt == std::string::npos || eq == std::string::npos)
        continue;
      const bool input = line.compare(optionAt, 8, "--input ") == 0;
      (input ? c.inputs : c.sets).emplace_back(word.substr(0, eq), word.substr(eq + 1));
      at = end;
    }
    commands.push_back(c);
  }
  return commands;
}

// A pass file as a tool sees it: R, G, B, A (or X, Y, Z, or U, V) into red,
// green, blue and alpha, a single channel into all three colours, alpha 1
// where the file has none.
ImagePtr ReadPass(const std::string& path) {
  auto in = OIIO::ImageInput::open(path);
  if (!in) return nullptr;
  const OIIO::ImageSpec& spec = in->spec();
  std::vector<float> pixels(size_t(spec.width) * spec.height * spec.nchannels);
  if (!in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, pixels.data()))
    return nullptr;
  int slot[4] = {-1, -1, -1, -1};  // file channel of blue, green, red, alpha
  const std::map<std::string, int> names = {{"R", ChanR}, {"X", ChanR}, {"U", ChanR},
                                            {"G", ChanG}, {"Y", ChanG}, {"V", ChanG},
                                            {"B", ChanB}, {"Z", ChanB}, {"A", ChanA}};
  for (int c = 0; c < spec.nchannels; ++c)
    if (auto it = names.find(spec.channelnames[c]); it != names.end()) slot[it->second] = c;
  if (spec.nchannels == 1) slot[ChanR] = slot[ChanG] = slot[ChanB] = 0;
  ImagePtr img(NewImage(spec.width, spec.height));
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) {
      const float* px = &pixels[(size_t(y) * spec.width + x) * spec.nchannels];
      float* out = img->Group1(x, y);
      for (int c = 0; c < 4; ++c) out[c] = slot[c] >= 0 ? px[slot[c]] : (c == ChanA ? 1.0f : 0.0f);
    }
  return img;
}

// The class name of a tool as the command line names it: registry ID, name
// or class name, in any letter case.
std::string ClassOf(const std::string& text) {
  for (const NamedTool& tool : AllTools())
    if (strcasecmp(text.c_str(), tool.className) == 0 ||
        strcasecmp(text.c_str(), tool.record->name) == 0 ||
        strcasecmp(text.c_str(), tool.record->registryId) == 0)
      return tool.className;
  return text;
}

// The demo, run once for the suite: its passes and the steps it printed.
class Determinism : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchFolder("vexlan-determinism");
    const ProgramRun run =
        RunProgram({VEXLAN_BIN, "demo", "--out", Demo().string()}, scratch_->Path());
    demoStatus_ = run.status;
    demoLog_ = run.out + run.err;
    commands_ = ParseDemoCommands(run.out);
  }
  static void TearDownTestSuite() { delete scratch_; }
  void SetUp() override { ASSERT_EQ(demoStatus_, 0) << demoLog_; }

  static fs::path Demo() { return scratch_->Path() / "demo"; }

  static ScratchFolder* scratch_;
  static int demoStatus_;
  static std::string demoLog_;
  static std::vector<DemoCommand> commands_;
};
ScratchFolder* Determinism::scratch_ = nullptr;
int Determinism::demoStatus_ = -1;
std::string Determinism::demoLog_;
std::vector<DemoCommand> Determinism::commands_;

TEST_F(Determinism, EveryToolOnTheDemoPassesGivesTheSameBytesOnOneTwoAndEightThreadsEveryTime) {
  std::set<std::string> swept;
  for (const DemoCommand& c : commands_) {
    SCOPED_TRACE(c.tool + " -> " + c.output);
    const std::string className = ClassOf(c.tool);
    const ToolRecord* rec = ToolRecordByClass(className);
    ASSERT_TRUE(rec);
    ToolHarness tool(*rec);
    std::vector<ImagePtr> passes;
    for (const auto& [id, file] : c.inputs) {
      passes.push_back(ReadPass((Demo() / file).string()));
      ASSERT_TRUE(passes.back()) << file;
      tool.Connect(id.c_str(), passes.back().get());
    }
    for (const auto& [id, value] : c.sets) {
      if (tool.In(id.c_str()).Kind() == InputKind::Choice)
        tool.Choose(id.c_str(), value.c_str());
      else
        tool.Set(id.c_str(), std::strtod(value.c_str(), nullptr));
    }
    std::optional<ImageSnapshot> first;
    for (int threads : {8, 1, 2, 8}) {
      SetWorkerThreadLimit(threads);
      ImagePtr result = tool.Render();
      ASSERT_TRUE(result);
      if (!first)
        first = Snapshot(*result);
      else
        EXPECT_TRUE(Snapshot(*result) == *first) << "other bytes on " << threads << " threads";
    }
    SetWorkerThreadLimit(0);
    swept.insert(className);
  }
  std::set<std::string> all;
  for (const NamedTool& tool : AllTools()) all.insert(tool.className);
  EXPECT_EQ(swept, all) << "the demo should run every tool";
}

}  // namespace
