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
#include <memory>
#include <vector>

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

// The result of an unwrap of the common layout. Landing places near the
// rows the UV pass is at go into a window of a few rows that stays in the
// cache; a row leaves the window with the places no write reached cleared,
// and is written out while the next UV row is read (past the cache when
// `stream` is set, for a large result), so that no line of the result is
// read before it is written. A row reached far ahead of the window is
// written in place instead, with a byte per pixel that says which pixels a
// write reached, and a row the window has passed takes any later write in
// place: the last write in scan order still wins.
class UnwrapTarget {
 public:
  static constexpr int32_t WindowRows = 8;

  UnwrapTarget(std::byte* const* rows, int32_t width, int32_t height, bool stream);
  UnwrapTarget(const UnwrapTarget&) = delete;
  UnwrapTarget& operator=(const UnwrapTarget&) = delete;

  // Where row y is written and its writes marked (one byte per pixel, 1 for
  // written); row y must be reached.
  float* Row(int32_t y) const { return target_[size_t(y)]; }
  uint8_t* Marks(int32_t y) const { return marks_[size_t(y)]; }
  bool Reached(int32_t y) const { return target_[size_t(y)] != nullptr; }
  // Makes row y writable: moves the window on to it when it is near, or
  // has it written in place.
  void Reach(int32_t y);
  // Clears what no write reached and writes out the window; the result is
  // complete after this.
  void Finish();

  // The row that has left the window is written out a part at a time, in
  // between the registers of the next UV row, so that its writes overlap
  // the reads rather than stall them: the next part of at most `floats`
  // floats, or false when no row is leaving. Past the cache when Streams().
  bool NextLeaving(size_t floats, const float*& from, float*& to, size_t& count) {
    if (leftFloats_ == 0) return false;
    count = floats < leftFloats_ ? floats : leftFloats_;
    from = leavingFrom_;
    to = leavingTo_;
    leavingFrom_ += count;
    leavingTo_ += count;
    leftFloats_ -= count;
    if (leftFloats_ == 0) target_[size_t(leavingRow_)] = leavingRowStart_;
    return true;
  }
  bool Streams() const { return stream_; }

 private:
  void Open(int32_t y);
  void Close(int32_t y);
  void FinishLeaving();

  std::byte* const* out_;
  int32_t width_, height_;
  bool stream_;
  int32_t first_ = 0;  // the window's first row; the rows above are done
  std::vector<float*> target_;
  std::vector<uint8_t*> marks_;
  std::vector<uint8_t> inWindow_;
  std::unique_ptr<float[]> window_;
  std::unique_ptr<uint8_t[]> windowMarks_, inPlaceMarks_, ignored_;
  // The row leaving the window: what is left of it, and where it goes.
  int32_t leavingRow_ = -1;
  const float* leavingFrom_ = nullptr;
  float *leavingTo_ = nullptr, *leavingRowStart_ = nullptr;
  size_t leftFloats_ = 0;
};

// The unwrap of the common layout, a row of the UV pass at a time.
struct UnwrapRows {
  UVOrientation orientation;
  bool average, block;
  int32_t width, height;
  std::byte* const* in;  // rows of the source
  UnwrapTarget* out;
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
