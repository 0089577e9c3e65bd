// Each method option against a direct computation: profile, rms, explicit
// moment orders with q = 0 (the logarithmic mean), the scale grid, the fit
// range, the range floor and the F_q(s) handed out. The direct computation
// works in long double from the formulas (least squares by normal
// equations, not the engines' closed form or orthonormal basis), so an
// engine that applied an option in the wrong place, or not at all, differs
// from it by far more than rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "analysis/moving_window.h"
#include "analysis/serial_scheduler.h"
#include "analysis/straightforward_kernel.h"
#include "analysis_test_support.h"

namespace {

using analysis::FitAbscissa;
using analysis::Fluctuation;
using analysis::MethodOptions;
using analysis::RunConstants;
using analysis::SegmentCut;
using Real = long double;

// The prepared values: increments (Lrec - 1 and a final 0), then the
// profile: cumulative sum of the values minus their mean.
std::vector<Real> DirectPrepared(const std::vector<double>& raw, bool incr,
                                 bool profile) {
  std::vector<Real> v(raw.begin(), raw.end());
  if (incr) {
    for (std::size_t i = 0; i + 1 < v.size(); ++i) v[i] = v[i + 1] - v[i];
    v.back() = 0.0L;
  }
  if (profile) {
    Real mean = 0.0L;
    for (const Real x : v) mean += x;
    mean /= static_cast<Real>(v.size());
    Real sum = 0.0L;
    for (Real& x : v) {
      sum += x - mean;
      x = sum;
    }
  }
  return v;
}

// Residuals of the least-squares polynomial of degree `order` (1 or 2)
// through (i, y_i), i = 1..n, by the normal equations on the centred
// abscissa, solved by Gaussian elimination.
std::vector<Real> DirectResiduals(const std::vector<Real>& y, int order) {
  const std::size_t n = y.size();
  const int terms = order + 1;
  const Real centre = static_cast<Real>(n + 1) / 2.0L;
  Real a[3][4] = {};
  for (std::size_t i = 0; i < n; ++i) {
    const Real t = static_cast<Real>(i + 1) - centre;
    Real powers[3] = {1.0L, t, t * t};
    for (int r = 0; r < terms; ++r) {
      for (int c = 0; c < terms; ++c) a[r][c] += powers[r] * powers[c];
      a[r][terms] += powers[r] * y[i];
    }
  }
  for (int p = 0; p < terms; ++p) {
    for (int r = p + 1; r < terms; ++r) {
      const Real f = a[r][p] / a[p][p];
      for (int c = p; c <= terms; ++c) a[r][c] -= f * a[p][c];
    }
  }
  Real coef[3] = {};
  for (int r = terms - 1; r >= 0; --r) {
    Real s = a[r][terms];
    for (int c = r + 1; c < terms; ++c) s -= a[r][c] * coef[c];
    coef[r] = s / a[r][r];
  }
  std::vector<Real> res(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Real t = static_cast<Real>(i + 1) - centre;
    res[i] = y[i] - (coef[0] + coef[1] * t + coef[2] * t * t);
  }
  return res;
}

// F(q_j, s_k) for every order and scale of `run`, directly.
std::vector<Real> DirectFq(const RunConstants& run,
                           const std::vector<Real>& values, Real floor_abs) {
  const std::size_t q_count = run.QGrid.size();
  std::vector<Real> table(q_count * run.ScaleLen.size());
  for (std::size_t k = 0; k < run.ScaleLen.size(); ++k) {
    const auto n = static_cast<std::size_t>(run.ScaleLen[k]);
    const std::size_t per_side = values.size() / n;
    const bool both = run.Params.Method.Segments == SegmentCut::kBoth;
    const std::size_t g = both ? 2 * per_side : per_side;
    std::vector<Real> f;  // counted fluctuations
    for (std::size_t v = 0; v < g; ++v) {
      // Kantelhardt et al.'s segments nu = Ns+1..2Ns (from 1) start at
      // N - (2Ns - nu + 1) s, counted from 0.
      const auto first = static_cast<std::ptrdiff_t>(
          v < per_side ? v * n : values.size() - (g - v) * n);
      const std::vector<Real> seg(
          values.begin() + first,
          values.begin() + first + static_cast<std::ptrdiff_t>(n));
      const std::vector<Real> r = DirectResiduals(seg, run.Params.TrendOrder);
      Real x = 0.0L;
      if (run.Params.Method.Measure == Fluctuation::kRms) {
        for (const Real e : r) x += e * e;
        x = std::sqrt(x / static_cast<Real>(n));
      } else {
        x = *std::max_element(r.begin(), r.end()) -
            *std::min_element(r.begin(), r.end());
      }
      if (x > floor_abs) f.push_back(x);
    }
    for (std::size_t j = 0; j < q_count; ++j) {
      const Real q = run.QGrid[j];
      Real sum = 0.0L;
      for (const Real x : f) sum += q == 0.0L ? std::log(x) : std::pow(x, q);
      table[k * q_count + j] =
          q == 0.0L
              ? (f.empty() ? 0.0L : std::exp(sum / static_cast<Real>(f.size())))
              : std::pow(sum / static_cast<Real>(g), 1.0L / q);
    }
  }
  return table;
}

// h(q_j) from the direct table over the fitted scales, against the grid
// values computed here from MinScale and MaxScale.
std::vector<Real> DirectHurst(const RunConstants& run,
                              const std::vector<Real>& table) {
  const std::size_t q_count = run.QGrid.size();
  const std::size_t s_count = run.ScaleLen.size();
  const Real a = std::log10(static_cast<Real>(run.Params.MinScale));
  const Real b = std::log10(static_cast<Real>(run.MaxScale));
  const bool log_s = run.Params.Method.Abscissa == FitAbscissa::kLogS;
  std::vector<Real> x(s_count);
  std::vector<std::size_t> fitted;  // with log s: each length once
  for (std::size_t k = 0; k < s_count; ++k) {
    x[k] = log_s ? std::log10(static_cast<Real>(run.ScaleLen[k]))
                 : a + static_cast<Real>(k) * (b - a) /
                           static_cast<Real>(s_count - 1);
    if (k >= run.FitBegin && k < run.FitEnd &&
        (!log_s || fitted.empty() ||
         run.ScaleLen[k] != run.ScaleLen[fitted.back()])) {
      fitted.push_back(k);
    }
  }
  const auto m = static_cast<Real>(fitted.size());
  Real x_mean = 0.0L;
  for (const std::size_t k : fitted) x_mean += x[k];
  x_mean /= m;
  std::vector<Real> h(q_count);
  for (std::size_t j = 0; j < q_count; ++j) {
    Real y_mean = 0.0L;
    for (const std::size_t k : fitted) {
      y_mean += std::log10(table[k * q_count + j]);
    }
    y_mean /= m;
    Real sxy = 0.0L;
    Real sxx = 0.0L;
    for (const std::size_t k : fitted) {
      sxy += (x[k] - x_mean) * (std::log10(table[k * q_count + j]) - y_mean);
      sxx += (x[k] - x_mean) * (x[k] - x_mean);
    }
    h[j] = sxy / sxx;
  }
  return h;
}

struct MethodCase {
  const char* name;
  std::int32_t incr;
  std::int32_t order;
  MethodOptions method;
  bool flat_stretch;  // zeros at samples 30..69 of the window
};

MethodOptions With(const std::function<void(MethodOptions&)>& change) {
  MethodOptions m;
  m.KeepFq = true;
  change(m);
  return m;
}

const std::vector<double> kOrders{-4.0, -1.5, 0.0, 0.5, 2.0, 5.0};

const MethodCase kMethodCases[] = {
    {"described method", 0, 1, With([](MethodOptions&) {}), false},
    {"rms", 0, 1, With([](MethodOptions& m) { m.Measure = Fluctuation::kRms; }),
     false},
    {"rms, order 2", 1, 2,
     With([](MethodOptions& m) { m.Measure = Fluctuation::kRms; }), false},
    {"profile", 0, 1, With([](MethodOptions& m) { m.Profile = true; }), false},
    // The increments first, then the profile of the increments.
    {"profile of increments", 1, 2, With([](MethodOptions& m) {
       m.Profile = true;
       m.Measure = Fluctuation::kRms;
     }),
     false},
    {"orders with 0", 0, 2, With([](MethodOptions& m) { m.QList = kOrders; }),
     false},
    {"grid through 0", 1, 1, With([](MethodOptions& m) {
       m.QMin = -4.0;
       m.QMax = 4.0;
       m.QCount = 9;
     }),
     false},
    {"scales", 0, 2, With([](MethodOptions& m) {
       m.QList = kOrders;
       m.MaxScale = 60;
       m.ScaleCount = 12;
     }),
     false},
    {"fit range", 0, 1, With([](MethodOptions& m) {
       m.QList = kOrders;
       m.MaxScale = 60;
       m.ScaleCount = 30;
       m.FitMin = 15;
       m.FitMax = 40;
     }),
     false},
    // Window 120 is no multiple of most lengths: the end segments differ.
    {"segments from both ends", 0, 2, With([](MethodOptions& m) {
       m.QList = kOrders;
       m.Segments = SegmentCut::kBoth;
     }),
     false},
    {"log s abscissa", 0, 1, With([](MethodOptions& m) {
       m.QList = kOrders;
       m.Abscissa = FitAbscissa::kLogS;
     }),
     false},
    {"textbook switches", 0, 1, With([](MethodOptions& m) {
       m.Profile = true;
       m.Measure = Fluctuation::kRms;
       m.QMin = -5.0;
       m.QMax = 5.0;
       m.QCount = 21;
       m.Segments = SegmentCut::kBoth;
       m.Abscissa = FitAbscissa::kLogS;
     }),
     false},
    // Segments inside the zero stretch are exactly flat: they count in g
    // but add nothing; at q = 0 they leave the divisor too.
    {"flat stretch, q = 0", 0, 2,
     With([](MethodOptions& m) { m.QList = kOrders; }), true},
    {"range floor", 0, 2, With([](MethodOptions& m) {
       m.QList = kOrders;
       m.RangeFloor = 0.15;  // far above rounding: real segments drop out
     }),
     false},
};

TEST(MethodOptions, MatchDirectComputation) {
  for (const MethodCase& c : kMethodCases) {
    SCOPED_TRACE(c.name);
    const RunConstants run = analysis_test::MakeRun(
        analysis_test::MakeParams(120, 12, c.order, c.incr), c.method);
    ASSERT_EQ(run.Params.MinScale, 12);
    // A walk, whose increments are noise; noise where a profile of the
    // values makes the walk.
    std::vector<double> raw = c.method.Profile && c.incr == 0
                                  ? analysis_test::WhiteNoise(120, 7)
                                  : analysis_test::RandomWalk(120, 7);
    if (c.flat_stretch) std::fill(raw.begin() + 30, raw.begin() + 70, 0.0);

    std::vector<double> prepared(raw.size());
    analysis::PrepareWindow(run.Params, raw, prepared);
    const std::vector<Real> direct_values =
        DirectPrepared(raw, c.incr == 1, c.method.Profile);
    Real magnitude = 0.0L;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      ASSERT_NEAR(static_cast<double>(direct_values[i]), prepared[i], 1e-12);
      magnitude = std::max(magnitude, std::fabs(direct_values[i]));
    }

    analysis::Workspace work(run);
    const analysis::SpectrumSummary summary =
        analysis::AnalyseWindow(run, work, prepared);
    const std::vector<Real> want =
        DirectFq(run, direct_values, c.method.RangeFloor * magnitude);
    ASSERT_EQ(work.Fq.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE(i);
      const double w = static_cast<double>(want[i]);
      // Doubles against long double through pow and exp of short sums.
      ASSERT_NEAR(work.Fq[i], w, 1e-9 * w);
    }
    const std::vector<Real> h = DirectHurst(run, want);
    for (std::size_t j = 0; j < h.size(); ++j) {
      EXPECT_NEAR(work.HurstQ[j], static_cast<double>(h[j]), 1e-8) << j;
    }
    EXPECT_TRUE(std::isfinite(summary.AlfaSz));
    // The cases that flatten segments must really have flattened some.
    EXPECT_EQ(work.Quality.ZeroShare > 0.0,
              c.flat_stretch || c.method.RangeFloor > 0.0);
  }
}

