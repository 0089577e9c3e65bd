// The vector paths are compiled once per instruction set by Highway and
// chosen at run time; this file includes itself through foreach_target.h.
//
// Error budget. Both functions round an approximation A of the exact value
// F and keep that rounding only when |A - F| + |G - F| stays below A's
// distance to the nearest rounding boundary, where G is glibc's value
// before its final rounding. Then F, G and A round alike: the kept result
// is what libm returns. libm_bounds.h derives glibc's bounds from its
// sources and sets their budgets (1.5 times each); our own errors are
// derived next to the code below.
//
// pow (e_pow.c). Budget: kPowLibmExp + |y log x| kPowLibmLog, relative.
// Arguments that glibc sends down other paths (|y log x| >= 512, where it
// rounds differently, subnormal or overflowing results, |y| outside
// [2^-65, 2^63), zero, negative, subnormal or non-finite x) never take the
// fast path, or have results there that glibc's paths agree on (x = 1,
// tiny y).
//
// log10 (e_log10.c, the fdlibm code). With x = 2^n m, m in [1, 2) for
// n >= 0 and in [1/2, 1) for n < 0, and y the double n + (n < 0):
//   log10(x) = RN(RN(RN(log(m) ivln10) + RN(y log10_2lo))
//                 + RN(y log10_2hi))
// on x86-64 (plain SSE2 arithmetic without fused operations) and the same
// with the two last additions fused on aarch64. That sum can be two ulps
// off and is not correctly rounded, so it is reproduced operation for
// operation; only log(m) is approximated, and kept where it rounds as
// glibc's log does: budget kLogLibmNear (relative) for m in glibc's near-1
// interval [1 - 2^-4, 1 + 0x1.09p-4), kLogLibmTable (absolute) elsewhere.
#include "numerics/exact_elementary.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "numerics/elementary.h"
#include "numerics/hwy_config.h"
#include "numerics/kernel_tables.h"
#include "numerics/libm_bounds.h"
#include "numerics/libm_check.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "numerics/exact_elementary.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Included after foreach_target.h, as Highway requires.
#include "hwy/highway.h"
#include "numerics/double_double-inl.h"

#ifndef MFWINDOW_NUMERICS_EXACT_ELEMENTARY_SHARED
#define MFWINDOW_NUMERICS_EXACT_ELEMENTARY_SHARED
namespace numerics::detail {
namespace {

// ---- Our own approximation errors (derived next to the code below). ----
// Logarithm: absolute, and relative within glibc's near-1 interval.
inline constexpr double kLogApproxAbsolute = 0x1.6p-65;
inline constexpr double kLogApproxNear = 0x1p-60;
// Power: relative, plus |y| times the logarithm's absolute error.
inline constexpr double kPowApproxExp = 0x1p-62;
inline constexpr double kPowApproxPerExponent = kLogApproxAbsolute;

// Fast-path limit for pow: |y ln x| below 512, where glibc's exp stage
// takes its main path and the result is normal.
inline constexpr double kPowMaxExponentLog = 500.0;

// Widest vector of doubles the loops buffer (one byte of mask bits).
inline constexpr std::size_t kMaxLanes = 8;

// ---- Checks of the generated tables (kernel_tables.h) and polynomials
// against what the error analysis below relies on.
constexpr double Magnitude(double v) { return v < 0.0 ? -v : v; }

// The binary exponent of a nonzero finite double.
constexpr int Exponent(double v) {
  return static_cast<int>((std::bit_cast<std::uint64_t>(v) >> 52) & 0x7ff) -
         1023;
}

constexpr double PieceStart(std::size_t i) {
  return std::bit_cast<double>(kLogOffBits +
                               (std::uint64_t{i} << (52 - kLogTableBits)));
}

// r over piece i runs monotonically between its values at the two ends.
constexpr double MaxReduced(std::size_t i) {
  const double low = PieceStart(i) * kLogTable.InvC[i] - 1.0;
  const double high = PieceStart(i + 1) * kLogTable.InvC[i] - 1.0;
  return Magnitude(low) > Magnitude(high) ? Magnitude(low) : Magnitude(high);
}

// |r| < kMaxReduced (exact r, and the polynomial's range); where c != 1,
// log c has at least the exponent of every r of its piece (so that Fast2Sum
// adds them exactly even for k = 0); and |log x| < 2^-8 only in pieces with
// c = 1.
constexpr bool LogTableKeepsItsPromises() {
  for (std::size_t i = 0; i < kLogTableSize; ++i) {
    if (!(MaxReduced(i) < kMaxReduced)) return false;
    if (kLogTable.InvC[i] != 1.0 &&
        Exponent(kLogTable.LogCHi[i]) < Exponent(MaxReduced(i))) {
      return false;
    }
    const bool near_one = PieceStart(i + 1) > 0x1.fep-1 &&  // > e^-2^-8
                          PieceStart(i) < 0x1.0101p0;       // < e^2^-8
    if (near_one && kLogTable.InvC[i] != 1.0) return false;
  }
  return true;
}
static_assert(LogTableKeepsItsPromises());
static_assert(kLogTableSize == 16 && kExpTableSize == 16);
// The polynomial errors the analyses of LogCore and ExpCore take.
static_assert(kLogPolyErrorLog2 <= -52.2);
static_assert(kExpPolyWeightedErrorLog2 <= -65.0);

// glibc's log10 constants (e_log10.c).
inline constexpr double kInvLn10 = 0x1.bcb7b1526e50ep-2;
inline constexpr double kLog10Of2Hi = 0x1.34413509f6000p-2;
inline constexpr double kLog10Of2Lo = 0x1.9fef311f12b36p-42;
// glibc's log takes its near-1 path for m in [kNearLow, kNearHigh).
inline constexpr double kNearLow = 1.0 - 0x1p-4;
inline constexpr double kNearHigh = 1.0 + 0x1.09p-4;

inline std::size_t PowWithLibm(std::span<const double> base,
                               std::span<const double> exponent,
                               std::span<double> out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = numerics::Pow(base[i], exponent[i]);
  }
  return out.size();
}

inline std::size_t Log10WithLibm(std::span<const double> in,
                                 std::span<double> out) {
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = numerics::Log10(in[i]);
  return out.size();
}

}  // namespace
}  // namespace numerics::detail
#endif  // MFWINDOW_NUMERICS_EXACT_ELEMENTARY_SHARED

