// What the exact kernels assume about the platform's libm: the worst error
// of glibc's pow and log before their final rounding, and the margin they
// are budgeted with. A kernel keeps its own rounding of a value only when
// the value lies farther from the nearest rounding boundary than its own
// error plus these budgets; then the exact value, glibc's unrounded value
// and the kernel's approximation round alike, and the kernel returns what
// libm returns. LibmMatchesKernels (libm_check.h) tests the assumption on
// the hardest arguments found before any kernel keeps a rounding.
//
// The bounds are derived from glibc 2.36's sources (sysdeps/ieee754/dbl-64/
// e_pow.c, e_exp_data.c, e_log.c, e_log_data.c, e_log10.c) for the
// instruction sequences of the variants glibc runs on processors with fused
// multiply-add: x86-64's FMA ifunc variants (read off libm.so.6's
// disassembly) and aarch64's, which always has it.
//
// pow. x^y = exp(ehi + elo), where ehi + elo = y log x comes from a
// logarithm with a relative error of at most 1.3 * 2^-68 (the source's
// bound), and exp(ehi + elo) = 2^(k/128) (1 + tmp) is rounded once, by a
// fused multiply-add. Up to that rounding the exp stage errs by at most a
// relative 6.5 * 2^-62: the reduced argument r takes two roundings and tmp
// three, each under half an ulp of 2^-8.5 (2 * 2^-62 and 3 * 2^-62), tmp
// leaves out the product of the table's tail (<= 2^-53) and e^r - 1
// (<= 2^-8.5), 1.4 * 2^-62, and the polynomial errs by 1.6 * 2^-66. In all,
// relative to the result: kGlibcPowExp + |y log x| kGlibcPowLog.
//
// log (e_log.c), the inner step of log10. For x in [1 - 2^-4, 1 + 0x1.09p-4)
// it evaluates log1p(x - 1) directly, with a relative error under
// 1.22 * 2^-60 before rounding (the polynomial's 2^-62.2, its evaluation's
// 1.8 * 2^-53 |x - 1|^3). Elsewhere the error is absolute and under
// 1.3 * 2^-62: the rounding of r = fma(z, invc, -1) (<= 2^-62), the
// polynomial's 2^-64.3, the table's log c (< 2^-66) and roundings near
// 2^-70.
//
// Among 3e8 random arguments each, the results glibc misrounded came within
// 74% (pow's exp stage), 91% (log's main path) and 66% (log near 1) of these
// bounds.
#pragma once

namespace numerics::detail {

// Every bound is budgeted this many times over.
inline constexpr double kLibmMargin = 1.5;

// The bounds, relative unless said otherwise.
inline constexpr double kGlibcPowExp = 6.5 * 0x1p-62;
inline constexpr double kGlibcPowLog = 1.3 * 0x1p-68;  // per |y log x|
inline constexpr double kGlibcLogNear = 1.22 * 0x1p-60;
inline constexpr double kGlibcLogTable = 1.3 * 0x1p-62;  // absolute

// The budgets the kernels allow for them.
inline constexpr double kPowLibmExp = kLibmMargin * kGlibcPowExp;
inline constexpr double kPowLibmLog = kLibmMargin * kGlibcPowLog;
inline constexpr double kLogLibmNear = kLibmMargin * kGlibcLogNear;
inline constexpr double kLogLibmTable = kLibmMargin * kGlibcLogTable;

}  // namespace numerics::detail
