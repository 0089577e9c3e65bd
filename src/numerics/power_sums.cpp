// Sums of powers over a grid of moment orders; see power_sums.h for the
// method. The vector path is compiled once per instruction set by Highway
// and chosen at run time: this file includes itself through
// foreach_target.h, once per target.
#include "numerics/power_sums.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "numerics/elementary.h"
#include "numerics/exact_elementary.h"
#include "numerics/hwy_config.h"
#include "numerics/libm_bounds.h"
#include "numerics/libm_check.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "numerics/power_sums.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Included after foreach_target.h, as Highway requires.
#include "hwy/contrib/math/math-inl.h"
#include "hwy/highway.h"
#include "numerics/double_double-inl.h"

#ifndef MFWINDOW_NUMERICS_POWER_SUMS_SHARED
#define MFWINDOW_NUMERICS_POWER_SUMS_SHARED
namespace numerics::detail {

// Relative error allowed for the double-double approximation of R^q. The
// worst case over the grids the vector path takes (|ln R| <= 624, at most
// 4096 orders) stays below 2^-73:
//   R^First within 2^-96 (binary powering, 6 (k-1) 2^-106, and a
//     reciprocal); the ratio within 2^-86 (the roundings of rho, 2^-88, over
//     StepDen, its second-order Newton step dropping under |rho|^3 <= 2^-108);
//   j times the ratio's error, 2^-74.4 for j < 4096;
//   the progression's own roundings and (1 + step_rel)^k ~ 1 + k step_rel,
//     under 2^-85;
//   R^d ~ 1 + d ln R, (d ln R)^2 / 2 <= 2^-74.4, and the dropped product of
//     the correction with the low part, under 2^-79.
// For the orders -10..10 it is below 2^-78.
inline constexpr double kApproxError = 0x1p-70;

// Limits of the grids that the vector path takes.
inline constexpr std::size_t kMaxVectorExponents = 4096;
inline constexpr std::int32_t kMaxFirst = 64;
inline constexpr std::int32_t kMaxStepNum = 64;
inline constexpr std::int32_t kMaxStepDen = 896;
// |d[j]| bound, so that R^d = 1 + d ln R to within 2^-74 for |ln R| < 624.
inline constexpr double kMaxDelta = 0x1p-46;
// Every intermediate power stays within 2^-kPowerBudget..2^kPowerBudget,
// where double-double numbers keep their full precision.
inline constexpr double kPowerBudget = 900.0;
// Lanes of the widest vector of doubles; Delta is padded to a multiple.
inline constexpr std::size_t kMaxLanes = 8;
// Ranges worked on together, and the doubles of their terms: one row of
// the longest grid at least.
inline constexpr std::size_t kChunk = 16;
inline constexpr std::size_t kTermBuffer = kMaxVectorExponents + kMaxLanes;

// The reference loop, also the path for inputs that the vector path leaves.
inline std::size_t AccumulateWithLibm(std::span<const double> exponents,
                                      double range, std::span<double> sums) {
  for (std::size_t j = 0; j < exponents.size(); ++j) {
    sums[j] = sums[j] + Pow(range, exponents[j]);
  }
  return exponents.size();
}

inline std::size_t AccumulateAllWithLibm(const PowerGrid& grid,
                                         std::span<const double> ranges,
                                         std::span<double> sums) {
  std::size_t count = 0;
  for (const double range : ranges) {
    count += AccumulateWithLibm(grid.Exponents, range, sums);
  }
  return count;
}

}  // namespace numerics::detail
#endif  // MFWINDOW_NUMERICS_POWER_SUMS_SHARED

