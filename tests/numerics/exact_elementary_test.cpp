#include "numerics/exact_elementary.h"

#include <gtest/gtest.h>

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
#include "support/bits.h"

namespace {

using numerics::Log10Elementwise;
using numerics::PowElementwise;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMin = std::numeric_limits<double>::min();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();

std::string Hex(double value) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof(text), value, std::chars_format::hex);
  return std::string(text, end.ptr);
}

using test_support::SameBits;

using simd_test::ForEachSimdTarget;

// Arguments per random source: a sample by default, MFWINDOW_EXACT_SWEEP
// millions when that variable is set (a sweep of minutes in Release).
std::size_t SampleSize(std::size_t fallback) {
  if (const char* text = std::getenv("MFWINDOW_EXACT_SWEEP")) {
    return static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) * 1000000;
  }
  return fallback;
}

using Rng = std::mt19937_64;

double Uniform(Rng& r, double low, double high) {
  return low + (high - low) * (static_cast<double>(r() >> 11) * 0x1p-53);
}

// One of the run's exponents 1/q, q = j*c - 10 for the moment orders.
double OrderExponent(Rng& r) {
  const double j = static_cast<double>(r() % 200);
  return 1.0 / (j * (20.0 / 199.0) - 10.0);
}

std::size_t CheckPow(std::span<const double> x, std::span<const double> y) {
  std::vector<double> out(x.size());
  PowElementwise(x, y, out);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double want = numerics::Pow(x[i], y[i]);
    if (!SameBits(out[i], want) && ++mismatches <= 5) {
      ADD_FAILURE() << "pow(" << Hex(x[i]) << ", " << Hex(y[i])
                    << ") = " << Hex(want) << ", got " << Hex(out[i]);
    }
  }
  return mismatches;
}

std::size_t CheckLog10(std::span<const double> x) {
  std::vector<double> out(x.size());
  Log10Elementwise(x, out);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double want = numerics::Log10(x[i]);
    if (!SameBits(out[i], want) && ++mismatches <= 5) {
      ADD_FAILURE() << "log10(" << Hex(x[i]) << ") = " << Hex(want) << ", got "
                    << Hex(out[i]);
    }
  }
  return mismatches;
}

struct PowSource {
  const char* name;
  void (*draw)(Rng&, double&, double&);
};
// clang-format off
const PowSource kPowSources[] = {
  {"x/g in 1e-6..1e6, the run's exponents", [](Rng& r, double& x, double& y) {
     x = std::pow(10.0, Uniform(r, -6, 6)); y = OrderExponent(r); }},
  {"any normal x, the run's exponents", [](Rng& r, double& x, double& y) {
     x = std::exp2(Uniform(r, -1022, 1024)); y = OrderExponent(r); }},
  // |y ln x| across the fast path's limit 500, overflow and underflow.
  {"|y ln x| in 300..800", [](Rng& r, double& x, double& y) {
     x = std::exp2(Uniform(r, -1000, 1000));
     y = Uniform(r, 300, 800) * ((r() & 1) != 0 ? 1 : -1) / std::log(x); }},
  {"x near 1, y up to 2^60", [](Rng& r, double& x, double& y) {
     x = 1.0 + std::ldexp(Uniform(r, -1, 1), -static_cast<int>(r() % 53));
     y = std::ldexp(Uniform(r, -1, 1), static_cast<int>(r() % 61)); }},
  {"integers to integer and half powers", [](Rng& r, double& x, double& y) {
     x = static_cast<double>(r() % 1000 + 1);
     y = static_cast<double>(static_cast<int>(r() % 41) - 20) / static_cast<double>(1 + r() % 2); }},
  {"any bit patterns", [](Rng& r, double& x, double& y) {
     x = std::bit_cast<double>(r()); y = std::bit_cast<double>(r()); }},
};
// clang-format on

