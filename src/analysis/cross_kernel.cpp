#include "analysis/cross_kernel.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "analysis/segment_measure.h"
#include "analysis/table_size.h"
#include "analysis/window_null.h"
#include "analysis/window_quality.h"
#include "numerics/elementary.h"

namespace analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRankSlack = 1e-9;

// Detrends the `n` values at `segment` in place by the run's polynomial of
// scale `scale`, as the straightforward kernel does.
void Detrend(const RunConstants& run, std::size_t scale, Workspace& work,
             double* segment, std::int32_t n) {
  if (run.Params.TrendOrder == 1) {
    numerics::LTREND_8(segment, n);
    return;
  }
  const auto len = static_cast<std::size_t>(n);
  const numerics::OrthonormalPolynomialBasis& basis =
      DetrendBasisFor(run, scale, work.Basis);
  basis.Fit(std::span<const double>(segment, len),
            std::span<double>(work.TrendFit.data(), len));
  for (std::size_t i = 0; i < len; ++i) {
    segment[i] = segment[i] - work.TrendFit[i];
  }
}

// The covariance and the two variances of one detrended segment pair.
struct SegmentMoments {
  double Cov = 0.0;
  double VarX = 0.0;
  double VarY = 0.0;
};

// Where segment `v` of a scale starts: the first `sides` from the window's
// start, the others after the `tail` samples left over, towards its end.
std::size_t SegmentStart(std::size_t v, std::size_t sides, std::size_t n,
                         std::size_t tail) {
  return v < sides ? v * n : tail + (v - sides) * n;
}

// The segments of x and y at `start` of scale index `k` detrended in the
// cross workspace's buffers, and their moments, sums in ascending i.
SegmentMoments MomentsOf(const RunConstants& run, std::size_t k,
                         CrossWorkspace& work, std::span<const double> x,
                         std::span<const double> y, std::size_t start) {
  const std::int32_t segment_len = run.ScaleLen[k];
  const auto n = static_cast<std::size_t>(segment_len);
  double* const sx = work.Cross.SegmentBuf.data();
  double* const sy = work.SegmentY.data();
  std::copy_n(x.begin() + static_cast<std::ptrdiff_t>(start), n, sx);
  std::copy_n(y.begin() + static_cast<std::ptrdiff_t>(start), n, sy);
  Detrend(run, k, work.Cross, sx, segment_len);
  Detrend(run, k, work.Cross, sy, segment_len);
  double sxy = 0.0;
  double sxx = 0.0;
  double syy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sxy += sx[i] * sy[i];
    sxx += sx[i] * sx[i];
    syy += sy[i] * sy[i];
  }
  const auto len = static_cast<double>(n);
  return SegmentMoments{sxy / len, sxx / len, syy / len};
}

// The least-squares slope of log10 sqrt(|F2_xy|) over the fit points.
double CrossExponent(const RunConstants& run, std::span<const double> cov) {
  const std::size_t points = run.FitScale.size();
  const auto y = [&](std::size_t i) {
    return numerics::Log10(std::sqrt(std::fabs(cov[run.FitScale[i]])));
  };
  double sum = 0.0;
  for (std::size_t i = 0; i < points; ++i) sum += y(i);
  const double mean = sum / static_cast<double>(points);
  double sxy = 0.0;
  for (std::size_t i = 0; i < points; ++i) {
    sxy += (y(i) - mean) * (run.FitLogScale[i] - run.LogScaleMean);
  }
  const double slope = sxy / run.LogScaleSumSq;
  return std::isfinite(slope) ? slope : kNaN;
}

}  // namespace

bool CrossTakes(const TableParams& params) {
  return params.Method.Measure == Fluctuation::kRms &&
         (params.Surrogates.Count == 0 ||
          params.Surrogates.Kind != numerics::SurrogateKind::kShuffle);
}

CrossWorkspace::CrossWorkspace(const RunConstants& run)
    : X(run),
      Y(run),
      Cross(run),
      SegmentY(detail::TableSize(1, run.MaxScale)),
      CovXY(run.LogScale.size()),
      FXX(run.LogScale.size()),
      FYY(run.LogScale.size()),
      Rho(run.LogScale.size()) {
  const auto count = static_cast<std::size_t>(run.Params.Surrogates.Count);
  if (count == 0) return;
  const std::size_t scales = run.LogScale.size();
  SurrogateRho.resize(count * scales);
  Source.resize(SurrogateSourceSize(run.Params));
  Magnitudes.resize(count);
  RhoCritical.resize(scales);
  RhoSignificant.resize(scales);
}

