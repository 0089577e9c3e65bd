// Ranges (or root mean squares) of detrended segments, a tile of segments
// at a time. Compiled once
// per instruction set by Highway and chosen at run time: this file includes
// itself through foreach_target.h, once per target.
#include "numerics/segment_ranges.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <utility>

#include "numerics/hwy_config.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "numerics/segment_ranges.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Included after foreach_target.h, as Highway requires.
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace numerics {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

using D = hn::CappedTag<double, kSegmentLanes>;
using V = hn::Vec<D>;

// Vectors per tile: with kSegmentLanes segments in flight the running sums
// form enough independent chains to hide the adder's latency (two vectors
// of 4 lanes with AVX2, one of 8 with AVX-512, four of 2 with SSE4, NEON
// and the emulated target).
constexpr std::size_t kVectors = kSegmentLanes / hn::MaxLanes(D());
static_assert(kVectors >= 1 && kVectors * hn::MaxLanes(D()) == kSegmentLanes);
constexpr std::size_t kMaxBasisVectors = 11;  // order 10

// Vectors per tile of a polynomial fit with `basis` vectors: as many as
// keep its coefficients, running extremes and the fit of each vector in
// sixteen registers, (basis + 3) per vector (two with AVX2 for orders 1 to
// 3, one for higher orders, whose coefficients would otherwise spill).
constexpr std::size_t VectorsForBasis(std::size_t basis) {
  const std::size_t fit = 14 / (basis + 3);
  return fit < 1 ? 1 : (fit > kVectors ? kVectors : fit);
}

// Segments side by side: lane l of vector v at point i is
// tile[i * Width + v * Lanes + l], Width = kVectors * Lanes.
struct Tile {
  const double* Values;
  std::size_t Points;
  std::size_t Lanes;
  std::size_t Width;
  HWY_INLINE V Load(D d, std::size_t i, std::size_t v) const {
    return hn::LoadU(d, Values + i * Width + v * Lanes);
  }
};

// Vectors of up to 4 doubles for the transposition into tiles: 256 bits
// with AVX2 and AVX-512 (whose 8-lane tiles take two such halves per
// point), 128 with SSE4, NEON and EMU128, one double with SCALAR.
using DT = hn::CappedTag<double, 4>;
using VT = hn::Vec<DT>;
constexpr std::size_t kBlock = hn::MaxLanes(DT());
static_assert(kSegmentLanes % kBlock == 0);

// rows[r] = kBlock points of segment r, in place of cols[c] = point c of
// the kBlock segments.
HWY_INLINE void Transpose(VT* rows) {
#if HWY_TARGET == HWY_SCALAR
  (void)rows;  // one point of one segment
#else
  const DT dt;
  if constexpr (kBlock == 4) {
    const VT t0 = hn::InterleaveLower(dt, rows[0], rows[1]);  // 00 10 02 12
    const VT t1 = hn::InterleaveUpper(dt, rows[0], rows[1]);  // 01 11 03 13
    const VT t2 = hn::InterleaveLower(dt, rows[2], rows[3]);  // 20 30 22 32
    const VT t3 = hn::InterleaveUpper(dt, rows[2], rows[3]);  // 21 31 23 33
    rows[0] = hn::ConcatLowerLower(dt, t2, t0);
    rows[1] = hn::ConcatLowerLower(dt, t3, t1);
    rows[2] = hn::ConcatUpperUpper(dt, t2, t0);
    rows[3] = hn::ConcatUpperUpper(dt, t3, t1);
  } else {
    const VT t0 = hn::InterleaveLower(dt, rows[0], rows[1]);
    const VT t1 = hn::InterleaveUpper(dt, rows[0], rows[1]);
    rows[0] = t0;
    rows[1] = t1;
  }
#endif
}

// The segments of up to two runs of one length, numbered on from the
// first run's.
struct Runs {
  const double* First[2] = {};
  std::size_t Count[2] = {};
  const double* Segment(std::size_t v, std::size_t n) const {
    return v < Count[0] ? First[0] + v * n : First[1] + (v - Count[0]) * n;
  }
};

// Copies up to `width` segments of n points, from segment `from` of
// `runs` on, into `tile`, point-major (tile[i * width + lane]), kBlock
// points of kBlock segments at a time through a transposition in
// registers; lanes beyond `used` repeat the first segment so that every
// lane computes on real data.
void LoadTile(const Runs& runs, std::size_t from, std::size_t n,
              std::size_t used, std::size_t width, double* tile) {
  const DT dt;
  const double* segment[kSegmentLanes];
  for (std::size_t lane = 0; lane < width; ++lane) {
    segment[lane] = runs.Segment(from + (lane < used ? lane : 0), n);
  }
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    for (std::size_t s = 0; s < width; s += kBlock) {
      VT rows[kBlock];
      for (std::size_t r = 0; r < kBlock; ++r) {
        rows[r] = hn::LoadU(dt, segment[s + r] + i);
      }
      Transpose(rows);
      for (std::size_t c = 0; c < kBlock; ++c) {
        hn::StoreU(rows[c], dt, tile + (i + c) * width + s);
      }
    }
  }
  for (; i < n; ++i) {
    for (std::size_t lane = 0; lane < width; ++lane) {
      tile[i * width + lane] = segment[lane][i];
    }
  }
}