// The scale options give log10 MinScale .. log10 MaxScale in ScaleCount
// equal steps, each length the power truncated.
TEST(MethodOptions, ScaleGridFollowsMaxScaleAndCount) {
  for (const std::int32_t count : {2, 7, 200, 333}) {
    SCOPED_TRACE(count);
    MethodOptions m;
    m.MaxScale = 500;
    m.ScaleCount = count;
    const RunConstants run =
        analysis_test::MakeRun(analysis_test::MakeParams(1000, 25, 3), m);
    ASSERT_EQ(run.LogScale.size(), static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < run.LogScale.size(); ++k) {
      const Real x =
          std::log10(25.0L) + static_cast<Real>(k) *
                                  (std::log10(500.0L) - std::log10(25.0L)) /
                                  static_cast<Real>(count - 1);
      EXPECT_NEAR(run.LogScale[k], static_cast<double>(x), 1e-14);
      // 10^x truncated; x carries the rounding of a double, so a length
      // at an integer (10^log10(25)) may come out just above or just below
      // it, by the platform's long double as by libm's pow.
      const Real s = std::pow(10.0L, x);
      EXPECT_LE(run.ScaleLen[k],
                static_cast<std::int32_t>(s * (1.0L + 1e-12L)));
      EXPECT_GE(run.ScaleLen[k],
                static_cast<std::int32_t>(s * (1.0L - 1e-12L)) - 1);
    }
    EXPECT_EQ(run.FitBegin, 0u);
    EXPECT_EQ(run.FitEnd, run.LogScale.size());
  }
}

