// The seam between front ends and engines: both engines made by kind give
// the same whole spectra, degenerate windows included; each engine runs on
// its own threads and says what it runs; a poll reaches windows in flight;
// storage that cannot be had is refused up front.
#include "analysis/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "analysis_test_support.h"

namespace {

using analysis::EngineRequest;
using analysis::KernelChoice;
using analysis::WindowOutcome;
using analysis::WindowSpectrum;

struct Window {
  analysis::WindowResult Result;
  WindowSpectrum Spectrum;
};

std::vector<Window> RunWindows(const analysis::AnalysisParams& params,
                               EngineRequest request,
                               const std::vector<double>& series) {
  const std::unique_ptr<analysis::SeriesEngine> engine =
      analysis::MakeEngine(analysis::TablesOf(params), request);
  std::vector<Window> windows;
  engine->Analyse(
      analysis::PlanOf(params), analysis_test::SampleSource(series),
      [&](const WindowOutcome& w) {
        windows.push_back({w.Result, *w.Spectrum});
      },
      true);
  return windows;
}

// Same bits, or both NaN (a NaN's payload carries no meaning here).
bool Same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

void ExpectSame(const std::vector<double>& a, const std::vector<double>& b,
                const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_TRUE(Same(a[i], b[i]))
        << what << "[" << i << "]: " << a[i] << " vs " << b[i];
  }
}

// Guards against the straightforward kernel keeping the previous window's
// tau on a degenerate window while the vector kernel writes NaN: regular and
// degenerate windows alternate, and every array of every window must agree.
TEST(Engines, GiveTheSameWholeSpectrumOnDegenerateWindows) {
  const std::size_t lrec = 256;
  std::vector<double> series;
  const auto append = [&series](std::vector<double> part) {
    series.insert(series.end(), part.begin(), part.end());
  };
  append(analysis_test::RandomWalk(lrec, 1));  // regular
  append(std::vector<double>(lrec, 4.25));     // constant
  append(analysis_test::RandomWalk(lrec, 2));  // regular
  std::vector<double> tiny = analysis_test::RandomWalk(lrec, 3);
  for (double& v : tiny) v *= 1e-300;  // ranges whose R^-10 overflows
  append(tiny);
  std::vector<double> nan_first = analysis_test::RandomWalk(lrec, 4);
  nan_first[0] = std::numeric_limits<double>::quiet_NaN();
  append(nan_first);

  for (const std::int32_t order : {1, 2, 5}) {
    for (const std::int32_t incr : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "order " << order << " incr " << incr);
      const analysis::AnalysisParams params =
          analysis_test::MakeParams(256, 20, order, incr, 256, 0.0, 1.0);
      const std::vector<Window> want =
          RunWindows(params, {KernelChoice::kStraightforward, 1}, series);
      ASSERT_EQ(want.size(), 5u);
      // The constant window is degenerate whatever the order or increments.
      EXPECT_TRUE(std::isnan(want[1].Spectrum.HurstQ[0]));
      EXPECT_TRUE(std::isnan(want[1].Spectrum.TauQ[199]));
      EXPECT_EQ(want[1].Spectrum.AlfaGrid[0], 0.5);
      EXPECT_EQ(want[1].Spectrum.FAlfaGrid[99], 1.0);
      EXPECT_FALSE(std::isnan(want[2].Spectrum.TauQ[0]));
      for (const int threads : {1, 2}) {
        const std::vector<Window> got =
            RunWindows(params, {KernelChoice::kAuto, threads}, series);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t w = 0; w < want.size(); ++w) {
          SCOPED_TRACE(testing::Message()
                       << "window " << w << " threads " << threads);
          ExpectSame(want[w].Spectrum.HurstQ, got[w].Spectrum.HurstQ, "h");
          ExpectSame(want[w].Spectrum.TauQ, got[w].Spectrum.TauQ, "tau");
          ExpectSame(want[w].Spectrum.AlfaGrid, got[w].Spectrum.AlfaGrid,
                     "alpha");
          ExpectSame(want[w].Spectrum.FAlfaGrid, got[w].Spectrum.FAlfaGrid,
                     "f");
          EXPECT_TRUE(Same(want[w].Result.AlfaSz, got[w].Result.AlfaSz));
        }
      }
    }
  }
}

