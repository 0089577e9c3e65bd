// The vector kernel against the straightforward one: every value bit for bit,
// on any number of threads and every instruction set of the vector kernels
// this processor has, over orders 1..10, values and increments, window
// lengths from 32 to 8192, shifts from 1 to Lrec, degenerate windows and
// non-finite samples.
#include "analysis/vector_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "analysis/moving_window.h"
#include "analysis/pipelined_scheduler.h"
#include "analysis/serial_scheduler.h"
#include "analysis/straightforward_kernel.h"
#include "analysis_test_support.h"
#include "numerics/elementary.h"
#include "numerics/exact_elementary.h"
#include "numerics/libm_check.h"
#include "numerics/simd_targets_support.h"
#include "support/bits.h"

namespace {

using analysis::WindowResult;
using analysis_test::MakeParams;
using analysis_test::MakeRun;

using test_support::SameBits;

void ExpectSameBits(const WindowResult& want, const WindowResult& got) {
  EXPECT_TRUE(SameBits(want.TimeMark, got.TimeMark));
  EXPECT_TRUE(SameBits(want.AlfaMin, got.AlfaMin))
      << want.AlfaMin << " vs " << got.AlfaMin;
  EXPECT_TRUE(SameBits(want.AlfaMax, got.AlfaMax))
      << want.AlfaMax << " vs " << got.AlfaMax;
  EXPECT_TRUE(SameBits(want.AlfaWidth, got.AlfaWidth));
  EXPECT_TRUE(SameBits(want.AlfaSz, got.AlfaSz))
      << want.AlfaSz << " vs " << got.AlfaSz;
  EXPECT_TRUE(SameBits(want.FAlfaSz, got.FAlfaSz))
      << want.FAlfaSz << " vs " << got.FAlfaSz;
}

// A series mixing the kinds of data the engines meet: a random walk,
// stretches of white noise and of constant values, and optionally a few
// NaN, infinite and huge samples.
std::vector<double> MixedSeries(std::size_t n, std::uint64_t seed,
                                bool non_finite) {
  std::vector<double> x = analysis_test::RandomWalk(n, seed);
  const std::vector<double> noise = analysis_test::WhiteNoise(n, seed + 1);
  std::mt19937_64 pick(seed + 2);
  for (std::size_t i = 0; i < n; ++i) {
    if ((i / 97) % 5 == 3) x[i] = noise[i];
    if ((i / 61) % 7 == 5) x[i] = 1.0;
  }
  if (non_finite && n > 0) {
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(), 1e308,
                               4.9e-324};
    for (const double s : specials) x[pick() % n] = s;
  }
  return x;
}

struct Outcome {
  std::vector<WindowResult> results;
  std::vector<std::int64_t> progress;
};

Outcome RunEngine(analysis::SeriesEngine& engine,
                  const analysis::WindowPlan& plan,
                  const std::vector<double>& series) {
  Outcome out;
  engine.Analyse(
      plan, analysis_test::SampleSource(series),
      [&](const analysis::WindowOutcome& w) {
        out.progress.push_back(w.Number - 1);
        out.results.push_back(w.Result);
      },
      false);
  return out;
}

Outcome RunReference(const analysis::RunConstants& run,
                     const analysis::WindowPlan& plan,
                     const std::vector<double>& series) {
  const std::unique_ptr<analysis::SeriesEngine> engine =
      analysis_test::ReferenceEngine(
          std::make_shared<const analysis::RunConstants>(run));
  return RunEngine(*engine, plan, series);
}

Outcome RunFast(const analysis::RunConstants& run,
                const analysis::WindowPlan& plan,
                const std::vector<double>& series, int threads) {
  const std::unique_ptr<analysis::SeriesEngine> engine =
      analysis_test::VectorEngine(
          std::make_shared<const analysis::RunConstants>(run), threads);
  Outcome out;
  // Two series through the same engine: nothing may carry over.
  for (int pass = 0; pass < 2; ++pass) out = RunEngine(*engine, plan, series);
  return out;
}

struct Config {
  std::int32_t lrec, min_scale_answer, order, incr, shift;
  std::size_t samples;
  bool non_finite;
};

// Answers settled as the dialogue settles them.
analysis::RunConstants SettledRun(const Config& c) {
  const std::int32_t min_scale =
      std::min(std::max(c.min_scale_answer, 20), c.lrec / 10);
  return MakeRun(
      MakeParams(c.lrec, min_scale, c.order, c.incr, c.shift, 3.5, 0.25));
}

