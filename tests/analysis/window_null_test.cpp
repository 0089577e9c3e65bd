// Surrogate null levels: what is surrogated for each way of preparing a
// window, the arithmetic of the levels and p-values, and a small run of
// the straightforward kernel checked against surrogates made and analysed
// one by one here.
#include "analysis/window_null.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/moving_window.h"
#include "analysis/serial_scheduler.h"
#include "analysis/straightforward_kernel.h"
#include "analysis_test_support.h"
#include "support/bits.h"

namespace {

using analysis::SpectrumSummary;
using analysis::TableParams;
using analysis::WindowNull;
using numerics::SurrogateKind;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TableParams Tables(std::int32_t lrec, std::int32_t incr, bool profile,
                   SurrogateKind kind, std::int32_t count, std::uint64_t seed) {
  TableParams tables = analysis::TablesOf(analysis_test::MakeParams(
      lrec, lrec / 10 < 20 ? lrec / 10 : 20, 2, incr));
  tables.Method.Profile = profile;
  tables.Surrogates = {count, kind, seed};
  return tables;
}

std::vector<double> Sorted(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// A shuffle keeps the surrogated values, so each preparation can be
// checked against the window: a walk analysed as values is integrated
// again from its first sample and ends where it ended; increments stay
// increments with their final 0.0; a profile of shuffled values is a
// profile of the same values.
TEST(SurrogateFactory, SurrogatesWhatTheMethodIntegrates) {
  const std::vector<double> raw = analysis_test::RandomWalk(300, 5);
  std::vector<double> increments(raw.size() - 1);
  for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
    increments[i] = raw[i + 1] - raw[i];
  }
  for (const std::int32_t incr : {0, 1}) {
    for (const bool profile : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "incr " << incr << " profile " << profile);
      const TableParams tables =
          Tables(300, incr, profile, SurrogateKind::kShuffle, 1, 9);
      std::vector<double> source(analysis::SurrogateSourceSize(tables));
      analysis::SurrogateSource(tables, raw, source);
      analysis::SurrogateFactory factory(tables);
      const std::vector<double> prepared = [&] {
        const std::span<const double> p = factory.Make(source, raw[0], 3, 0);
        return std::vector<double>(p.begin(), p.end());
      }();
      ASSERT_EQ(prepared.size(), raw.size());
      std::vector<double> original(raw.size());
      analysis::PrepareWindow(tables, raw, original);
      EXPECT_NE(prepared, original);  // it was shuffled

      if (profile) {
        // A profile of the shuffled sequence (with increments, their final
        // 0.0 stays last): its steps are the shuffled values less their
        // mean.
        EXPECT_EQ(source, incr == 0 ? raw : increments);
        std::vector<double> values = source;
        if (incr == 1) values.push_back(0.0);
        double mean = 0.0;
        for (const double v : values) mean += v;
        mean /= 300.0;
        std::vector<double> steps(prepared.size());
        steps[0] = prepared[0];
        for (std::size_t i = 1; i < prepared.size(); ++i) {
          steps[i] = prepared[i] - prepared[i - 1];
        }
        if (incr == 1) {
          EXPECT_NEAR(steps.back(), -mean, 1e-10);
        }
        for (double& v : values) v -= mean;
        const std::vector<double> a = Sorted(steps);
        const std::vector<double> b = Sorted(values);
        for (std::size_t i = 0; i < a.size(); ++i) {
          EXPECT_NEAR(a[i], b[i], 1e-10);
        }
        EXPECT_NEAR(prepared.back(), 0.0, 1e-10);  // a profile ends at 0
        continue;
      }
      EXPECT_EQ(source, increments);
      if (incr == 1) {
        EXPECT_EQ(prepared.back(), 0.0);
        const std::vector<double> body(prepared.begin(), prepared.end() - 1);
        EXPECT_EQ(Sorted(body), Sorted(increments));
        continue;
      }
      // Integrated again from the first sample, to the same end.
      EXPECT_EQ(prepared[0], raw[0]);
      EXPECT_NEAR(prepared.back(), raw.back(), 1e-11);
      std::vector<double> steps(prepared.size() - 1);
      for (std::size_t i = 0; i + 1 < prepared.size(); ++i) {
        steps[i] = prepared[i + 1] - prepared[i];
      }
      const std::vector<double> a = Sorted(steps);
      const std::vector<double> b = Sorted(increments);
      for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i], b[i], 1e-12);
      }
    }
  }
}

struct LevelsCase {
  const char* name;
  std::vector<double> widths;
  std::vector<double> alfa_sz;
  SpectrumSummary observed;  // AlfaWidth and AlfaSz are read
  WindowNull want;
  std::vector<std::uint8_t> at_cap = {};  // empty: none at the cap
};