// Dense windows reuse the measures of segments that recur. Guards against
// a measure taken across series (every window alone starts at place 0 of
// its own series), against the increments' final 0.0 passing for the
// series' increment, and against reuse under the profile: each window of a
// dense run must be the same bits as that window analysed alone.
TEST(Engines, DenseWindowsMatchEachWindowAlone) {
  const std::int32_t lrec = 200;
  std::vector<double> series = analysis_test::RandomWalk(lrec + 60, 12);
  std::fill(series.begin() + 150, series.begin() + 190, 1.5);  // flat
  struct Case {
    std::int32_t shift, order, incr;
    bool profile;
    int threads;
  };
  // clang-format off
  constexpr Case kCases[] = {
    {1,  2, 0, false, 1},
    {1,  1, 1, false, 1},
    {3,  5, 0, false, 2},
    {20, 2, 1, false, 1},
    {1,  2, 0, true,  1},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "shift " << c.shift << " order "
                                    << c.order << " incr " << c.incr);
    analysis::TableParams tables = analysis::TablesOf(
        analysis_test::MakeParams(lrec, 20, c.order, c.incr, c.shift));
    tables.Method.Profile = c.profile;
    const auto windows = [&](analysis::SeriesEngine& engine,
                             const std::vector<double>& samples,
                             std::int32_t shift) {
      std::vector<Window> got;
      engine.Analyse(
          {shift, 0.0, 1.0}, analysis_test::SampleSource(samples),
          [&](const WindowOutcome& w) {
            got.push_back({w.Result, *w.Spectrum});
          },
          true);
      return got;
    };
    const std::vector<Window> dense =
        windows(*analysis::MakeEngine(tables, {KernelChoice::kAuto, c.threads}),
                series, c.shift);
    ASSERT_EQ(dense.size(), static_cast<std::size_t>(60 / c.shift + 1));
    const std::unique_ptr<analysis::SeriesEngine> alone_engine =
        analysis::MakeEngine(tables, {KernelChoice::kAuto, 1});
    for (std::size_t w = 0; w < dense.size(); ++w) {
      SCOPED_TRACE(w);
      const auto first =
          series.begin() + static_cast<std::ptrdiff_t>(w) * c.shift;
      const std::vector<double> samples(first, first + lrec);
      const std::vector<Window> alone =
          windows(*alone_engine, samples, c.shift);
      ASSERT_EQ(alone.size(), 1u);
      const analysis::WindowResult& a = alone[0].Result;
      const analysis::WindowResult& d = dense[w].Result;
      for (const auto& [x, y] : {std::pair{a.AlfaMin, d.AlfaMin},
                                 {a.AlfaMax, d.AlfaMax},
                                 {a.AlfaSz, d.AlfaSz},
                                 {a.FAlfaSz, d.FAlfaSz}}) {
        EXPECT_TRUE(Same(x, y)) << x << " vs " << y;
      }
      ExpectSame(alone[0].Spectrum.HurstQ, dense[w].Spectrum.HurstQ, "h");
      ExpectSame(alone[0].Spectrum.FAlfaGrid, dense[w].Spectrum.FAlfaGrid, "f");
    }
  }
}

// Guards against a process-wide thread limit: an engine on one thread,
// alive and working, must not hold another engine to one thread, and the
// other way round.
TEST(Engines, EachRunsOnItsOwnThreadCount) {
  if (analysis::AvailableCores() < 2) GTEST_SKIP() << "needs two cores";
  const analysis::TableParams tables =
      analysis::TablesOf(analysis_test::MakeParams(512, 20, 2));
  const std::unique_ptr<analysis::SeriesEngine> one =
      analysis::MakeEngine(tables, {KernelChoice::kAuto, 1});
  const std::unique_ptr<analysis::SeriesEngine> two =
      analysis::MakeEngine(tables, {KernelChoice::kAuto, 2});
  EXPECT_EQ(one->Threads(), 1);
  EXPECT_EQ(two->Threads(), 2);
  const std::vector<double> series = analysis_test::RandomWalk(512 * 60, 9);
  const analysis::WindowPlan plan{256, 0.0, 1.0};
  const auto analyse = [&](analysis::SeriesEngine& engine) {
    engine.Analyse(
        plan, analysis_test::SampleSource(series), [](const WindowOutcome&) {},
        false);
  };
  std::thread side([&] { analyse(*one); });
  analyse(*two);
  side.join();
  EXPECT_EQ(one->MostWindowsAtOnce(), 1);
  EXPECT_EQ(two->MostWindowsAtOnce(), 2);
}

