#include "analysis/moving_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "analysis/serial_scheduler.h"
#include "analysis/straightforward_kernel.h"
#include "analysis_test_support.h"

namespace {

using analysis::RunConstants;
using analysis::SpectrumSummary;
using analysis::WindowBuffers;
using analysis::WindowResult;
using analysis::Workspace;
using analysis_test::MakeParams;
using analysis_test::MakeRun;

// What one series through the straightforward kernel did.
struct SeriesLog {
  std::vector<WindowResult> results;
  std::vector<std::int64_t> numbers;  // of the windows handed out, in order
  std::size_t pulls = 0;  // calls of next_sample, the final nullopt included
  bool pulled_after_end = false;
};

std::unique_ptr<analysis::SeriesEngine> Engine(const RunConstants& run) {
  return analysis_test::ReferenceEngine(
      std::make_shared<const RunConstants>(run));
}

SeriesLog RunSeries(analysis::SeriesEngine& engine,
                    const analysis::AnalysisParams& params,
                    const std::vector<double>& series) {
  SeriesLog log;
  bool ended = false;
  engine.Analyse(
      analysis::PlanOf(params),
      [&]() -> std::optional<double> {
        if (ended) log.pulled_after_end = true;
        const std::size_t i = log.pulls++;
        if (i < series.size()) return series[i];
        ended = true;
        return std::nullopt;
      },
      [&](const analysis::WindowOutcome& outcome) {
        log.results.push_back(outcome.Result);
        log.numbers.push_back(outcome.Number);
      },
      false);
  return log;
}

SeriesLog RunSeries(const analysis::AnalysisParams& params,
                    const std::vector<double>& series) {
  return RunSeries(*Engine(MakeRun(params)), params, series);
}

// Window counts are 0 below Lrec samples and 1 + (N - Lrec) div WinShift
// from there; every sample is pulled, then one end of series, then nothing.
struct CountCase {
  std::int32_t lrec;
  std::int32_t win_shift;
  std::size_t samples;
  std::size_t windows;
};
// clang-format off
constexpr CountCase kCountCases[] = {
  {100, 30,  0,   0},
  {100, 30,  99,  0},
  {100, 30,  100, 1},
  {100, 30,  129, 1},
  {100, 30,  130, 2},
  {100, 30,  200, 4},  // samples 191..200 are read and dropped
  {100, 100, 299, 2},
  {100, 100, 300, 3},  // no overlap: every window reads Lrec new samples
  {100, 1,   104, 5},
  {32,  32,  64,  2},
};
// clang-format on

TEST(StraightforwardKernel, CountsCompleteWindowsOnly) {
  for (const CountCase& c : kCountCases) {
    SCOPED_TRACE(c.samples);
    SCOPED_TRACE(c.win_shift);
    const SeriesLog log =
        RunSeries(MakeParams(c.lrec, c.lrec / 10, 1, 0, c.win_shift),
                  analysis_test::RandomWalk(c.samples, 5));
    EXPECT_EQ(log.results.size(), c.windows);
    EXPECT_EQ(log.pulls, c.samples + 1);
    EXPECT_FALSE(log.pulled_after_end);
  }
}

// Time marks of the windows' last samples: pos * Tstep + Tini.
struct TimeMarkCase {
  std::int32_t incr_flag;
  std::int32_t win_shift;
  double tini;
  double tstep;
  std::size_t samples;
  std::vector<double> marks;
};
// clang-format off
const TimeMarkCase kTimeMarkCases[] = {
  {0, 30,  0.0,   0.5,  200, {50.0, 65.0, 80.0, 95.0}},
  {1, 30,  0.0,   0.5,  200, {50.0, 65.0, 80.0, 95.0}},
  {0, 100, -3.0,  0.25, 300, {22.0, 47.0, 72.0}},
  {1, 1,   1000.0, 2.0, 103, {1200.0, 1202.0, 1204.0, 1206.0}},
};
// clang-format on

TEST(StraightforwardKernel, MarksEachWindowAtItsLastSample) {
  for (const TimeMarkCase& c : kTimeMarkCases) {
    SCOPED_TRACE(c.win_shift);
    SCOPED_TRACE(c.incr_flag);
    const SeriesLog log = RunSeries(
        MakeParams(100, 10, 1, c.incr_flag, c.win_shift, c.tini, c.tstep),
        analysis_test::RandomWalk(c.samples, 6));
    ASSERT_EQ(log.results.size(), c.marks.size());
    for (std::size_t n = 0; n < c.marks.size(); ++n) {
      EXPECT_EQ(log.results[n].TimeMark, c.marks[n]);
    }
  }
}

// The window analysed for window n (from 0) of `series`, prepared here from
// the series itself rather than through the window buffers.
std::vector<double> ExpectedWindow(const std::vector<double>& series,
                                   const analysis::AnalysisParams& params,
                                   std::size_t n) {
  const auto lrec = static_cast<std::size_t>(params.Lrec);
  const std::size_t first = n * static_cast<std::size_t>(params.WinShift);
  std::vector<double> window(
      series.begin() + static_cast<std::ptrdiff_t>(first),
      series.begin() + static_cast<std::ptrdiff_t>(first + lrec));
  if (params.IncrFlag == 1) {
    for (std::size_t i = 0; i + 1 < lrec; ++i) {
      window[i] = series[first + i + 1] - series[first + i];
    }
    window[lrec - 1] = 0.0;
  }
  return window;
}

struct ContentCase {
  std::int32_t incr_flag;
  std::int32_t win_shift;
  std::size_t samples;
};
// clang-format off
constexpr ContentCase kContentCases[] = {
  {0, 30, 200}, {1, 30, 200},
  {0, 100, 300}, {1, 100, 300},  // no overlap, CarryBuf unused
  {0, 1, 103}, {1, 1, 103},
  {0, 99, 300}, {1, 99, 300},    // overlap of one sample
};
// clang-format on

// Guards the carry between windows (raw samples, not the prepared values)
// and the reset between series: two series run back to back on the same
// buffers, and every window must give exactly what its own samples give.
TEST(StraightforwardKernel, AnalysesEachWindowFromItsOwnSamples) {
  for (const ContentCase& c : kContentCases) {
    SCOPED_TRACE(c.win_shift);
    SCOPED_TRACE(c.incr_flag);
    const analysis::AnalysisParams params =
        MakeParams(100, 10, 2, c.incr_flag, c.win_shift);
    const RunConstants run = MakeRun(params);
    const std::unique_ptr<analysis::SeriesEngine> engine = Engine(run);
    for (const std::uint64_t seed : {7u, 8u}) {
      SCOPED_TRACE(seed);
      const std::vector<double> series =
          analysis_test::RandomWalk(c.samples, seed);
      const SeriesLog log = RunSeries(*engine, params, series);
      const std::size_t windows =
          1 + (c.samples - 100) / static_cast<std::size_t>(c.win_shift);
      ASSERT_EQ(log.results.size(), windows);
      for (std::size_t n = 0; n < windows; ++n) {
        EXPECT_EQ(log.numbers[n], static_cast<std::int64_t>(n + 1));
      }

      Workspace reference_work(run);
      for (std::size_t n = 0; n < windows; ++n) {
        SCOPED_TRACE(n);
        const SpectrumSummary expected = analysis::AnalyseWindow(
            run, reference_work, ExpectedWindow(series, params, n));
        const WindowResult& actual = log.results[n];
        EXPECT_EQ(actual.AlfaMin, expected.AlfaMin);
        EXPECT_EQ(actual.AlfaMax, expected.AlfaMax);
        EXPECT_EQ(actual.AlfaWidth, expected.AlfaWidth);
        EXPECT_EQ(actual.AlfaSz, expected.AlfaSz);
        EXPECT_EQ(actual.FAlfaSz, expected.FAlfaSz);
      }
    }
  }
}

TEST(StraightforwardKernel, ConstantSeriesWithIncrementsIsDegenerate) {
  const SeriesLog log = RunSeries(MakeParams(100, 10, 1, 1, 50, 0.0, 1.0),
                                  std::vector<double>(250, 3.7));
  ASSERT_EQ(log.results.size(), 4u);
  for (std::size_t n = 0; n < 4; ++n) {
    const WindowResult& r = log.results[n];
    EXPECT_EQ(r.TimeMark, 100.0 + 50.0 * static_cast<double>(n));
    EXPECT_EQ(r.AlfaMin, 0.5);
    EXPECT_EQ(r.AlfaMax, 0.5);
    EXPECT_EQ(r.AlfaWidth, 0.0);
    EXPECT_EQ(r.AlfaSz, 0.5);
    EXPECT_EQ(r.FAlfaSz, 1.0);
  }
}

// A random walk analysed as increments sees its steps shifted by one sample
// and ended by 0.0, so its windows come close to the steps analysed as
// values. Over 20 seeds at orders 1 and 2 AlfaSz differed by at most 0.01,
// AlfaMin and AlfaMax by 0.035 and F(AlfaSz) by 8e-5.
TEST(StraightforwardKernel, IncrementsOfAWalkResembleItsStepsAsValues) {
  const std::vector<double> steps = analysis_test::WhiteNoise(2001, 9);
  std::vector<double> walk(steps.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    sum += steps[i];
    walk[i] = sum;
  }
  const SeriesLog increments = RunSeries(MakeParams(1000, 20, 1, 1, 500), walk);
  const SeriesLog values = RunSeries(MakeParams(1000, 20, 1, 0, 500), steps);
  ASSERT_EQ(increments.results.size(), 3u);
  ASSERT_EQ(values.results.size(), 3u);
  for (std::size_t n = 0; n < 3; ++n) {
    const WindowResult& a = increments.results[n];
    const WindowResult& b = values.results[n];
    EXPECT_EQ(a.TimeMark, b.TimeMark);
    EXPECT_NEAR(a.AlfaMin, b.AlfaMin, 0.06);
    EXPECT_NEAR(a.AlfaMax, b.AlfaMax, 0.06);
    EXPECT_NEAR(a.AlfaSz, b.AlfaSz, 0.03);
    EXPECT_NEAR(a.FAlfaSz, b.FAlfaSz, 1e-3);
  }
}

}  // namespace

namespace {

// Window 2^31 + 1 with shift 1 ends at sample 2^31 + Lrec: the position
// and the time mark are computed in 64 bits, with no wrap-around.
TEST(MakeWindowResult, PositionPassesThe32BitRange) {
  const analysis::WindowResult r = analysis::MakeWindowResult(
      1000, analysis::WindowPlan{1, 0.5, 2.0}, std::int64_t{2147483649},
      analysis::kDegenerateSummary);
  EXPECT_EQ(r.TimeMark, (2147483648.0 + 1000.0) * 2.0 + 0.5);
}

}  // namespace
