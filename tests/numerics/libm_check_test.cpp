// The libm check: its probe arguments are ones the kernels decide
// themselves, this platform's libm passes it, and a libm that errs more
// than the kernels' budget for glibc fails it while one within glibc's
// bounds passes.
#include "numerics/libm_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "numerics/elementary.h"
#include "numerics/exact_elementary.h"
#include "numerics/libm_bounds.h"
#include "numerics/libm_probe_arguments.h"
#include "numerics/power_sums.h"
#include "numerics/simd_targets_support.h"
#include "numerics/sloppy_libm.h"

namespace {

double LibmPow(double x, double y) { return numerics::Pow(x, y); }
double LibmLog10(double x) { return numerics::Log10(x); }

// Sloppy libms of twice glibc's bounds (beyond the budget of 1.5) and of
// 0.9 times them (within), from this platform's functions.
double PowTwice(double x, double y) {
  return sloppy_libm::Pow(LibmPow, x, y, 2.0);
}
double Log10Twice(double x) { return sloppy_libm::Log10(LibmLog10, x, 2.0); }
double PowWithin(double x, double y) {
  return sloppy_libm::Pow(LibmPow, x, y, 0.9);
}
double Log10Within(double x) { return sloppy_libm::Log10(LibmLog10, x, 0.9); }

// Where this fails, the platform's pow or log10 rounds differently from
// glibc 2.36 on an argument the kernels decide themselves: the kernels
// then step aside (every term takes libm, so the engines still agree, but
// the vector kernel is slow) until libm_bounds.h and the kernels are
// re-derived for this libm.
TEST(LibmCheck, ThisPlatformsLibmMatchesTheKernels) {
  EXPECT_EQ(numerics::detail::ProbeMismatches(LibmPow, LibmLog10), 0U);
  EXPECT_TRUE(numerics::LibmMatchesKernels());
  // With this libm only a processor without the exact paths falls back.
  EXPECT_EQ(numerics::ExactKernelsDecide(), simd_test::KernelsHaveVectorPath());
}

// A probe argument the kernels leave to libm would check nothing.
TEST(LibmCheck, KernelsDecideTheProbeArgumentsThemselves) {
  simd_test::ForEachSimdTarget([] {
    if (!simd_test::KernelsHaveVectorPath()) return;
    std::vector<double> x;
    std::vector<double> y;
    for (const auto& a : numerics::detail::kPowProbe) {
      x.push_back(a.X);
      y.push_back(a.Y);
    }
    std::vector<double> out(x.size());
    std::vector<std::uint8_t> kept(x.size());
    EXPECT_EQ(numerics::detail::PowKernel(x, y, out, kept), 0U);

    const auto log10_x = std::span<const double>(numerics::detail::kLog10Probe);
    out.resize(log10_x.size());
    kept.resize(log10_x.size());
    EXPECT_EQ(numerics::detail::Log10Kernel(log10_x, out, kept), 0U);

    const std::vector<double> q = numerics::detail::DescribedMomentOrders();
    const numerics::PowerSumKernel kernel(q);
    const auto ranges =
        std::span<const double>(numerics::detail::kPowerSumProbe);
    out.resize(ranges.size() * q.size());
    kept.resize(out.size());
    ASSERT_TRUE(kernel.KernelTerms(ranges, out, kept));
    for (std::size_t v = 0; v < ranges.size(); ++v) {
      std::size_t decided = 0;
      for (std::size_t j = 0; j < q.size(); ++j)
        decided += kept[v * q.size() + j];
      EXPECT_GT(decided, q.size() * 9 / 10) << ranges[v];
    }
  });
}

TEST(LibmCheck, FailsALibmThatErrsMoreThanTheBudget) {
  if (!simd_test::KernelsHaveVectorPath()) GTEST_SKIP() << "no vector path";
  // Each function alone: both are probed.
  EXPECT_GT(numerics::detail::ProbeMismatches(PowTwice, LibmLog10), 0U);
  EXPECT_GT(numerics::detail::ProbeMismatches(LibmPow, Log10Twice), 0U);
}

TEST(LibmCheck, PassesALibmWithinGlibcsBounds) {
#if defined(_WIN32)
  // The libm of sloppy_libm.h rounds long double results of powl and logl,
  // which mingw-w64 does not compute to their last bit.
  GTEST_SKIP() << "needs a long double libm accurate to its last bit";
#endif
  EXPECT_EQ(numerics::detail::ProbeMismatches(PowWithin, Log10Within), 0U);
}

}  // namespace