HWY_BEFORE_NAMESPACE();
namespace numerics {
namespace HWY_NAMESPACE {
namespace {

#if HWY_NATIVE_FMA && HWY_TARGET != HWY_SCALAR

namespace hn = hwy::HWY_NAMESPACE;

using D = hn::CappedTag<double, detail::kMaxLanes>;
using V = hn::Vec<D>;
using DU = hn::RebindToUnsigned<D>;
using DD = DoubleDouble<V>;

// log2 of the widest vector of doubles (8 lanes).
constexpr std::size_t kMaxLaneBits = 3;

// x^k1 and x^k2 (k1, k2 >= 1) by binary powering over shared squares. For
// renormalised x each result is within 6 (k - 1) 2^-106 (relative).
HWY_INLINE void PowInt(DD x, std::uint32_t k1, std::uint32_t k2, DD& x_k1,
                       DD& x_k2) {
  bool started1 = false;
  bool started2 = false;
  x_k1 = x;  // both replaced at their lowest set bit
  x_k2 = x;
  for (;;) {
    if ((k1 & 1U) != 0) {
      x_k1 = started1 ? Mul(x_k1, x) : x;
      started1 = true;
    }
    if ((k2 & 1U) != 0) {
      x_k2 = started2 ? Mul(x_k2, x) : x;
      started2 = true;
    }
    k1 >>= 1;
    k2 >>= 1;
    if ((k1 | k2) == 0) return;
    x = Mul(x, x);
  }
}

HWY_INLINE DD PowInt(DD x, std::uint32_t k) {
  DD x_k = x;
  DD unused = x;
  PowInt(x, k, 1, x_k, unused);
  return x_k;
}

// 2^k for integral k in [-1022, 1023]: k + 1023 lands in the low mantissa
// bits of 2^52 + k + 1023 and is shifted into the exponent field.
HWY_INLINE V Pow2(D d, V k) {
  const DU du;
  const V biased = hn::Add(k, hn::Set(d, 0x1p52 + 1023.0));
  return hn::BitCast(d, hn::ShiftLeft<52>(hn::BitCast(du, biased)));
}

// Per-range values of the set-up, stored across a chunk of ranges.
struct Field {
  enum : std::size_t {
    kFirstHi,  // R^First
    kFirstLo,
    kRatioHi,  // R^(step 2^k), k < log2(N): the lanes of the first vector
    kRatioLo = kRatioHi + kMaxLaneBits,
    kStepHi = kRatioLo + kMaxLaneBits,  // high part of R^(step N)
    kStepRel,    // its low part relative to the high part
    kLogRange,   // ln R
    kTolerance,  // relative margin a kept rounding must have
    kUseLibm,    // 1 when the range takes the std::pow path
    kCount
  };
};

struct GridConstants {
  std::size_t Lanes;     // N
  std::size_t LaneBits;  // log2(N)
  std::size_t Vectors;   // vectors of N orders in a row of terms
  double Lowest;         // the ranges that take the vector path
  double Highest;
  double First;
  double StepNum;
  double StepDen;
  double MaxAbsExponent;
};

// A chunk's set-up and terms: one row of terms per range, padded to whole
// vectors, and one byte of bits per vector marking the terms left to
// std::pow (zero beyond the last vector, so that whole words can be
// scanned; see ClearUndecided).
struct Chunk {
  HWY_ALIGN double Fields[Field::kCount][detail::kChunk];
  HWY_ALIGN double Starts[detail::kChunk][2][detail::kMaxLanes];
  HWY_ALIGN double Terms[detail::kTermBuffer];
  std::uint8_t Undecided[detail::kChunk][detail::kMaxVectorExponents / 2 +
                                         sizeof(std::uint64_t)];
};

// Words of undecided bits a row scans.
std::size_t UndecidedWords(const GridConstants& g) {
  return (g.Vectors + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);
}

// Zeroes the bytes past the last vector of each row, up to a whole word;
// the phases never write them.
void ClearUndecided(const GridConstants& g, Chunk& chunk) {
  const std::size_t end = UndecidedWords(g) * sizeof(std::uint64_t);
  for (auto& row : chunk.Undecided) {
    std::fill(row + g.Vectors, row + end, std::uint8_t{0});
  }
}

// Phase 1, per vector of ranges x: fills the chunk's fields at `at` and
// the first vector of each range's progression.
HWY_INLINE void SetUpRanges(D d, const GridConstants& g, V x, Chunk& chunk,
                            std::size_t at) {
  const DU du;
  auto& fields = chunk.Fields;
  const V one = hn::Set(d, 1.0);
  const V zero = hn::Zero(d);
  const V ln2 = hn::Set(d, 0x1.62e42fefa39efp-1);
  // Rejects NaN too. Lanes out of range compute with R = 1 and are dropped.
  const auto in_range = hn::And(hn::Ge(x, hn::Set(d, g.Lowest)),
                                hn::Le(x, hn::Set(d, g.Highest)));
  const V range = hn::IfThenElse(in_range, x, one);

  // R = 2^e m with m in [1, 2); e through the magic-number conversion.
  const auto bits = hn::BitCast(du, range);
  const V mantissa =
      hn::BitCast(d, hn::Or(hn::And(bits, hn::Set(du, 0x000FFFFFFFFFFFFFULL)),
                            hn::Set(du, 0x3FF0000000000000ULL)));
  const V magic = hn::Set(d, 0x1p52);
  const V exponent = hn::Sub(
      hn::Sub(hn::BitCast(
                  d, hn::Or(hn::ShiftRight<52>(bits), hn::BitCast(du, magic))),
              magic),
      hn::Set(d, 1023.0));
  const V log_mantissa = hn::Log(d, mantissa);
  const V log_range = hn::MulAdd(exponent, ln2, log_mantissa);
  const DD m{mantissa, zero};

  // R^First = 2^(First e) m^First, and m^num for the root below.
  const auto abs_first = static_cast<std::uint32_t>(std::fabs(g.First));
  const auto step_num = static_cast<std::uint32_t>(g.StepNum);
  DD first{one, zero};
  DD m_num = m;
  if (abs_first == 0) {
    m_num = PowInt(m, step_num);
  } else {
    PowInt(m, abs_first, step_num, first, m_num);
    if (g.First < 0.0) first = Reciprocal(first);
    first = Scale(first, Pow2(d, hn::Mul(exponent, hn::Set(d, g.First))));
  }

  // R^(num/den) = 2^a y with e num = a den + b and y the den-th root of
  // T = 2^b m^num. (b is in [0, den] whatever the rounding of the division;
  // y is then at most 2^(1 + num/den).) y comes from y0 ~ exp((b ln2 +
  // num ln m) / den), good to a few ulp, by one Newton step of second order
  // on y^den = T:
  //   y = y0 (1 + rho)^(-1/den) ~ y0 (1 - rho/den + (den+1) rho^2/(2 den^2)),
  //   rho = y0^den / T - 1,
  // whose next term is below |rho|^3.
  const V num = hn::Set(d, g.StepNum);
  const V den = hn::Set(d, g.StepDen);
  const V inv_den = hn::Set(d, 1.0 / g.StepDen);
  const V e_num = hn::Mul(exponent, num);
  const V a = hn::Floor(hn::Mul(e_num, inv_den));
  const V b = hn::NegMulAdd(a, den, e_num);
  const DD target = Scale(m_num, Pow2(d, b));
  const V y0 = hn::Exp(
      d, hn::Mul(hn::MulAdd(b, ln2, hn::Mul(num, log_mantissa)), inv_den));
  const DD y0_den = PowInt(DD{y0, zero}, static_cast<std::uint32_t>(g.StepDen));
  // y0^den and T agree to far better than a factor 2, so the difference of
  // the high parts is exact.
  const V diff =
      hn::Add(hn::Sub(y0_den.hi, target.hi), hn::Sub(y0_den.lo, target.lo));
  const V rho = hn::Div(diff, target.hi);
  const V c2 = hn::Set(d, (g.StepDen + 1.0) / (2.0 * g.StepDen * g.StepDen));
  const V correction = hn::Mul(rho, hn::NegMulAdd(rho, c2, inv_den));
  const DD ratio =
      Scale(FastTwoSum(y0, hn::Neg(hn::Mul(y0, correction))), Pow2(d, a));
  // Guards the bound on the neglected terms; a few-ulp y0 gives ~2^-42.
  const auto newton_ok = hn::Le(hn::Abs(rho), hn::Set(d, 0x1p-36));

  // R^(step 2^k): lane i of the first vector multiplies in those with bit k
  // of i set; the last, R^(step N), advances a whole vector.
  DD power = ratio;
  for (std::size_t k = 0; k < g.LaneBits; ++k) {
    hn::Store(power.hi, d, fields[Field::kRatioHi + k] + at);
    hn::Store(power.lo, d, fields[Field::kRatioLo + k] + at);
    power = Mul(power, power);
  }
  hn::Store(power.hi, d, fields[Field::kStepHi] + at);
  hn::Store(hn::Div(power.lo, power.hi), d, fields[Field::kStepRel] + at);

  // Our error and the budget of glibc's exp stage, plus that of its log
  // stage, which grows with |q ln R| (the largest |q| taken for all of a
  // range's terms: a bound per order would spare few libm calls and cost
  // two operations a vector). The computed logarithm is within a few ulp,
  // hence the 2^-40 allowances; the last terms cover the roundings of the
  // tolerance itself.
  const V log_bound = hn::MulAdd(hn::Abs(log_range), hn::Set(d, 1.0 + 0x1p-40),
                                 hn::Set(d, 0x1p-40));
  const V tolerance = hn::MulAdd(
      hn::MulAdd(log_bound, hn::Set(d, g.MaxAbsExponent * detail::kPowLibmLog),
                 hn::Set(d, detail::kApproxError + detail::kPowLibmExp)),
      hn::Set(d, 1.0 + 0x1p-30), hn::Set(d, 0x1p-85));

  hn::Store(first.hi, d, fields[Field::kFirstHi] + at);
  hn::Store(first.lo, d, fields[Field::kFirstLo] + at);
  hn::Store(log_range, d, fields[Field::kLogRange] + at);
  hn::Store(tolerance, d, fields[Field::kTolerance] + at);
  const auto fast = hn::And(in_range, newton_ok);
  hn::Store(hn::IfThenZeroElse(fast, one), d, fields[Field::kUseLibm] + at);
}

// Phase 1 for the chunk: the fields of every range, then the first vector
// of each progression, lane i = R^(First + step i), for all of them before
// any is used: the products within one depend on each other, those of
// different ranges do not.
void SetUpChunk(D d, const GridConstants& g, std::span<const double> ranges,
                Chunk& chunk) {
  const DU du;
  const std::size_t lanes = g.Lanes;
  HWY_ALIGN double padded[detail::kMaxLanes];
  for (std::size_t i = 0; i < ranges.size(); i += lanes) {
    const std::size_t count = std::min(lanes, ranges.size() - i);
    std::fill(padded, padded + lanes, 1.0);
    std::copy_n(ranges.data() + i, count, padded);
    SetUpRanges(d, g, hn::Load(d, padded), chunk, i);
  }
  const V one = hn::Set(d, 1.0);
  const V zero = hn::Zero(d);
  hn::Mask<D> lane_bit[kMaxLaneBits];
  for (std::size_t k = 0; k < kMaxLaneBits; ++k) {
    lane_bit[k] = hn::RebindMask(
        d, hn::Ne(hn::And(hn::Iota(du, 0), hn::Set(du, std::uint64_t{1} << k)),
                  hn::Zero(du)));
  }
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    DD first{hn::Set(d, chunk.Fields[Field::kFirstHi][i]),
             hn::Set(d, chunk.Fields[Field::kFirstLo][i])};
    for (std::size_t k = 0; k < g.LaneBits; ++k) {
      const auto bit_k = lane_bit[k];
      const DD factor{
          hn::IfThenElse(bit_k,
                         hn::Set(d, chunk.Fields[Field::kRatioHi + k][i]), one),
          hn::IfThenElse(
              bit_k, hn::Set(d, chunk.Fields[Field::kRatioLo + k][i]), zero)};
      first = Mul(first, factor);
    }
    hn::Store(first.hi, d, chunk.Starts[i][0]);
    hn::Store(first.lo, d, chunk.Starts[i][1]);
  }
}

// Phase 2, kRanges ranges side by side (independent chains of dependent
// products, which one range alone leaves the multipliers waiting on): their
// terms R^q[j..j+N) into `terms`, a vector at a time. The progression value
// hi + lo (which the steps so far have shortened by the factor
// (1 + step_rel)^k) is corrected by 1 + offset, offset = d[j] ln R +
// k step_rel, and rounded. The rounding is kept when both ends of
// hi + lo +- tolerance*hi round to it: the exact power and pow's value
// before its own rounding lie in between, so both round to it too. The
// other lanes are marked in `undecided`, a byte per vector. Lanes past the
// last order compute on zero offsets and are not marked.
template <std::size_t kRanges>
HWY_INLINE void TermsOfRanges(D d, const GridConstants& g,
                              const detail::PowerGrid& grid, const Chunk& chunk,
                              std::size_t first, double* terms,
                              std::size_t row) {
  const double* delta = grid.Delta.data();
  const std::size_t lanes = g.Lanes;
  V log_range[kRanges];
  V tolerance[kRanges];
  V step_hi[kRanges];
  V step_rel[kRanges];
  V hi[kRanges];
  V lo[kRanges];
  V step_offset[kRanges];
  std::uint8_t* undecided[kRanges];
  for (std::size_t r = 0; r < kRanges; ++r) {
    const std::size_t i = first + r;
    log_range[r] = hn::Set(d, chunk.Fields[Field::kLogRange][i]);
    tolerance[r] = hn::Set(d, chunk.Fields[Field::kTolerance][i]);
    step_hi[r] = hn::Set(d, chunk.Fields[Field::kStepHi][i]);
    step_rel[r] = hn::Set(d, chunk.Fields[Field::kStepRel][i]);
    // The progression multiplies by the high part of the step only, with
    // the rounding error of each product kept exactly in lo; the low part
    // of the step enters the correction as k * step_rel, k steps taken.
    hi[r] = hn::Load(d, chunk.Starts[i][0]);
    lo[r] = hn::Load(d, chunk.Starts[i][1]);
    step_offset[r] = hn::Zero(d);
    undecided[r] = const_cast<std::uint8_t*>(chunk.Undecided[i]);
  }
  for (std::size_t v = 0, j = 0;; ++v, j += lanes) {
    const V delta_j = hn::LoadU(d, delta + j);
    for (std::size_t r = 0; r < kRanges; ++r) {
      const V offset = hn::MulAdd(delta_j, log_range[r], step_offset[r]);
      const V corrected_lo = hn::MulAdd(hi[r], offset, lo[r]);
      const V margin = hn::Mul(tolerance[r], hi[r]);
      const V upper = hn::Add(hi[r], hn::Add(corrected_lo, margin));
      const V lower = hn::Add(hi[r], hn::Sub(corrected_lo, margin));
      hn::Store(upper, d, terms + r * row + j);
      hn::StoreMaskBits(d, hn::Not(hn::Eq(upper, lower)), undecided[r] + v);
    }
    if (v + 1 == g.Vectors) break;
    for (std::size_t r = 0; r < kRanges; ++r) {
      const V next = hn::Mul(hi[r], step_hi[r]);
      lo[r] =
          hn::MulAdd(lo[r], step_hi[r], hn::MulSub(hi[r], step_hi[r], next));
      hi[r] = next;
      step_offset[r] = hn::Add(step_offset[r], step_rel[r]);
    }
  }
  // Lanes past the last order are never undecided.
  const std::size_t tail = grid.Exponents.size() - (g.Vectors - 1) * lanes;
  for (std::size_t r = 0; r < kRanges; ++r) {
    undecided[r][g.Vectors - 1] &= static_cast<std::uint8_t>((1U << tail) - 1U);
  }
}

// Phase 2 for the chunk: the ranges of the vector path two at a time.
void TermsOfChunk(D d, const GridConstants& g, const detail::PowerGrid& grid,
                  std::size_t count, Chunk& chunk) {
  const std::size_t row = g.Vectors * g.Lanes;
  std::size_t pending = count;  // a range waiting for a partner
  for (std::size_t i = 0; i < count; ++i) {
    if (chunk.Fields[Field::kUseLibm][i] != 0.0) continue;
    if (pending == count) {
      pending = i;
      continue;
    }
    if (pending + 1 == i) {
      TermsOfRanges<2>(d, g, grid, chunk, pending, chunk.Terms + pending * row,
                       row);
    } else {
      TermsOfRanges<1>(d, g, grid, chunk, pending, chunk.Terms + pending * row,
                       row);
      TermsOfRanges<1>(d, g, grid, chunk, i, chunk.Terms + i * row, row);
    }
    pending = count;
  }
  if (pending != count) {
    TermsOfRanges<1>(d, g, grid, chunk, pending, chunk.Terms + pending * row,
                     row);
  }
}

// This target's tag in RecalledTerms: the index of its bit, plus 1.
constexpr std::uint32_t kRecallTag =
    static_cast<std::uint32_t>(
        std::countr_zero(static_cast<std::uint64_t>(HWY_TARGET))) +
    1;

// Phase 3: the terms the vector path left undecided, from std::pow, or
// from the range's recalled terms when they belong to it (else they are
// kept there). Returns how many came from std::pow.
std::size_t LibmTermsOfChunk(const GridConstants& g,
                             const detail::PowerGrid& grid,
                             std::span<const double> ranges,
                             std::span<RecalledTerms* const> recall,
                             Chunk& chunk) {
  const std::size_t row = g.Vectors * g.Lanes;
  const std::size_t words = UndecidedWords(g);
  std::size_t libm_terms = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (chunk.Fields[Field::kUseLibm][i] != 0.0) continue;  // phase 4's
    const double range = ranges[i];
    const auto bits = std::bit_cast<std::uint64_t>(range);
    RecalledTerms* memo = recall.empty() ? nullptr : recall[i];
    const bool known = memo != nullptr && memo->Target == kRecallTag &&
                       memo->RangeBits == bits;
    if (memo != nullptr && !known) *memo = RecalledTerms{bits, 0, 0, {}};
    std::size_t taken = 0;  // undecided terms so far
    double* terms = chunk.Terms + i * row;
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t word;
      std::memcpy(&word, chunk.Undecided[i] + w * sizeof(word), sizeof(word));
      while (word != 0) {
        const auto bit = static_cast<std::size_t>(std::countr_zero(word));
        word &= word - 1;
        const std::size_t j = (w * sizeof(word) + bit / 8) * g.Lanes + bit % 8;
        if (known && taken < memo->Count) {
          terms[j] = memo->Values[taken];
        } else {
          terms[j] = Pow(range, grid.Exponents[j]);
          ++libm_terms;
          if (memo != nullptr && !known && memo->Count < RecalledTerms::kMost) {
            memo->Values[memo->Count++] = terms[j];
          }
        }
        ++taken;
      }
    }
    if (memo != nullptr) memo->Target = kRecallTag;
  }
  return libm_terms;
}

