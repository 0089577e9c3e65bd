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

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "numerics/power_sums.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Included after foreach_target.h, as Highway requires.
#include "hwy/contrib/math/math-inl.h"
#include "hwy/highway.h"

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
// Worst internal error of glibc's pow before its final rounding, relative to
// the exact power, taken twice over. Its source (sysdeps/ieee754/dbl-64/
// e_pow.c and e_exp_data.c, from Arm's optimized-routines) bounds the exp
// stage by 0.509 ulp in all, 0.5 of it the final rounding, where an ulp is
// 2^-53 of the value (0.511 ulp without FMA), and the relative error of the
// logarithm by 1.3 * 2^-68 (1.5 * 2^-68 without FMA), which the
// multiplication by q turns into an absolute error of |q ln R| times that in
// the exponent, the same relative error in the result. The vector path needs
// FMA, and glibc picks its FMA variant on such processors; the margins
// still cover the other variant 1.6 times.
inline constexpr double kLibmExpError = 0.018 * 0x1p-53;
inline constexpr double kLibmLogError = 2.6 * 0x1p-68;

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

// The reference loop, also the path for inputs that the vector path leaves.
inline std::size_t AccumulateWithLibm(std::span<const double> exponents,
                                      double range, std::span<double> sums) {
  for (std::size_t j = 0; j < exponents.size(); ++j) {
    sums[j] = sums[j] + std::pow(range, exponents[j]);
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

namespace hn = hwy::HWY_NAMESPACE;

#if HWY_NATIVE_FMA && HWY_TARGET != HWY_SCALAR

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using DU = hn::RebindToUnsigned<D>;

// Ranges whose set-up is computed together, vectorised across ranges.
constexpr std::size_t kChunk = 32;
// log2 of the widest vector of doubles (8 lanes).
constexpr std::size_t kMaxLaneBits = 3;

// A double-double number hi + lo.
struct DD {
  V hi;
  V lo;
};

// a + b exactly as hi + lo, given |a| >= |b| (Dekker's Fast2Sum).
HWY_INLINE DD Renormalise(V a, V b) {
  const V s = hn::Add(a, b);
  return {s, hn::Sub(b, hn::Sub(s, a))};
}

// (x.hi + x.lo)(y.hi + y.lo) to within 6 * 2^-106 (relative) for
// renormalised operands. The exact product x.hi*y.hi is split by one fused
// multiply-subtract; x.lo*y.lo is dropped.
HWY_INLINE DD Mul(DD x, DD y) {
  const V p = hn::Mul(x.hi, y.hi);
  const V e = hn::MulSub(x.hi, y.hi, p);
  const V t = hn::MulAdd(x.hi, y.lo, e);
  return Renormalise(p, hn::MulAdd(x.lo, y.hi, t));
}

// 1 / x. The residual 1 - x.hi*y of y = RN(1/x.hi) is exact in one FMA.
HWY_INLINE DD Reciprocal(D d, DD x) {
  const V one = hn::Set(d, 1.0);
  const V y = hn::Div(one, x.hi);
  const V r = hn::NegMulAdd(x.lo, y, hn::NegMulAdd(x.hi, y, one));
  return Renormalise(y, hn::Mul(y, r));
}

// x^k1 and x^k2 (k1, k2 >= 1) by binary powering over shared squares. For
// renormalised x each result is within 6 (k - 1) 2^-106 (relative).
HWY_INLINE void PowInt(DD x, std::uint32_t k1, std::uint32_t k2, DD& x_k1,
                       DD& x_k2) {
  bool started1 = false;
  bool started2 = false;
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
  DD x_k;
  DD unused;
  PowInt(x, k, 1, x_k, unused);
  return x_k;
}

HWY_INLINE DD Scale(DD x, V power_of_two) {
  return {hn::Mul(x.hi, power_of_two), hn::Mul(x.lo, power_of_two)};
}

// 2^k for integral k in [-1022, 1023]: k + 1023 lands in the low mantissa
// bits of 2^52 + k + 1023 and is shifted into the exponent field.
HWY_INLINE V Pow2(D d, V k) {
  const DU du;
  const V biased = hn::Add(k, hn::Set(d, 0x1p52 + 1023.0));
  return hn::BitCast(d, hn::ShiftLeft<52>(hn::BitCast(du, biased)));
}

// Per-range values of the set-up, stored across a chunk of ranges.
struct Fields {
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
  std::size_t LaneBits;  // log2(N)
  double Lowest;         // the ranges that take the vector path
  double Highest;
  double First;
  double StepNum;
  double StepDen;
  double MaxAbsExponent;
};

// Fills fields[*][at..at+N) for the ranges x.
HWY_INLINE void SetUpRanges(D d, const GridConstants& g, V x,
                            double (*fields)[kChunk], std::size_t at) {
  const DU du;
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
  DD m_num;
  if (abs_first == 0) {
    m_num = PowInt(m, step_num);
  } else {
    PowInt(m, abs_first, step_num, first, m_num);
    if (g.First < 0.0) first = Reciprocal(d, first);
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
      Scale(Renormalise(y0, hn::Neg(hn::Mul(y0, correction))), Pow2(d, a));
  // Guards the bound on the neglected terms; a few-ulp y0 gives ~2^-42.
  const auto newton_ok = hn::Le(hn::Abs(rho), hn::Set(d, 0x1p-36));

  // R^(step 2^k): lane i of the first vector multiplies in those with bit k
  // of i set; the last, R^(step N), advances a whole vector.
  DD power = ratio;
  for (std::size_t k = 0; k < g.LaneBits; ++k) {
    hn::Store(power.hi, d, fields[Fields::kRatioHi + k] + at);
    hn::Store(power.lo, d, fields[Fields::kRatioLo + k] + at);
    power = Mul(power, power);
  }
  hn::Store(power.hi, d, fields[Fields::kStepHi] + at);
  hn::Store(hn::Div(power.lo, power.hi), d, fields[Fields::kStepRel] + at);

  // pow's log-stage error grows with |q ln R|. The computed logarithm is
  // within a few ulp, hence the 2^-40 allowances; the last terms cover the
  // roundings of the test itself.
  const V log_bound = hn::MulAdd(hn::Abs(log_range), hn::Set(d, 1.0 + 0x1p-40),
                                 hn::Set(d, 0x1p-40));
  const V tolerance = hn::MulAdd(
      hn::MulAdd(log_bound,
                 hn::Set(d, g.MaxAbsExponent * detail::kLibmLogError),
                 hn::Set(d, detail::kApproxError + detail::kLibmExpError)),
      hn::Set(d, 1.0 + 0x1p-30), hn::Set(d, 0x1p-85));

  hn::Store(first.hi, d, fields[Fields::kFirstHi] + at);
  hn::Store(first.lo, d, fields[Fields::kFirstLo] + at);
  hn::Store(log_range, d, fields[Fields::kLogRange] + at);
  hn::Store(tolerance, d, fields[Fields::kTolerance] + at);
  const auto fast = hn::And(in_range, newton_ok);
  hn::Store(hn::IfThenZeroElse(fast, one), d, fields[Fields::kUseLibm] + at);
}

// One vector of powers R^q[j..j+N): the progression value hi + lo (which
// the steps so far have shortened by the factor (1 + step_rel)^k) is
// corrected by 1 + offset, offset = d[j] ln R + k step_rel, and rounded.
// The rounding is kept, and added into sums[j..], when both ends of
// hi + lo +- tolerance*hi round to it: the exact power and pow's value
// before its own rounding lie in between, so both round to it too. Other
// lanes are flagged in *fallback. A partial last vector covers only the
// lanes in `valid`.
template <bool kPartial>
HWY_INLINE void AddPowers(D d, DD power, const double* delta, V log_range,
                          V step_offset, V tolerance, double* sums,
                          hn::Mask<D> valid, std::uint8_t* fallback) {
  const V offset = hn::MulAdd(hn::LoadU(d, delta), log_range, step_offset);
  const V lo = hn::MulAdd(power.hi, offset, power.lo);
  const V margin = hn::Mul(tolerance, power.hi);
  const V upper = hn::Add(power.hi, hn::Add(lo, margin));
  const V lower = hn::Add(power.hi, hn::Sub(lo, margin));
  auto keep = hn::Eq(upper, lower);
  if constexpr (kPartial) {
    keep = hn::And(keep, valid);
    const V old_sums = hn::MaskedLoad(valid, d, sums);
    hn::BlendedStore(hn::Add(old_sums, upper), keep, d, sums);
    hn::StoreMaskBits(d, hn::AndNot(keep, valid), fallback);
  } else {
    const V old_sums = hn::LoadU(d, sums);
#if HWY_TARGET <= HWY_AVX3
    hn::BlendedStore(hn::Add(old_sums, upper), keep, d, sums);
#else
    // AVX2's masked store is slow on some processors; a blend is not.
    hn::StoreU(hn::IfThenElse(keep, hn::Add(old_sums, upper), old_sums), d,
               sums);
#endif
    hn::StoreMaskBits(d, hn::Not(keep), fallback);
  }
}

std::size_t AccumulateImpl(const detail::PowerGrid& grid,
                           std::span<const double> ranges,
                           std::span<double> sums) {
  const D d;
  const DU du;
  const std::size_t lanes = hn::Lanes(d);
  const std::size_t n = grid.Exponents.size();
  std::size_t lane_bits = 0;
  while ((std::size_t{1} << lane_bits) < lanes) ++lane_bits;
  if (lanes > detail::kMaxLanes || lane_bits > kMaxLaneBits) {
    return detail::AccumulateAllWithLibm(grid, ranges, sums);
  }

  GridConstants g{};
  g.LaneBits = lane_bits;
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
  if (max_binade < 1.0) {
    return detail::AccumulateAllWithLibm(grid, ranges, sums);
  }
  g.Lowest = std::ldexp(1.0, -static_cast<int>(max_binade));
  g.Highest = std::ldexp(1.0, static_cast<int>(max_binade));

  HWY_ALIGN double fields[Fields::kCount][kChunk];
  HWY_ALIGN double padded[detail::kMaxLanes];
  HWY_ALIGN double starts[kChunk][2][detail::kMaxLanes];
  // One byte of fallback bits per vector, zero beyond the last vector so
  // that whole words can be scanned.
  std::uint8_t fallback[detail::kMaxVectorExponents + 16] = {};
  const std::size_t vectors = (n + lanes - 1) / lanes;
  const std::size_t words =
      (vectors + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);

  std::array<hn::Mask<D>, kMaxLaneBits> lane_bit;
  for (std::size_t k = 0; k < kMaxLaneBits; ++k) {
    lane_bit[k] = hn::RebindMask(
        d, hn::Ne(hn::And(hn::Iota(du, 0), hn::Set(du, std::uint64_t{1} << k)),
                  hn::Zero(du)));
  }
  const V one = hn::Set(d, 1.0);
  const V zero = hn::Zero(d);
  const auto all = hn::FirstN(d, lanes);
  const double* delta = grid.Delta.data();
  double* out = sums.data();

  std::size_t libm_terms = 0;
  for (std::size_t base = 0; base < ranges.size(); base += kChunk) {
    const std::size_t chunk = std::min(kChunk, ranges.size() - base);
    for (std::size_t i = 0; i < chunk; i += lanes) {
      const std::size_t count = std::min(lanes, chunk - i);
      std::fill(padded, padded + lanes, 1.0);
      std::copy_n(ranges.data() + base + i, count, padded);
      SetUpRanges(d, g, hn::Load(d, padded), fields, i);
    }
    // The first vector of each progression, lane i = R^(First + step i),
    // for the whole chunk before any is used: the products within one
    // depend on each other, those of different ranges do not.
    for (std::size_t i = 0; i < chunk; ++i) {
      DD first{hn::Set(d, fields[Fields::kFirstHi][i]),
               hn::Set(d, fields[Fields::kFirstLo][i])};
      for (std::size_t k = 0; k < lane_bits; ++k) {
        const DD factor{
            hn::IfThenElse(lane_bit[k],
                           hn::Set(d, fields[Fields::kRatioHi + k][i]), one),
            hn::IfThenElse(lane_bit[k],
                           hn::Set(d, fields[Fields::kRatioLo + k][i]), zero)};
        first = Mul(first, factor);
      }
      hn::Store(first.hi, d, starts[i][0]);
      hn::Store(first.lo, d, starts[i][1]);
    }

    for (std::size_t i = 0; i < chunk; ++i) {
      const double range = ranges[base + i];
      if (fields[Fields::kUseLibm][i] != 0.0) {
        libm_terms += detail::AccumulateWithLibm(grid.Exponents, range, sums);
        continue;
      }
      const V log_range = hn::Set(d, fields[Fields::kLogRange][i]);
      const V tolerance = hn::Set(d, fields[Fields::kTolerance][i]);
      const V step_hi = hn::Set(d, fields[Fields::kStepHi][i]);
      const V step_rel = hn::Set(d, fields[Fields::kStepRel][i]);
      // The progression multiplies by the high part of the step only, with
      // the rounding error of each product kept exactly in lo; the low part
      // of the step enters the correction as k * step_rel, k steps taken.
      V hi = hn::Load(d, starts[i][0]);
      V lo = hn::Load(d, starts[i][1]);
      V step_offset = zero;
      for (std::size_t j = 0;;) {
        if (n - j < lanes) {
          AddPowers<true>(d, DD{hi, lo}, delta + j, log_range, step_offset,
                          tolerance, out + j, hn::FirstN(d, n - j),
                          fallback + j / lanes);
          break;
        }
        AddPowers<false>(d, DD{hi, lo}, delta + j, log_range, step_offset,
                         tolerance, out + j, all, fallback + j / lanes);
        j += lanes;
        if (j == n) break;
        const V next = hn::Mul(hi, step_hi);
        lo = hn::MulAdd(lo, step_hi, hn::MulSub(hi, step_hi, next));
        hi = next;
        step_offset = hn::Add(step_offset, step_rel);
      }

      for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t word;
        std::memcpy(&word, fallback + w * sizeof(word), sizeof(word));
        while (word != 0) {
          const int bit = std::countr_zero(word);
          word &= word - 1;
          const std::size_t at =
              (w * sizeof(word) + static_cast<std::size_t>(bit) / 8) * lanes +
              static_cast<std::size_t>(bit) % 8;
          sums[at] = sums[at] + std::pow(range, grid.Exponents[at]);
          ++libm_terms;
        }
      }
    }
  }
  return libm_terms;
}

#else  // no fused multiply-add on this target: the plain loop

std::size_t AccumulateImpl(const detail::PowerGrid& grid,
                           std::span<const double> ranges,
                           std::span<double> sums) {
  return detail::AccumulateAllWithLibm(grid, ranges, sums);
}

#endif

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace numerics
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace numerics {

HWY_EXPORT(AccumulateImpl);

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

}  // namespace

PowerSumKernel::PowerSumKernel(std::span<const double> exponents) {
  grid_.Exponents.assign(exponents.begin(), exponents.end());
  AnalyseGrid(grid_);
}

std::size_t PowerSumKernel::Accumulate(std::span<const double> ranges,
                                       std::span<double> sums) const {
  assert(sums.size() == grid_.Exponents.size());
  if (!grid_.Fast || ranges.empty()) {
    return detail::AccumulateAllWithLibm(grid_, ranges, sums);
  }
  return HWY_DYNAMIC_DISPATCH(AccumulateImpl)(grid_, ranges, sums);
}

void AccumulatePowerSums(std::span<const double> ranges,
                         std::span<const double> exponents,
                         std::span<double> sums) {
  const PowerSumKernel kernel(exponents);
  kernel.Accumulate(ranges, sums);
}

}  // namespace numerics
#endif  // HWY_ONCE
