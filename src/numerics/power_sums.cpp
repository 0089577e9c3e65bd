// The vector path is compiled once per instruction set by Highway and chosen
// at run time; this file includes itself through foreach_target.h.
#include "numerics/power_sums.h"

#include <algorithm>
#include <array>
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

// Relative error of the double-double approximation of R^q, with a wide
// margin: the error analysis in the vector path gives about 2^-75.
inline constexpr double kApproxError = 0x1p-70;
// Worst internal error of glibc's pow before its final rounding, relative to
// the exact power. The source (sysdeps/ieee754/dbl-64/e_pow.c, from Arm's
// optimized-routines) bounds its exp stage by 0.509 ulp in total (0.511
// without FMA), i.e. under 0.012 ulp before rounding, and the relative error
// of its logarithm by 1.3 * 2^-68 (1.5 * 2^-68 without FMA), which the
// multiplication by q turns into an absolute error of |q ln R| times that.
// Both are taken here about twice over: 2^-58.5 = 0.022 * 2^-53.
inline constexpr double kLibmExpError = 0x1.6a09e667f3bcdp-59;
inline constexpr double kLibmLogError = 0x1.8p-67;

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

// Vectors of U*N consecutive orders advance together by R^(U*N*step).
constexpr std::size_t kInterleave = 5;
// Ranges whose set-up is computed together, vectorised across ranges.
constexpr std::size_t kChunk = 16;

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

// (x.hi + x.lo)(y.hi + y.lo) less the product of the low parts, with the
// low part left unrenormalised: |lo| grows by about 2^-52 |hi| per call.
// The exact product x.hi*y.hi is split by one fused multiply-subtract.
HWY_INLINE DD MulLoose(DD x, DD y) {
  const V p = hn::Mul(x.hi, y.hi);
  const V e = hn::MulSub(x.hi, y.hi, p);
  const V t = hn::MulAdd(x.hi, y.lo, e);
  return {p, hn::MulAdd(x.lo, y.hi, t)};
}

// Relative error below 2^-104 for renormalised operands.
HWY_INLINE DD Mul(DD x, DD y) {
  const DD p = MulLoose(x, y);
  return Renormalise(p.hi, p.lo);
}

// 1 / x. The residual 1 - x.hi*y of y = RN(1/x.hi) is exact in one FMA.
HWY_INLINE DD Reciprocal(D d, DD x) {
  const V one = hn::Set(d, 1.0);
  const V y = hn::Div(one, x.hi);
  const V r = hn::NegMulAdd(x.lo, y, hn::NegMulAdd(x.hi, y, one));
  return Renormalise(y, hn::Mul(y, r));
}

// x^k for k >= 1 by binary powering: at most 2 log2(k) products.
HWY_INLINE DD PowInt(DD x, std::uint32_t k) {
  DD result = x;
  bool started = false;
  for (;;) {
    if ((k & 1U) != 0) {
      result = started ? Mul(result, x) : x;
      started = true;
    }
    k >>= 1;
    if (k == 0) return result;
    x = Mul(x, x);
  }
}

HWY_INLINE V ScaleTo(V value, V power_of_two) {
  return hn::Mul(value, power_of_two);
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
    kRatioHi,  // R^(step 2^k), k = 0..2, for the first vector's lanes
    kRatioLo = kRatioHi + 3,
    kBlockHi = kRatioLo + 3,  // R^(step N u), u = 1..U (the last one: a step)
    kBlockLo = kBlockHi + kInterleave,
    kLogRange = kBlockLo + kInterleave,
    kTolerance,  // relative distance a kept rounding keeps from a boundary
    kUseLibm,    // 1 when the range takes the std::pow path
    kCount
  };
};

struct GridConstants {
  std::size_t Lanes;
  std::size_t LaneBits;  // log2(Lanes)
  double Lowest;         // fast range of R
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
  // Rejects NaN too. Out-of-range lanes compute with R = 1 and are dropped.
  const auto in_range =
      hn::And(hn::Ge(x, hn::Set(d, g.Lowest)), hn::Le(x, hn::Set(d, g.Highest)));
  const V range = hn::IfThenElse(in_range, x, one);

