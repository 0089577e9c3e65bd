// The bodies of the portable pow, log, log10 and exp (portable_libm.h),
// once for every way of fusing a multiply-add: `Fma` is a callable
// (double, double, double) -> double that rounds a*b+c once.
//
// The algorithms are Arm's (optimized-routines, 2018; MIT licensed, as in
// portable_libm_tables.cpp), which glibc's and musl's pow, log and exp are.
// On x86-64 glibc takes its variants built for processors with FMA, whose
// compiler fused every product whose only use is an addition; each such
// place is written here as the fused operation it became, so that these
// functions round as glibc's do, operation for operation. log10 is glibc's
// formula on top of log:
//   log10(x) = RN(RN(RN(y log10_2lo) + RN(ivln10 log(m))) + RN(y log10_2hi))
// with x = 2^k m and y = k or k + 1 as glibc splits it.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

#include "numerics/portable_libm_tables.h"

namespace numerics::portable::detail {
// Internal to each file that includes it: portable_libm_fma.cpp is built
// for other processors, and no copy of its code may stand in for another's.
namespace {  // NOLINT(google-build-namespaces,cert-dcl59-cpp)

inline std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }
inline double FromBits(std::uint64_t i) { return std::bit_cast<double>(i); }
// The sign and exponent bits.
inline std::uint32_t Top12(double x) {
  return static_cast<std::uint32_t>(Bits(x) >> 52);
}
inline std::uint32_t Top16(double x) {
  return static_cast<std::uint32_t>(Bits(x) >> 48);
}

// Results out of range, as the C library signals them (the operation
// raises the floating-point flag that C asks for).
inline double Overflow(bool negative) {
  volatile double big = 0x1p769;
  const double y = big * 0x1p769;
  return negative ? -y : y;
}
inline double Underflow(bool negative) {
  volatile double tiny = 0x1p-767;
  const double y = tiny * 0x1p-767;
  return negative ? -y : y;
}
inline double Invalid(double x) { return (x - x) / (x - x); }
inline double DivideByZero(bool negative) {
  volatile double one = negative ? -1.0 : 1.0;
  return one / 0.0;
}

inline constexpr std::uint64_t kPowOff = 0x3fe6955500000000;
inline constexpr int kN = 1 << kTableBits;

// log(x) = hi + *tail, for the bits `ix` of x (subnormals normalised with
// the exponent running below zero).
template <typename Fma>
double PowLog(std::uint64_t ix, double* tail, Fma fma) {
  const auto& d = kPowLogData;
  const std::uint64_t tmp = ix - kPowOff;
  const auto i = static_cast<int>((tmp >> (52 - kTableBits)) % kN);
  const auto k = static_cast<int>(static_cast<std::int64_t>(tmp) >> 52);
  const std::uint64_t iz = ix - (tmp & 0xfffULL << 52);
  const double z = FromBits(iz);
  const auto kd = static_cast<double>(k);
  const double invc = d.tab[i].invc;
  const double logc = d.tab[i].logc;
  const double logctail = d.tab[i].logctail;
  // |z/c - 1| < 1/N, so r = z/c - 1 is exact.
  const double r = fma(z, invc, -1.0);
  const double t1 = fma(kd, d.ln2hi, logc);
  const double t2 = t1 + r;
  const double lo1 = fma(kd, d.ln2lo, logctail);
  const double lo2 = t1 - t2 + r;
  const double* a = d.poly;
  const double ar = a[0] * r;  // a[0] = -0.5
  const double ar2 = r * ar;
  const double ar3 = r * ar2;
  const double hi = t2 + ar2;
  const double lo3 = fma(ar, r, -ar2);
  const double lo4 = t2 - hi + ar2;
  const double inner = fma(r, a[6], a[5]);
  const double middle = fma(ar2, inner, fma(r, a[4], a[3]));
  const double outer = fma(ar2, middle, fma(r, a[2], a[1]));
  const double lo = fma(ar3, outer, lo1 + lo2 + lo3 + lo4);
  const double y = hi + lo;
  *tail = hi - y + lo;
  return y;
}

// scale * (1 + tmp) where the exponent of scale (bits `sbits`) overflowed
// or underflowed; `ki` is the reduction's k. glibc's pow fused the two
// products scale * tmp of the subnormal range, its exp rounded that product
// once and added it twice (`fused_below`).
template <typename Fma>
double ExpSpecialCase(double tmp, std::uint64_t sbits, std::uint64_t ki,
                      bool fused_below, Fma fma) {
  if ((ki & 0x80000000) == 0) {
    // k > 0: the exponent of scale may have overflowed by up to 460.
    sbits -= 1009ULL << 52;
    const double scale = FromBits(sbits);
    return 0x1p1009 * fma(scale, tmp, scale);
  }
  // k < 0: the subnormal range needs care.
  sbits += 1022ULL << 52;
  const double scale = FromBits(sbits);  // signed
  const double product = scale * tmp;
  double y = fused_below ? fma(scale, tmp, scale) : scale + product;
  if (y < 0.0 ? -y < 1.0 : y < 1.0) {
    // Rounded to the final precision before it is scaled into the
    // subnormal range, against double rounding.
    const double one = y < 0.0 ? -1.0 : 1.0;
    double lo = fused_below ? fma(scale, tmp, scale - y) : scale - y + product;
    const double hi = one + y;
    lo = one - hi + y + lo;
    y = (hi + lo) - one;
    if (y == 0.0) y = FromBits(sbits & 0x8000000000000000);
    volatile double tiny = 0x1p-1022;
    static_cast<void>(tiny * 0x1p-1022);  // the underflow flag
  }
  return 0x1p-1022 * y;
}

inline constexpr std::uint32_t kSignBias = 0x800 << kTableBits;

// The reduction and the polynomial of exp, shared by exp and pow:
// sign * exp(x + xtail) for x past the special cases, `large` when
// |x| >= 512 (the result's exponent may overflow or underflow);
// `fused_below` as ExpSpecialCase.
template <typename Fma>
double ExpReduced(double x, double xtail, std::uint32_t sign_bias, bool large,
                  bool fused_below, Fma fma) {
  const auto& d = kExpData;
  // exp(x) = 2^(k/N) exp(r), x = k ln2/N + r, |r| <= ln2/2N.
  double kd = fma(d.invln2N, x, d.shift);
  const std::uint64_t ki = Bits(kd);
  kd -= d.shift;
  double r = fma(kd, d.negln2loN, fma(kd, d.negln2hiN, x));
  r += xtail;
  const std::uint64_t idx = 2 * (ki % kN);
  const std::uint64_t top = (ki + sign_bias) << (52 - kTableBits);
  const double tail = FromBits(d.tab[idx]);
  const std::uint64_t sbits = d.tab[idx + 1] + top;
  const double r2 = r * r;
  const double* c = d.poly;
  const double tmp =
      fma(r2 * r2, fma(r, c[3], c[2]), fma(r2, fma(r, c[1], c[0]), tail + r));
  if (large) return ExpSpecialCase(tmp, sbits, ki, fused_below, fma);
  const double scale = FromBits(sbits);
  return fma(scale, tmp, scale);
}

// sign * exp(x + xtail), |xtail| < 2^-8/N, |xtail| <= |x|; `sign_bias` is
// kSignBias for a negative result.
template <typename Fma>
double ExpInline(double x, double xtail, std::uint32_t sign_bias, Fma fma) {
  std::uint32_t abstop = Top12(x) & 0x7ff;
  if (abstop - Top12(0x1p-54) >= Top12(512.0) - Top12(0x1p-54)) {
    if (abstop - Top12(0x1p-54) >= 0x80000000) {
      // Tiny x, 0 included: no spurious underflow.
      const double one = 1.0 + x;
      return sign_bias != 0 ? -one : one;
    }
    if (abstop >= Top12(1024.0)) {
      return (Bits(x) >> 63) != 0 ? Underflow(sign_bias != 0)
                                  : Overflow(sign_bias != 0);
    }
    abstop = 0;  // large x: the special case below
  }
  return ExpReduced(x, xtail, sign_bias, abstop == 0, true, fma);
}

// 0 when the finite non-zero y (bits `iy`) is not an integer, 1 when odd,
// 2 when even.
inline int IntegerKind(std::uint64_t iy) {
  const auto e = static_cast<int>(iy >> 52 & 0x7ff);
  if (e < 0x3ff) return 0;
  if (e > 0x3ff + 52) return 2;
  if ((iy & ((1ULL << (0x3ff + 52 - e)) - 1)) != 0) return 0;
  if ((iy & (1ULL << (0x3ff + 52 - e))) != 0) return 1;
  return 2;
}

// True for the bits of 0, an infinity or a NaN.
inline bool ZeroInfNan(std::uint64_t i) {
  return 2 * i - 1 >= 2 * Bits(std::numeric_limits<double>::infinity()) - 1;
}

template <typename Fma>
double Pow(double x, double y, Fma fma) {
  constexpr std::uint64_t kOne = 0x3ff0000000000000;
  const std::uint64_t kInfBits = Bits(std::numeric_limits<double>::infinity());
  std::uint32_t sign_bias = 0;
  std::uint64_t ix = Bits(x);
  const std::uint64_t iy = Bits(y);
  std::uint32_t topx = Top12(x);
  const std::uint32_t topy = Top12(y);
  if (topx - 0x001 >= 0x7ff - 0x001 ||
      (topy & 0x7ff) - 0x3be >= 0x43e - 0x3be) {
    // x < 2^-1022, infinite or NaN; or |y| < 2^-65, |y| >= 2^63 or NaN.
    if (ZeroInfNan(iy)) {
      if (2 * iy == 0) return 1.0;
      if (ix == kOne) return 1.0;
      if (2 * ix > 2 * kInfBits || 2 * iy > 2 * kInfBits) return x + y;
      if (2 * ix == 2 * kOne) return 1.0;
      if ((2 * ix < 2 * kOne) == ((iy >> 63) == 0)) return 0.0;
      return y * y;
    }
    if (ZeroInfNan(ix)) {
      double x2 = x * x;
      if ((ix >> 63) != 0 && IntegerKind(iy) == 1) x2 = -x2;
      if ((iy >> 63) == 0) return x2;
      volatile double divisor = x2;
      return 1 / divisor;
    }
    // x and y are finite and not zero.
    if ((ix >> 63) != 0) {
      const int kind = IntegerKind(iy);
      if (kind == 0) return Invalid(x);
      if (kind == 1) sign_bias = kSignBias;
      ix &= 0x7fffffffffffffff;
      topx &= 0x7ff;
    }
    if ((topy & 0x7ff) - 0x3be >= 0x43e - 0x3be) {
      if (ix == kOne) return 1.0;
      if ((topy & 0x7ff) < 0x3be) {
        // |y| < 2^-65: x^y ~ 1 + y log x.
        return ix > kOne ? 1.0 + y : 1.0 - y;
      }
      return (ix > kOne) == (topy < 0x800) ? Overflow(false) : Underflow(false);
    }
    if (topx == 0) {
      // Subnormal x: normalised, the exponent below zero.
      ix = Bits(x * 0x1p52);
      ix &= 0x7fffffffffffffff;
      ix -= 52ULL << 52;
    }
  }
  double lo = 0.0;
  const double hi = PowLog(ix, &lo, fma);
  const double ehi = y * hi;
  const double elo = fma(y, lo, fma(y, hi, -ehi));
  return ExpInline(ehi, elo, sign_bias, fma);
}

template <typename Fma>
double Exp(double x, Fma fma) {
  std::uint32_t abstop = Top12(x) & 0x7ff;
  if (abstop - Top12(0x1p-54) >= Top12(512.0) - Top12(0x1p-54)) {
    if (abstop - Top12(0x1p-54) >= 0x80000000) return 1.0 + x;
    if (abstop >= Top12(1024.0)) {
      if (Bits(x) == Bits(-std::numeric_limits<double>::infinity())) {
        return 0.0;
      }
      if (abstop >= Top12(std::numeric_limits<double>::infinity())) {
        return 1.0 + x;
      }
      return (Bits(x) >> 63) != 0 ? Underflow(false) : Overflow(false);
    }
    abstop = 0;
  }
  return ExpReduced(x, 0.0, 0, abstop == 0, false, fma);
}

template <typename Fma>
double Log(double x, Fma fma) {
  const auto& d = kLogData;
  std::uint64_t ix = Bits(x);
  const std::uint32_t top = Top16(x);
  constexpr std::uint64_t kLow = 0x3fee000000000000;   // 1 - 2^-4
  constexpr std::uint64_t kHigh = 0x3ff1090000000000;  // 1 + 0x1.09p-4
  if (ix - kLow < kHigh - kLow) {
    // Close to 1.
    if (ix == 0x3ff0000000000000) return 0.0;
    const double r = x - 1.0;
    const double r2 = r * r;
    const double r3 = r * r2;
    const double* b = d.poly1;
    const double inner = fma(r3, b[10], fma(r2, b[9], fma(r, b[8], b[7])));
    const double middle = fma(r3, inner, fma(r2, b[6], fma(r, b[5], b[4])));
    const double outer = fma(r3, middle, fma(r2, b[3], fma(r, b[2], b[1])));
    // r split into rhi + rlo, as the fused operations round it.
    const double rhi = fma(-r, 0x1p27, fma(r, 0x1p27, r));
    const double rlo = r - rhi;
    const double rhi2 = rhi * rhi;
    const double hi = fma(rhi2, b[0], r);  // b[0] = -0.5
    double lo = fma(rhi2, b[0], r - hi);
    lo = fma(b[0] * rlo, rhi + r, lo);
    double y = fma(r3, outer, lo);
    y += hi;
    return y;
  }
  if (top - 0x0010 >= 0x7ff0 - 0x0010) {
    // x < 2^-1022, infinite or NaN.
    if (ix * 2 == 0) return DivideByZero(true);
    if (ix == Bits(std::numeric_limits<double>::infinity())) return x;
    if ((top & 0x8000) != 0 || (top & 0x7ff0) == 0x7ff0) return Invalid(x);
    // Subnormal: normalised.
    ix = Bits(x * 0x1p52);
    ix -= 52ULL << 52;
  }
  constexpr std::uint64_t kOff = 0x3fe6000000000000;
  const std::uint64_t tmp = ix - kOff;
  const auto i = static_cast<int>((tmp >> (52 - kTableBits)) % kN);
  const auto k = static_cast<int>(static_cast<std::int64_t>(tmp) >> 52);
  const std::uint64_t iz = ix - (tmp & 0xfffULL << 52);
  const double invc = d.tab[i].invc;
  const double logc = d.tab[i].logc;
  const double z = FromBits(iz);
  const double r = fma(z, invc, -1.0);
  const auto kd = static_cast<double>(k);
  const double w = fma(kd, d.ln2hi, logc);
  const double hi = w + r;
  const double lo = fma(kd, d.ln2lo, w - hi + r);
  const double r2 = r * r;
  const double* a = d.poly;
  const double p = fma(r2, fma(r, a[4], a[3]), fma(r, a[2], a[1]));
  const double y = fma(r * r2, p, fma(r2, a[0], lo)) + hi;
  return y;
}

template <typename Fma>
double Log10(double x, Fma fma) {
  constexpr double kTwo54 = 0x1p54;
  constexpr double kInvLn10 = 4.34294481903251816668e-01;
  constexpr double kLog10Of2Hi = 3.01029995663611771306e-01;
  constexpr double kLog10Of2Lo = 3.69423907715893078616e-13;
  std::uint64_t bits = Bits(x);
  auto hx = static_cast<std::int32_t>(bits >> 32);
  const auto lx = static_cast<std::uint32_t>(bits);
  std::int32_t k = 0;
  if (hx < 0x00100000) {
    // x < 2^-1022.
    if (((hx & 0x7fffffff) | static_cast<std::int32_t>(lx)) == 0) {
      return -kTwo54 / 0.0;
    }
    if (hx < 0) return (x - x) / (x - x);
    k -= 54;
    x *= kTwo54;  // subnormal: scaled up
    bits = Bits(x);
    hx = static_cast<std::int32_t>(bits >> 32);
  }
  if (hx >= 0x7ff00000) return x + x;
  k += (hx >> 20) - 1023;
  const std::int32_t i = static_cast<std::int32_t>(
      (static_cast<std::uint32_t>(k) & 0x80000000U) >> 31);
  hx = (hx & 0x000fffff) | ((0x3ff - i) << 20);
  const auto y = static_cast<double>(k + i);
  x = FromBits(
      (static_cast<std::uint64_t>(static_cast<std::uint32_t>(hx)) << 32) |
      (Bits(x) & 0xffffffffULL));
  const double z = y * kLog10Of2Lo + kInvLn10 * Log(x, fma);
  return z + y * kLog10Of2Hi;
}

}  // namespace
}  // namespace numerics::portable::detail
