#include "numerics/portable_libm.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "numerics/portable_libm-inl.h"

namespace numerics::portable {
namespace detail {
// portable_libm_fma.cpp, built for processors with FMA (x86-64 only).
Functions FmaBuiltFunctions();
}  // namespace detail

namespace {

struct Sum {
  double Hi, Lo;
};

// Knuth's TwoSum: Hi + Lo == a + b exactly.
Sum TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Dekker's product: Hi + Lo == a * b exactly (no overflow, Lo normal).
Sum TwoProduct(double a, double b) {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double p = a * b;
  const double ta = kSplit * a;
  const double ah = ta - (ta - a);
  const double al = a - ah;
  const double tb = kSplit * b;
  const double bh = tb - (tb - b);
  const double bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

// a + b rounded to odd: the exact sum, or of its two neighbours the one
// whose last bit is 1.
double AddRoundedToOdd(double a, double b) {
  const Sum s = TwoSum(a, b);
  const auto bits = std::bit_cast<std::uint64_t>(s.Hi);
  if (s.Lo == 0.0 || (bits & 1) != 0) return s.Hi;
  // The exact sum lies beyond Hi on Lo's side: one step that way.
  const bool away = (s.Lo > 0.0) == (s.Hi > 0.0);
  return std::bit_cast<double>(away ? bits + 1 : bits - 1);
}

#if defined(__FP_FAST_FMA) || defined(__aarch64__)
double HardwareFma(double a, double b, double c) { return std::fma(a, b, c); }
#endif

template <auto kFma>
Functions Through() {
  return {[](double x, double y) { return detail::Pow(x, y, kFma); },
          [](double x) { return detail::Log(x, kFma); },
          [](double x) { return detail::Log10(x, kFma); },
          [](double x) { return detail::Exp(x, kFma); }};
}

const Functions& Chosen() {
  static const Functions functions = [] {
    const Functions hardware = HardwareFmaFunctions();
    return hardware.Pow != nullptr ? hardware : SoftwareFmaFunctions();
  }();
  return functions;
}

}  // namespace

double SoftwareFma(double a, double b, double c) {
  if (a == 0.0 || b == 0.0 || !std::isfinite(a) || !std::isfinite(b) ||
      !std::isfinite(c)) {
    return a * b + c;
  }
  const Sum product = TwoProduct(a, b);
  const Sum total = TwoSum(c, product.Hi);
  return total.Hi + AddRoundedToOdd(total.Lo, product.Lo);
}

Functions HardwareFmaFunctions() {
#if defined(__FP_FAST_FMA) || defined(__aarch64__)
  return Through<HardwareFma>();
#elif defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (__builtin_cpu_supports("fma")) return detail::FmaBuiltFunctions();
  return {nullptr, nullptr, nullptr, nullptr};
#else
  return {nullptr, nullptr, nullptr, nullptr};
#endif
}

Functions SoftwareFmaFunctions() { return Through<SoftwareFma>(); }

double Pow(double x, double y) { return Chosen().Pow(x, y); }
double Log(double x) { return Chosen().Log(x); }
double Log10(double x) { return Chosen().Log10(x); }
double Exp(double x) { return Chosen().Exp(x); }

}  // namespace numerics::portable