  // R = 2^e m with m in [1, 2); e through the magic-number conversion.
  const auto bits = hn::BitCast(du, range);
  const V mantissa = hn::BitCast(
      d, hn::Or(hn::And(bits, hn::Set(du, 0x000FFFFFFFFFFFFFULL)),
                hn::Set(du, 0x3FF0000000000000ULL)));
  const V magic = hn::Set(d, 0x1p52);
  const V exponent = hn::Sub(
      hn::Sub(hn::BitCast(d, hn::Or(hn::ShiftRight<52>(bits),
                                    hn::BitCast(du, magic))),
              magic),
      hn::Set(d, 1023.0));
  const V log_mantissa = hn::Log(d, mantissa);
  const V log_range = hn::MulAdd(exponent, ln2, log_mantissa);

  const DD m{mantissa, zero};
  const DD m_num = PowInt(m, static_cast<std::uint32_t>(g.StepNum));

  // R^First = 2^(First e) m^First.
  DD first{one, zero};
  if (g.First != 0.0) {
    first = PowInt(m, static_cast<std::uint32_t>(std::fabs(g.First)));
    if (g.First < 0.0) first = Reciprocal(d, first);
  }
  const V first_scale = Pow2(d, hn::Mul(exponent, hn::Set(d, g.First)));
  first = {ScaleTo(first.hi, first_scale), ScaleTo(first.lo, first_scale)};

  // R^(num/den) = 2^a y with e num = a den + b, 0 <= b < den, and y the
  // den-th root of T = 2^b m^num, from y0 ~ exp((b ln2 + num ln m)/den)
  // by one Newton step of second order on y^den = T:
  //   y = y0 (1 + rho)^(-1/den),  rho = y0^den / T - 1.
  const V num = hn::Set(d, g.StepNum);
  const V den = hn::Set(d, g.StepDen);
  const V e_num = hn::Mul(exponent, num);
  const V a = hn::Floor(hn::Div(e_num, den));
  const V b = hn::NegMulAdd(a, den, e_num);
  const V b_scale = Pow2(d, b);
  const DD target{ScaleTo(m_num.hi, b_scale), ScaleTo(m_num.lo, b_scale)};
  const V y0 = hn::Exp(
      d, hn::Div(hn::MulAdd(b, ln2, hn::Mul(num, log_mantissa)), den));
  const DD y0_den =
      PowInt(DD{y0, zero}, static_cast<std::uint32_t>(g.StepDen));
  // y0^den and T agree to far better than a factor 2: the difference of the
  // high parts is exact.
  const V diff = hn::Add(hn::Sub(y0_den.hi, target.hi),
                         hn::Sub(y0_den.lo, target.lo));
  const V rho = hn::Div(diff, target.hi);
  const V c1 = hn::Set(d, 1.0 / g.StepDen);
  const V c2 = hn::Set(d, (g.StepDen + 1.0) / (2.0 * g.StepDen * g.StepDen));
  const V correction = hn::Mul(rho, hn::NegMulAdd(rho, c2, c1));
  const DD root = Renormalise(y0, hn::Neg(hn::Mul(y0, correction)));
  const V a_scale = Pow2(d, a);
  const DD ratio{ScaleTo(root.hi, a_scale), ScaleTo(root.lo, a_scale)};
  // A poor starting value (it never is) would leave third-order terms.
  const auto newton_ok = hn::Le(hn::Abs(rho), hn::Set(d, 0x1p-30));

  // Ratio powers for the lanes of the first vector, then per block.
  DD power = ratio;
  hn::Store(power.hi, d, fields[Fields::kRatioHi] + at);
  hn::Store(power.lo, d, fields[Fields::kRatioLo] + at);
  for (std::size_t k = 1; k < g.LaneBits + 1; ++k) {
    power = Mul(power, power);
    if (k < g.LaneBits) {
      hn::Store(power.hi, d, fields[Fields::kRatioHi + k] + at);
      hn::Store(power.lo, d, fields[Fields::kRatioLo + k] + at);
    }
  }
  const DD lane_step = power;  // R^(step N)
  DD block = lane_step;
  for (std::size_t u = 0; u < kInterleave; ++u) {
    if (u > 0) block = Mul(block, lane_step);
    hn::Store(block.hi, d, fields[Fields::kBlockHi + u] + at);
    hn::Store(block.lo, d, fields[Fields::kBlockLo + u] + at);
  }

