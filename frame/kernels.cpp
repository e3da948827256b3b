// The choice of CPU level, and the plain copy every level builds.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "frame/kernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "frame/kernels-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kernels {
namespace HWY_NAMESPACE {

void CopyRun(const float* HWY_RESTRICT in, float* HWY_RESTRICT out, size_t floats, bool stream) {
  CopyFloats(in, out, floats, stream);
}

}  // namespace HWY_NAMESPACE
}  // namespace kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <hwy/cache_control.h>
#include <hwy/targets.h>

#include <cstdio>
#include <cstdlib>

#include "frame/kernels.h"

namespace kernels {
namespace {

struct Level {
  Cpu cpu;
  int64_t target;
  const char* name;
};
// The levels of HWY_TARGETS (CMakeLists.txt leaves out the others). The
// portable baseline is Highway's emulated vectors, or with older compilers
// its vectors of one lane.
constexpr Level Levels[] = {{Cpu::Avx512, HWY_AVX3, "avx512"},
                            {Cpu::Avx2, HWY_AVX2, "avx2"},
                            {Cpu::Sse4, HWY_SSE4, "sse4"},
                            {Cpu::Scalar, HWY_BASELINE_SCALAR, "scalar"}};

const Level& LevelOf(Cpu cpu) {
  for (const Level& level : Levels)
    if (level.cpu == cpu) return level;
  return Levels[3];
}

// The targets of the processor itself, whatever a test forced.
int64_t ProcessorTargets() {
  static const int64_t targets = [] {
    hwy::SetSupportedTargetsForTest(0);
    return hwy::SupportedTargets() & HWY_TARGETS;
  }();
  return targets;
}

}  // namespace

HWY_EXPORT(CopyRun);

const char* CpuName(Cpu cpu) { return LevelOf(cpu).name; }

std::optional<Cpu> CpuNamed(std::string_view name) {
  for (const Level& level : Levels)
    if (name == level.name) return level.cpu;
  return std::nullopt;
}

std::vector<Cpu> CpuLevelsHere() {
  std::vector<Cpu> here;
  for (const Level& level : Levels)
    if (ProcessorTargets() & level.target) here.push_back(level.cpu);
  return here;
}

bool ForceCpu(std::optional<Cpu> cpu) {
  const int64_t available = ProcessorTargets();
  if (!cpu) {
    hwy::SetSupportedTargetsForTest(0);
    return true;
  }
  const int64_t target = LevelOf(*cpu).target;
  if (!(available & target)) return false;
  hwy::SetSupportedTargetsForTest(target);
  return true;
}

Cpu CurrentCpu() {
  const int64_t chosen = hwy::SupportedTargets() & HWY_TARGETS;
  for (const Level& level : Levels)
    if (chosen & level.target) return level.cpu;
  return Cpu::Scalar;
}

void UseCpuOfEnvironment() {
  static const bool applied = [] {
    const char* name = std::getenv("VEXLAN_CPU");
    if (!name || !*name) return false;
    const std::optional<Cpu> cpu = CpuNamed(name);
    if (!cpu) {
      std::fprintf(stderr, "VEXLAN_CPU=%s is not a CPU level (valid: avx512, avx2, sse4, scalar)\n",
                   name);
      return false;
    }
    if (!ForceCpu(cpu)) {
      std::fprintf(stderr, "VEXLAN_CPU=%s: this processor cannot run that level\n", name);
      return false;
    }
    return true;
  }();
  (void)applied;
}

void CopyPixels(const float* in, float* out, size_t floats, bool stream) {
  KernelCall(CopyRun)(in, out, floats, stream);
}

void FinishStreaming() { hwy::FlushStream(); }

}  // namespace kernels
#endif  // HWY_ONCE
