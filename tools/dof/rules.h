// The per-pixel rules of the depth tools, as plain functions of plain
// values, and the fast rows that follow them bit for bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace dof {

// The divider: one depth channel divided by Zmax in double precision and
// narrowed. For a Zmax that is a float this is the float quotient itself.
inline float DivideDepth(float depth, double zmax) { return static_cast<float>(depth / zmax); }

// A run of `pixels` pixels of the common layout, red, green and blue divided,
// alpha kept; past the cache when `stream` is set.
void DivideRun(const float* in, float* out, size_t pixels, double zmax, bool stream);

}  // namespace dof

namespace dof {

// The remapper's zone of sharpness in scaled units.
struct SharpZone {
  double scale;  // scene units per metre: every depth is divided by it
  double focus;  // the plane of focus
  double near;
  double far;  // negative when the far limit is unbounded
};

enum class Side { Sharp, Behind, InFront };

// A depth in scaled units: divided in double precision, sign cleared.
inline double ScaledDepth(const SharpZone& zone, float depth) {
  return std::fabs(depth / zone.scale);
}

// The side of the zone a pixel lies on, decided by its blue. Behind the
// plane of focus an unbounded far limit keeps everything sharp; in front of
// it (at it, or for a depth that is not a number) the near limit decides.
inline Side SideOf(const SharpZone& zone, float blue) {
  const double zb = ScaledDepth(zone, blue);
  if (zb > zone.focus) return !(zone.far < 0.0) && zb > zone.far ? Side::Behind : Side::Sharp;
  return !(zb > zone.near) ? Side::InFront : Side::Sharp;
}

// How far one channel lies out of focus on that side, measured from its own
// value. The sums run in this order, in double precision: the results are
// the last bits a user compares against.
inline float DistanceOutOfFocus(const SharpZone& zone, float depth, Side side) {
  const double z = ScaledDepth(zone, depth);
  switch (side) {
    case Side::Behind:
      return static_cast<float>(((z + zone.focus) - zone.far) - zone.focus);
    case Side::InFront:
      return static_cast<float>(((zone.focus - z) + zone.near) - zone.focus);
    case Side::Sharp:
      break;
  }
  return 0.0f;
}

// One row of the common layout remapped: red, green and blue, alpha kept.
void RemapRow(const SharpZone& zone, const float* in, float* out, size_t width);

}  // namespace dof

namespace dof {

// One kernel pixel of the convolution filter: its weights (blue, green, red,
// alpha) and where it reads the source relative to the output pixel.
struct Tap {
  float weights[4];
  int32_t dx;  // kx
  int32_t dy;  // Kh - ky
};

// One output pixel's sums: each channel's products with the source pixels
// under the taps, added in tap order in single precision, exactly as four
// separate floats; then divided by the weight whatever it is (no positive
// alpha gives IEEE infinities and NaNs).
inline void ConvolvedPixel(const float (&sum)[4], double weight, float* out) {
  for (int c = 0; c < 4; ++c) out[c] = static_cast<float>(sum[c] / weight);
}

// The blocks of output pixels of a row whose taps all fall inside the
// source's columns (`reach` is the largest dx), `rows[t]` the source row of
// tap t. Returns the first column it left for the caller, which takes the
// pixels near the right edge one by one.
int32_t ConvolveBlocks(const Tap* taps, const float* const* rows, size_t count, int32_t reach,
                       int32_t width, double weight, float* out);

}  // namespace dof

namespace dof {

// A sample's offset from its pixel, in pixels.
struct SampleOffset {
  double dy, dx;
};

// What the dirty depth of field's rows read: the source's rows, the blur
// radius (pixels) and |z| of every depth pixel, row by row, the pattern of
// offsets (two passes of `sampleCount`) and the zone of sharpness.
struct DirtyRows {
  std::byte* const* source;
  int32_t width, height;            // of the source
  const double* radius;             // per depth pixel
  const float* depth;               // |z| per depth pixel
  int32_t depthWidth, depthHeight;  // at least 1 each
  const SampleOffset* pattern;
  int32_t sampleCount;
  double nearLimit, farLimit;  // farLimit 0: unbounded
};

// Renders pixels x0 .. k - 1 of row y into `out` (the place of pixel x0) as
// DirtyDof's per-pixel rule does, a register of pixels at a time, and
// returns k <= x1: the pixels from k to x1 are left to the caller, which
// renders them one by one.
int32_t DirtyDofRow(const DirtyRows& rows, int32_t y, int32_t x0, int32_t x1, float* out);

}  // namespace dof
