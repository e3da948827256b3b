// The per-pixel rules of the colour utilities, as plain functions of plain
// values, and the fast rows that follow them bit for bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

class Image;

namespace util {

// The smallest float at or above d, and the largest at or below: for every
// float s, s >= d exactly when s >= FloatAtOrAbove(d), and s <= d exactly when
// s <= FloatAtOrBelow(d). Not a number stays not a number.
inline float FloatAtOrAbove(double d) {
  float f = static_cast<float>(d);
  if (static_cast<double>(f) < d) f = std::nextafter(f, std::numeric_limits<float>::infinity());
  return f;
}
inline float FloatAtOrBelow(double d) {
  float f = static_cast<float>(d);
  if (static_cast<double>(f) > d) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
  return f;
}

// ---------------------------------------------------------------- Normalizer

// The thresholds of one channel and the range found within them. The minimum
// is taken over the values at or above the minimum threshold and the maximum
// over the values at or below the maximum threshold, each test on its own.
// The starting values take part: a value of 255 or more never becomes the
// minimum and one of 0 or less never the maximum; a value that is not a number
// never qualifies.
struct ChannelRange {
  double tmin, tmax;
  double min = 255.0, max = 0.0;
};

// One value of the channel, in scan order: a tie keeps the earlier value
// (down to the sign of a zero).
inline void TakeIntoRange(ChannelRange& c, float value) {
  if (value >= c.tmin && value < c.min) c.min = value;
  if (value <= c.tmax && value > c.max) c.max = value;
}

// A linear map from a found range onto 0 to 1, or to 0 where the range is
// unusable.
struct Stretch {
  double low = 0.0, span = 1.0;
  bool zero = true;

  // Per channel: usable when it is not empty and both ends lie within the
  // thresholds (which fails only when a threshold outside 0 to 255 left a
  // starting value in place).
  static Stretch OfChannel(const ChannelRange& c) {
    const double span = c.max - c.min;
    return {c.min, span, !(span != 0.0 && c.max <= c.tmax && c.min >= c.tmin)};
  }
  // In common: the smallest minimum and the largest maximum of the three.
  static Stretch Common(const ChannelRange& r, const ChannelRange& g, const ChannelRange& b) {
    double lo = 255.0, hi = 0.0;
    for (const ChannelRange* c : {&r, &g, &b}) {
      if (c->min >= c->tmin && c->min < lo) lo = c->min;
      if (c->max <= c->tmax && c->max > hi) hi = c->max;
    }
    return {lo, hi - lo, hi - lo == 0.0};
  }
};

// One value mapped: (value - low) / span in double, narrowed. Not clamped.
inline float StretchValue(const Stretch& s, float value) {
  return s.zero ? 0.0f : static_cast<float>((value - s.low) / s.span);
}

// The range of red, green and blue over every pixel of the image.
void FindRanges(const Image* img, ChannelRange& red, ChannelRange& green, ChannelRange& blue);

// One row of the common layout stretched, alpha kept; written past the cache
// when `stream` is set (kernels::FinishStreaming after the last row).
void StretchRow(const float* in, float* out, size_t width, const Stretch& red, const Stretch& green,
                const Stretch& blue, bool stream);

// --------------------------------------------------------- ClipMotionVectors

enum class ClipMode { Clip, Divide, Disable, Keep };

// One motion vector (red, green, blue). A vector at least as long as the
// limit (or whose length is not a number) gets the mode: scaled back to the
// limit, normalised, or zeroed, then times the multiplier. The length is
// worked in float, (g g + b b) + r r; the new channels in double,
// (channel / length) L m, narrowed.
inline void ClipVector(ClipMode mode, double limit, double multiplier, float& r, float& g,
                       float& b) {
  const float length = std::sqrt((g * g + b * b) + r * r);
  if (length < limit || mode == ClipMode::Keep) return;
  if (mode == ClipMode::Disable) {
    r = g = b = 0.0f;
    return;
  }
  auto scaled = [&](float c) {
    const double q = c / double(length);
    return static_cast<float>(mode == ClipMode::Clip ? q * limit * multiplier : q * multiplier);
  };
  r = scaled(r), g = scaled(g), b = scaled(b);
}

// One row of the common layout clipped, alpha kept; written past the cache
// when `stream` is set.
void ClipRow(const float* in, float* out, size_t width, ClipMode mode, double limit,
             double multiplier, bool stream);

}  // namespace util
