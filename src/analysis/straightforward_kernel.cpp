#include "analysis/straightforward_kernel.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "analysis/segment_measure.h"
#include "analysis/spectrum_steps.h"
#include "analysis/table_size.h"
#include "numerics/elementary.h"

namespace analysis {

namespace {

constexpr std::size_t kAlfas = kAlfaCount;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

Workspace::Workspace(const RunConstants& run)
    : FluctTable(detail::TableSize(std::int64_t(run.QGrid.size()),
                                   std::int64_t(run.LogScale.size()))),
      Fq(run.Params.Method.KeepFq ? FluctTable.size() : 0),
      HurstQ(run.QGrid.size()),
      Sxy(run.QGrid.size()),
      Syy(run.QGrid.size()),
      NearTwo(run.FitScale.size()),
      FittedColumns(run.FitScale.size()),
      TauQ(run.QGrid.size()),
      AlfaGrid(kAlfas),
      FAlfaGrid(kAlfas),
      Scaled(detail::TableSize(1, run.Params.Lrec)),
      SegmentBuf(detail::TableSize(1, run.MaxScale)),
      TrendFit(detail::TableSize(1, run.MaxScale)) {
  if (run.Params.TrendOrder >= 2 && run.DetrendBasis.empty()) {
    Basis.Rebuild(run.MaxScale, run.Params.TrendOrder);  // full capacity
  }
}

void ComputeFluctuations(const RunConstants& run, Workspace& work,
                         std::span<const double> given) {
  const std::int32_t lrec = run.Params.Lrec;
  const std::size_t moments = run.QGrid.size();
  const std::size_t scales = run.LogScale.size();
  const bool rms = run.Params.Method.Measure == Fluctuation::kRms;
  assert(given.size() == static_cast<std::size_t>(lrec));
  assert(work.FluctTable.size() == moments * scales);

  const ScaledWindow scaled =
      ScaleForPowerSums(run, given, work.Scaled, work.Magnitude);
  const std::span<const double> values = scaled.Values;
  const int unit_scale = scaled.Scale;
  const SegmentFloors floors = FloorsOf(run, work.Magnitude);
  work.Counts = SegmentCounts{};
  work.Counts.LongestFlatRun = work.Magnitude.LongestFlatRun;
  work.Counts.StuckSamples = work.Magnitude.StuckSamples;
  work.EmptyFittedScale = false;
  std::fill(work.FluctTable.begin(), work.FluctTable.end(), 0.0);
  double* const segment = work.SegmentBuf.data();

  for (std::size_t k = 0; k < scales; ++k) {
    const std::int32_t segment_len = run.ScaleLen[k];
    assert(segment_len >= 2 && segment_len <= run.MaxScale);
    const std::int32_t per_side = lrec / segment_len;
    const std::int32_t segment_count =
        run.Params.Method.Segments == SegmentCut::kBoth ? 2 * per_side
                                                        : per_side;
    const auto n = static_cast<std::size_t>(segment_len);
    const auto sides = static_cast<std::size_t>(per_side);
    // Where the segments cut from the end begin: they cover the window's
    // last sides * n values, in ascending position.
    const std::size_t tail = static_cast<std::size_t>(lrec) - sides * n;
    double* const column = work.FluctTable.data() + k * moments;
    std::int64_t counted = 0;

    // Segments run forward from the window's first value; with
    // SegmentCut::kStart the last lrec - per_side * n values are not used
    // at this scale, with kBoth the same count of segments follows, cut
    // from the window's last value backwards.
    for (std::size_t v = 0; v < static_cast<std::size_t>(segment_count); ++v) {
      const std::size_t start = v < sides ? v * n : tail + (v - sides) * n;
      std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(start), n,
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

      const double fluctuation = rms ? detail::SegmentRms(segment, n)
                                     : detail::SegmentRange(segment, n);
      work.Counts.Floor += AtRoundingFloor(fluctuation, floors) ? 1 : 0;
      // A segment that counts as zero (flat, NaN, or below the range
      // floor) adds nothing but still counts in the divisor.
      if (CountsAsZero(fluctuation, floors)) {
        work.Counts.Zero += 1;
        continue;
      }
      ++counted;
      for (std::size_t j = 0; j < moments; ++j) {
        column[j] = column[j] + detail::MomentTerm(fluctuation, run.QGrid[j]);
      }
    }
    work.Counts.Total += segment_count;
    if (counted == 0 && k >= run.FitBegin && k < run.FitEnd) {
      work.EmptyFittedScale = true;
    }

    for (std::size_t j = 0; j < moments; ++j) {
      column[j] =
          detail::MomentMean(column[j], run.QGrid[j], counted, segment_count);
    }
    if (work.Tick) work.Tick(lrec);
  }
  if (unit_scale != 0) {
    for (double& f : work.FluctTable) f = std::ldexp(f, -unit_scale);
  }
  if (!work.Fq.empty()) {
    std::copy(work.FluctTable.begin(), work.FluctTable.end(), work.Fq.begin());
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
  // Central differences of tau at q[2..size-3], two orders to each side.
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

bool UsesLegendreSummary(const RunConstants& run) {
  const MethodOptions& method = run.Params.Method;
  return method.Profile && method.Measure == Fluctuation::kRms &&
         run.QGrid.size() >= 2;
}

namespace {

// numpy.gradient's finite difference at order i: the coefficients c of
// alpha_i = sum of c[m] tau[First + m], m < Count.
struct Stencil {
  std::size_t First = 0;
  std::size_t Count = 0;
  std::array<double, 3> Coef{};
};

// numpy.gradient treats the steps as even only when they are the same
// double.
bool EvenSteps(std::span<const double> q) {
  const double step = q[1] - q[0];
  for (std::size_t j = 1; j + 1 < q.size(); ++j) {
    if (q[j + 1] - q[j] != step) return false;
  }
  return true;
}

// alpha_i, each case in numpy.gradient's own expression so that the values
// are its values.
double GradientAt(std::span<const double> q, std::span<const double> tau,
                  std::size_t i, bool even) {
  const std::size_t last = q.size() - 1;
  if (i == 0) return (tau[1] - tau[0]) / (q[1] - q[0]);
  if (i == last) return (tau[last] - tau[last - 1]) / (q[last] - q[last - 1]);
  if (even) return (tau[i + 1] - tau[i - 1]) / (2.0 * (q[1] - q[0]));
  const double dx1 = q[i] - q[i - 1];
  const double dx2 = q[i + 1] - q[i];
  const double a = -(dx2) / (dx1 * (dx1 + dx2));
  const double b = (dx2 - dx1) / (dx1 * dx2);
  const double c = dx1 / (dx2 * (dx1 + dx2));
  return a * tau[i - 1] + b * tau[i] + c * tau[i + 1];
}

Stencil StencilAt(std::span<const double> q, std::size_t i, bool even) {
  const std::size_t last = q.size() - 1;
  if (i == 0 || i == last) {
    const std::size_t first = i == 0 ? 0 : last - 1;
    const double step = q[first + 1] - q[first];
    return Stencil{first, 2, {-1.0 / step, 1.0 / step, 0.0}};
  }
  if (even) {
    const double twice = 2.0 * (q[1] - q[0]);
    return Stencil{i - 1, 3, {-1.0 / twice, 0.0, 1.0 / twice}};
  }
  const double dx1 = q[i] - q[i - 1];
  const double dx2 = q[i + 1] - q[i];
  return Stencil{i - 1,
                 3,
                 {-(dx2) / (dx1 * (dx1 + dx2)), (dx2 - dx1) / (dx1 * dx2),
                  dx1 / (dx2 * (dx1 + dx2))}};
}

}  // namespace

LegendreReadOff ReadOffLegendre(std::span<const double> q_grid,
                                std::span<const double> tau_q) {
  assert(q_grid.size() >= 2 && tau_q.size() == q_grid.size());
  const bool even = EvenSteps(q_grid);
  std::size_t min_at = 0;
  std::size_t max_at = 0;
  double alfa_min = GradientAt(q_grid, tau_q, 0, even);
  double alfa_max = alfa_min;
  LegendreReadOff out;
  out.Summary.AlfaSz = alfa_min;
  out.Summary.FAlfaSz = q_grid[0] * alfa_min - tau_q[0];
  for (std::size_t j = 1; j < q_grid.size(); ++j) {
    const double alfa = GradientAt(q_grid, tau_q, j, even);
    const double f = q_grid[j] * alfa - tau_q[j];
    if (alfa < alfa_min) {
      alfa_min = alfa;
      min_at = j;
    }
    if (alfa > alfa_max) {
      alfa_max = alfa;
      max_at = j;
    }
    if (f > out.Summary.FAlfaSz) {
      out.Summary.FAlfaSz = f;
      out.Summary.AlfaSz = alfa;
    }
  }
  out.Summary.AlfaMin = alfa_min;
  out.Summary.AlfaMax = alfa_max;
  out.Summary.AlfaWidth = alfa_max - alfa_min;

  // alpha_i = sum of c tau = sum of c q h (the -1 of tau cancels): the
  // width's h weights, those of AlfaMax less those of AlfaMin.
  const std::array<std::pair<std::size_t, double>, 2> ends{
      {{max_at, 1.0}, {min_at, -1.0}}};
  for (const auto& [at, sign] : ends) {
    const Stencil st = StencilAt(q_grid, at, even);
    for (std::size_t m = 0; m < st.Count; ++m) {
      const std::size_t k = st.First + m;
      out.WidthTerms[out.TermCount++] = {k, sign * st.Coef[m] * q_grid[k]};
    }
  }
  return out;
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

  if (!(smallest > 0.0) || work.EmptyFittedScale) {
    // Degenerate window (a scale without any counted segment, which with
    // negative orders only shows as +infinity, an overflow to 0, or a NaN
    // first entry): a constant spectrum that reads off as
    // kDegenerateSummary. The table stays as it is; nothing of an earlier
    // window may pass for this one's exponents.
    std::fill(work.HurstQ.begin(), work.HurstQ.end(), kNaN);
    std::fill(work.TauQ.begin(), work.TauQ.end(), kNaN);
    std::fill(work.AlfaGrid.begin(), work.AlfaGrid.end(), 0.5);
    std::fill(work.FAlfaGrid.begin(), work.FAlfaGrid.end(), 1.0);
    const SpectrumSummary summary =
        detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, {});
    work.Quality = JudgeQuality(run, true, work.Magnitude.AllFinite,
                                work.Counts, kNaN, summary);
    return summary;
  }

  for (double& f : fitted) f = numerics::Log10(f);

  // Least-squares slope of log10 F(q, s) against the fit points' abscissa
  // (by default the scale grid, not the log of the integer segment length),
  // every point with equal weight; and its R^2 from the same deviations.
  const std::size_t points = run.FitScale.size();
  const double count = static_cast<double>(points);
  double min_r_squared = kNaN;
  for (std::size_t j = 0; j < moments; ++j) {
    double sum = 0.0;
    for (std::size_t i = 0; i < points; ++i) {
      sum += table[run.FitScale[i] * moments + j];
    }
    const double mean = sum / count;
    double sxy = 0.0;
    double syy = 0.0;
    for (std::size_t i = 0; i < points; ++i) {
      const double dy = table[run.FitScale[i] * moments + j] - mean;
      sxy += dy * (run.FitLogScale[i] - run.LogScaleMean);
      syy += dy * dy;
    }
    const double hurst = sxy / run.LogScaleSumSq;
    work.HurstQ[j] = hurst;
    work.Sxy[j] = sxy;
    work.Syy[j] = syy;
    work.TauQ[j] = hurst * run.QGrid[j] - 1.0;
    min_r_squared =
        SmallerRSquared(min_r_squared, RSquared(sxy, run.LogScaleSumSq, syy));
  }
  const std::size_t near_two = OrderNearTwo(run.QGrid);
  for (std::size_t i = 0; i < points; ++i) {
    work.NearTwo[i] = table[run.FitScale[i] * moments + near_two];
    work.FittedColumns[i] = table.data() + run.FitScale[i] * moments;
  }

  SpectrumSummary summary;
  if (run.AlfaDiffSpan.empty()) {
    // No order has two neighbours on each side: nothing to estimate alpha
    // from.
    std::fill(work.AlfaGrid.begin(), work.AlfaGrid.end(), kNaN);
    std::fill(work.FAlfaGrid.begin(), work.FAlfaGrid.end(), kNaN);
    summary = SpectrumSummary{kNaN, kNaN, kNaN, kNaN, kNaN};
  } else {
    const detail::AlfaRange range = detail::SampleSpectrum(
        run.QGrid, run.AlfaDiffSpan, work.TauQ, work.AlfaGrid, work.FAlfaGrid);
    summary = detail::ReadOffSummary(work.AlfaGrid, work.FAlfaGrid, range);
  }
  const FitDiagnostics fits =
      DiagnoseFits(run, work.HurstQ, work.Sxy, work.Syy, work.NearTwo,
                   work.FittedColumns, summary);
  work.Quality = JudgeQuality(run, false, work.Magnitude.AllFinite, work.Counts,
                              min_r_squared, summary, &fits);
  return detail::FinalSummary(run, work.TauQ, summary, work.Quality,
                              [&](std::size_t i, std::size_t j) {
                                return table[run.FitScale[i] * moments + j];
                              });
}

SpectrumSummary AnalyseWindow(const RunConstants& run, Workspace& work,
                              std::span<const double> values) {
  ComputeFluctuations(run, work, values);
  return SummariseSpectrum(run, work);
}

}  // namespace analysis
