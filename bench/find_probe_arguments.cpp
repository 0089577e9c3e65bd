// Finds the probe arguments of the libm check and writes them as
// src/numerics/libm_probe_arguments.h:
//   build-bench/bench/find_probe_arguments >
//   src/numerics/libm_probe_arguments.h
// (configure with -DMFWINDOW_BENCH=ON; x86-64 only, for binary128).
//
// The hardest arguments for a libm are those whose exact value lies
// nearest to a rounding boundary among the ones the kernels still decide
// themselves: there a libm erring by more than glibc's bounds would round
// the other way. For random arguments of the kinds the analysis passes
// (and wider ones), the exact value is computed in binary128
// (libquadmath) and its distance to the nearest midpoint measured in units
// of glibc's budget (libm_bounds.h); the kept arguments with the least
// such slack are written out.
#include <quadmath.h>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "numerics/exact_elementary.h"
#include "numerics/libm_bounds.h"
#include "numerics/libm_check.h"
#include "numerics/power_sums.h"

namespace {

using Quad = __float128;
using Rng = std::mt19937_64;

constexpr std::size_t kSamples = 2000000;
constexpr std::size_t kRanges = 20000;
constexpr std::size_t kRangeProbes = 12;

double Uniform(Rng& r, double low, double high) {
  return low + (high - low) * (static_cast<double>(r() >> 11) * 0x1p-53);
}

// Distance of the exact value to the nearest rounding midpoint of its
// double.
Quad MidpointDistance(Quad exact) {
  const auto rounded = static_cast<double>(exact);
  const double toward =
      exact > static_cast<Quad>(rounded) ? HUGE_VAL : -HUGE_VAL;
  const Quad neighbour = std::nextafter(rounded, toward);
  const Quad midpoint = (static_cast<Quad>(rounded) + neighbour) / 2;
  return fabsq(exact - midpoint);
}

// Slack of x^y: distance / glibc's budget for it.
double PowSlack(double x, double y) {
  const Quad exact = powq(x, y);
  const double log_term = std::fabs(y * std::log(x));
  const double budget =
      numerics::detail::kPowLibmExp + log_term * numerics::detail::kPowLibmLog;
  return static_cast<double>(MidpointDistance(exact) / (fabsq(exact) * budget));
}

struct Candidate {
  double slack;
  double x;
  double y;
};

void KeepSmallest(std::vector<Candidate>& c, std::size_t count) {
  std::sort(c.begin(), c.end(), [](const Candidate& a, const Candidate& b) {
    return a.slack < b.slack;
  });
  if (c.size() > count) c.resize(count);
}

// The hardest `count` of kSamples arguments: the q-th order means'
// (sum/g)^(1/q) when `wide` is false, any normal x with |y ln x| up to 400
// when it is true.
std::vector<Candidate> PowCandidates(Rng& r, bool wide, std::size_t count) {
  const std::vector<double> q = numerics::detail::DescribedMomentOrders();
  std::vector<double> x(kSamples);
  std::vector<double> y(kSamples);
  for (std::size_t i = 0; i < kSamples; ++i) {
    if (wide) {
      x[i] = std::exp2(Uniform(r, -1000, 1000));
      y[i] = Uniform(r, -400, 400) / std::log(x[i]);
    } else {
      x[i] = std::pow(10.0, Uniform(r, -6, 6));
      y[i] = 1.0 / q[r() % q.size()];
    }
  }
  std::vector<double> out(kSamples);
  std::vector<std::uint8_t> kept(kSamples);
  numerics::detail::PowKernel(x, y, out, kept);
  std::vector<Candidate> found;
  for (std::size_t i = 0; i < kSamples; ++i) {
    if (kept[i] == 0) continue;
    found.push_back({PowSlack(x[i], y[i]), x[i], y[i]});
    if (found.size() > 8 * count) KeepSmallest(found, count);
  }
  KeepSmallest(found, count);
  return found;
}

std::vector<Candidate> RangeCandidates(Rng& r) {
  const std::vector<double> q = numerics::detail::DescribedMomentOrders();
  const numerics::PowerSumKernel kernel(q);
  std::vector<Candidate> found;
  std::vector<double> terms(q.size());
  std::vector<std::uint8_t> kept(q.size());
  for (std::size_t i = 0; i < kRanges; ++i) {
    const double range = std::pow(10.0, Uniform(r, -3, 3));
    kernel.KernelTerms({&range, 1}, terms, kept);
    double least = HUGE_VAL;
    for (std::size_t j = 0; j < q.size(); ++j) {
      if (kept[j] != 0) least = std::min(least, PowSlack(range, q[j]));
    }
    found.push_back({least, range, 0.0});
    if (found.size() > 8 * kRangeProbes) KeepSmallest(found, kRangeProbes);
  }
  KeepSmallest(found, kRangeProbes);
  return found;
}

// glibc's split of log10's argument: x = 2^n m, m in [1/2, 1) for n < 0,
// in [1, 2) otherwise (x normal), and y = n + (n < 0).
void Split(double x, double& m, double& y) {
  int e = 0;
  const double f = std::frexp(x, &e);  // x = f 2^e, f in [1/2, 1)
  const int n = e - 1;
  m = n < 0 ? f : 2.0 * f;
  y = static_cast<double>(n < 0 ? n + 1 : n);
}

double Log10Slack(double x) {
  double m = 0.0;
  double y = 0.0;
  Split(x, m, y);
  const Quad exact = logq(m);
  const bool near = m >= 1.0 - 0x1p-4 && m < 1.0 + 0x1.09p-4;
  const double budget =
      near ? numerics::detail::kLogLibmNear * std::fabs(std::log(m))
           : numerics::detail::kLogLibmTable;
  return static_cast<double>(MidpointDistance(exact) / budget);
}

// glibc's last steps of log10 (x86-64's form; aarch64 fuses the two last
// additions, which changes a result about once in 2^28 arguments).
double Log10FinalSteps(double log_m, double y) {
  constexpr double kInvLn10 = 0x1.bcb7b1526e50ep-2;
  constexpr double kLog10Of2Hi = 0x1.34413509f6000p-2;
  constexpr double kLog10Of2Lo = 0x1.9fef311f12b36p-42;
  return (log_m * kInvLn10 + y * kLog10Of2Lo) + y * kLog10Of2Hi;
}

// True when log m rounded the other way would change log10(x): where the
// last steps absorb the inner rounding (|y| large), an inner logarithm
// that errs more than glibc's cannot show.
bool InnerRoundingShows(double x) {
  double m = 0.0;
  double y = 0.0;
  Split(x, m, y);
  const Quad exact = logq(m);
  const auto log_m = static_cast<double>(exact);
  const double other = std::nextafter(
      log_m, exact > static_cast<Quad>(log_m) ? HUGE_VAL : -HUGE_VAL);
  return Log10FinalSteps(log_m, y) != Log10FinalSteps(other, y);
}

// The hardest `count` of kSamples arguments from `draw` whose inner
// rounding shows in the result.
std::vector<Candidate> Log10Candidates(Rng& r, double (*draw)(Rng&),
                                       std::size_t count) {
  std::vector<double> x(kSamples);
  for (double& value : x) value = draw(r);
  std::vector<double> out(kSamples);
  std::vector<std::uint8_t> kept(kSamples);
  numerics::detail::Log10Kernel(x, out, kept);
  std::vector<Candidate> found;
  for (std::size_t i = 0; i < kSamples; ++i) {
    if (kept[i] == 0 || !InnerRoundingShows(x[i])) continue;
    found.push_back({Log10Slack(x[i]), x[i], 0.0});
    if (found.size() > 8 * count) KeepSmallest(found, count);
  }
  KeepSmallest(found, count);
  return found;
}

}  // namespace

