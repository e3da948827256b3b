// The rows of the relighting tools, at every CPU level: each tool's rule of
// tools/relight/rules.h on a register of pixels at a time, and on the
// pixels after the last whole register one by one.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/relight/relight_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "frame/kernels-inl.h"
#include "tools/relight/rules-inl.h"

HWY_BEFORE_NAMESPACE();
namespace relight {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

// grey(paired, pixel, second pixel) of a rule, narrowed, for a row with or
// without a second image; each case is a loop of its own.
template <class Grey>
HWY_INLINE void GreyRows(const Grey& grey, const float* in, const float* second, float* out,
                         size_t width, bool stream) {
  auto run = [&](auto paired) {
    auto vec = [&](const Rgba<FloatVec>& p, const Rgba<FloatVec>& q) {
      return Narrow(grey(paired, Wrap(p), Wrap(q))).v;
    };
    auto plain = [&](const Rgba<float>& p, const Rgba<float>& q) {
      return Narrow(grey(paired, p, q));
    };
    if (stream)
      GreyRow<true>(in, second, out, width, vec, plain);
    else
      GreyRow<false>(in, second, out, width, vec, plain);
  };
  if (second)
    run(std::true_type());
  else
    run(std::false_type());
}

void FalloffRowAt(const Falloff& f, const float* in, const float* second, float* out, size_t width,
                  bool stream) {
  GreyRows(
      [&](bool paired, const auto& n, const auto& map) { return FalloffGrey(f, paired, n, map); },
      in, second, out, width, stream);
}

void LightRowAt(const Light& light, const float* in, const float* second, float* out, size_t width,
                bool stream) {
  GreyRows([&](bool paired, const auto& px,
               const auto& map) { return LightGrey(light, paired, px, map); },
           in, second, out, width, stream);
}

void SpotRowAt(const Spotlight& light, const float* in, const float* second, float* out,
               size_t width, bool stream) {
  GreyRows([&](bool paired, const auto& px,
               const auto& normal) { return SpotGrey(light, paired, px, normal); },
           in, second, out, width, stream);
}

}  // namespace HWY_NAMESPACE
}  // namespace relight
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace relight {
HWY_EXPORT(FalloffRowAt);
HWY_EXPORT(LightRowAt);
HWY_EXPORT(SpotRowAt);

void FalloffRow(const Falloff& f, const float* in, const float* second, float* out, size_t width,
                bool stream) {
  KernelCall(FalloffRowAt)(f, in, second, out, width, stream);
}
void LightRow(const Light& light, const float* in, const float* second, float* out, size_t width,
              bool stream) {
  KernelCall(LightRowAt)(light, in, second, out, width, stream);
}
void SpotRow(const Spotlight& light, const float* in, const float* second, float* out, size_t width,
             bool stream) {
  KernelCall(SpotRowAt)(light, in, second, out, width, stream);
}
}  // namespace relight
#endif  // HWY_ONCE
