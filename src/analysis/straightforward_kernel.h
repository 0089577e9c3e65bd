// The straightforward kernel's analysis of one prepared window: fluctuation
// functions over the run's scales and moment orders, then the singularity
// spectrum by Legendre transform, its five-number summary and the window's
// quality. Every operation in the order written, libm pow, log, exp and
// log10, running sums in ascending index. Its fast counterpart is
// vector_kernel.h.
//
// The fluctuation of a segment of n points, after detrending, is its range
// (largest minus smallest residual) or, with Fluctuation::kRms, the square
// root of the mean squared residual: sqrt((sum of r_i^2, ascending i) / n).
// The g segments of a scale of length s are the L div s from the window's
// start, and with SegmentCut::kBoth as many again from its end.
// For each order q and scale s, over the g segments of the scale, with
// P the segments whose fluctuation F_v counts (window_quality.h: positive
// and not below the range floor):
//   q != 0:  F_q(s) = ((sum over P of F_v^q, ascending v) / g)^(1/q)
//   q == 0:  F_0(s) = exp((sum over P of ln F_v, ascending v) / |P|),
//            and 0 when P is empty.
// A segment outside P adds nothing; for q != 0 it still counts in g (F_q
// stays proportional to the data's unit either way), at q = 0 it is left
// out of the divisor too, so that F_0 is proportional to the unit as
// well. With P empty the positive orders
// give 0, the negative ones +infinity, and q = 0 gives 0 too; such a
// fitted scale makes the window degenerate whatever the orders are (with
// negative orders only, too).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "analysis/window_quality.h"

namespace analysis {

// Called between the scales of a window with the number of values the
// scale went through, so that a scheduler can look up from a long window;
// it may throw, which ends the window.
using ScaleTick = std::function<void(std::int64_t values)>;

// Working storage of one analysis: FluctTable, the spectrum tables and the
// segment buffers. Sized once from the run constants; analysing a window
// allocates nothing. Not for sharing: give each thread its own.
class Workspace {
 public:
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit Workspace(const RunConstants& run);

  // FluctTable(j, k) for order j and scale k (both from 0), stored with j
  // fastest.
  std::vector<double> FluctTable;
  // F(q, s) as ComputeFluctuations left it, when Method.KeepFq (else
  // empty): SummariseSpectrum takes the logarithms of FluctTable in place.
  std::vector<double> Fq;
  std::vector<double> HurstQ;  // h(q), the regression slopes, per order
  std::vector<double> Sxy;     // their sums, for R^2 and standard errors
  std::vector<double> Syy;
  std::vector<double> NearTwo;  // log10 F of the order nearest 2, per fit point
  // Where each fit point's log10 F of every order lies in FluctTable.
  std::vector<const double*> FittedColumns;
  std::vector<double> TauQ;
  std::vector<double> AlfaGrid;  // kAlfaCount values
  std::vector<double> FAlfaGrid;
  // The window times 2^PowerSumScale when that is not 0, Lrec values.
  std::vector<double> Scaled;
  std::vector<double> SegmentBuf;  // one segment, MaxScale values
  std::vector<double> TrendFit;    // its fitted trend, MaxScale values
  // The basis of the length at hand when the run keeps no shared ones.
  numerics::OrthonormalPolynomialBasis Basis;
  // What ComputeFluctuations saw, for the quality.
  WindowMagnitude Magnitude;
  SegmentCounts Counts;
  bool EmptyFittedScale = false;  // a fitted scale without counted segments
  WindowQuality Quality;          // left by SummariseSpectrum
  ScaleTick Tick;                 // when not empty, called after every scale
};

// Fills work.FluctTable (and work.Fq when asked for) from `values` (Lrec
// prepared values), and counts the window's flat segments. A window whose
// unit would over- or underflow the power sums is analysed times
// 2^PowerSumScale (window_quality.h) and its F(q, s) divided by it again.
void ComputeFluctuations(const RunConstants& run, Workspace& work,
                         std::span<const double> values);

// Reduces work.FluctTable over the fitted scales (log-transforming them in
// place) to the summary; also leaves HurstQ, TauQ, AlfaGrid and FAlfaGrid
// for callers that want the whole spectrum, and work.Quality. A degenerate
// window (some fitted table value 0, negative, or NaN as the first entry)
// leaves the table as it was, sets HurstQ and TauQ to NaN (there is no
// scaling law to fit) and gives kDegenerateSummary. With fewer than 5
// orders there is no estimate of alpha: h and tau are fitted, but alpha,
// f(alpha) and the summary are NaN (a degenerate window keeps its fixed
// summary). Runs with the profile and the rms fluctuation return the
// summary of the Legendre transform over the orders, with its width's
// standard error, from two orders on (spectrum_steps.h, FinalSummary).
SpectrumSummary SummariseSpectrum(const RunConstants& run, Workspace& work);

// ComputeFluctuations followed by SummariseSpectrum.
SpectrumSummary AnalyseWindow(const RunConstants& run, Workspace& work,
                              std::span<const double> values);

}  // namespace analysis