HWY_BEFORE_NAMESPACE();
namespace numerics {
namespace HWY_NAMESPACE {
namespace {

#if HWY_NATIVE_FMA && HWY_TARGET != HWY_SCALAR

namespace hn = hwy::HWY_NAMESPACE;

using D = hn::CappedTag<double, detail::kMaxLanes>;
using V = hn::Vec<D>;
using DI = hn::RebindToSigned<D>;
using VI = hn::Vec<DI>;
using M = hn::Mask<D>;
using DD = DoubleDouble<V>;

// ---- Lookups in the tables of 16 entries. Where a vector holds 8 doubles
// (AVX-512) a table sits in 2 registers: a lane permute per register and a
// selection by the index's upper bit (gathers are several times slower).
// With 4 (AVX2) the tables that share an index are read as rows (below):
// four permutes and three blends per table measured 20% slower than
// gathers there, the rows 13% faster. NEON gathers.
constexpr std::size_t kLanes = hn::MaxLanes(D());
constexpr bool kTablesInRegisters = !HWY_HAVE_SCALABLE && (kLanes == 8);
constexpr std::size_t kTableEntries = 16;
static_assert(detail::kLogTableSize == kTableEntries &&
              detail::kExpTableSize == kTableEntries);

#if HWY_HAVE_SCALABLE
#error "the lookups need vectors of a size known at compile time"
#endif

using Indices = decltype(hn::IndicesFromVec(D(), hn::Zero(DI())));

struct Table {
  const double* data;
};

// An index vector prepared for lookups: the lane within a register and the
// bits that choose the register (entry = index mod 16).
struct Index {
  Indices lane;
  M bit2;
  M bit3;
  VI raw;
};

HWY_INLINE Table LoadTable(D /* d */, const std::array<double, 16>& t) {
  return {t.data()};
}

template <int kBit>
HWY_INLINE M IndexBit(D d, VI index) {
  const DI di;
  return hn::RebindMask(d,
                        hn::Lt(hn::ShiftLeft<63 - kBit>(index), hn::Zero(di)));
}

HWY_INLINE Index PrepareIndex(D d, VI index) {
  const DI di;
  Index prepared{};
  prepared.raw = index;
  if constexpr (kTablesInRegisters) {
    prepared.lane = hn::IndicesFromVec(
        d, hn::And(index, hn::Set(di, static_cast<std::int64_t>(kLanes - 1))));
    prepared.bit3 = IndexBit<3>(d, index);
    if constexpr (kLanes == 4) prepared.bit2 = IndexBit<2>(d, index);
  }
  return prepared;
}

// Entry (index mod 16) of the table. The table's registers are loaded here
// rather than held: with five tables they would not fit in AVX2's sixteen.
HWY_INLINE V Lookup(const Table& t, const Index& index) {
  const D d;
  if constexpr (kTablesInRegisters && kLanes == 8) {
    return hn::IfThenElse(
        index.bit3, hn::TableLookupLanes(hn::LoadU(d, t.data + 8), index.lane),
        hn::TableLookupLanes(hn::LoadU(d, t.data), index.lane));
  } else if constexpr (kTablesInRegisters && kLanes == 4) {
    const V low = hn::IfThenElse(
        index.bit2, hn::TableLookupLanes(hn::LoadU(d, t.data + 4), index.lane),
        hn::TableLookupLanes(hn::LoadU(d, t.data), index.lane));
    const V high = hn::IfThenElse(
        index.bit2, hn::TableLookupLanes(hn::LoadU(d, t.data + 12), index.lane),
        hn::TableLookupLanes(hn::LoadU(d, t.data + 8), index.lane));
    return hn::IfThenElse(index.bit3, high, low);
  } else {
    const DI di;
    return hn::GatherIndex(d, t.data, hn::And(index.raw, hn::Set(di, 15)));
  }
}

// Integers below 2^51 in magnitude as doubles. AVX2 has no conversion from
// 64-bit integers: their two's complement added to the bits of 1.5 * 2^52
// gives 1.5 * 2^52 + k exactly.
HWY_INLINE V ToDouble(D d, VI k) {
#if HWY_TARGET == HWY_AVX2
  const DI di;
  constexpr double kMagic = 0x1.8p52;
  const VI magic_bits = hn::Set(
      di, static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(kMagic)));
  return hn::Sub(hn::BitCast(d, hn::Add(k, magic_bits)), hn::Set(d, kMagic));
#else
  return hn::ConvertTo(d, k);
#endif
}

// With 4 lanes (AVX2) the tables that share an index are also kept as rows
// of 4 doubles, one row per entry: a lookup loads each lane's row with one
// load and transposes the 4 rows in registers, 4 loads and 8 shuffles for
// up to 4 tables instead of a gather per table.
constexpr bool kTablesInRows = !HWY_HAVE_SCALABLE && kLanes == 4;

struct TableRows {
  std::array<double, 4 * kTableEntries> Log;  // InvC, LogCHi, LogCLo, 0
  std::array<double, 4 * kTableEntries> Exp;  // ScaleBits, Tail, 0, 0
};

constexpr TableRows MakeTableRows() {
  TableRows rows{};
  for (std::size_t i = 0; i < kTableEntries; ++i) {
    rows.Log[4 * i] = detail::kLogTable.InvC[i];
    rows.Log[4 * i + 1] = detail::kLogTable.LogCHi[i];
    rows.Log[4 * i + 2] = detail::kLogTable.LogCLo[i];
    rows.Exp[4 * i] = detail::kExpTable.ScaleBits[i];
    rows.Exp[4 * i + 1] = detail::kExpTable.Tail[i];
  }
  return rows;
}

alignas(32) inline constexpr TableRows kTableRows = MakeTableRows();

// Columns 0..2 of the rows of entries (index mod 16), lane by lane.
[[maybe_unused]] HWY_INLINE void LookupRows(D d,
                                            const std::array<double, 64>& rows,
                                            VI index, V& column0, V& column1,
                                            V& column2) {
  const DI di;
  HWY_ALIGN std::int64_t entry[kLanes < 4 ? 4 : kLanes] = {};
  hn::Store(hn::And(index, hn::Set(di, 15)), di, entry);
  const V r0 = hn::Load(d, rows.data() + 4 * entry[0]);
  const V r1 = hn::Load(d, rows.data() + 4 * entry[1]);
  const V r2 = hn::Load(d, rows.data() + 4 * entry[2]);
  const V r3 = hn::Load(d, rows.data() + 4 * entry[3]);
  const V t0 = hn::InterleaveLower(d, r0, r1);  // 00 10 02 12
  const V t1 = hn::InterleaveUpper(d, r0, r1);  // 01 11 03 13
  const V t2 = hn::InterleaveLower(d, r2, r3);
  const V t3 = hn::InterleaveUpper(d, r2, r3);
  column0 = hn::ConcatLowerLower(d, t2, t0);
  column1 = hn::ConcatLowerLower(d, t3, t1);
  column2 = hn::ConcatUpperUpper(d, t2, t0);
}

// The tables, loaded once per call.
struct Tables {
  Table InvC;
  Table LogCHi;
  Table LogCLo;
  Table ScaleBits;
  Table Tail;
};

HWY_INLINE Tables LoadTables(D d) {
  return {LoadTable(d, detail::kLogTable.InvC),
          LoadTable(d, detail::kLogTable.LogCHi),
          LoadTable(d, detail::kLogTable.LogCLo),
          LoadTable(d, detail::kExpTable.ScaleBits),
          LoadTable(d, detail::kExpTable.Tail)};
}

// True where x is a positive normal double (not zero, subnormal,
// infinite, NaN or negative): its bits less those of DBL_MIN lie below
// those of DBL_MAX less DBL_MIN, unsigned.
HWY_INLINE M PositiveNormal(D d, V x) {
  const hn::RebindToUnsigned<D> du;
  const auto offset = hn::Sub(hn::BitCast(du, x),
                              hn::Set(du, std::uint64_t{0x0010000000000000}));
  return hn::RebindMask(
      d, hn::Lt(offset, hn::Set(du, std::uint64_t{0x7fe0000000000000})));
}

// c[0] + c[1] x + ... + c[n-1] x^(n-1) by Horner's scheme, one fused
// multiply-add a step. (Estrin's scheme, with its shorter chain of
// dependent steps, measured no faster: these loops are bound by
// throughput, and it needs more operations.)
template <std::size_t kCount>
HWY_INLINE V Polynomial(D d, V x, const std::array<double, kCount>& c) {
  V sum = hn::Set(d, c[kCount - 1]);
  for (std::size_t n = kCount - 1; n-- > 0;) {
    sum = hn::MulAdd(sum, x, hn::Set(d, c[n]));
  }
  return sum;
}

// log x = hi + lo (not renormalised) for positive normal x.
//
// log x = k ln2 + log c + log1p(r) with r exact. The parts
//   a = k kLn2Hi + LogCHi, exact (multiples of 2^-43, |a| < 2^10),
//   a + r and then - r^2/2, each with its rounding error (Fast2Sum: a has
//       at least r's exponent unless a = 0, and |a + r| > r^2/2),
//   -r^2/2 = ar2 + ar2_err exactly (one fused multiply-subtract),
// leave small terms to round. The polynomial term p = ar3 P(r), |P| <
// 0.69, errs by under 2^-50.8 |r^3/2|: ar3 takes two roundings, P's last
// step one (2^-54), the product one, and P itself is off by 2^-52.2. Its
// addition into lo, last, adds 2^-53 |lo| < 2^-54.5 |r|^3 + 2^-105, and
// k kLn2Lo, LogCLo and the split of ln 2 under 2^-84.9. Together under
// 2^-51.6 |r|^3 + 2^-84.9 < 2^-65.1 for |r| < kMaxReduced. Where c = 1
// (and so k = 0) the last term vanishes; in glibc's near-1 interval, where
// |r|^3 < 2^-9 |log x|, the error stays under 2^-60.6 |log x|.
HWY_INLINE DD LogCore(D d, const Tables& tables, V x) {
  const DI di;
  const VI ix = hn::BitCast(di, x);
  const VI tmp =
      hn::Sub(ix, hn::Set(di, static_cast<std::int64_t>(detail::kLogOffBits)));
  const Index index =
      PrepareIndex(d, hn::ShiftRight<52 - detail::kLogTableBits>(tmp));
  const VI k = hn::ShiftRight<52>(tmp);
  const V z = hn::BitCast(d, hn::Sub(ix, hn::ShiftLeft<52>(k)));
  const V kd = ToDouble(d, k);
  V invc;
  V log_c_hi;
  V log_c_lo;
  if constexpr (kTablesInRows) {
    LookupRows(d, kTableRows.Log, index.raw, invc, log_c_hi, log_c_lo);
  } else {
    invc = Lookup(tables.InvC, index);
    log_c_hi = Lookup(tables.LogCHi, index);
    log_c_lo = Lookup(tables.LogCLo, index);
  }

  const V r = hn::MulSub(z, invc, hn::Set(d, 1.0));
  const V a = hn::MulAdd(kd, hn::Set(d, detail::kLn2Hi), log_c_hi);
  const DD sum1 = FastTwoSum(a, r);
  const V half_r = hn::Mul(r, hn::Set(d, -0.5));
  const DD ar2 = TwoProduct(half_r, r);
  const DD sum2 = FastTwoSum(sum1.hi, ar2.hi);

  const V ar3 = hn::Mul(ar2.hi, r);
  const V p = hn::Mul(ar3, Polynomial(d, r, detail::kLogPoly));

  V lo = hn::Add(hn::Add(sum1.lo, sum2.lo), ar2.lo);
  lo = hn::Add(lo, hn::MulAdd(kd, hn::Set(d, detail::kLn2Lo), log_c_lo));
  lo = hn::Add(lo, p);
  return {sum2.hi, lo};
}

// y log x = hi + lo with |lo| <= 2^-51 |hi|; the logarithm's absolute
// error becomes |y| 2^-65.1 here.
HWY_INLINE DD ScaledLog(D d, const Tables& tables, V x, V y) {
  const DD log_x = Renormalise(LogCore(d, tables, x));
  const DD t = TwoProduct(y, log_x.hi);
  return {t.hi, hn::MulAdd(y, log_x.lo, t.lo)};
}

// e^t for t = t.hi + t.lo, |t.hi| < 512, |t.lo| <= 2^-51 |t.hi|, as
// hi = RN(e^t) unless |lo| is over half an ulp, and hi + lo within a
// relative 1.01 * 2^-63 of e^t (hi + lo not renormalised).
//
// e^t = 2^e H e^(r + r_lo), k = 16 e + j the integer nearest t 16/ln2,
// taking 1 + Tail as e^Tail (off by Tail^2/2 < 2^-106):
//   r_hi = t.hi - k kLn2NHi, exact: t.hi and k kLn2NHi are multiples of
//       2^-58 when k != 0, and |r_hi| <= 0.02167 < 2^-5.5,
//   delta = t.lo - k kLn2NLo + Tail, |delta| < 2^-42.5, error under 2^-95,
//   r + r_lo = r_hi + delta by Fast2Sum, exact unless |r_hi| < |delta|,
//       and then off by under 2^-94,
//   e^r - 1 = r + q, q = r^2 Q(r) < 2^-12, off by three roundings under
//       2^-65 each (r^2, Q's last step, the product) and Q's 2^-65,
//   u + u_err = r + q exactly (Fast2Sum),
//   e^(r + r_lo) ~ 1 + u + u_lo, u_lo = u_err + r_lo (1 + u), dropping
//       r_lo^2 < 2^-117 and roundings under 2^-100.
// Finally hi = RN(2^e H (1 + u)) by one fused multiply-add, and
// lo = 2^e H (1 + u) - hi + 2^e H u_lo with the first difference exact
// before one rounding (2^e H - hi is exact, the two lie within 2.2% of each
// other).
HWY_INLINE DD ExpCore(D d, const Tables& tables, DD t) {
  const DI di;
  constexpr double kShift = 0x1.8p52;
  const V shifted =
      hn::MulAdd(t.hi, hn::Set(d, detail::kInvLn2N), hn::Set(d, kShift));
  const V kd = hn::Sub(shifted, hn::Set(d, kShift));
  const VI ki = hn::BitCast(di, shifted);
  const Index index = PrepareIndex(d, ki);
  V scale_bits;
  V tail;
  if constexpr (kTablesInRows) {
    V unused;
    LookupRows(d, kTableRows.Exp, ki, scale_bits, tail, unused);
  } else {
    scale_bits = Lookup(tables.ScaleBits, index);
    tail = Lookup(tables.Tail, index);
  }
  const V scale =
      hn::BitCast(d, hn::Add(hn::BitCast(di, scale_bits),
                             hn::ShiftLeft<52 - detail::kExpTableBits>(ki)));

  const V r_hi = hn::NegMulAdd(kd, hn::Set(d, detail::kLn2NHi), t.hi);
  const V delta =
      hn::Add(hn::NegMulAdd(kd, hn::Set(d, detail::kLn2NLo), t.lo), tail);
  const DD r = FastTwoSum(r_hi, delta);

  const V q =
      hn::Mul(hn::Mul(r.hi, r.hi), Polynomial(d, r.hi, detail::kExpPoly));
  const DD u = FastTwoSum(r.hi, q);
  const V u_lo = hn::Add(hn::MulAdd(r.lo, u.hi, r.lo), u.lo);

  const V rounded = hn::MulAdd(scale, u.hi, scale);
  const V residual =
      hn::MulAdd(scale, u_lo, hn::MulAdd(scale, u.hi, hn::Sub(scale, rounded)));
  return {rounded, residual};
}

struct Result {
  V value;
  M keep;  // the lanes whose value is libm's
};

// Kept when magnitude - (|residual| + tolerance) still rounds to
// magnitude, the absolute value of a rounded result: the exact value and
// glibc's unrounded one then lie strictly inside the rounding interval.
// Downwards is the tighter side at a power of two.
HWY_INLINE M FarFromBoundary(V magnitude, V residual, V tolerance) {
  const V margin = hn::Add(hn::Abs(residual), tolerance);
  return hn::Eq(hn::Sub(magnitude, margin), magnitude);
}

// The same with tolerance = relative * magnitude.
HWY_INLINE M FarFromBoundaryRelative(V magnitude, V residual, V relative) {
  const V margin = hn::MulAdd(relative, magnitude, hn::Abs(residual));
  return hn::Eq(hn::Sub(magnitude, margin), magnitude);
}

// x^y from t = ScaledLog(x, y), whose approximation errs by under a
// relative kPowApproxExp + |y| kPowApproxPerExponent (1.01 * 2^-63 +
// |y| 2^-65.1, with margin).
HWY_INLINE Result PowFromLog(D d, const Tables& tables, V x, V y, DD t) {
  const DD p = ExpCore(d, tables, t);
  const V abs_t = hn::Abs(t.hi);
  // |y log x| < 500 also leaves out infinite and NaN exponents, and huge
  // ones unless x = 1, where pow is 1 however large y is.
  const M fast = hn::And(PositiveNormal(d, x),
                         hn::Lt(abs_t, hn::Set(d, detail::kPowMaxExponentLog)));
  // Relative: glibc's and our exp stages, glibc's log stage per |y log x|
  // and ours per |y|; 2^-40 covers the roundings of this sum.
  const V relative = hn::MulAdd(
      abs_t, hn::Set(d, detail::kPowLibmLog * (1.0 + 0x1p-40)),
      hn::MulAdd(hn::Abs(y),
                 hn::Set(d, detail::kPowApproxPerExponent * (1.0 + 0x1p-40)),
                 hn::Set(d, (detail::kPowLibmExp + detail::kPowApproxExp) *
                                (1.0 + 0x1p-40))));
  // The powers of positive x are positive.
  return {p.hi, hn::And(fast, FarFromBoundaryRelative(p.hi, p.lo, relative))};
}

// glibc's split x = 2^n m, m in [1/2, 1) for n < 0 and in [1, 2) for
// n >= 0 (n < 0 where x < 1), its y = n + (n < 0) as a double, and
// log m = log_m.hi + log_m.lo, renormalised.
struct Log10Parts {
  V m;
  V y;
  DD log_m;
};

HWY_INLINE Log10Parts Log10Split(D d, const Tables& tables, V x) {
  const DI di;
  const VI ix = hn::BitCast(di, x);
  const auto below_one =
      hn::Lt(ix, hn::Set(di, std::int64_t{0x3ff0000000000000}));
  const VI n = hn::Sub(hn::ShiftRight<52>(ix), hn::Set(di, 1023));
  // y as an integer; m then has the exponent n - y.
  const VI y_int = hn::IfThenElse(below_one, hn::Add(n, hn::Set(di, 1)), n);
  const V m = hn::BitCast(d, hn::Sub(ix, hn::ShiftLeft<52>(y_int)));
  return {m, ToDouble(d, y_int), Renormalise(LogCore(d, tables, m))};
}

// glibc's last steps of log10 from log m and y, in its order:
//   RN(RN(RN(log m ivln10) + RN(y log10_2lo)) + RN(y log10_2hi))
// on x86-64, where libm.so.6 performs them as separate operations, and
//   fma(y, log10_2hi, fma(y, log10_2lo, RN(log m ivln10)))
// on aarch64, where the compiler fused them (read off its libm.so.6).
HWY_INLINE V Log10FinalSteps(D d, V log_m, V y) {
  const V scaled = hn::Mul(log_m, hn::Set(d, detail::kInvLn10));
#if HWY_ARCH_ARM_A64
  return hn::MulAdd(y, hn::Set(d, detail::kLog10Of2Hi),
                    hn::MulAdd(y, hn::Set(d, detail::kLog10Of2Lo), scaled));
#else
  return hn::Add(hn::Add(scaled, hn::Mul(y, hn::Set(d, detail::kLog10Of2Lo))),
                 hn::Mul(y, hn::Set(d, detail::kLog10Of2Hi)));
#endif
}

HWY_INLINE Result Log10FromSplit(D d, V x, const Log10Parts& s) {
  const M near = hn::And(hn::Ge(s.m, hn::Set(d, detail::kNearLow)),
                         hn::Lt(s.m, hn::Set(d, detail::kNearHigh)));
  const V tolerance = hn::IfThenElse(
      near,
      hn::Mul(hn::Abs(s.log_m.hi),
              hn::Set(d, (detail::kLogLibmNear + detail::kLogApproxNear) *
                             (1.0 + 0x1p-40))),
      hn::Set(d, detail::kLogLibmTable + detail::kLogApproxAbsolute));
  const M keep =
      hn::And(PositiveNormal(d, x),
              FarFromBoundary(hn::Abs(s.log_m.hi), s.log_m.lo, tolerance));
  return {Log10FinalSteps(d, s.log_m.hi, s.y), keep};
}

// Lanes of the input from `at`, padded with `pad` past its end.
HWY_INLINE V LoadPadded(D d, std::span<const double> in, std::size_t at,
                        double pad) {
  HWY_ALIGN double values[detail::kMaxLanes];
  for (std::size_t lane = 0; lane < hn::Lanes(d); ++lane) {
    values[lane] = at + lane < in.size() ? in[at + lane] : pad;
  }
  return hn::Load(d, values);
}

// Writes the first `count` lanes of v to out.
HWY_INLINE void StorePartial(D d, V v, std::size_t count, double* out) {
  HWY_ALIGN double values[detail::kMaxLanes];
  hn::Store(v, d, values);
  for (std::size_t lane = 0; lane < count; ++lane) out[lane] = values[lane];
}

// The elements of a block that the vector path leaves to libm, with their
// arguments (out may overwrite an input before libm runs). Collected so
// that the vector loop makes no calls: a call would cost it the constants
// it keeps in registers.
constexpr std::size_t kBlock = 512;

struct Deferred {
  std::size_t Count = 0;
  std::size_t Index[kBlock];
  double X[kBlock];
  double Y[kBlock];
};

// Records the lanes below `count` that `keep` leaves out.
HWY_INLINE void Defer(D d, M keep, V x, V y, std::size_t at, std::size_t count,
                      Deferred& deferred) {
  HWY_ALIGN double xs[detail::kMaxLanes] = {};
  HWY_ALIGN double ys[detail::kMaxLanes] = {};
  std::uint8_t bits[(detail::kMaxLanes + 7) / 8] = {};
  hn::Store(x, d, xs);
  hn::Store(y, d, ys);
  hn::StoreMaskBits(d, hn::Not(keep), bits);
  // Usually one lane: visit the set bits only.
  unsigned left = bits[0] & ((1U << count) - 1U);
  while (left != 0) {
    const auto lane = static_cast<std::size_t>(std::countr_zero(left));
    left &= left - 1;
    deferred.Index[deferred.Count] = at + lane;
    deferred.X[deferred.Count] = xs[lane];
    deferred.Y[deferred.Count] = ys[lane];
    ++deferred.Count;
  }
}

// The two stages of pow: the logarithm, then the exponential and the
// decision.
struct PowStages {
  using Partial = DD;
  static HWY_INLINE Partial First(D d, const Tables& t, V x, V y) {
    return ScaledLog(d, t, x, y);
  }
  static HWY_INLINE Result Second(D d, const Tables& t, V x, V y,
                                  const Partial& partial) {
    return PowFromLog(d, t, x, y, partial);
  }
  static double Libm(double x, double y) { return numerics::Pow(x, y); }
};

// The two stages of log10 (y unused): the inner logarithm, then glibc's
// final steps and the decision.
struct Log10Stages {
  using Partial = Log10Parts;
  static HWY_INLINE Partial First(D d, const Tables& t, V x, V /* y */) {
    return Log10Split(d, t, x);
  }
  static HWY_INLINE Result Second(D d, const Tables& /* t */, V x, V /* y */,
                                  const Partial& partial) {
    return Log10FromSplit(d, x, partial);
  }
  static double Libm(double x, double /* y */) { return numerics::Log10(x); }
};

// out[i] = f(x[i], y[i]) through the stages, a block at a time; the
// deferred elements of each block then come from libm, or, when `kept` is
// given, are only marked there (kept[i] = 0, out[i] unspecified; 1
// elsewhere). Returns the number of deferred elements.
template <class Stages>
std::size_t Elementwise(std::span<const double> x, std::span<const double> y,
                        std::span<double> out, std::uint8_t* kept) {
  const D d;
  const std::size_t lanes = hn::Lanes(d);
  const Tables tables = LoadTables(d);
  const std::size_t n = out.size();
  std::size_t deferred_total = 0;
  Deferred deferred;
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t end = std::min(n, start + kBlock);
    deferred.Count = 0;
    std::size_t i = start;
    if (i + lanes <= end) {
      // Software-pipelined: the first stage of the next vector is in
      // flight with the second of this one, which measured 15% faster than
      // one vector at a time (the chain of dependent operations through
      // both is long). The last round recomputes its own vector instead of
      // reading past the end.
      V xv = hn::LoadU(d, x.data() + i);
      V yv = hn::LoadU(d, y.data() + i);
      typename Stages::Partial partial = Stages::First(d, tables, xv, yv);
      for (;;) {
        const bool more = i + 2 * lanes <= end;
        const std::size_t next = more ? i + lanes : i;
        const V x_next = hn::LoadU(d, x.data() + next);
        const V y_next = hn::LoadU(d, y.data() + next);
        const typename Stages::Partial partial_next =
            Stages::First(d, tables, x_next, y_next);
        const Result result = Stages::Second(d, tables, xv, yv, partial);
        hn::StoreU(result.value, d, out.data() + i);
        if (!hn::AllTrue(d, result.keep)) {
          Defer(d, result.keep, xv, yv, i, lanes, deferred);
        }
        i += lanes;
        if (!more) break;
        xv = x_next;
        yv = y_next;
        partial = partial_next;
      }
    }
    if (i < end) {
      const V xv = LoadPadded(d, x, i, 1.0);
      const V yv = LoadPadded(d, y, i, 1.0);
      const Result result =
          Stages::Second(d, tables, xv, yv, Stages::First(d, tables, xv, yv));
      StorePartial(d, result.value, end - i, out.data() + i);
      Defer(d, result.keep, xv, yv, i, end - i, deferred);
    }
    if (kept != nullptr) {
      std::fill(kept + start, kept + end, std::uint8_t{1});
      for (std::size_t k = 0; k < deferred.Count; ++k) {
        kept[deferred.Index[k]] = 0;
      }
    } else {
      for (std::size_t k = 0; k < deferred.Count; ++k) {
        out[deferred.Index[k]] = Stages::Libm(deferred.X[k], deferred.Y[k]);
      }
    }
    deferred_total += deferred.Count;
  }
  return deferred_total;
}

std::size_t PowImpl(std::span<const double> base,
                    std::span<const double> exponent, std::span<double> out,
                    std::uint8_t* kept) {
  return Elementwise<PowStages>(base, exponent, out, kept);
}

std::size_t Log10Impl(std::span<const double> in, std::span<double> out,
                      std::uint8_t* kept) {
  return Elementwise<Log10Stages>(in, in, out, kept);
}

bool NaturalLogImpl(std::span<const double> x, std::span<double> hi,
                    std::span<double> lo) {
  const D d;
  const Tables tables = LoadTables(d);
  const std::size_t lanes = hn::Lanes(d);
  for (std::size_t i = 0; i < x.size(); i += lanes) {
    const std::size_t count = std::min(lanes, x.size() - i);
    const DD parts = Renormalise(LogCore(d, tables, LoadPadded(d, x, i, 1.0)));
    StorePartial(d, parts.hi, count, hi.data() + i);
    StorePartial(d, parts.lo, count, lo.data() + i);
  }
  return true;
}

bool PowApproximationImpl(std::span<const double> base,
                          std::span<const double> exponent,
                          std::span<double> hi, std::span<double> lo) {
  const D d;
  const Tables tables = LoadTables(d);
  const std::size_t lanes = hn::Lanes(d);
  for (std::size_t i = 0; i < base.size(); i += lanes) {
    const std::size_t count = std::min(lanes, base.size() - i);
    const V x = LoadPadded(d, base, i, 1.0);
    const V y = LoadPadded(d, exponent, i, 1.0);
    // Renormalised, so that lo is within half an ulp of hi.
    const DD parts =
        Renormalise(ExpCore(d, tables, ScaledLog(d, tables, x, y)));
    StorePartial(d, parts.hi, count, hi.data() + i);
    StorePartial(d, parts.lo, count, lo.data() + i);
  }
  return true;
}

#else  // no fused multiply-add on this target: the libm loops

std::size_t PowImpl(std::span<const double> base,
                    std::span<const double> exponent, std::span<double> out,
                    std::uint8_t* kept) {
  if (kept != nullptr) {
    std::fill(kept, kept + out.size(), std::uint8_t{0});
    return out.size();
  }
  return detail::PowWithLibm(base, exponent, out);
}

std::size_t Log10Impl(std::span<const double> in, std::span<double> out,
                      std::uint8_t* kept) {
  if (kept != nullptr) {
    std::fill(kept, kept + out.size(), std::uint8_t{0});
    return out.size();
  }
  return detail::Log10WithLibm(in, out);
}

// Without fused operations the approximations do not exist.
bool NaturalLogImpl(std::span<const double> /* x */, std::span<double> /* hi */,
                    std::span<double> /* lo */) {
  return false;
}

bool PowApproximationImpl(std::span<const double> /* base */,
                          std::span<const double> /* exponent */,
                          std::span<double> /* hi */,
                          std::span<double> /* lo */) {
  return false;
}

#endif

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace numerics
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace numerics {

HWY_EXPORT(PowImpl);
HWY_EXPORT(Log10Impl);
HWY_EXPORT(NaturalLogImpl);
HWY_EXPORT(PowApproximationImpl);

std::size_t PowElementwise(std::span<const double> base,
                           std::span<const double> exponent,
                           std::span<double> out) {
  assert(base.size() == out.size() && exponent.size() == out.size());
  if (out.empty()) return 0;
  if (!LibmMatchesKernels()) return detail::PowWithLibm(base, exponent, out);
  return HWY_DYNAMIC_DISPATCH(PowImpl)(base, exponent, out, nullptr);
}

std::size_t Log10Elementwise(std::span<const double> in,
                             std::span<double> out) {
  assert(in.size() == out.size());
  if (out.empty()) return 0;
  if (!LibmMatchesKernels()) return detail::Log10WithLibm(in, out);
  return HWY_DYNAMIC_DISPATCH(Log10Impl)(in, out, nullptr);
}

namespace detail {

std::size_t PowKernel(std::span<const double> base,
                      std::span<const double> exponent, std::span<double> out,
                      std::span<std::uint8_t> kept) {
  assert(base.size() == out.size() && exponent.size() == out.size());
  assert(kept.size() == out.size());
  if (out.empty()) return 0;
  return HWY_DYNAMIC_DISPATCH(PowImpl)(base, exponent, out, kept.data());
}

std::size_t Log10Kernel(std::span<const double> in, std::span<double> out,
                        std::span<std::uint8_t> kept) {
  assert(in.size() == out.size() && kept.size() == out.size());
  if (out.empty()) return 0;
  return HWY_DYNAMIC_DISPATCH(Log10Impl)(in, out, kept.data());
}

bool NaturalLogApproximation(std::span<const double> x, std::span<double> hi,
                             std::span<double> lo) {
  assert(hi.size() == x.size() && lo.size() == x.size());
  return HWY_DYNAMIC_DISPATCH(NaturalLogImpl)(x, hi, lo);
}

bool PowApproximation(std::span<const double> base,
                      std::span<const double> exponent, std::span<double> hi,
                      std::span<double> lo) {
  assert(exponent.size() == base.size() && hi.size() == base.size() &&
         lo.size() == base.size());
  return HWY_DYNAMIC_DISPATCH(PowApproximationImpl)(base, exponent, hi, lo);
}

}  // namespace detail
}  // namespace numerics
#endif  // HWY_ONCE
