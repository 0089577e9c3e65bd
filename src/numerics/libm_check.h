// Whether this platform's libm rounds as the exact kernels assume. The
// kernels keep their own rounding of a pow or log10 value only where
// glibc's documented error cannot change it (libm_bounds.h); another libm,
// or another glibc, may err more. So before any kernel keeps a rounding,
// the platform's pow and log10 are compared with the kernels on a fixed
// set of the hardest arguments found (those the kernels decide themselves
// with the least room). On any difference every term takes the libm call,
// and the vector kernel still gives the straightforward kernel's bits.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace numerics {

// True when the platform's std::pow and std::log10 give the kernels' bits
// on every probe argument. Evaluated once per process, at the first call
// (thread-safe), and constant afterwards.
bool LibmMatchesKernels();

// True when the exact kernels decide terms themselves: the libm matches
// them (LibmMatchesKernels) and the processor has the instructions their
// fast paths need (fused multiply-add). False: every term goes to libm,
// with the same bits and without the speed. Evaluated once per process.
bool ExactKernelsDecide();

namespace detail {

using PowFunction = double (*)(double, double);
using Log10Function = double (*)(double);

// The comparison itself, against the given functions: how many probe
// arguments that a kernel decides itself get other bits from them (0: the
// libm agrees). Runs the kernels' vector paths only.
std::size_t ProbeMismatches(PowFunction pow, Log10Function log10);

// The described method's moment orders, q = k c - 10 for k = 0..199 as a
// real counter, c = 20/199: the exponents the probes were chosen for.
std::vector<double> DescribedMomentOrders();

// A probe argument of pow (libm_probe_arguments.h holds the probes: pow's
// (x, y) pairs, the ranges R whose powers R^q over the moment orders the
// power-sum kernel decides, and log10's arguments).
struct PowArgument {
  double X;
  double Y;
};

}  // namespace detail
}  // namespace numerics
