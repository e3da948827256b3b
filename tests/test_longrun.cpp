// Long runs: frame after frame keeps no image past its frame, and loading,
// rendering and unloading the module again and again leaves nothing behind.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "testing/harness.h"
#include "testing/hostile.h"
#include "testing/program.h"

namespace fs = std::filesystem;

namespace {

// Connects a ramp to every image input of the tool; the images stay held by
// `images` as well as by the inputs.
void ConnectRamps(Operator& tool, std::vector<ImagePtr>& images) {
  for (const auto& in : tool.Inputs())
    if (in->Kind() == InputKind::Image) {
      images.push_back(Ramp(8, 6));
      in->Connect(images.back().get());
    }
}

TEST(LongRun, TwoHundredFramesOfEveryToolHoldNoImagePastItsFrame) {
  for (const NamedTool& named : AllTools()) {
    SCOPED_TRACE(named.className);
    ToolHarness tool(*named.record);
    std::vector<ImagePtr> images;
    ConnectRamps(tool.Tool(), images);
    std::vector<int32_t> holders;
    for (const ImagePtr& img : images) holders.push_back(img->Holders());

    for (int frame = 0; frame < 200; ++frame) {
      ImagePtr result = tool.Render(frame);
      ASSERT_TRUE(result);
      const bool passedOn = std::any_of(images.begin(), images.end(),
                                        [&](const ImagePtr& img) { return img == result; });
      // A new result is held by the caller alone; one passed on is held by
      // its input and by us as well.
      if (!passedOn) {
        ASSERT_EQ(result->Holders(), 1) << "frame " << frame;
      }
      result.reset();
      for (size_t i = 0; i < images.size(); ++i)
        ASSERT_EQ(images[i]->Holders(), holders[i]) << "frame " << frame << ", input " << i;
    }
  }
}

TEST(LongRun, HundredCyclesOfLoadRenderUnloadLeaveTheClassListAsItWas) {
  const std::vector<Registry*> before = ClassRegistry.Records();
  for (int cycle = 0; cycle < 100; ++cycle) {
    const NamedTool& named = AllTools()[cycle % AllTools().size()];
    SCOPED_TRACE("cycle " + std::to_string(cycle) + ", " + named.className);
    void* module = dlopen(VEXLAN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(module) << dlerror();
    ASSERT_EQ(ClassRegistry.Size(), before.size() + 14);

    const Registry* reg = ClassRegistry.Find(named.record->registryId);
    ASSERT_TRUE(reg);
    ToolPtr tool(reg->Create());
    ASSERT_TRUE(tool);
    {
      std::vector<ImagePtr> images;
      ConnectRamps(*tool, images);
      EXPECT_TRUE(RenderTool(*tool, cycle));
      tool.reset();  // drops the inputs' holds; ours go at the end of the block
    }

    ASSERT_EQ(dlclose(module), 0) << dlerror();
    ASSERT_EQ(ClassRegistry.Records(), before);
    // Closed for real: nothing of the module stays mapped.
    void* still = dlopen(VEXLAN_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr);
    if (still) dlclose(still);
  }
}

// ------------------------------------------------------ vexlan --frames

// The peak resident size of a `vexlan render --frames 1-last` run.
long PeakOfFrames(const ScratchFolder& scratch, const std::vector<std::string>& render, int last) {
  const fs::path frames = scratch.Path() / ("frames" + std::to_string(last));
  fs::create_directory(frames);
  const Args args = Vexlan(
      Args{"render"} + render +
      Args{"--output", (frames / "out.###.exr").string(), "--frames", "1-" + std::to_string(last)});
  const ProgramRun run = RunProgram(args, scratch.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FilesIn(frames).size(), size_t(last));
  fs::remove_all(frames);
  return run.peakKiB;
}

// 128 x 128 float pixels are 256 KiB an image: one kept per frame would add
// 45 MiB over the 180 frames between the two runs.
constexpr long FlatKiB = 8 * 1024;

TEST(VexlanFrames, TwoHundredFramesOfASingleOrAMultiThreadedToolKeepPeakMemoryFlat) {
  ScratchFolder scratch("vexlan-frames");
  WriteExr(scratch / "source.exr", PatternPicture(128, 128, 11));
  WriteExr(scratch / "kernel.exr", PatternPicture(3, 3, 11));
  const std::vector<std::string> renders[] = {
      {"ZDevider", "--input", "Input=" + (scratch / "source.exr"), "--set", "Zmax=2"},
      {"Convolution", "--input", "Image=" + (scratch / "source.exr"), "--input",
       "Kernel=" + (scratch / "kernel.exr"), "--set", "Sampling=0", "--threads", "2"}};
  for (const auto& render : renders) {
    SCOPED_TRACE(render[0]);
    // The address checker holds freed memory back on purpose, so peaks are
    // not comparable there; a short run lets its leak check judge instead.
    const long at20 = PeakOfFrames(scratch, render, 20);
    if (Sanitized) continue;
    const long at200 = PeakOfFrames(scratch, render, 200);
    EXPECT_LT(at200 - at20, FlatKiB)
        << "peak at 20 frames " << at20 << " KiB, at 200 frames " << at200 << " KiB";
  }
}

}  // namespace