// Phase 4: the chunk's terms added into the sums, range after range. A
// range off the vector path (zero, negative, NaN, huge or tiny) adds its
// powers straight from std::pow by the reference loop's own expression: its
// terms may be NaN, and where a sum and a term are both NaN, which NaN the
// sum keeps depends on the order of the operands in the machine's addition,
// which only the same expression keeps alike. Returns the terms it took
// from std::pow.
std::size_t AddChunk(D d, const GridConstants& g, const detail::PowerGrid& grid,
                     std::span<const double> ranges, const Chunk& chunk,
                     double* sums) {
  const std::size_t n = grid.Exponents.size();
  const std::size_t count = ranges.size();
  const std::size_t lanes = g.Lanes;
  const std::size_t row = g.Vectors * lanes;
  bool all_vector_path = true;
  for (std::size_t i = 0; i < count; ++i) {
    all_vector_path =
        all_vector_path && chunk.Fields[Field::kUseLibm][i] == 0.0;
  }
  if (!all_vector_path) {
    std::size_t libm_terms = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (chunk.Fields[Field::kUseLibm][i] != 0.0) {
        libm_terms += detail::AccumulateWithLibm(grid.Exponents, ranges[i],
                                                 std::span<double>(sums, n));
        continue;
      }
      for (std::size_t j = 0; j < n; ++j) {
        sums[j] = sums[j] + chunk.Terms[i * row + j];
      }
    }
    return libm_terms;
  }
  // Four vectors of sums at a time: each is a chain of dependent additions
  // over the chunk's ranges, and four chains keep the adders busy.
  constexpr std::size_t kChains = 4;
  std::size_t j = 0;
  for (; j + kChains * lanes <= n; j += kChains * lanes) {
    V sum[kChains];
    for (std::size_t c = 0; c < kChains; ++c) {
      sum[c] = hn::LoadU(d, sums + j + c * lanes);
    }
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t c = 0; c < kChains; ++c) {
        sum[c] =
            hn::Add(sum[c], hn::Load(d, chunk.Terms + i * row + j + c * lanes));
      }
    }
    for (std::size_t c = 0; c < kChains; ++c) {
      hn::StoreU(sum[c], d, sums + j + c * lanes);
    }
  }
  for (; j + lanes <= n; j += lanes) {
    V sum = hn::LoadU(d, sums + j);
    for (std::size_t i = 0; i < count; ++i) {
      sum = hn::Add(sum, hn::Load(d, chunk.Terms + i * row + j));
    }
    hn::StoreU(sum, d, sums + j);
  }
  for (; j < n; ++j) {
    double sum = sums[j];
    for (std::size_t i = 0; i < count; ++i) sum += chunk.Terms[i * row + j];
    sums[j] = sum;
  }
  return 0;
}

