// The analysis of a pair of prepared windows x and y of the same run:
// detrended cross-correlation (DCCA), its coefficient rho and the
// multifractal cross spectrum (MF-DXA), beside the one-signal analysis of
// each window. Every operation in the order written, as the straightforward
// kernel's; the pair takes the rms runs only (CrossTakes).
//
// For each scale s and each of its g segments v (the run's cut: from the
// window's start, and from its end with SegmentCut::kBoth), both segments
// are detrended by the run's polynomial and, with r and u their residuals,
//   cov_v = (sum of r_i u_i) / s,  var_v(x) = (sum of r_i^2) / s,
// running sums in ascending i. Over the segments, in ascending v:
//   F2_xy(s) = (sum of cov_v) / g          signed: the detrended covariance
//   F_xx(s)  = sqrt((sum of var_v(x)) / g)  the one-signal F_2 of x (the
//                                           rms fluctuation function)
//   rho(s)   = F2_xy(s) / (F_xx(s) F_yy(s)) in [-1, 1]; 1 for y = x
// (the covariance over the geometric mean of the variances: a coefficient
// of the profiles' covariances, not the square of one). The cross exponent
// lambda is the least-squares slope of log10 sqrt(|F2_xy(s)|) on the run's
// fit abscissa over its fitted scales, so that it is h(2) for y = x.
//
// The multifractal form takes each segment's cross fluctuation as
// f_v = sqrt(|cov_v|) and forms F_q^xy(s) from the f_v as the one-signal
// kernel forms F_q(s) from its fluctuations (straightforward_kernel.h):
// ((sum of f_v^q) / g)^(1/q), the logarithmic mean at q = 0, a segment
// with f_v 0 (or below the range floor) adding nothing. So F_q^xy is
// (mean of |cov_v|^(q/2))^(1/q); for y = x it is F_q(s) of x. A negative
// covariance enters by its magnitude: such a window is flagged
// (NegativeShare > 0), its spectrum describing |cov|, not cov. h_xy(q),
// tau_xy(q) = q h_xy(q) - 1, f_xy(alpha), the summary and the quality
// follow by the one-signal spectrum code (SummariseSpectrum) from that
// table, the floors of the pair being the geometric means of each
// window's. The pair is analysed in the data's own unit: a window whose
// powers over- or underflow shows as degenerate or overflow, where the
// one-signal kernel would rescale it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/params.h"
#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "analysis/straightforward_kernel.h"
#include "analysis/window_null.h"

namespace analysis {

// Whether the pair analysis takes a run: the rms fluctuation (the
// covariance of two segments generalises the mean square; a range has no
// counterpart), and surrogates (of y, for rho's null level) only of a kind
// that keeps y's power spectrum: a shuffle would destroy its
// autocorrelation, on which the spread of rho under independence depends.
bool CrossTakes(const TableParams& params);

// Working storage of one pair analysis; allocation-free per window once
// made. Not for sharing: give each thread its own.
class CrossWorkspace {
 public:
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit CrossWorkspace(const RunConstants& run);

  Workspace X;                   // the one-signal analysis of x
  Workspace Y;                   // and of y
  Workspace Cross;               // F_q^xy in FluctTable, the cross spectrum
  std::vector<double> SegmentY;  // y's segment, MaxScale values
  // Per scale, as the header describes.
  std::vector<double> CovXY;  // F2_xy(s)
  std::vector<double> FXX;    // F_xx(s)
  std::vector<double> FYY;    // F_yy(s)
  std::vector<double> Rho;    // rho(s)
  // With surrogates (RhoNull): rho(s) of x against each surrogate of y
  // (surrogates x scales), y's surrogated sequence, a sort's scratch
  // (one per surrogate), and per scale the critical |rho| and whether
  // |rho(s)| exceeds it (1) or not (0). Empty without surrogates.
  std::vector<double> SurrogateRho;
  std::vector<double> Source;
  std::vector<double> Magnitudes;
  std::vector<double> RhoCritical;
  std::vector<std::uint8_t> RhoSignificant;
};

struct CrossSummary {
  SpectrumSummary X;  // each window's own summary
  SpectrumSummary Y;
  SpectrumSummary Cross;  // of the cross spectrum
  double Lambda = 0.0;    // NaN when some fitted F2_xy(s) is 0 or not finite
  // Share of the segments (over every scale index) whose covariance is
  // negative.
  double NegativeShare = 0.0;
  // F2_xy(s) takes both signs over the fitted scales: lambda then fits
  // |F2_xy| across a change of sign, no power law of the covariance.
  bool SignChanges = false;
};

// Analyses one pair of windows of Lrec prepared values each (CrossTakes
// the run): each window alone (work.X, work.Y hold their spectra and
// quality), then the pair (work.Cross holds the cross spectrum and its
// quality, the per-scale vectors their values).
CrossSummary AnalyseCrossWindow(const RunConstants& run, CrossWorkspace& work,
                                std::span<const double> x,
                                std::span<const double> y);

// rho(s) of prepared windows x and y at every scale, each formed as
// AnalyseCrossWindow forms it (the same segments, detrending and sums in
// the same order), into `rho` (one per scale). Uses work.Cross's buffers.
void CrossRho(const RunConstants& run, CrossWorkspace& work,
              std::span<const double> x, std::span<const double> y,
              std::span<double> rho);

// The confidence level of rho under independence, after
// AnalyseCrossWindow of the same window (work.Rho holds its rho): y's
// surrogates (run.Params.Surrogates: Count of them, of its kind; made by
// `factory` from y's raw window `y_raw` as the one-signal null levels make
// them, keys SurrogateKey(Seed, 0, window_number, i), see window_null.h)
// each give rho_i(s) = CrossRho(x, surrogate i); IAAFT surrogates that
// stopped at their cap unsettled are left out. Per scale, over the m
// finite |rho_i(s)| in ascending order, work.RhoCritical is the k-th, k =
// ceil(level (m + 1)) (to within 1e-9) clamped to 1 .. m, NaN when m = 0;
// work.RhoSignificant is |rho(s)| > RhoCritical (two-sided). The Monte
// Carlo test's rank: an independent pair exceeds it with probability
// (m + 1 - k) / (m + 1), which is 1 - level where level (m + 1) is whole
// (19 surrogates at 0.95) and never below 1 / (m + 1). Returns the
// surrogates used. Allocates nothing.
std::int32_t RhoNull(const RunConstants& run, CrossWorkspace& work,
                     SurrogateFactory& factory, std::span<const double> x,
                     std::span<const double> y_raw, std::int64_t window_number,
                     double level);

}  // namespace analysis
