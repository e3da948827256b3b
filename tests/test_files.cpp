// Render files laid out as renderers write them: windows with any origin,
// overscan, views, parts with their own data windows, tiles, half floats.
// Selection is checked on its own; everything else through the real vexlan.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "cli/files/image_io.h"
#include "cli/files/selection.h"
#include "testing/program.h"

namespace {

// A stereo render as one file of four parts: the beauty and depth of the
// left eye, motion vectors of both eyes (the same layer name in two parts).
const FileLayout Stereo = {{{"rgba_left", "left", {"R", "G", "B", "A", "Z"}},
                            {"depth.main", "left", {"depth.Z"}},
                            {"forward_left", "left", {"forward.u", "forward.v"}},
                            {"forward_right", "right", {"forward.u", "forward.v"}}},
                           {}};
// One part, two views: the left eye named in full, the right eye too.
const FileLayout Views = {{{"",
                            "",
                            {"left.R", "left.G", "left.B", "left.A", "left.Z", "right.R", "right.G",
                             "right.B", "forward.left.u", "forward.left.v"}}},
                          {"left", "right"}};

const FileLayout Masks = {{{"", "", {"id", "mask", "A"}}}, {}};
const FileLayout Normals = {{{"", "", {"N.X", "N.Y", "N.Z"}}}, {}};
const FileLayout Beauty = {{{"", "", {"R", "G", "B", "Z", "id", "spec.R", "N.X", "N.Y", "N.Z"}}},
                           {}};

// The names of the channels a selection places, red green blue alpha, "-"
// for an empty slot, then "+" and the carried ones.
std::string Placed(const FileLayout& layout, const Selection& sel) {
  const std::vector<std::string>& names = layout.parts[sel.part].channels;
  std::string text;
  for (int c : {sel.red, sel.green, sel.blue, sel.alpha})
    text += (text.empty() ? "" : " ") + (c < 0 ? std::string("-") : names[c]);
  for (const std::string& name : sel.furtherNames) text += " +" + name;
  return text;
}

TEST(Selection, EveryPassIsReachableByPartViewLayerOrChannels) {
  const struct {
    const FileLayout& layout;
    const char* selector;
    int part;
    const char* placed;
    const char* resultNames;
  } cases[] = {
      {Stereo, "", 0, "R G B A +Z", "R G B A"},
      {Stereo, "rgba_left", 0, "R G B A +Z", "R G B A"},
      {Stereo, "1", 1, "depth.Z depth.Z depth.Z -", "depth.Z - - -"},
      {Stereo, "depth.main", 1, "depth.Z depth.Z depth.Z -", "depth.Z - - -"},
      {Stereo, "Z", 0, "Z Z Z -", "Z - - -"},
      {Stereo, "forward_right", 3, "forward.u forward.v - -", "R G B A"},
      {Stereo, "forward_left:forward", 2, "forward.u forward.v - -", "R G B A"},
      {Stereo, "3:forward.u,forward.v", 3, "forward.u forward.v - -", "forward.u forward.v - -"},
      {Stereo, "right", 3, "forward.u forward.v - -", "R G B A"},
      {Views, "", 0,
       "- - - - +left.R +left.G +left.B +left.A +left.Z +right.R +right.G +right.B "
       "+forward.left.u +forward.left.v",
       "R G B A"},
      // A view drops its name: left.R fills red, left.Z and the view's
      // vectors are carried.
      {Views, "left", 0, "left.R left.G left.B left.A +left.Z +forward.left.u +forward.left.v",
       "R G B A"},
      {Views, "right", 0, "right.R right.G right.B -", "R G B A"},
      {Views, "left.Z", 0, "left.Z left.Z left.Z -", "left.Z - - -"},
      {Views, "forward.left", 0, "forward.left.u forward.left.v - -", "R G B A"},
      {Views, "forward.left.v,forward.left.u", 0, "forward.left.u forward.left.v - -",
       "forward.left.u forward.left.v - -"},
      // Channels without a letter fill the colour slots in order.
      {Views, "left.Z,right.R,left.A", 0, "right.R - left.Z left.A", "right.R - left.Z left.A"},
      {Masks, "mask,id", 0, "mask id - -", "mask id - -"},
      // A file whose channels are all in one layer is read by that layer;
      // otherwise the channels without one fill the record and the rest
      // (Z too, where B is there) are carried.
      {Normals, "", 0, "N.X N.Y N.Z -", "R G B A"},
      {Beauty, "", 0, "R G B - +Z +id +spec.R +N.X +N.Y +N.Z", "R G B A"},
      {Beauty, "N", 0, "N.X N.Y N.Z -", "R G B A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selector);
    const Selection sel = Select(c.layout, c.selector, "f.exr");
    EXPECT_EQ(sel.part, c.part);
    EXPECT_EQ(Placed(c.layout, sel), c.placed);
    std::string names;
    for (const std::string& name : sel.resultNames)
      names += (names.empty() ? "" : " ") + (name.empty() ? "-" : name);
    EXPECT_EQ(names, c.resultNames);
  }
}

TEST(Selection, RefusalsListOnlyNamesThatSelectAsWritten) {
  const struct {
    const FileLayout& layout;
    const char* selector;
    const char* said;
  } cases[] = {
      {Stereo, "forward",
       "\"forward\" is in more than one part; choose one of "
       "forward_left:forward, forward_right:forward"},
      {Stereo, "P",
       "nothing named \"P\"; the file holds parts rgba_left, depth.main, "
       "forward_left, forward_right; views left, right; layers depth, "
       "forward_left:forward, forward_right:forward"},
      {Stereo, "7", "no part 7 (parts count from 0; the file has 4)"},
      {Stereo, "rgba_right:R", "no part \"rgba_right\""},
      {Stereo, "depth.main:Z", "nothing named \"Z\""},
      {Views, "left.Q",
       "nothing named \"left.Q\"; the file holds views left, right; layers "
       "forward.left; channels left.R"},
      {{{{"a\xff", "", {"R\x01"}}}, {}}, "x", "channels R\\x01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selector);
    try {
      Select(c.layout, c.selector, "f.exr");
      ADD_FAILURE() << "selected";
    } catch (const RunError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.said), std::string::npos) << message;
      // Every name offered after "choose one of" or among the layers is a
      // selector that works.
      for (const char* heading : {"choose one of ", "layers "}) {
        const size_t at = message.find(heading);
        if (at == std::string::npos) continue;
        std::string list = message.substr(at + strlen(heading));
        list = list.substr(0, list.find(';'));
        for (size_t from = 0; from < list.size();) {
          const size_t comma = list.find(", ", from);
          const std::string name = list.substr(from, comma - from);
          EXPECT_NO_THROW(Select(c.layout, name, "f.exr")) << name;
          from = comma == std::string::npos ? list.size() : comma + 2;
        }
      }
    }
  }
}

constexpr auto Half = OIIO::TypeDesc::HALF, Float = OIIO::TypeDesc::FLOAT;
using Values = std::function<float(int64_t x, int64_t y, int c)>;
const std::vector<std::string> RgbaNames = {"R", "G", "B", "A"};

// An EXR file part: its windows, channels, the value of every channel at an
// absolute pixel, its type and header.
struct Part {
  std::string name;
  Rect display, data;
  std::vector<std::string> channels;
  Values value;
  OIIO::TypeDesc type = Half;
  std::function<void(OIIO::ImageSpec&)> header = nullptr;
  int tile = 0;  // tile size; 0 for scanlines
};

void WriteParts(const std::string& path, const std::vector<Part>& parts) {
  std::vector<OIIO::ImageSpec> specs;
  for (const Part& p : parts) {
    OIIO::ImageSpec spec(int(p.data.width), int(p.data.height), int(p.channels.size()), p.type);
    spec.x = int(p.data.x), spec.y = int(p.data.y);
    spec.full_x = int(p.display.x), spec.full_y = int(p.display.y);
    spec.full_width = int(p.display.width), spec.full_height = int(p.display.height);
    spec.channelnames = p.channels;
    spec.tile_width = spec.tile_height = p.tile;
    if (!p.name.empty()) spec.attribute("name", p.name);
    if (p.header) p.header(spec);
    specs.push_back(spec);
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out->open(path, int(specs.size()), specs.data())) << out->geterror();
  for (size_t k = 0; k < parts.size(); ++k) {
    const Part& p = parts[k];
    if (k > 0) {
      ASSERT_TRUE(out->open(path, specs[k], OIIO::ImageOutput::AppendSubimage));
    }
    std::vector<float> pixels;
    for (int64_t y = p.data.y; y < p.data.y + p.data.height; ++y)
      for (int64_t x = p.data.x; x < p.data.x + p.data.width; ++x)
        for (int c = 0; c < int(p.channels.size()); ++c) pixels.push_back(p.value(x, y, c));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels.data())) << out->geterror();
  }
  ASSERT_TRUE(out->close());
}

