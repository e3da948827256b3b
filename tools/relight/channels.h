// Pieces the relighting tools share: the map channel a tool can scale one of
// its values by, the clamp of a mask to 0 … 1, and the walk that writes a
// grey value computed from each pass pixel (and the pixel of a second image
// of the same size) into red, green, blue and alpha of the result.
#pragma once

#include <type_traits>

#include "frame/tool.h"
#include "tools/relight/lanes.h"

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
template <typename F, typename D = WideOf<F>>
inline D MapValue(MapChannel channel, const Rgba4<F>& map) {
  switch (channel) {
    case MapChannel::Red:
      return Widen(map.r);
    case MapChannel::Green:
      return Widen(map.g);
    case MapChannel::Blue:
      return Widen(map.b);
    case MapChannel::Alpha:
      return Widen(map.a);
    case MapChannel::Luminance:
      break;
  }
  return (Widen(map.g) + Widen(map.r) + Widen(map.b)) / 3.0;
}

// A mask value limited to 0 … 1. A value that is not a number counts as 1:
// the masks that use this give their full value there.
template <typename D>
inline D ClampMask(D t) {
  return Greater(Lesser(t, Splat<D>(1.0)), Splat<D>(0.0));
}

inline bool SameSize(const Image* a, const Image* b) {
  return a->Width() == b->Width() && a->Height() == b->Height();
}

namespace walk {

inline Rgba4<float> RecordRgba(const FltPixel& px) { return {px.R(), px.G(), px.B(), px.A()}; }

// One row of the common layout, eight pixels at a time, then one at a time.
// Everything it calls is inlined into it: a call per eight pixels would cost
// more than their arithmetic.
template <bool Stream, bool Paired, typename Grey>
RowClones __attribute__((flatten)) void GreyRow(const float* in, const float* second, float* out,
                                                int32_t width, const Grey& greyOf) {
  // A copy of its own, whose captures stay in registers: the stores below
  // could change the caller's, as far as the compiler knows.
  const Grey grey = greyOf;
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, in += 32, second += 32, out += 32) {
    if constexpr (Paired)
      StoreGrey8<Stream>(out, Narrow(grey(LoadPixels8(in), LoadPixels8(second))));
    else
      StoreGrey8<Stream>(out, Narrow(grey(LoadPixels8(in))));
  }
  for (; x < width; ++x, in += 4, second += 4, out += 4) {
    if constexpr (Paired)
      StoreGrey<Stream>(out, Narrow(grey(LoadPixel(in), LoadPixel(second))));
    else
      StoreGrey<Stream>(out, Narrow(grey(LoadPixel(in))));
  }
}

template <bool Paired, typename Grey>
void MapGrey(const Image* src, const Image* second, Image* dst, Grey& grey) {
  const int32_t width = src->Width(), height = src->Height();
  if (src->FurtherCount() == 0 && dst->FurtherCount() == 0) {
    // The common layout: rows of blue, green, red, alpha. The second image's
    // blue, green, red and alpha are laid out so too, whatever else it has.
    const bool stream = size_t(width) * size_t(height) * 4 * sizeof(float) >= StreamingBytes;
    for (int32_t y = 0; y < height; ++y) {
      const float* in = src->Group1(0, y);
      const float* other = Paired ? second->Group1(0, y) : in;
      float* out = dst->Group1(0, y);
      if (stream)
        GreyRow<true, Paired>(in, other, out, width, grey);
      else
        GreyRow<false, Paired>(in, other, out, width, grey);
    }
    if (stream) _mm_sfence();
    return;
  }
  // Further channels: each pass pixel is read into a record whose red,
  // green, blue and alpha are replaced, so the rest goes through unchanged.
  PixelCursor in(src), out(dst);
  PixelCursor other(Paired ? second : src);
  FltPixel px, otherPx;
  for (int32_t y = 0; y < height; ++y) {
    in.GotoRow(y);
    out.GotoRow(y);
    if constexpr (Paired) other.GotoRow(y);
    for (int32_t x = 0; x < width; ++x) {
      in.ReadPixel(px);
      float value;
      if constexpr (Paired) {
        other.ReadPixel(otherPx);
        value = Narrow(grey(RecordRgba(px), RecordRgba(otherPx)));
        other.NextPixel();
      } else {
        value = Narrow(grey(RecordRgba(px)));
      }
      px.R() = px.G() = px.B() = px.A() = value;
      out.WritePixel(px);
      in.NextPixel();
      out.NextPixel();
    }
  }
}

}  // namespace walk

// Walks a pass into a result made like it, rows outer, columns inner, and
// writes grey(pixel), narrowed to float, into red, green, blue and alpha of
// each result pixel; the pass's further channels go through unchanged.
// `grey` is generic: it is given an Rgba4<float> or, eight pixels at a time,
// an Rgba4<Floats8>, and returns the wide type of what it was given.
template <typename Grey>
void MapGrey(const Image* src, Image* dst, Grey&& grey) {
  walk::MapGrey<false>(src, nullptr, dst, grey);
}

// The same with a second image of the pass's size: grey(pixel, second pixel).
template <typename Grey>
void MapGreyPairs(const Image* src, const Image* second, Image* dst, Grey&& grey) {
  walk::MapGrey<true>(src, second, dst, grey);
}
