#include "analysis/vector_kernel.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>

#include "analysis/spectrum_steps.h"
#include "analysis/table_size.h"
#include "numerics/detrend.h"
#include "numerics/elementary.h"
#include "numerics/exact_elementary.h"
#include "numerics/hwy_config.h"
#include "numerics/segment_ranges.h"

// The lanes below are compiled once per instruction set by Highway and
// chosen at run time: this file includes itself through foreach_target.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "analysis/vector_kernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Included after foreach_target.h, as Highway requires.
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace analysis {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

using D = hn::CappedTag<double, 8>;
using V = hn::Vec<D>;
using D1 = hn::CappedTag<double, 1>;

// Vectors side by side in the regressions: five chains of additions hide
// the adder's latency (200 moments make 200, 100, 50 or 25 vectors of 1,
// 2, 4 or 8 lanes, a whole number of groups of five). Other counts of
// orders finish with single vectors and single lanes, which run the same
// operations on the same values.
constexpr std::size_t kGroup = 5;

// RegressImpl's work on the orders j .. j + G * Lanes(d) - 1.
template <std::size_t G, class DT>
HWY_INLINE void RegressBlock(DT d, const double* const* columns,
                             const double* dx, std::size_t scales,
                             double sum_sq, const double* q, std::size_t j,
                             double* hurst, double* tau, double* sxy_out,
                             double* syy_out) {
  using VT = hn::Vec<DT>;
  const std::size_t lanes = hn::Lanes(d);
  VT sum[G];
  for (std::size_t g = 0; g < G; ++g) sum[g] = hn::Zero(d);
  for (std::size_t k = 0; k < scales; ++k) {
    for (std::size_t g = 0; g < G; ++g) {
      sum[g] = hn::Add(sum[g], hn::LoadU(d, columns[k] + j + g * lanes));
    }
  }
  VT mean[G];
  VT sxy[G];
  VT syy[G];
  for (std::size_t g = 0; g < G; ++g) {
    mean[g] = hn::Div(sum[g], hn::Set(d, static_cast<double>(scales)));
    sxy[g] = hn::Zero(d);
    syy[g] = hn::Zero(d);
  }
  for (std::size_t k = 0; k < scales; ++k) {
    const VT dx_k = hn::Set(d, dx[k]);
    for (std::size_t g = 0; g < G; ++g) {
      const VT dy = hn::Sub(hn::LoadU(d, columns[k] + j + g * lanes), mean[g]);
      sxy[g] = hn::Add(sxy[g], hn::Mul(dy, dx_k));
      syy[g] = hn::Add(syy[g], hn::Mul(dy, dy));
    }
  }
  for (std::size_t g = 0; g < G; ++g) {
    const std::size_t at = j + g * lanes;
    hn::StoreU(sxy[g], d, sxy_out + at);
    hn::StoreU(syy[g], d, syy_out + at);
    const VT h = hn::Div(sxy[g], hn::Set(d, sum_sq));
    hn::StoreU(h, d, hurst + at);
    hn::StoreU(hn::Sub(hn::Mul(h, hn::LoadU(d, q + at)), hn::Set(d, 1.0)), d,
               tau + at);
  }
}

// For each of the `moments` orders j (in lanes): the mean of the log10
// F(q_j, s) over the `scales` regression points, columns[k][j] for k
// ascending; then sxy = sum of (y - mean) * dx[k] and syy = sum of (y -
// mean)^2; h = sxy / sum_sq and tau = h q - 1. Each lane's sums run in the
// straightforward kernel's order.
void RegressImpl(const double* const* columns, const double* dx,
                 std::size_t scales, double sum_sq, const double* q,
                 std::size_t moments, double* hurst, double* tau,
                 double* sxy_out, double* syy_out) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  std::size_t j = 0;
  for (; j + kGroup * lanes <= moments; j += kGroup * lanes) {
    RegressBlock<kGroup>(d, columns, dx, scales, sum_sq, q, j, hurst, tau,
                         sxy_out, syy_out);
  }
  for (; j + lanes <= moments; j += lanes) {
    RegressBlock<1>(d, columns, dx, scales, sum_sq, q, j, hurst, tau, sxy_out,
                    syy_out);
  }
  for (; j < moments; ++j) {
    RegressBlock<1>(D1(), columns, dx, scales, sum_sq, q, j, hurst, tau,
                    sxy_out, syy_out);
  }
}

