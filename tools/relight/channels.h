// Pieces the relighting tools share: the map channel a "Multiply By Channel"
// input names, and the walk that writes a grey value computed from each pass
// pixel (and the pixel of an optional second image of the same size) into
// red, green, blue and alpha of the result.
#pragma once

#include "frame/tool.h"
#include "tools/relight/rules.h"

namespace relight {

// The channel a "Multiply By Channel" value names. A value that is none of
// the options (only a damaged composition can hold one) counts as the
// input's default, "Luminance".
inline MapChannel MapChannelOf(const TextID& option) {
  if (option == "Red") return MapChannel::Red;
  if (option == "Green") return MapChannel::Green;
  if (option == "Blue") return MapChannel::Blue;
  if (option == "Alpha") return MapChannel::Alpha;
  return MapChannel::Luminance;
}

// A point or direction picked as a colour: "Red", "Green" and "Blue" (with
// a suffix, for a second one) under a caption, in one colour group.
struct ColorPoint {
  Input *red, *green, *blue;

  void Add(Operator& op, const char* caption, int group, const char* red_, const char* green_,
           const char* blue_) {
    red = ::Add(
        op, Color(red_, red_).Default(0.0).GroupCaption(caption).ColorGroup(group).ColorChannel(0));
    green = ::Add(op, Color(green_, green_).Default(0.0).ColorGroup(group).ColorChannel(1));
    blue = ::Add(op, Color(blue_, blue_).Default(0.0).ColorGroup(group).ColorChannel(2));
  }
  void Read(Request* req, double& x, double& y, double& z) const {
    x = NumberValue(red, req), y = NumberValue(green, req), z = NumberValue(blue, req);
  }
};

inline Rgba<float> RecordRgba(const FltPixel& px) { return {px.R(), px.G(), px.B(), px.A()}; }

// Walks a pass into a result made like it, rows outer, columns inner, and
// writes the grey value of each pixel into its red, green, blue and alpha;
// the pass's further channels go through unchanged. `second`, when set, is
// the optional image of the tool: of another size it leaves the result
// empty, else its pixel at the same place goes with each pass pixel.
//
// `row(in, second, out, width, stream)` is the tool's row of the common
// layout; `grey(paired, pixel, second pixel)` its rule, for the other
// layouts.
template <typename Row, typename Grey>
void RenderGrey(const Image* src, const Image* second, Image* dst, const Row& row,
                const Grey& grey) {
  const int32_t width = src->Width(), height = src->Height();
  if (second && (second->Width() != width || second->Height() != height)) {
    dst->Fill(0, 0, 0, 0);
    return;
  }
  if (src->FurtherCount() == 0 && dst->FurtherCount() == 0) {
    // The common layout: rows of blue, green, red, alpha. The second image's
    // blue, green, red and alpha are laid out so too, whatever else it has.
    const bool stream = size_t(width) * size_t(height) * 4 * sizeof(float) >= StreamingBytes;
    for (int32_t y = 0; y < height; ++y)
      row(src->Group1(0, y), second ? second->Group1(0, y) : nullptr, dst->Group1(0, y),
          size_t(width), stream);
    if (stream) kernels::FinishStreaming();
    return;
  }
  // Further channels: each pass pixel is read into a record whose red,
  // green, blue and alpha are replaced, so the rest goes through unchanged.
  PixelCursor in(src), out(dst), other(second ? second : src);
  FltPixel px, otherPx;
  for (int32_t y = 0; y < height; ++y) {
    in.GotoRow(y);
    out.GotoRow(y);
    other.GotoRow(y);
    for (int32_t x = 0; x < width; ++x) {
      in.ReadPixel(px);
      if (second) other.ReadPixel(otherPx);
      const float value =
          Narrow(grey(second != nullptr, RecordRgba(px), RecordRgba(second ? otherPx : px)));
      px.R() = px.G() = px.B() = px.A() = value;
      out.WritePixel(px);
      in.NextPixel();
      out.NextPixel();
      other.NextPixel();
    }
  }
}

}  // namespace relight
