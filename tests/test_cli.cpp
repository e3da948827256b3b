// End-to-end tests of the command-line host: the real vexlan program with
// the real module, on small EXR files written into a temporary folder. The
// commands of one test run at once: the program's start-up dominates them.
// Then the frames of a sequence, rendered several at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/frames.h"
#include "testing/harness.h"
#include "testing/program.h"

namespace fs = std::filesystem;

namespace {

// The line that starts with the input's number and ID in `vexlan info`.
std::string InfoLine(const std::string& info, const std::string& id) {
  for (const std::string& line : Lines(info)) {
    std::istringstream words(line);
    std::string number, first;
    words >> number >> first;
    if (first == id) return line;
  }
  return "";
}

class CliTest : public testing::Test {
 protected:
  std::vector<ProgramRun> RunAll(const std::vector<Args>& commands) {
    std::vector<Args> full;
    for (const Args& args : commands) full.push_back(Vexlan(args));
    return RunPrograms(full, scratch_.Path());
  }
  std::string Path(const std::string& name) const { return scratch_ / name; }

  // A 2 x 1 image: pixel 0 is (2, 4, 8, 0.5), pixel 1 is (-6, 0, 1, 1).
  std::string TwoPixels(const std::string& name) {
    WriteExr(Path(name), {2, 1, {"R", "G", "B", "A"}, {2, 4, 8, 0.5f, -6, 0, 1, 1}});
    return Path(name);
  }
  Args Divide(const std::string& input, const std::string& zmax, const std::string& output) {
    return Args{"render", "ZDevider", "--input", "Input=" + input, "--output", Path(output)} +
           (zmax.empty() ? Args{} : Args{"--set", "Zmax=" + zmax});
  }