// For each alpha point m (in lanes): v = min over the `moments` orders j
// ascending of alfa[m] q_j - tau_j, from kAlfaSentinel, replaced only by a
// strictly smaller value; f_alfa[m] = v, clipped below at 0. x86's min
// instruction returns its second operand unless the first is strictly
// smaller, NaN included: that rule in one instruction; elsewhere a
// comparison selects.
void LegendreImpl(const double* q, const double* tau, std::size_t moments,
                  const double* alfa, double* f_alfa) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  // The alpha grid padded to whole vectors; the padding is dropped.
  constexpr std::size_t kPadded = (kAlfaCount + 7) / 8 * 8;
  HWY_ALIGN double grid[kPadded] = {};
  HWY_ALIGN double out[kPadded];
  std::copy_n(alfa, kAlfaCount, grid);
  for (std::size_t m = 0; m < kAlfaCount; m += lanes) {
    const V a = hn::Load(d, grid + m);
    V v = hn::Set(d, detail::kAlfaSentinel);
    for (std::size_t j = 0; j < moments; ++j) {
      const V w = hn::Sub(hn::Mul(a, hn::Set(d, q[j])), hn::Set(d, tau[j]));
#if HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR
      v = hn::Min(w, v);
#else
      v = hn::IfThenElse(hn::Lt(w, v), w, v);
#endif
    }
    const V zero = hn::Zero(d);
    hn::Store(hn::IfThenElse(hn::Ge(v, zero), v, zero), d, out + m);
  }
  std::copy_n(out, kAlfaCount, f_alfa);
}

