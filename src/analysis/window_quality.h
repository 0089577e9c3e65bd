// What a window's numbers are worth: the rules both engines apply to count
// flat segments and to judge a window, so that their quality is the same
// values. Pure functions; any thread may call them.
//
// Floors. M is the window's magnitude, the largest |v| over the finite
// analysed values, and D its spread, their largest minus their smallest
// (both 0 when there is none):
//   rounding floor  max(kRoundingFloor * D, kResidueFloor * M). Detrending a
//                   flat stretch at orders 2 and above leaves rounding
//                   residues, not zeros; a fluctuation at or below this
//                   floor (zero included) cannot be told from such a
//                   residue. The first term makes the floor follow the
//                   data's unit, not their offset (a random walk offset by
//                   1e12 has unit steps, and 2^-36 M would be 15 of them);
//                   the second is the size of the residues themselves, a
//                   few hundred ulps of M. FloorShare counts these
//                   segments; nothing changes in the analysis.
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
//   kOverflow        the window is finite but some h(q) is not, or the
//                    alpha range still holds its +-1e35 search sentinels,
//                    or the width came out negative: a power F^q or a sum
//                    of them overflowed or underflowed to 0 although the
//                    window was rescaled (PowerSumScale): orders whose
//                    powers no exponent can hold, such as q up to 300;
//   kFlatSegments    FloorShare > 0: one such segment already dominates the
//                    negative moments, which then measure rounding; or a
//                    flat run (below) of at least two thirds of the
//                    shortest fitted segment: no segment need be wholly
//                    flat, but those that hold most of the run still
//                    dominate them. Four runs of equal values in a window
//                    of 1000 (40 windows): white noise in the standard
//                    mode (16-point segments; widths of the sampled
//                    spectrum, before the Legendre read-off) widens from
//                    0.091 to 0.114 with runs of 12 and 0.306 with runs of
//                    16, runs of 8 change nothing measurable; a random
//                    walk in the described method (20-point segments)
//                    widens from 0.255 to 0.282 with runs of 12 and 0.331
//                    with runs of 16. Or stuck runs: flat runs of at least
//                    kLeastStuckRun values that together hold at least
//                    kStuckShare of the window, wherever they fall against
//                    the segments and whatever the scales: a sensor that
//                    sticks again and again for less than a segment.
//                    Window 1000, 64 windows, three offsets: runs of 8 to
//                    15 every 48 to 75 samples widen a walk (described,
//                    minimum scale 20) from 0.25 to 0.36-0.39 and white
//                    noise (standard mode) from 0.09 to 0.53-0.61, at
//                    minimum scale 40 from 0.22 to 0.27-0.28 and from 0.11
//                    to 0.24-0.26: flagged in every window. One run of 8
//                    per window (0.8%) is not flagged and changes the
//                    width by under 0.01. Runs of 4 to 6 every 44 to 66
//                    are missed (white noise, standard mode: 0.09 to
//                    0.13, at minimum scale 40 0.12 to 0.15-0.17): runs
//                    that short are what quantised recordings hold (the
//                    membrane recording of the gallery, 42% of its
//                    neighbours equal, has 10% of its samples in runs of
//                    4 or more, 0.4% in runs of 8 or more), and counting
//                    them flagged 27 of its 45 windows in the standard
//                    mode, whose widths a dither of half a quantum moves by
//                    0.014 (median). Continuous data have no such runs;
//   kShortForOrder   the shortest fitted segment has fewer than
//                    kShortSegmentFactor * (order + 2) points. On white
//                    noise in the standard mode (window 1000, 200
//                    windows) the mean width at orders 1 to 4 is 0.11,
//                    0.10, 0.085 and 0.075 with shortest segments of
//                    4 (m + 2) points, 0.57 to 0.60 with m + 2 (flagged:
//                    window 40 at order 2, 4 to 8 points for a 3-parameter
//                    fit, gives widths about 3), and 0.12 to 0.19 with
//                    2 (m + 2) (not flagged: inflated, but not empty);
//   kCrossover       the log-log points of the order nearest 2 are better
//                    fitted by two lines than by one: the best split
//                    (at least kCrossoverPoints points and a factor 2 of
//                    scale on each side) leaves at most kCrossoverResidual
//                    of the single line's residual sum of squares and the
//                    two slopes differ by at least CrossoverSlope (a
//                    setting, 0.5 by default). On fGn
//                    (H 0.2 to 0.8) and random walks, windows 1000 to 4096,
//                    64 to 100 windows each, it flags at most 2% of windows
//                    in either method; a sine of period 50 under white noise
//                    of 0.1 times its amplitude (window 2000) is flagged in
//                    every window by both, under noise of its amplitude
//                    only by the standard mode; a period of 100 in window
//                    1000 leaves too few scales above it and is missed;
//   kPoorFit         some order's log-log line explains less than
//                    PoorFitR2 (a setting, 0.8 by default) of its points'
//                    variance while they scatter about it by more than
//                    kPoorFitSpread decades (root mean square): F strays
//                    from a power law by a factor 1.6 or more and h(q)
//                    describes no scaling (FitDiagnostics::PoorFit).
//                    Neither alone will do: R^2 is small wherever h(q) is
//                    near 0, however close the points lie (the binomial
//                    cascade's smallest R^2 is 0.14 to 0.23 at a = 0.9),
//                    and the scatter of a steep line can be large and
//                    still small beside its rise (0.37 decades for that
//                    cascade at q = -10, against 0.31 to 0.35 for the
//                    membrane recording's windows whose q = -10 line, R^2
//                    0.72 to 0.74, misses points by up to 0.6). On the
//                    validation's references (fGn H 0.2 to 0.8, binomial
//                    cascades a = 0.6 to 0.9, multifractal random walks
//                    lambda^2 0.02 and 0.05; windows 1024 and 4096, both
//                    methods) no window was flagged at 0.8 and 0.2, while
//                    R^2 below 0.9 with 0.2 flagged a quarter of the
//                    cascade's (a = 0.9) windows and 0.85 with 0.1 half;
//   kNotConcave      F(AlfaSz) < 1 - kConcavityTolerance, judged only when
//                    the orders reach from q <= 0 to q >= 0 and the summary
//                    is finite. Since tau(0) = -1, the transform's largest
//                    value is 1 exactly when tau has a supporting line at
//                    q = 0; the sampling of alpha and of q costs a little
//                    (under 1e-4 on regular windows), a kink or a convex
//                    stretch around q = 0 a lot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "analysis/results.h"
#include "analysis/run_constants.h"

