#include "analysis/window_quality.h"

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/spectrum_steps.h"
#include "numerics/elementary.h"

namespace analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Sums of one least-squares line over points [first, last): the means'
// deviations' Sxx, Sxy and Syy, each one running total in ascending order.
struct LineSums {
  double Sxx = 0.0;
  double Sxy = 0.0;
  double Syy = 0.0;
  double Residual() const { return Syy - Sxy * Sxy / Sxx; }
  double Slope() const { return Sxy / Sxx; }
};

LineSums FitLine(std::span<const double> x, std::span<const double> y,
                 std::size_t first, std::size_t last) {
  double sum_x = 0.0;
  double sum_y = 0.0;
  for (std::size_t i = first; i < last; ++i) {
    sum_x += x[i];
    sum_y += y[i];
  }
  const auto n = static_cast<double>(last - first);
  const double mean_x = sum_x / n;
  const double mean_y = sum_y / n;
  LineSums s;
  for (std::size_t i = first; i < last; ++i) {
    const double dx = x[i] - mean_x;
    const double dy = y[i] - mean_y;
    s.Sxx += dx * dx;
    s.Sxy += dx * dy;
    s.Syy += dy * dy;
  }
  return s;
}

// Where the points (x[i], y[i]), x ascending, change slope (see kCrossover
// in the header): the index of the first point of the upper regime, or 0
// when one line does.
std::size_t CrossoverSplit(std::span<const double> x, std::span<const double> y,
                           double least_slope) {
  const std::size_t n = x.size();
  if (n < 2 * kCrossoverPoints) return 0;
  const double one = FitLine(x, y, 0, n).Residual();
  const double factor_two = numerics::Log10(2.0);
  double best = kNaN;
  std::size_t best_split = 0;
  double best_slopes = 0.0;
  for (std::size_t b = kCrossoverPoints; b + kCrossoverPoints <= n; ++b) {
    if (x[b - 1] - x[0] < factor_two || x[n - 1] - x[b] < factor_two) continue;
    const LineSums lower = FitLine(x, y, 0, b);
    const LineSums upper = FitLine(x, y, b, n);
    const double two = lower.Residual() + upper.Residual();
    if (!(two >= best)) {
      best = two;
      best_split = b;
      best_slopes = std::fabs(lower.Slope() - upper.Slope());
    }
  }
  if (!(best <= kCrossoverResidual * one) || !(best_slopes >= least_slope)) {
    return 0;
  }
  return best_split;
}

// The least-squares standard error of the slope of sum_t weight[t] *
// fitted[i][order[t]] over the fit points i against run.FitLogScale.
template <std::size_t N>
double CombinationError(const RunConstants& run,
                        std::span<const double* const> fitted,
                        const std::size_t (&order)[N],
                        const double (&weight)[N]) {
  return SlopeErrorOf(run, fitted.size(), [&](std::size_t i) {
    double z = 0.0;
    for (std::size_t t = 0; t < N; ++t) z += weight[t] * fitted[i][order[t]];
    return z;
  });
}

// WidthSe (see FitDiagnostics): the extreme central differences of tau
// found as the alpha search finds them, then the error of their
// difference as one combination of four orders.
double WidthError(const RunConstants& run, std::span<const double> hurst,
                  std::span<const double* const> fitted) {
  const std::vector<double>& q = run.QGrid;
  const auto tau = [&](std::size_t j) { return hurst[j] * q[j] - 1.0; };
  std::size_t largest = 0;
  std::size_t smallest = 0;
  double high = -detail::kAlfaSentinel;
  double low = detail::kAlfaSentinel;
  bool any = false;
  for (std::size_t k = 0; k < run.AlfaDiffSpan.size(); ++k) {
    const double a = (tau(k + 4) - tau(k)) / run.AlfaDiffSpan[k];
    if (a > high) {
      high = a;
      largest = k;
      any = true;
    }
    if (a < low) {
      low = a;
      smallest = k;
    }
  }
  if (!any) return kNaN;
  const double up = 1.0 / run.AlfaDiffSpan[largest];
  const double down = 1.0 / run.AlfaDiffSpan[smallest];
  const std::size_t order[4] = {largest + 4, largest, smallest + 4, smallest};
  const double weight[4] = {q[largest + 4] * up, -q[largest] * up,
                            -q[smallest + 4] * down, q[smallest] * down};
  return CombinationError(run, fitted, order, weight);
}

}  // namespace

