// Images, pixel records, cursors and sampling.
//
// Pixels are 32-bit floats in two channel groups:
//   group 1  blue, green, red, alpha, interleaved (slots 0 to 3 of a record);
//   group 2  the further channels, interleaved, with their names (slots 4 on).
// Each group has a table of row start addresses (group 2 has none when the
// image has no further channels) and a byte step from one pixel to the next.
// Rows are contiguous and every table points into one aligned allocation.
//
// A new image's pixels are undefined until they are written or filled.
//
// Reference counts: NewImage gives its caller one hold, Output::Set takes that
// hold over, Use adds one and Recycle drops one.
//
// Sampling takes 16.16 fixed-point positions (pixel index × 65536) and reads
// the whole pixel that the position falls in. Use ToFixed to build a position
// from a double: it saturates, so no position, however large or not a number,
// can address memory outside an image.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/object.h"
#include "host/tags.h"

enum : int {
  ChanB = 0,
  ChanG = 1,
  ChanR = 2,
  ChanA = 3,
  ChanFurther = 4,  // first slot of the further channels
  MaxChannels = 128,
  MaxFurtherChannels = MaxChannels - ChanFurther,
};

// The pixel record: 128 float slots, blue, green, red, alpha, then the
// further channels of the image it was read from.
struct FltPixel {
  float Chan[MaxChannels];

  float& B() { return Chan[ChanB]; }
  float& G() { return Chan[ChanG]; }
  float& R() { return Chan[ChanR]; }
  float& A() { return Chan[ChanA]; }
  float B() const { return Chan[ChanB]; }
  float G() const { return Chan[ChanG]; }
  float R() const { return Chan[ChanR]; }
  float A() const { return Chan[ChanA]; }
};

// The record of the common layout: blue, green, red and alpha alone. Code
// that works on either record is written once, for `auto& px`.
struct FltPixel4 {
  float Chan[4];

  float& B() { return Chan[ChanB]; }
  float& G() { return Chan[ChanG]; }
  float& R() { return Chan[ChanR]; }
  float& A() { return Chan[ChanA]; }
  float B() const { return Chan[ChanB]; }
  float G() const { return Chan[ChanG]; }
  float R() const { return Chan[ChanR]; }
  float A() const { return Chan[ChanA]; }
};

class Image;
using ReadPixelFunc = void (*)(FltPixel& px, const std::byte* group1, const std::byte* group2,
                               const Image& img);
using WritePixelFunc = void (*)(const FltPixel& px, std::byte* group1, std::byte* group2,
                                Image& img);

class VX_HOST Image : public Parameter {
 public:
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int FurtherCount() const { return static_cast<int>(furtherNames_.size()); }
  int ChannelCount() const { return ChanFurther + FurtherCount(); }
  const std::vector<std::string>& FurtherNames() const { return furtherNames_; }

  // Cursor data: row tables (null for a group without one), pixel steps in
  // bytes, and the read-pixel and write-pixel functions.
  std::byte* const* RowTable(int group) const;
  ptrdiff_t PixelStep(int group) const { return group == 1 ? step1_ : step2_; }
  ReadPixelFunc ReadFunction() const { return read_; }
  WritePixelFunc WriteFunction() const { return write_; }

  // Sets red, green, blue and alpha of every pixel, and every further
  // channel to 0.
  void Fill(float r, float g, float b, float a);

  // The pixel at a 16.16 fixed-point position. Outside the image:
  //   D repeats the nearest edge pixel, W wraps (negative positions too),
  //   B gives a record that is 0 in every channel.
  // An image with no pixels gives 0 in every channel for all three.
  void SamplePixelD(int32_t x, int32_t y, FltPixel& px) const;
  void SamplePixelW(int32_t x, int32_t y, FltPixel& px) const;
  void SamplePixelB(int32_t x, int32_t y, FltPixel& px) const;

  // Whole-pixel access for host code (files, tests): (x, y) must lie inside.
  void GetPixel(int32_t x, int32_t y, FltPixel& px) const;
  void SetPixel(int32_t x, int32_t y, const FltPixel& px);
  float* Group1(int32_t x, int32_t y) const;  // blue, green, red, alpha
  float* Group2(int32_t x, int32_t y) const;  // the further channels

 private:
  friend VX_HOST Image* NewImage(int32_t, int32_t, const std::vector<std::string>&);
  Image(int32_t width, int32_t height, const std::vector<std::string>& furtherNames);
  ~Image() override;

  int32_t width_;
  int32_t height_;
  std::vector<std::string> furtherNames_;
  std::byte* memory_ = nullptr;
  size_t bytes_ = 0;
  std::vector<std::byte*> rows1_, rows2_;
  ptrdiff_t step1_, step2_;
  ReadPixelFunc read_;
  WritePixelFunc write_;
};

// A new image like the one given by the ImageLike tag: same size, same
// further channels. Null when the list names no image.
VX_HOST Image* NewImage(const TagList& tags);
// A new image of the given size (negative sizes count as 0) and further
// channels (at most MaxFurtherChannels). Throws std::bad_alloc when the
// pixels cannot be allocated.
VX_HOST Image* NewImage(int32_t width, int32_t height,
                        const std::vector<std::string>& furtherNames = {});

// A pixel position in 16.16 fixed point, saturated to the 32-bit range; a
// position that is not a number gives the most negative value, which lies
// outside every image.
inline int32_t ToFixed(double pixels) {
  double f = pixels * 65536.0;
  if (!(f >= -2147483648.0)) return INT32_MIN;  // NaN too
  if (f >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(f);
}

// Walks one image. Placed on a row or a pixel, it reads the pixel there into
// a record or writes a record there, and steps one pixel on. It moves only
// the channel groups that its image has. The cursor trusts its caller: rows
// and pixels must lie inside the image.
class PixelCursor {
 public:
  explicit PixelCursor(const Image* img)
      : img_(const_cast<Image*>(img)),
        rows1_(img->RowTable(1)),
        rows2_(img->RowTable(2)),
        step1_(img->PixelStep(1)),
        step2_(img->PixelStep(2)),
        read_(img->ReadFunction()),
        write_(img->WriteFunction()),
        common_(rows2_ == nullptr) {}

  void GotoRow(int32_t y) {
    addr1_ = rows1_[y];
    if (rows2_) addr2_ = rows2_[y];
  }
  void GotoPixel(int32_t x, int32_t y) {
    GotoRow(y);
    addr1_ += x * step1_;
    if (rows2_) addr2_ += x * step2_;
  }
  void ReadPixel(FltPixel& px) const {
    if (common_)
      std::memcpy(px.Chan, addr1_, 4 * sizeof(float));
    else
      read_(px, addr1_, addr2_, *img_);
  }
  void WritePixel(const FltPixel& px) {
    if (common_)
      std::memcpy(addr1_, px.Chan, 4 * sizeof(float));
    else
      write_(px, addr1_, addr2_, *img_);
  }
  void NextPixel() {
    addr1_ += step1_;
    addr2_ += step2_;  // stays null without a group 2: its step is 0
  }

 private:
  Image* img_;
  std::byte* const* rows1_;
  std::byte* const* rows2_;
  ptrdiff_t step1_, step2_;
  ReadPixelFunc read_;
  WritePixelFunc write_;
  bool common_;  // four channels and nothing else: the inline path
  std::byte* addr1_ = nullptr;
  std::byte* addr2_ = nullptr;
};
