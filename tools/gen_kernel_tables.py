#!/usr/bin/python3
"""Writes src/numerics/kernel_tables.h, the tables and polynomial
coefficients of the exact pow and log10 kernels (exact_elementary.cpp).

    /usr/bin/python3 tools/gen_kernel_tables.py > src/numerics/kernel_tables.h

Everything is computed in 160-bit arithmetic (Debian's python3-mpmath) and
rounded to double as stated next to each value. The two polynomials are
weighted minimax fits found by the Remez exchange, their coefficients then
rounded to double and moved by a few ulps where that lowers the error; the
errors of the rounded polynomials are measured on a dense grid with the
extrema refined, checked against the bounds that the kernels' error
analysis assumes, and written into the header, where static_asserts check
them again. A CTest
test runs this script and compares its output with the header.

Double arithmetic here is Python's float, IEEE binary64 with rounding to
nearest, as in the C++ that the tables once were.
"""

import math
import struct
import sys

import mpmath
from mpmath import mp, mpf

mp.prec = 160

# ---- Shapes of the tables, chosen with the kernels' error analysis.
LOG_OFF_BITS = 0x3FE6955500000000  # pieces of [0x1.6955500000000p-1, 2x)
LOG_TABLE_BITS = 4
EXP_TABLE_BITS = 4
LOG_COEFFICIENTS = 10
EXP_COEFFICIENTS = 6
# |r| bounds of the two polynomials: the log table's reduced arguments
# (checked below) and ln2/32 plus the exp kernel's small extra terms.
LOG_RANGE = 0.0443
EXP_RANGE = 0.02168

# ---- What the kernels' error analysis assumes (log2 of the bounds).
LOG_PLAIN_BOUND = -52.2  # |P - g| for the log polynomial
EXP_WEIGHTED_BOUND = -65.0  # |r^2| |Q - h| for the exp polynomial


def to_double(x):
    """x rounded to the nearest double, ties to even."""
    with mp.workprec(53):
        return float(+mpf(x))


