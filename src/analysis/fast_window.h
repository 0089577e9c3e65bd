// The fast engine's analysis of one prepared window. Same results, bit for
// bit, as AnalyseWindow, with less work: each distinct segment length is
// processed once (scales that share a length share a column), the moment
// sums of a length are accumulated by the vectorised power kernel, log10 is
// taken once per distinct column, and the regressions and the Legendre
// transform run across independent sums in vector lanes. Every running sum
// keeps its order, so every value is the one the straightforward engine
// computes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/reference_window.h"
#include "analysis/run_constants.h"
#include "analysis/spectrum_steps.h"
#include "numerics/power_sums.h"

namespace analysis {

// Working storage of the fast engine for one window at a time. Sized once
// from the run constants; analysing a window allocates nothing. Not for
// sharing: give each thread its own.
class FastWorkspace {
 public:
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit FastWorkspace(const RunConstants& run);

  // One column of 200 moments per distinct segment length, in ascending
  // scale order; ColumnOfScale[k] names the column of scale k.
  std::vector<double> Columns;
  std::array<std::int32_t, kScaleCount> ColumnOfScale{};
  std::vector<std::int32_t> ColumnScale;  // first scale index of each column
  std::vector<double> SegmentBuf;         // segments side by side, point-major
  std::vector<double> Ranges;       // positive ranges of one length, in order
  numerics::PowerSumKernel Powers;  // sums of R^q over QGrid
  std::array<double, kMomentCount> InverseQ{};  // 1.0 / q
  // The basis of the length at hand when the run keeps no shared ones.
  numerics::OrthonormalPolynomialBasis Basis;
  std::array<double, kMomentCount> HurstQ{};  // h(q), the regression slopes
  std::array<double, kMomentCount> TauQ{};
  std::array<double, kAlfaCount> AlfaGrid{};
  std::array<double, kAlfaCount> FAlfaGrid{};
  detail::AlfaRange Range;  // extremes of the finite-difference alphas
};

// The summary of one window of `values` (Lrec values), identical to
// AnalyseWindow's. Leaves the window's spectrum in work.HurstQ, TauQ,
// AlfaGrid and FAlfaGrid; a degenerate window sets HurstQ and TauQ to NaN
// (they are not defined there) and the grids to 0.5 and 1.0.
SpectrumSummary AnalyseWindowFast(const RunConstants& run, FastWorkspace& work,
                                  std::span<const double> values);

}  // namespace analysis
