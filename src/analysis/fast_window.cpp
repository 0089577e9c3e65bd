#include "analysis/fast_window.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>

#include "analysis/spectrum_steps.h"
#include "analysis/table_size.h"
#include "numerics/detrend.h"
#include "numerics/exact_elementary.h"
#include "numerics/hwy_config.h"
#include "numerics/segment_ranges.h"

// The lanes below are compiled once per instruction set by Highway and
// chosen at run time: this file includes itself through foreach_target.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "analysis/fast_window.cpp"
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

// Vectors side by side in the regressions: five chains of additions hide
// the adder's latency, and 200 moments make 200, 100, 50 or 25 vectors of
// 1, 2, 4 or 8 lanes, a whole number of groups of five.
constexpr std::size_t kGroup = 5;
static_assert(kMomentCount % (kGroup * hn::MaxLanes(D())) == 0);

// For each order j (in lanes): the mean of the log10 F(q_j, s) over the
// `scales` fitted scales, columns[k][j] for k ascending; then sxy = sum of (y -
// mean) * dx[k] and syy = sum of (y - mean)^2; h = sxy / sum_sq and tau = h q
// - 1. Each lane's sums run in the straightforward engine's order.
void RegressImpl(const double* const* columns, const double* dx,
                 std::size_t scales, double sum_sq, const double* q,
                 double* hurst, double* tau, double* sxy_out, double* syy_out) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  for (std::size_t j = 0; j < kMomentCount; j += kGroup * lanes) {
    V sum[kGroup];
    for (std::size_t g = 0; g < kGroup; ++g) sum[g] = hn::Zero(d);
    for (std::size_t k = 0; k < scales; ++k) {
      for (std::size_t g = 0; g < kGroup; ++g) {
        sum[g] = hn::Add(sum[g], hn::LoadU(d, columns[k] + j + g * lanes));
      }
    }
    V mean[kGroup];
    V sxy[kGroup];
    V syy[kGroup];
    for (std::size_t g = 0; g < kGroup; ++g) {
      mean[g] = hn::Div(sum[g], hn::Set(d, static_cast<double>(scales)));
      sxy[g] = hn::Zero(d);
      syy[g] = hn::Zero(d);
    }
    for (std::size_t k = 0; k < scales; ++k) {
      const V dx_k = hn::Set(d, dx[k]);
      for (std::size_t g = 0; g < kGroup; ++g) {
        const V dy = hn::Sub(hn::LoadU(d, columns[k] + j + g * lanes), mean[g]);
        sxy[g] = hn::Add(sxy[g], hn::Mul(dy, dx_k));
        syy[g] = hn::Add(syy[g], hn::Mul(dy, dy));
      }
    }
    for (std::size_t g = 0; g < kGroup; ++g) {
      const std::size_t at = j + g * lanes;
      hn::StoreU(sxy[g], d, sxy_out + at);
      hn::StoreU(syy[g], d, syy_out + at);
      const V h = hn::Div(sxy[g], hn::Set(d, sum_sq));
      hn::StoreU(h, d, hurst + at);
      hn::StoreU(hn::Sub(hn::Mul(h, hn::LoadU(d, q + at)), hn::Set(d, 1.0)), d,
                 tau + at);
    }
  }
}