// Hand computations. 95th percentile of m sorted values: rank 0.95 (m-1),
// linear between neighbours.
const LevelsCase kLevelsCases[] = {
    {"five surrogates",
     {0.1, 0.5, 0.3, 0.2, 0.4},
     {0.6, 0.7, 0.5, 0.9, 0.8},
     {0.0, 0.0, 0.35, 0.85, 0.0},
     // widths sorted .1 .2 .3 .4 .5: median .3, rank 3.8 -> .4 + .8 * .1;
     // 2 widths >= .35: (1+2)/6. AlfaSz: 1 above .85, 4 below:
     // 2 (1 + 1)/6.
     {0.3, 0.4 + 0.8 * (0.5 - 0.4), 0.5, 0.7, 0.8 + 0.8 * (0.9 - 0.8),
      4.0 / 6.0, 0, 5}},
    {"even count, ties",
     {0.2, 0.2, 0.6, 0.4},
     {0.5, 0.5, 0.5, 0.5},
     {0.0, 0.0, 0.2, 0.5, 0.0},
     // median (.2 + .4)/2; rank 2.85 -> .4 + .85 * .2; every width >= .2:
     // 5/5. AlfaSz: all 4 tie, both counts 4: min(1, 2 * 5/5) = 1.
     {(0.2 + 0.4) / 2.0, 0.4 + 0.85 * (0.6 - 0.4), 1.0, 0.5, 0.5, 1.0, 0, 4}},
    {"observed beyond all",
     {0.1, 0.2, 0.3},
     {0.4, 0.5, 0.6},
     {0.0, 0.0, 0.9, 0.1, 0.0},
     // nothing >= .9: 1/4; AlfaSz below all three: 2 * 1/4.
     {0.2, 0.2 + 0.9 * (0.3 - 0.2), 0.25, 0.5, 0.5 + 0.9 * (0.6 - 0.5), 0.5, 0,
      3}},
    {"a NaN width or AlfaSz leaves the surrogate out of N",
     {kNaN, 0.3, 0.1},
     {0.5, kNaN, 0.7},
     {0.0, 0.0, 0.2, 0.6, 0.0},
     // only (.1, .7) is used: .1 < .2 gives 1/2; .7 above .6: 2 * 1/2.
     {0.1, 0.1, 0.5, 0.7, 0.7, 1.0, 0, 1}},
    {"unsettled surrogates leave N and are counted",
     {0.1, 0.5, 0.3},
     {0.6, 0.7, 0.5},
     {0.0, 0.0, 0.35, 0.65, 0.0},
     // (.1, .6) and (.3, .5) are used: no width >= .35: 1/3; both AlfaSz
     // below .65: 2 (1 + 0)/3.
     {0.2, 0.1 + 0.95 * 0.2, 1.0 / 3.0, 0.55, 0.5 + 0.95 * 0.1, 2.0 / 3.0, 1,
      2},
     {0, 1, 0}},
    {"none settled",
     {0.1},
     {0.5},
     {0.0, 0.0, 0.2, 0.5, 0.0},
     {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, 1, 0},
     {1}},
    {"NaN observed",
     {0.1, 0.2},
     {0.3, 0.4},
     {0.0, 0.0, kNaN, kNaN, 0.0},
     {0.15, 0.1 + 0.95 * 0.1, kNaN, 0.35, 0.3 + 0.95 * 0.1, kNaN, 0, 2}},
};

bool SameValue(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= 1e-15;
}

TEST(NullLevels, MedianPercentileAndRankPValues) {
  for (const LevelsCase& c : kLevelsCases) {
    SCOPED_TRACE(c.name);
    std::vector<double> scratch(2 * c.widths.size());
    std::vector<std::uint8_t> at_cap = c.at_cap;
    at_cap.resize(c.widths.size());
    const WindowNull got =
        analysis::NullLevels(c.observed, c.widths, c.alfa_sz, at_cap, scratch);
    EXPECT_PRED2(SameValue, got.WidthMedian, c.want.WidthMedian);
    EXPECT_PRED2(SameValue, got.WidthP95, c.want.WidthP95);
    EXPECT_PRED2(SameValue, got.WidthP, c.want.WidthP);
    EXPECT_PRED2(SameValue, got.AlfaSzMedian, c.want.AlfaSzMedian);
    EXPECT_PRED2(SameValue, got.AlfaSzP95, c.want.AlfaSzP95);
    EXPECT_PRED2(SameValue, got.AlfaSzP, c.want.AlfaSzP);
    EXPECT_EQ(got.IaaftAtCap, c.want.IaaftAtCap);
    EXPECT_EQ(got.Used, c.want.Used);
  }
}

