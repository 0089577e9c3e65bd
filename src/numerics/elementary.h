// The elementary functions the analysis rounds by. Where the C library is
// glibc, its own (the bits every result file was made with, and the
// functions the vector kernels' libm check measures); elsewhere, and in a
// build for whatever glibc a machine has (MFWINDOW_PORTABLE_LIBM), the
// portable ones, which round as glibc 2.36 does on x86-64
// (portable_libm.h).
#pragma once

#include <cmath>

#include "numerics/portable_libm.h"

namespace numerics {

#if defined(__GLIBC__) && !defined(MFWINDOW_PORTABLE_LIBM)
inline double Pow(double x, double y) { return std::pow(x, y); }
inline double Log(double x) { return std::log(x); }
inline double Log10(double x) { return std::log10(x); }
inline double Exp(double x) { return std::exp(x); }
#else
inline double Pow(double x, double y) { return portable::Pow(x, y); }
inline double Log(double x) { return portable::Log(x); }
inline double Log10(double x) { return portable::Log10(x); }
inline double Exp(double x) { return portable::Exp(x); }
#endif

}  // namespace numerics
