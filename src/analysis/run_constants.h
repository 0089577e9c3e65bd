// Run-wide tables of the analysis: the moment orders, the scale grid and its
// regression constants, the segment length of each scale and the
// detrending bases. Built once per run, as soon as the answers they depend
// on are settled (MakeRunConstants), and read-only afterwards: any number
// of threads may share a const RunConstants&.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/params.h"
#include "analysis/results.h"
#include "numerics/detrend.h"

namespace analysis {

struct RunConstants {
  TableParams Params;  // the answers the tables were built from
  // Moment orders q, ascending from -10 to 10; no entry is 0.
  std::array<double, kMomentCount> QGrid{};
  std::int32_t MaxScale = 0;  // Lrec div 5, the longest segment
  // log10 of the scales, equally spaced from log10 MinScale to log10 MaxScale.
  std::array<double, kScaleCount> LogScale{};
  double LogScaleMean = 0.0;   // mean of LogScale, summed in ascending order
  double LogScaleSumSq = 0.0;  // sum of squared deviations from LogScaleMean
  // Segment length of each scale: 10^LogScale[k] by libm pow, truncated.
  std::array<std::int32_t, kScaleCount> ScaleLen{};
  // For TrendOrder >= 2: one orthonormal basis per distinct segment length,
  // and for each scale the index of its basis in DetrendBasis; empty when
  // the bases together would pass kSharedBasisBudget bytes.
  std::vector<numerics::OrthonormalPolynomialBasis> DetrendBasis;
  std::array<std::int32_t, kScaleCount> DetrendBasisIndex{};
};

// The most memory the shared detrending bases may take.
inline constexpr std::int64_t kSharedBasisBudget = std::int64_t{64} << 20;

// The detrending basis of scale `scale` (order >= 2): the shared one, or,
// when the run keeps none, `scratch` rebuilt for that length if it holds
// another (allocation-free once scratch has held MaxScale points).
const numerics::OrthonormalPolynomialBasis& DetrendBasisFor(
    const RunConstants& run, std::size_t scale,
    numerics::OrthonormalPolynomialBasis& scratch);

// An upper bound of the bytes a run with these settled answers needs: the
// window buffers, `threads` workspaces with two windows each in flight, and
// the shared tables. Saturates instead of overflowing.
std::int64_t RunStorageBytes(const TableParams& params, int threads);

// Fills run.QGrid: QGrid[k] = k*c - 10 (k counted from 0, as a real counter)
// with c the double nearest to 20/199.
void FillQGrid(RunConstants& run);

// Fills MaxScale, LogScale, LogScaleMean, LogScaleSumSq, ScaleLen and the
// detrending bases from the settled Lrec, MinScale and TrendOrder of
// `params`, and keeps them. Throws std::bad_alloc when storage cannot be
// obtained and std::length_error when a size computation overflows.
void PrepareRun(RunConstants& run, const TableParams& params);
inline void PrepareRun(RunConstants& run, const AnalysisParams& params) {
  PrepareRun(run, TablesOf(params));
}

// The whole set, built once and shared read-only from then on: the moment
// grid, then the tables of PrepareRun. Throws as PrepareRun.
std::shared_ptr<const RunConstants> MakeRunConstants(const TableParams& params);

}  // namespace analysis