// The constants of the vector path for this grid and target; false when
// the target's vectors are too wide or no range can take the vector path.
bool PrepareGrid(D d, const detail::PowerGrid& grid, GridConstants& g) {
  const std::size_t lanes = hn::Lanes(d);
  std::size_t lane_bits = 0;
  while ((std::size_t{1} << lane_bits) < lanes) ++lane_bits;
  if (lanes > detail::kMaxLanes || lane_bits > kMaxLaneBits) return false;
  g.Lanes = lanes;
  g.LaneBits = lane_bits;
  g.Vectors = (grid.Exponents.size() + lanes - 1) / lanes;
  g.First = grid.First;
  g.StepNum = grid.StepNum;
  g.StepDen = grid.StepDen;
  g.MaxAbsExponent = grid.MaxAbsExponent;
  // Powers up to R^(+-widest) occur: the orders themselves, R^(step N) and
  // the root's T < 2^(den + num), which the grid check keeps in range.
  const double widest =
      std::max({grid.MaxAbsExponent, std::fabs(g.First),
                static_cast<double>(lanes) * g.StepNum / g.StepDen});
  const double max_binade = std::floor(detail::kPowerBudget / (widest + 1.0));
  if (max_binade < 1.0) return false;
  g.Lowest = std::ldexp(1.0, -static_cast<int>(max_binade));
  g.Highest = std::ldexp(1.0, static_cast<int>(max_binade));
  return true;
}

