#include "numerics/power_sums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "numerics/elementary.h"
#include "numerics/simd_targets_support.h"

namespace {

using numerics::PowerSumKernel;

// q[k] = k*step + first, k a real counter: the way the analysis builds its
// moment orders.
std::vector<double> Grid(std::size_t count, double step, double first) {
  std::vector<double> q(count);
  double counter = 0.0;
  for (double& value : q) {
    value = counter * step + first;
    counter += 1.0;
  }
  return q;
}

std::vector<double> MomentOrders(std::size_t count = 200) {
  return Grid(count, 20.0 / 199.0, -10.0);
}

// The loop the kernel replaces, with libm's pow.
std::vector<double> LibmSums(std::span<const double> ranges,
                             std::span<const double> q,
                             std::vector<double> sums) {
  for (const double range : ranges) {
    for (std::size_t j = 0; j < q.size(); ++j) {
      sums[j] = sums[j] + numerics::Pow(range, q[j]);
    }
  }
  return sums;
}

std::string Hex(double value) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof(text), value, std::chars_format::hex);
  return std::string(text, end.ptr);
}

// Compares bit patterns, so that -0 differs from 0 and NaNs are compared too.
void ExpectSameBits(const std::vector<double>& got,
                    const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  int reported = 0;
  for (std::size_t j = 0; j < got.size() && reported < 5; ++j) {
    if (std::bit_cast<std::uint64_t>(got[j]) !=
        std::bit_cast<std::uint64_t>(want[j])) {
      ADD_FAILURE() << "order " << j << ": got " << Hex(got[j]) << ", libm "
                    << Hex(want[j]);
      ++reported;
    }
  }
}

// Sums over the whole sequence from nonzero starting values, then every
// power on its own (from zero sums, so that no term hides in a larger sum).
void ExpectLibmResults(const PowerSumKernel& kernel, std::span<const double> q,
                       std::span<const double> ranges, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> start(-1.0, 3.0);
  std::vector<double> sums(q.size());
  for (double& sum : sums) sum = start(random);
  const std::vector<double> want = LibmSums(ranges, q, sums);
  kernel.Accumulate(ranges, sums);
  ExpectSameBits(sums, want);

  for (const double range : ranges) {
    SCOPED_TRACE(Hex(range));
    std::vector<double> single(q.size(), 0.0);
    kernel.Accumulate(std::span<const double>(&range, 1), single);
    ExpectSameBits(single, LibmSums(std::span<const double>(&range, 1), q,
                                    std::vector<double>(q.size(), 0.0)));
    if (::testing::Test::HasFailure()) return;
  }
}

using simd_test::ForEachSimdTarget;

std::vector<double> RandomRanges(
    std::size_t count, std::uint64_t seed,
    const std::function<double(std::mt19937_64&)>& draw) {
  std::mt19937_64 random(seed);
  std::vector<double> ranges(count);
  for (double& range : ranges) range = draw(random);
  return ranges;
}

double Uniform(std::mt19937_64& random, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(random);
}

struct RangeSource {
  const char* name;
  double (*draw)(std::mt19937_64&);
};
// clang-format off
const RangeSource kSources[] = {
  {"detrended ranges", [](std::mt19937_64& r) { return std::pow(10.0, Uniform(r, -3.0, 2.0)); }},
  {"wide", [](std::mt19937_64& r) { return std::pow(10.0, Uniform(r, -12.0, 12.0)); }},
  // Out to 2^+-100, across the edges 2^+-81 of the vector path's ranges.
  {"edges of the vector range", [](std::mt19937_64& r) { return std::exp2(Uniform(r, -100.0, 100.0)); }},
  {"near 1", [](std::mt19937_64& r) { return 1.0 + std::ldexp(Uniform(r, -1.0, 1.0), -static_cast<int>(r() % 60)); }},
  // Any positive finite double, subnormals included: uniform bit patterns.
  {"all doubles", [](std::mt19937_64& r) {
     const std::uint64_t bits = r() % 0x7FEFFFFFFFFFFFFFULL + 1;
     return std::bit_cast<double>(bits); }},
  // R^q close to overflow, to the subnormal range and to zero.
  {"overflow and underflow", [](std::mt19937_64& r) {
     const double edges[] = {1024.0, -1022.0, -1074.0};
     return std::exp2(edges[r() % 3] / Uniform(r, 1.0, 10.0)); }},
};
// clang-format on

