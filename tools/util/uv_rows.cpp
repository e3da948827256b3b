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

#include <cstring>
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

// Asks for the line `bytes` past p ahead of its use. The hardware's own
// fetching falls behind on rows that stream in beside a scatter or gather;
// a fetch past the end of an image is harmless, as a prefetch never faults.
HWY_INLINE void PrefetchAhead(const float* p, size_t bytes) {
  hwy::Prefetch(reinterpret_cast<const float*>(reinterpret_cast<uintptr_t>(p) + bytes));
}

// How far ahead the rows that stream are fetched.
constexpr size_t AheadBytes = 4096;

// --------------------------------------------------------------- unwrapper

inline float* PixelOf(std::byte* const* rows, int32_t x, int32_t y) {
  return reinterpret_cast<float*>(rows[y]) + 4 * size_t(x);
}

// Three rows of the source: the centre row and the rows above and beneath
// it (null at the first and last row).
struct SourceRows {
  const float *above, *here, *beneath;
};

// Source pixel x of the centre row averaged with its direct neighbours
// inside the image: the sum starts at the centre and takes the left, right,
// upper and lower neighbour in this order, in double precision.
HWY_INLINE void AveragedPixel(const SourceRows& rows, int32_t x, int32_t width, float* p) {
  const size_t at = 4 * size_t(x);
  double sum[4];
  for (int c = 0; c < 4; ++c) sum[c] = rows.here[at + c];
  int count = 1;
  auto add = [&](const float* q) {
    for (int c = 0; c < 4; ++c) sum[c] += q[c];
    ++count;
  };
  if (x >= 1) add(rows.here + at - 4);
  if (x + 1 < width) add(rows.here + at + 4);
  if (rows.above) add(rows.above + at);
  if (rows.beneath) add(rows.beneath + at);
  for (int c = 0; c < 4; ++c) p[c] = static_cast<float>(sum[c] / count);
}

// A pixel written at (xi, yi) of the result, and its neighbour to the right
// too when `pair`: the pixels of a block side by side share a line.
HWY_INLINE void Put(UnwrapTarget& out, int32_t xi, int32_t yi, const float* p, bool pair) {
  if (!out.Reached(yi)) out.Reach(yi);
  float* to = out.Row(yi) + 4 * size_t(xi);
  uint8_t* mark = out.Marks(yi) + xi;
  std::memcpy(to, p, 4 * sizeof(float));
  if (pair) std::memcpy(to + 4, p, 4 * sizeof(float));
  mark[0] = 1;
  if (pair) mark[1] = 1;
}

// Writes out the next part of the row leaving the unwrap's window, at most
// `floats` floats.
HWY_INLINE void WriteOutPart(UnwrapTarget& out, size_t floats) {
  const float* from;
  float* to;
  size_t count;
  if (out.NextLeaving(floats, from, to, count)) CopyFloats(from, to, count, out.Streams());
}

