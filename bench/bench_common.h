// Benchmark helpers: large test images and the plain copy that the tools
// that read and write each pixel once are measured against.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "testing/harness.h"

// The environment variable VEXLAN_BENCH_SCALE (a number above 0, at most 1)
// shrinks both sides of every benchmark image by that factor: 0.5 measures
// a quarter of the pixels. Unset, the images have their full size.
inline double BenchScale() {
  const char* text = std::getenv("VEXLAN_BENCH_SCALE");
  if (!text || !*text) return 1.0;
  char* end = nullptr;
  const double scale = std::strtod(text, &end);
  return *end == '\0' && scale > 0.0 && scale <= 1.0 ? scale : 1.0;
}

// A side of `full` pixels at the benchmark scale, never less than 16.
inline int ScaledSide(int full) {
  const int side = static_cast<int>(std::lround(full * BenchScale()));
  return side < 16 ? 16 : side;
}

// The 3840 x 2160 frame of the tools that render on the calling thread,
// scaled.
inline const int UhdWidth = ScaledSide(3840), UhdHeight = ScaledSide(2160);

// A four-channel image with values that vary over the frame, so that no
// branch of a tool is taken for every pixel.
inline ImagePtr GradientImage(int w, int h) {
  ImagePtr img(NewImage(w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float* p = img->Group1(x, y);
      p[ChanR] = 20.0f * x / w;
      p[ChanG] = 10.0f * y / h;
      p[ChanB] = 15.0f * (x + y) / (w + h);
      p[ChanA] = 1.0f;
    }
  return img;
}

// The baseline: memcpy of the same bytes into a buffer that is already
// allocated and touched, on one thread.
inline void CopyBaseline(benchmark::State& state, const Image* src) {
  const size_t bytes = size_t(src->Width()) * src->Height() * 4 * sizeof(float);
  std::vector<float> dst(bytes / sizeof(float), 1.0f);
  const void* from = src->Group1(0, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), from, bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// Renders the harness's tool once per iteration; the result is dropped
// within the iteration, as a host drops a frame it has shown.
inline void RenderLoop(benchmark::State& state, ToolHarness& tool, size_t bytes) {
  for (auto _ : state) {
    ImagePtr out = tool.Render();
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// The frame of the tools that render rows on worker threads, scaled: 1920 x
// 1080, a quarter of the others' pixels.
inline const int HdWidth = ScaledSide(1920), HdHeight = ScaledSide(1080);
inline size_t HdFrameBytes() { return size_t(HdWidth) * HdHeight * 4 * sizeof(float); }

// The worker threads a render may use, for the life of the object.
class ThreadLimit {
 public:
  explicit ThreadLimit(int threads) { SetWorkerThreadLimit(threads); }
  ~ThreadLimit() { SetWorkerThreadLimit(0); }
};

// One frame first, as a host renders frame after frame: the timed frames
// then reuse its pixel memory rather than paying for fresh pages.
inline void Measure(benchmark::State& state, ToolHarness& tool) {
  tool.Render();
  RenderLoop(state, tool, HdFrameBytes());
}
