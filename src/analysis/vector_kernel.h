// The vector kernel's analysis of one prepared window. Same results, bit for
// bit, as AnalyseWindow, with less work: each distinct segment length is
// processed once (scales that share a length share a column), the moment
// sums of a length are accumulated by the vectorised power kernel, log10 is
// taken once per distinct column, and the regressions and the Legendre
// transform run across independent sums in vector lanes. Every running sum
// keeps its order, so every value is the one the straightforward kernel
// computes.
//
// The vector kernels take every run: any grid of orders (ranged or listed,
// any count, q = 0 as the logarithmic mean over the counted segments),
// segments from the start or from both ends, the grid or the log s
// abscissa, range or rms, any scales, fit range and range floor, the
// profile and F_q(s). Where the processor or its libm cannot run the exact
// pow and log10 kernels, those elements take libm inside the same kernel,
// so the results stay the same bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/run_constants.h"
#include "analysis/segment_reuse.h"
#include "analysis/spectrum_steps.h"
#include "analysis/straightforward_kernel.h"
#include "analysis/window_quality.h"
#include "numerics/power_sums.h"

namespace analysis {

// Working storage of the vector kernel for one window at a time. Sized once
// from the run constants; analysing a window allocates nothing. Not for
// sharing: give each thread its own.
class VectorWorkspace {
 public:
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit VectorWorkspace(const RunConstants& run);

  std::size_t Moments = 0;    // the run's orders, run.QGrid.size()
  std::size_t ZeroOrder = 0;  // index of q = 0; Moments when there is none
  // One column of Moments orders per distinct segment length, in ascending
  // scale order; ColumnOfScale[k] names the column of scale k.
  std::vector<double> Columns;
  std::vector<std::int32_t> ColumnOfScale;
  std::vector<std::int32_t> ColumnScale;  // first scale index of each column
  // The regression points' columns (run.FitScale) and their abscissae
  // about the mean.
  std::vector<const double*> FittedColumns;
  std::vector<double> FittedDx;
  std::vector<double> SegmentBuf;  // segments side by side, point-major
  // The window times 2^PowerSumScale when that is not 0, Lrec values.
  std::vector<double> Scaled;
  std::vector<double> Ranges;  // positive ranges of one length, in order
  // Where each of those ranges keeps its undecided power terms (null: not
  // kept), when the column keeps them (SegmentReuse::Recall).
  std::vector<numerics::RecalledTerms*> Recall;
  numerics::PowerSumKernel Powers;  // sums of R^q over QGrid
  std::vector<double> InverseQ;     // 1.0 / q (1.0 at q = 0, unused)
  // The basis of the length at hand when the run keeps no shared ones.
  numerics::OrthonormalPolynomialBasis Basis;
  std::vector<double> HurstQ;  // h(q), the regression slopes
  std::vector<double> Sxy;     // their sums, for R^2
  std::vector<double> Syy;
  std::vector<double> NearTwo;  // log10 F of the order nearest 2, fitted
  std::vector<double> TauQ;
  std::array<double, kAlfaCount> AlfaGrid{};
  std::array<double, kAlfaCount> FAlfaGrid{};
  detail::AlfaRange Range;  // extremes of the finite-difference alphas
  // F(q, s) before the logarithms, scale-major as WindowOutcome::Fq, when
  // the run keeps it (else empty).
  std::vector<double> Fq;
  // Set by a kernel that hands SummariseColumns the fitted columns as
  // log10 F already (and F_q(s) in Fq when kept), with whether some fitted
  // F was not positive; the vector kernel leaves them false.
  bool ColumnsLogged = false;
  bool LoggedDegenerate = false;
  // What the window's columns showed, and the quality judged from it.
  WindowMagnitude Magnitude;
  SegmentCounts Counts;
  bool EmptyFittedScale = false;  // a fitted scale without counted segments
  WindowQuality Quality;
  ScaleTick Tick;  // when not empty, called after every column
  // The columns' segment measures kept for the next windows of the series;
  // the window's place is entered by the kernel (window_kernel.h).
  SegmentReuse Reuse;
};

// The summary of one window of `values` (Lrec values), identical to
// AnalyseWindow's. Leaves the window's spectrum in work.HurstQ, TauQ,
// AlfaGrid and FAlfaGrid; a degenerate window sets HurstQ and TauQ to NaN
// (they are not defined there) and the grids to 0.5 and 1.0. Also leaves
// the window's quality, and F_q(s) when the run keeps it. With fewer than 5
// orders the alpha grids and the summary are NaN, as AnalyseWindow leaves
// them.
SpectrumSummary AnalyseWindowVector(const RunConstants& run,
                                    VectorWorkspace& work,
                                    std::span<const double> values);

// What AnalyseWindowVector does once work.Columns hold F(q, s) of every
// distinct length in the data's own unit and work.Magnitude, Counts and
// EmptyFittedScale are those of the window: F_q(s) handed out, the
// degenerate test, the logarithms, the regressions, the transform and the
// quality. Also the tail of the segment-once kernel.
SpectrumSummary SummariseColumns(const RunConstants& run,
                                 VectorWorkspace& work);

}  // namespace analysis