// clang-format off
const Config kConfigs[] = {
  {  32,  20,  1, 0,    1,   40, false},
  {  32,  20, 10, 1,    7,   50, true},   // order 10 on segments of <= 6 points
  {  33,  20,  5, 0,   33,   99, false},
  { 100,  20,  2, 1,   30,  200, true},
  { 199,  20,  3, 0,   17,  260, false},
  { 257,  25,  4, 1,  128,  700, true},
  { 500,  20,  6, 0,   50,  700, false},
  {1000,  20,  1, 1,   50, 1300, true},
  {1000,  20,  2, 0,   50, 1300, false},
  {1000,  30,  5, 1,  250, 1800, false},
  {1000,  20,  7, 0, 1000, 2000, true},
  {1024,  64,  8, 1,  333, 1800, false},
  {2000,  20,  9, 0,  999, 3000, false},
  {4096,  20,  1, 0, 2048, 6200, true},
  {8192, 100, 10, 1, 8192, 8192, false},
};
// clang-format on

TEST(VectorKernel, MatchesTheReferenceBitForBitOnAnyThreadCount) {
  std::uint64_t seed = 1000;
  for (const Config& c : kConfigs) {
    SCOPED_TRACE(testing::Message()
                 << "Lrec " << c.lrec << " order " << c.order << " incr "
                 << c.incr << " shift " << c.shift);
    const analysis::RunConstants run = SettledRun(c);
    const std::vector<double> series =
        MixedSeries(c.samples, ++seed, c.non_finite);
    const analysis::WindowPlan plan{c.shift, 3.5, 0.25};
    const Outcome want = RunReference(run, plan, series);
    ASSERT_FALSE(want.results.empty());
    simd_test::ForEachSimdTarget([&] {
      for (const int threads : {1, 2, 16}) {
        SCOPED_TRACE(threads);
        const Outcome got = RunFast(run, plan, series, threads);
        ASSERT_EQ(got.results.size(), want.results.size());
        EXPECT_EQ(got.progress, want.progress);
        for (std::size_t w = 0; w < want.results.size(); ++w) {
          ExpectSameBits(want.results[w], got.results[w]);
        }
      }
    });
  }
}

TEST(VectorKernel, DegenerateAndNonFiniteWindowsMatch) {
  const analysis::RunConstants run = SettledRun({64, 20, 2, 0, 64, 64, false});
  analysis::Workspace reference(run);
  analysis::VectorWorkspace fast(run);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::vector<double>> windows = {
      std::vector<double>(64, 1.0),  // constant
      std::vector<double>(64, nan),  // NaN everywhere
      std::vector<double>(64, inf),  // infinite everywhere
      std::vector<double>(64, 0.0),
  };
  std::vector<double> spike = analysis_test::WhiteNoise(64, 5);
  spike[0] = nan;  // NaN as the table's first entry
  windows.push_back(spike);
  spike = analysis_test::WhiteNoise(64, 6);
  spike[40] = inf;
  windows.push_back(spike);
  spike = analysis_test::WhiteNoise(64, 7);
  for (double& v : spike) v *= 1e-300;  // ranges whose powers overflow
  windows.push_back(spike);
  // Both kernels rescale a window in units of 1e150 by the same 2^e.
  spike = analysis_test::RandomWalk(64, 8);
  for (double& v : spike) v *= 1e150;
  windows.push_back(spike);
  for (const std::vector<double>& w : windows) {
    SCOPED_TRACE(w[1]);
    const analysis::SpectrumSummary a =
        analysis::AnalyseWindow(run, reference, w);
    simd_test::ForEachSimdTarget([&] {
      const analysis::SpectrumSummary b =
          analysis::AnalyseWindowVector(run, fast, w);
      EXPECT_TRUE(SameBits(a.AlfaMin, b.AlfaMin));
      EXPECT_TRUE(SameBits(a.AlfaMax, b.AlfaMax));
      EXPECT_TRUE(SameBits(a.AlfaWidth, b.AlfaWidth));
      EXPECT_TRUE(SameBits(a.AlfaSz, b.AlfaSz));
      EXPECT_TRUE(SameBits(a.FAlfaSz, b.FAlfaSz));
    });
  }
}

TEST(VectorKernel, AnalyserPropagatesAnExceptionFromItsCallbacks) {
  const analysis::RunConstants run = SettledRun({32, 20, 1, 0, 1, 200, false});
  const std::vector<double> series = analysis_test::RandomWalk(200, 3);
  for (const int threads : {1, 4}) {
    const std::unique_ptr<analysis::SeriesEngine> engine =
        analysis_test::VectorEngine(
            std::make_shared<const analysis::RunConstants>(run), threads);
    int emitted = 0;
    EXPECT_THROW(engine->Analyse(
                     analysis::WindowPlan{1, 0.0, 1.0},
                     analysis_test::SampleSource(series),
                     [&](const analysis::WindowOutcome&) {
                       if (++emitted == 10)
                         throw std::runtime_error("disk full");
                     },
                     false),
                 std::runtime_error);
    EXPECT_EQ(emitted, 10);  // nothing is emitted after the failure
  }
}

}  // namespace

