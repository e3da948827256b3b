// Pieces the relighting tools share: the per-pixel map channel a tool can
// scale one of its values by, the clamp of a mask to 0 … 1, and the walk of
// a pass together with a second image of the same size.
#pragma once

#include "frame/tool.h"

// The options of a "Multiply By Channel" input, in button order.
enum class MapChannel { Red, Green, Blue, Luminance, Alpha };

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

// The value a map pixel scales by, as it is: no clamping. "Luminance" is the
// plain mean of red, green and blue, not a weighted luma.
inline double MapValue(MapChannel channel, const FltPixel& map) {
  switch (channel) {
    case MapChannel::Red:
      return map.R();
    case MapChannel::Green:
      return map.G();
    case MapChannel::Blue:
      return map.B();
    case MapChannel::Alpha:
      return map.A();
    case MapChannel::Luminance:
      break;
  }
  return (double(map.G()) + double(map.R()) + double(map.B())) / 3.0;
}

// A mask value limited to 0 … 1. A value that is not a number counts as 1:
// the masks that use this give their full value there.
inline double ClampMask(double t) {
  if (t <= 0.0) return 0.0;
  if (t < 1.0) return t;
  return 1.0;  // t >= 1, or not a number
}

inline bool SameSize(const Image* a, const Image* b) {
  return a->Width() == b->Width() && a->Height() == b->Height();
}

// Walks a pass and a second image of the same size into a result made like
// the pass: rows outer, columns inner; each pass pixel is read into one
// record and the second image's pixel into another, `change(px, second)`
// changes the first in place, and it is written to the result, so the pass's
// further channels go through as they were.
template <typename Change>
void MapPixelPairs(const Image* src, const Image* second, Image* dst, Change&& change) {
  const int32_t width = src->Width(), height = src->Height();
  PixelCursor in(src), other(second), out(dst);
  FltPixel px, otherPx;
  for (int32_t y = 0; y < height; ++y) {
    in.GotoRow(y);
    other.GotoRow(y);
    out.GotoRow(y);
    for (int32_t x = 0; x < width; ++x) {
      in.ReadPixel(px);
      other.ReadPixel(otherPx);
      change(px, static_cast<const FltPixel&>(otherPx));
      out.WritePixel(px);
      in.NextPixel();
      other.NextPixel();
      out.NextPixel();
    }
  }
}

// Sets one value on red, green, blue and alpha of a record.
template <typename Pixel>
inline void SetGrey(Pixel& px, double value) {
  const float v = static_cast<float>(value);
  px.R() = px.G() = px.B() = px.A() = v;
}
