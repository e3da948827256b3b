// What the two sampling blurs (DirtyDof, Convolution) share: counts read
// from number inputs, nearest-edge reads of the colour channels, and the
// depth-of-field blur-circle diameter.
#pragma once

#include <cmath>
#include <cstdint>

#include "host/image.h"

// A count typed into a number input, truncated toward zero. Values beyond
// the 32-bit range saturate and a value that is not a number counts as 0, so
// no typed value is undefined behaviour.
inline int32_t TruncatedCount(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The largest sample count a render takes, far past every slider: a count
// typed beyond it would keep a render busy for days, so it counts as this.
constexpr int32_t MaxSampleCount = 1 << 16;

// A sample count typed into a number input: truncated toward zero, NaN as 0,
// and at most MaxSampleCount.
inline int32_t SampleCount(double value) {
  const int32_t count = TruncatedCount(value);
  return count < MaxSampleCount ? count : MaxSampleCount;
}

// The whole-pixel index that a position (in pixels) falls on once truncated
// toward zero, clamped to 0 .. size - 1: the nearest edge pixel for
// positions outside. Huge and infinite positions saturate; one that is not
// a number gives 0. `size` must be at least 1.
inline int32_t EdgeIndex(double pos, int32_t size) {
  if (!(pos >= 1.0)) return 0;  // below 1 truncates to 0 or lies before the edge; NaN too
  if (pos >= static_cast<double>(size - 1)) return size - 1;
  return static_cast<int32_t>(pos);
}
inline int32_t EdgeIndex(int64_t pos, int32_t size) {
  if (pos <= 0) return 0;
  if (pos >= size - 1) return size - 1;
  return static_cast<int32_t>(pos);
}

// Reads blue, green, red and alpha of an image's pixels straight from its
// rows, taking the nearest edge pixel outside the image: the pixel that
// Image::SamplePixelD gives, without copying every channel into a record.
// An image without pixels reads as 0 everywhere, as SamplePixelD does.
class EdgeReader {
 public:
  explicit EdgeReader(const Image* img)
      : rows_(img->RowTable(1)),
        width_(img->Width()),
        height_(img->Height()),
        empty_(width_ == 0 || height_ == 0) {}

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // The row y, which must lie inside the image.
  const float* Row(int32_t y) const { return reinterpret_cast<const float*>(rows_[y]); }
  const float* EdgeRow(int64_t y) const { return empty_ ? nullptr : Row(EdgeIndex(y, height_)); }

  template <typename Pos>
  const float* At(Pos x, Pos y) const {
    if (empty_) return Zero;
    return Row(EdgeIndex(y, height_)) + 4 * EdgeIndex(x, width_);
  }

 private:
  static constexpr float Zero[4] = {0, 0, 0, 0};
  std::byte* const* rows_;
  int32_t width_, height_;
  bool empty_;
};

// The depth (m) of a Z-pass pixel given as blue, green, red, alpha: the mean
// of its red, green and blue, added and divided in single precision.
inline float PixelDepth(const float* bgra) {
  return ((bgra[ChanG] + bgra[ChanB]) + bgra[ChanR]) / 3.0f;
}

// The diameter (mm) of the blur circle on the film that a depth z (m)
// produces, for a focal length f (mm), an f-number and a focus distance
// (mm). Nothing is guarded: a depth of 0 gives infinity, and a focus
// distance equal to the focal length gives a value that is not finite.
inline double BlurDiameter(double z, double f, double fNumber, double focusMm) {
  const double d = std::fabs(z * 1000);
  return std::fabs(((f / fNumber) * f) * (d - focusMm) / ((focusMm - f) * d));
}