// Ranges per chunk: as many rows of terms as the buffer holds, at most
// kChunk.
std::size_t ChunkRows(const GridConstants& g) {
  return std::min(detail::kChunk, detail::kTermBuffer / (g.Vectors * g.Lanes));
}

std::size_t AccumulateImpl(const detail::PowerGrid& grid,
                           std::span<const double> ranges,
                           std::span<double> sums,
                           std::span<RecalledTerms* const> recall) {
  const D d;
  GridConstants g{};
  if (!PrepareGrid(d, grid, g)) {
    return detail::AccumulateAllWithLibm(grid, ranges, sums);
  }
  const std::size_t rows = ChunkRows(g);
  Chunk chunk;
  ClearUndecided(g, chunk);
  std::size_t libm_terms = 0;
  for (std::size_t base = 0; base < ranges.size(); base += rows) {
    const std::span<const double> part =
        ranges.subspan(base, std::min(rows, ranges.size() - base));
    const std::span<RecalledTerms* const> recalled =
        recall.empty() ? recall : recall.subspan(base, part.size());
    // Phase 3 reads the recalled terms; fetched now, they arrive while
    // phases 1 and 2 run.
    for (const RecalledTerms* terms : recalled) {
      if (terms == nullptr) continue;
      const char* bytes = reinterpret_cast<const char*>(terms);
      for (std::size_t at = 0; at < sizeof(RecalledTerms); at += 64) {
        __builtin_prefetch(bytes + at, 1);
      }
    }
    SetUpChunk(d, g, part, chunk);
    TermsOfChunk(d, g, grid, part.size(), chunk);
    libm_terms += LibmTermsOfChunk(g, grid, part, recalled, chunk);
    libm_terms += AddChunk(d, g, grid, part, chunk, sums.data());
  }
  return libm_terms;
}

