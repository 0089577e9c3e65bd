// The sums of powers over the moment orders for one window's segment ranges:
// the libm loop against numerics::PowerSumKernel.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "numerics/power_sums.h"

namespace {

constexpr std::size_t kRanges = 4000;

std::vector<double> MomentOrders() {
  constexpr double kStep = 20.0 / 199.0;
  std::vector<double> q(200);
  double counter = 0.0;
  for (double& value : q) {
    value = counter * kStep - 10.0;
    counter += 1.0;
  }
  return q;
}

// Ranges of detrended segments, log-uniform over 10^low..10^high.
std::vector<double> Ranges(double low, double high) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> exponent(low, high);
  std::vector<double> ranges(kRanges);
  for (double& range : ranges) range = std::pow(10.0, exponent(random));
  return ranges;
}

void ReportPerPower(benchmark::State& state, std::size_t powers) {
  state.counters["per_power"] =
      benchmark::Counter(static_cast<double>(powers),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

void BM_LibmLoop(benchmark::State& state) {
  const std::vector<double> q = MomentOrders();
  const std::vector<double> ranges = Ranges(-3.0, 2.0);
  std::vector<double> sums(q.size(), 0.0);
  for (auto _ : state) {
    for (const double range : ranges) {
      for (std::size_t j = 0; j < q.size(); ++j) {
        sums[j] = sums[j] + std::pow(range, q[j]);
      }
    }
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
  ReportPerPower(state, ranges.size() * q.size());
}
BENCHMARK(BM_LibmLoop)->Unit(benchmark::kMicrosecond);

// Arguments: the decades of the ranges, low and high.
void BM_PowerSumKernel(benchmark::State& state) {
  const std::vector<double> q = MomentOrders();
  const numerics::PowerSumKernel kernel(q);
  const std::vector<double> ranges = Ranges(
      static_cast<double>(state.range(0)), static_cast<double>(state.range(1)));
  std::vector<double> sums(q.size(), 0.0);
  std::size_t libm_terms = 0;
  for (auto _ : state) {
    libm_terms += kernel.Accumulate(ranges, sums);
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
  const std::size_t powers = ranges.size() * q.size();
  ReportPerPower(state, powers);
  state.counters["libm_share"] =
      static_cast<double>(libm_terms) /
      (static_cast<double>(powers) * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_PowerSumKernel)
    ->Args({-3, 2})
    ->Args({-8, 8})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
