// The remapper's rows of the common layout, at every CPU level: the
// divisions by the scene scale are what a render spends its time on, and
// with the pixels sorted into one vector per channel they take three wide
// divisions for a register of pixels. Every operation is the one of the rule
// on the same values, so the result is the same to the bit.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/dof/ZRemapper_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "frame/kernels-inl.h"
#include "tools/dof/rules.h"

HWY_BEFORE_NAMESPACE();
namespace dof {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

void RemapRowAt(const SharpZone& zone, const float* in, float* out, size_t width) {
  const Doubles d;
  const DoubleVec scale = hn::Set(d, zone.scale), focus = hn::Set(d, zone.focus),
                  near = hn::Set(d, zone.near), far = hn::Set(d, zone.far);
  const DoubleMask farBounded = hn::Not(hn::Set(d, zone.far) < hn::Zero(d));
  auto depth = [&](FloatVec v) { return hn::Abs(hn::Div(Widen(v), scale)); };
  auto remap = [&](const Rgba<FloatVec>& px) {
    const DoubleVec zb = depth(px.b);
    const DoubleMask behind = zb > focus;
    const DoubleMask outside = hn::Or(hn::And(behind, hn::And(farBounded, zb > far)),
                                      hn::AndNot(behind, hn::Not(zb > near)));
    auto distance = [&](DoubleVec z) {
      const DoubleVec back = hn::Sub(hn::Sub(hn::Add(z, focus), far), focus);
      const DoubleVec front = hn::Sub(hn::Add(hn::Sub(focus, z), near), focus);
      return Narrow(hn::IfThenElseZero(outside, hn::IfThenElse(behind, back, front)));
    };
    return Rgba<FloatVec>{distance(depth(px.r)), distance(depth(px.g)), distance(zb), px.a};
  };
  auto plain = [&](float(&px)[4]) {
    const Side side = SideOf(zone, px[0]);
    for (int c = 0; c < 3; ++c) px[c] = DistanceOutOfFocus(zone, px[c], side);
  };
  MapRow<false>(in, out, width, remap, plain);
}

}  // namespace HWY_NAMESPACE
}  // namespace dof
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace dof {
HWY_EXPORT(RemapRowAt);

void RemapRow(const SharpZone& zone, const float* in, float* out, size_t width) {
  KernelCall(RemapRowAt)(zone, in, out, width);
}
}  // namespace dof
#endif  // HWY_ONCE
