// Sums of powers R^q over a fixed set of moment orders q: the same sums as
// `sums[j] = sums[j] + std::pow(R, q[j])` term by term, bit for bit, at a
// fraction of the cost of a libm pow call per term.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace numerics {

namespace detail {

// What the vector path knows about a set of exponents. It applies when they
// lie on an arithmetic grid q[j] = First + j*StepNum/StepDen + d[j] with an
// integral start, a rational step and tiny offsets d[j] (such as the
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

// What std::pow gave for one range's terms that the vector path leaves
// undecided, kept so that the same range met again (a segment that recurs
// in a later window) costs no libm call. Which terms the vector path leaves
// depends on the range alone, so the values are kept in the order of the
// orders; they are taken only for a range of the same bits. Up to kMost
// values are kept; a range with more takes the rest from std::pow each
// time. Each instruction set leaves other terms undecided, so the values
// are also tagged with the one that kept them.
struct alignas(64) RecalledTerms {
  static constexpr std::size_t kMost = 6;  // one cache line in all
  std::uint64_t RangeBits = 0;             // the range the values belong to
  std::uint32_t Count = 0;                 // values kept
  std::uint32_t Target = 0;  // the vector path that kept them; 0: none
  double Values[kMost] = {};
};

// The moment orders of a run, analysed once so that sums of powers over them
// accumulate fast. Immutable once built: any number of threads may share one
// kernel.
//
// Method. For each range R the powers R^q[j] are formed in double-double
// arithmetic as a geometric progression, R^First (R^(StepNum/StepDen))^j,
// with one vector holding consecutive j, and corrected by R^d[j] ~
// 1 + d[j] ln R. R^First comes from binary powering and a reciprocal, the
// ratio from a second-order Newton step on y^StepDen = R^StepNum; fused
// multiply-add serves only for error-free products. The result is within
// 2^-70 of R^q (relative). Its rounding to double is kept when the interval
// around it that also holds glibc pow's value before pow's own final
// rounding does not straddle a rounding boundary: then pow returns the same
// double, the correctly rounded power. That interval allows the budgets of
// libm_bounds.h (glibc's error bounds taken 1.5 times: the exp stage's, and
// the logarithm's scaled by |q ln R|). Every other term is computed by
// std::pow itself: about 3% of them for ranges spread over 1e-3..1e2, all of
// them for ranges outside [2^-E, 2^E], E = floor(900 / (max|q| + 1)) (81
// for the orders -10..10), which keeps every intermediate value far from
// overflow and the subnormal range; and all of them where the platform's
// pow fails LibmMatchesKernels.
//
// Work is done a chunk of ranges at a time, in phases: the set-up of each
// range (vectorised across ranges), the powers of the chunk into a buffer
// with the undecided terms marked, those terms from std::pow, and the
// buffer added into the sums range by range.
class PowerSumKernel {
 public:
  // Analyses `exponents`, any doubles. Grids of the form above with at most
  // 4096 orders, |First| <= 64, StepNum <= 64, StepNum + StepDen <= 896 and
  // |d[j]| <= 2^-46 take the vector path on processors with FMA (AVX-512,
  // AVX2 or NEON, chosen at run time). Any other orders (a list, a single
  // order) have their terms formed by PowElementwise (exact_elementary.h),
  // range by range in the loop's order. Allocates two vectors of
  // exponents.size() doubles.
  explicit PowerSumKernel(std::span<const double> exponents);

  std::size_t Size() const { return grid_.Exponents.size(); }

  // True when the exponents have the grid form that the vector path needs.
  bool HasVectorPath() const { return grid_.Fast; }

  // For each range v in ascending order, then each j:
  //   sums[j] = sums[j] + std::pow(ranges[v], exponents[j]),
  // with results identical to that loop bit for bit for every input value;
  // NaN, zero, negative, subnormal and infinite ranges simply take the
  // std::pow path. sums.size() must equal Size(). Allocates nothing.
  // Returns how many terms were computed by std::pow. `recall`, when not
  // empty, has one entry per range: null, or where that range's undecided
  // terms are kept (taken when they belong to the range, else computed and
  // kept there); the sums are the same bits either way.
  std::size_t Accumulate(std::span<const double> ranges, std::span<double> sums,
                         std::span<RecalledTerms* const> recall = {}) const;

  // The vector path's own terms, for the libm check and the tests: for
  // each range v, terms[v*Size() + j] = R^q[j] rounded and kept[...] = 1
  // where the vector path decides the term itself, kept[...] = 0 (term
  // unspecified) where it would call std::pow. Calls no libm function.
  // Returns false, writing nothing, where there is no vector path (no grid,
  // or no FMA on this processor).
  bool KernelTerms(std::span<const double> ranges, std::span<double> terms,
                   std::span<std::uint8_t> kept) const;

 private:
  detail::PowerGrid grid_;
};

}  // namespace numerics
