// Sums of powers R^q over a fixed set of moment orders q, adding each term
// exactly as `sums[j] = sums[j] + std::pow(R, q[j])` would, bit for bit, but
// at a fraction of the cost of one libm pow call per term.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace numerics {

namespace detail {

// What the vector path knows about an exponent set. It applies when the
// exponents lie on an arithmetic grid q[j] = First + j*StepNum/StepDen + d[j]
// with an integral start, a rational step and tiny offsets d[j] (such as the
// rounding errors of the loop that built the grid); Delta holds the d[j],
// padded with zeros to a whole number of vectors.
struct PowerGrid {
  std::vector<double> Exponents;
  bool Fast = false;
  std::int32_t First = 0;
  std::int32_t StepNum = 0;
  std::int32_t StepDen = 1;
  double MaxAbsExponent = 0.0;
  std::vector<double> Delta;
};

}  // namespace detail

// The moment orders of a run, analysed once so that the sums of powers over
// them can be accumulated fast. Immutable once built: any number of threads
// may share one kernel.
//
// Method. For each range R the powers R^q[j] are formed in double-double
// arithmetic as a geometric progression, R^First * (R^(StepNum/StepDen))^j,
// corrected by R^d[j] ~ 1 + d[j]*ln R, with lanes of consecutive j in one
// vector. R^First comes from repeated squaring and a reciprocal, the ratio
// from a Newton step on y^StepDen = R^StepNum; both use fused multiply-add
// only for error-free products. The approximation is within 2^-70 of R^q
// (relative). Its rounding to double is kept only when it lies farther from
// the nearest rounding boundary than that error plus the worst internal
// error of glibc's pow (a relative 2^-58.5 for its exp stage, twice the
// 0.509 ulp bound documented in its source, plus 3*2^-68*|q ln R| for its
// log stage). Such a rounding is the correctly rounded power, which is also
// what pow returns. Every other term, and every range outside
// [2^-E, 2^E] with E = floor(900 / (max|q| + 1)) (the wider range keeps all
// intermediate values normal) falls back to std::pow itself.
class PowerSumKernel {
 public:
  // Analyses `exponents` (any doubles; the moment orders in ascending order
  // take the vector path, other sets the plain loop). Allocates a few
  // vectors of exponents.size() doubles.
  explicit PowerSumKernel(std::span<const double> exponents);

  std::size_t Size() const { return grid_.Exponents.size(); }

  // True when the exponents have the grid form that the vector path needs.
  bool HasVectorPath() const { return grid_.Fast; }

  // For each range v in ascending order, then each j:
  //   sums[j] = sums[j] + std::pow(ranges[v], exponents[j]),
  // with results identical bit for bit to that loop, for every input value
  // (NaN, zero, negative, subnormal and infinite ranges included; those
  // simply take the std::pow path). sums.size() must equal Size().
  // Allocates nothing. Returns how many terms were computed by std::pow.
  std::size_t Accumulate(std::span<const double> ranges,
                         std::span<double> sums) const;

 private:
  detail::PowerGrid grid_;
};

// Adds R^q for every q in `exponents` into sums, for each R in `ranges` in
// order: sums[j] = sums[j] + std::pow(ranges[v], exponents[j]) for v
// ascending. Bit-identical to that loop. Builds a PowerSumKernel on every
// call (allocates); callers that repeat it should keep one kernel instead.
void AccumulatePowerSums(std::span<const double> ranges,
                         std::span<const double> exponents,
                         std::span<double> sums);

}  // namespace numerics
