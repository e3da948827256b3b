// The dirty depth of field's rows, at every CPU level: a register of
// adjacent pixels at a time, one pixel per double lane, each lane walking the
// pattern of samples as RenderPixel does. A sample's row is the same for
// every lane, so its distance in y, its depth row and its source row are
// worked out once per row; the columns, the distance, the depth pixel read
// and the lent colour are each lane's own. Every lane adds its floats and
// its weight in the order of the plain loop, with the same operations, so
// every pixel gets the plain loop's bits. The levels without wide vectors
// leave the whole row to the plain loop.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tools/dof/DirtyDof_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <algorithm>
#include <cstdint>
#include <vector>

#include "frame/kernels-inl.h"
#include "tools/dof/blur_support.h"
#include "tools/dof/rules.h"

HWY_BEFORE_NAMESPACE();
namespace dof {
namespace HWY_NAMESPACE {
using namespace kernels::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
using Columns = hn::Rebind<int32_t, Doubles>;
using ColumnVec = hn::Vec<Columns>;

// A sample of the pattern seen from one row: what does not depend on the
// pixel's column.
struct RowSample {
  double dx;
  double dySquared;      // (y - sy) * (y - sy)
  const float* colour;   // the source row it reads
  const double* radius;  // the depth row it reads
  const float* depth;
};

// The lanes of a float register where a double mask is set.
HWY_INLINE FloatMask ToFloatMask(DoubleMask m) {
#if HWY_TARGET == HWY_AVX3
  return FloatMask{m.raw};  // both are one bit per lane
#else
  const Columns di;
  const ColumnVec set = hn::DemoteTo(di, hn::IfThenElseZero(m, hn::Set(Doubles(), 1.0)));
  return hn::RebindMask(Floats(), hn::Ne(set, hn::Zero(di)));
#endif
}

// EdgeIndex for every lane: positions below 1 (and not a number) give 0,
// those at or past `last` give `last`, the rest are truncated.
HWY_INLINE ColumnVec EdgeColumns(DoubleVec pos, DoubleVec last) {
  const Doubles d;
  const DoubleVec inside = hn::IfThenElseZero(hn::Ge(pos, hn::Set(d, 1.0)), pos);
  return hn::DemoteTo(Columns(), hn::IfThenElse(hn::Ge(inside, last), last, inside));
}

// Whether the columns are first, first + 1, ...: then the pixels they read
// are loaded side by side rather than gathered one by one. (Iota from 0 is a
// constant; from a variable start this Highway builds it in memory.)
HWY_INLINE bool SideBySide(ColumnVec columns, int32_t first) {
  const Columns di;
  return hn::AllTrue(di, hn::Eq(hn::Sub(columns, hn::Set(di, first)), hn::Iota(di, 0)));
}

// The pixels of a row are rendered a tile of columns at a time, sample by
// sample over the whole tile: each sample then reads its depth and source
// rows from left to right, which the caches fetch ahead, where a register
// at a time over all samples would jump between rows at every sample. Each
// pixel still takes its samples in the pattern's order.
constexpr int32_t TilePixels = 256;

// What a tile's pixels carry from sample to sample, lane by lane.
struct Tile {
  HWY_ALIGN float centre[4][TilePixels];
  HWY_ALIGN float sum[4][TilePixels];
  HWY_ALIGN double weight[TilePixels];
  HWY_ALIGN double zc[TilePixels];  // |z| of the pixel
};

// The zone of sharpness, and which pass a pixel runs with which test: the
// zones are tested as RenderPixel tests them, so a pixel in front runs the
// pass that takes any depth and, behind an unbounded far limit as well, a
// second pass on the next offsets that takes nearer samples only.
struct Zones {
  DoubleVec nearLimit, farLimit;

