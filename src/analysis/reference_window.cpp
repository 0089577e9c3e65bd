#include "analysis/reference_window.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "analysis/spectrum_steps.h"
#include "analysis/table_size.h"

namespace analysis {

namespace {

constexpr std::size_t kMoments = kMomentCount;
constexpr std::size_t kScales = kScaleCount;
constexpr std::size_t kAlfas = kAlfaCount;

// Largest minus smallest of a detrended segment, both searches starting
// from the first value and moving only on strict inequality, so a NaN is
// never taken unless it comes first.
double SegmentRange(const double* segment, std::size_t n) {
  double largest = segment[0];
  double smallest = segment[0];
  for (std::size_t i = 1; i < n; ++i) {
    if (segment[i] > largest) largest = segment[i];
    if (segment[i] < smallest) smallest = segment[i];
  }
  return largest - smallest;
}

}  // namespace

Workspace::Workspace(const RunConstants& run)
    : FluctTable(detail::TableSize(kMomentCount, kScaleCount)),
      SegmentBuf(detail::TableSize(1, run.MaxScale)),
      TrendFit(detail::TableSize(1, run.MaxScale)) {
  if (run.Params.TrendOrder >= 2 && run.DetrendBasis.empty()) {
    Basis.Rebuild(run.MaxScale, run.Params.TrendOrder);  // full capacity
  }
}

void ComputeFluctuations(const RunConstants& run, Workspace& work,
                         std::span<const double> values) {
  const std::int32_t lrec = run.Params.Lrec;
  assert(values.size() == static_cast<std::size_t>(lrec));
  assert(work.FluctTable.size() == kMoments * kScales);

  std::fill(work.FluctTable.begin(), work.FluctTable.end(), 0.0);
  double* const segment = work.SegmentBuf.data();

  for (std::size_t k = 0; k < kScales; ++k) {
    const std::int32_t segment_len = run.ScaleLen[k];
    assert(segment_len >= 2 && segment_len <= run.MaxScale);
    const std::int32_t segment_count = lrec / segment_len;
    const auto n = static_cast<std::size_t>(segment_len);
    double* const column = work.FluctTable.data() + k * kMoments;

    // Segments run forward from the window's first value; the last
    // lrec - segment_count * n values are not used at this scale.
    for (std::size_t v = 0; v < static_cast<std::size_t>(segment_count); ++v) {
      std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(v * n), n,
                  segment);
      if (run.Params.TrendOrder == 1) {
        numerics::LTREND_8(segment, segment_len);
      } else {
        const numerics::OrthonormalPolynomialBasis& basis =
            DetrendBasisFor(run, k, work.Basis);
        basis.Fit(std::span<const double>(segment, n),
                  std::span<double>(work.TrendFit.data(), n));
        for (std::size_t i = 0; i < n; ++i) {
          segment[i] = segment[i] - work.TrendFit[i];
        }
      }

      // A segment without a positive range (flat, or NaN) adds nothing but
      // still counts in the divisor.
      const double range = SegmentRange(segment, n);
      if (range > 0.0) {
        for (std::size_t j = 0; j < kMoments; ++j) {
          column[j] = column[j] + std::pow(range, run.QGrid[j]);
        }
      }
    }

    const double divisor = static_cast<double>(segment_count);
    for (std::size_t j = 0; j < kMoments; ++j) {
      const double e = 1.0 / run.QGrid[j];
      column[j] = std::pow(column[j] / divisor, e);
    }
  }
}