// Strict running extremes from the first residual, as the one-segment
// scan: a lane moves only to a strictly greater (smaller) value, so a NaN
// is never taken unless it comes first. x86's max and min instructions
// return their second operand unless the first is strictly greater
// (smaller), NaN included, which is exactly that rule in one instruction;
// elsewhere a comparison selects.
HWY_INLINE V StrictMax(V r, V largest) {
#if HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR
  return hn::Max(r, largest);
#else
  return hn::IfThenElse(hn::Gt(r, largest), r, largest);
#endif
}

HWY_INLINE V StrictMin(V r, V smallest) {
#if HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR
  return hn::Min(r, smallest);
#else
  return hn::IfThenElse(hn::Lt(r, smallest), r, smallest);
#endif
}

// What a tile keeps of its residuals, point by point: First takes the
// residual of point 0, Next those of points 1, 2, ... in order, Result
// gives the statistic of each lane. The constructors are spelled out, as
// for DoubleDouble (double_double-inl.h).

// The range: largest minus smallest residual.
struct Extremes {
  Extremes() {}
  V Largest[kVectors];
  V Smallest[kVectors];
  HWY_INLINE void First(std::size_t v, V r) {
    Largest[v] = r;
    Smallest[v] = r;
  }
  HWY_INLINE void Next(std::size_t v, V r) {
    Largest[v] = StrictMax(r, Largest[v]);
    Smallest[v] = StrictMin(r, Smallest[v]);
  }
  HWY_INLINE V Result(std::size_t v, V /*points*/) const {
    return hn::Sub(Largest[v], Smallest[v]);
  }
};

// The root mean square: sqrt((0 + r_0^2 + r_1^2 + ...) / n), one running
// total per lane, as SegmentRms.
struct Squares {
  Squares() {}
  V Sum[kVectors];
  HWY_INLINE void First(std::size_t v, V r) {
    Sum[v] = hn::Add(hn::Zero(D()), hn::Mul(r, r));
  }
  HWY_INLINE void Next(std::size_t v, V r) {
    Sum[v] = hn::Add(Sum[v], hn::Mul(r, r));
  }
  HWY_INLINE V Result(std::size_t v, V points) const {
    return hn::Sqrt(hn::Div(Sum[v], points));
  }
};

template <typename Acc>
void StoreResults(D d, const Acc& x, const Tile& tile, std::size_t used,
                  double* out) {
  HWY_ALIGN double all[kSegmentLanes];
  const V points = hn::Set(d, static_cast<double>(tile.Points));
  for (std::size_t v = 0; v < tile.Width / tile.Lanes; ++v) {
    hn::Store(x.Result(v, points), d, all + v * tile.Lanes);
  }
  std::copy_n(all, used, out);
}

// One tile of LTREND_8: the same sums and the same closed form per lane.
template <typename Acc>
Acc LineTile(D d, const Tile& tile) {
  const double count = static_cast<double>(tile.Points);
  V sum[kVectors];
  V weighted[kVectors];
  for (std::size_t v = 0; v < kVectors; ++v) {
    sum[v] = hn::Zero(d);
    weighted[v] = hn::Zero(d);
  }
  V abscissa = hn::Set(d, 1.0);
  const V one = hn::Set(d, 1.0);
  for (std::size_t i = 0; i < tile.Points; ++i) {
    for (std::size_t v = 0; v < kVectors; ++v) {
      const V y = tile.Load(d, i, v);
      sum[v] = hn::Add(sum[v], y);
      weighted[v] = hn::Add(weighted[v], hn::Mul(abscissa, y));
    }
    abscissa = hn::Add(abscissa, one);
  }
  // mean = S/N, a = T/((N+1)N), D = (a - 0.5 mean) N 12/(N-1),
  // E = mean - (N+1)D/(2N), each operation in that order.
  const V n = hn::Set(d, count);
  const V n_plus_1_times_n = hn::Set(d, (count + 1.0) * count);
  const V n_minus_1 = hn::Set(d, count - 1.0);
  const V n_plus_1 = hn::Set(d, count + 1.0);
  const V two_n = hn::Set(d, 2.0 * count);
  V slope[kVectors];
  V offset[kVectors];
  for (std::size_t v = 0; v < kVectors; ++v) {
    const V mean = hn::Div(sum[v], n);
    const V a = hn::Div(weighted[v], n_plus_1_times_n);
    const V centred = hn::Sub(a, hn::Mul(hn::Set(d, 0.5), mean));
    slope[v] =
        hn::Div(hn::Mul(hn::Mul(centred, n), hn::Set(d, 12.0)), n_minus_1);
    offset[v] = hn::Sub(mean, hn::Div(hn::Mul(n_plus_1, slope[v]), two_n));
  }
  Acc x;
  abscissa = one;
  for (std::size_t v = 0; v < kVectors; ++v) {
    x.First(v, hn::Sub(hn::Sub(tile.Load(d, 0, v), offset[v]),
                       hn::Div(hn::Mul(slope[v], abscissa), n)));
  }
  for (std::size_t i = 1; i < tile.Points; ++i) {
    abscissa = hn::Add(abscissa, one);
    for (std::size_t v = 0; v < kVectors; ++v) {
      x.Next(v, hn::Sub(hn::Sub(tile.Load(d, i, v), offset[v]),
                        hn::Div(hn::Mul(slope[v], abscissa), n)));
    }
  }
  return x;
}

