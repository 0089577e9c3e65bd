// Cost of analysing one window with the straightforward engine: Lrec 1000,
// MinScale 20, a random walk with a fixed seed, per detrending order.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "analysis/params.h"
#include "analysis/reference_window.h"
#include "analysis/run_constants.h"

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

void BM_AnalyseWindow(benchmark::State& state) {
  analysis::AnalysisParams params;
  params.TrendOrder = static_cast<std::int32_t>(state.range(0));
  params.Lrec = 1000;
  params.MinScale = 20;
  params.WinShift = 1000;
  params.Tstep = 1.0;
  analysis::RunConstants run;
  analysis::FillQGrid(run);
  analysis::PrepareRun(run, params);
  analysis::Workspace work(run);
  const std::vector<double> window = RandomWalk(1000, 42);

  for (auto _ : state) {
    const analysis::SpectrumSummary summary =
        analysis::AnalyseWindow(run, work, window);
    benchmark::DoNotOptimize(summary);
  }
}
// The argument is the detrending order.
BENCHMARK(BM_AnalyseWindow)
    ->Arg(1)
    ->Arg(2)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace
