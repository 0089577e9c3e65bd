// The steps by which SummariseSpectrum turns the mass exponents into the
// window summary, exposed for testing: the alpha range and the Legendre
// transform onto the alpha grid, and the reading-off of the five values.
#pragma once

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

}  // namespace analysis::detail