  HWY_INLINE DoubleMask Front(DoubleVec zc) const { return hn::Lt(zc, nearLimit); }
  HWY_INLINE DoubleMask FirstPass(DoubleVec zc) const {
    const DoubleMask sharp = hn::And(hn::Le(nearLimit, zc), hn::Le(zc, farLimit));
    return hn::Or(sharp, hn::Or(Front(zc), hn::Gt(zc, farLimit)));
  }
  HWY_INLINE DoubleMask SecondPass(DoubleVec zc) const {
    return hn::And(Front(zc), hn::Gt(zc, farLimit));
  }
};

enum class Pass { First, Second };

// Where a sample's columns fall in the depth pass and in the source.
struct Reach {
  DoubleVec lastDepth, lastSource;
  bool sameWidth;
};

// One sample for the tile's pixels `pixels` wide from `x`: every lane that
// runs the pass (every lane when not Partial) adds the sample's colour if it
// lends, else its centre's, and the weight.
template <Pass Which, bool Partial>
HWY_INLINE void TakeSample(const RowSample& s, int32_t x, int32_t pixels, const Zones& zones,
                           const Reach& reach, Tile& t) {
  const Doubles d;
  const Floats df;
  const hn::Rebind<int64_t, Doubles> di64;
  const int32_t n = hn::Lanes(d);
  const DoubleVec dx = hn::Set(d, s.dx), dySquared = hn::Set(d, s.dySquared);
  DoubleVec column = hn::Add(hn::Set(d, double(x)), hn::Iota(d, 0.0));
  const DoubleVec step = hn::Set(d, double(n));
  for (int32_t g = 0; g < pixels; g += n, column = hn::Add(column, step)) {
    const DoubleVec zc = hn::Load(d, t.zc + g);
    const DoubleMask active = Which == Pass::First ? zones.FirstPass(zc) : zones.SecondPass(zc);
    if (Partial && hn::AllFalse(d, active)) continue;
    const DoubleVec sx = hn::Add(dx, column);
    const DoubleVec toSample = hn::Sub(column, sx);
    const DoubleVec distance = hn::Sqrt(hn::Add(dySquared, hn::Mul(toSample, toSample)));
    const ColumnVec depthColumn = EdgeColumns(sx, reach.lastDepth);
    const int32_t depthFirst = hn::GetLane(depthColumn);
    const bool depthInRow = SideBySide(depthColumn, depthFirst);
    DoubleVec radius, depth;
    if (depthInRow) {
      radius = hn::LoadU(d, s.radius + depthFirst);
      depth = Widen(hn::LoadU(df, s.depth + depthFirst));
    } else {
      radius = hn::GatherIndex(d, s.radius, hn::PromoteTo(di64, depthColumn));
      depth = Widen(hn::GatherIndex(df, s.depth, depthColumn));
    }
    const DoubleMask closer = hn::Le(zc, depth);
    const DoubleMask refused =
        Which == Pass::First ? hn::AndNot(zones.Front(zc), closer) : closer;  // nearer only
    const DoubleMask lends = hn::AndNot(refused, hn::Gt(radius, distance));
    // The colours are read whether or not a lane takes them: a branch on
    // the test would wait for the square root.
    const ColumnVec sourceColumn =
        reach.sameWidth ? depthColumn : EdgeColumns(sx, reach.lastSource);
    const int32_t first = reach.sameWidth ? depthFirst : hn::GetLane(sourceColumn);
    FloatVec p[4];
    if (reach.sameWidth ? depthInRow : SideBySide(sourceColumn, first)) {
      const Rgba<FloatVec> q = LoadPixels(s.colour + 4 * int64_t(first));
      p[ChanB] = q.b, p[ChanG] = q.g, p[ChanR] = q.r, p[ChanA] = q.a;
    } else {
      const ColumnVec at = hn::ShiftLeft<2>(sourceColumn);
      for (int c = 0; c < 4; ++c) p[c] = hn::GatherIndex(df, s.colour + c, at);
    }
    const FloatMask lendsF = ToFloatMask(lends);
    for (int c = 0; c < 4; ++c) p[c] = hn::IfThenElse(lendsF, p[c], hn::Load(df, t.centre[c] + g));
    const DoubleVec alpha = Widen(p[ChanA]);
    const DoubleVec gain = hn::IfThenElseZero(hn::Gt(alpha, hn::Zero(d)), alpha);
    const FloatMask activeF = ToFloatMask(active);
    for (int c = 0; c < 4; ++c) {
      const FloatVec sum = hn::Load(df, t.sum[c] + g);
      const FloatVec added = hn::Add(sum, p[c]);
      hn::Store(Partial ? hn::IfThenElse(activeF, added, sum) : added, df, t.sum[c] + g);
    }
    const DoubleVec weight = hn::Load(d, t.weight + g);
    const DoubleVec added = hn::Add(weight, gain);
    hn::Store(Partial ? hn::IfThenElse(active, added, weight) : added, d, t.weight + g);
  }
}

// One pass of `count` samples over the tile, for the pixels that run it.
template <Pass Which>
HWY_INLINE void RunPass(const RowSample* samples, int32_t count, int32_t x, int32_t pixels,
                        const Zones& zones, const Reach& reach, Tile& t) {
  const Doubles d;
  bool any = false, all = true;
  for (int32_t g = 0; g < pixels; g += int32_t(hn::Lanes(d))) {
    const DoubleVec zc = hn::Load(d, t.zc + g);
    const DoubleMask active = Which == Pass::First ? zones.FirstPass(zc) : zones.SecondPass(zc);
    any = any || !hn::AllFalse(d, active);
    all = all && hn::AllTrue(d, active);
  }
  if (!any) return;
  for (int32_t i = 0; i < count; ++i) {
    if (all)
      TakeSample<Which, false>(samples[i], x, pixels, zones, reach, t);
    else
      TakeSample<Which, true>(samples[i], x, pixels, zones, reach, t);
  }
}
#endif

int32_t DirtyDofRowAt(const DirtyRows& r, int32_t y, int32_t x0, int32_t x1, float* out) {
#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
  // No wide vectors: the plain loop takes the whole row.
  (void)r, (void)y, (void)x1, (void)out;
  return x0;
#else
  const Doubles d;
  const Floats df;
  const int32_t n = hn::Lanes(d);
  // Columns are gathered with 32-bit indices four floats to a pixel.
  if (int64_t(r.width) * 4 > INT32_MAX) return x0;

  const int32_t count = r.sampleCount > 0 ? r.sampleCount : 0;
  std::vector<RowSample> samples(2 * size_t(count));
  for (size_t i = 0; i < samples.size(); ++i) {
    const SampleOffset o = r.pattern[i];
    const double sy = o.dy + y;
    const int64_t depthRow = int64_t(EdgeIndex(sy, r.depthHeight)) * r.depthWidth;
    samples[i] = {o.dx, (y - sy) * (y - sy),
                  reinterpret_cast<const float*>(r.source[EdgeIndex(sy, r.height)]),
                  r.radius + depthRow, r.depth + depthRow};
  }
  const float* centres = reinterpret_cast<const float*>(r.source[y]);
  const float* ownDepth = r.depth + int64_t(EdgeIndex(int64_t(y), r.depthHeight)) * r.depthWidth;
  const Zones zones{hn::Set(d, r.nearLimit), hn::Set(d, r.farLimit)};
  const Reach reach{hn::Set(d, double(r.depthWidth - 1)), hn::Set(d, double(r.width - 1)),
                    r.width == r.depthWidth};

  const int32_t whole = x0 + (x1 - x0) / n * n;
  out -= 4 * int64_t(x0);  // indexed by column below
  Tile t;
  for (int32_t x = x0; x < whole; x += TilePixels) {
    const int32_t pixels = std::min(TilePixels, whole - x);
    for (int32_t g = 0; g < pixels; g += n) {
      const Rgba<FloatVec> centre = LoadPixels(centres + 4 * int64_t(x + g));
      const FloatVec channels[4] = {centre.b, centre.g, centre.r, centre.a};
      static_assert(ChanB == 0 && ChanG == 1 && ChanR == 2 && ChanA == 3);
      for (int c = 0; c < 4; ++c) {
        hn::Store(channels[c], df, t.centre[c] + g);
        hn::Store(channels[c], df, t.sum[c] + g);
      }
      hn::Store(hn::Add(Widen(centre.a), hn::Zero(d)), d, t.weight + g);
      HWY_ALIGN float zc[hn::MaxLanes(Floats())];
      for (int32_t j = 0; j < n; ++j) zc[j] = ownDepth[EdgeIndex(int64_t(x) + g + j, r.depthWidth)];
      hn::Store(Widen(hn::Load(df, zc)), d, t.zc + g);
    }
    RunPass<Pass::First>(samples.data(), count, x, pixels, zones, reach, t);
    RunPass<Pass::Second>(samples.data() + count, count, x, pixels, zones, reach, t);
    for (int32_t g = 0; g < pixels; g += n) {
      const DoubleVec weight = hn::Load(d, t.weight + g);
      const FloatMask divides = ToFloatMask(hn::Gt(weight, hn::Zero(d)));
      FloatVec result[4];
      for (int c = 0; c < 4; ++c) {
        const FloatVec sum = hn::Load(df, t.sum[c] + g);
        result[c] = hn::IfThenElse(divides, Narrow(hn::Div(Widen(sum), weight)), sum);
      }
      StorePixels<false>({result[ChanR], result[ChanG], result[ChanB], result[ChanA]},
                         out + 4 * int64_t(x + g));
    }
  }
  return whole;
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace dof
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "frame/kernels.h"

namespace dof {
HWY_EXPORT(DirtyDofRowAt);

int32_t DirtyDofRow(const DirtyRows& rows, int32_t y, int32_t x0, int32_t x1, float* out) {
  return KernelCall(DirtyDofRowAt)(rows, y, x0, x1, out);
}
}  // namespace dof
#endif  // HWY_ONCE
