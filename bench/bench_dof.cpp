// Depth-of-field tools against a plain copy of the same 3840 x 2160 image.
#include "bench/bench_common.h"

namespace {

const ImagePtr& Source() {
  static ImagePtr img = GradientImage(UhdWidth, UhdHeight);
  return img;
}

size_t SourceBytes() { return size_t(UhdWidth) * UhdHeight * 4 * sizeof(float); }

void BM_Copy(benchmark::State& state) { CopyBaseline(state, Source().get()); }
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZDevider(benchmark::State& state) {
  ToolHarness tool(ZDeviderRecord);
  tool.Set("Zmax", 7.5).Connect("Input", Source().get());
  RenderLoop(state, tool, SourceBytes());
}
BENCHMARK(BM_ZDevider)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
