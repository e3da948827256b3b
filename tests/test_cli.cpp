// End-to-end tests of the command-line host: the real vexlan program with
// the real module, on small EXR files written into a temporary folder.
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/frames.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

using Args = std::vector<std::string>;

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Plain float pixels with named channels, as written to or read from a file.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::string> channels;
  std::vector<float> pixels;

  int Channel(const std::string& name) const {
    for (size_t c = 0; c < channels.size(); ++c)
      if (channels[c] == name) return static_cast<int>(c);
    ADD_FAILURE() << "no channel " << name;
    return 0;
  }
  float At(int x, int y, const std::string& name) const {
    return pixels[(size_t(y) * width + x) * channels.size() + Channel(name)];
  }
};

void WriteExr(const fs::path& path, const Picture& pic) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(pic.width, pic.height, static_cast<int>(pic.channels.size()),
                       OIIO::TypeDesc::FLOAT);
  spec.channelnames = pic.channels;
  ASSERT_TRUE(out->open(path.string(), spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pic.pixels.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

Picture ReadPicture(const fs::path& path) {
  Picture pic;
  auto in = OIIO::ImageInput::open(path.string());
  if (!in) {
    ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
    return pic;
  }
  const OIIO::ImageSpec& spec = in->spec();
  pic.width = spec.width;
  pic.height = spec.height;
  pic.channels = spec.channelnames;
  pic.pixels.resize(size_t(spec.width) * spec.height * spec.nchannels);
  EXPECT_TRUE(in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, pic.pixels.data()));
  return pic;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

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

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vexlan-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs every command at once (the program's start-up dominates a small
  // render) and waits for all.
  std::vector<Outcome> RunAll(const std::vector<Args>& commands) {
    std::vector<pid_t> pids;
    for (size_t i = 0; i < commands.size(); ++i) {
      std::vector<std::string> argv = {VEXLAN_BIN, "--plugin", VEXLAN_PLUGIN_PATH};
      argv.insert(argv.end(), commands[i].begin(), commands[i].end());
      std::vector<char*> raw;
      for (std::string& arg : argv) raw.push_back(arg.data());
      raw.push_back(nullptr);
      posix_spawn_file_actions_t files;
      posix_spawn_file_actions_init(&files);
      const std::string out = Capture(i, "out"), err = Capture(i, "err");
      posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      pid_t pid = -1;
      EXPECT_EQ(posix_spawn(&pid, raw[0], &files, nullptr, raw.data(), environ), 0);
      posix_spawn_file_actions_destroy(&files);
      pids.push_back(pid);
    }
    std::vector<Outcome> outcomes(commands.size());
    for (size_t i = 0; i < pids.size(); ++i) {
      int status = 0;
      waitpid(pids[i], &status, 0);
      outcomes[i].status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      outcomes[i].out = FileText(Capture(i, "out"));
      outcomes[i].err = FileText(Capture(i, "err"));
      fs::remove(Capture(i, "out"));
      fs::remove(Capture(i, "err"));
    }
    return outcomes;
  }
  Outcome Run(const Args& args) { return RunAll({args}).front(); }

  // A 2 x 1 image: pixel 0 is (2, 4, 8, 0.5), pixel 1 is (-6, 0, 1, 1).
  std::string TwoPixels(const std::string& name) {
    WriteExr(Path(name), {2, 1, {"R", "G", "B", "A"}, {2, 4, 8, 0.5f, -6, 0, 1, 1}});
    return Path(name);
  }

  fs::path dir_;

 private:
  std::string Capture(size_t i, const char* stream) const {
    return (dir_ / (".run" + std::to_string(i) + "." + stream)).string();
  }
};

// --- list and info --------------------------------------------------------

TEST_F(CliTest, ListNamesTheFourteenToolsInRegistryOrder) {
  const Outcome run = Run({"list"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> expected = {"Quillmoor.FoCalc",
                                             "Quillmoor.ZRemapper",
                                             "Quillmoor.Normalizer",
                                             "Quillmoor.ClipMotionVectors",
                                             "Quillmoor.Convolution",
                                             "Quillmoor.DirtyDof",
                                             "Quillmoor.IntuitiveRelighter",
                                             "Quillmoor.SimpleSpotlight",
                                             "Quillmoor.SSAO",
                                             "Quillmoor.StereoSwitch",
                                             "Quillmoor.UVpositioner",
                                             "Quillmoor.UVunwrap",
                                             "Quillmoor.ZDevider",
                                             "Quillmoor.Falloff"};
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), expected.size()) << run.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::istringstream words(lines[i]);
    std::string id, name, category;
    words >> id >> name >> category;
    EXPECT_EQ(id, expected[i]);
  }
  EXPECT_NE(lines[5].find("DirtyDOF"), std::string::npos);
  EXPECT_NE(lines[12].find("Vexlan\\DofTools"), std::string::npos);
  EXPECT_NE(lines[12].find("Z Depth Devider Tool"), std::string::npos);
}

TEST_F(CliTest, InfoShowsRecordInputsInCreationOrderAndOutput) {
  // Found by registry ID, name or class name, in any letter case.
  const auto runs =
      RunAll({{"info", "ZDevider"}, {"info", "quillmoor.zdevider"}, {"info", "ZDEVIDER"}});
  for (const Outcome& run : runs) {
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, runs[0].out);
  }
  const std::string& info = runs[0].out;
  EXPECT_NE(info.find("Quillmoor.ZDevider"), std::string::npos);
  EXPECT_NE(info.find("RegInt4 = 343"), std::string::npos);
  EXPECT_NE(info.find("Page \"Settings\""), std::string::npos);

  const std::string zmax = InfoLine(info, "Zmax");
  EXPECT_NE(zmax.find("\"Pick Zmax from Remapped Z depth\""), std::string::npos) << zmax;
  EXPECT_NE(zmax.find("number; ColorControl; default 1; colour group 1; channel 0"),
            std::string::npos)
      << zmax;
  const std::string input = InfoLine(info, "Input");
  EXPECT_NE(input.find("image; main input 1; required"), std::string::npos) << input;
  EXPECT_NE(InfoLine(info, "ICI").find("label"), std::string::npos);

  const size_t ici = info.find(" ICI "), zmaxAt = info.find(" Zmax "),
               inputAt = info.find(" Input "), output = info.find("Output  Output");
  EXPECT_LT(ici, zmaxAt);
  EXPECT_LT(zmaxAt, inputAt);
  EXPECT_LT(inputAt, output);
  EXPECT_NE(output, std::string::npos);
}