def bits_to_double(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def double_to_bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def round_to_multiple(v, unit):
    """v rounded to a multiple of the power of two `unit` in double
    arithmetic, ties to even: the C++ ((v/unit + 1.5 2^52) - 1.5 2^52) unit."""
    shift = 1.5 * 2.0**52
    return ((v / unit + shift) - shift) * unit


def exponent_of(v):
    return ((double_to_bits(v) >> 52) & 0x7FF) - 1023


def hex_double(v):
    if v == 0.0:
        return "0.0"
    return float.hex(v)


# ---- Constants.
LN2 = mp.log(2)
LN2_HI_DOUBLE = to_double(LN2)
LN2_LO_DOUBLE = to_double(LN2 - LN2_HI_DOUBLE)
# ln 2 split so that k ln2_hi is exact for |k| < 2^11 and sums with a log c
# rounded to 2^-43 without error.
LN2_HI = round_to_multiple(LN2_HI_DOUBLE, 2.0**-42)
LN2_LO = to_double(LN2 - LN2_HI)
# ln2/16 = ln2n_hi + ln2n_lo (to 2^-110) and its inverse.
LN2N_HI = LN2_HI_DOUBLE / 16.0
LN2N_LO = LN2_LO_DOUBLE / 16.0
INV_LN2N = to_double(16 / LN2)


# ---- Logarithm table: x = 2^k z with z in [off, 2 off) cut into 16 pieces
# by the bits of x - off; for each piece 1/c has at most 5 significant bits
# (j/16 or j/32), so that r = z/c - 1 = fma(z, 1/c, -1) is exact.
def piece_start(i):
    return bits_to_double(LOG_OFF_BITS + (i << (52 - LOG_TABLE_BITS)))


def log_table():
    inv_c, log_c_hi, log_c_lo = [], [], []
    for i in range(1 << LOG_TABLE_BITS):
        center = 0.5 * (piece_start(i) + piece_start(i + 1))
        scale = 16.0 if center < 1.0 else 32.0
        invc = round_to_multiple(scale / center, 1.0) / scale
        log_c = -mp.log(mpf(invc))
        # log c rounded to double, then to a multiple of 2^-43; + 0.0 turns
        # the -0 of c = 1 into +0.
        hi = round_to_multiple(to_double(log_c), 2.0**-43) + 0.0
        inv_c.append(invc)
        log_c_hi.append(hi)
        log_c_lo.append(to_double(log_c - hi) + 0.0)
    return inv_c, log_c_hi, log_c_lo


def max_reduced(inv_c, i):
    low = abs(piece_start(i) * inv_c[i] - 1.0)
    high = abs(piece_start(i + 1) * inv_c[i] - 1.0)
    return max(low, high)


def check_log_table(inv_c, log_c_hi):
    """The facts the error analysis of the log kernel relies on."""
    for i in range(1 << LOG_TABLE_BITS):
        # r within the polynomial's range, and exact: z (1/c) is a multiple
        # of 2^-57 below 2.
        assert max_reduced(inv_c, i) < LOG_RANGE, i
        assert (inv_c[i] * 32.0).is_integer(), i
        # Where c != 1, log c has at least the exponent of every r of its
        # piece (Fast2Sum adds them exactly even for k = 0).
        if inv_c[i] != 1.0:
            assert exponent_of(log_c_hi[i]) >= exponent_of(max_reduced(inv_c, i)), i
        # |log x| < 2^-8 only in pieces with c = 1.
        near_one = (piece_start(i + 1) > float.fromhex("0x1.fep-1")  # > e^-2^-8
                    and piece_start(i) < float.fromhex("0x1.0101p0"))  # < e^2^-8
        assert not near_one or inv_c[i] == 1.0, i


# ---- Exponential table: 2^(j/16) = H (1 + Tail), with ScaleBits[j] the bits
# of H less j << 48, so that adding k << 48 for k = 16 e + j gives the bits
# of 2^e H.
def exp_table():
    scale_bits, tail = [], []
    for j in range(1 << EXP_TABLE_BITS):
        power = mp.power(2, mpf(j) / 16)
        h = to_double(power)
        scale_bits.append(
            bits_to_double(double_to_bits(h) - (j << (52 - EXP_TABLE_BITS))))
        tail.append(to_double((power - h) / h))
    return scale_bits, tail


# ---- Polynomials. Both approximate a smooth f on [-a, a] by
# sign * r^m (c0 + c1 r + ... ), minimising the weighted error
#   max |sign r^m P(r) - f(r)| = max |r^m| |P - f / (sign r^m)|,
# the absolute error that enters the kernels.
class Fit:
    def __init__(self, f, m, sign, a, count):
        self.f, self.m, self.sign, self.a, self.count = f, m, sign, a, count

    def basis(self, r, k):
        return self.sign * r ** (self.m + k)

    def error(self, coefficients, r):
        p = mpf(0)
        for c in reversed(coefficients):
            p = p * r + c
        return self.sign * r**self.m * p - self.f(r)

    def plain_error(self, coefficients, r):
        """|P - g| at r, g = f / (sign r^m)."""
        return abs(self.error(coefficients, r) / (self.sign * r**self.m))


def grid(a, count):
    """Points of [-a, a] crowded towards the ends (where the weighted
    errors peak), without 0, where every weighted error vanishes."""
    points = [a * mp.cos(mp.pi * (i + 0.5) / count) for i in range(count)]
    return [p for p in points if p != 0]


def remez(fit, reference, iterations=40):
    """Weighted minimax coefficients of fit by the Remez exchange on a dense
    grid, starting from `reference` (fit.count + 1 points)."""
    free = fit.count
    assert len(reference) == free + 1
    xs = sorted(grid(fit.a, 1500))
    coefficients = [mpf(0)] * free
    for _ in range(iterations):
        rows, rhs = [], []
        for i, x in enumerate(reference):
            row = [fit.basis(x, k) for k in range(free)]
            row.append((-1) ** i)
            rows.append(row)
            rhs.append(fit.f(x))
        solution = mp.lu_solve(mpmath.matrix(rows), mpmath.matrix(rhs))
        coefficients = [solution[k] for k in range(free)]
        errors = [fit.error(coefficients, x) for x in xs]
        # The largest error of each run of one sign, then the free + 1
        # consecutive runs with the largest smallest error.
        runs = []
        for i, e in enumerate(errors):
            if e == 0:
                continue
            if runs and (e > 0) == (errors[runs[-1]] > 0):
                if abs(e) > abs(errors[runs[-1]]):
                    runs[-1] = i
            else:
                runs.append(i)
        if len(runs) < free + 1:
            break
        best = max(range(len(runs) - free),
                   key=lambda s: min(abs(errors[i]) for i in runs[s:s + free + 1]))
        chosen = runs[best:best + free + 1]
        largest = max(abs(e) for e in errors)
        smallest = min(abs(errors[i]) for i in chosen)
        reference = [xs[i] for i in chosen]
        if largest <= smallest * (1 + mpf(2) ** -12):
            break
    return coefficients


def initial_reference(fit, points):
    """Chebyshev points turned a little, so that they are not symmetric
    about 0 (where a basis of mixed parity makes the system singular) and
    none is 0."""
    return sorted(fit.a * mp.cos(mp.pi * (i + mpf("0.6")) / points)
                  for i in range(points))


def rounded_fit(fit):
    """The minimax coefficients rounded to double, then each moved by a few
    ulps while that lowers the largest weighted error (rounding alone costs
    the leading coefficients most of their accuracy)."""
    coefficients = remez(fit, initial_reference(fit, fit.count + 1))
    return polish(fit, [to_double(c) for c in coefficients])


def polish(fit, coefficients):
    """Coordinate search: each coefficient moved by up to 4 ulps while the
    largest weighted error on a grid falls. Errors are kept as integers in
    units of 2^-SCALE, so that trying a move costs one addition a point."""
    scale = 200
    xs = grid(fit.a, 800)
    basis = [[int(mp.nint(fit.basis(x, k) * mpf(2) ** scale))
              for x in xs] for k in range(fit.count)]
    errors = [int(mp.nint(fit.error([mpf(c) for c in coefficients], x)
                          * mpf(2) ** scale)) for x in xs]
    worst = max(abs(e) for e in errors)
    improved = True
    passes = 0
    while improved and passes < 400:
        improved = False
        passes += 1
        for k in range(fit.count):
            # One ulp of the coefficient is 2^ulp_exp.
            ulp_exp = math.frexp(math.ulp(coefficients[k]))[1] - 1
            column = [b >> -ulp_exp for b in basis[k]]
            for steps in (1, -1, 2, -2, 3, -3, 4, -4):
                trial = [e + steps * c for e, c in zip(errors, column)]
                trial_worst = max(abs(e) for e in trial)
                # Moves that gain less than 2^-30 of it are not worth a pass.
                if trial_worst < worst - (worst >> 30):
                    coefficients = (coefficients[:k]
                                    + [coefficients[k] + steps * math.ulp(coefficients[k])]
                                    + coefficients[k + 1:])
                    errors, worst, improved = trial, trial_worst, True
                    break
    return coefficients


def max_error(fit, coefficients, plain=False):
    """The largest |error| over [-a, a]: a dense grid, then each of the
    largest grid extrema refined by golden-section search."""
    xs = sorted(grid(fit.a, 6000))
    measure = (lambda r: fit.plain_error(coefficients, r)) if plain else (
        lambda r: abs(fit.error(coefficients, r)))
    values = [measure(x) for x in xs]
    best = max(values)
    order = sorted(range(len(xs)), key=lambda i: values[i], reverse=True)
    for i in order[:12]:
        lo = xs[max(i - 1, 0)]
        hi = xs[min(i + 1, len(xs) - 1)]
        for _ in range(40):
            m1 = lo + (hi - lo) * mpf("0.381966")
            m2 = hi - (hi - lo) * mpf("0.381966")
            if measure(m1) > measure(m2):
                hi = m2
            else:
                lo = m1
        best = max(best, measure(lo), measure(hi))
    return best


def log2_ceiling(x, places=2):
    """log2(x) rounded up to `places` decimals."""
    value = float(mp.log(x, 2))
    scale = 10**places
    return math.ceil(value * scale) / scale


def log_fit():
    # log1p(r) = r - r^2/2 + (-r^3/2) P(r)
    return Fit(lambda r: mp.log1p(r) - r + r * r / 2, 3, mpf(-1) / 2,
               mpf(LOG_RANGE), LOG_COEFFICIENTS)


def exp_fit():
    # e^r - 1 = r + r^2 Q(r)
    return Fit(lambda r: mp.expm1(r) - r, 2, mpf(1), mpf(EXP_RANGE),
               EXP_COEFFICIENTS)


def cpp_array(name, values, per_line=3, indent="    "):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(indent + ", ".join(hex_double(v) for v in values[i:i + per_line]) + ",")
    return "\n".join(lines)


def main():
    inv_c, log_c_hi, log_c_lo = log_table()
    check_log_table(inv_c, log_c_hi)
    scale_bits, tail = exp_table()

    log = log_fit()
    log_poly = rounded_fit(log)
    log_weighted = log2_ceiling(max_error(log, [mpf(c) for c in log_poly]))
    log_plain = log2_ceiling(max_error(log, [mpf(c) for c in log_poly], plain=True))
    exp = exp_fit()
    exp_poly = rounded_fit(exp)
    exp_weighted = log2_ceiling(max_error(exp, [mpf(c) for c in exp_poly]))
    assert log_plain <= LOG_PLAIN_BOUND, log_plain
    assert exp_weighted <= EXP_WEIGHTED_BOUND, exp_weighted

    out = sys.stdout
    out.write(f"""\
// Generated by tools/gen_kernel_tables.py; do not edit. Regenerate with
//   /usr/bin/python3 tools/gen_kernel_tables.py > src/numerics/kernel_tables.h
// (the test numerics.kernel_tables_up_to_date compares the two).
//
// The tables and polynomial coefficients of the exact pow and log10 kernels
// (exact_elementary.cpp): values computed in 160-bit arithmetic and rounded
// to double as each comment says; the polynomials are weighted minimax
// fits with their coefficients rounded to double, and their errors as
// measured here, log2 rounded up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Tables in the generator's layout, three values a line.
// clang-format off
namespace numerics::detail {{

// ln 2 rounded, and split so that k kLn2Hi is exact for |k| < 2^11 and sums
// with a LogCHi below without error: kLn2Hi is ln 2 rounded to a multiple
// of 2^-42, kLn2Lo the rest rounded.
inline constexpr double kLn2Hi = {hex_double(LN2_HI)};
inline constexpr double kLn2Lo = {hex_double(LN2_LO)};
// ln2/16 = kLn2NHi + kLn2NLo to 2^-110 (ln 2 rounded, and its remainder
// rounded, over 16), and 16/ln 2 rounded.
inline constexpr double kLn2NHi = {hex_double(LN2N_HI)};
inline constexpr double kLn2NLo = {hex_double(LN2N_LO)};
inline constexpr double kInvLn2N = {hex_double(INV_LN2N)};

// ---- Logarithm table. x = 2^k z with z in [kLogOff, 2 kLogOff), about
// [1/sqrt2, sqrt2), cut into 16 pieces by the bits of x - kLogOff. For
// each piece 1/c has at most 5 significant bits (j/16 or j/32, j an
// integer, nearest to the piece's centre), so that r = z/c - 1 =
// fma(z, 1/c, -1) is exact: z*(1/c) is a multiple of 2^-57 and |r| <
// kMaxReduced. LogCHi is log c rounded to double and then to a multiple of
// 2^-43, LogCLo the rest rounded.
inline constexpr std::uint64_t kLogOffBits = {LOG_OFF_BITS:#018x};
inline constexpr int kLogTableBits = {LOG_TABLE_BITS};
inline constexpr std::size_t kLogTableSize = std::size_t{{1}} << kLogTableBits;
inline constexpr double kMaxReduced = {LOG_RANGE};

struct LogTable {{
  std::array<double, kLogTableSize> InvC;
  std::array<double, kLogTableSize> LogCHi;
  std::array<double, kLogTableSize> LogCLo;
}};

inline constexpr LogTable kLogTable = {{
    {{{{
{cpp_array("InvC", inv_c, 3, "        ")}
    }}}},
    {{{{
{cpp_array("LogCHi", log_c_hi, 3, "        ")}
    }}}},
    {{{{
{cpp_array("LogCLo", log_c_lo, 3, "        ")}
    }}}},
}};

// log1p(r) = r - r^2/2 + (-r^3/2) P(r) for |r| <= kMaxReduced, P fitted
// (weighted minimax) to g = (log1p(r) - r + r^2/2)/(-r^3/2):
// |r^3/2| |P - g| <= 2^kLogPolyWeightedErrorLog2 and
// |P - g| <= 2^kLogPolyErrorLog2 over the range.
inline constexpr std::array<double, {LOG_COEFFICIENTS}> kLogPoly = {{
{cpp_array("kLogPoly", log_poly)}
}};
inline constexpr double kLogPolyWeightedErrorLog2 = {log_weighted};
inline constexpr double kLogPolyErrorLog2 = {log_plain};

// ---- Exponential table: 2^(j/16) = H (1 + Tail) for j = 0..15, H the
// power rounded and Tail its relative remainder rounded; ScaleBits[j] holds
// the bits of H less j << 48 (as a double's bit pattern), so that adding
// k << 48 for k = 16 e + j gives the bits of 2^e H.
inline constexpr int kExpTableBits = {EXP_TABLE_BITS};
inline constexpr std::size_t kExpTableSize = std::size_t{{1}} << kExpTableBits;

struct ExpTable {{
  std::array<double, kExpTableSize> ScaleBits;
  std::array<double, kExpTableSize> Tail;
}};

inline constexpr ExpTable kExpTable = {{
    {{{{
{cpp_array("ScaleBits", scale_bits, 3, "        ")}
    }}}},
    {{{{
{cpp_array("Tail", tail, 3, "        ")}
    }}}},
}};

// e^r - 1 = r + r^2 Q(r) for |r| <= {EXP_RANGE}, Q fitted (weighted minimax) to
// h = (e^r - 1 - r)/r^2: |r^2| |Q - h| <= 2^kExpPolyWeightedErrorLog2.
inline constexpr std::array<double, {EXP_COEFFICIENTS}> kExpPoly = {{
{cpp_array("kExpPoly", exp_poly)}
}};
inline constexpr double kExpPolyWeightedErrorLog2 = {exp_weighted};

}}  // namespace numerics::detail
// clang-format on
""")


if __name__ == "__main__":
    main()