void PrintPow(const char* what, const std::vector<Candidate>& c) {
  std::printf("    // %s, least slack %.3f\n", what, c.front().slack);
  for (const Candidate& p : c) std::printf("    {%a, %a},\n", p.x, p.y);
}

void PrintValues(const char* what, const std::vector<Candidate>& c) {
  std::printf("    // %s, least slack %.3f\n", what, c.front().slack);
  for (const Candidate& p : c) std::printf("    %a,\n", p.x);
}

int main() {
  Rng r(20240611);
  const std::vector<Candidate> pow_run = PowCandidates(r, false, 24);
  const std::vector<Candidate> pow_wide = PowCandidates(r, true, 16);
  const std::vector<Candidate> ranges = RangeCandidates(r);
  const std::vector<Candidate> log10_run = Log10Candidates(
      r, [](Rng& g) { return std::pow(10.0, Uniform(g, -3, 3)); }, 16);
  const std::vector<Candidate> log10_wide = Log10Candidates(
      r, [](Rng& g) { return std::exp2(Uniform(g, -1020, 1020)); }, 8);

  std::printf(
      "// Generated by bench/find_probe_arguments.cpp; do not edit. The probe\n"
      "// arguments of the libm check (libm_check.cpp): among %zu random\n"
      "// arguments of each kind (%zu ranges for the power sums), those the\n"
      "// kernels decide themselves whose exact value lies nearest to a\n"
      "// rounding midpoint, in units of glibc's budgets (libm_bounds.h): a\n"
      "// slack of 1 is a midpoint just outside the budget. For log10, the\n"
      "// midpoint of its inner logarithm, among arguments whose result that\n"
      "// rounding changes.\n"
      "#pragma once\n\n#include <array>\n\n#include "
      "\"numerics/libm_check.h\"\n\n"
      "// clang-format off\nnamespace numerics::detail {\n\n",
      kSamples, kRanges);
  std::printf("inline constexpr std::array<PowArgument, %zu> kPowProbe = {{\n",
              pow_run.size() + pow_wide.size());
  PrintPow("(sum/g)^(1/q), sum/g in 1e-6..1e6", pow_run);
  PrintPow("any normal x, |y ln x| <= 400", pow_wide);
  std::printf("}};\n\n");
  std::printf("inline constexpr std::array<double, %zu> kPowerSumProbe = {\n",
              ranges.size());
  PrintValues("ranges R in 1e-3..1e3 of R^q, q = -10..10", ranges);
  std::printf("};\n\n");
  std::printf("inline constexpr std::array<double, %zu> kLog10Probe = {\n",
              log10_run.size() + log10_wide.size());
  PrintValues("x in 1e-3..1e3", log10_run);
  PrintValues("any normal x", log10_wide);
  std::printf("};\n\n}  // namespace numerics::detail\n// clang-format on\n");
}