// A part's data and display windows.
Rect Data(const Written& w, int part = 0) {
  const OIIO::ImageSpec& s = w.Spec(part);
  return {s.x, s.y, s.width, s.height};
}
Rect Display(const Written& w, int part = 0) {
  const OIIO::ImageSpec& s = w.Spec(part);
  return {s.full_x, s.full_y, s.full_width, s.full_height};
}

// Values that tell every pixel and channel apart and stay exact in half.
float Ramp(int64_t x, int64_t y, int c) { return float(x + 2 * y) + 0.25f * float(c) + 100.0f; }

class Files : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_ / name; }
  // Runs the vexlan commands at once; each must succeed.
  void Run(const std::vector<Args>& commands) {
    std::vector<Args> full;
    for (const Args& args : commands) full.push_back(Vexlan(args));
    const std::vector<ProgramRun> runs = RunPrograms(full, scratch_.Path());
    for (size_t i = 0; i < runs.size(); ++i)
      ASSERT_EQ(runs[i].status, 0) << i << ": " << runs[i].err;
  }
  // ZDevider from the scratch folder's `in` to its `out`.
  Args Divide(const std::string& in, const std::string& out, const Args& extra = {},
              const std::string& zmax = "2") const {
    return Args{"render", "ZDevider",     "--input",  "Input=" + Path(in),
                "--set",  "Zmax=" + zmax, "--output", Path(out)} +
           extra;
  }
  ScratchFolder scratch_{"vexlan-files"};
};

