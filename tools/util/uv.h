// Reading UV passes, for the UV positioner and the UV unwrapper: the
// coordinate pair of a pixel, and the whole texture pixel that a position
// names, in the fixed-point form the sampling operations take.
//
// A UV pass holds U in red and V in green, 0 at the first column (row) and 1
// at the far edge; "Swap UV" exchanges them and the flips mirror each axis.
#pragma once

#include <cmath>
#include <cstdint>

#include "host/image.h"

struct UVOrientation {
  bool swap = false;
  bool flipX = false;
  bool flipY = false;

  // The pair (u, v) of a UV pixel with this red and green, in double
  // precision.
  void Read(float red, float green, double& u, double& v) const {
    u = swap ? green : red;
    v = swap ? red : green;
    if (flipX) u = 1.0 - u;
    if (flipY) v = 1.0 - v;
  }
};

// The 16.16 fixed-point form of the whole pixel at position p: p truncated
// toward zero (so -0.5 is pixel 0), times 65536, saturated to 32 bits. A
// position too far out for 32 bits, or one that is not a number, becomes
// the most positive or most negative value, far outside the texture. The
// same as ToFixed(std::trunc(p)), without a call into the maths library.
inline int32_t WholePixelFixed(double p) {
  if (p > -32769.0 && p < 32768.0) return static_cast<int32_t>(p) * 65536;
  return p >= 32768.0 ? INT32_MAX : INT32_MIN;
}

// For a repeating texture a position past the 32-bit range is brought back
// by whole repeats first (fmod is exact), so that tiling goes on at any
// scale instead of stopping at the saturated edge.
inline int32_t WrappedPixelFixed(double p, int32_t size) {
  if (!(p > -32769.0 && p < 32768.0) && std::isfinite(p) && size > 0)
    p = std::fmod(std::trunc(p), double(size));
  return WholePixelFixed(p);
}