CrossSummary AnalyseCrossWindow(const RunConstants& run, CrossWorkspace& work,
                                std::span<const double> x,
                                std::span<const double> y) {
  assert(CrossTakes(run.Params));
  const std::int32_t lrec = run.Params.Lrec;
  assert(x.size() == static_cast<std::size_t>(lrec) && y.size() == x.size());
  CrossSummary out;
  out.X = AnalyseWindow(run, work.X, x);
  out.Y = AnalyseWindow(run, work.Y, y);

  Workspace& cross = work.Cross;
  const WindowMagnitude mx = MeasureWindow(x, kLeastStuckRun);
  const WindowMagnitude my = MeasureWindow(y, kLeastStuckRun);
  const SegmentFloors fx = FloorsOf(run, mx);
  const SegmentFloors fy = FloorsOf(run, my);
  const SegmentFloors floors{std::sqrt(fx.Rounding * fy.Rounding),
                             std::sqrt(fx.Zero * fy.Zero)};
  cross.Magnitude = WindowMagnitude{
      std::max(mx.Largest, my.Largest), std::max(mx.Spread, my.Spread),
      mx.AllFinite && my.AllFinite,
      std::max(mx.LongestFlatRun, my.LongestFlatRun),
      std::max(mx.StuckSamples, my.StuckSamples)};
  cross.Counts = SegmentCounts{};
  cross.Counts.LongestFlatRun = cross.Magnitude.LongestFlatRun;
  cross.Counts.StuckSamples = cross.Magnitude.StuckSamples;
  cross.EmptyFittedScale = false;
  std::fill(cross.FluctTable.begin(), cross.FluctTable.end(), 0.0);

  const std::size_t moments = run.QGrid.size();
  std::int64_t negative = 0;
  for (std::size_t k = 0; k < run.LogScale.size(); ++k) {
    const std::int32_t segment_len = run.ScaleLen[k];
    const std::int32_t per_side = lrec / segment_len;
    const std::int32_t segment_count =
        run.Params.Method.Segments == SegmentCut::kBoth ? 2 * per_side
                                                        : per_side;
    const auto n = static_cast<std::size_t>(segment_len);
    const auto sides = static_cast<std::size_t>(per_side);
    const std::size_t tail = static_cast<std::size_t>(lrec) - sides * n;
    double* const column = cross.FluctTable.data() + k * moments;
    std::int64_t counted = 0;
    double cov_sum = 0.0;
    double var_x_sum = 0.0;
    double var_y_sum = 0.0;
    for (std::size_t v = 0; v < static_cast<std::size_t>(segment_count); ++v) {
      const SegmentMoments m =
          MomentsOf(run, k, work, x, y, SegmentStart(v, sides, n, tail));
      const double cov = m.Cov;
      cov_sum += cov;
      var_x_sum += m.VarX;
      var_y_sum += m.VarY;
      negative += cov < 0.0 ? 1 : 0;

      const double fluctuation = std::sqrt(std::fabs(cov));
      cross.Counts.Floor += AtRoundingFloor(fluctuation, floors) ? 1 : 0;
      if (CountsAsZero(fluctuation, floors)) {
        cross.Counts.Zero += 1;
        continue;
      }
      ++counted;
      for (std::size_t j = 0; j < moments; ++j) {
        column[j] = column[j] + detail::MomentTerm(fluctuation, run.QGrid[j]);
      }
    }
    cross.Counts.Total += segment_count;
    if (counted == 0 && k >= run.FitBegin && k < run.FitEnd) {
      cross.EmptyFittedScale = true;
    }
    for (std::size_t j = 0; j < moments; ++j) {
      column[j] =
          detail::MomentMean(column[j], run.QGrid[j], counted, segment_count);
    }
    const auto g = static_cast<double>(segment_count);
    work.CovXY[k] = cov_sum / g;
    work.FXX[k] = std::sqrt(var_x_sum / g);
    work.FYY[k] = std::sqrt(var_y_sum / g);
    work.Rho[k] = work.CovXY[k] / (work.FXX[k] * work.FYY[k]);
  }
  if (!cross.Fq.empty()) {
    std::copy(cross.FluctTable.begin(), cross.FluctTable.end(),
              cross.Fq.begin());
  }
  out.NegativeShare = cross.Counts.Total > 0
                          ? static_cast<double>(negative) /
                                static_cast<double>(cross.Counts.Total)
                          : 0.0;
  out.Lambda = CrossExponent(run, work.CovXY);
  bool positive = false;
  bool negative_mean = false;
  for (const std::size_t k : run.FitScale) {
    positive |= work.CovXY[k] > 0.0;
    negative_mean |= work.CovXY[k] < 0.0;
  }
  out.SignChanges = positive && negative_mean;
  out.Cross = SummariseSpectrum(run, cross);
  return out;
}