  ScratchFolder scratch_{"vexlan-cli"};
};

TEST_F(CliTest, ListAndInfoShowTheRecordsAndInputsInCreationOrder) {
  // Info finds a tool by registry ID, name or class name, in any letter case.
  const auto runs = RunAll({{"list"},
                            {"info", "ZDevider"},
                            {"info", "quillmoor.zdevider"},
                            {"info", "ZDEVIDER"},
                            {"info", "FoCalc"}});
  for (const ProgramRun& run : runs) ASSERT_EQ(run.status, 0) << run.err;
  std::string ids;
  for (const std::string& line : Lines(runs[0].out)) ids += line.substr(0, line.find(' ')) + " ";
  EXPECT_EQ(ids,
            "Quillmoor.FoCalc Quillmoor.ZRemapper Quillmoor.Normalizer Quillmoor.ClipMotionVectors "
            "Quillmoor.Convolution Quillmoor.DirtyDof Quillmoor.IntuitiveRelighter "
            "Quillmoor.SimpleSpotlight Quillmoor.SSAO Quillmoor.StereoSwitch "
            "Quillmoor.UVpositioner Quillmoor.UVunwrap Quillmoor.ZDevider Quillmoor.Falloff ");
  const std::vector<std::string> list = Lines(runs[0].out);
  ASSERT_EQ(list.size(), 14u);
  EXPECT_TRUE(Holds(list[5], "DirtyDOF"));
  EXPECT_TRUE(Holds(list[12], "Vexlan\\DofTools"));
  EXPECT_TRUE(Holds(list[12], "Z Depth Devider Tool"));

  const std::string& info = runs[1].out;
  EXPECT_EQ(runs[2].out, info);
  EXPECT_EQ(runs[3].out, info);
  EXPECT_TRUE(Holds(info, "Quillmoor.ZDevider"));
  EXPECT_TRUE(Holds(info, "RegInt4 = 343"));
  EXPECT_TRUE(Holds(info, "Page \"Settings\""));
  const std::string zmax = InfoLine(info, "Zmax");
  EXPECT_TRUE(Holds(zmax, "\"Pick Zmax from Remapped Z depth\""));
  EXPECT_TRUE(Holds(zmax, "number; ColorControl; default 1; colour group 1; channel 0"));
  EXPECT_TRUE(Holds(InfoLine(info, "Input"), "image; main input 1; required"));
  EXPECT_TRUE(Holds(InfoLine(info, "ICI"), "label"));
  const size_t ici = info.find(" ICI "), zmaxAt = info.find(" Zmax "),
               inputAt = info.find(" Input "), output = info.find("Output  Output");
  EXPECT_LT(ici, zmaxAt);
  EXPECT_LT(zmaxAt, inputAt);
  EXPECT_LT(inputAt, output);
  EXPECT_NE(output, std::string::npos);

  // A computed field shows its default before any render.
  const std::string hyperFocal = InfoLine(runs[4].out, "HyperFocal");
  EXPECT_TRUE(Holds(hyperFocal, "default 53.26039"));
  EXPECT_TRUE(Holds(hyperFocal, "computed field"));
  EXPECT_EQ(InfoLine(runs[4].out, "FocalLength").find("computed"), std::string::npos);
}

TEST_F(CliTest, RenderWritesEveryPixelForAnyNumberAndAnyFormat) {
  const std::string in = TwoPixels("in.exr");
  const auto runs = RunAll({Divide(in, "4", "out.exr"), Divide(in, "inf", "inf.exr"),
                            Divide(in, "-inf", "minf.exr"), Divide(in, "nan", "nan.exr"),
                            Divide(in, "+2.5e-1", "plus.exr"), Divide(in, "4.9e-324", "tiny.exr"),
                            Divide(in, "4", "out.png")});
  for (const ProgramRun& run : runs) ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(runs[0].out, "");  // no computed fields
  const Written out(Path("out.exr"));
  ASSERT_EQ(out.Spec().channelnames, (std::vector<std::string>{"R", "G", "B", "A"}));
  ASSERT_EQ(out.Spec().width, 2);
  EXPECT_EQ(out.At(0, 0, "R"), 0.5f);
  EXPECT_EQ(out.At(0, 0, "G"), 1.0f);
  EXPECT_EQ(out.At(0, 0, "B"), 2.0f);
  EXPECT_EQ(out.At(0, 0, "A"), 0.5f);  // alpha is not divided
  EXPECT_EQ(out.At(1, 0, "R"), -1.5f);
  EXPECT_EQ(out.At(1, 0, "B"), 0.25f);
  EXPECT_EQ(Written(Path("inf.exr")).At(0, 0, "R"), 0.0f);
  EXPECT_TRUE(std::signbit(Written(Path("minf.exr")).At(0, 0, "R")));
  EXPECT_TRUE(std::isnan(Written(Path("nan.exr")).At(0, 0, "G")));
  EXPECT_EQ(Written(Path("plus.exr")).At(0, 0, "B"), 32.0f);
  EXPECT_EQ(Written(Path("tiny.exr")).At(0, 0, "B"), INFINITY);

  // PNG: colour and alpha in eight bits, clamped.
  const Written eight(Path("out.png"));
  EXPECT_EQ(eight.Spec().nchannels, 4);
  EXPECT_EQ(eight.Spec().format, OIIO::TypeDesc::UINT8);
  EXPECT_EQ(eight.At(1, 0, "R"), 0.0f);
  EXPECT_EQ(eight.At(1, 0, "B"), 64.0f / 255);
  EXPECT_EQ(eight.At(1, 0, "A"), 1.0f);
  EXPECT_EQ(eight.At(0, 0, "A"), 128.0f / 255);

  // Nothing but the outputs is left in the folder: no temporary files.
  EXPECT_EQ(FilesIn(scratch_.Path()),
            (std::set<std::string>{"in.exr", "out.exr", "inf.exr", "minf.exr", "nan.exr",
                                   "plus.exr", "tiny.exr", "out.png"}));
}

TEST_F(CliTest, FrameRangesRenderThroughHashPathsPrintingFieldsAfterEachFrame) {
  for (int frame = 8; frame <= 10; ++frame)
    WriteExr(Path("in_" + std::string(frame < 10 ? "0" : "") + std::to_string(frame) + ".exr"),
             {1, 1, {"R", "G", "B", "A"}, {float(frame), 0, 0, 1}});
  const std::string in = TwoPixels("in.exr");
  for (int frame : {1, 2, 4, 5}) TwoPixels("gap." + std::to_string(frame) + ".exr");
  const auto runs =
      RunAll({Divide(Path("in_##.exr"), "2", "out.####.exr") + Args{"--frames", "8-10"},
              {"render", "FoCalc", "--input", "Input=" + in, "--set", "PlaneOfFocus=60", "--frames",
               "1-2", "--output", Path("o.#.exr")},
              {"render", "FoCalc", "--input", "Input=" + Path("gap.#.exr"), "--frames", "1-5",
               "--threads", "2", "--output", Path("gap-out.#.exr")},
              {"render", "FoCalc", "--input", "Input=" + Path("gap.#.exr"), "--frames", "0-6",
               "--threads", "2", "--keep-going", "--output", Path("kept.#.exr")}});

  ASSERT_EQ(runs[0].status, 0) << runs[0].err;
  EXPECT_EQ(Written(Path("out.0008.exr")).At(0, 0, "R"), 4.0f);
  EXPECT_EQ(Written(Path("out.0009.exr")).At(0, 0, "R"), 4.5f);
  EXPECT_EQ(Written(Path("out.0010.exr")).At(0, 0, "R"), 5.0f);
  EXPECT_FALSE(fs::exists(Path("out.0011.exr")));

  ASSERT_EQ(runs[1].status, 0) << runs[1].err;
  const std::vector<std::string> lines = Lines(runs[1].out);
  ASSERT_EQ(lines.size(), 12u) << runs[1].out;
  const char* order[] = {"FrameAspect", "CoC", "HyperFocal", "DoFN", "DoFF", "DoFT"};
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].rfind(std::string(order[i % 6]) + " = ", 0), 0u) << lines[i];
  // Seventeen significant digits: the printed value reads back exactly.
  EXPECT_EQ(lines[0], "FrameAspect = 1.3333333333333333");
  EXPECT_EQ(std::strtod(lines[3].substr(7).c_str(), nullptr), 25.07532655959978);
  EXPECT_EQ(lines[4], "DoFF = 0");
  EXPECT_EQ(Written(Path("o.2.exr")).At(1, 0, "R"), -6.0f);  // passed through

  // A missing frame on several threads: the frames before it are printed
  // and written, none after.
  EXPECT_EQ(runs[2].status, 1);
  EXPECT_TRUE(Holds(runs[2].err, "frame 3: "));
  EXPECT_TRUE(Holds(runs[2].err, "gap.3.exr"));
  EXPECT_EQ(Lines(runs[2].out).size(), 2u * 6u) << runs[2].out;
  for (int frame : {1, 2, 3})
    EXPECT_EQ(fs::exists(Path("gap-out." + std::to_string(frame) + ".exr")), frame < 3) << frame;

  // Keeping going: every frame that can be rendered is, the first one
  // missing too, and the failed ones are listed at the end.
  EXPECT_EQ(runs[3].status, 1);
  EXPECT_EQ(Lines(runs[3].out).size(), 4u * 6u) << runs[3].out;
  EXPECT_TRUE(Holds(runs[3].err, "frame 6: " + Path("gap.6.exr") + ": no such file"));
  EXPECT_TRUE(Holds(runs[3].err, "3 of 7 frames failed: 0, 3, 6"));
  for (int frame = 0; frame <= 6; ++frame)
    EXPECT_EQ(fs::exists(Path("kept." + std::to_string(frame) + ".exr")), frame % 3 != 0) << frame;
}

