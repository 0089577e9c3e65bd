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
    : FluctTable(detail::TableSize(std::int64_t(run.QGrid.size()),
                                   std::int64_t(run.LogScale.size()))),
      HurstQ(run.QGrid.size()),
      TauQ(run.QGrid.size()),
      AlfaGrid(kAlfas),
      FAlfaGrid(kAlfas),
      SegmentBuf(detail::TableSize(1, run.MaxScale)),
      TrendFit(detail::TableSize(1, run.MaxScale)) {
  if (run.Params.TrendOrder >= 2 && run.DetrendBasis.empty()) {
    Basis.Rebuild(run.MaxScale, run.Params.TrendOrder);  // full capacity
  }
}

void ComputeFluctuations(const RunConstants& run, Workspace& work,
                         std::span<const double> values) {
  const std::int32_t lrec = run.Params.Lrec;
  const std::size_t moments = run.QGrid.size();
  const std::size_t scales = run.LogScale.size();
  assert(values.size() == static_cast<std::size_t>(lrec));
  assert(work.FluctTable.size() == moments * scales);

  std::fill(work.FluctTable.begin(), work.FluctTable.end(), 0.0);
  double* const segment = work.SegmentBuf.data();

  for (std::size_t k = 0; k < scales; ++k) {
    const std::int32_t segment_len = run.ScaleLen[k];
    assert(segment_len >= 2 && segment_len <= run.MaxScale);
    const std::int32_t segment_count = lrec / segment_len;
    const auto n = static_cast<std::size_t>(segment_len);
    double* const column = work.FluctTable.data() + k * moments;

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
        for (std::size_t j = 0; j < moments; ++j) {
          column[j] = column[j] + std::pow(range, run.QGrid[j]);
        }
      }
    }

    const double divisor = static_cast<double>(segment_count);
    for (std::size_t j = 0; j < moments; ++j) {
      const double e = 1.0 / run.QGrid[j];
      column[j] = std::pow(column[j] / divisor, e);
    }
  }
}

namespace detail {

AlfaRange SampleSpectrum(std::span<const double> q_grid,
                         std::span<const double> diff_span,
                         std::span<const double> tau_q,
                         std::span<double> alfa_grid,
                         std::span<double> f_alfa_grid) {
  assert(tau_q.size() == q_grid.size() && alfa_grid.size() == kAlfas &&
         f_alfa_grid.size() == kAlfas);
  // Central differences of tau at q[2..size-3], two grid steps to each side.
  AlfaRange range{kAlfaSentinel, -kAlfaSentinel};
  for (std::size_t k = 0; k < diff_span.size(); ++k) {
    const double a = (tau_q[k + 4] - tau_q[k]) / diff_span[k];
    if (a > range.AlfaMax) range.AlfaMax = a;
    if (a < range.AlfaMin) range.AlfaMin = a;
  }

  const double d = (range.AlfaMax - range.AlfaMin) / 99.0;
  double counter = 0.0;
  for (double& alfa : alfa_grid) {
    alfa = d * counter + range.AlfaMin;
    counter += 1.0;
  }

  // Legendre transform over all orders; a NaN term never replaces the
  // running minimum.
  for (std::size_t m = 0; m < kAlfas; ++m) {
    double v = kAlfaSentinel;
    for (std::size_t j = 0; j < q_grid.size(); ++j) {
      const double w = alfa_grid[m] * q_grid[j] - tau_q[j];
      if (w < v) v = w;
    }
    f_alfa_grid[m] = v >= 0.0 ? v : 0.0;
  }
  return range;
}

SpectrumSummary ReadOffSummary(std::span<const double> alfa_grid,
                               std::span<const double> f_alfa_grid,
                               AlfaRange range) {
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
  const std::size_t moments = run.QGrid.size();
  assert(table.size() == moments * run.LogScale.size());
  // Only the fitted scales enter the spectrum: all of them by default.
  const std::span<double> fitted(table.data() + run.FitBegin * moments,
                                 (run.FitEnd - run.FitBegin) * moments);

  // Scale outer, order inner is the storage order. A NaN is never taken
  // unless it is the first entry.
  double smallest = fitted[0];
  for (const double f : fitted) {
    if (f < smallest) smallest = f;
  }

  detail::AlfaRange range;
  if (smallest > 0.0) {
    for (double& f : fitted) f = std::log10(f);

    // Least-squares slope of log10 F(q, s) against the scale grid (not the
    // log of the integer segment length), every fitted scale with equal
    // weight.
    const double count = static_cast<double>(run.FitEnd - run.FitBegin);
    for (std::size_t j = 0; j < moments; ++j) {
      double sum = 0.0;
      for (std::size_t k = run.FitBegin; k < run.FitEnd; ++k) {
        sum += table[k * moments + j];
      }
      const double mean = sum / count;
      double sxy = 0.0;
      for (std::size_t k = run.FitBegin; k < run.FitEnd; ++k) {
        sxy += (table[k * moments + j] - mean) *
               (run.LogScale[k] - run.LogScaleMean);
      }
      const double hurst = sxy / run.LogScaleSumSq;
      work.HurstQ[j] = hurst;
      work.TauQ[j] = hurst * run.QGrid[j] - 1.0;
    }
    range = detail::SampleSpectrum(run.QGrid, run.AlfaDiffSpan, work.TauQ,
                                   work.AlfaGrid, work.FAlfaGrid);
  } else {
    // Degenerate window (a scale without any positive range, an overflow to
    // 0, or a NaN first entry): a constant spectrum that reads off as
    // kDegenerateSummary. The table stays as it is; nothing of an earlier
    // window may pass for this one's exponents.
    std::fill(work.HurstQ.begin(), work.HurstQ.end(),
              std::numeric_limits<double>::quiet_NaN());
    std::fill(work.TauQ.begin(), work.TauQ.end(),
              std::numeric_limits<double>::quiet_NaN());
    std::fill(work.AlfaGrid.begin(), work.AlfaGrid.end(), 0.5);
    std::fill(work.FAlfaGrid.begin(), work.FAlfaGrid.end(), 1.0);
  }
  return detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, range);
}

SpectrumSummary AnalyseWindow(const RunConstants& run, Workspace& work,
                              std::span<const double> values) {
  ComputeFluctuations(run, work, values);
  return SummariseSpectrum(run, work);
}

}  // namespace analysis