// The engine says what it runs, and runs what it says: the kernel asked for
// (the vector kernel when the choice is left to it, on any grid), pipelined
// only on two threads, never more threads than cores (a request of INT_MAX once
// stalled for minutes while the count was lowered one at a time).
TEST(MakeEngine, ReportsTheKernelSchedulerAndThreadsItRuns) {
  using analysis::KernelKind;
  using analysis::SchedulerKind;
  const int cores = analysis::AvailableCores();
  const SchedulerKind many =
      cores > 1 ? SchedulerKind::kPipelined : SchedulerKind::kSerial;
  struct Case {
    KernelChoice kind;
    int threads;
    bool listed_q;
    KernelKind kernel;
    SchedulerKind scheduler;
    int used;
  };
  // clang-format off
  const Case cases[] = {
    {KernelChoice::kAuto,            1,       false, KernelKind::kVector,          SchedulerKind::kSerial, 1},
    {KernelChoice::kAuto,            2,       true,  KernelKind::kVector,          many,                   std::min(2, cores)},
    {KernelChoice::kAuto,            INT_MAX, false, KernelKind::kVector,          many,                   cores},
    {KernelChoice::kVector,          1,       true,  KernelKind::kVector,          SchedulerKind::kSerial, 1},
    {KernelChoice::kStraightforward, 1,       false, KernelKind::kStraightforward, SchedulerKind::kSerial, 1},
    {KernelChoice::kStraightforward, 2,       false, KernelKind::kStraightforward, many,                   std::min(2, cores)},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.threads);
    analysis::TableParams tables =
        analysis::TablesOf(analysis_test::MakeParams(512, 20, 2));
    if (c.listed_q) tables.Method.QList = {-2.0, -1.0, 0.0, 1.0, 2.0};
    const analysis::EngineChoice got =
        analysis::MakeEngine(tables, {c.kind, c.threads})->Choice();
    EXPECT_EQ(got.Kernel, c.kernel);
    EXPECT_EQ(got.Scheduler, c.scheduler);
    EXPECT_EQ(got.Threads, c.used);
  }
}

// Regression: a stop request waited for the windows in flight (4-8 s with a
// window of 2^22, 6.5 s with 299 surrogates). The poll reaches a window's
// surrogates before the window is handed out, its exception ends them, and
// the engine then analyses the next series in full.
TEST(SeriesEngine, PollReachesTheWindowsInFlight) {
  analysis::TableParams tables =
      analysis::TablesOf(analysis_test::MakeParams(1 << 14, 20, 2));
  tables.Surrogates.Count = 30;
  tables.Surrogates.Kind = analysis::SurrogateKind::kShuffle;
  const std::vector<double> series = analysis_test::RandomWalk(1 << 14, 4);
  const analysis::WindowPlan plan{1 << 14, 0.0, 1.0};
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const std::unique_ptr<analysis::SeriesEngine> engine =
        analysis::MakeEngine(tables, {KernelChoice::kAuto, threads});
    int emitted = 0;
    int polls = 0;
    const auto count = [&](const WindowOutcome&) { ++emitted; };
    EXPECT_THROW(
        engine->Analyse(plan, analysis_test::SampleSource(series), count, false,
                        [&] {
                          ++polls;
                          throw std::runtime_error("stop");
                        }),
        std::runtime_error);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(emitted, 0);
    engine->Analyse(plan, analysis_test::SampleSource(series), count, false);
    EXPECT_EQ(emitted, 1);
  }
}

// A window no machine could hold is refused by the storage check itself,
// before any table is built: the text says what was needed.
TEST(MakeEngine, RefusesStorageTheSystemCouldNeverGive) {
  const analysis::TableParams tables =
      analysis::TablesOf(analysis_test::MakeParams(2147483647, 20, 2));
  for (const KernelChoice kind :
       {KernelChoice::kAuto, KernelChoice::kStraightforward}) {
    try {
      analysis::MakeEngine(tables, {kind, 1});
      ADD_FAILURE() << "no refusal";
    } catch (const analysis::InsufficientStorage& e) {
      EXPECT_NE(std::string(e.what()).find("insufficient virtual memory"),
                std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