TEST_F(CliTest, BadCommandLinesExitTwoNamingWhatIsValid) {
  const std::string in = TwoPixels("in.exr"), out = Path("out.exr");
  auto with = [&](const Args& extra) {
    return Args{"render", "ZDevider", "--output", out} + extra;
  };
  const std::string image = "Input=" + in;
  const struct {
    Args args;
    std::vector<std::string> said;  // texts the message must hold
  } cases[] = {
      {{"render", "NoSuchTool", "--output", out},
       {"unknown tool \"NoSuchTool\"", "Quillmoor.SSAO"}},
      {{"info", "NoSuchTool"}, {"unknown tool", "Quillmoor.DirtyDof  DirtyDOF"}},
      {with({"--input", image, "--set", "Zmx=1"}), {"no input \"Zmx\"", "Zmax"}},
      {with({"--input", "Inputs=" + in}), {"no input \"Inputs\"", "image inputs: Input"}},
      {with({"--input", image, "--set", "Zmax=1x"}), {"\"1x\" is not a number", "inf"}},
      {with({"--input", image, "--set", "Zmax="}), {"\"\" is not a number"}},
      {with({"--input", image, "--set", "Zmax= 2"}), {"is not a number"}},
      {with({"--input", image, "--set", "Zmax=1,5"}), {"is not a number"}},
      {with({"--input", image, "--set", "Zmax=1e999"}), {"beyond the largest double"}},
      {with({"--input", image, "--input", image}), {"Input is given twice"}},
      {with({"--input", image, "--set", "Input=2"}), {"Input is an image input", "--input"}},
      {with({"--input", image, "--input", "Zmax=" + in}), {"Zmax is a number input", "--set"}},
      {with({"--input", image, "--set", "ICI=1"}), {"ICI is a label"}},
      {with({}), {"needs an image on Input"}},
      {with({"--input", image, "--frames", "5-2"}), {"--frames 5-2", "A-B"}},
      {with({"--input", image, "--frames", "x-2"}), {"--frames x-2"}},
      {with({"--input", image, "--frames", "1-3"}), {"no run of '#'"}},
      {with({"--input", image, "--threads", "-2"}), {"--threads"}},
      {with({"--input", in}), {"expected ID=PATH"}},
      {{"render", "StereoSwitch", "--output", out, "--set", "Input=right"},
       {"no option \"right\"", "\"Left\", \"Right\""}},
      {{"bogus"}, {"expected a command"}},
  };
  std::vector<Args> commands;
  for (const auto& c : cases) commands.push_back(c.args);
  const std::vector<ProgramRun> runs = RunAll(commands);
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].args.back());
    EXPECT_EQ(runs[i].status, 2) << runs[i].err;
    for (const std::string& text : cases[i].said) EXPECT_TRUE(Holds(runs[i].err, text));
  }
  EXPECT_FALSE(fs::exists(out));
}

