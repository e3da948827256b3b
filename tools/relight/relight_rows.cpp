// The rows of the relighting tools, at every CPU level: each tool's rule of
// tools/relight/rules.h on a register of pixels at a time, and on the
// pixels after the last whole register one by one.
//
// Each rule runs in stages (kernels::GreyRow): first what a pixel needs of
// its images (a distance from the light, a facing ratio, the cone's cosine),
// then the mask or light from that, and for the general cone power its
// logarithm in a stage of its own. Every stage is a piece of the plain rule,
// so the values are the plain rule's.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/relight/relight_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <tuple>
#include <type_traits>
#include <utility>

#include "frame/kernels-inl.h"
#include "tools/relight/rules-inl.h"

HWY_BEFORE_NAMESPACE();
namespace relight {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

// `rows(paired)` gives the stages of a rule for a row with or without a
// second image, as {first, middle, last, plain} (GreyRow); each case, and
// each way of storing, is a loop of its own.
template <class Rows>
HWY_INLINE void GreyRows(const Rows& rows, const float* in, const float* second, float* out,
                         size_t width, bool stream) {
  auto run = [&](auto paired) {
    const auto [first, middle, last, plain] = rows(paired);
    if (stream)
      GreyRow<true>(in, second, out, width, first, middle, last, plain);
    else
      GreyRow<false>(in, second, out, width, first, middle, last, plain);
  };
  if (second)
    run(std::true_type());
  else
    run(std::false_type());
}

// The whole rule as one stage, for rows with a second image: the
// map's values would only lengthen what the first stage hands on, and the
// rows with two images to read gain nothing from more stages.
template <class Grey>
HWY_INLINE auto OneStage(const Grey& grey) {
  return std::tuple(
      [grey](const Rgba<FloatVec>& p, const Rgba<FloatVec>& q)
          VEXLAN_INLINE_LAMBDA { return grey(true, Wrap(p), Wrap(q)); },
      NoStage(), [](DoubleLanes g) VEXLAN_INLINE_LAMBDA { return Narrow(g); },
      [grey](const Rgba<float>& p, const Rgba<float>& q) { return Narrow(grey(true, p, q)); });
}

// Each row takes its settings by value: the compiler then knows that no
// store into the row changes them, and works what depends on them alone
// (such as the ramp's slope) once per row instead of once per register.
void FalloffRowAt(const Falloff f, const float* in, const float* second, float* out, size_t width,
                  bool stream) {
  GreyRows(
      [&](auto paired) {
        const auto grey = [f](bool withMap, const auto& n, const auto& map) {
          return FalloffGrey(f, withMap, n, map);
        };
        if constexpr (decltype(paired)::value) {
          return OneStage(grey);
        } else {
          // The facing ratio, then the mask.
          struct Normal {
            DoubleLanes facing;
            FloatLanes alpha;
          };
          const DoubleLanes intensity(f.intensity);
          return std::tuple(
              [](const Rgba<FloatVec>& n, const Rgba<FloatVec>&) VEXLAN_INLINE_LAMBDA {
                return Normal{Facing(Wrap(n)), n.a};
              },
              NoStage(),
              [intensity](const Normal& n) VEXLAN_INLINE_LAMBDA {
                return Narrow(FalloffMask(n.facing, intensity, n.alpha));
              },
              [grey](const Rgba<float>& n, const Rgba<float>& map) {
                return Narrow(grey(false, n, map));
              });
        }
      },
      in, second, out, width, stream);
}

void LightRowAt(const Light light, const float* in, const float* second, float* out, size_t width,
                bool stream) {
  GreyRows(
      [&](auto paired) {
        const auto grey = [light](bool withMap, const auto& px, const auto& map) {
          return LightGrey(light, withMap, px, map);
        };
        if constexpr (decltype(paired)::value) {
          return OneStage(grey);
        } else {
          // The distance from the light, then the mask.
          struct Point {
            DoubleLanes distance;
            FloatLanes alpha;
          };
          const Ramp<DoubleLanes> ramp = RampOf(light, false, Rgba<FloatLanes>());
          return std::tuple(
              [light](const Rgba<FloatVec>& px, const Rgba<FloatVec>&) VEXLAN_INLINE_LAMBDA {
                return Point{LightDistance(light, Wrap(px)), px.a};
              },
              NoStage(),
              [ramp](const Point& p)
                  VEXLAN_INLINE_LAMBDA { return Narrow(LightMask(ramp, p.distance, p.alpha)); },
              [grey](const Rgba<float>& px, const Rgba<float>& map) {
                return Narrow(grey(false, px, map));
              });
        }
      },
      in, second, out, width, stream);
}

// The spotlight's first stage: the cone's cosine c of a point and, with a
// second image, the normal's.
struct Nothing {};
template <bool Paired>
struct SpotPoint {
  DoubleLanes c;
  [[no_unique_address]] std::conditional_t<Paired, FloatLanes, Nothing> l;
};

// The points of two registers at once, on a register of twice the floats.
template <bool Paired>
HWY_INLINE auto SpotPoints(const Spotlight& light) {
  return [light](const Rgba<FloatVec>& p0, const Rgba<FloatVec>& q0, const Rgba<FloatVec>& p1,
                 const Rgba<FloatVec>& q1) VEXLAN_INLINE_LAMBDA {
    const auto c = OnBoth([&](const auto& px) { return ConeCosine(light, px); }, p0, p1);
    std::pair<SpotPoint<Paired>, SpotPoint<Paired>> both{{Widen(c.first), {}},
                                                         {Widen(c.second), {}}};
    if constexpr (Paired) {
      const auto l = OnBoth([&](const auto& n) { return NormalCosine(light, n); }, q0, q1);
      both.first.l = l.first;
      both.second.l = l.second;
    }
    return both;
  };
}

// The grey value of a point's power of the cosine.
template <bool Paired>
HWY_INLINE DoubleLanes Lit(const Spotlight& light, const SpotPoint<Paired>& p, DoubleLanes power) {
  if constexpr (Paired)
    return SpotLit(light, power, p.l);
  else
    return SpotLit(light, power);
}

// The cosines c of K registers' points raised to a whole exponent in place,
// the steps of the repeated squaring taken once for all K.
template <size_t K, bool Paired>
HWY_INLINE void WholePowers(unsigned bits, SpotPoint<Paired>* points) {
  DoubleLanes power[K], square[K];
  for (size_t k = 0; k < K; ++k) power[k] = 1.0, square[k] = points[k].c;
  WholePowerSteps(bits, [&](bool multiply) {
    if (multiply)
      for (size_t k = 0; k < K; ++k) power[k] = power[k] * square[k];
    else
      for (size_t k = 0; k < K; ++k) square[k] = square[k] * square[k];
  });
  for (size_t k = 0; k < K; ++k) points[k].c = power[k];
}

void SpotRowAt(const Spotlight light, const float* in, const float* second, float* out,
               size_t width, bool stream) {
  auto plain = [light](auto paired) {
    return [light](const Rgba<float>& px, const Rgba<float>& normal) {
      return Narrow(SureValue(SpotGrey(light, decltype(paired)::value, px, normal)));
    };
  };
  if (light.power.whole) {
    // Always sure of their bits. The repeated squaring runs for a chunk at
    // once, four registers at a time: each step is a multiplication per
    // register, its tests once for all.
    GreyRows(
        [&](auto paired) {
          constexpr bool Paired = decltype(paired)::value;
          return std::tuple(
              SpotPoints<Paired>(light),
              [bits = light.power.bits](auto& points, size_t n) VEXLAN_INLINE_LAMBDA {
                size_t i = 0;
                for (; i + 4 <= n; i += 4) WholePowers<4>(bits, points + i);
                for (; i < n; ++i) WholePowers<1>(bits, points + i);
              },
              [light](const SpotPoint<Paired>& p)
                  VEXLAN_INLINE_LAMBDA { return Narrow(Lit(light, p, p.c)); },
              plain(paired));
        },
        in, second, out, width, stream);
    return;
  }
  const PowExponent exponent = light.power.general;
  if (exponent.half) {
    // A whole number and a half: a few products and a root a register.
    GreyRows(
        [&](auto paired) {
          constexpr bool Paired = decltype(paired)::value;
          return std::tuple(
              SpotPoints<Paired>(light), NoStage(),
              [light, exponent](const SpotPoint<Paired>& p) VEXLAN_INLINE_LAMBDA {
                return Narrow(PowHalfThen(p.c, exponent,
                                          [&](DoubleLanes power) { return Lit(light, p, power); }));
              },
              plain(paired));
        },
        in, second, out, width, stream);
    return;
  }
  // The general power, its logarithm in a stage of its own.
  GreyRows(
      [&](auto paired) {
        constexpr bool Paired = decltype(paired)::value;
        using Point = SpotPoint<Paired>;
        return std::tuple(
            SpotPoints<Paired>(light),
            [exponent](const Point& p)
                VEXLAN_INLINE_LAMBDA { return std::pair(p, PowLogarithm(p.c, exponent)); },
            [light, exponent](const std::pair<Point, DoubleLanes>& s) VEXLAN_INLINE_LAMBDA {
              return Narrow(PowFromLogarithm(s.first.c, s.second, exponent, [&](DoubleLanes power) {
                return Lit(light, s.first, power);
              }));
            },
            plain(paired));
      },
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