// y(i) minus the fit at point i, the fit summed over the basis vectors in
// order.
template <std::size_t kBasis>
HWY_INLINE V Residual(D d, const V* c, const double* const* q, V y,
                      std::size_t i) {
  V fit = hn::Mul(c[0], hn::Set(d, q[0][i]));
  for (std::size_t k = 1; k < kBasis; ++k) {
    fit = hn::Add(fit, hn::Mul(c[k], hn::Set(d, q[k][i])));
  }
  return hn::Sub(y, fit);
}

// One tile of Fit and the subtraction for a basis of kBasis vectors:
// coefficients as running sums over the points, then the residuals. The
// vector count is a constant so that the coefficients stay in registers.
template <typename Acc, std::size_t kBasis>
Acc PolynomialTileOf(D d, const double* const* q, const Tile& tile) {
  constexpr std::size_t kVec = VectorsForBasis(kBasis);
  V c[kVec][kBasis];
  for (std::size_t v = 0; v < kVec; ++v) {
    for (std::size_t k = 0; k < kBasis; ++k) c[v][k] = hn::Zero(d);
  }
  for (std::size_t i = 0; i < tile.Points; ++i) {
    for (std::size_t v = 0; v < kVec; ++v) {
      const V y = tile.Load(d, i, v);
      for (std::size_t k = 0; k < kBasis; ++k) {
        c[v][k] = hn::Add(c[v][k], hn::Mul(hn::Set(d, q[k][i]), y));
      }
    }
  }
  Acc x;
  for (std::size_t v = 0; v < kVec; ++v) {
    x.First(v, Residual<kBasis>(d, c[v], q, tile.Load(d, 0, v), 0));
  }
  for (std::size_t i = 1; i < tile.Points; ++i) {
    for (std::size_t v = 0; v < kVec; ++v) {
      x.Next(v, Residual<kBasis>(d, c[v], q, tile.Load(d, i, v), i));
    }
  }
  return x;
}

// The fit is the data: each residual is y - y (0, or NaN for a non-finite
// value).
template <typename Acc>
Acc InterpolatingTile(D d, const Tile& tile) {
  Acc x;
  for (std::size_t v = 0; v < kVectors; ++v) {
    const V y = tile.Load(d, 0, v);
    x.First(v, hn::Sub(y, y));
  }
  for (std::size_t i = 1; i < tile.Points; ++i) {
    for (std::size_t v = 0; v < kVectors; ++v) {
      const V y = tile.Load(d, i, v);
      x.Next(v, hn::Sub(y, y));
    }
  }
  return x;
}

template <typename Acc, std::size_t... kCounts>
Acc DispatchTile(D d, std::size_t basis_vectors, const double* const* q,
                 const Tile& tile, std::index_sequence<kCounts...>) {
  Acc x;
  ((basis_vectors == kCounts + 1
        ? void(x = PolynomialTileOf<Acc, kCounts + 1>(d, q, tile))
        : void()),
   ...);
  return x;
}

// Tiles of `vectors` vectors (at most kVectors) over the segments of
// `runs`; a tile may take segments of both runs.
template <typename TileFn>
void ForEachTile(const Runs& runs, std::size_t n, std::span<double> ranges,
                 std::span<double> work, std::size_t vectors, TileFn tile_fn) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const std::size_t width = vectors * lanes;
  const std::size_t count = runs.Count[0] + runs.Count[1];
  assert(ranges.size() >= count);
  assert(work.size() >= n * width);
  const Tile tile{work.data(), n, lanes, width};
  for (std::size_t v = 0; v < count; v += width) {
    const std::size_t used = std::min(width, count - v);
    LoadTile(runs, v, n, used, width, work.data());
    StoreResults(d, tile_fn(d, tile), tile, used, ranges.data() + v);
  }
}

