// Shared set-up for the analysis tests: settled answers, run constants and
// reproducible test series.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "analysis/engine.h"
#include "analysis/params.h"
#include "analysis/run_constants.h"
#include "analysis/serial_scheduler.h"

namespace analysis_test {

// Answers as the dialogue leaves them; `win_shift` 0 means Lrec.
inline analysis::AnalysisParams MakeParams(
    std::int32_t lrec, std::int32_t min_scale, std::int32_t order,
    std::int32_t incr_flag = 0, std::int32_t win_shift = 0, double tini = 0.0,
    double tstep = 1.0) {
  analysis::AnalysisParams params;
  params.IncrFlag = incr_flag;
  params.TrendOrder = order;
  params.Lrec = lrec;
  params.MinScale = min_scale;
  params.WinShift = win_shift == 0 ? lrec : win_shift;
  params.Tini = tini;
  params.Tstep = tstep;
  return params;
}

inline analysis::RunConstants MakeRun(const analysis::AnalysisParams& params) {
  analysis::RunConstants run;
  analysis::FillQGrid(run);
  analysis::PrepareRun(run, params);
  return run;
}

// The run of `params` with method and surrogate options.
inline analysis::RunConstants MakeRun(
    const analysis::AnalysisParams& params,
    const analysis::MethodOptions& method,
    const analysis::SurrogateOptions& surrogates = {}) {
  analysis::TableParams tables = analysis::TablesOf(params);
  tables.Method = method;
  tables.Surrogates = surrogates;
  analysis::RunConstants run;
  analysis::PrepareRun(run, tables);
  return run;
}

// The straightforward kernel, serial: the engine every other one matches.
inline std::unique_ptr<analysis::SeriesEngine> ReferenceEngine(
    std::shared_ptr<const analysis::RunConstants> run) {
  return analysis::MakeSerialEngine(std::move(run),
                                    analysis::KernelKind::kStraightforward);
}

// The vector kernel on `threads` threads, serial on one.
inline std::unique_ptr<analysis::SeriesEngine> VectorEngine(
    std::shared_ptr<const analysis::RunConstants> run, int threads) {
  return analysis::MakeScheduledEngine(
      std::move(run), {analysis::KernelKind::kVector,
                       analysis::SchedulerKind::kPipelined, threads});
}

// Independent standard normal values by the Box-Muller transform on the top
// 53 bits of mt19937_64, so the series does not depend on the standard
// library's distributions.
inline std::vector<double> WhiteNoise(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  const auto uniform = [&engine] {  // in (0, 1]
    return (static_cast<double>(engine() >> 11) + 1.0) * 0x1p-53;
  };
  std::vector<double> values(n);
  for (double& v : values) {
    const double radius = std::sqrt(-2.0 * std::log(uniform()));
    v = radius * std::cos(6.283185307179586 * uniform());
  }
  return values;
}

// Running sums of WhiteNoise: a Gaussian random walk.
inline std::vector<double> RandomWalk(std::size_t n, std::uint64_t seed) {
  std::vector<double> walk = WhiteNoise(n, seed);
  double sum = 0.0;
  for (double& v : walk) {
    sum += v;
    v = sum;
  }
  return walk;
}

// Hands out `series` one sample at a time, then std::nullopt: the sample
// source of a series analysis. `series` must outlive the source.
inline std::function<std::optional<double>()> SampleSource(
    const std::vector<double>& series) {
  return [&series, next = std::size_t{0}]() mutable -> std::optional<double> {
    if (next == series.size()) return std::nullopt;
    return series[next++];
  };
}

}  // namespace analysis_test