  // The glibc log-stage term grows with |q ln R|; the computed logarithm is
  // within a few ulp, hence the 2^-40 allowance.
  const V log_bound = hn::MulAdd(hn::Abs(log_range), hn::Set(d, 1.0 + 0x1p-40),
                                 hn::Set(d, 0x1p-40));
  const V tolerance = hn::Mul(
      hn::MulAdd(log_bound,
                 hn::Set(d, g.MaxAbsExponent * detail::kLibmLogError),
                 hn::Set(d, detail::kApproxError + detail::kLibmExpError)),
      hn::Set(d, 1.0 + 0x1p-40));

  hn::Store(first.hi, d, fields[Fields::kFirstHi] + at);
  hn::Store(first.lo, d, fields[Fields::kFirstLo] + at);
  hn::Store(log_range, d, fields[Fields::kLogRange] + at);
  hn::Store(tolerance, d, fields[Fields::kTolerance] + at);
  const auto fast = hn::And(in_range, newton_ok);
  hn::Store(hn::IfThenZeroElse(fast, one), d, fields[Fields::kUseLibm] + at);
}

// Rounds the approximation hi + lo of R^q for N orders from j, adds the
// roundings that are certain to equal pow's into sums[j..], and records the
// others in the bits of *fallback. A partial last vector covers only the
// lanes in `valid`.
template <bool kPartial>
HWY_INLINE void AddPowers(D d, DD power, const double* delta, V log_range,
                          V tolerance, double* sums, hn::Mask<D> valid,
                          std::uint8_t* fallback) {
  // R^d ~ 1 + d ln R for the grid offset d of each order.
  const V offset = hn::Mul(hn::LoadU(d, delta), log_range);
  const V lo = hn::MulAdd(power.hi, offset, power.lo);
  const V rounded = hn::Add(power.hi, lo);
  const V residual = hn::Sub(lo, hn::Sub(rounded, power.hi));
  // Kept when rounded - (|residual| + tolerance * rounded) still rounds to
  // `rounded`: then the exact power, and pow's value before its rounding,
  // lie strictly inside the rounding interval of `rounded`. Downwards is
  // the tighter side at a power of two.
  const V margin = hn::MulAdd(tolerance, rounded, hn::Abs(residual));
  auto keep = hn::Eq(hn::Sub(rounded, margin), rounded);
  if constexpr (kPartial) {
    keep = hn::And(keep, valid);
    const V old_sums = hn::MaskedLoad(valid, d, sums);
    hn::BlendedStore(hn::Add(old_sums, rounded), keep, d, sums);
    hn::StoreMaskBits(d, hn::AndNot(keep, valid), fallback);
  } else {
    const V old_sums = hn::LoadU(d, sums);
#if HWY_TARGET <= HWY_AVX3
    hn::BlendedStore(hn::Add(old_sums, rounded), keep, d, sums);
#else
    // AVX2's masked store is slow on some processors; a blend is not.
    hn::StoreU(hn::IfThenElse(keep, hn::Add(old_sums, rounded), old_sums), d,
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
  if (lanes > detail::kMaxLanes || lane_bits > 3) {
    return detail::AccumulateAllWithLibm(grid, ranges, sums);
  }

  GridConstants g{};
  g.Lanes = lanes;
  g.LaneBits = lane_bits;
  g.First = grid.First;
  g.StepNum = grid.StepNum;
  g.StepDen = grid.StepDen;
  g.MaxAbsExponent = grid.MaxAbsExponent;
  const double block_exponent = static_cast<double>(kInterleave * lanes) *
                                g.StepNum / g.StepDen;
  const double widest =
      std::max({grid.MaxAbsExponent, std::fabs(g.First), block_exponent});
  const double max_binade = std::floor(detail::kPowerBudget / (widest + 1.0));
  if (max_binade < 1.0) return detail::AccumulateAllWithLibm(grid, ranges, sums);
  g.Lowest = std::ldexp(1.0, -static_cast<int>(max_binade));
  g.Highest = std::ldexp(1.0, static_cast<int>(max_binade));

  HWY_ALIGN double fields[Fields::kCount][kChunk];
  HWY_ALIGN double padded[detail::kMaxLanes];
  HWY_ALIGN double starts[kChunk][2 * kInterleave][detail::kMaxLanes];
  // One byte of fallback bits per vector, zero beyond the last vector so
  // that whole words can be scanned.
  constexpr std::size_t kFallbackBytes =
      detail::kMaxVectorExponents + 2 * sizeof(std::uint64_t);
  std::uint8_t fallback[kFallbackBytes] = {};
  const std::size_t vectors = (n + lanes - 1) / lanes;
  const std::size_t words =
      (vectors + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);

  // Lane i of the first vector holds R^(First + step i): factor R^(step 2^k)
  // in where bit k of i is set.
  std::array<hn::Mask<D>, 3> lane_bit;
  for (std::size_t k = 0; k < 3; ++k) {
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

    // The first vectors of each range's progression, formed for the whole
    // chunk before any is used: their products depend on each other, the
    // ranges do not.
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
      for (std::size_t u = 0; u < kInterleave; ++u) {
        DD start = first;
        if (u > 0) {
          start = Mul(first,
                      DD{hn::Set(d, fields[Fields::kBlockHi + u - 1][i]),
                         hn::Set(d, fields[Fields::kBlockLo + u - 1][i])});
        }
        hn::Store(start.hi, d, starts[i][2 * u]);
        hn::Store(start.lo, d, starts[i][2 * u + 1]);
      }
    }

    for (std::size_t i = 0; i < chunk; ++i) {
      const double range = ranges[base + i];
      if (fields[Fields::kUseLibm][i] != 0.0) {
        libm_terms += detail::AccumulateWithLibm(grid.Exponents, range, sums);
        continue;
      }
      const V log_range = hn::Set(d, fields[Fields::kLogRange][i]);
      const V tolerance = hn::Set(d, fields[Fields::kTolerance][i]);
      DD chain[kInterleave];
      for (std::size_t u = 0; u < kInterleave; ++u) {
        chain[u] = {hn::Load(d, starts[i][2 * u]),
                    hn::Load(d, starts[i][2 * u + 1])};
      }
      const DD step{hn::Set(d, fields[Fields::kBlockHi + kInterleave - 1][i]),
                    hn::Set(d, fields[Fields::kBlockLo + kInterleave - 1][i])};

      std::size_t j = 0;
      while (j + kInterleave * lanes <= n) {
        for (std::size_t u = 0; u < kInterleave; ++u) {
          const std::size_t at = j + u * lanes;
          AddPowers<false>(d, chain[u], delta + at, log_range, tolerance,
                           out + at, all, fallback + at / lanes);
        }
        j += kInterleave * lanes;
        if (j < n) {
          for (std::size_t u = 0; u < kInterleave; ++u) {
            chain[u] = MulLoose(chain[u], step);
          }
        }
      }
      // A constant trip count lets the compiler keep chain[] in registers.
      for (std::size_t u = 0; u < kInterleave; ++u) {
        const std::size_t at = j + u * lanes;
        if (at < n) {
          AddPowers<true>(d, chain[u], delta + at, log_range, tolerance,
                          out + at, hn::FirstN(d, n - at), fallback + at / lanes);
        }
      }

      for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t word;
        std::memcpy(&word, fallback + w * sizeof(word), sizeof(word));
        while (word != 0) {
          const int bit = __builtin_ctzll(word);
          word &= word - 1;
          const std::size_t vec =
              w * sizeof(word) + static_cast<std::size_t>(bit) / 8;
          const std::size_t at =
              vec * lanes + static_cast<std::size_t>(bit) % 8;
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