bool KernelTermsImpl(const detail::PowerGrid& grid,
                     std::span<const double> ranges, std::span<double> terms,
                     std::span<std::uint8_t> kept) {
  const D d;
  GridConstants g{};
  if (!PrepareGrid(d, grid, g)) return false;
  const std::size_t n = grid.Exponents.size();
  Chunk chunk;
  ClearUndecided(g, chunk);
  for (std::size_t v = 0; v < ranges.size(); ++v) {
    SetUpChunk(d, g, ranges.subspan(v, 1), chunk);
    const bool vector_path = chunk.Fields[Field::kUseLibm][0] == 0.0;
    if (vector_path) TermsOfChunk(d, g, grid, 1, chunk);
    for (std::size_t j = 0; j < n; ++j) {
      const bool undecided =
          ((chunk.Undecided[0][j / g.Lanes] >> (j % g.Lanes)) & 1U) != 0;
      const bool keep = vector_path && !undecided;
      kept[v * n + j] = keep ? 1 : 0;
      terms[v * n + j] = keep ? chunk.Terms[j] : 0.0;
    }
  }
  return true;
}

#else  // no fused multiply-add on this target: the plain loop

std::size_t AccumulateImpl(const detail::PowerGrid& grid,
                           std::span<const double> ranges,
                           std::span<double> sums,
                           std::span<RecalledTerms* const> /* recall */) {
  return detail::AccumulateAllWithLibm(grid, ranges, sums);
}

