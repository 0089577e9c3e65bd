#include "numerics/portable_libm.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace numerics::portable {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

// The reference: glibc's own functions on x86-64 with FMA, which the
// portable ones reproduce; elsewhere there is none to compare with.
bool GlibcReference() {
#if defined(__GLIBC__) && defined(__x86_64__)
  return __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

struct PowCase {
  double X, Y;
};

// Arguments as the analysis meets them (ranges and fluctuations of
// 1e-12..1e12 to the moment orders and their halves, powers of ten for the
// scales), over the whole range, and the special cases.
std::vector<PowCase> PowCases() {
  std::vector<PowCase> cases = {
      {0.0, 2.0},       {-0.0, 3.0},    {0.0, -1.0},   {-0.0, -3.0},
      {kInf, 0.5},      {-kInf, 3.0},   {kInf, -2.0},  {2.0, kInf},
      {0.5, kInf},      {1.0, kNan},    {kNan, 0.0},   {kNan, 2.0},
      {-2.0, 3.0},      {-2.0, 0.5},    {-8.0, -1.0},  {1.0, 1e300},
      {2.0, 0x1p-70},   {0.5, 0x1p-70}, {2.0, 1e300},  {0x1p-1070, 0.5},
      {0x1p-1060, 2.0}, {10.0, -320.0}, {3.0, -680.5}, {1.5, 1750.0},
      {0.9999999, 1e9}, {1.7, 2.3}};
  std::mt19937_64 engine(20261211);
  const auto uniform = [&engine] {
    return static_cast<double>(engine() >> 11) * 0x1p-53;
  };
  for (int i = 0; i < 400000; ++i) {
    const double x = std::exp((uniform() - 0.5) * 56.0);
    double y = (uniform() - 0.5) * 20.0;
    if (i % 3 == 0) y = std::round(y * 4.0) / 4.0;
    cases.push_back({x, y});
    cases.push_back({10.0, uniform() * 6.0});
  }
  for (int i = 0; i < 20000; ++i) {
    // Results near and below the smallest normal, and near overflow.
    cases.push_back(
        {std::exp(uniform() * 4.0 + 1.0), -300.0 - uniform() * 30.0});
    cases.push_back(
        {std::exp(uniform() * 4.0 + 1.0), 150.0 + uniform() * 30.0});
    cases.push_back({-(std::round(uniform() * 40.0) + 2.0),
                     std::round(uniform() * 40.0 - 20.0)});
  }
  return cases;
}

std::vector<double> LogCases() {
  std::vector<double> cases = {0.0,    -0.0,   -1.0,       kInf,      -kInf,
                               kNan,   1.0,    0x1p-1074,  0x1p-1030, 1e308,
                               0.9375, 1.0645, 0.93749999, 2.0,       10.0};
  std::mt19937_64 engine(11122026);
  const auto uniform = [&engine] {
    return static_cast<double>(engine() >> 11) * 0x1p-53;
  };
  for (int i = 0; i < 400000; ++i) {
    cases.push_back(std::exp((uniform() - 0.5) * 1400.0));
    cases.push_back(1.0 + (uniform() - 0.5) * 0.25);  // glibc's near-1 path
    cases.push_back(std::round(uniform() * 5000.0) + 1.0);  // scales
  }
  return cases;
}

std::vector<double> ExpCases() {
  std::vector<double> cases = {0.0,   -0.0,   kInf,   -kInf,  kNan,  709.7,
                               709.8, -745.1, -708.5, -740.0, 1e-300};
  std::mt19937_64 engine(1211);
  for (int i = 0; i < 400000; ++i) {
    const double u = static_cast<double>(engine() >> 11) * 0x1p-53;
    cases.push_back((u - 0.5) * (i % 2 == 0 ? 40.0 : 1490.0));
  }
  return cases;
}

// Every argument where `f` and `g` differ, written out (the first few).
template <typename F, typename G, typename Case>
std::string Differences(const std::vector<Case>& cases, F f, G g) {
  std::string out;
  int count = 0;
  for (const Case& c : cases) {
    double a = 0.0;
    double b = 0.0;
    if constexpr (std::is_same_v<Case, PowCase>) {
      a = f(c.X, c.Y);
      b = g(c.X, c.Y);
    } else {
      a = f(c);
      b = g(c);
    }
    if (!SameBits(a, b) && ++count <= 5) {
      char line[160];
      if constexpr (std::is_same_v<Case, PowCase>) {
        std::snprintf(line, sizeof line, "(%a, %a): %a against %a\n", c.X, c.Y,
                      a, b);
      } else {
        std::snprintf(line, sizeof line, "(%a): %a against %a\n", c, a, b);
      }
      out += line;
    }
  }
  if (count > 0) out += std::to_string(count) + " differences";
  return out;
}

TEST(PortableLibm, RoundsAsGlibcOnX86WithFmaWhicheverWayItFuses) {
  if (!GlibcReference()) {
    GTEST_SKIP() << "glibc on x86-64 with FMA is the reference";
  }
  const auto pow_cases = PowCases();
  const auto log_cases = LogCases();
  const auto exp_cases = ExpCases();
  const auto glibc_pow = [](double x, double y) { return std::pow(x, y); };
  const auto glibc_log = [](double x) { return std::log(x); };
  const auto glibc_log10 = [](double x) { return std::log10(x); };
  const auto glibc_exp = [](double x) { return std::exp(x); };
  for (const Functions& f : {HardwareFmaFunctions(), SoftwareFmaFunctions()}) {
    ASSERT_NE(f.Pow, nullptr);
    EXPECT_EQ(Differences(pow_cases, f.Pow, glibc_pow), "");
    EXPECT_EQ(Differences(log_cases, f.Log, glibc_log), "");
    EXPECT_EQ(Differences(log_cases, f.Log10, glibc_log10), "");
    EXPECT_EQ(Differences(exp_cases, f.Exp, glibc_exp), "");
  }
}

// Without a reference libm the two ways of fusing must still agree: the
// software FMA stands in for the processor's on machines without it.
TEST(PortableLibm, SoftwareFmaGivesTheProcessorsBits) {
  const Functions hardware = HardwareFmaFunctions();
  if (hardware.Pow == nullptr) GTEST_SKIP() << "no FMA on this processor";
  const Functions software = SoftwareFmaFunctions();
  EXPECT_EQ(Differences(PowCases(), hardware.Pow, software.Pow), "");
  EXPECT_EQ(Differences(LogCases(), hardware.Log10, software.Log10), "");
  EXPECT_EQ(Differences(ExpCases(), hardware.Exp, software.Exp), "");

#if defined(__GLIBC__)
  // And SoftwareFma itself against glibc's fma (correctly rounded; not every
  // C library's is), on products cancelled by the addend, addends far below
  // the product and ties.
  std::mt19937_64 engine(42);
  const auto uniform = [&engine] {
    return static_cast<double>(engine() >> 11) * 0x1p-53;
  };
  int differences = 0;
  for (int i = 0; i < 200000; ++i) {
    const double a = uniform() + 0.5;
    const double b = (uniform() + 0.5) * std::ldexp(1.0, i % 200 - 100);
    const double c = i % 4 == 0 ? uniform()
                     : i % 4 == 1
                         ? -(a * b) * (1.0 + (uniform() - 0.5) * 0x1p-50)
                     : i % 4 == 2 ? std::ldexp(uniform(), -80)
                                  : -(a * b) + std::ldexp(a * b, -53);
    differences += SameBits(SoftwareFma(a, b, c), std::fma(a, b, c)) ? 0 : 1;
  }
  EXPECT_EQ(differences, 0);
#endif
}

}  // namespace
}  // namespace numerics::portable