// Whether the table's minimum, searched from its first entry and replaced
// only by strictly smaller values, is not above 0: the first entry is NaN
// (nothing replaces it), or some entry is <= 0 (NaN entries after the first
// are never taken).
bool NotAllPositiveImpl(const double* table, std::size_t count) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const V zero = hn::Zero(d);
  auto at_most_zero = hn::Lt(zero, zero);  // all false
  std::size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    at_most_zero = hn::Or(at_most_zero, hn::Le(hn::LoadU(d, table + i), zero));
  }
  bool found = !hn::AllFalse(d, at_most_zero);
  for (; i < count; ++i) found = found || table[i] <= 0.0;
  return found || std::isnan(table[0]);
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace analysis
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace analysis {

HWY_EXPORT(RegressImpl);
HWY_EXPORT(LegendreImpl);
HWY_EXPORT(NotAllPositiveImpl);

namespace {

// F(q, s) of one segment length into `column`: the fluctuations (range or
// rms) of the detrended segments that count (window_quality.h), from the
// start and, with SegmentCut::kBoth, as many again from the end; their
// powers summed in segment order, then the q-th order mean over all
// `segment_count` segments, or for q = 0 the logarithmic mean over the
// counted ones. Counts the column's flat segments into work.Counts, once
// for each of the `scales` that share it.
void FillColumn(const RunConstants& run, VectorWorkspace& work,
                std::span<const double> values, std::size_t scale,
                std::int64_t scales, const SegmentFloors& floors,
                double* column) {
  const std::int32_t segment_len = run.ScaleLen[scale];
  const std::int32_t per_side = run.Params.Lrec / segment_len;
  const bool both = run.Params.Method.Segments == SegmentCut::kBoth;
  const std::int32_t segment_count = both ? 2 * per_side : per_side;
  const auto sides = static_cast<std::size_t>(per_side);
  const numerics::SegmentStatistic statistic =
      run.Params.Method.Measure == Fluctuation::kRms
          ? numerics::SegmentStatistic::kRms
          : numerics::SegmentStatistic::kRange;
  // The end segments cover the window's last per_side lengths, in
  // ascending position, and follow the start segments in the sums. The
  // leading start segments kept from earlier windows of the series are the
  // same bits; only the rest is detrended.
  const auto column_index = static_cast<std::size_t>(work.ColumnOfScale[scale]);
  const std::span<double> starts(work.Ranges.data(), sides);
  const std::size_t known = work.Reuse.Restore(column_index, starts);
  const std::size_t tail =
      values.size() - sides * static_cast<std::size_t>(segment_len);
  // The start segments still to detrend and the end segments, whose
  // ranges follow them, in shared tiles.
  const numerics::SegmentRun fresh[2] = {
      {values.subspan(known * static_cast<std::size_t>(segment_len)),
       static_cast<std::int32_t>(sides - known)},
      {values.subspan(tail), both ? per_side : 0}};
  const std::span<double> ranges(work.Ranges.data() + known,
                                 (both ? 2 * sides : sides) - known);
  if (run.Params.TrendOrder == 1) {
    numerics::LineDetrendedRanges(fresh, segment_len, ranges, work.SegmentBuf,
                                  statistic);
  } else {
    numerics::PolynomialDetrendedRanges(DetrendBasisFor(run, scale, work.Basis),
                                        fresh, ranges, work.SegmentBuf,
                                        statistic);
  }
  work.Reuse.Keep(column_index, starts);
  // Kept segments also keep their undecided power terms; the end segments
  // do not.
  numerics::RecalledTerms** recall = work.Recall.data();
  const bool recalled = work.Reuse.Recall(
      column_index, std::span<numerics::RecalledTerms*>(recall, sides));
  if (recalled && both) std::fill_n(recall + sides, sides, nullptr);
  // A segment that counts as zero (flat, NaN, or below the range floor)
  // adds nothing but still counts in the divisor (not at q = 0).
  std::size_t positive = 0;
  std::int64_t at_floor = 0;
  for (std::size_t v = 0; v < static_cast<std::size_t>(segment_count); ++v) {
    const double range = work.Ranges[v];
    at_floor += AtRoundingFloor(range, floors) ? 1 : 0;
    if (CountsAsZero(range, floors)) continue;
    if (recalled) recall[positive] = recall[v];
    work.Ranges[positive++] = range;
  }
  work.Counts.Total += scales * segment_count;
  work.Counts.Zero +=
      scales * (segment_count - static_cast<std::int64_t>(positive));
  work.Counts.Floor += scales * at_floor;
  const auto first = static_cast<std::int64_t>(scale);
  if (positive == 0 && first < static_cast<std::int64_t>(run.FitEnd) &&
      first + scales > static_cast<std::int64_t>(run.FitBegin)) {
    work.EmptyFittedScale = true;
  }

  const std::size_t moments = work.Moments;
  const std::span<double> sums(column, moments);
  const std::span<const double> counted(work.Ranges.data(), positive);
  std::fill(sums.begin(), sums.end(), 0.0);
  work.Powers.Accumulate(
      counted, sums,
      recalled ? std::span<numerics::RecalledTerms* const>(recall, positive)
               : std::span<numerics::RecalledTerms* const>());
  // The q-th order mean: (sum / g)^(1/q), with 1/q formed first.
  const auto divisor = static_cast<double>(segment_count);
  for (double& sum : sums) sum = sum / divisor;
  numerics::PowElementwise(sums, work.InverseQ, sums);
  if (work.ZeroOrder < moments) {
    // q = 0: exp of the mean logarithm over the counted segments; the
    // power kernel's sum of R^0 in this entry is replaced.
    double sum = 0.0;
    for (const double range : counted) sum = sum + numerics::Log(range);
    column[work.ZeroOrder] =
        positive > 0 ? numerics::Exp(sum / static_cast<double>(positive)) : 0.0;
  }
}

// tau(q) from the log10 columns, the alpha range and the Legendre
// transform, into `work`. Independent sums side by side in vector lanes:
// the regressions of all orders (each order's sums still run over the
// regression points in ascending order, repeated columns included), then
// the running minima of all 100 alpha points (each over the orders in
// ascending order, replaced only by a strictly smaller value). Returns the
// smallest R^2 of the fits.
double RegressAndTransform(const RunConstants& run, VectorWorkspace& work) {
  const std::size_t moments = work.Moments;
  const std::size_t points = run.FitScale.size();
  std::vector<const double*>& columns = work.FittedColumns;
  std::vector<double>& dx = work.FittedDx;
  for (std::size_t i = 0; i < points; ++i) {
    const std::size_t k = run.FitScale[i];
    columns[i] = work.Columns.data() +
                 static_cast<std::size_t>(work.ColumnOfScale[k]) * moments;
    dx[i] = run.FitLogScale[i] - run.LogScaleMean;
  }
  HWY_DYNAMIC_DISPATCH(RegressImpl)
  (columns.data(), dx.data(), points, run.LogScaleSumSq, run.QGrid.data(),
   moments, work.HurstQ.data(), work.TauQ.data(), work.Sxy.data(),
   work.Syy.data());
  double min_r_squared = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t j = 0; j < moments; ++j) {
    min_r_squared = SmallerRSquared(
        min_r_squared, RSquared(work.Sxy[j], run.LogScaleSumSq, work.Syy[j]));
  }

  // The alpha range and grid, as the straightforward kernel computes them.
  detail::AlfaRange& range = work.Range;
  range = {detail::kAlfaSentinel, -detail::kAlfaSentinel};
  for (std::size_t k = 0; k < run.AlfaDiffSpan.size(); ++k) {
    const double a = (work.TauQ[k + 4] - work.TauQ[k]) / run.AlfaDiffSpan[k];
    if (a > range.AlfaMax) range.AlfaMax = a;
    if (a < range.AlfaMin) range.AlfaMin = a;
  }
  const double d = (range.AlfaMax - range.AlfaMin) / 99.0;
  double counter = 0.0;
  for (double& alfa : work.AlfaGrid) {
    alfa = d * counter + range.AlfaMin;
    counter += 1.0;
  }
  HWY_DYNAMIC_DISPATCH(LegendreImpl)
  (run.QGrid.data(), work.TauQ.data(), moments, work.AlfaGrid.data(),
   work.FAlfaGrid.data());
  return min_r_squared;
}

}  // namespace