TEST(PowerSumKernel, MatchesLibmLoopOnRandomRanges) {
  const std::vector<double> q = MomentOrders();
  const PowerSumKernel kernel(q);
  ForEachSimdTarget([&] {
    std::uint64_t seed = 1;
    for (const RangeSource& source : kSources) {
      SCOPED_TRACE(source.name);
      ++seed;
      ExpectLibmResults(kernel, q, RandomRanges(3000, seed, source.draw), seed);
    }
  });
}

TEST(PowerSumKernel, MatchesLibmLoopOnSpecialRanges) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // clang-format off
  const std::vector<double> special = {
    std::numeric_limits<double>::denorm_min(), 0x1.fffffffffffffp-1023,
    std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
    kInf, 1.0, 0x1.fffffffffffffp-1, 0x1.0000000000001p0,
    0x1p-1074, 0x1p-1022, 0x1p-100, 0x1p-82, 0x1p-81, 0x1.0000000000001p-81,
    0x1.fffffffffffffp-82, 0x1p-80, 0x0.8p0, 0x1p1, 0x1p80, 0x1p81,
    0x1.fffffffffffffp80, 0x1.0000000000001p81, 0x1p82, 0x1p1023,
    2.0, 3.0, 10.0, 1e-3, 1e2,
    1e31,   // R^10 overflows, R^-10 is subnormal
    1e33,   // R^-10 underflows to zero
    0x1.5p102,   // R^10 just below the overflow threshold 2^1024
    0x1.6p102,   // R^10 just above it
    0x1.cp-103,  // R^10 just above the smallest normal double
    0x1.bp-103,  // R^10 just below it, subnormal
    // Not passed by the analysis, but the contract covers them too.
    0.0, -0.0, -2.0, -kInf, std::numeric_limits<double>::quiet_NaN(),
  };
  // clang-format on
  const std::vector<double> q = MomentOrders();
  const PowerSumKernel kernel(q);
  ForEachSimdTarget([&] { ExpectLibmResults(kernel, q, special, 7); });
}

TEST(PowerSumKernel, AddsRangesInAscendingOrder) {
  // Terms of very different sizes, so that the order of the additions shows
  // in the last bits of the sums.
  const std::vector<double> q = MomentOrders();
  const PowerSumKernel kernel(q);
  const std::vector<double> ranges = RandomRanges(
      64, 11,
      [](std::mt19937_64& r) { return std::pow(10.0, Uniform(r, -3.0, 3.0)); });
  const std::vector<double> start(q.size(), 1.0);
  const std::vector<double> forward = LibmSums(ranges, q, start);
  const std::vector<double> reversed(ranges.rbegin(), ranges.rend());
  const std::vector<double> backward = LibmSums(reversed, q, start);
  int order_matters = 0;
  for (std::size_t j = 0; j < q.size(); ++j) {
    order_matters += forward[j] != backward[j];
  }
  ASSERT_GT(order_matters, 0) << "the test data cannot tell the orders apart";

  ForEachSimdTarget([&] {
    std::vector<double> sums = start;
    kernel.Accumulate(ranges, sums);
    ExpectSameBits(sums, forward);
  });
}

struct GridCase {
  const char* name;
  std::vector<double> exponents;
  bool vector_path;
};

