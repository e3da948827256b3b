// The rows of the UV tools, at every CPU level: the landing places of the
// unwrapper's scatter and the texture places of the positioner's gather,
// a register of pixels at a time, in double precision with the operations
// of the plain rules in tools/util/uv.h in the same order (so the same
// places); the pixels after the last whole register follow the rules
// themselves.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/util/uv_rows.cpp"
#include <hwy/cache_control.h>
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <utility>

#include "frame/kernels-inl.h"
#include "tools/util/uv.h"

HWY_BEFORE_NAMESPACE();
namespace uvrows {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

// The red and green of Step() UV pixels as (u, v), swapped and flipped.
HWY_INLINE void ReadUV(const UVOrientation& orientation, const Rgba<FloatVec>& p, DoubleVec& u,
                       DoubleVec& v) {
  FloatVec red = p.r, green = p.g;
  if (orientation.swap) std::swap(red, green);
  u = Widen(red);
  v = Widen(green);
  const DoubleVec one = hn::Set(Doubles(), 1.0);
  if (orientation.flipX) u = hn::Sub(one, u);
  if (orientation.flipY) v = hn::Sub(one, v);
}

// The bits of a mask of at most eight lanes, lane i at bit i.
template <class D>
HWY_INLINE unsigned BitsOf(D d, hn::Mask<D> mask) {
  uint8_t bits[8] = {};
  hn::StoreMaskBits(d, mask, bits);
  return bits[0];
}

// --------------------------------------------------------------- unwrapper

inline float* PixelOf(std::byte* const* rows, int32_t x, int32_t y) {
  return reinterpret_cast<float*>(rows[y]) + 4 * size_t(x);
}

// Source pixel x of row y, averaged with its direct neighbours inside the
// image when asked: the sum starts at the centre and takes the left, right,
// upper and lower neighbour in this order, in double precision.
template <bool Average>
HWY_INLINE void SourcePixel(const UnwrapRows& r, int32_t x, int32_t y, float (&p)[4]) {
  const float* at = PixelOf(r.in, x, y);
  std::memcpy(p, at, sizeof p);
  if (!Average) return;
  double sum[4] = {p[0], p[1], p[2], p[3]};
  int count = 1;
  auto add = [&](const float* q) {
    for (int c = 0; c < 4; ++c) sum[c] += q[c];
    ++count;
  };
  if (x >= 1) add(at - 4);
  if (x + 1 < r.width) add(at + 4);
  if (y >= 1) add(PixelOf(r.in, x, y - 1));
  if (y + 1 < r.height) add(PixelOf(r.in, x, y + 1));
  for (int c = 0; c < 4; ++c) p[c] = static_cast<float>(sum[c] / count);
}

// The landing places are worked a register at a time and the pixels written
// there at once, so that the UV pass, the source and the result all stream.
template <bool Average, bool Block>
HWY_INLINE void UnwrapRowOf(const UnwrapRows& r, const float* coords, int32_t y) {
  const double w = r.width, h = r.height;
  // Source pixel x of the row to its landing place, and the rest of its
  // block: the four places are distinct and take the same value.
  auto place = [&](int32_t x, const Landing& at) {
    float p[4];
    SourcePixel<Average>(r, x, y, p);
    auto put = [&](int32_t xi, int32_t yi) {
      std::memcpy(PixelOf(r.out, xi, yi), p, sizeof p);
      r.written[size_t(yi) * size_t(r.width) + size_t(xi)] = 1;
    };
    put(at.x, at.y);
    if (Block) {
      if (at.right) put(at.x + 1, at.y);
      if (at.below) put(at.x, at.y + 1);
      if (at.right && at.below) put(at.x + 1, at.y + 1);
    }
  };

  int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const Doubles d;
  const hn::Rebind<int32_t, Doubles> di;
  const size_t n = hn::Lanes(d);
  const DoubleVec zero = hn::Zero(d), one = hn::Set(d, 1.0);
  const DoubleVec width = hn::Set(d, w), height = hn::Set(d, h);
  const DoubleVec lastColumn = hn::Sub(width, one), lastRow = hn::Sub(height, one);
  HWY_ALIGN int32_t columns[hn::MaxLanes(d)], rows[hn::MaxLanes(d)];
  HWY_ALIGN double flags[3][hn::MaxLanes(d)];
  for (; x + int32_t(n) <= r.width; x += int32_t(n)) {
    DoubleVec u, v;
    ReadUV(r.orientation, LoadPixels(coords + 4 * x), u, v);
    DoubleVec px = hn::Mul(u, width), py = hn::Mul(v, height);
    px = hn::IfThenElse(px < zero, zero, hn::IfThenElse(px >= width, lastColumn, px));
    py = hn::IfThenElse(py < zero, zero, hn::IfThenElse(py >= height, lastRow, py));
    const DoubleMask named = hn::And(px == px, py == py);
    if (hn::AllFalse(d, named)) continue;
    // Not a number is taken to 0 before the conversion, and then skipped.
    hn::Store(hn::DemoteTo(di, hn::IfThenElseZero(px == px, px)), di, columns);
    hn::Store(hn::DemoteTo(di, hn::IfThenElseZero(py == py, py)), di, rows);
    hn::Store(hn::IfThenElseZero(named, one), d, flags[0]);
    hn::Store(hn::IfThenElseZero(hn::Add(px, one) < width, one), d, flags[1]);
    hn::Store(hn::IfThenElseZero(hn::Add(py, one) < height, one), d, flags[2]);
    for (size_t i = 0; i < n; ++i)
      if (flags[0][i] != 0.0)
        place(x + int32_t(i), {columns[i], rows[i], flags[1][i] != 0.0, flags[2][i] != 0.0});
  }
#endif
  for (coords += 4 * x; x < r.width; ++x, coords += 4) {
    Landing at;
    if (LandingOf(r.orientation, coords[ChanR], coords[ChanG], w, h, at)) place(x, at);
  }
}

void UnwrapRowAt(const UnwrapRows& r, const float* coords, int32_t y) {
  if (r.average) {
    if (r.block)
      UnwrapRowOf<true, true>(r, coords, y);
    else
      UnwrapRowOf<true, false>(r, coords, y);
  } else {
    if (r.block)
      UnwrapRowOf<false, true>(r, coords, y);
    else
      UnwrapRowOf<false, false>(r, coords, y);
  }
}

// -------------------------------------------------------------- positioner

// A row in two passes. First the sources of the row, a register of pixels
// at a time (a repeating texture reached past the fixed-point range takes
// the one-pixel rule, which brings it back by whole repeats). Then the
// samples, each fetched well ahead of its use: the texture is read wherever
// the UV pass points, and waiting for each read in turn costs more than all
// the arithmetic. (Writing the result past the cache, as a large copy does,
// was slower here: the streaming stores wait on the texture reads.)
//
// Every source is a pixel that can be read: off the surface (alpha 0) it is
// the zero pixel, whose weighted value the second pass drops for +0. So the
// second pass has no branch.
template <SampleMode Mode>
HWY_INLINE void PlaceRowOf(const Placement& at, const TextureRows& texture, const float* coords,
                           float* out, int32_t width, const float** sources) {
  int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const std::byte* const* const rowTable = texture.rows;
  const int32_t texWidthPixels = texture.width, texHeightPixels = texture.height;
  const Doubles d;
  const Floats df;
  const hn::Rebind<int32_t, Doubles> di;
  const size_t n = hn::Lanes(d);
  const DoubleVec xOffset = hn::Set(d, at.xOffset), yOffset = hn::Set(d, at.yOffset);
  const DoubleVec uScale = hn::Set(d, at.uScale), vScale = hn::Set(d, at.vScale);
  const DoubleVec texWidth = hn::Set(d, at.width), texHeight = hn::Set(d, at.height);
  // The whole pixel of a position, as WholePixelFixed(p) >> 16 gives it:
  // truncated toward zero within -32768 to 32767, not a number at -32768.
  const DoubleVec lowest = hn::Set(d, -32768.0), highest = hn::Set(d, 32767.0);
  auto wholePixels = [&](DoubleVec p) {
    p = hn::IfThenElse(p > lowest, p, lowest);
    return hn::DemoteTo(di, hn::IfThenElse(p < highest, p, highest));
  };
  const auto zeroIndex = hn::Zero(di);
  const auto columnCount = hn::Set(di, texWidthPixels), rowCount = hn::Set(di, texHeightPixels);
  const auto lastColumn = hn::Set(di, texWidthPixels - 1),
             lastRow = hn::Set(di, texHeightPixels - 1);
  // A whole pixel in the texture repeated, as TextureRows::Wrapped gives it,
  // for the places at most one repeat out (from -size up to twice the size):
  // a whole repeat added or taken away. Lanes further out take the rule.
  auto wrapOnce = [&](hn::Vec<decltype(di)> v, hn::Vec<decltype(di)> size, bool& near) {
    const auto below = v < zeroIndex, past = hn::Not(v < size);
    near = hn::AllTrue(di, hn::AndNot(v < hn::Neg(size), v < hn::Add(size, size)));
    return hn::IfThenElse(below, hn::Add(v, size), hn::IfThenElse(past, hn::Sub(v, size), v));
  };
  HWY_ALIGN int32_t columns[hn::MaxLanes(d)], rows[hn::MaxLanes(d)];
  for (const float* c = coords; x + int32_t(n) <= width; x += int32_t(n), c += 4 * n) {
    // A register the rows leave to the one-pixel rule.
    auto byRule = [&] {
      for (size_t i = 0; i < n; ++i) {
        const float* from = SourceOf<Mode>(at, texture, c + 4 * i);
        sources[x + i] = from ? from : TextureRows::Zero;
      }
    };
    const Rgba<FloatVec> p = LoadPixels(c);
    DoubleVec u, v;
    ReadUV(at.orientation, p, u, v);
    const DoubleVec px = hn::Mul(hn::Mul(hn::Add(u, xOffset), uScale), texWidth);
    const DoubleVec py = hn::Mul(hn::Mul(hn::Add(v, yOffset), vScale), texHeight);
    if constexpr (Mode == SampleMode::Wrap) {
      const DoubleVec low = hn::Set(d, -32769.0), high = hn::Set(d, 32768.0);
      const DoubleMask inside = hn::And(hn::And(px > low, px < high), hn::And(py > low, py < high));
      if (!hn::AllTrue(d, inside)) {
        byRule();
        continue;
      }
    }
    auto cols = wholePixels(px), rws = wholePixels(py);
    // Lanes whose sample is read from the texture: on the surface, and for
    // a black outside, inside the texture.
    unsigned read = ~BitsOf(df, p.a == hn::Zero(df));
    if constexpr (Mode == SampleMode::Wrap) {
      bool nearColumns, nearRows;
      cols = wrapOnce(cols, columnCount, nearColumns);
      rws = wrapOnce(rws, rowCount, nearRows);
      if (!nearColumns || !nearRows) {
        byRule();
        continue;
      }
    } else {
      // The edge extended, and for a black outside a place inside that the
      // lanes outside do not read: clamped at once, with no branch that
      // depends on where each place falls.
      const auto clampedCols = hn::Min(hn::Max(cols, zeroIndex), lastColumn);
      const auto clampedRows = hn::Min(hn::Max(rws, zeroIndex), lastRow);
      if constexpr (Mode == SampleMode::Black)
        read &= BitsOf(di, hn::And(clampedCols == cols, clampedRows == rws));
      cols = clampedCols;
      rws = clampedRows;
    }
    hn::Store(cols, di, columns);
    hn::Store(rws, di, rows);
    for (size_t i = 0; i < n; ++i) {
      const float* from =
          reinterpret_cast<const float*>(rowTable[rows[i]]) + 4 * size_t(uint32_t(columns[i]));
      sources[x + i] = (read >> i) & 1 ? from : TextureRows::Zero;
    }
  }
#endif
  for (; x < width; ++x) {
    const float* from = SourceOf<Mode>(at, texture, coords + 4 * x);
    sources[x] = from ? from : TextureRows::Zero;
  }

  constexpr int32_t Ahead = 128;
  int32_t prefetched = width - Ahead;
#if HWY_TARGET != HWY_SCALAR
  const OnePixel px;
  const auto zero = hn::Zero(px);
  for (x = 0; x < width; ++x, coords += 4, out += 4) {
    if (x < prefetched) hwy::Prefetch(sources[x + Ahead]);
    const auto a = hn::Set(px, coords[ChanA]);
    hn::StoreU(hn::IfThenZeroElse(a == zero, hn::Mul(hn::LoadU(px, sources[x]), a)), px, out);
  }
#else
  for (x = 0; x < width; ++x, coords += 4, out += 4) {
    if (x < prefetched) hwy::Prefetch(sources[x + Ahead]);
    const float a = coords[ChanA];
    for (int c = 0; c < 4; ++c) out[c] = a != 0.0f ? sources[x][c] * a : 0.0f;
  }
#endif
}

void PlaceRowAt(SampleMode mode, const Placement& at, const TextureRows& texture,
                const float* coords, float* out, int32_t width, const float** sources) {
  switch (mode) {
    case SampleMode::Black:
      return PlaceRowOf<SampleMode::Black>(at, texture, coords, out, width, sources);
    case SampleMode::Wrap:
      return PlaceRowOf<SampleMode::Wrap>(at, texture, coords, out, width, sources);
    default:
      return PlaceRowOf<SampleMode::Duplicate>(at, texture, coords, out, width, sources);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace uvrows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace uvrows {
HWY_EXPORT(UnwrapRowAt);
HWY_EXPORT(PlaceRowAt);

void Unwrap(const UnwrapRows& r, const float* coords, int32_t y) {
  KernelCall(UnwrapRowAt)(r, coords, y);
}
void Place(SampleMode mode, const Placement& at, const TextureRows& texture, const float* coords,
           float* out, int32_t width, const float** sources) {
  KernelCall(PlaceRowAt)(mode, at, texture, coords, out, width, sources);
}
}  // namespace uvrows

void UnwrapRow(const UnwrapRows& r, const float* coords, int32_t y) {
  uvrows::Unwrap(r, coords, y);
}

void PlaceRow(SampleMode mode, const Placement& at, const TextureRows& texture, const float* coords,
              float* out, int32_t width, const float** sources) {
  uvrows::Place(mode, at, texture, coords, out, width, sources);
}
#endif  // HWY_ONCE