namespace detail {

AlfaRange SampleSpectrum(const std::array<double, kMomentCount>& q_grid,
                         const std::array<double, kMomentCount>& tau_q,
                         std::array<double, kAlfaCount>& alfa_grid,
                         std::array<double, kAlfaCount>& f_alfa_grid) {
  // Central differences of tau at q[2..197], two grid steps to each side.
  AlfaRange range{kAlfaSentinel, -kAlfaSentinel};
  for (std::size_t k = 0; k + 4 < kMoments; ++k) {
    const double a = (tau_q[k + 4] - tau_q[k]) / kAlfaDiffSpan;
    if (a > range.AlfaMax) range.AlfaMax = a;
    if (a < range.AlfaMin) range.AlfaMin = a;
  }

  const double d = (range.AlfaMax - range.AlfaMin) / 99.0;
  double counter = 0.0;
  for (double& alfa : alfa_grid) {
    alfa = d * counter + range.AlfaMin;
    counter += 1.0;
  }

  // Legendre transform over all 200 orders; a NaN term never replaces the
  // running minimum.
  for (std::size_t m = 0; m < kAlfas; ++m) {
    double v = kAlfaSentinel;
    for (std::size_t j = 0; j < kMoments; ++j) {
      const double w = alfa_grid[m] * q_grid[j] - tau_q[j];
      if (w < v) v = w;
    }
    f_alfa_grid[m] = v >= 0.0 ? v : 0.0;
  }
  return range;
}

SpectrumSummary ReadOffSummary(
    const std::array<double, kAlfaCount>& alfa_grid,
    const std::array<double, kAlfaCount>& f_alfa_grid, AlfaRange range) {
  SpectrumSummary summary;
  double largest = -kAlfaSentinel;
  for (std::size_t m = 0; m < kAlfas; ++m) {
    if (f_alfa_grid[m] > largest) {
      largest = f_alfa_grid[m];
      summary.AlfaSz = alfa_grid[m];
    }
  }
  summary.FAlfaSz = largest;

  summary.AlfaMin = range.AlfaMin;
  for (std::size_t m = 0; m < kAlfas; ++m) {
    if (f_alfa_grid[m] > 0.0) {
      summary.AlfaMin = alfa_grid[m];
      break;
    }
  }
  summary.AlfaMax = range.AlfaMax;
  for (std::size_t m = kAlfas; m-- > 0;) {
    if (f_alfa_grid[m] > 0.0) {
      summary.AlfaMax = alfa_grid[m];
      break;
    }
  }
  summary.AlfaWidth = summary.AlfaMax - summary.AlfaMin;
  return summary;
}

}  // namespace detail

SpectrumSummary SummariseSpectrum(const RunConstants& run, Workspace& work) {
  std::vector<double>& table = work.FluctTable;
  assert(table.size() == kMoments * kScales);

  // Scale outer, order inner is the storage order. A NaN is never taken
  // unless it is the first entry.
  double smallest = table[0];
  for (const double f : table) {
    if (f < smallest) smallest = f;
  }

  detail::AlfaRange range;
  if (smallest > 0.0) {
    for (double& f : table) f = std::log10(f);

    // Least-squares slope of log10 F(q, s) against the scale grid (not the
    // log of the integer segment length), all 200 scales with equal weight.
    for (std::size_t j = 0; j < kMoments; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < kScales; ++k) sum += table[k * kMoments + j];
      const double mean = sum / 200.0;
      double sxy = 0.0;
      for (std::size_t k = 0; k < kScales; ++k) {
        sxy += (table[k * kMoments + j] - mean) *
               (run.LogScale[k] - run.LogScaleMean);
      }
      const double hurst = sxy / run.LogScaleSumSq;
      work.HurstQ[j] = hurst;
      work.TauQ[j] = hurst * run.QGrid[j] - 1.0;
    }
    range = detail::SampleSpectrum(run.QGrid, work.TauQ, work.AlfaGrid,
                                   work.FAlfaGrid);
  } else {
    // Degenerate window (a scale without any positive range, an overflow to
    // 0, or a NaN first entry): a constant spectrum that reads off as
    // kDegenerateSummary. The table stays as it is; nothing of an earlier
    // window may pass for this one's exponents.
    work.HurstQ.fill(std::numeric_limits<double>::quiet_NaN());
    work.TauQ.fill(std::numeric_limits<double>::quiet_NaN());
    work.AlfaGrid.fill(0.5);
    work.FAlfaGrid.fill(1.0);
  }
  return detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, range);
}

SpectrumSummary AnalyseWindow(const RunConstants& run, Workspace& work,
                              std::span<const double> values) {
  ComputeFluctuations(run, work, values);
  return SummariseSpectrum(run, work);
}

}  // namespace analysis
