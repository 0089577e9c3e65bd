#include "analysis/run_constants.h"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "analysis/table_size.h"
#include "numerics/elementary.h"

namespace analysis {

std::vector<double> MomentOrders(const MethodOptions& method) {
  if (!method.QList.empty()) return method.QList;
  std::vector<double> q(detail::TableSize(1, method.QCount));
  if (q.size() == 1) {
    q[0] = method.QMin;
    return q;
  }
  // One step, taken once and multiplied by the order's (real) index; for
  // the defaults this is the double nearest to 20/199, and QMin added is
  // the same operation as 10 subtracted.
  const double step =
      (method.QMax - method.QMin) / static_cast<double>(method.QCount - 1);
  double counter = 0.0;
  for (double& x : q) {
    x = counter * step + method.QMin;
    counter += 1.0;
  }
  return q;
}

bool IsDefaultMomentGrid(const MethodOptions& method) {
  const MethodOptions defaults;
  return method.QList.empty() && method.QMin == defaults.QMin &&
         method.QMax == defaults.QMax && method.QCount == defaults.QCount;
}

void FillQGrid(RunConstants& run, const MethodOptions& method) {
  run.QGrid = MomentOrders(method);
  // Four steps of the described grid, 80/199 as its nearest double. Other
  // grids take each estimate's own span, so that uneven lists work too.
  constexpr double kDefaultSpan = 0.4020100502512563;
  static_assert(kDefaultSpan == 80.0 / 199.0);
  const bool is_default = IsDefaultMomentGrid(method);
  run.AlfaDiffSpan.clear();
  for (std::size_t k = 0; k + 4 < run.QGrid.size(); ++k) {
    run.AlfaDiffSpan.push_back(is_default ? kDefaultSpan
                                          : run.QGrid[k + 4] - run.QGrid[k]);
  }
}

std::int32_t MaxScaleOf(const TableParams& params) {
  return params.Method.MaxScale > 0 ? params.Method.MaxScale : params.Lrec / 5;
}

std::vector<double> LogScaleGrid(std::int32_t min_scale, std::int32_t max_scale,
                                 std::int32_t count) {
  assert(count >= 2);
  // Equal steps of the logarithm, the step taken once and multiplied by the
  // point's (real) index.
  const double a = numerics::Log10(static_cast<double>(min_scale));
  const double b = numerics::Log10(static_cast<double>(max_scale));
  const double step = (b - a) / static_cast<double>(count - 1);
  std::vector<double> grid(detail::TableSize(1, count));
  double counter = 0.0;
  for (double& x : grid) {
    x = a + counter * step;
    counter += 1.0;
  }
  return grid;
}

std::vector<std::int32_t> ScaleLengths(std::span<const double> log_scale) {
  // Truncation, not rounding: 10^log10(30) evaluates to 29.999999999999996,
  // and that scale is analysed with 29-sample segments.
  std::vector<std::int32_t> lengths(log_scale.size());
  for (std::size_t k = 0; k < log_scale.size(); ++k) {
    lengths[k] = static_cast<std::int32_t>(numerics::Pow(10.0, log_scale[k]));
  }
  return lengths;
}

ScaleSpan FitScales(std::span<const std::int32_t> scale_len,
                    std::int32_t fit_min, std::int32_t fit_max) {
  ScaleSpan span{0, scale_len.size()};
  while (span.First < span.Last && fit_min > 0 &&
         scale_len[span.First] < fit_min) {
    ++span.First;
  }
  while (span.Last > span.First && fit_max > 0 &&
         scale_len[span.Last - 1] > fit_max) {
    --span.Last;
  }
  return span;
}

void PrepareRun(RunConstants& run, const TableParams& params) {
  assert(params.TrendOrder >= 1 && params.TrendOrder <= 10);
  run.Params = params;
  FillQGrid(run, params.Method);
  run.MaxScale = MaxScaleOf(params);
  assert(params.MinScale >= 2 && run.MaxScale > params.MinScale &&
         run.MaxScale <= params.Lrec);

  run.LogScale =
      LogScaleGrid(params.MinScale, run.MaxScale, params.Method.ScaleCount);
  run.ScaleLen = ScaleLengths(run.LogScale);
  const ScaleSpan fit =
      FitScales(run.ScaleLen, params.Method.FitMin, params.Method.FitMax);
  run.FitBegin = fit.First;
  run.FitEnd = fit.Last;
  assert(run.FitEnd - run.FitBegin >= 2);

  // The abscissa of every regression. The described method takes the grid
  // values of the fitted scales (not the logs of their integer lengths),
  // duplicates included: for the default 200 scales the divisor is 200.0.
  // Truncation repeats the short lengths and bends the grid against log s,
  // which reads an exact power law s^h as about 1.005 h; FitAbscissa::kLogS
  // regresses on log s of each distinct length once, as textbook MF-DFA.
  run.FitScale.clear();
  run.FitLogScale.clear();
  for (std::size_t k = run.FitBegin; k < run.FitEnd; ++k) {
    if (params.Method.Abscissa == FitAbscissa::kGrid) {
      run.FitScale.push_back(k);
      run.FitLogScale.push_back(run.LogScale[k]);
    } else if (k == run.FitBegin || run.ScaleLen[k] != run.ScaleLen[k - 1]) {
      run.FitScale.push_back(k);
      run.FitLogScale.push_back(
          numerics::Log10(static_cast<double>(run.ScaleLen[k])));
    }
  }
  double sum = 0.0;
  for (const double x : run.FitLogScale) sum += x;
  run.LogScaleMean = sum / static_cast<double>(run.FitLogScale.size());
  double sum_sq = 0.0;
  for (const double x : run.FitLogScale) {
    const double deviation = x - run.LogScaleMean;
    sum_sq += deviation * deviation;
  }
  run.LogScaleSumSq = sum_sq;

  // Neighbouring scales often share a length; they share its basis too.
  // Bases for long windows would take more memory than the windows
  // themselves; past the budget each workspace builds the basis of the
  // length at hand instead.
  run.DetrendBasis.clear();
  run.DetrendBasisIndex.assign(run.ScaleLen.size(), 0);
  std::int64_t basis_doubles = 0;
  for (std::size_t k = 0; k < run.ScaleLen.size(); ++k) {
    if (k == 0 || run.ScaleLen[k] != run.ScaleLen[k - 1]) {
      basis_doubles += std::int64_t{params.TrendOrder + 1} * run.ScaleLen[k];
    }
  }
  if (params.TrendOrder >= 2 &&
      basis_doubles <= kSharedBasisBudget / std::int64_t{sizeof(double)}) {
    for (std::size_t k = 0; k < run.ScaleLen.size(); ++k) {
      const std::int32_t n = run.ScaleLen[k];
      // Lengths never decrease along the grid: a new one is the last basis
      // or none.
      if (run.DetrendBasis.empty() || run.DetrendBasis.back().Points() != n) {
        run.DetrendBasis.emplace_back(n, params.TrendOrder);
      }
      run.DetrendBasisIndex[k] =
          static_cast<std::int32_t>(run.DetrendBasis.size() - 1);
    }
  }
}

std::shared_ptr<const RunConstants> MakeRunConstants(
    const TableParams& params) {
  auto run = std::make_shared<RunConstants>();
  PrepareRun(*run, params);
  return run;
}

const numerics::OrthonormalPolynomialBasis& DetrendBasisFor(
    const RunConstants& run, std::size_t scale,
    numerics::OrthonormalPolynomialBasis& scratch) {
  if (!run.DetrendBasis.empty()) {
    return run
        .DetrendBasis[static_cast<std::size_t>(run.DetrendBasisIndex[scale])];
  }
  if (scratch.Points() != run.ScaleLen[scale] ||
      scratch.Order() != run.Params.TrendOrder) {
    scratch.Rebuild(run.ScaleLen[scale], run.Params.TrendOrder);
  }
  return scratch;
}

}  // namespace analysis
