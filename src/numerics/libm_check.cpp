#include "numerics/libm_check.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numerics/elementary.h"
#include "numerics/exact_elementary.h"
#include "numerics/libm_probe_arguments.h"
#include "numerics/power_sums.h"

namespace numerics {
namespace {

double LibmPow(double x, double y) { return Pow(x, y); }
double LibmLog10(double x) { return Log10(x); }

bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

namespace detail {

std::vector<double> DescribedMomentOrders() {
  std::vector<double> q(200);
  double counter = 0.0;
  for (double& value : q) {
    value = counter * (20.0 / 199.0) - 10.0;
    counter += 1.0;
  }
  return q;
}

}  // namespace detail

bool LibmMatchesKernels() {
  // The one piece of state the kernels read that does not come through
  // their parameters: a property of the process's libm, which cannot change
  // while the process runs. A function-local static const is computed once,
  // by the first caller, under the language's thread-safe initialisation,
  // and never written again, so threads share it without locks.
  static const bool kMatches =
      detail::ProbeMismatches(&LibmPow, &LibmLog10) == 0;
  return kMatches;
}

bool ExactKernelsDecide() {
  // Constant for the process, as LibmMatchesKernels: the processor's
  // instruction set and the libm cannot change while it runs.
  static const bool kDecide = [] {
    if (!LibmMatchesKernels()) return false;
    const double x = detail::kPowProbe[0].X;
    const double y = detail::kPowProbe[0].Y;
    double out = 0.0;
    std::uint8_t kept = 0;
    detail::PowKernel({&x, 1}, {&y, 1}, {&out, 1}, {&kept, 1});
    return kept != 0;
  }();
  return kDecide;
}

namespace detail {

std::size_t ProbeMismatches(PowFunction pow, Log10Function log10) {
  std::size_t mismatches = 0;

  std::vector<double> x;
  std::vector<double> y;
  for (const PowArgument& a : kPowProbe) {
    x.push_back(a.X);
    y.push_back(a.Y);
  }
  std::vector<double> out(x.size());
  std::vector<std::uint8_t> kept(x.size());
  PowKernel(x, y, out, kept);
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (kept[i] != 0 && !SameBits(out[i], pow(x[i], y[i]))) ++mismatches;
  }

  const std::vector<double> q = detail::DescribedMomentOrders();
  const PowerSumKernel kernel(q);
  const std::size_t terms = kPowerSumProbe.size() * q.size();
  out.assign(terms, 0.0);
  kept.assign(terms, 0);
  if (kernel.KernelTerms(kPowerSumProbe, out, kept)) {
    for (std::size_t t = 0; t < terms; ++t) {
      const double range = kPowerSumProbe[t / q.size()];
      if (kept[t] != 0 && !SameBits(out[t], pow(range, q[t % q.size()]))) {
        ++mismatches;
      }
    }
  }

  out.assign(kLog10Probe.size(), 0.0);
  kept.assign(kLog10Probe.size(), 0);
  Log10Kernel(kLog10Probe, out, kept);
  for (std::size_t i = 0; i < kLog10Probe.size(); ++i) {
    if (kept[i] != 0 && !SameBits(out[i], log10(kLog10Probe[i]))) {
      ++mismatches;
    }
  }
  return mismatches;
}

}  // namespace detail
}  // namespace numerics
