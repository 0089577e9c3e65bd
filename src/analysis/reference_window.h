// The straightforward engine's analysis of one prepared window: fluctuation
// functions over the run's scales and moment orders, then the singularity
// spectrum by Legendre transform and its five-number summary. Every
// operation in the order written, libm pow and log10, running sums in
// ascending index. Its fast counterpart is fast_window.h.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/results.h"
#include "analysis/run_constants.h"

namespace analysis {

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
  std::vector<double> HurstQ;  // h(q), the regression slopes, per order
  std::vector<double> TauQ;
  std::vector<double> AlfaGrid;  // kAlfaCount values
  std::vector<double> FAlfaGrid;
  std::vector<double> SegmentBuf;  // one segment, MaxScale values
  std::vector<double> TrendFit;    // its fitted trend, MaxScale values
  // The basis of the length at hand when the run keeps no shared ones.
  numerics::OrthonormalPolynomialBasis Basis;
};

// Fills work.FluctTable from `values` (Lrec values: the window's copy or its
// increments).
void ComputeFluctuations(const RunConstants& run, Workspace& work,
                         std::span<const double> values);

// Reduces work.FluctTable (log-transforming it in place) to the summary;
// also leaves HurstQ, TauQ, AlfaGrid and FAlfaGrid for callers that want the
// whole spectrum. A degenerate window (some table value 0, negative, or NaN
// as the first entry) leaves the table as it was, sets HurstQ and TauQ to
// NaN (there is no scaling law to fit) and gives kDegenerateSummary.
SpectrumSummary SummariseSpectrum(const RunConstants& run, Workspace& work);

// ComputeFluctuations followed by SummariseSpectrum.
SpectrumSummary AnalyseWindow(const RunConstants& run, Workspace& work,
                              std::span<const double> values);

}  // namespace analysis