// Fewer than 5 orders: h and tau are fitted, but nothing estimates alpha.
TEST(MethodOptions, FewerThanFiveOrdersGiveNoSummary) {
  MethodOptions m;
  m.QList = {-2.0, 0.0, 2.0};
  const RunConstants run =
      analysis_test::MakeRun(analysis_test::MakeParams(1000, 20, 2), m);
  analysis::Workspace work(run);
  const analysis::SpectrumSummary s =
      analysis::AnalyseWindow(run, work, analysis_test::RandomWalk(1000, 3));
  EXPECT_TRUE(std::isnan(s.AlfaMin) && std::isnan(s.AlfaMax) &&
              std::isnan(s.AlfaWidth) && std::isnan(s.AlfaSz) &&
              std::isnan(s.FAlfaSz));
  // A walk's profile-free h(2) lies near 0.5 + 0.5 = 1 minus the range's
  // bias; enough that it was fitted at all.
  EXPECT_GT(work.HurstQ[2], 0.3);
  EXPECT_LT(work.HurstQ[2], 1.5);
  EXPECT_EQ(work.Quality.Status, analysis::QualityStatus::kOk);
}

// The series engine hands out the table as ComputeFluctuations left it,
// before any logarithm, q fastest.
TEST(MethodOptions, SeriesEngineHandsOutFq) {
  MethodOptions m = With([](MethodOptions& o) { o.QList = kOrders; });
  analysis::TableParams tables =
      analysis::TablesOf(analysis_test::MakeParams(200, 20, 1));
  tables.Method = m;
  const auto run = analysis::MakeRunConstants(tables);
  const std::vector<double> series = analysis_test::RandomWalk(600, 4);
  const auto engine = analysis_test::ReferenceEngine(run);
  std::vector<std::vector<double>> kept;
  engine->Analyse(
      analysis::WindowPlan{200, 0.0, 1.0}, analysis_test::SampleSource(series),
      [&](const analysis::WindowOutcome& w) {
        ASSERT_NE(w.Fq, nullptr);
        kept.push_back(*w.Fq);
      },
      false);
  ASSERT_EQ(kept.size(), 3u);
  analysis::Workspace work(*run);
  for (std::size_t w = 0; w < kept.size(); ++w) {
    const auto first = static_cast<std::ptrdiff_t>(200 * w);
    const std::vector<double> window(series.begin() + first,
                                     series.begin() + first + 200);
    analysis::ComputeFluctuations(*run, work, window);
    ASSERT_EQ(kept[w].size(), kOrders.size() * run->ScaleLen.size());
    EXPECT_EQ(kept[w], work.FluctTable);
    // Entry (q = 2, last scale) at k * QCount + j.
    EXPECT_EQ(kept[w][(run->ScaleLen.size() - 1) * 6 + 4],
              work.FluctTable[work.FluctTable.size() - 2]);
  }
}

}  // namespace