// ---------------------------------------------------------------------------
// Frames of a sequence rendered several at once.

// Frames of different lengths: frame f takes (f * 7 % 5) ms.
void RenderFor(int frame) { std::this_thread::sleep_for(std::chrono::milliseconds(frame * 7 % 5)); }

TEST(FramesInFlight, HandOnEveryFrameInOrderWithAtMostTheLimitAtOnceUpToTheFirstFailure) {
  for (int inFlight : {1, 2, 3, 8})
    for (bool failing : {false, true}) {
      SCOPED_TRACE(std::to_string(inFlight) + " in flight" + (failing ? ", failing" : ""));
      std::atomic<int> active{0}, most{0}, started{0};
      std::vector<int> delivered;
      int announced = -1;
      std::string error;
      try {
        RenderFramesInOrder(
            3, 62, inFlight,
            [&](int worker, int frame) {
              ++started;
              const int now = ++active;
              for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
              }
              RenderFor(frame);
              --active;
              if (failing && (frame == 8 || frame == 10))
                throw std::runtime_error("frame " + std::to_string(frame));
              return std::make_pair(worker, frame * 10);
            },
            [&](int frame) { announced = frame; },
            [&](int frame, std::pair<int, int> result) {
              EXPECT_EQ(announced, frame);
              EXPECT_EQ(result.second, frame * 10);
              EXPECT_GE(result.first, 0);
              EXPECT_LT(result.first, inFlight);
              delivered.push_back(frame);
            });
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      std::vector<int> expected(failing ? 5 : 60);
      std::iota(expected.begin(), expected.end(), 3);
      EXPECT_EQ(delivered, expected);
      EXPECT_EQ(error, failing ? "frame 8" : "");  // the first failed frame, not a later one
      EXPECT_EQ(announced, failing ? 8 : 62);
      EXPECT_LE(most, inFlight);
      EXPECT_EQ(active, 0);  // every frame in flight ended before the error came out
      // No frame was started after the failure was seen.
      EXPECT_LE(started, failing ? 6 + 4 * inFlight : 60);
    }
  // Up to the largest frame number.
  const int last = std::numeric_limits<int>::max();
  for (int inFlight : {1, 2}) {
    std::vector<int> delivered;
    RenderFramesInOrder(
        last - 2, last, inFlight, [](int, int frame) { return frame; }, [](int) {},
        [&](int frame, int) { delivered.push_back(frame); });
    EXPECT_EQ(delivered, (std::vector<int>{last - 2, last - 1, last}));
  }
}

TEST(FramesInFlight, RenderTogetherUpToTheLimit) {
  // Frame 0 finishes only once frame 1 has started: it cannot with one
  // frame at a time, and must with two.
  std::atomic<bool> secondStarted{false};
  bool overlapped = false;
  RenderFramesInOrder(
      0, 1, 2,
      [&](int, int frame) {
        if (frame == 1) secondStarted = true;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (frame == 0 && !secondStarted && std::chrono::steady_clock::now() < giveUp)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (frame == 0) overlapped = secondStarted;
        return frame;
      },
      [](int) {}, [](int, int) {});
  EXPECT_TRUE(overlapped);
}