void CrossRho(const RunConstants& run, CrossWorkspace& work,
              std::span<const double> x, std::span<const double> y,
              std::span<double> rho) {
  const std::int32_t lrec = run.Params.Lrec;
  assert(rho.size() == run.LogScale.size());
  for (std::size_t k = 0; k < run.LogScale.size(); ++k) {
    const std::int32_t segment_len = run.ScaleLen[k];
    const std::int32_t per_side = lrec / segment_len;
    const std::int32_t segment_count =
        run.Params.Method.Segments == SegmentCut::kBoth ? 2 * per_side
                                                        : per_side;
    const auto n = static_cast<std::size_t>(segment_len);
    const auto sides = static_cast<std::size_t>(per_side);
    const std::size_t tail = static_cast<std::size_t>(lrec) - sides * n;
    double cov_sum = 0.0;
    double var_x_sum = 0.0;
    double var_y_sum = 0.0;
    for (std::size_t v = 0; v < static_cast<std::size_t>(segment_count); ++v) {
      const SegmentMoments m =
          MomentsOf(run, k, work, x, y, SegmentStart(v, sides, n, tail));
      cov_sum += m.Cov;
      var_x_sum += m.VarX;
      var_y_sum += m.VarY;
    }
    const auto g = static_cast<double>(segment_count);
    rho[k] =
        (cov_sum / g) / (std::sqrt(var_x_sum / g) * std::sqrt(var_y_sum / g));
  }
}

std::int32_t RhoNull(const RunConstants& run, CrossWorkspace& work,
                     SurrogateFactory& factory, std::span<const double> x,
                     std::span<const double> y_raw, std::int64_t window_number,
                     double level) {
  const auto count = static_cast<std::size_t>(run.Params.Surrogates.Count);
  const std::size_t scales = run.LogScale.size();
  assert(count > 0 && work.SurrogateRho.size() == count * scales);
  SurrogateSource(run.Params, y_raw, work.Source);
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::span<const double> surrogate = factory.Make(
        work.Source, y_raw[0], window_number, static_cast<std::int32_t>(i));
    if (factory.LastAtCap()) continue;
    CrossRho(
        run, work, x, surrogate,
        std::span<double>(work.SurrogateRho).subspan(used * scales, scales));
    ++used;
  }
  for (std::size_t k = 0; k < scales; ++k) {
    std::size_t m = 0;
    for (std::size_t i = 0; i < used; ++i) {
      const double r = std::fabs(work.SurrogateRho[i * scales + k]);
      if (!std::isnan(r)) work.Magnitudes[m++] = r;
    }
    double critical = kNaN;
    if (m > 0) {
      std::sort(work.Magnitudes.begin(),
                work.Magnitudes.begin() + static_cast<std::ptrdiff_t>(m));
      // The order statistic of rank ceil(level (m + 1)), from 1; the slack
      // keeps 0.95 * 20 at 19 whatever its last bit.
      const double rank =
          std::ceil(level * static_cast<double>(m + 1) - kRankSlack);
      const auto order =
          std::clamp<std::size_t>(static_cast<std::size_t>(rank), 1, m);
      critical = work.Magnitudes[order - 1];
    }
    work.RhoCritical[k] = critical;
    work.RhoSignificant[k] = std::fabs(work.Rho[k]) > critical ? 1 : 0;
  }
  return static_cast<std::int32_t>(used);
}

}  // namespace analysis