WindowMagnitude MeasureWindow(std::span<const double> values,
                              std::int64_t stuck_run) {
  WindowMagnitude m;
  bool any = false;
  double largest = 0.0;
  double smallest = 0.0;
  for (const double v : values) {
    if (!std::isfinite(v)) {
      m.AllFinite = false;
      continue;
    }
    const double magnitude = std::fabs(v);
    if (magnitude > m.Largest) m.Largest = magnitude;
    if (!any || v > largest) largest = v;
    if (!any || v < smallest) smallest = v;
    any = true;
  }
  m.Spread = largest - smallest;
  // A run of n values has n - 2 second differences near 0.
  const double tolerance = kResidueFloor * m.Largest;
  std::int64_t run = 0;
  const auto end_run = [&m, stuck_run](std::int64_t length) {
    if (length > 0 && stuck_run > 0 && length + 2 >= stuck_run) {
      m.StuckSamples += length + 2;
    }
  };
  for (std::size_t i = 1; i + 1 < values.size(); ++i) {
    const double second =
        (values[i + 1] - values[i]) - (values[i] - values[i - 1]);
    if (std::fabs(second) <= tolerance) {
      ++run;
    } else {
      end_run(run);
      run = 0;
    }
    if (run + 2 > m.LongestFlatRun) m.LongestFlatRun = run + 2;
  }
  end_run(run);
  if (m.LongestFlatRun == 2) m.LongestFlatRun = 0;  // no run at all
  return m;
}

int PowerSumScale(const RunConstants& run, const WindowMagnitude& m) {
  if (!(m.Largest > 0.0) || !std::isfinite(m.Largest)) return 0;
  double most_order = 0.0;
  for (const double q : run.QGrid) {
    if (std::fabs(q) > most_order) most_order = std::fabs(q);
  }
  if (most_order == 0.0) return 0;
  const int exponent = std::ilogb(m.Largest);
  const double count_bits =
      std::ceil(std::log2(static_cast<double>(run.Params.Lrec)));
  const double e = exponent;
  const bool safe = most_order * (e + 5.0) + count_bits <= 1023.0 &&
                    most_order * (44.0 - e) + count_bits <= 1022.0;
  return safe ? 0 : 19 - exponent;
}

ScaledWindow ScaleForPowerSums(const RunConstants& run,
                               std::span<const double> given,
                               std::span<double> scaled,
                               WindowMagnitude& magnitude) {
  magnitude = MeasureWindow(given, kLeastStuckRun);
  const int scale = PowerSumScale(run, magnitude);
  if (scale == 0) return {given, 0};
  for (std::size_t i = 0; i < given.size(); ++i) {
    scaled[i] = std::ldexp(given[i], scale);
  }
  const std::span<const double> values = scaled.first(given.size());
  magnitude = MeasureWindow(values, kLeastStuckRun);
  return {values, scale};
}

SegmentFloors FloorsOf(const RunConstants& run, const WindowMagnitude& m) {
  SegmentFloors floors;
  const double spread_floor = kRoundingFloor * m.Spread;
  const double residue_floor = kResidueFloor * m.Largest;
  floors.Rounding = spread_floor > residue_floor ? spread_floor : residue_floor;
  floors.Zero = run.Params.Method.RangeFloor * m.Largest;
  return floors;
}

double SlopeError(double sxy, double sxx, double syy, std::size_t n) {
  if (n < 3) return kNaN;
  double residual = syy - sxy * sxy / sxx;
  // Rounding can leave a perfect fit's residual slightly negative.
  if (residual < 0.0) residual = 0.0;
  return std::sqrt(residual / static_cast<double>(n - 2) / sxx);
}

std::size_t OrderNearTwo(std::span<const double> q_grid) {
  std::size_t best = 0;
  for (std::size_t j = 1; j < q_grid.size(); ++j) {
    if (std::fabs(q_grid[j] - 2.0) < std::fabs(q_grid[best] - 2.0)) best = j;
  }
  return best;
}

OrderBlend OrdersAroundTwo(std::span<const double> q_grid) {
  OrderBlend blend;
  if (q_grid.empty() || !(q_grid.front() < 2.0)) return blend;
  std::size_t upper = 1;
  while (upper < q_grid.size() && q_grid[upper] < 2.0) ++upper;
  blend.Lower = upper - 1;
  if (upper == q_grid.size()) {
    blend.Upper = blend.Lower;
  } else if (q_grid[upper] == 2.0) {
    blend.Lower = blend.Upper = upper;
  } else {
    blend.Upper = upper;
    blend.Weight =
        (2.0 - q_grid[blend.Lower]) / (q_grid[upper] - q_grid[blend.Lower]);
  }
  return blend;
}