TEST(PowElementwise, MatchesLibmOnRandomArguments) {
  const std::size_t n = SampleSize(100000);
  ForEachSimdTarget([&] {
    std::uint64_t seed = 1;
    for (const PowSource& source : kPowSources) {
      SCOPED_TRACE(source.name);
      Rng r(++seed);
      std::vector<double> x(n);
      std::vector<double> y(n);
      for (std::size_t i = 0; i < n; ++i) source.draw(r, x[i], y[i]);
      EXPECT_EQ(CheckPow(x, y), 0U);
    }
  });
}

TEST(PowElementwise, MatchesLibmOnSpecialArguments) {
  // clang-format off
  const double bases[] = {
    0.0, -0.0, kDenormMin, 0x1.fffffffffffffp-1023, kMin, kMax, kInf, -kInf,
    kNaN, -kNaN, 1.0, -1.0, 0x1.fffffffffffffp-1, 0x1.0000000000001p0, 2.0,
    0.5, 4.0, 9.0, 10.0, 1e-300, 1e300, -2.0, -8.0, -0.5};
  const double exponents[] = {
    0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.0, 3.0, -3.0, 1.0 / 3.0, 0.1, -0.1,
    19.9, -19.9, kInf, -kInf, kNaN, 0x1p63, -0x1p63, 0x1p70, 0x1p-70,
    -0x1p-70, kDenormMin, 1024.0, -1075.0, 1e300, -1e300,
    500.0 / std::log(10.0),   // |y ln x| at the fast path's limit for x = 10
    -709.0 / std::log(2.0)};  // results near the subnormal range for x = 2
  // clang-format on
  std::vector<double> x;
  std::vector<double> y;
  for (const double base : bases) {
    for (const double exponent : exponents) {
      x.push_back(base);
      y.push_back(exponent);
    }
  }
  // Where glibc's pow misrounds by the most found in 2e8 arguments: the
  // exact power lies 2^-59.7 (relative) from the midpoint that glibc's
  // unrounded value crossed. A tolerance below glibc's error fails these.
  // clang-format off
  const double hard[][2] = {
    {0x1.0e0b431ebcbbdp+1, -0x1.5c55c55c55c56p-3},
    {0x1.e58a19f92e08p-9, 0x1.8ecb419ba886p+0},
    {0x1.2f8fb637ec534p-4, -0x1.b5630e2697ccp-1},
    {0x1.5bea7d4af83afp-2, 0x1.e24f6009b1d61p-4},
    {0x1.0b0ea75fb3d35p-14, 0x1.2533efcaf5516p-3},
    {0x1.2c8a2570e2d1ap-18, 0x1.68aa5d568aa5dp-3},
  };
  // clang-format on
  for (const auto& pair : hard) {
    x.push_back(pair[0]);
    y.push_back(pair[1]);
  }
  ForEachSimdTarget([&] { EXPECT_EQ(CheckPow(x, y), 0U); });
}

// Faults the block and tail handling could have: a lane written to the
// wrong element, a deferred libm result lost at a block's end or in the
// partial last vector.
TEST(PowElementwise, EveryLengthAndPosition) {
  Rng r(5);
  const std::size_t lengths[] = {0, 1, 3, 7, 8, 9, 15, 17, 511, 512, 513, 1030};
  ForEachSimdTarget([&] {
    for (const std::size_t n : lengths) {
      SCOPED_TRACE(n);
      std::vector<double> x(n);
      std::vector<double> y(n);
      for (std::size_t i = 0; i < n; ++i) {
        // Every fifth element takes the libm path.
        x[i] = i % 5 == 3 ? -std::pow(10.0, Uniform(r, -3, 3))
                          : std::pow(10.0, Uniform(r, -6, 6));
        y[i] = i % 5 == 3 ? 3.0 : OrderExponent(r);
      }
      EXPECT_EQ(CheckPow(x, y), 0U);
    }
  });
}

