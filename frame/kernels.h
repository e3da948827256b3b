// The kernel layer: the row loops of the tools, written once against
// Highway's portable vectors and built for several CPU levels, and the choice
// of level at run time.
//
// A file of row loops (a tool's *_rows.cpp, or frame/kernels.cpp) is built
// once per level by the one guard Highway gives:
//
//   #undef HWY_TARGET_INCLUDE
//   #define HWY_TARGET_INCLUDE "tools/dof/ZDevider_rows.cpp"
//   #include <hwy/foreach_target.h>
//   #include "frame/kernels-inl.h"
//   ... rows in namespace ...::HWY_NAMESPACE, using the vectors and walks of
//       frame/kernels-inl.h ...
//   #if HWY_ONCE
//   HWY_EXPORT(DivideRun);   // one table of every build of the loop
//   void DivideRun(...) { KernelCall(DivideRun)(...); }
//   #endif
//
// and KernelCall picks the build the processor runs, or the one forced by
// the VEXLAN_CPU environment variable (avx512, avx2, sse4 or scalar) or by a
// test (ForceCpu). Every build gives the same bits: no multiply and add is
// ever fused, and every operation of the layer rounds lane by lane as the
// operation on a plain float or double does.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace kernels {

// The CPU levels the row loops are built for, widest first.
enum class Cpu { Avx512, Avx2, Sse4, Scalar };

// "avx512", "avx2", "sse4", "scalar".
const char* CpuName(Cpu cpu);
std::optional<Cpu> CpuNamed(std::string_view name);

// The levels built into this program that this processor runs, widest first.
std::vector<Cpu> CpuLevelsHere();

// Runs every row loop from now on at this level; no level lets each loop run
// at the widest the processor has. False (and nothing changed) when the
// processor cannot run the level.
bool ForceCpu(std::optional<Cpu> cpu);

// The level the row loops run at now.
Cpu CurrentCpu();

// Applies VEXLAN_CPU once, before the first row loop runs. An unknown name
// or a level the processor lacks is reported on stderr and ignored.
void UseCpuOfEnvironment();

// Results at least this large are written with streaming stores: they do
// not fit in the cache anyway, and writing around it saves reading every
// line of the result before it is overwritten.
constexpr size_t StreamingBytes = size_t(8) << 20;
inline bool StreamsPixels(size_t pixels) { return pixels * 4 * sizeof(float) >= StreamingBytes; }

// Copies `floats` floats (a whole number of pixels of four) from `in` to
// `out`, past the cache when `stream` is set; `out` starts 16-byte aligned.
void CopyPixels(const float* in, float* out, size_t floats, bool stream);

// Makes the streaming stores of this thread visible before the result is
// handed on.
void FinishStreaming();

}  // namespace kernels

// The build of an exported row loop for the level in use.
#define KernelCall(FUNC) (::kernels::UseCpuOfEnvironment(), HWY_DYNAMIC_DISPATCH(FUNC))