bool KernelTermsImpl(const detail::PowerGrid& /* grid */,
                     std::span<const double> /* ranges */,
                     std::span<double> /* terms */,
                     std::span<std::uint8_t> /* kept */) {
  return false;
}

#endif

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace numerics
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace numerics {

HWY_EXPORT(AccumulateImpl);
HWY_EXPORT(KernelTermsImpl);

namespace {

// Recognises q[j] = First + j*StepNum/StepDen + d[j], |d[j]| <= kMaxDelta.
void AnalyseGrid(detail::PowerGrid& grid) {
  const std::vector<double>& q = grid.Exponents;
  const std::size_t n = q.size();
  if (n < 2 || n > detail::kMaxVectorExponents) return;
  double max_abs = 0.0;
  for (const double value : q) {
    if (!std::isfinite(value)) return;
    max_abs = std::max(max_abs, std::fabs(value));
  }
  const double first = q[0];
  if (first != std::nearbyint(first) ||
      std::fabs(first) > static_cast<double>(detail::kMaxFirst)) {
    return;
  }
  const double step = (q[n - 1] - first) / static_cast<double>(n - 1);
  if (!(step > 0.0)) return;
  std::int32_t num = 0;
  std::int32_t den = 0;
  for (std::int32_t m = 1; m <= detail::kMaxStepDen; ++m) {
    const double scaled = step * static_cast<double>(m);
    const double k = std::nearbyint(scaled);
    if (k >= 1.0 && std::fabs(scaled - k) <= 0x1p-36 * static_cast<double>(m)) {
      num = static_cast<std::int32_t>(k);
      den = m;
      break;
    }
  }
  if (den == 0 || num > detail::kMaxStepNum ||
      num + den > detail::kMaxStepDen) {
    return;
  }

  // d[j] = (den q[j] - (den First + j num)) / den with den q[j] split
  // exactly; the integer part cancels exactly against the high half.
  const std::size_t padded =
      (n + detail::kMaxLanes - 1) / detail::kMaxLanes * detail::kMaxLanes;
  std::vector<double> delta(padded, 0.0);
  const double den_d = static_cast<double>(den);
  for (std::size_t j = 0; j < n; ++j) {
    const double hi = den_d * q[j];
    const double lo = std::fma(den_d, q[j], -hi);
    const double whole =
        den_d * first + static_cast<double>(j) * static_cast<double>(num);
    delta[j] = ((hi - whole) + lo) / den_d;
    if (!(std::fabs(delta[j]) <= detail::kMaxDelta)) return;
  }

  grid.Fast = true;
  grid.First = static_cast<std::int32_t>(first);
  grid.StepNum = num;
  grid.StepDen = den;
  grid.MaxAbsExponent = max_abs;
  grid.Delta = std::move(delta);
}

// Orders of no grid form (a list, a single order): the terms in the
// order of the reference loop, range-major, a piece at a time through the
// elementwise pow, each added to its order's sum as it comes.
std::size_t AccumulateElementwise(std::span<const double> exponents,
                                  std::span<const double> ranges,
                                  std::span<double> sums) {
  constexpr std::size_t kPiece = 256;
  std::array<double, kPiece> base{};
  std::array<double, kPiece> exponent{};
  std::array<double, kPiece> term{};
  const std::size_t n = exponents.size();
  const std::size_t total = ranges.size() * n;
  std::size_t by_libm = 0;
  std::size_t v = 0;
  std::size_t j = 0;
  for (std::size_t at = 0; at < total; at += kPiece) {
    const std::size_t count = std::min(kPiece, total - at);
    std::size_t fill_v = v;
    std::size_t fill_j = j;
    for (std::size_t i = 0; i < count; ++i) {
      base[i] = ranges[fill_v];
      exponent[i] = exponents[fill_j];
      if (++fill_j == n) {
        fill_j = 0;
        ++fill_v;
      }
    }
    const std::span<double> out(term.data(), count);
    by_libm +=
        PowElementwise(std::span<const double>(base.data(), count),
                       std::span<const double>(exponent.data(), count), out);
    for (const double t : out) {
      sums[j] = sums[j] + t;
      if (++j == n) j = 0;
    }
    v = fill_v;
  }
  return by_libm;
}

}  // namespace

PowerSumKernel::PowerSumKernel(std::span<const double> exponents) {
  grid_.Exponents.assign(exponents.begin(), exponents.end());
  AnalyseGrid(grid_);
}

std::size_t PowerSumKernel::Accumulate(
    std::span<const double> ranges, std::span<double> sums,
    std::span<RecalledTerms* const> recall) const {
  assert(sums.size() == grid_.Exponents.size());
  assert(recall.empty() || recall.size() == ranges.size());
  if (ranges.empty() || !LibmMatchesKernels()) {
    return detail::AccumulateAllWithLibm(grid_, ranges, sums);
  }
  if (!grid_.Fast) return AccumulateElementwise(grid_.Exponents, ranges, sums);
  return HWY_DYNAMIC_DISPATCH(AccumulateImpl)(grid_, ranges, sums, recall);
}

bool PowerSumKernel::KernelTerms(std::span<const double> ranges,
                                 std::span<double> terms,
                                 std::span<std::uint8_t> kept) const {
  assert(terms.size() == ranges.size() * Size());
  assert(kept.size() == terms.size());
  if (!grid_.Fast) return false;
  return HWY_DYNAMIC_DISPATCH(KernelTermsImpl)(grid_, ranges, terms, kept);
}

}  // namespace numerics
#endif  // HWY_ONCE
