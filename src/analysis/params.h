// The settled answers that the analysis reads, split by when they are
// known: the tables of a run are built from TableParams as soon as the
// minimum scale is settled; the window shift and the time axis (WindowPlan)
// are settled afterwards and only steer the windows of each series.
#pragma once

#include <cstdint>
#include <vector>

#include "numerics/surrogates.h"

namespace analysis {

// Each field is fixed once its question is settled. Counts are 32-bit.
struct AnalysisParams {
  std::int32_t IncrFlag = 0;    // 1: analyse the increments inside each window
  std::int32_t TrendOrder = 0;  // detrending polynomial order, 1..10
  std::int32_t Lrec = 0;        // window length in samples, >= 32
  std::int32_t MinScale = 0;    // min(max(answer, 20), Lrec / 10)
  std::int32_t WinShift = 0;    // distance between window starts, 1..Lrec
  double Tini = 0.0;            // time mark one step before the first sample
  double Tstep = 0.0;           // time step, > 0
  double Fs = 0.0;              // > 0: sample j lies at Tini + j / Fs
  bool MaskGaps = false;        // a non-finite sample is a gap kept in place
};

// How a detrended segment is measured.
enum class Fluctuation {
  kRange,  // largest minus smallest residual
  kRms,    // square root of the mean squared residual
};

// Which segments of length s a window of L values is cut into.
enum class SegmentCut {
  kStart,  // L div s segments from the window's first value
  kBoth,   // those and L div s more from its last value backwards: the
           // 2 (L div s) segments of textbook MF-DFA (Kantelhardt et al.
           // 2002), so that no value is left out at any scale
};

// The abscissa of the log-log fits.
enum class FitAbscissa {
  kGrid,  // the log-spaced grid values of every fitted scale, repeated
          // lengths included (the described method)
  kLogS,  // log s of each distinct fitted segment length, once
};

using SurrogateKind = numerics::SurrogateKind;

// How the fluctuation analysis is done. The defaults are the described
// method, byte for byte; MethodProblem (settle.h) says which combinations
// are refused.
struct MethodOptions {
  // Analyse the cumulative sum of the mean-removed prepared values (after
  // the increments, when IncrFlag is 1) instead of the values themselves.
  bool Profile = false;
  Fluctuation Measure = Fluctuation::kRange;
  // Explicit moment orders, strictly ascending, 0 allowed; empty: the grid
  // QGrid(k) = k*((QMax-QMin)/(QCount-1)) + QMin, k = 0..QCount-1 as a real
  // counter (QCount 1: QMin alone). The defaults give the described grid
  // bit for bit.
  std::vector<double> QList;
  double QMin = -10.0;
  double QMax = 10.0;
  std::int32_t QCount = 200;
  std::int32_t MaxScale = 0;      // longest segment; 0: Lrec div 5
  std::int32_t ScaleCount = 200;  // points of the log-spaced scale grid
  // Segment lengths bounding the scales that the log-log fits use (both
  // ends included); 0: no bound. The other scales are still computed.
  std::int32_t FitMin = 0;
  std::int32_t FitMax = 0;
  // > 0: a segment whose fluctuation lies below RangeFloor times the largest
  // magnitude of the analysed window's values counts as flat (zero).
  double RangeFloor = 0.0;
  // The least change of slope between the two lines of a crossover
  // (window_quality.h).
  double CrossoverSlope = 0.5;
  // A window with an order whose log-log fit has R^2 below this, its points
  // scattering by more than kPoorFitSpread, is QualityStatus::kPoorFit
  // (window_quality.h); 0: never.
  double PoorFitR2 = 0.8;
  bool KeepFq = false;  // hand out F_q(s) of every window
  SegmentCut Segments = SegmentCut::kStart;
  FitAbscissa Abscissa = FitAbscissa::kGrid;
};

// Surrogate null levels of every window (none when Count is 0).
struct SurrogateOptions {
  std::int32_t Count = 0;
  SurrogateKind Kind = SurrogateKind::kIaaft;
  std::uint64_t Seed = 0;
  // The most amplitude-and-rank steps of an IAAFT loop.
  std::int32_t IaaftCap = numerics::kDefaultIaaftIterations;
};

// What the run-wide tables and every window's preparation depend on.
struct TableParams {
  std::int32_t IncrFlag = 0;
  std::int32_t TrendOrder = 0;
  std::int32_t Lrec = 0;
  std::int32_t MinScale = 0;
  MethodOptions Method;
  SurrogateOptions Surrogates;
};

// Where each window of a series starts and which time mark it gets: sample
// j (counted from 1) lies at Tini + j*Tstep, or with a sampling rate Fs > 0
// at Tini + j / Fs (the division keeps whole seconds exact).
struct WindowPlan {
  std::int32_t WinShift = 0;
  double Tini = 0.0;
  double Tstep = 0.0;
  double Fs = 0.0;
  // A window holding a non-finite raw sample is a gap (QualityStatus::kGap)
  // and is not analysed; otherwise such a window is analysed as it is.
  bool MaskGaps = false;
};

// The tables of the described method (default options) for these answers.
inline TableParams TablesOf(const AnalysisParams& p) {
  TableParams tables;
  tables.IncrFlag = p.IncrFlag;
  tables.TrendOrder = p.TrendOrder;
  tables.Lrec = p.Lrec;
  tables.MinScale = p.MinScale;
  return tables;
}

inline WindowPlan PlanOf(const AnalysisParams& p) {
  return WindowPlan{p.WinShift, p.Tini, p.Tstep, p.Fs, p.MaskGaps};
}

}  // namespace analysis
