// The convolution filter's blocks of output pixels, at every CPU level:
// eight pixels whose taps all fall inside the source's columns, each tap's
// weights repeated over the pixels side by side in a register, every lane
// multiplied and added on its own in single precision, in tap order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/dof/Convolution_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "frame/kernels-inl.h"
#include "tools/dof/rules.h"

HWY_BEFORE_NAMESPACE();
namespace dof {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

int32_t ConvolveBlocksAt(const Tap* taps, const float* const* rows, size_t count, int32_t reach,
                         int32_t width, double weight, float* out) {
  constexpr int32_t Block = 8;
  int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const WideFloats d;
  constexpr size_t MaxVectors = 4 * Block / hn::MaxLanes(WideFloats());
  const size_t vectors = 4 * Block / hn::Lanes(d);
  for (; int64_t(x) + Block - 1 + reach < width; x += Block) {
    hn::Vec<WideFloats> sum[MaxVectors];
    for (size_t v = 0; v < vectors; ++v) sum[v] = hn::Zero(d);
    for (size_t t = 0; t < count; ++t) {
      const auto k = hn::LoadDup128(d, taps[t].weights);
      const float* s = rows[t] + 4 * (x + taps[t].dx);
      for (size_t v = 0; v < vectors; ++v)
        sum[v] = hn::Add(sum[v], hn::Mul(k, hn::LoadU(d, s + v * hn::Lanes(d))));
    }
    HWY_ALIGN float sums[4 * Block];
    for (size_t v = 0; v < vectors; ++v) hn::Store(sum[v], d, sums + v * hn::Lanes(d));
    for (int32_t b = 0; b < Block; ++b) {
      const float pixel[4] = {sums[4 * b], sums[4 * b + 1], sums[4 * b + 2], sums[4 * b + 3]};
      ConvolvedPixel(pixel, weight, out + 4 * (x + b));
    }
  }
#else
  // Vectors of one lane: the same sums, a float at a time.
  for (; int64_t(x) + Block - 1 + reach < width; x += Block) {
    float sum[Block][4] = {};
    for (size_t t = 0; t < count; ++t) {
      const float* s = rows[t] + 4 * (x + taps[t].dx);
      for (int32_t b = 0; b < Block; ++b)
        for (int c = 0; c < 4; ++c) sum[b][c] += taps[t].weights[c] * s[4 * b + c];
    }
    for (int32_t b = 0; b < Block; ++b) ConvolvedPixel(sum[b], weight, out + 4 * (x + b));
  }
#endif
  return x;
}

}  // namespace HWY_NAMESPACE
}  // namespace dof
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace dof {
HWY_EXPORT(ConvolveBlocksAt);

int32_t ConvolveBlocks(const Tap* taps, const float* const* rows, size_t count, int32_t reach,
                       int32_t width, double weight, float* out) {
  return KernelCall(ConvolveBlocksAt)(taps, rows, count, reach, width, weight, out);
}
}  // namespace dof
#endif  // HWY_ONCE
