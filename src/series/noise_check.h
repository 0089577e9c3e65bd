// Whether a series looks like a noise rather than a walk, for a warning:
// the described method (no profile) takes the values it analyses for a
// walk, and on a noise its h(q) sits near 0 whatever the noise's memory.
#pragma once

#include <cstdint>

namespace series {

// Neighbouring values that correlate less than this look like a noise: a
// fractional Gaussian noise has lag-1 correlation 2^(2H-1) - 1, below 0.5
// for every H < 0.79, while a walk's is near 1.
inline constexpr double kWalkCorrelation = 0.5;

// The lag-1 autocorrelation of the finite values of a series (or of their
// increments), gathered one sample at a time in constant memory: gaps are
// left out and their neighbours close up, as numpy's over x[isfinite(x)]
// would; an increment needs both of its samples.
class LagOneCorrelation {
 public:
  explicit LagOneCorrelation(bool increments) : increments_(increments) {}

  void Add(double sample);

  // sum (v_i - m)(v_{i+1} - m) / sum (v_i - m)^2 over the values v_1..v_n
  // and their mean m; NaN for fewer than three values or a constant
  // series.
  double Value() const;

 private:
  bool increments_;
  bool have_sample_ = false;  // the last sample, for an increment
  double sample_ = 0.0;
  // The values less the first one, so that an offset costs no digits.
  double origin_ = 0.0;
  double first_ = 0.0;
  double last_ = 0.0;
  std::int64_t count_ = 0;
  double sum_ = 0.0;
  double squares_ = 0.0;
  double products_ = 0.0;  // of neighbours
};

}  // namespace series
