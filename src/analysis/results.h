// What the analysis hands out: the summary, the whole spectrum, the quality
// and the surrogate null levels of one window, and the six values of its
// result line. Plain values, shared by both engines and by every front end.
#pragma once

#include <cstdint>
#include <vector>

namespace analysis {

inline constexpr int kMomentCount = 200;  // orders q of the default grid
inline constexpr int kScaleCount = 200;   // points of the default scale grid
inline constexpr int kAlfaCount = 100;    // points of the sampled spectrum

// The five values that follow the time mark on a result line.
struct SpectrumSummary {
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;  // AlfaMax - AlfaMin
  double AlfaSz = 0.0;     // alpha where the sampled spectrum is largest
  double FAlfaSz = 0.0;    // the spectrum there
};
// Runs with the profile and the rms fluctuation read the five values off
// the Legendre transform over the orders instead (spectrum_steps.h,
// ReadOffLegendre).

// The fixed result of a degenerate window (a table value not positive).
inline constexpr SpectrumSummary kDegenerateSummary{0.5, 0.5, 0.0, 0.5, 1.0};

// The six values of one result line, in the order written.
struct WindowResult {
  double TimeMark = 0.0;  // time of the window's last sample
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;
  double AlfaSz = 0.0;
  double FAlfaSz = 0.0;
};

// The whole spectrum of one window: h(q) and tau(q) over QGrid (one value
// per order), and the sampled spectrum f(alpha) on its 100 alpha values. A
// degenerate window has no scaling law: both engines give NaN h and tau
// there, alpha all 0.5 and f(alpha) all 1.0.
struct WindowSpectrum {
  std::vector<double> HurstQ;
  std::vector<double> TauQ;
  std::vector<double> AlfaGrid;
  std::vector<double> FAlfaGrid;
};

// What a window's numbers are worth. The status is the first that applies,
// in the order listed.
enum class QualityStatus {
  kOk,
  kDegenerate,      // some F(q, s) of the fitted scales is not positive:
                    // the summary is the fixed 0.5, 0.5, 0, 0.5, 1
  kNonFiniteInput,  // an analysed value is NaN or infinite
  kOverflow,        // a power or moment overflowed: some h(q) is not
                    // finite, or the alpha search's sentinels (or a negative
                    // width) reached the summary
  kFlatSegments,    // some segment's fluctuation is at or below the
                    // rounding floor (FloorShare > 0)
  kShortForOrder,   // the shortest fitted segment is too short for the
                    // detrending fit to leave a fluctuation worth measuring
  kCrossover,       // log F(2, s) bends: two scaling regimes inside the
                    // fitted scales (CrossoverScale says where)
  kNotConcave,      // F(AlfaSz) clearly below 1: tau(q) has no supporting
                    // line at q = 0, and AlfaSz means little
  kGap,             // with WindowPlan::MaskGaps, a raw sample of the window
                    // is not finite (a gap kept in place): the window is not
                    // analysed, every value is NaN; listed last, it comes
                    // before every other status
  // Last, so that the numbers of the others stay: ranks after kCrossover.
  kPoorFit,  // some order's log-log line explains less than
             // MethodOptions::PoorFitR2 of its points, which
             // scatter by more than kPoorFitSpread decades
  kFilled,   // an otherwise sound window holds gaps bridged by a straight
             // line (series::GapBridge): FilledShare says how many
};

struct WindowQuality {
  QualityStatus Status = QualityStatus::kOk;
  // Shares of all segments (over every scale index, each segment of each
  // scale counted once): those whose fluctuation is not > 0 (zero, NaN, or
  // below the opt-in range floor), and those at or below the rounding floor
  // (kRoundingFloor times the window's largest magnitude; zeros included).
  double ZeroShare = 0.0;
  double FloorShare = 0.0;
  // Smallest R^2 of the log-log fits over the orders (NaN for a degenerate
  // window).
  double MinRSquared = 0.0;
  // Ordinary least-squares standard errors (NaN for a degenerate window or
  // fewer than 3 fitted points): of h(2) and of the width, as
  // FitDiagnostics (window_quality.h) computes them.
  double H2Se = 0.0;
  double WidthSe = 0.0;
  // With kCrossover: the first segment length of the upper regime; else
  // NaN.
  double CrossoverScale = 0.0;
  // The share of the window's samples that bridge a gap (set by the series
  // layer when it bridges gaps; 0 otherwise).
  double FilledShare = 0.0;
};

// Surrogate null levels of one window.
struct WindowNull {
  double WidthMedian = 0.0;
  double WidthP95 = 0.0;
  double WidthP = 0.0;  // (1 + #{surrogate width >= observed}) / (N + 1)
  double AlfaSzMedian = 0.0;
  double AlfaSzP95 = 0.0;
  double AlfaSzP = 0.0;  // two-sided rank p-value, see window_null.h
  // IAAFT surrogates whose loop reached its cap (SurrogateOptions::IaaftCap
  // steps) with the ranks still changing; 0 for the other kinds.
  std::int32_t IaaftAtCap = 0;
  // The surrogates the levels and p-values are taken over: those that
  // settled and whose width and AlfaSz are not NaN.
  std::int32_t Used = 0;
};

// One analysed window as an engine hands it out, in window order. The
// pointers are valid only during the call that receives the outcome.
struct WindowOutcome {
  std::int64_t Number = 0;  // counted from 1 within the series
  WindowResult Result;
  // The whole spectrum when the analysis was asked for it, else null.
  const WindowSpectrum* Spectrum = nullptr;
  WindowQuality Quality;  // always
  // With MethodOptions::KeepFq: F(q, s) before any logarithm, QGrid-size by
  // scale-count values, q fastest (F(q_j, s_k) at k * QGrid.size() + j).
  const std::vector<double>* Fq = nullptr;
  // With SurrogateOptions::Count > 0.
  const WindowNull* Null = nullptr;
};

}  // namespace analysis