template <typename Acc>
void LineTiles(const Runs& runs, std::int32_t n, std::span<double> out,
               std::span<double> work) {
  ForEachTile(runs, static_cast<std::size_t>(n), out, work, kVectors,
              LineTile<Acc>);
}

template <typename Acc>
void PolynomialTiles(const OrthonormalPolynomialBasis& basis, const Runs& runs,
                     std::span<double> out, std::span<double> work) {
  const auto points = static_cast<std::size_t>(basis.Points());
  if (basis.Interpolates()) {
    ForEachTile(runs, points, out, work, kVectors, InterpolatingTile<Acc>);
    return;
  }
  const auto basis_vectors = static_cast<std::size_t>(basis.Order()) + 1;
  assert(basis_vectors >= 1 && basis_vectors <= kMaxBasisVectors);
  const double* q[kMaxBasisVectors] = {};
  for (std::size_t k = 0; k < basis_vectors; ++k) {
    q[k] = basis.Vector(static_cast<std::int32_t>(k)).data();
  }
  ForEachTile(runs, points, out, work, VectorsForBasis(basis_vectors),
              [basis_vectors, &q](D d, const Tile& tile) {
                return DispatchTile<Acc>(
                    d, basis_vectors, q, tile,
                    std::make_index_sequence<kMaxBasisVectors>{});
              });
}

// The runs of the public interface, checked and numbered.
Runs RunsOf(std::span<const SegmentRun> runs, std::size_t n) {
  assert(runs.size() >= 1 && runs.size() <= 2);
  Runs out;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    out.First[r] = runs[r].Values.data();
    out.Count[r] = static_cast<std::size_t>(runs[r].Count);
    assert(runs[r].Values.size() >= n * out.Count[r]);
  }
  (void)n;
  return out;
}

void LineRangesImpl(std::span<const SegmentRun> runs, std::int32_t n,
                    std::span<double> out, std::span<double> work,
                    SegmentStatistic statistic) {
  const Runs all = RunsOf(runs, static_cast<std::size_t>(n));
  if (statistic == SegmentStatistic::kRms) {
    LineTiles<Squares>(all, n, out, work);
  } else {
    LineTiles<Extremes>(all, n, out, work);
  }
}

void PolynomialRangesImpl(const OrthonormalPolynomialBasis& basis,
                          std::span<const SegmentRun> runs,
                          std::span<double> out, std::span<double> work,
                          SegmentStatistic statistic) {
  const Runs all = RunsOf(runs, static_cast<std::size_t>(basis.Points()));
  if (statistic == SegmentStatistic::kRms) {
    PolynomialTiles<Squares>(basis, all, out, work);
  } else {
    PolynomialTiles<Extremes>(basis, all, out, work);
  }
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace numerics
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace numerics {

HWY_EXPORT(LineRangesImpl);
HWY_EXPORT(PolynomialRangesImpl);

std::size_t SegmentRangesWorkSize(std::int32_t n, std::int32_t /*order*/) {
  return static_cast<std::size_t>(n) * kSegmentLanes;
}

namespace {

bool NoSegments(std::span<const SegmentRun> runs) {
  return std::all_of(runs.begin(), runs.end(),
                     [](const SegmentRun& run) { return run.Count <= 0; });
}

}  // namespace

void LineDetrendedRanges(std::span<const SegmentRun> runs, std::int32_t n,
                         std::span<double> ranges, std::span<double> work,
                         SegmentStatistic statistic) {
  assert(n >= 2);
  if (NoSegments(runs)) return;
  HWY_DYNAMIC_DISPATCH(LineRangesImpl)(runs, n, ranges, work, statistic);
}

void LineDetrendedRanges(std::span<const double> values, std::int32_t n,
                         std::int32_t count, std::span<double> ranges,
                         std::span<double> work, SegmentStatistic statistic) {
  const SegmentRun run{values, count};
  LineDetrendedRanges({&run, 1}, n, ranges, work, statistic);
}

void PolynomialDetrendedRanges(const OrthonormalPolynomialBasis& basis,
                               std::span<const SegmentRun> runs,
                               std::span<double> ranges, std::span<double> work,
                               SegmentStatistic statistic) {
  if (NoSegments(runs)) return;
  HWY_DYNAMIC_DISPATCH(PolynomialRangesImpl)
  (basis, runs, ranges, work, statistic);
}

void PolynomialDetrendedRanges(const OrthonormalPolynomialBasis& basis,
                               std::span<const double> values,
                               std::int32_t count, std::span<double> ranges,
                               std::span<double> work,
                               SegmentStatistic statistic) {
  const SegmentRun run{values, count};
  PolynomialDetrendedRanges(basis, {&run, 1}, ranges, work, statistic);
}

}  // namespace numerics
#endif  // HWY_ONCE
