// The image utilities on 3840 x 2160 four-channel float images, each against
// its baseline in the same run: a plain copy of the image for the tools that
// read and write every pixel, OpenCV's nearest-neighbour remap for the UV
// positioner (one thread each), and two image sizes for the stereo switch,
// which should not depend on size at all.
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/bench_common.h"

namespace {

const ImagePtr& Source() {
  static ImagePtr img = GradientImage(UhdWidth, UhdHeight);
  return img;
}

size_t UhdBytes() { return size_t(UhdWidth) * UhdHeight * 4 * sizeof(float); }

// Renders once before the timing, so that the host's pixel memory already
// holds a block of the result's size, as it does for every frame after the
// first; then one render per iteration.
void TimedRenders(benchmark::State& state, ToolHarness& tool) {
  benchmark::DoNotOptimize(tool.Render().get());
  RenderLoop(state, tool, UhdBytes());
}

// A UV pass over the whole frame that runs a little past the texture on
// every side (so the edge rule of each sample mode is exercised) and wobbles,
// as a UV pass of a curved surface does.
const ImagePtr& UVPass() {
  static ImagePtr img = [] {
    ImagePtr uv(NewImage(UhdWidth, UhdHeight));
    for (int y = 0; y < UhdHeight; ++y)
      for (int x = 0; x < UhdWidth; ++x) {
        const double s = double(x) / UhdWidth, t = double(y) / UhdHeight;
        float* p = uv->Group1(x, y);
        p[ChanR] = float(1.1 * s - 0.05 + 0.02 * std::sin(6.0 * t));
        p[ChanG] = float(1.1 * t - 0.05 + 0.02 * std::sin(5.0 * s));
        p[ChanB] = 0.0f;
        p[ChanA] = 1.0f;
      }
    return uv;
  }();
  return img;
}

// A UV pass that holds each pixel's own centre, nudged by up to a pixel and a
// half, so that the unwrap scatters nearly in scan order.
const ImagePtr& NearIdentityUV() {
  static ImagePtr img = [] {
    ImagePtr uv(NewImage(UhdWidth, UhdHeight));
    for (int y = 0; y < UhdHeight; ++y)
      for (int x = 0; x < UhdWidth; ++x) {
        float* p = uv->Group1(x, y);
        p[ChanR] = float((x + 0.5 + 1.5 * std::sin(y * 0.01)) / UhdWidth);
        p[ChanG] = float((y + 0.5 + 1.5 * std::sin(x * 0.01)) / UhdHeight);
        p[ChanB] = 0.0f;
        p[ChanA] = 1.0f;
      }
    return uv;
  }();
  return img;
}

void BM_Copy(benchmark::State& state) { CopyBaseline(state, Source().get()); }
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The gradient runs 0 to 20 in red, 0 to 10 in green, 0 to 15 in blue; the
// thresholds keep part of each channel out of its range.
void BM_Normalizer(benchmark::State& state, double lum) {
  ToolHarness tool(NormalizerRecord);
  tool.Set("Lum", lum).Set("RTreshMin", 1).Set("RTreshMax", 18).Set("GTreshMax", 9);
  tool.Set("BTreshMax", 12).Connect("Input", Source().get());
  TimedRenders(state, tool);
}
BENCHMARK_CAPTURE(BM_Normalizer, PerChannel, 0.0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Normalizer, Common, 1.0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Vector lengths run 0 to about 27: a limit of 12 clips roughly half of them,
// the default 50 none (the usual case: only stray vectors reach the limit).
void BM_ClipMotionVectors(benchmark::State& state, const char* mode, double limit) {
  ToolHarness tool(ClipMotionVectorsRecord);
  tool.Set("MaxLenght", limit).Set("AddMult", 1.5).Choose("ClipMode", mode);
  tool.Connect("Image", Source().get());
  TimedRenders(state, tool);
}
BENCHMARK_CAPTURE(BM_ClipMotionVectors, ClipNone, "Clip", 50.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ClipMotionVectors, ClipHalf, "Clip", 12.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ClipMotionVectors, DevideHalf, "Devide", 12.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Passing an image on is independent of its size: 16 x 16 against UHD.
void BM_StereoSwitch(benchmark::State& state) {
  ImagePtr left(NewImage(int(state.range(0)), int(state.range(1))));
  ImagePtr right(NewImage(int(state.range(0)), int(state.range(1))));
  ToolHarness tool(StereoSwitchRecord);
  tool.Choose("Input", "Right").Connect("LeftImage", left.get()).Connect("RightImage", right.get());
  for (auto _ : state) {
    ImagePtr out = tool.Render();
    benchmark::DoNotOptimize(out.get());
  }
}
BENCHMARK(BM_StereoSwitch)->Args({16, 16})->Args({UhdWidth, UhdHeight});

const char* const SampleModes[] = {"Black", "Wrap", "Duplicate"};
const int BorderModes[] = {cv::BORDER_CONSTANT, cv::BORDER_WRAP, cv::BORDER_REPLICATE};

void BM_UVpositioner(benchmark::State& state) {
  ToolHarness tool(UVpositionerRecord);
  tool.Choose("SampleMode", SampleModes[state.range(0)]);
  tool.Connect("Image", Source().get()).Connect("UV", UVPass().get());
  TimedRenders(state, tool);
  state.SetLabel(SampleModes[state.range(0)]);
}
BENCHMARK(BM_UVpositioner)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same gather with cv::remap: the maps (texture pixel positions from the
// UV pass) are made once, outside the timing, and the result is written into
// an image allocated once, so only the remap itself is measured.
void BM_CvRemap(benchmark::State& state) {
  cv::setNumThreads(1);
  const Image* texture = Source().get();
  const Image* uv = UVPass().get();
  cv::Mat src(texture->Height(), texture->Width(), CV_32FC4, texture->Group1(0, 0));
  cv::Mat mapX(uv->Height(), uv->Width(), CV_32FC1), mapY(uv->Height(), uv->Width(), CV_32FC1);
  for (int y = 0; y < uv->Height(); ++y)
    for (int x = 0; x < uv->Width(); ++x) {
      const float* p = uv->Group1(x, y);
      mapX.at<float>(y, x) = p[ChanR] * texture->Width();
      mapY.at<float>(y, x) = p[ChanG] * texture->Height();
    }
  cv::Mat dst(uv->Height(), uv->Width(), CV_32FC4, cv::Scalar::all(0));
  const int border = BorderModes[state.range(0)];
  for (auto _ : state) {
    cv::remap(src, dst, mapX, mapY, cv::INTER_NEAREST, border, cv::Scalar::all(0));
    benchmark::DoNotOptimize(dst.data);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * UhdBytes());
  state.SetLabel(SampleModes[state.range(0)]);
}
BENCHMARK(BM_CvRemap)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Options off, then neighbour averaging and 2 x 2 writing together.
void BM_UVunwrap(benchmark::State& state) {
  ToolHarness tool(UVunwrapRecord);
  tool.Set("InterpolateSamples", double(state.range(0)));
  tool.Set("Interpolate pixel setting", double(state.range(0)));
  tool.Connect("Image", Source().get()).Connect("UV", NearIdentityUV().get());
  TimedRenders(state, tool);
}
BENCHMARK(BM_UVunwrap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
