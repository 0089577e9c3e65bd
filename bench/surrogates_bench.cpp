// One surrogate of one window's increments: SurrogateMaker::Make for each
// kind at the window lengths 1000, 2048 and 4096. A run's surrogates of one
// window share their source, so the maker's per-source work (the source's
// spectrum, and for IAAFT its sorted values) is done once; BM_MakeNewSource
// alternates two sources to show that work's cost too.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "numerics/surrogates.h"

namespace {

using numerics::SurrogateKind;

// Increments of a random walk with AR(1) memory (coefficient 0.5), their
// noise Gaussian or, with `heavy`, heavy-tailed (a Gaussian over a uniform
// to the power 1/1.5: tail index 1.5).
std::vector<double> Increments(std::size_t n, bool heavy, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  auto uniform = [&engine] {
    return (static_cast<double>(engine() >> 11U) + 0.5) * 0x1p-53;
  };
  std::vector<double> x(n);
  double state = 0.0;
  for (double& v : x) {
    // One draw per statement: the order of operands is unspecified.
    const double radius = std::sqrt(-2.0 * std::log(uniform()));
    const double gaussian = radius * std::cos(6.283185307179586 * uniform());
    state = 0.5 * state +
            (heavy ? gaussian / std::pow(uniform(), 1.0 / 1.5) : gaussian);
    v = state;
  }
  return x;
}

void Run(benchmark::State& state, bool new_source) {
  const auto kind = static_cast<SurrogateKind>(state.range(0));
  const auto n = static_cast<std::size_t>(state.range(1));
  const bool heavy = state.range(2) != 0;
  const std::vector<double> sources[2] = {Increments(n, heavy, 1),
                                          Increments(n, heavy, 2)};
  std::vector<double> out(n);
  numerics::SurrogateMaker maker(n, kind);
  std::uint64_t index = 0;
  double steps = 0.0;
  for (auto _ : state) {
    const std::vector<double>& source = sources[new_source ? index % 2 : 0];
    maker.Make(source, numerics::SurrogateKey(1, 0, 0, index), out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    steps += maker.LastIterations();
    ++index;
  }
  if (kind == SurrogateKind::kIaaft) {
    state.counters["iaaft_steps"] =
        benchmark::Counter(steps, benchmark::Counter::kAvgIterations);
  }
}

void BM_Make(benchmark::State& state) { Run(state, false); }
void BM_MakeNewSource(benchmark::State& state) { Run(state, true); }

// Arguments: the kind (0 shuffle, 1 phase, 2 IAAFT), the length, and
// whether the noise is heavy-tailed (which matters to IAAFT alone).
void Lengths(benchmark::internal::Benchmark* b) {
  for (const int kind : {0, 1, 2}) {
    for (const int heavy : {0, 1}) {
      if (heavy == 1 && kind != 2) continue;
      for (const int n : {1000, 2048, 4096}) b->Args({kind, n, heavy});
    }
  }
}

BENCHMARK(BM_Make)->Apply(Lengths)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MakeNewSource)->Apply(Lengths)->Unit(benchmark::kMicrosecond);

}  // namespace