TEST_F(Files, PixelsKeepTheirPlaceTypeAndHeaderThroughAPointwiseTool) {
  const float chromaticities[8] = {0.7f, 0.3f, 0.2f, 0.7f, 0.15f, 0.05f, 0.32f, 0.33f};
  auto header = [&](OIIO::ImageSpec& spec) {
    spec.attribute("chromaticities", OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, 8), chromaticities);
    spec.attribute("PixelAspectRatio", 1.5f);
    spec.attribute("Copyright", "Quiet Studio");
    spec.attribute("compression", "piz");
  };
  // Overscan on every side of a display window at a negative origin; data
  // wholly outside a display window at a positive one; tiles and MIP levels;
  // a luminance file in float.
  WriteParts(
      Path("overscan.exr"),
      {{"", {-4, -3, 10, 8}, {-6, -5, 14, 12}, {"R", "G", "B", "A", "Z"}, Ramp, Half, header}});
  WriteParts(Path("outside.exr"), {{"", {1, 1, 8, 8}, {12, 2, 3, 3}, {"R", "G", "B"}, Ramp}});
  WriteParts(Path("tiled.exr"),
             {{"", {0, 0, 9, 7}, {0, 0, 9, 7}, RgbaNames, Ramp, Half, nullptr, 4}});
  // MIP levels as the image library's own tool makes them for textures.
  ASSERT_EQ(std::system(("oiiotool " + Path("tiled.exr") + " -otex " + Path("mip.exr")).c_str()),
            0);
  WriteParts(Path("luma.exr"), {{"", {0, 0, 5, 4}, {1, 1, 3, 2}, {"Y"}, Ramp, Float}});
  Run({Divide("overscan.exr", "overscan-out.exr"), Divide("outside.exr", "outside-out.exr"),
       Divide("tiled.exr", "tiled-out.exr"), Divide("mip.exr", "mip-out.exr"),
       Divide("luma.exr", "luma-out.exr"),
       Divide("overscan.exr", "full.exr",
              {"--full-frame", "--format", "float", "--compression", "zip"}),
       Divide("overscan.exr:Z", "z.exr"), Divide("overscan.exr", "dof.exr:dof"),
       Divide("overscan.exr:Z", "carried.exr:depth.Z", {"--carry"})});

  const Written overscan(Path("overscan-out.exr"));
  EXPECT_EQ(Display(overscan), (Rect{-4, -3, 10, 8}));
  EXPECT_EQ(Data(overscan), (Rect{-6, -5, 14, 12}));
  EXPECT_EQ(overscan.Spec().channelnames, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
  EXPECT_EQ(overscan.Spec().format, OIIO::TypeDesc::HALF);
  EXPECT_EQ(overscan.Spec().get_string_attribute("compression"), "piz");
  EXPECT_EQ(overscan.Spec().get_float_attribute("PixelAspectRatio"), 1.5f);
  EXPECT_EQ(overscan.Spec().get_string_attribute("Copyright"), "Quiet Studio");
  EXPECT_EQ(overscan.Spec().get_string_attribute("Software"), "vexlan 1.0.0");
  const OIIO::ParamValue* chroma = overscan.Spec().find_attribute("chromaticities");
  ASSERT_TRUE(chroma);
  EXPECT_EQ(static_cast<const float*>(chroma->data())[4], 0.15f);
  for (int64_t y : {-5, 0, 6})
    for (int64_t x : {-6, 0, 7}) {
      EXPECT_EQ(overscan.At(x, y, "R"), Ramp(x, y, 0) / 2) << x << ", " << y;
      EXPECT_EQ(overscan.At(x, y, "A"), Ramp(x, y, 3));  // alpha is not divided
      EXPECT_EQ(overscan.At(x, y, "Z"), Ramp(x, y, 4));  // carried as it was
    }

  const Written outside(Path("outside-out.exr"));
  EXPECT_EQ(Display(outside), (Rect{1, 1, 8, 8}));
  EXPECT_EQ(Data(outside), (Rect{12, 2, 3, 3}));
  EXPECT_EQ(outside.At(14, 4, "B"), Ramp(14, 4, 2) / 2);
  EXPECT_EQ(outside.At(14, 4, "A"), 1.0f);

  const Written tiled(Path("tiled-out.exr"));
  EXPECT_EQ(Data(tiled), (Rect{0, 0, 9, 7}));
  EXPECT_EQ(tiled.At(8, 6, "G"), Ramp(8, 6, 1) / 2);
  const Written mip(Path("mip-out.exr"));
  EXPECT_EQ(mip.specs.size(), 1u);
  EXPECT_EQ(mip.At(8, 6, "G"), Ramp(8, 6, 1) / 2);

  // A single channel goes back under its own name, in its own type.
  const Written luma(Path("luma-out.exr"));
  EXPECT_EQ(luma.Spec().channelnames, std::vector<std::string>{"Y"});
  EXPECT_EQ(luma.Spec().format, OIIO::TypeDesc::FLOAT);
  EXPECT_EQ(Data(luma), (Rect{1, 1, 3, 2}));
  EXPECT_EQ(luma.At(3, 2, "Y"), Ramp(3, 2, 0) / 2);

  const Written full(Path("full.exr"));
  EXPECT_EQ(Data(full), (Rect{-6, -5, 14, 12}));  // the display window lies inside
  EXPECT_EQ(full.Spec().format, OIIO::TypeDesc::FLOAT);
  EXPECT_EQ(full.Spec().get_string_attribute("compression"), "zip");

  const Written z(Path("z.exr"));
  EXPECT_EQ(z.Spec().channelnames, std::vector<std::string>{"Z"});
  EXPECT_EQ(z.At(-6, 6, "Z"), Ramp(-6, 6, 4) / 2);

  const Written dof(Path("dof.exr"));
  EXPECT_EQ(std::set<std::string>(dof.Spec().channelnames.begin(), dof.Spec().channelnames.end()),
            (std::set<std::string>{"dof.R", "dof.G", "dof.B", "dof.A", "Z"}));
  EXPECT_EQ(dof.At(0, 0, "dof.G"), Ramp(0, 0, 1) / 2);

  // With --carry, the beauty comes along beside the result's own channel.
  const Written carried(Path("carried.exr"));
  EXPECT_EQ(carried.At(2, 1, "depth.Z"), Ramp(2, 1, 4) / 2);
  EXPECT_EQ(carried.At(2, 1, "Z"), Ramp(2, 1, 4));
  EXPECT_EQ(carried.At(2, 1, "R"), Ramp(2, 1, 0));
}