namespace analysis {

inline constexpr double kRoundingFloor = 0x1p-36;  // about 1.46e-11
inline constexpr double kResidueFloor = 0x1p-44;   // 256 ulps of 1
inline constexpr double kConcavityTolerance = 0.1;
inline constexpr std::int32_t kShortSegmentFactor = 2;
inline constexpr std::size_t kCrossoverPoints = 4;
inline constexpr double kCrossoverResidual = 0.15;
// Stuck runs (kFlatSegments): flat runs of at least kLeastStuckRun values
// that together cover kStuckShare of the window.
inline constexpr std::int64_t kLeastStuckRun = 8;
inline constexpr double kStuckShare = 0.04;
// kPoorFit: the least root mean square scatter of an order's log10 F points
// about their line, in decades, for its R^2 to count.
inline constexpr double kPoorFitSpread = 0.2;

// The largest magnitude over the finite values, their spread (largest
// minus smallest value), whether every value is finite, and the longest
// flat run: the most consecutive values whose second differences
// (v[i+1] - v[i]) - (v[i] - v[i-1]) all lie within kResidueFloor * Largest
// of 0 (a constant or straight stretch of the analysed values, which is a
// constant stretch of the data under the profile); 0 when there is none.
// StuckSamples counts the values of all flat runs of at least `stuck_run`
// values (0: none counted).
struct WindowMagnitude {
  double Largest = 0.0;
  double Spread = 0.0;
  bool AllFinite = true;
  std::int64_t LongestFlatRun = 0;
  std::int64_t StuckSamples = 0;
};
WindowMagnitude MeasureWindow(std::span<const double> values,
                              std::int64_t stuck_run = 0);

// The power of two, 2^e, by which both kernels multiply a window's values
// before its fluctuations (and divide every F(q, s) after them), so that
// no power sum over- or underflows where the data's unit alone would make
// it: 0 (no rescale, the values as they are) when the window is safe. With
// P the largest |q| of the orders, M = 2^m (m = ilogb of the window's
// largest magnitude) and L = Lrec, a segment's fluctuation above the
// rounding floor lies within 2^(m - 44) .. 2^(m + 5), and the window is
// safe when L times either extreme power stays below the largest double:
// P (m + 5) + b <= 1023 and P (44 - m) + b <= 1022, b = log2 L rounded
// up. For the default orders (P = 10) that holds at least for 2^-55 <= M <
// 2^95, whatever L: ordinary data are never touched. Otherwise e = 19 - m,
// which centres those fluctuations on 1 (2^-25 .. 2^24). A power of two is
// exact: the rescaled values, floors and flat runs are the same numbers in
// another exponent, and the F(q, s) scaled back are those of the data in their
// own unit up to the rounding of the powers. 0 also for M 0, no finite value,
// or no order other than 0.
int PowerSumScale(const RunConstants& run, const WindowMagnitude& m);

// A window as both kernels analyse it: `given` measured into `magnitude`
// (flat runs from kLeastStuckRun values); where PowerSumScale asks for it,
// `given` times 2^Scale written to `scaled` (given.size() values) and
// measured again. Values is `given` itself when Scale is 0.
struct ScaledWindow {
  std::span<const double> Values;
  int Scale = 0;
};
ScaledWindow ScaleForPowerSums(const RunConstants& run,
                               std::span<const double> given,
                               std::span<double> scaled,
                               WindowMagnitude& magnitude);

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
  std::int64_t Zero = 0;            // CountsAsZero
  std::int64_t Floor = 0;           // AtRoundingFloor
  std::int64_t LongestFlatRun = 0;  // WindowMagnitude's, for the status
  std::int64_t StuckSamples = 0;    // WindowMagnitude's, for the status
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

// The standard error of a least-squares slope from its sums over n
// points: sqrt(max(Syy - Sxy^2 / Sxx, 0) / (n - 2) / Sxx); NaN for n < 3.
double SlopeError(double sxy, double sxx, double syy, std::size_t n);

// The standard error of the least-squares slope of value(i) against
// run.FitLogScale[i] over the `points` fit points (value: a callable of
// the point's index, called twice per point).
template <typename Value>
double SlopeErrorOf(const RunConstants& run, std::size_t points,
                    const Value& value) {
  double sum = 0.0;
  for (std::size_t i = 0; i < points; ++i) sum += value(i);
  const double mean = sum / static_cast<double>(points);
  double sxy = 0.0;
  double syy = 0.0;
  for (std::size_t i = 0; i < points; ++i) {
    const double dy = value(i) - mean;
    sxy += dy * (run.FitLogScale[i] - run.LogScaleMean);
    syy += dy * dy;
  }
  return SlopeError(sxy, run.LogScaleSumSq, syy, points);
}

// The index of the order nearest 2 in `q_grid` (the first of two as near).
std::size_t OrderNearTwo(std::span<const double> q_grid);

// Where q = 2 lies in an ascending grid: log F(2, s) is taken as
// (1 - Weight) log F(q[Lower], s) + Weight log F(q[Upper], s), linear in q
// between the two orders around 2. Lower == Upper (Weight 0) when 2 is on
// the grid, or beyond its ends (then the end order nearest 2).
struct OrderBlend {
  std::size_t Lower = 0;
  std::size_t Upper = 0;
  double Weight = 0.0;
};
OrderBlend OrdersAroundTwo(std::span<const double> q_grid);

// What the regressions of a non-degenerate window show besides h(q).
//   H2Se     the ordinary least-squares standard error of the slope of
//            log10 F(2, s) over the fitted points (OrdersAroundTwo's blend
//            where 2 is not on the grid): SlopeError of those points.
//   WidthSe  the error of the width propagated through its estimate: the
//            alpha range is the largest minus the smallest central
//            difference of tau, a_K1 - a_K2 with a_k = (tau[k+4] -
//            tau[k]) / span_k, a linear combination sum_j c_j h(q_j) of
//            four slopes fitted on the same abscissa. That combination is
//            the slope of sum_j c_j log10 F(q_j, s), whose least-squares
//            standard error it is (the correlation of the orders kept).
//            It is the error of the reported width whenever the sampled
//            spectrum is positive at both ends of the alpha range; NaN
//            with fewer than 5 orders or no finite difference.
//   PoorFit  some order's fit has R^2 = Sxy^2 / (Sxx Syy) below
//            Method.PoorFitR2 and a root mean square distance of its
//            points from the line, sqrt((Syy - Sxy^2 / Sxx) / (n - 2)),
//            above kPoorFitSpread decades; false with fewer than 3 points.
struct FitDiagnostics {
  bool Overflow = false;
  bool PoorFit = false;
  double H2Se = 0.0;
  double WidthSe = 0.0;
  double CrossoverScale = 0.0;  // NaN: no crossover
};

// The diagnostics from h(q), the regression sums Sxy and Syy of every
// order, the fitted points' log10 F at the order nearest 2 (`near_two`,
// one per run.FitScale entry), the fitted points' log10 F of every order
// (`fitted[i][j]` for fit point i and order j) and the summary. Both
// engines call it with the same values. Allocates nothing.
FitDiagnostics DiagnoseFits(const RunConstants& run,
                            std::span<const double> hurst,
                            std::span<const double> sxy,
                            std::span<const double> syy,
                            std::span<const double> near_two,
                            std::span<const double* const> fitted,
                            const SpectrumSummary& summary);

// Whether a flat run of `flat_run` values is at least two thirds of the
// run's shortest fitted segment.
bool FlatRunIsLong(const RunConstants& run, std::int64_t flat_run);

// Whether stuck runs (`stuck_samples` values in all) cover at least
// kStuckShare of the window.
bool StuckRunsAreMany(const RunConstants& run, std::int64_t stuck_samples);

// Whether the run's shortest fitted segment is short for its order.
bool ShortForOrder(const RunConstants& run);

// The quality of a window from its counts, its smallest R^2 (NaN for a
// degenerate window), its summary and, for a non-degenerate window, its
// fit diagnostics.
WindowQuality JudgeQuality(const RunConstants& run, bool degenerate,
                           bool all_finite, const SegmentCounts& counts,
                           double min_r_squared, const SpectrumSummary& summary,
                           const FitDiagnostics* fits = nullptr);

}  // namespace analysis