TEST_F(CliTest, InfoShowsComputedFieldDefaultsBeforeAnyRender) {
  const Outcome run = Run({"info", "FoCalc"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string hyperFocal = InfoLine(run.out, "HyperFocal");
  EXPECT_NE(hyperFocal.find("default 53.26039"), std::string::npos) << hyperFocal;
  EXPECT_NE(hyperFocal.find("computed field"), std::string::npos) << hyperFocal;
  EXPECT_EQ(InfoLine(run.out, "FocalLength").find("computed"), std::string::npos);
}

// --- rendering ------------------------------------------------------------

TEST_F(CliTest, RenderWritesEveryPixelDividedByZmax) {
  const std::string in = TwoPixels("in.exr");
  const Outcome run = Run({"render", "ZDevider", "--input", "Input=" + in, "--set", "Zmax=4",
                           "--output", Path("out.exr")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");  // no computed fields
  const Picture out = ReadPicture(Path("out.exr"));
  ASSERT_EQ(out.channels, (std::vector<std::string>{"R", "G", "B", "A"}));
  ASSERT_EQ(out.width, 2);
  EXPECT_EQ(out.At(0, 0, "R"), 0.5f);
  EXPECT_EQ(out.At(0, 0, "G"), 1.0f);
  EXPECT_EQ(out.At(0, 0, "B"), 2.0f);
  EXPECT_EQ(out.At(0, 0, "A"), 0.5f);  // alpha is not divided
  EXPECT_EQ(out.At(1, 0, "R"), -1.5f);
  EXPECT_EQ(out.At(1, 0, "B"), 0.25f);
  // Nothing but the output is left in the folder: no temporary files.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.exr", "out.exr"}));
}

TEST_F(CliTest, NumbersIncludeInfinityAndNotANumber) {
  const std::string in = TwoPixels("in.exr");
  auto render = [&](const std::string& value, const std::string& out) {
    return Args{"render", "ZDevider",      "--input",  "Input=" + in,
                "--set",  "Zmax=" + value, "--output", Path(out)};
  };
  const auto runs = RunAll({render("inf", "inf.exr"), render("-inf", "minf.exr"),
                            render("nan", "nan.exr"), render("+2.5e-1", "plus.exr")});
  for (const Outcome& run : runs) ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadPicture(Path("inf.exr")).At(0, 0, "R"), 0.0f);
  EXPECT_TRUE(std::signbit(ReadPicture(Path("minf.exr")).At(0, 0, "R")));
  EXPECT_TRUE(std::isnan(ReadPicture(Path("nan.exr")).At(0, 0, "G")));
  EXPECT_EQ(ReadPicture(Path("plus.exr")).At(0, 0, "B"), 32.0f);
}

TEST_F(CliTest, FurtherChannelsAreCarriedThroughUnderTheirNames) {
  // Z is a further channel here because B is present.
  WriteExr(Path("in.exr"),
           {1, 1, {"R", "G", "B", "A", "Z", "id", "spec.R"}, {2, 4, 6, 1, 9, 7, 5}});
  const Outcome run = Run({"render", "zdevider", "--input", "Input=" + Path("in.exr"), "--set",
                           "Zmax=2", "--output", Path("out.exr")});
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture out = ReadPicture(Path("out.exr"));
  ASSERT_EQ(out.channels.size(), 7u);
  EXPECT_EQ(out.At(0, 0, "R"), 1.0f);
  EXPECT_EQ(out.At(0, 0, "B"), 3.0f);
  EXPECT_EQ(out.At(0, 0, "Z"), 9.0f);
  EXPECT_EQ(out.At(0, 0, "id"), 7.0f);
  EXPECT_EQ(out.At(0, 0, "spec.R"), 5.0f);
}

TEST_F(CliTest, OneChannelFillsRedGreenBlueAndAMissingAlphaIsOne) {
  WriteExr(Path("depth.exr"), {2, 1, {"Z"}, {10, 30}});
  const Outcome run = Run({"render", "ZDevider", "--input", "Input=" + Path("depth.exr"), "--set",
                           "Zmax=10", "--output", Path("out.exr")});
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture out = ReadPicture(Path("out.exr"));
  ASSERT_EQ(out.channels, (std::vector<std::string>{"R", "G", "B", "A"}));
  for (const char* c : {"R", "G", "B"}) {
    EXPECT_EQ(out.At(0, 0, c), 1.0f) << c;
    EXPECT_EQ(out.At(1, 0, c), 3.0f) << c;
  }
  EXPECT_EQ(out.At(0, 0, "A"), 1.0f);
}

TEST_F(CliTest, TheDataWindowIsPlacedInTheDisplayWindow) {
  // A 4 x 2 picture whose data is the 2 x 1 strip at (1, 1).
  auto file = OIIO::ImageOutput::create(Path("window.exr"));
  OIIO::ImageSpec spec(2, 1, 4, OIIO::TypeDesc::FLOAT);
  spec.x = 1, spec.y = 1;
  spec.full_x = 0, spec.full_y = 0, spec.full_width = 4, spec.full_height = 2;
  const float data[] = {2, 2, 2, 1, 4, 4, 4, 1};
  ASSERT_TRUE(file->open(Path("window.exr"), spec));
  ASSERT_TRUE(file->write_image(OIIO::TypeDesc::FLOAT, data));
  ASSERT_TRUE(file->close());

  const Outcome run = Run({"render", "ZDevider", "--input", "Input=" + Path("window.exr"), "--set",
                           "Zmax=2", "--output", Path("out.exr")});
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture out = ReadPicture(Path("out.exr"));
  ASSERT_EQ(out.width, 4);
  ASSERT_EQ(out.height, 2);
  EXPECT_EQ(out.At(1, 1, "R"), 1.0f);
  EXPECT_EQ(out.At(2, 1, "G"), 2.0f);
  EXPECT_EQ(out.At(2, 1, "A"), 1.0f);
  EXPECT_EQ(out.At(0, 0, "A"), 0.0f);  // outside the data: empty
  EXPECT_EQ(out.At(3, 1, "R"), 0.0f);
}

TEST_F(CliTest, LayerChoosesItsChannelsAndAnUnknownLayerNamesTheLayers) {
  // X, Y, Z of the layer map to red, green, blue; a missing alpha is 1.
  WriteExr(Path("multi.exr"),
           {1, 1, {"R", "G", "B", "N.X", "N.Y", "N.Z", "depth.Z"}, {1, 1, 1, 2, 4, 8, 16}});
  const auto runs =
      RunAll({{"render", "ZDevider", "--input", "Input=" + Path("multi.exr") + ":N", "--set",
               "Zmax=2", "--output", Path("n.exr")},
              {"render", "ZDevider", "--input", "Input=" + Path("multi.exr") + ":depth", "--output",
               Path("depth.exr")},
              {"render", "ZDevider", "--input", "Input=" + Path("multi.exr") + ":P", "--output",
               Path("p.exr")}});
  ASSERT_EQ(runs[0].status, 0) << runs[0].err;
  const Picture n = ReadPicture(Path("n.exr"));
  ASSERT_EQ(n.channels.size(), 4u);  // a layer brings no further channels
  EXPECT_EQ(n.At(0, 0, "R"), 1.0f);
  EXPECT_EQ(n.At(0, 0, "G"), 2.0f);
  EXPECT_EQ(n.At(0, 0, "B"), 4.0f);
  EXPECT_EQ(n.At(0, 0, "A"), 1.0f);

  ASSERT_EQ(runs[1].status, 0) << runs[1].err;
  EXPECT_EQ(ReadPicture(Path("depth.exr")).At(0, 0, "G"), 16.0f);

  EXPECT_EQ(runs[2].status, 1);
  EXPECT_NE(runs[2].err.find("no layer \"P\""), std::string::npos) << runs[2].err;
  EXPECT_NE(runs[2].err.find("N, depth"), std::string::npos) << runs[2].err;
  EXPECT_FALSE(fs::exists(Path("p.exr")));
}

TEST_F(CliTest, FrameRangeRendersEachFrameThroughHashPaths) {
  for (int frame = 8; frame <= 10; ++frame)
    WriteExr(Path("in_" + std::string(frame < 10 ? "0" : "") + std::to_string(frame) + ".exr"),
             {1, 1, {"R", "G", "B", "A"}, {float(frame), 0, 0, 1}});
  const Outcome run = Run({"render", "ZDevider", "--input", "Input=" + Path("in_##.exr"), "--set",
                           "Zmax=2", "--frames", "8-10", "--output", Path("out.####.exr")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadPicture(Path("out.0008.exr")).At(0, 0, "R"), 4.0f);
  EXPECT_EQ(ReadPicture(Path("out.0009.exr")).At(0, 0, "R"), 4.5f);
  EXPECT_EQ(ReadPicture(Path("out.0010.exr")).At(0, 0, "R"), 5.0f);
  EXPECT_FALSE(fs::exists(Path("out.0011.exr")));
}

TEST_F(CliTest, ComputedFieldsArePrintedAfterEachFrame) {
  const std::string in = TwoPixels("in.exr");
  const Outcome run = Run({"render", "FoCalc", "--input", "Input=" + in, "--set", "PlaneOfFocus=60",
                           "--frames", "1-2", "--output", Path("o.#.exr")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 12u) << run.out;
  const char* order[] = {"FrameAspect", "CoC", "HyperFocal", "DoFN", "DoFF", "DoFT"};
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].rfind(std::string(order[i % 6]) + " = ", 0), 0u) << lines[i];
  // Seventeen significant digits: the printed value reads back exactly.
  EXPECT_EQ(lines[0], "FrameAspect = 1.3333333333333333");
  EXPECT_EQ(std::strtod(lines[3].substr(7).c_str(), nullptr), 25.07532655959978);
  EXPECT_EQ(lines[4], "DoFF = 0");
  // The image passes through unchanged.
  EXPECT_EQ(ReadPicture(Path("o.2.exr")).At(1, 0, "R"), -6.0f);
}

TEST_F(CliTest, PngOutputKeepsColourAndAlphaConvertedToEightBits) {
  const std::string in = TwoPixels("in.exr");
  const Outcome run = Run({"render", "ZDevider", "--input", "Input=" + in, "--set", "Zmax=4",
                           "--output", Path("out.png")});
  ASSERT_EQ(run.status, 0) << run.err;
  auto file = OIIO::ImageInput::open(Path("out.png"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->spec().nchannels, 4);
  EXPECT_EQ(file->spec().format, OIIO::TypeDesc::UINT8);
  const Picture out = ReadPicture(Path("out.png"));
  EXPECT_EQ(out.At(1, 0, "R"), 0.0f);  // -1.5 is clamped
  EXPECT_EQ(out.At(1, 0, "B"), 64.0f / 255);
  EXPECT_EQ(out.At(1, 0, "A"), 1.0f);
  EXPECT_EQ(out.At(0, 0, "A"), 128.0f / 255);
}

// --- errors ---------------------------------------------------------------

struct ErrorCase {
  Args args;
  std::vector<std::string> said;  // texts the message must hold
};

TEST_F(CliTest, BadCommandLinesExitTwoNamingWhatIsValid) {
  const std::string in = TwoPixels("in.exr");
  const std::string out = Path("out.exr");
  const Args zdevider = {"render", "ZDevider", "--output", out};
  auto with = [&](Args extra) {
    Args args = zdevider;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::string image = "Input=" + in;
  const std::vector<ErrorCase> cases = {
      {{"render", "NoSuchTool", "--output", out},
       {"unknown tool \"NoSuchTool\"", "Quillmoor.SSAO"}},
      {{"info", "NoSuchTool"}, {"unknown tool", "Quillmoor.DirtyDof  DirtyDOF"}},
      {with({"--input", image, "--set", "Zmx=1"}), {"no input \"Zmx\"", "Zmax"}},
      {with({"--input", "Inputs=" + in}), {"no input \"Inputs\"", "image inputs: Input"}},
      {with({"--input", image, "--set", "Zmax=1x"}), {"\"1x\" is not a number", "inf"}},
      {with({"--input", image, "--set", "Zmax="}), {"\"\" is not a number"}},
      {with({"--input", image, "--set", "Zmax= 2"}), {"is not a number"}},
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
  for (const ErrorCase& c : cases) commands.push_back(c.args);
  const std::vector<Outcome> runs = RunAll(commands);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].args.back());
    EXPECT_EQ(runs[i].status, 2) << runs[i].err;
    for (const std::string& text : cases[i].said)
      EXPECT_NE(runs[i].err.find(text), std::string::npos) << runs[i].err;
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliTest, FailedFilesExitOneAndLeaveAnExistingOutputAlone) {
  // A good output from an earlier render, which no failure may touch.
  const std::string out = Path("out.exr");
  std::ofstream(out) << "the earlier render";

  std::ofstream(Path("notes.exr")) << "not an image";
  fs::create_directory(Path("folder.exr"));
  Picture big{64, 64, {"R", "G", "B", "A"}, std::vector<float>(64 * 64 * 4)};
  for (size_t i = 0; i < big.pixels.size(); ++i) big.pixels[i] = float(i % 97) / 7.0f;
  WriteExr(Path("big.exr"), big);
  const std::string whole = FileText(Path("big.exr"));
  std::ofstream(Path("cut.exr"), std::ios::binary) << whole.substr(0, whole.size() / 2);

  auto render = [&](const std::string& input, Args extra = {}) {
    Args args = {"render", "ZDevider", "--input", "Input=" + input, "--output", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::vector<ErrorCase> cases = {
      {render(Path("missing.exr")), {"missing.exr: no such file"}},
      {render(Path("notes.exr")), {"notes.exr: not an image file"}},
      {render(Path("folder.exr")), {"folder.exr: is a folder"}},
      {render(Path("cut.exr")), {"cut.exr: cannot be read", "truncated"}},
      {render(Path("big.exr"), {"--max-pixels", "4000"}),
       {"64 x 64 = 4096 pixels", "limit of 4000", "--max-pixels"}},
      {{"render", "ZDevider", "--input", "Input=" + Path("big.exr"), "--output",
        Path("nowhere/out.exr")},
       {"the folder", "nowhere does not exist"}},
      {{"render", "ZDevider", "--input", "Input=" + Path("big.exr"), "--output",
        Path("notes.exr/out.exr")},
       {"notes.exr is not a folder"}},
  };
  std::vector<Args> commands;
  for (const ErrorCase& c : cases) commands.push_back(c.args);
  const std::vector<Outcome> runs = RunAll(commands);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].args[3]);
    EXPECT_EQ(runs[i].status, 1) << runs[i].err;
    for (const std::string& text : cases[i].said)
      EXPECT_NE(runs[i].err.find(text), std::string::npos) << runs[i].err;
  }
  EXPECT_EQ(FileText(out), "the earlier render");
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
}

TEST_F(CliTest, ANoImageResultNamesTheUnconnectedInputs) {
  const std::string left = TwoPixels("left.exr");
  const std::string out = Path("out.exr");
  std::ofstream(out) << "the earlier render";
  const auto runs = RunAll({{"render", "StereoSwitch", "--input", "LeftImage=" + left, "--set",
                             "Input=Right", "--output", out},
                            {"render", "StereoSwitch", "--input", "LeftImage=" + left, "--output",
                             Path("left-out.exr")}});
  EXPECT_EQ(runs[0].status, 1);
  EXPECT_NE(runs[0].err.find("set no image on its output"), std::string::npos) << runs[0].err;
  EXPECT_NE(runs[0].err.find("not connected: RightImage"), std::string::npos) << runs[0].err;
  EXPECT_EQ(FileText(out), "the earlier render");
  // The chosen input connected: the image passes through.
  ASSERT_EQ(runs[1].status, 0) << runs[1].err;
  EXPECT_EQ(ReadPicture(Path("left-out.exr")).At(1, 0, "R"), -6.0f);
}

// --- the demo -------------------------------------------------------------

TEST_F(CliTest, DemoWritesTheScenePassesWithPreviewsAndRunsTheSteps) {
  const Outcome run = Run({"demo", "--out", Path("demo")});
  EXPECT_NE(run.out.find("vexlan render ZDevider"), std::string::npos) << run.out;
  for (const char* pass : {"beauty", "depth", "position", "normal", "normal01", "uv", "motion",
                           "left", "right", "kernel", "texture"}) {
    EXPECT_TRUE(fs::exists(Path("demo/" + std::string(pass) + ".exr"))) << pass;
    EXPECT_TRUE(fs::exists(Path("demo/" + std::string(pass) + ".png"))) << pass;
  }
  // Depth in metres, one channel, from the near sphere to the far wall; the
  // middle of the frame is further than its bottom edge.
  const Picture depth = ReadPicture(Path("demo/depth.exr"));
  ASSERT_EQ(depth.channels, std::vector<std::string>{"Z"});
  const auto [low, high] = std::minmax_element(depth.pixels.begin(), depth.pixels.end());
  EXPECT_GT(*low, 2.5f);
  EXPECT_LT(*low, 4.0f);
  EXPECT_GT(*high, 35.0f);
  EXPECT_LE(*high, 40.5f);
  // The kernel is a disc: opaque in the middle, clear in the corners.
  const Picture kernel = ReadPicture(Path("demo/kernel.exr"));
  EXPECT_EQ(kernel.width, 9);
  EXPECT_EQ(kernel.At(4, 4, "A"), 1.0f);
  EXPECT_EQ(kernel.At(0, 0, "A"), 0.0f);
  // Normals are unit length.
  const Picture normal = ReadPicture(Path("demo/normal.exr"));
  const float nx = normal.At(100, 300, "R"), ny = normal.At(100, 300, "G"),
              nz = normal.At(100, 300, "B");
  EXPECT_NEAR(nx * nx + ny * ny + nz * nz, 1.0f, 1e-4f);
  // Every step that succeeded left its output with a preview.
  EXPECT_TRUE(fs::exists(Path("demo/zdevider.exr")));
  EXPECT_TRUE(fs::exists(Path("demo/zdevider.png")));
  EXPECT_EQ(run.status, run.out.find(" 0 failed") != std::string::npos ? 0 : 1) << run.out;
}

// --- sequences rendered several frames at once ----------------------------

// Frames of different lengths: frame f takes (f * 7 % 5) ms.
void RenderFor(int frame) { std::this_thread::sleep_for(std::chrono::milliseconds(frame * 7 % 5)); }

TEST(FramesInFlight, HandOnEveryFrameInOrderWithAtMostTheLimitAtOnce) {
  for (int inFlight : {1, 2, 3, 8}) {
    std::atomic<int> active{0}, most{0};
    std::vector<std::thread::id> threadOfWorker(inFlight);
    std::vector<int> announced, delivered;
    RenderFramesInOrder(
        3, 22, inFlight,
        [&](int worker, int frame) {
          const int now = ++active;
          for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
          }
          RenderFor(frame);
          --active;
          return std::make_pair(worker, frame * 10);
        },
        [&](int frame) { announced.push_back(frame); },
        [&](int frame, std::pair<int, int> result) {
          EXPECT_EQ(announced.back(), frame);
          EXPECT_EQ(result.second, frame * 10);
          EXPECT_GE(result.first, 0);
          EXPECT_LT(result.first, inFlight);
          delivered.push_back(frame);
        });
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 3);
    EXPECT_EQ(delivered, expected) << inFlight << " in flight";
    EXPECT_LE(most, inFlight);
    EXPECT_EQ(active, 0);
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

TEST(FramesInFlight, FailedFrameStopsTheRangeAfterTheFramesBeforeIt) {
  for (int inFlight : {1, 2, 4}) {
    std::atomic<int> active{0}, started{0};
    std::vector<int> delivered;
    int announcedLast = -1;
    try {
      RenderFramesInOrder(
          0, 99, inFlight,
          [&](int, int frame) {
            ++started;
            ++active;
            RenderFor(frame);
            --active;
            if (frame == 5 || frame == 7)
              throw std::runtime_error("frame " + std::to_string(frame));
            return frame;
          },
          [&](int frame) { announcedLast = frame; },
          [&](int frame, int) { delivered.push_back(frame); });
      ADD_FAILURE() << "the failure was not passed on";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "frame 5");  // the first failed frame, not a later one
    }
    EXPECT_EQ(delivered, (std::vector<int>{0, 1, 2, 3, 4})) << inFlight << " in flight";
    EXPECT_EQ(announcedLast, 5);
    EXPECT_EQ(active, 0);                  // every frame in flight ended before the error came out
    EXPECT_LE(started, 6 + 4 * inFlight);  // no frame was started after the failure was seen
  }
}

TEST(FramesInFlight, RangeMayEndAtTheLargestFrameNumber) {
  const int last = std::numeric_limits<int>::max();
  for (int inFlight : {1, 2}) {
    std::vector<int> delivered;
    RenderFramesInOrder(
        last - 2, last, inFlight, [](int, int frame) { return frame; }, [](int) {},
        [&](int frame, int) { delivered.push_back(frame); });
    EXPECT_EQ(delivered, (std::vector<int>{last - 2, last - 1, last}));
  }
}

TEST_F(CliTest, SequenceOnSeveralThreadsWritesTheSameFilesAndFieldsAsOneAtATime) {
  // Depths that differ from frame to frame, so that a frame written under
  // another's number would show.
  for (int frame = 1; frame <= 7; ++frame) {
    Picture depth{24, 16, {"R", "G", "B", "A"}, {}};
    for (int i = 0; i < 24 * 16; ++i)
      for (float v : {0.5f + frame + i * 0.01f, 2.0f * frame, 30.0f - frame, 1.0f})
        depth.pixels.push_back(v);
    WriteExr(Path("z." + std::to_string(frame) + ".exr"), depth);
  }
  auto render = [&](const std::string& threads) -> Args {
    return {"render",    "ZRemapper", "--input",  "Input=" + Path("z.#.exr"),    "--frames", "1-7",
            "--threads", threads,     "--output", Path("o" + threads + ".#.exr")};
  };
  const auto runs = RunAll({render("1"), render("3"), render("0")});
  for (const Outcome& run : runs) {
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, runs[0].out);
  }
  EXPECT_EQ(Lines(runs[0].out).size(), 7u * 6u);
  for (int frame = 1; frame <= 7; ++frame) {
    const std::string one = FileText(Path("o1." + std::to_string(frame) + ".exr"));
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(FileText(Path("o3." + std::to_string(frame) + ".exr")), one) << frame;
    EXPECT_EQ(FileText(Path("o0." + std::to_string(frame) + ".exr")), one) << frame;
  }
  EXPECT_NE(ReadPicture(Path("o1.1.exr")).pixels, ReadPicture(Path("o1.2.exr")).pixels);
}

TEST_F(CliTest, SequenceOnSeveralThreadsStopsAtAMissingFrameAfterPrintingTheOnesBefore) {
  for (int frame : {1, 2, 4, 5}) TwoPixels("in." + std::to_string(frame) + ".exr");
  const Outcome run = Run({"render", "FoCalc", "--input", "Input=" + Path("in.#.exr"), "--frames",
                           "1-5", "--threads", "2", "--output", Path("o.#.exr")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("frame 3: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("in.3.exr"), std::string::npos) << run.err;
  EXPECT_EQ(Lines(run.out).size(), 2u * 6u) << run.out;  // the fields of frames 1 and 2
  EXPECT_TRUE(fs::exists(Path("o.1.exr")));
  EXPECT_TRUE(fs::exists(Path("o.2.exr")));
  EXPECT_FALSE(fs::exists(Path("o.3.exr")));
}

}  // namespace