// The engine's levels, against surrogates made with numerics'
// SurrogateMaker under the documented keys, integrated and analysed here.
TEST(StraightforwardNull, MatchesSurrogatesMadeOneByOne) {
  const std::int32_t lrec = 400;
  const std::int32_t count = 9;
  const std::uint64_t keys = 9;
  // A cap of 40 steps, so that some surrogates reach it unsettled: the levels
  // must count them and leave them out.
  TableParams tables = Tables(lrec, 0, false, SurrogateKind::kIaaft, count, 77);
  tables.Surrogates.IaaftCap = 40;
  const auto run = analysis::MakeRunConstants(tables);
  // A walk stepping by a spike every 40 samples in 2% noise.
  std::vector<double> series = analysis_test::WhiteNoise(1000, 6);
  double level = 0.0;
  for (std::size_t i = 0; i < series.size(); ++i) {
    level += (i % 40 == 0 ? 1.0 : 0.0) + 0.02 * series[i];
    series[i] = level;
  }
  const auto engine = analysis_test::ReferenceEngine(run);
  std::vector<WindowNull> nulls;
  std::vector<analysis::WindowResult> results;
  engine->Analyse(
      analysis::WindowPlan{300, 0.0, 1.0}, analysis_test::SampleSource(series),
      [&](const analysis::WindowOutcome& w) {
        ASSERT_NE(w.Null, nullptr);
        nulls.push_back(*w.Null);
        results.push_back(w.Result);
      },
      false);
  ASSERT_EQ(nulls.size(), 3u);

  numerics::SurrogateMaker maker(lrec - 1, SurrogateKind::kIaaft, 40);
  std::int32_t all_at_cap = 0;
  analysis::Workspace work(*run);
  for (std::size_t w = 0; w < nulls.size(); ++w) {
    SCOPED_TRACE(w);
    const double* raw = series.data() + 300 * w;
    std::vector<double> increments(lrec - 1);
    for (std::size_t i = 0; i < increments.size(); ++i) {
      increments[i] = raw[i + 1] - raw[i];
    }
    std::vector<double> widths;  // of the surrogates that settled
    std::vector<double> surrogate(increments.size());
    std::vector<double> walk(lrec);
    std::int32_t at_cap = 0;
    for (std::uint64_t i = 0; i < keys; ++i) {
      maker.Make(increments, numerics::SurrogateKey(77, 0, w + 1, i),
                 surrogate);
      if (maker.LastIterations() == 40 && !maker.LastConverged()) {
        ++at_cap;
        continue;
      }
      walk[0] = raw[0];
      for (std::size_t t = 0; t < surrogate.size(); ++t) {
        walk[t + 1] = walk[t] + surrogate[t];
      }
      widths.push_back(analysis::AnalyseWindow(*run, work, walk).AlfaWidth);
    }
    const std::size_t m = widths.size();
    ASSERT_GE(m, 2u);
    EXPECT_EQ(nulls[w].Used, static_cast<std::int32_t>(m));
    std::size_t wider = 0;
    for (const double v : widths) wider += v >= results[w].AlfaWidth ? 1u : 0u;
    EXPECT_EQ(nulls[w].WidthP,
              static_cast<double>(1 + wider) / static_cast<double>(m + 1));
    std::sort(widths.begin(), widths.end());
    EXPECT_EQ(
        nulls[w].WidthMedian,
        m % 2 == 1 ? widths[m / 2] : (widths[m / 2 - 1] + widths[m / 2]) / 2.0);
    const double rank = 0.95 * static_cast<double>(m - 1);
    const auto low = static_cast<std::size_t>(rank);
    EXPECT_NEAR(nulls[w].WidthP95,
                widths[low] + (rank - static_cast<double>(low)) *
                                  (widths[low + 1] - widths[low]),
                1e-15);
    EXPECT_EQ(nulls[w].IaaftAtCap, at_cap);
    all_at_cap += at_cap;
    EXPECT_GE(nulls[w].AlfaSzP, 0.2);  // 2 (1 + 0) / 10 at least
    EXPECT_LE(nulls[w].AlfaSzP, 1.0);
  }
  EXPECT_GT(all_at_cap, 0);
}

// The levels depend on the seed, and only on the window's own samples and
// number, not on what the engine analysed before.
TEST(StraightforwardNull, DependsOnTheSeedNotOnHistory) {
  const auto null_of = [](std::uint64_t seed, int passes) {
    const auto run = analysis::MakeRunConstants(
        Tables(256, 1, true, SurrogateKind::kPhase, 5, seed));
    const auto engine = analysis_test::ReferenceEngine(run);
    const std::vector<double> series = analysis_test::RandomWalk(256, 8);
    WindowNull null;
    for (int pass = 0; pass < passes; ++pass) {
      engine->Analyse(
          analysis::WindowPlan{256, 0.0, 1.0},
          analysis_test::SampleSource(series),
          [&](const analysis::WindowOutcome& w) { null = *w.Null; }, false);
    }
    return null;
  };
  const WindowNull a = null_of(1, 1);
  const WindowNull b = null_of(1, 3);
  const WindowNull c = null_of(2, 1);
  EXPECT_TRUE(test_support::SameBits(a.WidthMedian, b.WidthMedian));
  EXPECT_TRUE(test_support::SameBits(a.AlfaSzP95, b.AlfaSzP95));
  EXPECT_NE(a.WidthMedian, c.WidthMedian);
}

}  // namespace
