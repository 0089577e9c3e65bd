// The fluctuation of one detrended segment and the q-th order mean over a
// scale's segments, written once for both engines so that the plain paths
// of the vector kernel are the straightforward kernel's operations.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "numerics/elementary.h"

namespace analysis::detail {

// Largest minus smallest of a detrended segment, both searches starting
// from the first value and moving only on strict inequality, so a NaN is
// never taken unless it comes first.
inline double SegmentRange(const double* segment, std::size_t n) {
  double largest = segment[0];
  double smallest = segment[0];
  for (std::size_t i = 1; i < n; ++i) {
    if (segment[i] > largest) largest = segment[i];
    if (segment[i] < smallest) smallest = segment[i];
  }
  return largest - smallest;
}

// sqrt((r_0^2 + r_1^2 + ... + r_(n-1)^2) / n), one running total in
// ascending order. A NaN residual gives NaN.
inline double SegmentRms(const double* segment, std::size_t n) {
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += segment[i] * segment[i];
  return std::sqrt(sum / static_cast<double>(n));
}

// The term a counted fluctuation adds to the sum of order q: F^q, or ln F
// for q = 0.
inline double MomentTerm(double fluctuation, double q) {
  return q == 0.0 ? numerics::Log(fluctuation) : numerics::Pow(fluctuation, q);
}

// F_q(s) from the sum of order q over the scale's counted segments, of
// which there are `counted`, out of `segment_count`: (sum / g)^(1/q), with
// 1/q formed first; for q = 0, exp(sum / counted), or 0 when none counted.
// A segment that does not count is left out of the logarithmic mean
// altogether: divided by g, each such segment would weigh as a fluctuation
// of exactly 1 and tie F_0 to the unit of the data. For q != 0 it adds
// nothing to the sum and stays in g, which keeps F_q homogeneous of
// degree 1 in the data (and the described results as they were).
inline double MomentMean(double sum, double q, std::int64_t counted,
                         std::int32_t segment_count) {
  if (q == 0.0) {
    return counted > 0 ? numerics::Exp(sum / static_cast<double>(counted))
                       : 0.0;
  }
  const double divisor = static_cast<double>(segment_count);
  const double e = 1.0 / q;
  return numerics::Pow(sum / divisor, e);
}

}  // namespace analysis::detail
