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

}  // namespace

BENCHMARK_MAIN();
