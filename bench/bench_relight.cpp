// The relighting tools that render on the calling thread, against a plain
// copy of the same 3840 x 2160 image; with a second image connected, against
// a copy of both images' bytes.
#include <cmath>

#include "bench/bench_common.h"

namespace {

const ImagePtr& Pass() {
  static ImagePtr img = GradientImage(UhdWidth, UhdHeight);
  return img;
}

// Unit normals over a hemisphere of directions, varying across the frame so
// that front, back and edge-on faces all occur.
const ImagePtr& Normals() {
  static ImagePtr img = [] {
    ImagePtr n(NewImage(UhdWidth, UhdHeight));
    for (int y = 0; y < UhdHeight; ++y)
      for (int x = 0; x < UhdWidth; ++x) {
        const float a = 6.2831853f * x / UhdWidth, b = 3.1415927f * y / UhdHeight;
        float* p = n->Group1(x, y);
        p[ChanR] = std::sin(b) * std::cos(a);
        p[ChanG] = std::sin(b) * std::sin(a);
        p[ChanB] = std::cos(b);
        p[ChanA] = 1.0f;
      }
    return n;
  }();
  return img;
}

const size_t ImageBytes = size_t(UhdWidth) * UhdHeight * 4 * sizeof(float);

void BM_Copy(benchmark::State& state) { CopyBaseline(state, Pass().get()); }
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline of the tools with a second image: both images' bytes copied
// into buffers that are already allocated and touched.
void BM_CopyBoth(benchmark::State& state) {
  std::vector<float> first(ImageBytes / sizeof(float), 1.0f);
  std::vector<float> second(ImageBytes / sizeof(float), 1.0f);
  const void* from1 = Pass()->Group1(0, 0);
  const void* from2 = Normals()->Group1(0, 0);
  for (auto _ : state) {
    std::memcpy(first.data(), from1, ImageBytes);
    std::memcpy(second.data(), from2, ImageBytes);
    benchmark::DoNotOptimize(first.data());
    benchmark::DoNotOptimize(second.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * ImageBytes);
}
BENCHMARK(BM_CopyBoth)->Unit(benchmark::kMillisecond)->UseRealTime();

// One frame first, as a host renders frame after frame: the timed frames
// then reuse its pixel memory, as the copies reuse buffers already touched,
// rather than paying for fresh pages.
void Frames(benchmark::State& state, ToolHarness& tool, size_t bytes) {
  tool.Render();
  RenderLoop(state, tool, bytes);
}

// A point light in the middle of the position gradient, with a ramp wide
// enough that full, falling and dark pixels all occur.
void BM_Relight(benchmark::State& state, bool withMap) {
  ToolHarness tool(RelightRecord);
  tool.Set("Red", 10).Set("Green", 5).Set("Blue", 7).Set("LightIntensity", 6).Set("LightSize", 1);
  tool.Connect("NormalsOrPosition", Pass().get());
  if (withMap) tool.Connect("Intensity/Size Map", Normals().get()).Choose("Map Channel", "Blue");
  Frames(state, tool, withMap ? 2 * ImageBytes : ImageBytes);
}
BENCHMARK_CAPTURE(BM_Relight, NoMap, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Relight, WithMap, true)->Unit(benchmark::kMillisecond)->UseRealTime();

// A spotlight above the middle of the gradient aimed straight down it. A
// whole cone exponent is the input's own kind; 7.5, a whole number and a
// half, takes a root and products; 7.3 the general power.
void BM_SimpleSpotlight(benchmark::State& state, bool withNormals, double cone) {
  ToolHarness tool(SimpleSpotlightRecord);
  tool.Set("Red", 10).Set("Green", 5).Set("Blue", 20).Set("Red2", 10).Set("Green2", 5);
  tool.Set("LightConeSize", cone).Connect("Position", Pass().get());
  if (withNormals) tool.Connect("Normals", Normals().get());
  Frames(state, tool, withNormals ? 2 * ImageBytes : ImageBytes);
}
BENCHMARK_CAPTURE(BM_SimpleSpotlight, NoNormals, false, 8.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SimpleSpotlight, WithNormals, true, 8.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SimpleSpotlight, NoNormalsFractionalCone, false, 7.5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SimpleSpotlight, NoNormalsGeneralCone, false, 7.3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Fallof(benchmark::State& state, bool withMap) {
  ToolHarness tool(FallofRecord);
  tool.Connect("Normals", Normals().get());
  if (withMap) tool.Connect("Intensity Map", Pass().get()).Choose("Map Channel", "Green");
  Frames(state, tool, withMap ? 2 * ImageBytes : ImageBytes);
}
BENCHMARK_CAPTURE(BM_Fallof, NoMap, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Fallof, WithMap, true)->Unit(benchmark::kMillisecond)->UseRealTime();

// The screen-space ambient occlusion renders rows on worker threads: on the
// 1920 x 1080 frame at one and at two threads (the argument), and at three
// qualities on one thread.
// A bumpy surface seen from the front: its position pass and its normals
// encoded 0 .. 1.
float Bump(float x, float y) { return 5 + std::sin(x * 0.02f) * std::cos(y * 0.03f); }

const ImagePtr& BumpPosition() {
  static ImagePtr img = MakeImage(HdWidth, HdHeight, [](int x, int y) {
    return RGBA{x * 0.01f, y * 0.01f, Bump(x, y), 1};
  });
  return img;
}

const ImagePtr& BumpNormals() {
  static ImagePtr img = MakeImage(HdWidth, HdHeight, [](int x, int y) {
    const float dx = (Bump(x + 1, y) - Bump(x - 1, y)) / 0.02f;
    const float dy = (Bump(x, y + 1) - Bump(x, y - 1)) / 0.02f;
    const float len = std::sqrt(dx * dx + dy * dy + 1);
    return RGBA{0.5f - dx / len / 2, 0.5f - dy / len / 2, 0.5f + 0.5f / len, 1};
  });
  return img;
}

void BM_SSAO(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", 1)
      .Connect("Normals", BumpNormals().get())
      .Connect("Position", BumpPosition().get());
  Measure(state, tool);
}
BENCHMARK(BM_SSAO)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SSAOQuality(benchmark::State& state) {
  ThreadLimit limit(1);
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", double(state.range(0)));
  tool.Connect("Normals", BumpNormals().get()).Connect("Position", BumpPosition().get());
  Measure(state, tool);
}
BENCHMARK(BM_SSAOQuality)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
