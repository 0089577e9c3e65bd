// Cost of surrogate null levels per window on case A of
// bench/compare_engines.sh: its 20,000-sample random walk, Lrec 1000,
// MinScale 20, WinShift 50, order 2. Each run analyses the first `windows`
// windows of the series (every window costs the same) with N IAAFT
// surrogates each, on the vector kernel with a given thread count, and
// reports seconds per window. N = 0 is the cost of the window alone.
//   build-bench/bench/null_bench [--benchmark_filter=...]
// Arguments: N, threads (0: every core), windows.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/engine.h"
#include "analysis/params.h"

namespace {

// The walk of compare_engines.sh, as awk computes and prints it: a linear
// congruential generator in double arithmetic (fmod, not integer modulo)
// and each value rounded to 9 decimals by the text round trip.
std::vector<double> CaseAWalk(std::size_t n, double seed) {
  std::vector<double> walk(n);
  double s = seed;
  double x = 0.0;
  char text[64];
  for (double& v : walk) {
    s = std::fmod(s * 1103515245.0 + 12345.0, 2147483648.0);
    x += s / 2147483648.0 - 0.5;
    const auto printed =
        std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 9);
    std::from_chars(text, printed.ptr, v);
  }
  return walk;
}

void BM_NullPerWindow(benchmark::State& state) {
  const auto surrogates = static_cast<std::int32_t>(state.range(0));
  const auto threads = static_cast<int>(state.range(1));
  const auto windows = static_cast<std::size_t>(state.range(2));
  analysis::TableParams tables;
  tables.IncrFlag = 0;
  tables.TrendOrder = 2;
  tables.Lrec = 1000;
  tables.MinScale = 20;
  tables.Surrogates.Count = surrogates;
  tables.Surrogates.Kind = analysis::SurrogateKind::kIaaft;
  tables.Surrogates.Seed = 1;
  const std::unique_ptr<analysis::SeriesEngine> engine = analysis::MakeEngine(
      tables, analysis::EngineRequest{analysis::KernelChoice::kAuto, threads});
  const std::vector<double> walk = CaseAWalk(20000, 11.0);
  const std::size_t used = 1000 + (windows - 1) * 50;
  const analysis::WindowPlan plan{50, 0.0, 1.0};

  std::int64_t analysed = 0;
  for (auto _ : state) {
    std::size_t next = 0;
    engine->Analyse(
        plan,
        [&]() -> std::optional<double> {
          if (next == used) return std::nullopt;
          return walk[next++];
        },
        [&](const analysis::WindowOutcome& w) {
          benchmark::DoNotOptimize(w.Null);
          ++analysed;
        },
        false);
  }
  state.counters["threads"] = engine->Threads();
  state.counters["s_per_window"] = benchmark::Counter(
      static_cast<double>(analysed),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_NullPerWindow)
    ->Args({0, 1, 40})
    ->Args({0, 0, 40})
    ->Args({19, 1, 8})
    ->Args({19, 0, 8})
    ->Args({99, 1, 4})
    ->Args({99, 0, 4})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
