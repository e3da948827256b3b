// The per-pixel rules of the relighting tools, written once as templates
// over a float type F: with F = float they are the plain rules of one pixel
// (what the tests and the walk of images with further channels call), and
// the rows in relight_rows.cpp run them on a register of pixels at a time
// with the same bits (frame/lanes.h). A file of rows includes this once per
// CPU level, in that level's namespace; any other file has the plain rules
// in namespace relight.
#if defined(TOOLS_RELIGHT_RULES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TOOLS_RELIGHT_RULES_INL_H_
#undef TOOLS_RELIGHT_RULES_INL_H_
#else
#define TOOLS_RELIGHT_RULES_INL_H_
#endif

#include <cmath>

#include "frame/lanes.h"
#include "tools/relight/rules.h"

#ifdef HWY_NAMESPACE
HWY_BEFORE_NAMESPACE();
namespace relight {
namespace HWY_NAMESPACE {
#else
namespace relight {
#endif

using kernels::Abs;
using kernels::Greater;
using kernels::IfNonZero;
using kernels::IfPositive;
using kernels::IfPositiveElseNaN;
using kernels::Lesser;
using kernels::Narrow;
using kernels::PowThen;
using kernels::Rgba;
using kernels::Sqrt;
using kernels::Sure;
using kernels::SureValue;
using kernels::Widen;
using kernels::WideOf;

// The value a map pixel scales by, as it is: no clamping. "Luminance" is the
// plain mean of red, green and blue, not a weighted luma.
template <typename F, typename D = WideOf<F>>
inline D MapValue(MapChannel channel, const Rgba<F>& map) {
  switch (channel) {
    case MapChannel::Red:
      return Widen(map.r);
    case MapChannel::Green:
      return Widen(map.g);
    case MapChannel::Blue:
      return Widen(map.b);
    case MapChannel::Alpha:
      return Widen(map.a);
    case MapChannel::Luminance:
      break;
  }
  return (Widen(map.g) + Widen(map.r) + Widen(map.b)) / 3.0;
}

// A mask value limited to 0 … 1. A value that is not a number counts as 1:
// the masks that use this give their full value there.
template <typename D>
inline D ClampMask(D t) {
  return Greater(Lesser(t, D(1.0)), D(0.0));
}

// The facing ratio of one normal, used as stored (no remapping from 0 … 1):
// the cosine against the view axis (0, 0, -1) with the normal made unit
// length, taken as 0 … 1.
//
// A normal has a direction only where its x and y are finite and its length
// is above 0 (its squares may underflow to a length of 0, or overflow to an
// infinite one, where every quotient is then 0). Elsewhere, x or y divided by
// the length is not a finite number and no facing ratio exists: the ratio is
// then not a number, which the mask's clamp turns into the full mask, so
// such a pixel gets its own alpha. The test for it needs no division:
// x·0 + y·0 is ±0 exactly when x and y are finite, so adding the length gives
// a value above 0 exactly then.
template <typename F, typename D = WideOf<F>>
inline D Facing(const Rgba<F>& n) {
  const F length = Sqrt(n.g * n.g + n.r * n.r + n.b * n.b);
  const F direction = (n.r * 0.0f + n.g * 0.0f) + length;
  return IfPositiveElseNaN(direction, Abs(Widen(n.b) / Widen(length)));
}

// The mask for a facing ratio, turned round, so that faces towards or away
// from the camera give 0 and faces seen edge-on give 1; times the alpha.
template <typename D, typename F>
inline D FalloffMask(D facing, D intensity, F alpha) {
  return ClampMask((1.0 - facing) * intensity) * Widen(alpha);
}

// The intensity of a pixel: the setting, scaled by the map's pixel when
// there is one.
template <typename F, typename D = WideOf<F>>
inline D FalloffIntensity(const Falloff& f, bool withMap, const Rgba<F>& map) {
  return withMap ? f.intensity * MapValue(f.channel, map) : D(f.intensity);
}

template <typename F, typename D = WideOf<F>>
inline D FalloffGrey(const Falloff& f, bool withMap, const Rgba<F>& n, const Rgba<F>& map) {
  return FalloffMask(Facing(n), FalloffIntensity(f, withMap, map), n.a);
}

// The ramp's slope, 1 / (size − intensity): infinite for equal radii.
template <typename D>
inline D RampSlope(D intensity, D size) {
  return 1.0 / (size - intensity);
}

// The distance of a pass pixel's point from the light.
template <typename F, typename D = WideOf<F>>
inline D LightDistance(const Light& light, const Rgba<F>& px) {
  const D dr = Widen(px.r) - light.x, dg = Widen(px.g) - light.y, db = Widen(px.b) - light.z;
  return Sqrt(dr * dr + dg * dg + db * db);
}

// The ramp of a pixel: its "Light Intensity" and slope, the map's pixel
// scaling one of the radii when there is one.
template <typename D>
struct Ramp {
  D intensity, slope;
};
template <typename F, typename D = WideOf<F>>
inline Ramp<D> RampOf(const Light& light, bool withMap, const Rgba<F>& map) {
  if (!withMap) return {D(light.intensity), D(RampSlope(light.intensity, light.size))};
  D intensity = light.intensity, size = light.size;
  if (light.mapScalesSize)
    size = light.size * MapValue(light.channel, map);
  else
    intensity = light.intensity * MapValue(light.channel, map);
  return {intensity, RampSlope(intensity, size)};
}

// The mask for a distance d. Size < intensity: full within the size,
// falling linearly to 0 at the intensity. Size > intensity: the ramp turns
// round. Equal radii: 0 up to and including that radius, alpha beyond it.
template <typename D, typename F>
inline D LightMask(const Ramp<D>& ramp, D d, F alpha) {
  const D t = 1.0 - (d - ramp.intensity) * ramp.slope;
  return (1.0 - ClampMask(t)) * Widen(alpha);
}

template <typename F, typename D = WideOf<F>>
inline D LightGrey(const Light& light, bool withMap, const Rgba<F>& px, const Rgba<F>& map) {
  return LightMask(RampOf(light, withMap, map), LightDistance(light, px), px.a);
}

template <typename F>
inline F Dot(const Vec3<F>& a, const Vec3<float>& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The vector divided by its length; a zero vector stays zero.
template <typename F>
inline Vec3<F> Normalized(const Vec3<F>& v) {
  const F length = Sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {IfNonZero(length, v.x / length, v.x), IfNonZero(length, v.y / length, v.y),
          IfNonZero(length, v.z / length, v.z)};
}

// The steps of raising to a whole exponent by repeated squaring, from 1:
// step(true) multiplies the power by the square, step(false) squares the
// square (which starts as the number raised).
template <class Step>
inline void WholePowerSteps(unsigned bits, const Step& step) {
  for (;;) {
    if (bits & 1u) step(true);
    if ((bits >>= 1) == 0) return;
    step(false);
  }
}

template <typename D>
inline D WholePower(unsigned bits, D c) {
  D power = D(1.0), square = c;
  WholePowerSteps(bits, [&](bool multiply) {
    if (multiply)
      power = power * square;
    else
      square = square * square;
  });
  return power;
}

// c raised to the cone exponent (ConePower), in double, handed to `finish`:
// any exponent but the whole ones is PowThen's, whose register form works
// the power out otherwise and says where it is not sure of the bits.
template <typename D, class Finish>
inline auto RaisedToCone(const ConePower& cone, D c, const Finish& finish) {
  if (!cone.whole) return PowThen(c, cone.general, finish);
  return Sure(finish(WholePower(cone.bits, c)));
}

// The cosine of the angle between the direction to the light and the
// beam's axis at one surface point; 0 at right angles to the axis, behind
// the light, and where it is not a number.
template <typename F>
inline F ConeCosine(const Spotlight& light, const Rgba<F>& px) {
  const Vec3<F> toLight = Normalized(
      Vec3<F>{light.position.x - px.r, light.position.y - px.g, light.position.z - px.b});
  return Greater(Dot(toLight, light.axis), F(0.0));
}

// The diffuse term's cosine for a normal, used as stored (no remapping from
// 0 … 1) and lit along the beam's axis.
template <typename F>
inline F NormalCosine(const Spotlight& light, const Rgba<F>& normal) {
  return Dot(Normalized(Vec3<F>{normal.r, normal.g, normal.b}), light.axis);
}

// What makes the grey value of a power of the cone's cosine: times the
// intensity and, with a normal, the diffuse term. A normal facing away from
// the light gives 0 whatever the beam's value.
template <typename D>
inline D SpotLit(const Spotlight& light, D power) {
  return power * light.intensity;
}
template <typename D, typename F>
inline D SpotLit(const Spotlight& light, D power, F normalCosine) {
  return IfPositive(normalCosine, power * light.intensity * Widen(normalCosine));
}

// The beam's value at one surface point, cos^e times the intensity, with the
// diffuse term of a normal when there is one.
template <typename F, typename D = WideOf<F>>
inline auto SpotGrey(const Spotlight& light, bool withNormals, const Rgba<F>& px,
                     const Rgba<F>& normal) {
  const D c = Widen(ConeCosine(light, px));
  if (!withNormals)
    return RaisedToCone(light.power, c, [&light](D power) { return SpotLit(light, power); });
  const F l = NormalCosine(light, normal);
  return RaisedToCone(light.power, c, [&light, l](D power) { return SpotLit(light, power, l); });
}

#ifdef HWY_NAMESPACE
}  // namespace HWY_NAMESPACE
}  // namespace relight
HWY_AFTER_NAMESPACE();
#else
}  // namespace relight
#endif

#endif  // TOOLS_RELIGHT_RULES_INL_H_
