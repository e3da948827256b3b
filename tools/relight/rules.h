// The settings of the relighting tools and their rows. The per-pixel rules
// themselves are in rules-inl.h, included at the end.
#pragma once

#include <cmath>
#include <cstddef>

#include "frame/lanes.h"

namespace relight {

// The options of a "Multiply By Channel" input, in button order.
enum class MapChannel { Red, Green, Blue, Luminance, Alpha };

// ------------------------------------------------------------------ Falloff

struct Falloff {
  double intensity;
  MapChannel channel;  // of the optional map, which scales the intensity
};

// ------------------------------------------------------------------ Relight

// The light vector, compared with the pass's red, green and blue, and the
// ramp between "Light Intensity" (the distance where the light has died
// out) and "Light Size" (the distance up to which it is full), which an
// optional map can scale one of.
struct Light {
  double x, y, z;
  double intensity, size;
  MapChannel channel;
  bool mapScalesSize;
};

// --------------------------------------------------------------- Spotlight

template <typename F>
struct Vec3 {
  F x, y, z;
};

// c raised to the cone exponent, in double (RaisedToCone). Whole
// exponents, the only ones the input offers, are worked by repeated squaring,
// far faster than the general power and the same once the light is narrowed
// to float; any other exponent takes std::pow (kernels::PowThen, whose rows
// reach its bits without calling it for most pixels).
struct ConePower {
  static constexpr double MaxWhole = 1024.0;

  explicit ConePower(double exponent)
      : exponent(exponent),
        whole(exponent >= 0.0 && exponent <= MaxWhole && exponent == std::floor(exponent)),
        bits(whole ? static_cast<unsigned>(exponent) : 0u),
        general(exponent) {}

  double exponent;
  bool whole;
  unsigned bits;
  kernels::PowExponent general;
};

struct Spotlight {
  Vec3<float> position;  // the light, in float as the surface arithmetic is
  Vec3<float> axis;      // unit vector from the target back to the light; zero when they meet
  ConePower power;
  double intensity;
};

// The rows of the common layout: the grey value of each pixel of `in` (and
// of `second` at the same place, when it is not null) in every channel.
void FalloffRow(const Falloff& f, const float* in, const float* second, float* out, size_t width,
                bool stream);
void LightRow(const Light& light, const float* in, const float* second, float* out, size_t width,
              bool stream);
void SpotRow(const Spotlight& light, const float* in, const float* second, float* out, size_t width,
             bool stream);

}  // namespace relight

#include "tools/relight/rules-inl.h"