TEST(PowElementwise, OutputMayBeAnInput) {
  Rng r(6);
  std::vector<double> x(1000);
  std::vector<double> y(1000);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = i % 7 == 0 ? -1.5 : std::pow(10.0, Uniform(r, -6, 6));
    y[i] = i % 7 == 0 ? 0.5 : OrderExponent(r);
  }
  std::vector<double> want(x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    want[i] = numerics::Pow(x[i], y[i]);
  ForEachSimdTarget([&] {
    for (const bool over_base : {true, false}) {
      std::vector<double> base = x;
      std::vector<double> exponent = y;
      std::vector<double>& out = over_base ? base : exponent;
      PowElementwise(base, exponent, out);
      for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_TRUE(SameBits(out[i], want[i])) << i << ": " << Hex(out[i]);
      }
    }
  });
}

// A tolerance grown by mistake would stay exact but send most elements to
// libm; special arguments must all go there.
TEST(PowElementwise, CountsTheLibmCalls) {
  Rng r(7);
  std::vector<double> x(100000);
  std::vector<double> y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = std::pow(10.0, Uniform(r, -6, 6));
    y[i] = OrderExponent(r);
  }
  std::vector<double> out(x.size());
  const std::size_t calls = PowElementwise(x, y, out);
  if (simd_test::KernelsHaveVectorPath()) {
    EXPECT_LT(calls, x.size() / 20);  // about 3%
  }
  const std::vector<double> special = {0.0, -2.0, kInf, kNaN, kDenormMin};
  const std::vector<double> ones(special.size(), 1.5);
  std::vector<double> special_out(special.size());
  EXPECT_EQ(PowElementwise(special, ones, special_out), special.size());
}

struct Log10Source {
  const char* name;
  double (*draw)(Rng&);
};
// clang-format off
const Log10Source kLog10Sources[] = {
  {"1e-3..1e3", [](Rng& r) { return std::pow(10.0, Uniform(r, -3, 3)); }},
  {"any normal x", [](Rng& r) { return std::exp2(Uniform(r, -1022, 1024)); }},
  {"[1/2, 2)", [](Rng& r) { return Uniform(r, 0.5, 2.0); }},
  // glibc's log computes log1p(m - 1) directly for m in [15/16, 1.0647).
  {"mantissa near 1", [](Rng& r) {
     return std::ldexp(Uniform(r, 0.9375, 1.0647), static_cast<int>(r() % 2000) - 1000); }},
  {"1 + tiny", [](Rng& r) {
     return 1.0 + std::ldexp(Uniform(r, -1, 1), -static_cast<int>(r() % 60)); }},
  {"any bit patterns", [](Rng& r) { return std::bit_cast<double>(r()); }},
};
// clang-format on

TEST(Log10Elementwise, MatchesLibmOnRandomArguments) {
  const std::size_t n = SampleSize(150000);
  ForEachSimdTarget([&] {
    std::uint64_t seed = 20;
    for (const Log10Source& source : kLog10Sources) {
      SCOPED_TRACE(source.name);
      Rng r(++seed);
      std::vector<double> x(n);
      for (double& value : x) value = source.draw(r);
      EXPECT_EQ(CheckLog10(x), 0U);
    }
  });
}

TEST(Log10Elementwise, MatchesLibmOnSpecialArguments) {
  std::vector<double> x = {0.0,  -0.0,  kDenormMin, 0x1.fffffffffffffp-1023,
                           kMin, kMax,  kInf,       -kInf,
                           kNaN, -kNaN, 1.0,        -1.0,
                           -kMin};
  // Exact powers of 10 and 2, their neighbours, and the ends of glibc's
  // near-1 interval, whose logarithms sit exactly on or next to values
  // that a wrong rounding would expose.
  for (int k = -22; k <= 22; ++k) x.push_back(std::pow(10.0, k));
  for (int k = -1074; k <= 1023; ++k) x.push_back(std::ldexp(1.0, k));
  // Where glibc's log misrounds by the most found in 2e8 arguments, on its
  // main path (2^-61.8 absolute from the midpoint) and near 1 (2^-60.2
  // relative).
  for (const double hard :
       {0x1.67c6021a634e1p+0, 0x1.29fcb720db74p+0, 0x1.a5ed7f318801ap+0,
        0x1.de0df2819b064p-1, 0x1.65c8d6d710c91p-1, 0x1.100286b7808fp+0,
        0x1.10209110b9f27p+0, 0x1.e18a83411aa11p-1}) {
    x.push_back(hard);
  }
  for (const double edge : {1.0, 0.9375, 1.0 + 0x1.09p-4, 10.0, 1e22}) {
    for (const int k : {-1000, -1, 0, 1, 3, 1000}) {
      const double value = std::ldexp(edge, k);
      x.push_back(value);
      x.push_back(std::nextafter(value, 0.0));
      x.push_back(std::nextafter(value, kInf));
    }
  }
  ForEachSimdTarget([&] { EXPECT_EQ(CheckLog10(x), 0U); });
}