TEST_F(Files, ViewsAndPartsComeBackAsTheyWent) {
  auto views = [](OIIO::ImageSpec& spec) {
    const OIIO::ustring names[] = {OIIO::ustring("left"), OIIO::ustring("right")};
    spec.attribute("multiView", OIIO::TypeDesc(OIIO::TypeDesc::STRING, 2), names);
  };
  const std::vector<std::string> eyes = {"left.R", "left.G",  "left.B",  "left.A",
                                         "left.Z", "right.R", "right.G", "right.B"};
  WriteParts(Path("views.exr"), {{"", {0, 0, 4, 3}, {0, 0, 4, 3}, eyes, Ramp, Half, views}});
  // Parts with their own data windows, and names with dots and underscores.
  const Rect display{0, 0, 8, 6};
  auto forward = [](int64_t x, int64_t, int c) { return c ? 0.0f : float(x); };
  const std::vector<std::string> uv = {"forward.u", "forward.v"};
  WriteParts(Path("parts.exr"), {{"rgba_left", display, {1, 1, 6, 4}, RgbaNames, Ramp},
                                 {"forward.mv_left", display, {0, 0, 8, 6}, uv, forward, Float},
                                 {"forward.mv_right", display, {2, 2, 3, 3}, uv, Ramp, Float}});
  Run({{"render", "StereoSwitch", "--input", "LeftImage=" + Path("parts.exr:rgba_left"), "--input",
        "RightImage=" + Path("views.exr:right"), "--output", Path("eye.exr")},
       Divide("views.exr:left", "left.exr"),
       Divide("views.exr", "views-out.exr", {}, "4"),
       Divide("parts.exr", "parts-out.exr"),
       {"render", "ClipMotionVectors", "--input",
        "Image=" + Path("parts.exr:forward.mv_right:forward.u,forward.v"), "--set",
        "MaxLenght=1000", "--output", Path("mv.exr")}});

  const Written left(Path("left.exr"));
  EXPECT_EQ(left.Spec().channelnames, (std::vector<std::string>{"R", "G", "B", "A", "left.Z"}));
  const OIIO::ParamValue* view = left.Spec().find_attribute("multiView");
  ASSERT_TRUE(view);
  EXPECT_EQ(view->type().arraylen, 1);
  EXPECT_EQ(static_cast<const OIIO::ustring*>(view->data())[0], "left");
  EXPECT_EQ(left.At(3, 2, "R"), Ramp(3, 2, 0) / 2);
  EXPECT_EQ(left.At(3, 2, "left.Z"), Ramp(3, 2, 4));

  // Without a selector every view's channels are carried and the views kept.
  const Written all(Path("views-out.exr"));
  const OIIO::ParamValue* kept = all.Spec().find_attribute("multiView");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->type().arraylen, 2);
  EXPECT_EQ(all.At(1, 1, "right.G"), Ramp(1, 1, 6));

  // The other parts are carried as parts, each with its own window.
  const Written parts(Path("parts-out.exr"));
  ASSERT_EQ(parts.specs.size(), 3u);
  EXPECT_EQ(Data(parts, 0), (Rect{1, 1, 6, 4}));
  EXPECT_EQ(parts.At(6, 4, "R", 0), Ramp(6, 4, 0) / 2);
  EXPECT_EQ(parts.Spec(1).get_string_attribute("name"), "forward.mv_left");
  EXPECT_EQ(Data(parts, 2), (Rect{2, 2, 3, 3}));
  EXPECT_EQ(parts.At(4, 4, "forward.v", 2), Ramp(4, 4, 1));

  // Vectors chosen by name go back under their names, without an alpha.
  const Written mv(Path("mv.exr"));
  EXPECT_EQ(mv.Spec().channelnames, (std::vector<std::string>{"forward.u", "forward.v"}));
  EXPECT_EQ(Data(mv), (Rect{2, 2, 3, 3}));
  EXPECT_EQ(mv.Spec().get_string_attribute("name"), "forward.mv_right");

  // The switch hands the left eye on as it came, window and type included.
  const Written eye(Path("eye.exr"));
  EXPECT_EQ(Data(eye), (Rect{1, 1, 6, 4}));
  EXPECT_EQ(eye.Spec().format, OIIO::TypeDesc::HALF);
  EXPECT_EQ(eye.At(6, 4, "G"), Ramp(6, 4, 1));
}

