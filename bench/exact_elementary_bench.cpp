// One window's pow and log10 calls, the libm loops against
// numerics::PowElementwise and numerics::Log10Elementwise: 200 moment
// orders times 160 columns of arguments.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "numerics/exact_elementary.h"

namespace {

constexpr std::size_t kOrders = 200;
constexpr std::size_t kColumns = 160;
constexpr std::size_t kElements = kOrders * kColumns;

// Log-uniform over 10^low..10^high, fixed seed.
std::vector<double> LogUniform(double low, double high, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> exponent(low, high);
  std::vector<double> values(kElements);
  for (double& value : values) value = std::pow(10.0, exponent(random));
  return values;
}

// The exponents 1/q of the moment orders q = j*c - 10, column after column.
std::vector<double> Exponents() {
  constexpr double kStep = 20.0 / 199.0;
  std::vector<double> exponents(kElements);
  for (std::size_t i = 0; i < kElements; ++i) {
    const double q = static_cast<double>(i % kOrders) * kStep - 10.0;
    exponents[i] = 1.0 / q;
  }
  return exponents;
}

void ReportPerElement(benchmark::State& state) {
  state.counters["per_element"] =
      benchmark::Counter(static_cast<double>(kElements),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

void ReportLibmShare(benchmark::State& state, std::size_t calls) {
  state.counters["libm_share"] =
      static_cast<double>(calls) / static_cast<double>(kElements);
}

// Bases x_j / g from 1e-6 to 1e6.
void BM_PowLibm(benchmark::State& state) {
  const std::vector<double> base = LogUniform(-6.0, 6.0, 1);
  const std::vector<double> exponent = Exponents();
  std::vector<double> out(kElements);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kElements; ++i) {
      out[i] = std::pow(base[i], exponent[i]);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  ReportPerElement(state);
}
BENCHMARK(BM_PowLibm);

void BM_PowElementwise(benchmark::State& state) {
  const std::vector<double> base = LogUniform(-6.0, 6.0, 1);
  const std::vector<double> exponent = Exponents();
  std::vector<double> out(kElements);
  std::size_t calls = 0;
  for (auto _ : state) {
    calls = numerics::PowElementwise(base, exponent, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  ReportPerElement(state);
  ReportLibmShare(state, calls);
}
BENCHMARK(BM_PowElementwise);

// Arguments from 1e-3 to 1e3.
void BM_Log10Libm(benchmark::State& state) {
  const std::vector<double> in = LogUniform(-3.0, 3.0, 2);
  std::vector<double> out(kElements);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kElements; ++i) out[i] = std::log10(in[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  ReportPerElement(state);
}
BENCHMARK(BM_Log10Libm);

void BM_Log10Elementwise(benchmark::State& state) {
  const std::vector<double> in = LogUniform(-3.0, 3.0, 2);
  std::vector<double> out(kElements);
  std::size_t calls = 0;
  for (auto _ : state) {
    calls = numerics::Log10Elementwise(in, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  ReportPerElement(state);
  ReportLibmShare(state, calls);
}
BENCHMARK(BM_Log10Elementwise);

}  // namespace
