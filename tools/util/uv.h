// Reading UV passes, for the UV positioner and the UV unwrapper: the
// coordinate pair of a pixel, the whole texture pixel that a position names
// (in the fixed-point form the sampling operations take), the place an
// unwrapped pixel lands on, and the rows of both tools (uv_rows.cpp).
//
// A UV pass holds U in red and V in green, 0 at the first column (row) and 1
// at the far edge; "Swap UV" exchanges them and the flips mirror each axis.
#pragma once

#include <cmath>
#include <cstddef>
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

// --------------------------------------------------------------- unwrapper

// A landing position along one axis of `size` pixels: below 0 is 0, at or
// past the far edge is the last pixel. A position that is not a number
// passes through unchanged.
inline double ClampToImage(double p, double size) {
  if (p < 0.0) return 0.0;
  if (p >= size) return size - 1.0;
  return p;
}

// The place a source pixel lands on in a result of width x height, and
// whether the pixel to its right and the one beneath it lie inside too (the
// rest of its 2 x 2 block).
struct Landing {
  int32_t x, y;
  bool right, below;
};

// The landing place of a UV pixel with this red and green; false when a
// coordinate is not a number, which names no place.
inline bool LandingOf(const UVOrientation& orientation, float red, float green, double width,
                      double height, Landing& at) {
  double u, v;
  orientation.Read(red, green, u, v);
  const double px = ClampToImage(u * width, width), py = ClampToImage(v * height, height);
  if (std::isnan(px) || std::isnan(py)) return false;
  at = {static_cast<int32_t>(px), static_cast<int32_t>(py), px + 1.0 < width, py + 1.0 < height};
  return true;
}

// The unwrap of the common layout, a row of the UV pass at a time. The
// result is not cleared beforehand: each write sets all four channels of its
// pixel, and a map of one byte per pixel says which pixels no write reached.
struct UnwrapRows {
  UVOrientation orientation;
  bool average, block;
  int32_t width, height;
  std::byte* const* in;   // rows of the source
  std::byte* const* out;  // rows of the result
  uint8_t* written;       // one byte per result pixel
};
void UnwrapRow(const UnwrapRows& r, const float* coords, int32_t y);

// -------------------------------------------------------------- positioner

enum class SampleMode { Black, Wrap, Duplicate, None };

struct Placement {
  UVOrientation orientation;
  double xOffset, yOffset, uScale, vScale;
  double width, height;  // of the texture

  // The texture pixel position (not yet truncated) of a UV pixel's red and
  // green: the offset is added first, the sum scaled, then taken to pixels.
  // No clamping.
  void Position(float red, float green, double& px, double& py) const {
    double u, v;
    orientation.Read(red, green, u, v);
    px = ((u + xOffset) * uScale) * width;
    py = ((v + yOffset) * vScale) * height;
  }
};

// The texture's pixels, for the common layout (blue, green, red, alpha and
// nothing else), read straight from its rows.
struct TextureRows {
  std::byte* const* rows;
  int32_t width, height;  // both above 0

  // Where the sampling operation of the mode reads a whole pixel position:
  // black outside (the zero pixel), the texture repeated, or its edge
  // extended.
  template <SampleMode Mode>
  const float* At(int32_t column, int32_t row) const {
    if constexpr (Mode == SampleMode::Black) {
      if (uint32_t(column) >= uint32_t(width) || uint32_t(row) >= uint32_t(height)) return Zero;
    } else if constexpr (Mode == SampleMode::Wrap) {
      column = Wrapped(column, width);
      row = Wrapped(row, height);
    } else {
      column = column < 0 ? 0 : column >= width ? width - 1 : column;
      row = row < 0 ? 0 : row >= height ? height - 1 : row;
    }
    return Inside(column, row);
  }

  // A pixel known to lie inside.
  const float* Inside(int32_t column, int32_t row) const {
    return reinterpret_cast<const float*>(rows[row]) + 4 * size_t(column);
  }

  static int32_t Wrapped(int32_t v, int32_t size) {
    if (uint32_t(v) < uint32_t(size)) return v;
    const int32_t m = v % size;
    return m < 0 ? m + size : m;
  }

  alignas(16) static constexpr float Zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Where one UV pixel of the common layout takes its sample from; null off
// the surface (alpha 0).
template <SampleMode Mode>
inline const float* SourceOf(const Placement& at, const TextureRows& texture, const float* coords) {
  if (coords[3] == 0.0f) return nullptr;
  double px, py;
  at.Position(coords[2], coords[1], px, py);
  int32_t fx, fy;
  if constexpr (Mode == SampleMode::Wrap) {
    fx = WrappedPixelFixed(px, texture.width);
    fy = WrappedPixelFixed(py, texture.height);
  } else {
    fx = WholePixelFixed(px);
    fy = WholePixelFixed(py);
  }
  return texture.At<Mode>(fx >> 16, fy >> 16);
}

// One row of the UV pass placed: each pixel the texture pixel its UV names
// times its alpha. `sources` holds `width` pointers of scratch.
void PlaceRow(SampleMode mode, const Placement& at, const TextureRows& texture, const float* coords,
              float* out, int32_t width, const float** sources);
