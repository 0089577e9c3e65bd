// The fast engine's analysis of one prepared window. Same results, bit for
// bit, as AnalyseWindow, with less work: each distinct segment length is
// processed once (scales that share a length share a column), the moment
// sums of a length are accumulated by the vectorised power kernel, log10 is
// taken once per distinct column, and the regressions and the Legendre
// transform run across independent sums in vector lanes. Every running sum
// keeps its order, so every value is the one the straightforward engine
// computes.
//
// The vector kernels take every run on the described moment grid with
// segments from the start and the grid abscissa: range or rms, any scales,
// fit range and range floor, the profile and F_q(s). Any other grid of
// orders, segments from both ends or the log s abscissa take the
// straightforward kernel (window_kernel.h), on whichever scheduler the run
// has.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/reference_window.h"
#include "analysis/run_constants.h"
#include "analysis/segment_reuse.h"
#include "analysis/spectrum_steps.h"
#include "analysis/window_quality.h"
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
  std::vector<std::int32_t> ColumnOfScale;
  std::vector<std::int32_t> ColumnScale;  // first scale index of each column
  // The fitted scales' columns and their abscissae about the mean.
  std::vector<const double*> FittedColumns;
  std::vector<double> FittedDx;
  std::vector<double> SegmentBuf;   // segments side by side, point-major
  std::vector<double> Ranges;       // positive ranges of one length, in order
  numerics::PowerSumKernel Powers;  // sums of R^q over QGrid
  std::array<double, kMomentCount> InverseQ{};  // 1.0 / q
  // The basis of the length at hand when the run keeps no shared ones.
  numerics::OrthonormalPolynomialBasis Basis;
  std::array<double, kMomentCount> HurstQ{};  // h(q), the regression slopes
  std::array<double, kMomentCount> Sxy{};     // their sums, for R^2
  std::array<double, kMomentCount> Syy{};
  std::vector<double> NearTwo;  // log10 F of the order nearest 2, fitted
  std::array<double, kMomentCount> TauQ{};
  std::array<double, kAlfaCount> AlfaGrid{};
  std::array<double, kAlfaCount> FAlfaGrid{};
  detail::AlfaRange Range;  // extremes of the finite-difference alphas
  // F(q, s) before the logarithms, scale-major as WindowOutcome::Fq, when
  // the run keeps it (else empty).
  std::vector<double> Fq;
  // What the window's columns showed, and the quality judged from it.
  WindowMagnitude Magnitude;
  SegmentCounts Counts;
  WindowQuality Quality;
  ScaleTick Tick;  // when not empty, called after every column
  // The columns' segment measures kept for the next windows of the series;
  // the window's place is entered by the kernel (window_kernel.h).
  SegmentReuse Reuse;
};

// Whether the vector kernels take this run (see above).
bool VectorKernelsTake(const RunConstants& run);

// The summary of one window of `values` (Lrec values), identical to
// AnalyseWindow's. Leaves the window's spectrum in work.HurstQ, TauQ,
// AlfaGrid and FAlfaGrid; a degenerate window sets HurstQ and TauQ to NaN
// (they are not defined there) and the grids to 0.5 and 1.0. Also leaves
// the window's quality, and F_q(s) when the run keeps it. Only for runs the
// vector kernels take.
SpectrumSummary AnalyseWindowFast(const RunConstants& run, FastWorkspace& work,
                                  std::span<const double> values);

}  // namespace analysis
