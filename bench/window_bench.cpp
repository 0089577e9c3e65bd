// Cost of analysing one window (Lrec 1000, MinScale 20, a random walk with
// a fixed seed) by each engine, per detrending order and per method: the
// described method, the standard mode (profile + rms), and a listed grid of
// orders with q = 0.
// Compare the engines within one run:
//   build/bench/window_bench --benchmark_filter=Order2
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "analysis/moving_window.h"
#include "analysis/params.h"
#include "analysis/run_constants.h"
#include "analysis/straightforward_kernel.h"
#include "analysis/vector_kernel.h"
#include "analysis/window_kernel.h"

namespace {

std::vector<double> RandomWalk(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::vector<double> walk(n);
  double sum = 0.0;
  for (double& v : walk) {
    sum += static_cast<double>(engine() >> 11) * 0x1p-52 - 1.0;
    v = sum;
  }
  return walk;
}

enum Method : std::int64_t { kDescribed, kStandard, kListedOrders };

analysis::RunConstants RunFor(std::int32_t order, Method method) {
  analysis::TableParams params;
  params.TrendOrder = order;
  params.Lrec = 1000;
  params.MinScale = 20;
  if (method == kStandard) {
    params.Method.Profile = true;
    params.Method.Measure = analysis::Fluctuation::kRms;
  } else if (method == kListedOrders) {
    params.Method.QList = {-5.0, -3.0, -2.0, -1.0, 0.0, 1.0, 2.0, 3.0, 5.0};
  }
  analysis::RunConstants run;
  analysis::PrepareRun(run, params);
  return run;
}

// Arguments: detrending order, Method.
void BM_Straightforward(benchmark::State& state) {
  const analysis::RunConstants run =
      RunFor(static_cast<std::int32_t>(state.range(0)),
             static_cast<Method>(state.range(1)));
  analysis::Workspace work(run);
  std::vector<double> window = RandomWalk(1000, 42);
  if (run.Params.Method.Profile) analysis::FormProfile(window);
  for (auto _ : state) {
    benchmark::DoNotOptimize(analysis::AnalyseWindow(run, work, window));
  }
}

void BM_Fast(benchmark::State& state) {
  const analysis::RunConstants run =
      RunFor(static_cast<std::int32_t>(state.range(0)),
             static_cast<Method>(state.range(1)));
  const std::unique_ptr<analysis::WindowKernel> kernel =
      analysis::MakeKernel(analysis::KernelKind::kVector, run, false);
  std::vector<double> window = RandomWalk(1000, 42);
  if (run.Params.Method.Profile) analysis::FormProfile(window);
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernel->Analyse(window));
  }
}

void Methods(benchmark::internal::Benchmark* b) {
  b->ArgNames({"Order", "Method"});
  for (const std::int64_t order : {1, 2, 5}) {
    for (const std::int64_t method : {kDescribed, kStandard, kListedOrders}) {
      b->Args({order, method});
    }
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Straightforward)->Apply(Methods);
BENCHMARK(BM_Fast)->Apply(Methods);

}  // namespace
