// Run-wide tables of the analysis: the moment orders, the scale grid and its
// regression constants, the segment length of each scale and the
// detrending bases. Built once per run, as soon as the answers they depend
// on are settled (MakeRunConstants), and read-only afterwards: any number
// of threads may share a const RunConstants&.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "analysis/params.h"
#include "analysis/results.h"
#include "numerics/detrend.h"

namespace analysis {

struct RunConstants {
  TableParams Params;  // the answers and options the tables were built from
  // Moment orders q, ascending; the default grid runs from -10 to 10 with
  // no entry 0.
  std::vector<double> QGrid;
  // Divisor of alpha estimate k, (tau[k+4] - tau[k]) / AlfaDiffSpan[k]:
  // the constant 80/199 for the default grid, q[k+4] - q[k] for any other.
  // Empty when there are fewer than 5 orders (no alpha estimate at all).
  std::vector<double> AlfaDiffSpan;
  std::int32_t MaxScale = 0;  // the longest segment (default Lrec div 5)
  // log10 of the scales, equally spaced from log10 MinScale to log10
  // MaxScale, Method.ScaleCount points.
  std::vector<double> LogScale;
  // Segment length of each scale: 10^LogScale[k] by libm pow, truncated.
  std::vector<std::int32_t> ScaleLen;
  // The scales the log-log fits use: indices FitBegin .. FitEnd-1 (all of
  // them unless Method.FitMin or FitMax bound the segment lengths).
  std::size_t FitBegin = 0;
  std::size_t FitEnd = 0;
  // The points of the regressions, in ascending order: the scale index of
  // each (FitScale) and its abscissa (FitLogScale). With FitAbscissa::kGrid
  // every fitted scale, at its grid value LogScale[k]; with kLogS the first
  // scale of each distinct fitted length, at log10 of that length.
  std::vector<std::size_t> FitScale;
  std::vector<double> FitLogScale;
  double LogScaleMean = 0.0;   // mean of FitLogScale, ascending sum
  double LogScaleSumSq = 0.0;  // their sum of squared deviations from it
  // For TrendOrder >= 2: one orthonormal basis per distinct segment length,
  // and for each scale the index of its basis in DetrendBasis; empty when
  // the bases together would pass kSharedBasisBudget bytes.
  std::vector<numerics::OrthonormalPolynomialBasis> DetrendBasis;
  std::vector<std::int32_t> DetrendBasisIndex;
};

// The most memory the shared detrending bases may take.
inline constexpr std::int64_t kSharedBasisBudget = std::int64_t{64} << 20;

// The detrending basis of scale `scale` (order >= 2): the shared one, or,
// when the run keeps none, `scratch` rebuilt for that length if it holds
// another (allocation-free once scratch has held MaxScale points).
const numerics::OrthonormalPolynomialBasis& DetrendBasisFor(
    const RunConstants& run, std::size_t scale,
    numerics::OrthonormalPolynomialBasis& scratch);

// The moment orders of `method`: QList when it is not empty, else
// k*((QMax-QMin)/(QCount-1)) + QMin for k = 0..QCount-1 (k a real counter;
// QCount 1 gives QMin alone). The default options give the described grid
// k*c - 10 with c the double nearest to 20/199, bit for bit.
std::vector<double> MomentOrders(const MethodOptions& method);

// True for the options whose grid is the described one (no QList, QMin
// -10, QMax 10, QCount 200): its alpha divisor is the constant 80/199.
bool IsDefaultMomentGrid(const MethodOptions& method);

// The longest segment: Method.MaxScale, or Lrec div 5 when that is 0.
std::int32_t MaxScaleOf(const TableParams& params);

// `count` (>= 2) points equally spaced from log10 min_scale to log10
// max_scale: a + k*((b - a)/(count - 1)), k a real counter.
std::vector<double> LogScaleGrid(std::int32_t min_scale, std::int32_t max_scale,
                                 std::int32_t count);

// The segment length of each grid point: 10^x by libm pow, truncated
// toward zero (10^log10(30) is 29.999999999999996: 29 samples).
std::vector<std::int32_t> ScaleLengths(std::span<const double> log_scale);

// The scale indices [first, last) whose lengths lie within [fit_min,
// fit_max] (0: no bound). Lengths never decrease along the grid, so they
// form one run; first == last when none does.
struct ScaleSpan {
  std::size_t First = 0;
  std::size_t Last = 0;
};
ScaleSpan FitScales(std::span<const std::int32_t> scale_len,
                    std::int32_t fit_min, std::int32_t fit_max);

// Fills run.QGrid and run.AlfaDiffSpan from `method` (the default: the
// described grid).
void FillQGrid(RunConstants& run, const MethodOptions& method = {});

// Fills everything from the settled Lrec, MinScale and TrendOrder of
// `params` and its method options (which MethodProblem accepts): the
// moment grid, MaxScale, LogScale, ScaleLen, the fit span and its
// regression constants, and the detrending bases. Throws std::bad_alloc
// when storage cannot be obtained and std::length_error when a size
// computation overflows.
void PrepareRun(RunConstants& run, const TableParams& params);
inline void PrepareRun(RunConstants& run, const AnalysisParams& params) {
  PrepareRun(run, TablesOf(params));
}

// The whole set, built once and shared read-only from then on. Throws as
// PrepareRun.
std::shared_ptr<const RunConstants> MakeRunConstants(const TableParams& params);

}  // namespace analysis
