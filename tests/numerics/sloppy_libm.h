// A model of a libm that errs more than glibc: its pow and log10 round to
// the other side wherever the exact value (of pow, or of log10's inner
// logarithm) lies within `factor` times glibc's bound (libm_bounds.h) of a
// rounding midpoint, and return the real libm's result elsewhere. With a
// factor above the kernels' margin it breaks their assumption; below 1 it
// is a libm within glibc's bounds. For the libm check's tests, in-process
// and as the preloaded library sloppy_libm.so.
#pragma once

#include <cmath>
#include <limits>

#include "numerics/libm_bounds.h"

namespace sloppy_libm {

using Wide = long double;  // 64 bits of precision on x86-64, 113 on aarch64
static_assert(std::numeric_limits<Wide>::digits >= 64);

// The double on the far side of the midpoint between `rounded` (the
// rounding of `exact`) and its neighbour towards `exact`, when `exact` lies
// within `reach` of that midpoint; `rounded` otherwise.
inline double Misround(double rounded, Wide exact, Wide reach) {
  if (!std::isfinite(rounded) || exact == static_cast<Wide>(rounded)) {
    return rounded;
  }
  const double toward =
      exact > static_cast<Wide>(rounded) ? HUGE_VAL : -HUGE_VAL;
  const double neighbour = std::nextafter(rounded, toward);
  const Wide midpoint =
      (static_cast<Wide>(rounded) + static_cast<Wide>(neighbour)) / 2;
  return std::fabs(exact - midpoint) < reach ? neighbour : rounded;
}

inline double Pow(double (*pow)(double, double), double x, double y,
                  double factor) {
  const double result = pow(x, y);
  if (!(x > 0.0) || !std::isnormal(result)) return result;
  const Wide exact = std::pow(static_cast<Wide>(x), static_cast<Wide>(y));
  const Wide log_term =
      std::fabs(static_cast<Wide>(y) * std::log(static_cast<Wide>(x)));
  const Wide bound = numerics::detail::kGlibcPowExp +
                     log_term * numerics::detail::kGlibcPowLog;
  return Misround(result, exact, factor * bound * exact);
}

// glibc's log10 from log m and y = n + (n < 0), x = 2^n m: the last steps
// as this platform's glibc performs them.
inline double Log10FinalSteps(double log_m, double y) {
  constexpr double kInvLn10 = 0x1.bcb7b1526e50ep-2;
  constexpr double kLog10Of2Hi = 0x1.34413509f6000p-2;
  constexpr double kLog10Of2Lo = 0x1.9fef311f12b36p-42;
  const double scaled = log_m * kInvLn10;
#if defined(__aarch64__)
  return std::fma(y, kLog10Of2Hi, std::fma(y, kLog10Of2Lo, scaled));
#else
  return (scaled + y * kLog10Of2Lo) + y * kLog10Of2Hi;
#endif
}

inline double Log10(double (*log10)(double), double x, double factor) {
  const double result = log10(x);
  if (!std::isnormal(x) || x < 0.0) return result;
  int e = 0;
  const double f = std::frexp(x, &e);  // x = f 2^e, f in [1/2, 1)
  const int n = e - 1;
  const double m = n < 0 ? f : 2.0 * f;
  const double y = n < 0 ? n + 1 : n;
  const Wide exact = std::log(static_cast<Wide>(m));
  const bool near = m >= 1.0 - 0x1p-4 && m < 1.0 + 0x1.09p-4;
  const Wide bound = near ? numerics::detail::kGlibcLogNear * std::fabs(exact)
                          : static_cast<Wide>(numerics::detail::kGlibcLogTable);
  const auto log_m = static_cast<double>(exact);
  const double misrounded = Misround(log_m, exact, factor * bound);
  return misrounded == log_m ? result : Log10FinalSteps(misrounded, y);
}

}  // namespace sloppy_libm
