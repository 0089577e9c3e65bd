#include "analysis/run_constants.h"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "analysis/table_size.h"

namespace analysis {

void FillQGrid(RunConstants& run) {
  // The double nearest to 20/199, one step of the grid.
  constexpr double kStep = 20.0 / 199.0;
  static_assert(kStep == 0.10050251256281408);
  double counter = 0.0;
  for (double& q : run.QGrid) {
    q = counter * kStep - 10.0;
    counter += 1.0;
  }
}

void PrepareRun(RunConstants& run, const TableParams& params) {
  assert(params.TrendOrder >= 1 && params.TrendOrder <= 10);
  assert(params.MinScale >= 2 && params.Lrec / 5 > params.MinScale);

  run.Params = params;
  run.MaxScale = params.Lrec / 5;

  // The scale grid: 200 points in equal steps of the logarithm, the step
  // taken once and multiplied by the point's (real) index.
  const double a = std::log10(static_cast<double>(params.MinScale));
  const double b = std::log10(static_cast<double>(run.MaxScale));
  const double step = (b - a) / 199.0;
  double counter = 0.0;
  for (double& x : run.LogScale) {
    x = a + counter * step;
    counter += 1.0;
  }

  double sum = 0.0;
  for (const double x : run.LogScale) sum += x;
  run.LogScaleMean = sum / 200.0;
  double sum_sq = 0.0;
  for (const double x : run.LogScale) {
    const double deviation = x - run.LogScaleMean;
    sum_sq += deviation * deviation;
  }
  run.LogScaleSumSq = sum_sq;

  // Truncation, not rounding: 10^log10(30) evaluates to 29.999999999999996,
  // and that scale is analysed with 29-sample segments.
  for (std::size_t k = 0; k < run.LogScale.size(); ++k) {
    run.ScaleLen[k] =
        static_cast<std::int32_t>(std::pow(10.0, run.LogScale[k]));
  }

  // Neighbouring scales often share a length; they share its basis too.
  // Bases for long windows would take more memory than the windows
  // themselves; past the budget each workspace builds the basis of the
  // length at hand instead.
  run.DetrendBasis.clear();
  run.DetrendBasisIndex.fill(0);
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
      std::size_t index = 0;
      while (index < run.DetrendBasis.size() &&
             run.DetrendBasis[index].Points() != n) {
        ++index;
      }
      if (index == run.DetrendBasis.size()) {
        run.DetrendBasis.emplace_back(n, params.TrendOrder);
      }
      run.DetrendBasisIndex[k] = static_cast<std::int32_t>(index);
    }
  }
}

std::shared_ptr<const RunConstants> MakeRunConstants(
    const TableParams& params) {
  auto run = std::make_shared<RunConstants>();
  FillQGrid(*run);
  PrepareRun(*run, params);
  return run;
}

std::int64_t RunStorageBytes(const TableParams& params, int threads) {
  // Doubles, in long double so that absurd answers cannot overflow.
  const long double lrec = params.Lrec;
  const std::int32_t max_scale_count = params.Lrec / 5;  // MaxScale
  const long double max_scale = max_scale_count;
  const long double t = threads < 1 ? 1 : threads;
  const long double terms = params.TrendOrder + 1;
  const long double doubles =
      (2.0L + 2.0L * t + t) * lrec +  // window, slots, ranges
      t * (9.0L * max_scale +         // segments side by side
           static_cast<long double>(kMomentCount) * kScaleCount) +
      terms * max_scale * t +  // basis scratch
      static_cast<long double>(kSharedBasisBudget) / sizeof(double);
  const long double bytes = doubles * sizeof(double);
  constexpr auto kMax = static_cast<long double>(INT64_MAX);
  return bytes >= kMax ? INT64_MAX : static_cast<std::int64_t>(bytes);
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
