// The depth-of-field tools: those that map each pixel on its own against a
// plain copy of the same 3840 x 2160 image, then the blurs.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <cmath>

#include "bench/bench_common.h"

namespace {

const ImagePtr& Source() {
  static ImagePtr img = GradientImage(UhdWidth, UhdHeight);
  return img;
}

size_t SourceBytes() { return size_t(UhdWidth) * UhdHeight * 4 * sizeof(float); }

void BM_Copy(benchmark::State& state) { CopyBaseline(state, Source().get()); }
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond)->UseRealTime();

// Zmax 7.5 is a float; 9.107735 is not, and takes the double division.
void BM_ZDevider(benchmark::State& state, double zmax) {
  ToolHarness tool(ZDeviderRecord);
  tool.Set("Zmax", zmax).Connect("Input", Source().get());
  RenderLoop(state, tool, SourceBytes());
}
BENCHMARK_CAPTURE(BM_ZDevider, FloatZmax, 7.5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ZDevider, DoubleZmax, 9.107735)->Unit(benchmark::kMillisecond)->UseRealTime();

// The calculation is a few dozen operations; the render is the copy.
void BM_FoCalc(benchmark::State& state) {
  ToolHarness tool(FoCalcRecord);
  tool.Connect("Input", Source().get());
  RenderLoop(state, tool, SourceBytes());
}
BENCHMARK(BM_FoCalc)->Unit(benchmark::kMillisecond)->UseRealTime();

// The gradient's blue runs from 0 to 15 scene units. With the default camera
// (sharp from 7.5 to 11.5 m) and a scale of 1 every branch is taken across
// the frame; a scale of 0.1 with the plane of focus scaled alike puts the
// same zone at 0.75 to 1.15 scene units, so most pixels lie behind it.
void BM_ZRemapper(benchmark::State& state, double scale) {
  ToolHarness tool(ZRemapperRecord);
  tool.Set("SceneScale", scale).Set("PlaneOfFocus", 9.107735 * scale);
  tool.Connect("Input", Source().get());
  RenderLoop(state, tool, SourceBytes());
}
BENCHMARK_CAPTURE(BM_ZRemapper, UnitScale, 1.0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ZRemapper, TenthScale, 0.1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The blurs, which render rows on worker threads, on the 1920 x 1080 frame
// at one and at two threads (the argument). The convolution's full mode is
// measured against OpenImageIO's convolve with the same image and kernel,
// both on one thread.
constexpr int KernelSize = 15;

const ImagePtr& HdSource() {
  static ImagePtr img = GradientImage(HdWidth, HdHeight);
  return img;
}

// Depth from 0.5 m to about 30 m across the frame: foreground, the zone of
// sharpness of the default camera, and background.
const ImagePtr& Depth() {
  static ImagePtr img = MakeImage(HdWidth, HdHeight, [](int x, int y) {
    const float d = 0.5f + 29.5f * x / HdWidth + 0.5f * std::sin(y * 0.05f);
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

void BM_DirtyDof(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(DirtyDofRecord);
  tool.Connect("Image", HdSource().get()).Connect("Zdepth", Depth().get());
  Measure(state, tool);
}
BENCHMARK(BM_DirtyDof)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvolutionFast(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Samples", 250).Connect("Image", HdSource().get()).Connect("Kernel", Kernel().get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFast)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvolutionFull(benchmark::State& state) {
  ThreadLimit limit(state.range(0));
  ToolHarness tool(ConvolutionRecord);
  tool.Set("Sampling", 0).Connect("Image", HdSource().get()).Connect("Kernel", Kernel().get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFull)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: OpenImageIO's convolve of the same frame with the same disc
// (one channel, normalised), into an image allocated once, on one thread.
void BM_OiioConvolve(benchmark::State& state) {
  using namespace OIIO;
  ImageBuf src(ImageSpec(HdWidth, HdHeight, 4, TypeDesc::FLOAT));
  for (int y = 0; y < HdHeight; ++y)
    for (int x = 0; x < HdWidth; ++x) {
      const float* p = HdSource()->Group1(x, y);
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
  state.SetBytesProcessed(int64_t(state.iterations()) * HdFrameBytes());
}
BENCHMARK(BM_OiioConvolve)->Unit(benchmark::kMillisecond)->UseRealTime();

// How the cost grows with each tool's sample count, on one thread: the
// samples per pixel of the blur and of the fast convolution, the kernel side
// of the full convolution, the occlusion's quality.
void BM_DirtyDofSamples(benchmark::State& state) {
  ThreadLimit limit(1);
  ToolHarness tool(DirtyDofRecord);
  tool.Set("cSamples", double(state.range(0)));
  tool.Connect("Image", HdSource().get()).Connect("Zdepth", Depth().get());
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
  tool.Connect("Image", HdSource().get()).Connect("Kernel", Kernel().get());
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
  tool.Set("Sampling", 0).Connect("Image", HdSource().get()).Connect("Kernel", kernel.get());
  Measure(state, tool);
}
BENCHMARK(BM_ConvolutionFullKernel)
    ->Arg(7)
    ->Arg(15)
    ->Arg(31)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