// A three-channel float image file (alpha reads as 1), rows bottom up.
void WritePfm(const fs::path& path, const Image* img) {
  std::ofstream out(path, std::ios::binary);
  out << "PF\n" << img->Width() << " " << img->Height() << "\n-1.0\n";
  for (int y = img->Height() - 1; y >= 0; --y)
    for (int x = 0; x < img->Width(); ++x) {
      const RGBA c = PixelAt(img, x, y);
      const float rgb[3] = {c.r, c.g, c.b};
      out.write(reinterpret_cast<const char*>(rgb), sizeof rgb);
    }
}

TEST(Threads, VexlanWritesTheSameFilesAndFieldsOnOneOrSeveralThreads) {
  // Images and depths that differ from frame to frame, so that a frame
  // written under another's number would show.
  ScratchFolder scratch("vexlan-threads");
  const fs::path dir = scratch.Path();
  constexpr int w = 48, h = 32;
  auto depth = [](int frame) {
    return MakeImage(w, h, [=](int x, int y) {
      const float d = 0.3f * frame + 0.4f * x + 0.1f * y;
      return RGBA{d, d, d, 1};
    });
  };
  for (int frame = 1; frame <= 3; ++frame) {
    WritePfm(dir / ("image." + std::to_string(frame) + ".pfm"), NumberedImage(w, h, frame).get());
    WritePfm(dir / ("depth." + std::to_string(frame) + ".pfm"), depth(frame).get());
  }
  WritePfm(dir / "kernel.pfm", MakeImage(5, 5, [](int x, int y) {
                                 const float k = (x - 2) * (x - 2) + (y - 2) * (y - 2) <= 4;
                                 return RGBA{k, k, k, 1};
                               }).get());
  Bumps bumps(w, h);
  WritePfm(dir / "normal01.pfm", bumps.normals.get());
  WritePfm(dir / "position.pfm", bumps.position.get());
  const std::vector<std::vector<std::string>> renders = {
      {"DirtyDof", "Image", "image.#.pfm", "Zdepth", "depth.#.pfm"},
      {"Convolution", "Image", "image.#.pfm", "Kernel", "kernel.pfm"},
      {"SSAO", "Normals", "normal01.pfm", "Position", "position.pfm"},
      {"ZRemapper", "Input", "depth.#.pfm"}};
  const char* threads[] = {"1", "3", "0"};
  std::vector<Args> commands;
  for (const auto& render : renders)
    for (const char* n : threads) {
      Args args = {
          "render",    render[0], "--frames", "1-3",
          "--threads", n,         "--output", (dir / (render[0] + "-" + n + ".#.exr")).string()};
      for (size_t i = 1; i < render.size(); i += 2)
        args.insert(args.end(), {"--input", render[i] + "=" + (dir / render[i + 1]).string()});
      commands.push_back(Vexlan(args));
    }
  const std::vector<ProgramRun> runs = RunPrograms(commands, dir);
  for (size_t r = 0; r < renders.size(); ++r) {
    const std::string& tool = renders[r][0];
    for (size_t t = 0; t < 3; ++t) {
      ASSERT_EQ(runs[r * 3 + t].status, 0) << tool << ": " << runs[r * 3 + t].err;
      EXPECT_EQ(runs[r * 3 + t].out, runs[r * 3].out) << tool << " on " << threads[t];
    }
    for (int frame = 1; frame <= 3; ++frame) {
      const std::string file = std::string(".") + std::to_string(frame) + ".exr";
      const std::string one = FileText(dir / (tool + "-1" + file));  // outputs carry no time stamp
      EXPECT_FALSE(one.empty()) << tool;
      EXPECT_TRUE(one == FileText(dir / (tool + "-3" + file))) << tool << " frame " << frame;
      EXPECT_TRUE(one == FileText(dir / (tool + "-0" + file))) << tool << " frame " << frame;
    }
  }
  EXPECT_EQ(Lines(runs[9].out).size(), 3u * 6u);  // the remapper's fields after each frame
  EXPECT_NE(FileText(dir / "DirtyDof-1.1.exr"), FileText(dir / "DirtyDof-1.2.exr"));
}

}  // namespace
