// The steps by which SummariseSpectrum turns the mass exponents into the
// window summary, exposed for testing: the alpha range and the Legendre
// transform onto the alpha grid, and the reading-off of the five values;
// for standard MF-DFA (the profile and the rms fluctuation) the summary of
// the Legendre transform over the orders instead. Both kernels read off
// their summaries here.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "analysis/run_constants.h"
#include "analysis/straightforward_kernel.h"

namespace analysis::detail {

// Starting value of the extreme searches: the single-precision value nearest
// to 1e35, widened (1.0000000409184788e35).
inline constexpr double kAlfaSentinel = static_cast<double>(1e35f);
static_assert(kAlfaSentinel == 0x1.342618p+116);
static_assert(kAlfaSentinel == 1.0000000409184788e35);

// Four steps of the default QGrid, 80/199 as its nearest double: the divisor
// of the central difference of tau that estimates alpha there.
inline constexpr double kAlfaDiffSpan = 0.4020100502512563;
static_assert(kAlfaDiffSpan == 80.0 / 199.0);

// The smallest and largest finite-difference estimate of alpha.
struct AlfaRange {
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
};

// From tau(q) over QGrid: alpha estimates (tau[k+4] - tau[k]) /
// diff_span[k] for every k of `diff_span` (QGrid.size() - 4 of them; 80/199
// for the default grid), their strict extremes starting from -/+
// kAlfaSentinel (a NaN estimate updates neither); then 100 equally spaced
// alpha values from AlfaMin to AlfaMax into `alfa_grid` and the Legendre
// transform min over j of (alpha q_j - tau_j), clipped below at 0, into
// `f_alfa_grid`. Returns the extremes.
AlfaRange SampleSpectrum(std::span<const double> q_grid,
                         std::span<const double> diff_span,
                         std::span<const double> tau_q,
                         std::span<double> alfa_grid,
                         std::span<double> f_alfa_grid);

// Reads the summary off a sampled spectrum: AlfaSz at the first largest
// value, AlfaMin and AlfaMax at the outermost values above 0 (kept from
// `range` when none is), and the width between them.
SpectrumSummary ReadOffSummary(std::span<const double> alfa_grid,
                               std::span<const double> f_alfa_grid,
                               AlfaRange range);

// Whether the run reads its summary off the Legendre transform over the
// orders (ReadOffLegendre) rather than off the sampled spectrum: runs with
// the profile and the rms fluctuation (standard MF-DFA, the preset
// included) and at least two orders. The described method never does.
bool UsesLegendreSummary(const RunConstants& run);

// One term of a linear combination of h(q): Weight times h(q_Order).
struct HurstTerm {
  std::size_t Order = 0;
  double Weight = 0.0;
};

// The summary of the Legendre transform over the orders, and the width as
// a combination of h(q) for its standard error.
struct LegendreReadOff {
  SpectrumSummary Summary;
  // AlfaWidth = sum of Weight * h(q_Order) over the first TermCount terms,
  // up to the rounding of the differences and the -1 of tau, which cancels.
  std::array<HurstTerm, 6> WidthTerms{};
  std::size_t TermCount = 0;
};

// From tau(q) over `q_grid` (ascending, at least 2 orders): alpha_j =
// dtau/dq at q_j by numpy.gradient(tau, q)'s differences (edge order 1):
// (tau_{j+1} - tau_{j-1}) / (2 dq) inside when every step of q is the same
// double, the second-order three-point formula for uneven steps otherwise,
// and the one-sided (tau_1 - tau_0) / (q_1 - q_0) and (tau_{n-1} -
// tau_{n-2}) / (q_{n-1} - q_{n-2}) at the two ends; f_j = q_j alpha_j -
// tau_j. AlfaMin and AlfaMax are the smallest and largest alpha_j,
// AlfaWidth their difference, AlfaSz the alpha_j of the largest f_j and
// FAlfaSz that f_j (the first of equal extremes; a NaN is taken only as the
// first entry). Allocates nothing.
LegendreReadOff ReadOffLegendre(std::span<const double> q_grid,
                                std::span<const double> tau_q);

// The standard error of the Legendre width: h(q) is the slope of log10
// F(q, s) on the fit abscissa, linear in log10 F, so the width is the slope
// of Y_i = sum of Weight * log10 F(q_Order, point i) over the width's terms,
// and its error is that regression's SlopeError (the points taken as
// independent, as for every slope error). log_f(i, j) gives log10 F of
// fit point i (run.FitScale order) and order j. Both kernels pass the same
// values, so they get the same bits.
template <typename LogF>
double LegendreWidthError(const RunConstants& run, const LegendreReadOff& r,
                          LogF log_f) {
  return SlopeErrorOf(run, run.FitScale.size(), [&](std::size_t i) {
    double y = 0.0;
    for (std::size_t m = 0; m < r.TermCount; ++m) {
      y += r.WidthTerms[m].Weight * log_f(i, r.WidthTerms[m].Order);
    }
    return y;
  });
}

// The summary a kernel returns for a non-degenerate window whose `sampled`
// summary and `quality` are read off and judged: for a Legendre run the
// Legendre summary, with quality.WidthSe its width's error (the statuses
// stay judged on the sampled spectrum, whose peak shows a non-concave
// tau); `sampled` otherwise.
template <typename LogF>
SpectrumSummary FinalSummary(const RunConstants& run,
                             std::span<const double> tau_q,
                             const SpectrumSummary& sampled,
                             WindowQuality& quality, LogF log_f) {
  if (!UsesLegendreSummary(run)) return sampled;
  const LegendreReadOff legendre = ReadOffLegendre(run.QGrid, tau_q);
  quality.WidthSe = LegendreWidthError(run, legendre, log_f);
  return legendre.Summary;
}

}  // namespace analysis::detail