TEST(Log10Elementwise, EveryLengthAndPositionInPlace) {
  Rng r(9);
  const std::size_t lengths[] = {0, 1, 3, 7, 8, 9, 15, 17, 511, 512, 513, 1030};
  ForEachSimdTarget([&] {
    for (const std::size_t n : lengths) {
      SCOPED_TRACE(n);
      std::vector<double> values(n);
      for (std::size_t i = 0; i < n; ++i) {
        values[i] = i % 6 == 2 ? 0.0 : std::pow(10.0, Uniform(r, -3, 3));
      }
      std::vector<double> want(n);
      for (std::size_t i = 0; i < n; ++i) want[i] = numerics::Log10(values[i]);
      Log10Elementwise(values, values);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(SameBits(values[i], want[i]))
            << i << ": " << Hex(values[i]);
      }
    }
  });
}

TEST(Log10Elementwise, CountsTheLibmCalls) {
  Rng r(10);
  std::vector<double> x(100000);
  for (double& value : x) value = std::pow(10.0, Uniform(r, -3, 3));
  std::vector<double> out(x.size());
  const std::size_t calls = Log10Elementwise(x, out);
  if (simd_test::KernelsHaveVectorPath()) {
    EXPECT_LT(calls, x.size() / 25);  // about 2%
  }
  const std::vector<double> special = {0.0, -1.0, kInf, kNaN, kDenormMin};
  std::vector<double> special_out(special.size());
  EXPECT_EQ(Log10Elementwise(special, special_out), special.size());
}

// ---- The approximations against an independent reference in binary128
// (113-bit) arithmetic, by plain series: about 2^-110 accurate. On aarch64
// Linux long double is binary128.
#if defined(__aarch64__)
using Quad = long double;
static_assert(sizeof(Quad) == 16 && std::numeric_limits<Quad>::digits == 113);
#else
__extension__ using Quad = __float128;
#endif

Quad QuadAbs(Quad v) { return v < 0 ? -v : v; }

// 2 atanh(s) = log((1 + s) / (1 - s)).
Quad TwoAtanh(Quad s) {
  Quad term = s;
  Quad sum = s;
  for (int n = 3; QuadAbs(term) > 1e-40; n += 2) {
    term *= s * s;
    sum += term / n;
  }
  return 2 * sum;
}

const Quad kQuadLn2 = TwoAtanh(Quad(1) / 3);

Quad QuadLog(double x) {
  int exponent = 0;
  double m = std::frexp(x, &exponent);  // x = m 2^exponent, m in [1/2, 1)
  if (m < 0.70710678118654752) {
    m *= 2.0;
    --exponent;
  }
  const Quad q = m;
  return TwoAtanh((q - 1) / (q + 1)) + exponent * kQuadLn2;
}

// e^t for |t| < 700 by e^t = 2^k e^r, |r| <= ln2/2.
Quad QuadExp(Quad t) {
  const double k = std::nearbyint(static_cast<double>(t / kQuadLn2));
  const Quad r = t - k * kQuadLn2;
  Quad term = 1;
  Quad sum = 1;
  for (int n = 1; QuadAbs(term) > 1e-40; ++n) {
    term *= r / n;
    sum += term;
  }
  return sum * Quad(std::ldexp(1.0, static_cast<int>(k)));
}