namespace {

// Long windows keep no shared bases (they would outgrow the budget); each
// workspace then rebuilds the basis of the length at hand. Same bits.
TEST(VectorKernel, WorkspaceBasesGiveTheSameResultsAsSharedOnes) {
  for (const std::int32_t order : {2, 5, 10}) {
    SCOPED_TRACE(order);
    const analysis::RunConstants shared =
        SettledRun({400, 20, order, 0, 400, 400, false});
    analysis::RunConstants own = shared;
    own.DetrendBasis.clear();
    const std::vector<double> window =
        MixedSeries(400, 40u + static_cast<std::uint64_t>(order), false);
    analysis::Workspace ref_shared(shared);
    analysis::Workspace ref_own(own);
    analysis::VectorWorkspace fast_own(own);
    const analysis::SpectrumSummary a =
        analysis::AnalyseWindow(shared, ref_shared, window);
    const analysis::SpectrumSummary b =
        analysis::AnalyseWindow(own, ref_own, window);
    const analysis::SpectrumSummary c =
        analysis::AnalyseWindowVector(own, fast_own, window);
    for (const analysis::SpectrumSummary* s : {&b, &c}) {
      EXPECT_TRUE(SameBits(a.AlfaMin, s->AlfaMin));
      EXPECT_TRUE(SameBits(a.AlfaMax, s->AlfaMax));
      EXPECT_TRUE(SameBits(a.AlfaSz, s->AlfaSz));
      EXPECT_TRUE(SameBits(a.FAlfaSz, s->FAlfaSz));
    }
  }
}

}  // namespace

namespace {

// Run by the test numerics.another_libm_makes_the_kernels_step_aside, with
// tests/numerics/preload/sloppy_libm.so preloaded: a libm whose pow and
// log10 err twice glibc's bounds, beyond the kernels' budget. The libm
// check must see it, every term must then take this libm, and the engines
// must still agree bit for bit. That the kernels' own results differ from
// this pow shows that without the check they would not.
TEST(VectorKernel, AnotherLibmMakesTheKernelsStepAside) {
  if (std::getenv("MFWINDOW_SLOPPY_LIBM") == nullptr) {
    GTEST_SKIP() << "runs with sloppy_libm.so preloaded (see tests/CMakeLists)";
  }
  EXPECT_FALSE(numerics::LibmMatchesKernels());
  // ... and say so wherever the kernel is named.
  EXPECT_EQ(analysis::KernelName(analysis::KernelKind::kVector),
            "vector, libm fallback");

  if (simd_test::KernelsHaveVectorPath()) {
    std::mt19937_64 random(77);
    std::uniform_real_distribution<double> decades(-6.0, 6.0);
    std::vector<double> x(100000);
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      x[i] = std::pow(10.0, decades(random));
      y[i] = 1.0 / (static_cast<double>(i % 200) * (20.0 / 199.0) - 10.0);
    }
    std::vector<double> kernel(x.size());
    std::vector<std::uint8_t> kept(x.size());
    numerics::detail::PowKernel(x, y, kernel, kept);
    std::size_t differ = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      differ += kept[i] != 0 && !SameBits(kernel[i], numerics::Pow(x[i], y[i]));
    }
    EXPECT_GT(differ, 0U) << "the preloaded libm is not in use";
  }

  std::uint64_t seed = 3000;
  for (const Config& c : {Config{100, 20, 2, 1, 30, 200, true},
                          Config{257, 25, 4, 1, 128, 700, true},
                          Config{500, 20, 1, 0, 100, 700, false}}) {
    SCOPED_TRACE(testing::Message()
                 << "Lrec " << c.lrec << " order " << c.order);
    const analysis::RunConstants run = SettledRun(c);
    const std::vector<double> series =
        MixedSeries(c.samples, ++seed, c.non_finite);
    const analysis::WindowPlan plan{c.shift, 3.5, 0.25};
    const Outcome want = RunReference(run, plan, series);
    for (const int threads : {1, 2}) {
      const Outcome got = RunFast(run, plan, series, threads);
      ASSERT_EQ(got.results.size(), want.results.size());
      for (std::size_t w = 0; w < want.results.size(); ++w) {
        ExpectSameBits(want.results[w], got.results[w]);
      }
    }
  }
}

}  // namespace
