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
#include "numerics/segment_ranges.h"

namespace analysis {
namespace {

constexpr std::size_t kMoments = kMomentCount;
constexpr std::size_t kScales = kScaleCount;

// F(q, s) of one segment length into `column`: the positive ranges of the
// detrended segments, their powers summed in segment order, then the q-th
// order mean over all `segment_count` segments.
void FillColumn(const RunConstants& run, FastWorkspace& work,
                std::span<const double> values, std::size_t scale,
                double* column) {
  const std::int32_t segment_len = run.ScaleLen[scale];
  const std::int32_t segment_count = run.Params.Lrec / segment_len;
  const std::span<double> ranges(work.Ranges.data(),
                                 static_cast<std::size_t>(segment_count));
  if (run.Params.TrendOrder == 1) {
    numerics::LineDetrendedRanges(values, segment_len, segment_count, ranges,
                                  work.SegmentBuf);
  } else {
    numerics::PolynomialDetrendedRanges(DetrendBasisFor(run, scale, work.Basis),
                                        values, segment_count, ranges,
                                        work.SegmentBuf);
  }
  // A segment without a positive range (flat, or NaN) adds nothing but
  // still counts in the divisor.
  std::size_t positive = 0;
  for (const double range : ranges) {
    if (range > 0.0) work.Ranges[positive++] = range;
  }

  std::fill_n(column, kMoments, 0.0);
  work.Powers.Accumulate(std::span<const double>(work.Ranges.data(), positive),
                         std::span<double>(column, kMoments));
  // The q-th order mean: (sum / g)^(1/q), with 1/q formed first.
  const double divisor = static_cast<double>(segment_count);
  for (std::size_t j = 0; j < kMoments; ++j) column[j] = column[j] / divisor;
  numerics::PowElementwise(std::span<const double>(column, kMoments),
                           work.InverseQ, std::span<double>(column, kMoments));
}

// tau(q) from the log10 columns, the alpha range and the Legendre
// transform, into `work`. Independent sums side by side in vector lanes:
// the regressions of all 200 orders (each order's sums still run over the
// 200 scales in ascending order, repeated columns included), then the
// running minima of all 100 alpha points (each over the orders in
// ascending order, replaced only by a strictly smaller value).
__attribute__((target_clones("avx512f", "avx2", "default"))) void
RegressAndTransform(const RunConstants& run, FastWorkspace& work) {
  std::array<double, kMoments> sum{};
  for (std::size_t k = 0; k < kScales; ++k) {
    const double* y =
        work.Columns.data() +
        static_cast<std::size_t>(work.ColumnOfScale[k]) * kMoments;
    for (std::size_t j = 0; j < kMoments; ++j) sum[j] += y[j];
  }
  std::array<double, kMoments> mean{};
  for (std::size_t j = 0; j < kMoments; ++j) mean[j] = sum[j] / 200.0;
  std::array<double, kMoments> sxy{};
  for (std::size_t k = 0; k < kScales; ++k) {
    const double* y =
        work.Columns.data() +
        static_cast<std::size_t>(work.ColumnOfScale[k]) * kMoments;
    const double dx = run.LogScale[k] - run.LogScaleMean;
    for (std::size_t j = 0; j < kMoments; ++j) {
      sxy[j] += (y[j] - mean[j]) * dx;
    }
  }
  for (std::size_t j = 0; j < kMoments; ++j) {
    work.HurstQ[j] = sxy[j] / run.LogScaleSumSq;
    work.TauQ[j] = work.HurstQ[j] * run.QGrid[j] - 1.0;
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

  std::array<double, kAlfaCount> v;
  v.fill(detail::kAlfaSentinel);
  for (std::size_t j = 0; j < kMoments; ++j) {
    const double q = run.QGrid[j];
    const double tau = work.TauQ[j];
    for (std::size_t m = 0; m < kAlfaCount; ++m) {
      const double w = work.AlfaGrid[m] * q - tau;
      v[m] = w < v[m] ? w : v[m];
    }
  }
  for (std::size_t m = 0; m < kAlfaCount; ++m) {
    work.FAlfaGrid[m] = v[m] >= 0.0 ? v[m] : 0.0;
  }
}

}  // namespace

FastWorkspace::FastWorkspace(const RunConstants& run)
    : SegmentBuf(detail::TableSize(numerics::kSegmentLanes, run.MaxScale)),
      Ranges(detail::TableSize(1, run.Params.Lrec)),
      Powers(run.QGrid) {
  for (std::size_t j = 0; j < kMoments; ++j) InverseQ[j] = 1.0 / run.QGrid[j];
  if (run.Params.TrendOrder >= 2 && run.DetrendBasis.empty()) {
    Basis.Rebuild(run.MaxScale, run.Params.TrendOrder);  // full capacity
  }
  std::int32_t previous_len = -1;
  for (std::size_t k = 0; k < kScales; ++k) {
    if (run.ScaleLen[k] != previous_len) {
      ColumnScale.push_back(static_cast<std::int32_t>(k));
      previous_len = run.ScaleLen[k];
    }
    ColumnOfScale[k] = static_cast<std::int32_t>(ColumnScale.size() - 1);
  }
  Columns.resize(detail::TableSize(std::int64_t(ColumnScale.size()), kMoments));
}

SpectrumSummary AnalyseWindowFast(const RunConstants& run, FastWorkspace& work,
                                  std::span<const double> values) {
  assert(values.size() == static_cast<std::size_t>(run.Params.Lrec));
  const std::size_t columns = work.ColumnScale.size();
  for (std::size_t c = 0; c < columns; ++c) {
    FillColumn(run, work, values, static_cast<std::size_t>(work.ColumnScale[c]),
               work.Columns.data() + c * kMoments);
  }

  // The table's minimum, scale outer and order inner from entry (1, 1);
  // a repeated column cannot lower it, and a NaN is never taken unless it
  // comes first.
  double smallest = work.Columns[0];
  for (const double f : work.Columns) {
    if (f < smallest) smallest = f;
  }
  if (!(smallest > 0.0)) {
    work.HurstQ.fill(std::numeric_limits<double>::quiet_NaN());
    work.TauQ.fill(std::numeric_limits<double>::quiet_NaN());
    work.AlfaGrid.fill(0.5);
    work.FAlfaGrid.fill(1.0);
    return detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, {});
  }

  numerics::Log10Elementwise(work.Columns, work.Columns);

  RegressAndTransform(run, work);
  return detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, work.Range);
}

}  // namespace analysis