VectorWorkspace::VectorWorkspace(const RunConstants& run)
    : Moments(run.QGrid.size()),
      ZeroOrder(static_cast<std::size_t>(
          std::find(run.QGrid.begin(), run.QGrid.end(), 0.0) -
          run.QGrid.begin())),
      SegmentBuf(
          numerics::SegmentRangesWorkSize(run.MaxScale, run.Params.TrendOrder)),
      Scaled(detail::TableSize(1, run.Params.Lrec)),
      Ranges(detail::TableSize(1, run.Params.Lrec)),
      Recall(Ranges.size()),
      Powers(run.QGrid),
      InverseQ(run.QGrid.size()),
      HurstQ(run.QGrid.size()),
      Sxy(run.QGrid.size()),
      Syy(run.QGrid.size()),
      TauQ(run.QGrid.size()),
      Fq(run.Params.Method.KeepFq
             ? detail::TableSize(std::int64_t(Moments),
                                 std::int64_t(run.LogScale.size()))
             : 0) {
  for (std::size_t j = 0; j < Moments; ++j) {
    InverseQ[j] = j == ZeroOrder ? 1.0 : 1.0 / run.QGrid[j];
  }
  if (run.Params.TrendOrder >= 2 && run.DetrendBasis.empty()) {
    Basis.Rebuild(run.MaxScale, run.Params.TrendOrder);  // full capacity
  }
  std::int32_t previous_len = -1;
  const std::size_t scales = run.LogScale.size();
  ColumnOfScale.resize(scales);
  FittedColumns.resize(run.FitScale.size());
  FittedDx.resize(run.FitScale.size());
  NearTwo.resize(run.FitScale.size());
  for (std::size_t k = 0; k < scales; ++k) {
    if (run.ScaleLen[k] != previous_len) {
      ColumnScale.push_back(static_cast<std::int32_t>(k));
      previous_len = run.ScaleLen[k];
    }
    ColumnOfScale[k] = static_cast<std::int32_t>(ColumnScale.size() - 1);
  }
  Columns.resize(detail::TableSize(std::int64_t(ColumnScale.size()),
                                   std::int64_t(Moments)));
  std::vector<std::int32_t> lengths;
  for (const std::int32_t k : ColumnScale) {
    lengths.push_back(run.ScaleLen[static_cast<std::size_t>(k)]);
  }
  Reuse = SegmentReuse(run.Params, lengths);
}

