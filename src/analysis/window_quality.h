// What a window's numbers are worth: the rules both engines apply to count
// flat segments and to judge a window, so that their quality is the same
// values. Pure functions; any thread may call them.
//
// Floors. Both are relative to the window's magnitude M, the largest |v|
// over the finite analysed values (0 when there is none):
//   rounding floor  kRoundingFloor * M. Detrending a flat stretch at orders
//                   2 and above leaves rounding residues, not zeros; a
//                   fluctuation at or below this floor (zero included)
//                   cannot be told from such a residue. FloorShare counts
//                   these segments; nothing changes in the analysis.
//   range floor     MethodOptions::RangeFloor * M, opt-in (0: off). A
//                   fluctuation below it counts as zero: like a zero or NaN
//                   fluctuation, it adds nothing to the moment sums but
//                   still counts in the divisor. ZeroShare counts every
//                   segment so treated.
//
// Status, the first that applies:
//   kDegenerate      some F(q, s) of the fitted scales is not positive
//                    (the fixed summary 0.5, 0.5, 0, 0.5, 1);
//   kNonFiniteInput  an analysed value is NaN or infinite;
//   kFlatSegments    FloorShare > 0: one such segment already dominates the
//                    negative moments, which then measure rounding;
//   kNotConcave      F(AlfaSz) < 1 - kConcavityTolerance, judged only when
//                    the orders reach from q <= 0 to q >= 0 and the summary
//                    is finite. Since tau(0) = -1, the transform's largest
//                    value is 1 exactly when tau has a supporting line at
//                    q = 0; the sampling of alpha and of q costs a little
//                    (under 1e-4 on regular windows), a kink or a convex
//                    stretch around q = 0 a lot.
#pragma once

#include <cstdint>
#include <span>

#include "analysis/results.h"
#include "analysis/run_constants.h"

namespace analysis {

inline constexpr double kRoundingFloor = 0x1p-36;  // about 1.46e-11
inline constexpr double kConcavityTolerance = 0.1;

// The largest magnitude over the finite values, and whether every value is
// finite.
struct WindowMagnitude {
  double Largest = 0.0;
  bool AllFinite = true;
};
WindowMagnitude MeasureWindow(std::span<const double> values);

// The two floors of a window, as absolute fluctuations.
struct SegmentFloors {
  double Rounding = 0.0;  // at or below: counted in FloorShare
  double Zero = 0.0;      // below: counts as zero (0 when the option is off)
};
SegmentFloors FloorsOf(const RunConstants& run, const WindowMagnitude& m);

// True when a segment's fluctuation adds nothing to the moment sums: not
// positive (zero, negative, NaN) or below the range floor.
inline bool CountsAsZero(double fluctuation, const SegmentFloors& floors) {
  return !(fluctuation > 0.0) || fluctuation < floors.Zero;
}
// True when it lies at or below the rounding floor (NaN included).
inline bool AtRoundingFloor(double fluctuation, const SegmentFloors& floors) {
  return !(fluctuation > floors.Rounding);
}

// Segments of one window over every scale index (a length shared by
// several scales counts once per scale).
struct SegmentCounts {
  std::int64_t Total = 0;
  std::int64_t Zero = 0;   // CountsAsZero
  std::int64_t Floor = 0;  // AtRoundingFloor
};

// R^2 of one log-log fit: Sxy^2 / (Sxx Syy), 1 when Syy is 0 (a constant
// is fitted exactly); NaN when a sum is not finite.
inline double RSquared(double sxy, double sxx, double syy) {
  if (syy == 0.0) return 1.0;
  return (sxy * sxy) / (sxx * syy);
}

// Folds one order's R^2 into the running smallest: NaN values are skipped;
// the result stays NaN until a number comes.
inline double SmallerRSquared(double smallest, double r_squared) {
  if (r_squared < smallest ||
      (smallest != smallest && r_squared == r_squared)) {
    return r_squared;
  }
  return smallest;
}

// The quality of a window from its counts, its smallest R^2 (NaN for a
// degenerate window) and its summary.
WindowQuality JudgeQuality(const RunConstants& run, bool degenerate,
                           bool all_finite, const SegmentCounts& counts,
                           double min_r_squared,
                           const SpectrumSummary& summary);

}  // namespace analysis