// The reference itself, against correctly rounded ln 2, ln 10, e and
// e^-372.5.
TEST(QuadReference, MatchesKnownValues) {
  EXPECT_EQ(static_cast<double>(kQuadLn2), 0x1.62e42fefa39efp-1);
  EXPECT_EQ(static_cast<double>(QuadLog(10.0)), 0x1.26bb1bbb55516p+1);
  EXPECT_EQ(static_cast<double>(QuadExp(1)), 0x1.5bf0a8b145769p+1);
  EXPECT_EQ(static_cast<double>(QuadExp(-372.5)), 0x1.82f9a62295194p-538);
}

// The bounds that exact_elementary.h states.
const double kLogAbsoluteBound = std::exp2(-64.5);
const double kLogNearOneBound = 0x1p-60;  // relative, x in [15/16, 1.0647)
const double kPowBound = 0x1p-62;         // relative, plus |y| times:
const double kPowPerExponentBound = std::exp2(-64.5);

bool HalfUlpOrLess(double hi, double lo) {
  return std::fabs(lo) <=
         0.5 * (std::nextafter(std::fabs(hi), kInf) - std::fabs(hi));
}

TEST(NaturalLogApproximation, WithinItsErrorBound) {
  Rng r(11);
  std::vector<double> x;
  for (int i = 0; i < 20000; ++i) {
    x.push_back(std::exp2(Uniform(r, -1022, 1024)));
    x.push_back(Uniform(r, 0.5, 2.0));
    x.push_back(Uniform(r, 0.9375, 1.0647));
    x.push_back(1.0 +
                std::ldexp(Uniform(r, -1, 1), -static_cast<int>(r() % 52)));
  }
  std::vector<double> hi(x.size());
  std::vector<double> lo(x.size());
  if (!numerics::detail::NaturalLogApproximation(x, hi, lo)) {
    GTEST_SKIP() << "no fused multiply-add";
  }
  for (std::size_t i = 0; i < x.size(); ++i) {
    SCOPED_TRACE(Hex(x[i]));
    const Quad exact = QuadLog(x[i]);
    const double error =
        static_cast<double>(QuadAbs(Quad(hi[i]) + Quad(lo[i]) - exact));
    ASSERT_LE(error, kLogAbsoluteBound);
    if (x[i] >= 0.9375 && x[i] < 1.0 + 0x1.09p-4) {
      ASSERT_LE(error, kLogNearOneBound * static_cast<double>(QuadAbs(exact)));
    }
    ASSERT_TRUE(HalfUlpOrLess(hi[i], lo[i]));
  }
}

TEST(PowApproximation, WithinItsErrorBound) {
  Rng r(12);
  std::vector<double> x;
  std::vector<double> y;
  for (int i = 0; i < 20000; ++i) {
    x.push_back(std::pow(10.0, Uniform(r, -6, 6)));
    y.push_back(OrderExponent(r));
    // Any |y ln x| up to the fast path's limit.
    const double base = std::exp2(Uniform(r, -1022, 1024));
    if (base == 1.0) continue;
    x.push_back(base);
    y.push_back(Uniform(r, -499, 499) / std::log(base));
  }
  std::vector<double> hi(x.size());
  std::vector<double> lo(x.size());
  if (!numerics::detail::PowApproximation(x, y, hi, lo)) {
    GTEST_SKIP() << "no fused multiply-add";
  }
  for (std::size_t i = 0; i < x.size(); ++i) {
    SCOPED_TRACE(Hex(x[i]) + " ^ " + Hex(y[i]));
    const Quad exact = QuadExp(y[i] * QuadLog(x[i]));
    const double relative = static_cast<double>(
        QuadAbs((Quad(hi[i]) + Quad(lo[i]) - exact) / exact));
    ASSERT_LE(relative, kPowBound + std::fabs(y[i]) * kPowPerExponentBound);
    ASSERT_TRUE(HalfUlpOrLess(hi[i], lo[i]));
  }
}

}  // namespace