SpectrumSummary AnalyseWindowVector(const RunConstants& run,
                                    VectorWorkspace& work,
                                    std::span<const double> given) {
  assert(given.size() == static_cast<std::size_t>(run.Params.Lrec));
  const std::size_t moments = work.Moments;
  // A rescaled window's values are not the series' samples: it takes and
  // keeps no segment.
  const ScaledWindow scaled =
      ScaleForPowerSums(run, given, work.Scaled, work.Magnitude);
  const std::span<const double> values = scaled.Values;
  const int unit_scale = scaled.Scale;
  if (unit_scale != 0) work.Reuse.Enter(nullptr);
  const SegmentFloors floors = FloorsOf(run, work.Magnitude);
  work.Counts = SegmentCounts{};
  work.Counts.LongestFlatRun = work.Magnitude.LongestFlatRun;
  work.Counts.StuckSamples = work.Magnitude.StuckSamples;
  work.EmptyFittedScale = false;
  const std::size_t scales = run.LogScale.size();
  const std::size_t columns = work.ColumnScale.size();
  for (std::size_t c = 0; c < columns; ++c) {
    if (c + 1 < columns) {
      const std::int32_t next_len =
          run.ScaleLen[static_cast<std::size_t>(work.ColumnScale[c + 1])];
      work.Reuse.Prefetch(c + 1,
                          static_cast<std::size_t>(run.Params.Lrec / next_len));
    }
    const std::int32_t first = work.ColumnScale[c];
    const std::int32_t next = c + 1 < columns
                                  ? work.ColumnScale[c + 1]
                                  : static_cast<std::int32_t>(scales);
    FillColumn(run, work, values, static_cast<std::size_t>(first), next - first,
               floors, work.Columns.data() + c * moments);
    if (work.Tick) work.Tick(run.Params.Lrec);
  }
  if (unit_scale != 0) {
    for (double& f : work.Columns) f = std::ldexp(f, -unit_scale);
  }
  return SummariseColumns(run, work);
}

SpectrumSummary SummariseColumns(const RunConstants& run,
                                 VectorWorkspace& work) {
  const std::size_t moments = work.Moments;
  const std::size_t scales = run.LogScale.size();
  const bool logged = work.ColumnsLogged;
  if (!logged && !work.Fq.empty()) {
    for (std::size_t k = 0; k < scales; ++k) {
      const double* column =
          work.Columns.data() +
          static_cast<std::size_t>(work.ColumnOfScale[k]) * moments;
      std::copy_n(column, moments, work.Fq.data() + k * moments);
    }
  }

  // The minimum of the fitted scales' table, scale outer and order inner
  // from the first fitted entry; a repeated column cannot lower it, and a
  // NaN is never taken unless it comes first. The fitted scales' columns
  // lie side by side.
  const auto first_fitted =
      static_cast<std::size_t>(work.ColumnOfScale[run.FitBegin]);
  const auto last_fitted =
      static_cast<std::size_t>(work.ColumnOfScale[run.FitEnd - 1]);
  if (work.EmptyFittedScale ||
      (logged ? work.LoggedDegenerate
              : HWY_DYNAMIC_DISPATCH(NotAllPositiveImpl)(
                    work.Columns.data() + first_fitted * moments,
                    (last_fitted - first_fitted + 1) * moments))) {
    std::fill(work.HurstQ.begin(), work.HurstQ.end(),
              std::numeric_limits<double>::quiet_NaN());
    std::fill(work.TauQ.begin(), work.TauQ.end(),
              std::numeric_limits<double>::quiet_NaN());
    work.AlfaGrid.fill(0.5);
    work.FAlfaGrid.fill(1.0);
    const SpectrumSummary summary =
        detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, {});
    work.Quality =
        JudgeQuality(run, true, work.Magnitude.AllFinite, work.Counts,
                     std::numeric_limits<double>::quiet_NaN(), summary);
    return summary;
  }

  // Only the fitted scales' columns enter the regressions.
  const std::span<double> fitted(work.Columns.data() + first_fitted * moments,
                                 (last_fitted - first_fitted + 1) * moments);
  if (!logged) numerics::Log10Elementwise(fitted, fitted);

  const double min_r_squared = RegressAndTransform(run, work);
  SpectrumSummary summary;
  if (run.AlfaDiffSpan.empty()) {
    // No order has two neighbours on each side: nothing to estimate alpha
    // from.
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    work.AlfaGrid.fill(kNaN);
    work.FAlfaGrid.fill(kNaN);
    summary = SpectrumSummary{kNaN, kNaN, kNaN, kNaN, kNaN};
  } else {
    summary = detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, work.Range);
  }
  const std::size_t near_two = OrderNearTwo(run.QGrid);
  for (std::size_t i = 0; i < work.NearTwo.size(); ++i) {
    work.NearTwo[i] = work.FittedColumns[i][near_two];
  }
  const FitDiagnostics fits =
      DiagnoseFits(run, work.HurstQ, work.Sxy, work.Syy, work.NearTwo,
                   work.FittedColumns, summary);
  work.Quality = JudgeQuality(run, false, work.Magnitude.AllFinite, work.Counts,
                              min_r_squared, summary, &fits);
  return detail::FinalSummary(
      run, work.TauQ, summary, work.Quality,
      [&](std::size_t i, std::size_t j) { return work.FittedColumns[i][j]; });
}

}  // namespace analysis
#endif  // HWY_ONCE