FitDiagnostics DiagnoseFits(const RunConstants& run,
                            std::span<const double> hurst,
                            std::span<const double> sxy,
                            std::span<const double> syy,
                            std::span<const double> near_two,
                            std::span<const double* const> fitted,
                            const SpectrumSummary& summary) {
  FitDiagnostics d;
  for (const double h : hurst) {
    if (!std::isfinite(h)) d.Overflow = true;
  }
  if (!run.AlfaDiffSpan.empty()) {
    const bool sentinel =
        !(std::fabs(summary.AlfaMin) < detail::kAlfaSentinel) ||
        !(std::fabs(summary.AlfaMax) < detail::kAlfaSentinel);
    if (sentinel || !(summary.AlfaWidth >= 0.0)) d.Overflow = true;
  }
  const OrderBlend two = OrdersAroundTwo(run.QGrid);
  if (two.Lower == two.Upper) {
    d.H2Se = SlopeError(sxy[two.Lower], run.LogScaleSumSq, syy[two.Lower],
                        run.FitScale.size());
  } else {
    const std::size_t order[2] = {two.Lower, two.Upper};
    const double weight[2] = {1.0 - two.Weight, two.Weight};
    d.H2Se = CombinationError(run, fitted, order, weight);
  }
  d.WidthSe = WidthError(run, hurst, fitted);
  // R^2 alone is small wherever h(q) is near 0, however close the points
  // lie to their line; only a scatter that matters counts.
  const std::size_t points = run.FitScale.size();
  for (std::size_t j = 0; j < sxy.size() && points > 2; ++j) {
    const double residual = syy[j] - sxy[j] * sxy[j] / run.LogScaleSumSq;
    const double spread = std::sqrt((residual > 0.0 ? residual : 0.0) /
                                    static_cast<double>(points - 2));
    if (spread > kPoorFitSpread && RSquared(sxy[j], run.LogScaleSumSq, syy[j]) <
                                       run.Params.Method.PoorFitR2) {
      d.PoorFit = true;
    }
  }
  const std::size_t split = CrossoverSplit(run.FitLogScale, near_two,
                                           run.Params.Method.CrossoverSlope);
  d.CrossoverScale =
      split > 0 ? static_cast<double>(run.ScaleLen[run.FitScale[split]]) : kNaN;
  return d;
}

bool FlatRunIsLong(const RunConstants& run, std::int64_t flat_run) {
  if (run.FitScale.empty() || flat_run == 0) return false;
  return 3 * flat_run >= 2 * std::int64_t{run.ScaleLen[run.FitScale.front()]};
}

bool StuckRunsAreMany(const RunConstants& run, std::int64_t stuck_samples) {
  return stuck_samples > 0 &&
         static_cast<double>(stuck_samples) >=
             kStuckShare * static_cast<double>(run.Params.Lrec);
}

bool ShortForOrder(const RunConstants& run) {
  if (run.FitScale.empty()) return false;
  return run.ScaleLen[run.FitScale.front()] <
         kShortSegmentFactor * (run.Params.TrendOrder + 2);
}

WindowQuality JudgeQuality(const RunConstants& run, bool degenerate,
                           bool all_finite, const SegmentCounts& counts,
                           double min_r_squared, const SpectrumSummary& summary,
                           const FitDiagnostics* fits) {
  WindowQuality quality;
  const auto total = static_cast<double>(counts.Total);
  quality.ZeroShare = static_cast<double>(counts.Zero) / total;
  quality.FloorShare = static_cast<double>(counts.Floor) / total;
  quality.MinRSquared = min_r_squared;
  quality.H2Se = fits != nullptr ? fits->H2Se : kNaN;
  quality.WidthSe = fits != nullptr ? fits->WidthSe : kNaN;
  quality.CrossoverScale = fits != nullptr ? fits->CrossoverScale : kNaN;
  const bool spans_zero =
      !run.QGrid.empty() && run.QGrid.front() <= 0.0 && run.QGrid.back() >= 0.0;
  if (degenerate) {
    quality.Status = QualityStatus::kDegenerate;
  } else if (!all_finite) {
    quality.Status = QualityStatus::kNonFiniteInput;
  } else if (fits != nullptr && fits->Overflow) {
    quality.Status = QualityStatus::kOverflow;
  } else if (counts.Floor > 0 || FlatRunIsLong(run, counts.LongestFlatRun) ||
             StuckRunsAreMany(run, counts.StuckSamples)) {
    quality.Status = QualityStatus::kFlatSegments;
  } else if (ShortForOrder(run)) {
    quality.Status = QualityStatus::kShortForOrder;
  } else if (fits != nullptr && std::isfinite(fits->CrossoverScale)) {
    quality.Status = QualityStatus::kCrossover;
  } else if (fits != nullptr && fits->PoorFit) {
    quality.Status = QualityStatus::kPoorFit;
  } else if (spans_zero && std::isfinite(summary.FAlfaSz) &&
             summary.FAlfaSz < 1.0 - kConcavityTolerance) {
    quality.Status = QualityStatus::kNotConcave;
  }
  return quality;
}

}  // namespace analysis
