// The tools that render rows on worker threads, on a 1920 x 1080 frame
// (scaled by VEXLAN_BENCH_SCALE), at one and at two threads (the argument).
// The convolution's full mode is measured against OpenImageIO's convolve
// with the same image and kernel, both on one thread.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <cmath>

#include "bench/bench_common.h"

namespace {

const int Width = ScaledSide(1920), Height = ScaledSide(1080);
constexpr int KernelSize = 15;

size_t FrameBytes() { return size_t(Width) * Height * 4 * sizeof(float); }

const ImagePtr& Source() {
  static ImagePtr img = GradientImage(Width, Height);
  return img;
}

// Depth from 0.5 m to about 30 m across the frame: foreground, the zone of
// sharpness of the default camera, and background.
const ImagePtr& Depth() {
  static ImagePtr img = MakeImage(Width, Height, [](int x, int y) {
    const float d = 0.5f + 29.5f * x / Width + 0.5f * std::sin(y * 0.05f);
    return RGBA{d, d, d, 1};
  });
  return img;
}

// A disc, colour equal to alpha.
float DiscWeight(int x, int y, int size = KernelSize) {
  const float r = (size - 1) / 2.0f;
  const float dx = x - r, dy = y - r;
  return dx * dx + dy * dy <= (r + 0.5f) * (r + 0.5f) ? 1.0f : 0.0f;
}

ImagePtr DiscKernel(int size) {
  return MakeImage(size, size, [size](int x, int y) {
    const float k = DiscWeight(x, y, size);
    return RGBA{k, k, k, k};
  });
}

const ImagePtr& Kernel() {
  static ImagePtr img = DiscKernel(KernelSize);
  return img;
}

// A bumpy surface seen from the front: its position pass and its normals
// encoded 0 .. 1.
float Bump(float x, float y) { return 5 + std::sin(x * 0.02f) * std::cos(y * 0.03f); }

const ImagePtr& Position() {
  static ImagePtr img = MakeImage(Width, Height, [](int x, int y) {
    return RGBA{x * 0.01f, y * 0.01f, Bump(x, y), 1};
  });
  return img;
}

const ImagePtr& Normals() {
  static ImagePtr img = MakeImage(Width, Height, [](int x, int y) {
    const float dx = (Bump(x + 1, y) - Bump(x - 1, y)) / 0.02f;
    const float dy = (Bump(x, y + 1) - Bump(x, y - 1)) / 0.02f;
    const float len = std::sqrt(dx * dx + dy * dy + 1);
    return RGBA{0.5f - dx / len / 2, 0.5f - dy / len / 2, 0.5f + 0.5f / len, 1};
  });
  return img;
}

class ThreadLimit {
 public:
  explicit ThreadLimit(int threads) { SetWorkerThreadLimit(threads); }
  ~ThreadLimit() { SetWorkerThreadLimit(0); }
};

// One frame first, as a host renders frame after frame: the timed frames
// then reuse its pixel memory rather than paying for fresh pages.
void Measure(benchmark::State& state, ToolHarness& tool) {
  tool.Render();
  RenderLoop(state, tool, FrameBytes());
}

void BM_DirtyDof(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(DirtyDofRecord);
  tool.Connect("Image", Source().get()).Connect("Zdepth", Depth().get());
  Measure(state, tool);
}
BENCHMARK(BM_DirtyDof)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvolutionFast(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Samples", 250).Connect("Image", Source().get()).Connect("Kernel", Kernel().get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFast)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvolutionFull(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", Source().get()).Connect("Kernel", Kernel().get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFull)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: OpenImageIO's convolve of the same frame with the same disc
// (one channel, normalised), into an image allocated once, on one thread.
void BM_OiioConvolve(benchmark::State& state) {
  using namespace OIIO;
  ImageBuf src(ImageSpec(Width, Height, 4, TypeDesc::FLOAT));
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const float* p = Source()->Group1(x, y);
      const float rgba[4] = {p[ChanR], p[ChanG], p[ChanB], p[ChanA]};
      src.setpixel(x, y, rgba, 4);
    }
  ImageBuf kernel(ImageSpec(KernelSize, KernelSize, 1, TypeDesc::FLOAT));
  for (int y = 0; y < KernelSize; ++y)
    for (int x = 0; x < KernelSize; ++x) {
      const float k = DiscWeight(x, y);
      kernel.setpixel(x, y, &k, 1);
    }
  ImageBuf dst(src.spec());
  for (auto _ : state) {
    ImageBufAlgo::convolve(dst, src, kernel, true, ROI(), 1);
    benchmark::DoNotOptimize(dst.localpixels());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * FrameBytes());
}
BENCHMARK(BM_OiioConvolve)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SSAO(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", 1).Connect("Normals", Normals().get()).Connect("Position", Position().get());
  Measure(state, tool);
}
BENCHMARK(BM_SSAO)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// How the cost grows with each tool's sample count, on one thread: the
// samples per pixel of the blur and of the fast convolution, the kernel side
// of the full convolution, the occlusion's quality.
void BM_DirtyDofSamples(benchmark::State& state) {
  ThreadLimit limit(1);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("cSamples", double(state.range(0)));
  tool.Connect("Image", Source().get()).Connect("Zdepth", Depth().get());
  Measure(state, tool);
}
BENCHMARK(BM_DirtyDofSamples)
    ->Arg(10)
    ->Arg(20)
    ->Arg(40)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConvolutionFastSamples(benchmark::State& state) {
  ThreadLimit limit(1);
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Samples", double(state.range(0)));
  tool.Connect("Image", Source().get()).Connect("Kernel", Kernel().get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFastSamples)
    ->Arg(125)
    ->Arg(250)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConvolutionFullKernel(benchmark::State& state) {
  ThreadLimit limit(1);
  ImagePtr kernel = DiscKernel(int(state.range(0)));
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", Source().get()).Connect("Kernel", kernel.get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFullKernel)
    ->Arg(7)
    ->Arg(15)
    ->Arg(31)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SSAOQuality(benchmark::State& state) {
  ThreadLimit limit(1);
  ToolHarness tool(SSAORecord);
  tool.Set("Quality", double(state.range(0)));
  tool.Connect("Normals", Normals().get()).Connect("Position", Position().get());
  Measure(state, tool);
}
BENCHMARK(BM_SSAOQuality)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
