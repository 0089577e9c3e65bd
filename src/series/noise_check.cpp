#include "series/noise_check.h"

#include <cmath>
#include <limits>

namespace series {

void LagOneCorrelation::Add(double sample) {
  const bool finite = std::isfinite(sample);
  double value = sample;
  if (increments_) {
    const bool paired = finite && have_sample_;
    value = sample - sample_;
    have_sample_ = finite;
    sample_ = sample;
    if (!paired) return;
  } else if (!finite) {
    return;
  }
  if (count_ == 0) origin_ = value;
  const double v = value - origin_;
  if (count_ == 0) first_ = v;
  products_ += last_ * v;  // 0 for the first value
  sum_ += v;
  squares_ += v * v;
  last_ = v;
  ++count_;
}

double LagOneCorrelation::Value() const {
  if (count_ < 3) return std::numeric_limits<double>::quiet_NaN();
  const auto n = static_cast<double>(count_);
  const double mean = sum_ / n;
  const double spread = squares_ - n * mean * mean;
  if (!(spread > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  // sum over the n-1 neighbours of (a - m)(b - m): the products, less m
  // times both sums of one end (all values but the last, but the first).
  const double paired = products_ - mean * (2.0 * sum_ - first_ - last_) +
                        (n - 1.0) * mean * mean;
  return paired / spread;
}

}  // namespace series