// The landing places are worked a register at a time and the pixels written
// there at once. The options are fixed for the whole row, and what the
// writes could alias is read into locals first.
template <bool Average, bool Block>
HWY_INLINE void UnwrapRowOf(const UnwrapRows& r, const float* coords, int32_t y) {
  const int32_t width = r.width, height = r.height;
  const UVOrientation orientation = r.orientation;
  UnwrapTarget& out = *r.out;
  const SourceRows rows = {y >= 1 ? PixelOf(r.in, 0, y - 1) : nullptr, PixelOf(r.in, 0, y),
                           y + 1 < height ? PixelOf(r.in, 0, y + 1) : nullptr};
  const double w = width, h = height;
  // Source pixel x to its landing place, and the rest of its block: the
  // four places are distinct and take the same value.
  auto place = [&](const float* p, const Landing& at) {
    Put(out, at.x, at.y, p, Block && at.right);
    if (Block && at.below) Put(out, at.x, at.y + 1, p, at.right);
  };

  int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const Doubles d;
  const Floats df;
  const hn::Rebind<int32_t, Doubles> di;
  const size_t n = hn::Lanes(d);
  const unsigned allLanes = (1u << n) - 1;
  const auto iota = hn::Iota(di, 0);
  const DoubleVec zero = hn::Zero(d), one = hn::Set(d, 1.0);
  const DoubleVec widthVec = hn::Set(d, w), heightVec = hn::Set(d, h);
  const DoubleVec lastColumn = hn::Sub(widthVec, one), lastRow = hn::Sub(heightVec, one);
  // A register of pixels away from the first and last column has all the
  // neighbours of the middle rows (the centre, left and right) and those of
  // the rows above and beneath that there are.
  const DoubleVec count = hn::Set(d, 3.0 + (rows.above ? 1 : 0) + (rows.beneath ? 1 : 0));
  HWY_ALIGN int32_t columns[hn::MaxLanes(d)], landingRows[hn::MaxLanes(d)];
  HWY_ALIGN float averaged[4 * hn::MaxLanes(d)];
  // The source row read for the first time: the one beneath when averaging.
  const float* newest = Average && rows.beneath ? rows.beneath : rows.here;
  for (; x + int32_t(n) <= width; x += int32_t(n)) {
    WriteOutPart(out, 8 * n);
    for (size_t line = 0; line < 4 * n * sizeof(float); line += 64) {
      PrefetchAhead(coords + 4 * x, AheadBytes + line);
      PrefetchAhead(newest + 4 * x, AheadBytes + line);
    }
    DoubleVec u, v;
    ReadUV(orientation, LoadPixels(coords + 4 * x), u, v);
    DoubleVec px = hn::Mul(u, widthVec), py = hn::Mul(v, heightVec);
    px = hn::IfThenElse(px < zero, zero, hn::IfThenElse(px >= widthVec, lastColumn, px));
    py = hn::IfThenElse(py < zero, zero, hn::IfThenElse(py >= heightVec, lastRow, py));
    const DoubleMask named = hn::And(px == px, py == py);
    if (hn::AllFalse(d, named)) continue;
    // Not a number is taken to 0 before the conversion, and then skipped.
    const auto cols = hn::DemoteTo(di, hn::IfThenElseZero(px == px, px));
    const auto rws = hn::DemoteTo(di, hn::IfThenElseZero(py == py, py));
    hn::Store(cols, di, columns);
    hn::Store(rws, di, landingRows);
    const unsigned namedBits = BitsOf(d, named);
    const unsigned right = BitsOf(d, hn::Add(px, one) < widthVec);
    const unsigned below = BitsOf(d, hn::Add(py, one) < heightVec);

    const float* pixels = rows.here + 4 * size_t(x);
    if (Average) {
      if (x >= 1 && x + int32_t(n) < width) {
        // Every pixel of the register has both neighbours in the row: the
        // averages are worked on the row's floats in a line, each float's
        // neighbours 4 floats to either side, in the order and precision
        // of AveragedPixel.
        for (size_t k = 0; k < 4; ++k) {
          const float* at = pixels + k * n;
          DoubleVec sum = Widen(hn::LoadU(df, at));
          sum = hn::Add(sum, Widen(hn::LoadU(df, at - 4)));
          sum = hn::Add(sum, Widen(hn::LoadU(df, at + 4)));
          const size_t offset = 4 * size_t(x) + k * n;
          if (rows.above) sum = hn::Add(sum, Widen(hn::LoadU(df, rows.above + offset)));
          if (rows.beneath) sum = hn::Add(sum, Widen(hn::LoadU(df, rows.beneath + offset)));
          hn::Store(Narrow(hn::Div(sum, count)), df, averaged + k * n);
        }
      } else {
        for (size_t i = 0; i < n; ++i) AveragedPixel(rows, x + int32_t(i), width, averaged + 4 * i);
      }
      pixels = averaged;
    }

    // A run: the register lands on consecutive places of one row, as where
    // the UV pass is smooth. Its writes reach distinct places but those of
    // its blocks, where the later pixel's own write covers the earlier's
    // right neighbour; so the run is written as one line of pixels, the
    // last one repeated to its right for a block, and the same line beneath.
    bool run = namedBits == allLanes && hn::AllTrue(di, rws == hn::Set(di, landingRows[0])) &&
               hn::AllTrue(di, cols == hn::Add(hn::Set(di, columns[0]), iota));
    if (Block) run = run && right == allLanes && (below == allLanes || below == 0);
    if (run) {
      auto line = [&](int32_t yi) {
        if (!out.Reached(yi)) out.Reach(yi);
        float* to = out.Row(yi) + 4 * size_t(columns[0]);
        for (size_t k = 0; k < 4; ++k) hn::StoreU(hn::LoadU(df, pixels + k * n), df, to + k * n);
        if (Block) std::memcpy(to + 4 * n, pixels + 4 * (n - 1), 4 * sizeof(float));
        std::memset(out.Marks(yi) + columns[0], 1, Block ? n + 1 : n);
      };
      line(landingRows[0]);
      if (Block && below) line(landingRows[0] + 1);
      continue;
    }
    for (size_t i = 0; i < n; ++i)
      if ((namedBits >> i) & 1)
        place(pixels + 4 * i,
              {columns[i], landingRows[i], ((right >> i) & 1) != 0, ((below >> i) & 1) != 0});
  }
#endif
  for (coords += 4 * x; x < width; ++x, coords += 4) {
    Landing at;
    if (!LandingOf(orientation, coords[ChanR], coords[ChanG], w, h, at)) continue;
    float p[4];
    if (Average)
      AveragedPixel(rows, x, width, p);
    else
      std::memcpy(p, rows.here + 4 * size_t(x), sizeof p);
    place(p, at);
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
  x = 0;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX2
  // A register of floats holds several pixels: their samples are put side
  // by side, and each pixel's alpha spread over its own four lanes.
  const WideFloats dw;
  const hn::Half<WideFloats> dh;
  const auto wideZero = hn::Zero(dw);
  for (; x + 4 <= width; x += 4, coords += 16, out += 16) {
    for (int32_t i = 0; i < 4; ++i)
      if (x + i < prefetched) hwy::Prefetch(sources[x + i + Ahead]);
#if HWY_TARGET == HWY_AVX3
    const hn::Half<decltype(dh)> dq;
    const auto samples = hn::Combine(
        dw, hn::Combine(dh, hn::LoadU(dq, sources[x + 3]), hn::LoadU(dq, sources[x + 2])),
        hn::Combine(dh, hn::LoadU(dq, sources[x + 1]), hn::LoadU(dq, sources[x])));
    const auto a = hn::Broadcast<3>(hn::LoadU(dw, coords));
    hn::StoreU(hn::IfThenZeroElse(a == wideZero, hn::Mul(samples, a)), dw, out);
#else
    for (int32_t half = 0; half < 2; ++half) {
      const auto samples = hn::Combine(dw, hn::LoadU(dh, sources[x + 2 * half + 1]),
                                       hn::LoadU(dh, sources[x + 2 * half]));
      const auto a = hn::Broadcast<3>(hn::LoadU(dw, coords + 8 * half));
      hn::StoreU(hn::IfThenZeroElse(a == wideZero, hn::Mul(samples, a)), dw, out + 8 * half);
    }
#endif
  }
#endif
  for (; x < width; ++x, coords += 4, out += 4) {
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

UnwrapTarget::UnwrapTarget(std::byte* const* rows, int32_t width, int32_t height, bool stream)
    : out_(rows),
      width_(width),
      height_(height),
      stream_(stream),
      target_(size_t(height), nullptr),
      marks_(size_t(height), nullptr),
      inWindow_(size_t(height), 0),
      window_(new float[size_t(WindowRows + 1) * 4 * size_t(width)]),
      windowMarks_(new uint8_t[size_t(WindowRows + 1) * size_t(width)]),
      ignored_(new uint8_t[size_t(width) + 1]) {
  for (int32_t y = 0; y < WindowRows && y < height; ++y) Open(y);
}

// Row y into the window, in the place of the row WindowRows + 1 above it:
// one place more than the window's rows, for the row that is leaving.
void UnwrapTarget::Open(int32_t y) {
  if (target_[size_t(y)]) return;  // written in place
  const size_t slot = size_t(y % (WindowRows + 1));
  target_[size_t(y)] = window_.get() + slot * 4 * size_t(width_);
  marks_[size_t(y)] = windowMarks_.get() + slot * size_t(width_);
  inWindow_[size_t(y)] = 1;
  std::memset(marks_[size_t(y)], 0, size_t(width_));
}

// Row y done: the pixels no write reached cleared, the window's row written
// out, and any later write to it made in place.
void UnwrapTarget::Close(int32_t y) {
  // The row that left before this one is out before its place is opened
  // again.
  FinishLeaving();
  float* row = target_[size_t(y)];
  const uint8_t* written = marks_[size_t(y)];
  const float zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  int32_t x = 0;
  for (; x + 8 <= width_; x += 8) {
    uint64_t eight;
    std::memcpy(&eight, written + x, sizeof eight);
    if (eight == 0x0101010101010101ull) continue;
    for (int i = 0; i < 8; ++i)
      if (!written[x + i]) std::memcpy(row + 4 * (x + i), zero, sizeof zero);
  }
  for (; x < width_; ++x)
    if (!written[x]) std::memcpy(row + 4 * x, zero, sizeof zero);
  marks_[size_t(y)] = ignored_.get();
  if (!inWindow_[size_t(y)]) return;
  inWindow_[size_t(y)] = 0;
  leavingRow_ = y;
  leavingFrom_ = row;
  leavingTo_ = leavingRowStart_ = reinterpret_cast<float*>(out_[y]);
  leftFloats_ = 4 * size_t(width_);
  // A write to the leaving row waits for the rest of it to be written out.
  target_[size_t(y)] = leftFloats_ ? nullptr : leavingRowStart_;
}

void UnwrapTarget::FinishLeaving() {
  const float* from;
  float* to;
  size_t count;
  if (NextLeaving(leftFloats_, from, to, count)) kernels::CopyPixels(from, to, count, stream_);
}

void UnwrapTarget::Reach(int32_t y) {
  if (y == leavingRow_ && leftFloats_ > 0) return FinishLeaving();
  if (y < first_ + 2 * WindowRows) {
    // Near: the window moves on, a row at a time.
    while (y >= first_ + WindowRows) {
      Close(first_++);
      if (first_ + WindowRows - 1 < height_) Open(first_ + WindowRows - 1);
    }
    return;
  }
  if (!inPlaceMarks_) inPlaceMarks_.reset(new uint8_t[size_t(width_) * size_t(height_)]);
  target_[size_t(y)] = reinterpret_cast<float*>(out_[y]);
  marks_[size_t(y)] = inPlaceMarks_.get() + size_t(y) * size_t(width_);
  std::memset(marks_[size_t(y)], 0, size_t(width_));
}

void UnwrapTarget::Finish() {
  while (first_ < height_) {
    Close(first_++);
    if (first_ + WindowRows - 1 < height_) Open(first_ + WindowRows - 1);
  }
  FinishLeaving();
  if (stream_) kernels::FinishStreaming();
}

void PlaceRow(SampleMode mode, const Placement& at, const TextureRows& texture, const float* coords,
              float* out, int32_t width, const float** sources) {
  uvrows::Place(mode, at, texture, coords, out, width, sources);
}
#endif  // HWY_ONCE