TEST(PowerSumKernel, MatchesLibmLoopOnOtherExponentSets) {
  // clang-format off
  const GridCase cases[] = {
    // Lengths that end in a partial vector, of AVX2 and of AVX-512.
    {"1 order", MomentOrders(1), false},
    {"3 orders", MomentOrders(3), true},
    {"9 orders", MomentOrders(9), true},
    {"13 orders", MomentOrders(13), true},
    {"199 orders", MomentOrders(199), true},
    {"step 0.1 from -2", Grid(41, 0.1, -2.0), true},
    {"step 0.25 from -5", Grid(41, 0.25, -5.0), true},
    {"integers -8..8", Grid(17, 1.0, -8.0), true},
    {"start 0", Grid(30, 0.5, 0.0), true},
    {"start not integral", Grid(40, 0.1, -1.5), false},
    {"descending", Grid(40, -0.1, 2.0), false},
    {"step 0.5 from -5, q = 0 inside", Grid(21, 0.5, -5.0), true},
    {"no grid", {0.5, 2.0, -3.0, 7.25}, false},
    {"listed with 0", {-3.0, -1.0, 0.0, 0.5, 1.0, 2.0, 4.0}, false},
    {"infinite order", {1.0, std::numeric_limits<double>::infinity()}, false},
  };
  // clang-format on
  const std::vector<double> ranges = RandomRanges(
      500, 5,
      [](std::mt19937_64& r) { return std::exp2(Uniform(r, -90.0, 90.0)); });
  for (const GridCase& c : cases) {
    SCOPED_TRACE(c.name);
    const PowerSumKernel kernel(c.exponents);
    EXPECT_EQ(kernel.HasVectorPath(), c.vector_path);
    ForEachSimdTarget(
        [&] { ExpectLibmResults(kernel, c.exponents, ranges, 3); });
  }
}

TEST(PowerSumKernel, ComputesFewTermsWithLibm) {
  // All results are exact either way; this guards the speed: the vector path
  // must decide most terms itself (about 3% go to pow), and so must the
  // elementwise pow for orders of no grid form.
  const std::vector<double> ranges = RandomRanges(2000, 17, kSources[0].draw);
  for (const std::vector<double>& q :
       {MomentOrders(), std::vector<double>{-3.0, -0.5, 1.0, 2.0, 7.25}}) {
    const PowerSumKernel kernel(q);
    std::vector<double> sums(q.size(), 0.0);
    const std::size_t libm_terms = kernel.Accumulate(ranges, sums);
    if (simd_test::KernelsHaveVectorPath()) {
      EXPECT_LT(libm_terms, ranges.size() * q.size() / 20);
      EXPECT_GT(libm_terms, 0U);
    }
  }
}

TEST(PowerSumKernel, RecalledTermsKeepTheSums) {
  // Ranges met again take their undecided terms from where they were kept;
  // kept terms of another range, or of another instruction set, are not
  // taken. The sums are the libm loop's in every pass.
  const std::vector<double> q = MomentOrders();
  const PowerSumKernel kernel(q);
  const std::vector<double> ranges = RandomRanges(300, 23, kSources[0].draw);
  const std::vector<double> expected =
      LibmSums(ranges, q, std::vector<double>(q.size(), 0.0));
  std::vector<numerics::RecalledTerms> kept(ranges.size());
  std::vector<numerics::RecalledTerms*> recall;
  for (auto& terms : kept) recall.push_back(&terms);
  ForEachSimdTarget([&] {
    std::size_t libm_terms[3] = {};
    for (std::size_t pass = 0; pass < 3; ++pass) {
      if (pass == 2)
        std::rotate(recall.begin(), recall.begin() + 1, recall.end());
      std::vector<double> sums(q.size(), 0.0);
      libm_terms[pass] = kernel.Accumulate(ranges, sums, recall);
      ExpectSameBits(sums, expected);
    }
    if (simd_test::KernelsHaveVectorPath()) {
      EXPECT_LT(libm_terms[1], libm_terms[0] / 3);  // most were kept
      EXPECT_EQ(libm_terms[2], libm_terms[0]);      // none of another range
    }
  });
}

// MFWINDOW_POWER_SUMS_SWEEP=<thousands of ranges per source> runs a longer
// comparison (200 powers per range).
TEST(PowerSumKernel, LongSweep) {
  const char* size = std::getenv("MFWINDOW_POWER_SUMS_SWEEP");
  if (size == nullptr) GTEST_SKIP() << "set MFWINDOW_POWER_SUMS_SWEEP to run";
  const std::size_t count = std::strtoul(size, nullptr, 10) * 1000;
  const std::vector<double> q = MomentOrders();
  const PowerSumKernel kernel(q);
  ForEachSimdTarget([&] {
    std::uint64_t seed = 100;
    for (const RangeSource& source : kSources) {
      SCOPED_TRACE(source.name);
      ++seed;
      ExpectLibmResults(kernel, q, RandomRanges(count, seed, source.draw),
                        seed);
    }
  });
}

}  // namespace