// For each alpha point m (in lanes): v = min over the orders j ascending of
// alfa[m] q_j - tau_j, from kAlfaSentinel, replaced only by a strictly
// smaller value; f_alfa[m] = v, clipped below at 0. x86's min instruction
// returns its second operand unless the first is strictly smaller, NaN
// included: that rule in one instruction; elsewhere a comparison selects.
void LegendreImpl(const double* q, const double* tau, const double* alfa,
                  double* f_alfa) {
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
    for (std::size_t j = 0; j < kMomentCount; ++j) {
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

// column[j] = column[j] / divisor for the 200 moments.
void DivideImpl(double* column, double divisor) {
  const D d;
  const V by = hn::Set(d, divisor);
  for (std::size_t j = 0; j < kMomentCount; j += hn::Lanes(d)) {
    hn::StoreU(hn::Div(hn::LoadU(d, column + j), by), d, column + j);
  }
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
HWY_EXPORT(DivideImpl);
HWY_EXPORT(NotAllPositiveImpl);

namespace {

constexpr std::size_t kMoments = kMomentCount;

// F(q, s) of one segment length into `column`: the fluctuations (range or
// rms) of the detrended segments that count (window_quality.h), their
// powers summed in segment order, then the q-th order mean over all
// `segment_count` segments. Counts the column's flat
// segments into work.Counts, once for each of the `scales` that share it.
void FillColumn(const RunConstants& run, FastWorkspace& work,
                std::span<const double> values, std::size_t scale,
                std::int64_t scales, const SegmentFloors& floors,
                double* column) {
  const std::int32_t segment_len = run.ScaleLen[scale];
  const std::int32_t segment_count = run.Params.Lrec / segment_len;
  const std::span<double> ranges(work.Ranges.data(),
                                 static_cast<std::size_t>(segment_count));
  const numerics::SegmentStatistic statistic =
      run.Params.Method.Measure == Fluctuation::kRms
          ? numerics::SegmentStatistic::kRms
          : numerics::SegmentStatistic::kRange;
  // The leading segments kept from earlier windows of the series are the
  // same bits; only the rest is detrended.
  const auto column_index = static_cast<std::size_t>(work.ColumnOfScale[scale]);
  const std::size_t known = work.Reuse.Restore(column_index, ranges);
  const std::span<const double> rest =
      values.subspan(known * static_cast<std::size_t>(segment_len));
  const auto fresh = segment_count - static_cast<std::int32_t>(known);
  if (run.Params.TrendOrder == 1) {
    numerics::LineDetrendedRanges(rest, segment_len, fresh,
                                  ranges.subspan(known), work.SegmentBuf,
                                  statistic);
  } else {
    numerics::PolynomialDetrendedRanges(DetrendBasisFor(run, scale, work.Basis),
                                        rest, fresh, ranges.subspan(known),
                                        work.SegmentBuf, statistic);
  }
  work.Reuse.Keep(column_index, ranges);
  // A segment that counts as zero (flat, NaN, or below the range floor)
  // adds nothing but still counts in the divisor.
  std::size_t positive = 0;
  std::int64_t at_floor = 0;
  for (const double range : ranges) {
    at_floor += AtRoundingFloor(range, floors) ? 1 : 0;
    if (!CountsAsZero(range, floors)) work.Ranges[positive++] = range;
  }
  work.Counts.Total += scales * segment_count;
  work.Counts.Zero +=
      scales * (segment_count - static_cast<std::int64_t>(positive));
  work.Counts.Floor += scales * at_floor;

  std::fill_n(column, kMoments, 0.0);
  work.Powers.Accumulate(std::span<const double>(work.Ranges.data(), positive),
                         std::span<double>(column, kMoments));
  // The q-th order mean: (sum / g)^(1/q), with 1/q formed first.
  HWY_DYNAMIC_DISPATCH(DivideImpl)(column, static_cast<double>(segment_count));
  numerics::PowElementwise(std::span<const double>(column, kMoments),
                           work.InverseQ, std::span<double>(column, kMoments));
}

// tau(q) from the log10 columns, the alpha range and the Legendre
// transform, into `work`. Independent sums side by side in vector lanes:
// the regressions of all 200 orders (each order's sums still run over the
// 200 scales in ascending order, repeated columns included), then the
// running minima of all 100 alpha points (each over the orders in
// ascending order, replaced only by a strictly smaller value). Returns the
// smallest R^2 of the fits.
double RegressAndTransform(const RunConstants& run, FastWorkspace& work) {
  const std::size_t fitted = run.FitEnd - run.FitBegin;
  std::vector<const double*>& columns = work.FittedColumns;
  std::vector<double>& dx = work.FittedDx;
  for (std::size_t i = 0; i < fitted; ++i) {
    const std::size_t k = run.FitBegin + i;
    columns[i] = work.Columns.data() +
                 static_cast<std::size_t>(work.ColumnOfScale[k]) * kMoments;
    dx[i] = run.LogScale[k] - run.LogScaleMean;
  }
  HWY_DYNAMIC_DISPATCH(RegressImpl)
  (columns.data(), dx.data(), fitted, run.LogScaleSumSq, run.QGrid.data(),
   work.HurstQ.data(), work.TauQ.data(), work.Sxy.data(), work.Syy.data());
  double min_r_squared = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t j = 0; j < kMoments; ++j) {
    min_r_squared = SmallerRSquared(
        min_r_squared, RSquared(work.Sxy[j], run.LogScaleSumSq, work.Syy[j]));
  }

  // The alpha range and grid, as the straightforward engine computes them.
  detail::AlfaRange& range = work.Range;
  range = {detail::kAlfaSentinel, -detail::kAlfaSentinel};
  for (std::size_t k = 0; k + 4 < kMoments; ++k) {
    const double a = (work.TauQ[k + 4] - work.TauQ[k]) / detail::kAlfaDiffSpan;
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
  (run.QGrid.data(), work.TauQ.data(), work.AlfaGrid.data(),
   work.FAlfaGrid.data());
  return min_r_squared;
}

}  // namespace

FastWorkspace::FastWorkspace(const RunConstants& run)
    : SegmentBuf(detail::TableSize(numerics::kSegmentLanes, run.MaxScale)),
      Ranges(detail::TableSize(1, run.Params.Lrec)),
      Powers(run.QGrid),
      Fq(run.Params.Method.KeepFq
             ? detail::TableSize(kMoments, std::int64_t(run.LogScale.size()))
             : 0) {
  assert(VectorKernelsTake(run));
  for (std::size_t j = 0; j < kMoments; ++j) InverseQ[j] = 1.0 / run.QGrid[j];
  if (run.Params.TrendOrder >= 2 && run.DetrendBasis.empty()) {
    Basis.Rebuild(run.MaxScale, run.Params.TrendOrder);  // full capacity
  }
  std::int32_t previous_len = -1;
  const std::size_t scales = run.LogScale.size();
  ColumnOfScale.resize(scales);
  FittedColumns.resize(scales);
  FittedDx.resize(scales);
  NearTwo.resize(run.FitScale.size());
  for (std::size_t k = 0; k < scales; ++k) {
    if (run.ScaleLen[k] != previous_len) {
      ColumnScale.push_back(static_cast<std::int32_t>(k));
      previous_len = run.ScaleLen[k];
    }
    ColumnOfScale[k] = static_cast<std::int32_t>(ColumnScale.size() - 1);
  }
  Columns.resize(detail::TableSize(std::int64_t(ColumnScale.size()), kMoments));
  std::vector<std::int32_t> lengths;
  for (const std::int32_t k : ColumnScale) {
    lengths.push_back(run.ScaleLen[static_cast<std::size_t>(k)]);
  }
  Reuse = SegmentReuse(run.Params, lengths);
}

bool VectorKernelsTake(const RunConstants& run) {
  // Segments from both ends and the log s abscissa run on the plain path.
  return IsDefaultMomentGrid(run.Params.Method) &&
         run.Params.Method.Segments == SegmentCut::kStart &&
         run.Params.Method.Abscissa == FitAbscissa::kGrid &&
         run.QGrid.size() == kMoments && run.FitBegin < run.FitEnd;
}

SpectrumSummary AnalyseWindowFast(const RunConstants& run, FastWorkspace& work,
                                  std::span<const double> values) {
  assert(values.size() == static_cast<std::size_t>(run.Params.Lrec));
  work.Magnitude = MeasureWindow(values);
  const SegmentFloors floors = FloorsOf(run, work.Magnitude);
  work.Counts = SegmentCounts{};
  work.Counts.LongestFlatRun = work.Magnitude.LongestFlatRun;
  const std::size_t scales = run.LogScale.size();
  const std::size_t columns = work.ColumnScale.size();
  for (std::size_t c = 0; c < columns; ++c) {
    const std::int32_t first = work.ColumnScale[c];
    const std::int32_t next = c + 1 < columns
                                  ? work.ColumnScale[c + 1]
                                  : static_cast<std::int32_t>(scales);
    FillColumn(run, work, values, static_cast<std::size_t>(first), next - first,
               floors, work.Columns.data() + c * kMoments);
    if (work.Tick) work.Tick(run.Params.Lrec);
  }
  if (!work.Fq.empty()) {
    for (std::size_t k = 0; k < scales; ++k) {
      const double* column =
          work.Columns.data() +
          static_cast<std::size_t>(work.ColumnOfScale[k]) * kMoments;
      std::copy_n(column, kMoments, work.Fq.data() + k * kMoments);
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
  if (HWY_DYNAMIC_DISPATCH(NotAllPositiveImpl)(
          work.Columns.data() + first_fitted * kMoments,
          (last_fitted - first_fitted + 1) * kMoments)) {
    work.HurstQ.fill(std::numeric_limits<double>::quiet_NaN());
    work.TauQ.fill(std::numeric_limits<double>::quiet_NaN());
    work.AlfaGrid.fill(0.5);
    work.FAlfaGrid.fill(1.0);
    const SpectrumSummary summary =
        detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, {});
    work.Quality =
        JudgeQuality(run, true, work.Magnitude.AllFinite, work.Counts,
                     std::numeric_limits<double>::quiet_NaN(), summary);
    return summary;
  }

  numerics::Log10Elementwise(work.Columns, work.Columns);

  const double min_r_squared = RegressAndTransform(run, work);
  const SpectrumSummary summary =
      detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, work.Range);
  const std::size_t near_two = OrderNearTwo(run.QGrid);
  for (std::size_t i = 0; i < work.NearTwo.size(); ++i) {
    work.NearTwo[i] = work.FittedColumns[i][near_two];
  }
  const FitDiagnostics fits =
      DiagnoseFits(run, work.HurstQ, work.Sxy, work.Syy, work.NearTwo, summary);
  work.Quality = JudgeQuality(run, false, work.Magnitude.AllFinite, work.Counts,
                              min_r_squared, summary, &fits);
  return summary;
}

}  // namespace analysis
#endif  // HWY_ONCE