// A tool that reads its neighbours gives, in the data window, what it gives
// on the whole frame with zeros outside the data window; a second image
// with its own data window meets the first at the same absolute pixels.
TEST_F(Files, NeighbourToolsSeeTheWholeFrameAndSecondImagesMeetByPosition) {
  const Rect display{-2, -1, 12, 9};
  auto depth = [](int64_t x, int64_t y, int) { return 2.0f + 0.5f * float((x * 3 + y) % 5); };
  auto cropped = [](Values f, Rect keep) {
    return [f, keep](int64_t x, int64_t y, int c) {
      return keep.Intersection({x, y, 1, 1}).Empty() ? 0.0f : f(x, y, c);
    };
  };
  const Rect beautyData{0, 1, 7, 5}, depthData{-3, 0, 14, 6};
  // Each tool's frame is its main input's display and data windows together.
  const Rect whole = display.Union(beautyData), wholeDepth = display.Union(depthData);
  WriteParts(Path("shot.exr"), {{"beauty", display, beautyData, RgbaNames, Ramp, Float},
                                {"depth", display, depthData, {"Z"}, depth, Float}});
  // The same passes over the whole frame, zero where they held no data.
  WriteParts(Path("beauty-whole.exr"),
             {{"", display, whole, RgbaNames, cropped(Ramp, beautyData), Float}});
  WriteParts(Path("depth-whole.exr"),
             {{"", display, whole, {"Z"}, cropped(depth, depthData), Float}});
  WriteParts(Path("depth-overscan.exr"),
             {{"", display, wholeDepth, {"Z"}, cropped(depth, depthData), Float}});
  auto dof = [&](const std::string& image, const std::string& z, const std::string& out) {
    return Args{"render", "DirtyDof",  "--set", "PlaneOfFocus=2",
                "--set",  "Fstop=0.5", "--set", "FocalLength=300"} +
           Args{"--input", "Image=" + Path(image), "--input", "Zdepth=" + Path(z), "--output",
                Path(out)};
  };
  auto normalize = [&](const std::string& in, const std::string& out) {
    return Args{"render", "Normalizer", "--input", "Input=" + Path(in), "--output", Path(out)};
  };
  Run({dof("shot.exr:beauty", "shot.exr:depth", "dof.exr"),
       dof("beauty-whole.exr", "depth-whole.exr", "dof-whole.exr"),
       normalize("shot.exr:depth", "norm.exr"), normalize("depth-overscan.exr", "norm-whole.exr")});

  const Written dofOut(Path("dof.exr")), dofWhole(Path("dof-whole.exr"));
  EXPECT_EQ(Data(dofOut), beautyData);
  EXPECT_EQ(Data(dofWhole), whole);
  int blurred = 0;
  for (int64_t y = beautyData.y; y < beautyData.y + beautyData.height; ++y)
    for (int64_t x = beautyData.x; x < beautyData.x + beautyData.width; ++x)
      for (int c = 0; c < 4; ++c) {
        const std::string& name = RgbaNames[c];
        EXPECT_EQ(dofOut.At(x, y, name), dofWhole.At(x, y, name)) << x << ", " << y << " " << name;
        blurred += dofOut.At(x, y, name) != Ramp(x, y, c);
      }
  EXPECT_GT(blurred, 0);  // the blur reached its neighbours

  const Written norm(Path("norm.exr")), normWhole(Path("norm-whole.exr"));
  EXPECT_EQ(norm.Spec().channelnames, std::vector<std::string>{"Z"});
  for (int64_t x = depthData.x; x < depthData.x + depthData.width; ++x)
    EXPECT_EQ(norm.At(x, 3, "Z"), normWhole.At(x, 3, "Z")) << x;
}

}  // namespace
