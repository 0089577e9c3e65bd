#include "analysis/run_constants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

#include "analysis/engine.h"
#include "analysis/table_size.h"
#include "analysis_test_support.h"
#include "numerics/elementary.h"

namespace {

using analysis::RunConstants;
using analysis_test::MakeParams;
using analysis_test::MakeRun;

TEST(FillQGrid, RunsFromMinusTenToTenWithoutZero) {
  RunConstants run;
  analysis::FillQGrid(run);
  EXPECT_EQ(run.QGrid.front(), -10.0);
  EXPECT_EQ(run.QGrid.back(), 10.0);
  // The two middle orders are -/+ 10/199 = 0.050251256281407...; each is
  // 10 minus a product near 10, so it carries that product's rounding.
  EXPECT_NEAR(run.QGrid[99], -0.0502512562814070, 4e-15);
  EXPECT_NEAR(run.QGrid[100], 0.0502512562814070, 4e-15);
  for (std::size_t k = 0; k < run.QGrid.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_NE(run.QGrid[k], 0.0);
    // k * 20/199 - 10 in exact arithmetic; one rounding of the product and
    // one of the difference, both at most half an ulp of 10.
    EXPECT_NEAR(run.QGrid[k], static_cast<double>(k) * 20.0 / 199.0 - 10.0,
                4e-15);
    EXPECT_NEAR(run.QGrid[k], -run.QGrid[199 - k], 4e-15);
    if (k > 0) {
      EXPECT_GT(run.QGrid[k], run.QGrid[k - 1]);
    }
  }
}

// Expected ends, mean and sum of squares from 50-digit arithmetic of the
// progression from log10 MinScale to log10 MaxScale.
struct GridCase {
  std::int32_t lrec;
  std::int32_t min_scale;
  std::int32_t order;
  std::int32_t max_scale;
  double first;
  double last;
  double mean;
  double sum_sq;
};
// clang-format off
constexpr GridCase kGridCases[] = {
  {100,  10, 3, 20,  1.0,                 1.3010299956639813, 1.1505149978319906, 1.5254967098978864},
  {1000, 50, 2, 200, 1.6989700043360187,  2.3010299956639813, 2.0,                6.1019868395915457},
  {32,   3,  1, 6,   0.47712125471966244, 0.7781512503836436, 0.6276362525516530, 1.5254967098978864},
  {1000, 20, 5, 200, 1.3010299956639813,  2.3010299956639813, 1.8010299956639812, 16.834170854271357},
};
// clang-format on

TEST(PrepareRun, ScaleGridMatchesHighPrecisionValues) {
  for (const GridCase& c : kGridCases) {
    SCOPED_TRACE(c.lrec);
    SCOPED_TRACE(c.min_scale);
    const RunConstants run = MakeRun(MakeParams(c.lrec, c.min_scale, c.order));
    EXPECT_EQ(run.MaxScale, c.max_scale);
    EXPECT_EQ(run.Params.TrendOrder, c.order);
    EXPECT_DOUBLE_EQ(run.LogScale.front(), c.first);
    EXPECT_DOUBLE_EQ(run.LogScale.back(), c.last);
    // 200 roundings of terms near 2 in the sums: a few 1e-14 at most.
    EXPECT_NEAR(run.LogScaleMean, c.mean, 1e-14);
    EXPECT_NEAR(run.LogScaleSumSq, c.sum_sq, 1e-13 * c.sum_sq);
  }
}

TEST(PrepareRun, ScaleGridIsAnArithmeticProgression) {
  for (const GridCase& c : kGridCases) {
    SCOPED_TRACE(c.lrec);
    const RunConstants run = MakeRun(MakeParams(c.lrec, c.min_scale, c.order));
    const double a = numerics::Log10(static_cast<double>(c.min_scale));
    const double b = numerics::Log10(static_cast<double>(c.max_scale));
    const double step = (b - a) / 199.0;
    for (std::size_t j = 1; j < run.LogScale.size(); ++j) {
      EXPECT_NEAR(run.LogScale[j] - run.LogScale[j - 1], step, 1e-15);
    }
    EXPECT_NEAR(run.LogScaleMean, (a + b) / 2.0, 1e-14);
    EXPECT_NEAR(run.LogScaleSumSq,
                step * step * 200.0 * (200.0 * 200.0 - 1.0) / 12.0,
                1e-13 * run.LogScaleSumSq);
  }
}

TEST(PrepareRun, OrderOneHasNoPolynomialTables) {
  const RunConstants run = MakeRun(MakeParams(1000, 20, 1));
  EXPECT_TRUE(run.DetrendBasis.empty());
}

// Expected shortest lengths from 10^log10(MinScale) in 50-digit arithmetic
// on the correctly rounded logarithm, truncated.
struct LengthCase {
  std::int32_t lrec;
  std::int32_t min_scale;
  std::int32_t first_len;
};
// clang-format off
constexpr LengthCase kLengthCases[] = {
  {300,  30, 29},  // 29.999999999999996: truncation loses one sample
  {1000, 20, 20},  // 20.000000000000004
  {1000, 50, 49},  // 49.99999999999999
  {100,  10, 10},  // exactly 10
  {32,   3,  3},
};
// clang-format on

TEST(PrepareRun, ScaleLengthsTruncateThePower) {
  for (const LengthCase& c : kLengthCases) {
    SCOPED_TRACE(c.min_scale);
    const RunConstants run = MakeRun(MakeParams(c.lrec, c.min_scale, 1));
    EXPECT_EQ(run.ScaleLen.front(), c.first_len);
    EXPECT_GE(run.ScaleLen.back(), run.MaxScale - 1);
    EXPECT_LE(run.ScaleLen.back(), run.MaxScale);
    for (std::size_t k = 1; k < run.ScaleLen.size(); ++k) {
      EXPECT_GE(run.ScaleLen[k], run.ScaleLen[k - 1]);
    }
  }
}

TEST(PrepareRun, OneDetrendingBasisPerDistinctLength) {
  for (const std::int32_t order : {2, 5, 10}) {
    SCOPED_TRACE(order);
    const RunConstants run = MakeRun(MakeParams(1000, 20, order));
    const std::set<std::int32_t> lengths(run.ScaleLen.begin(),
                                         run.ScaleLen.end());
    ASSERT_EQ(run.DetrendBasis.size(), lengths.size());
    std::set<std::int32_t> basis_points;
    for (const auto& basis : run.DetrendBasis) {
      EXPECT_EQ(basis.Order(), order);
      basis_points.insert(basis.Points());
    }
    EXPECT_EQ(basis_points, lengths);
    for (std::size_t k = 0; k < run.ScaleLen.size(); ++k) {
      const auto index = static_cast<std::size_t>(run.DetrendBasisIndex[k]);
      ASSERT_LT(index, run.DetrendBasis.size());
      EXPECT_EQ(run.DetrendBasis[index].Points(), run.ScaleLen[k]);
    }
  }
}

TEST(TableSize, RejectsCountsWhoseByteSizeOverflows) {
  EXPECT_EQ(analysis::detail::TableSize(200, 200), 40000u);
  EXPECT_EQ(analysis::detail::TableSize(11, 0), 0u);
  constexpr std::int64_t kBig = std::numeric_limits<std::int32_t>::max();
  EXPECT_THROW(analysis::detail::TableSize(kBig * kBig, 16), std::length_error);
  EXPECT_THROW(analysis::detail::TableSize(
                   std::numeric_limits<std::int64_t>::max() / 4, 1),
               std::length_error);
}

}  // namespace

namespace {

// The default options must give the described grid bit for bit, and other
// grids k*step + QMin with their own alpha spans.
TEST(MomentOrders, DefaultsAreTheDescribedGridAndOthersFollowTheOptions) {
  RunConstants described;
  analysis::FillQGrid(described);
  const std::vector<double> q = analysis::MomentOrders({});
  ASSERT_EQ(q.size(), 200u);
  for (std::size_t k = 0; k < q.size(); ++k) {
    // Independently: the double nearest to 20/199, times k, minus 10.
    EXPECT_EQ(q[k], static_cast<double>(k) * 0.10050251256281408 - 10.0) << k;
  }
  EXPECT_EQ(described.QGrid, q);
  ASSERT_EQ(described.AlfaDiffSpan.size(), 196u);
  for (const double span : described.AlfaDiffSpan) {
    EXPECT_EQ(span, 0.4020100502512563);
  }

  analysis::MethodOptions odd;
  odd.QMin = -5.0;
  odd.QMax = 5.0;
  odd.QCount = 21;  // step 0.5: q = 0 at k = 10, exactly
  RunConstants run;
  analysis::FillQGrid(run, odd);
  ASSERT_EQ(run.QGrid.size(), 21u);
  EXPECT_EQ(run.QGrid[10], 0.0);
  EXPECT_EQ(run.QGrid[20], 5.0);
  ASSERT_EQ(run.AlfaDiffSpan.size(), 17u);
  EXPECT_EQ(run.AlfaDiffSpan[0], 2.0);

  odd.QList = {-1.0, 0.0, 0.5, 2.0, 3.0, 7.0};
  analysis::FillQGrid(run, odd);
  EXPECT_EQ(run.QGrid, odd.QList);
  ASSERT_EQ(run.AlfaDiffSpan.size(), 2u);
  EXPECT_EQ(run.AlfaDiffSpan[0], 4.0);  // 3 - (-1)
  EXPECT_EQ(run.AlfaDiffSpan[1], 7.0);  // 7 - 0

  odd.QList = {2.0, 3.0};  // too few orders for any alpha estimate
  analysis::FillQGrid(run, odd);
  EXPECT_TRUE(run.AlfaDiffSpan.empty());
}

// The fit range keeps the scales whose lengths lie within it, and the
// regression constants are those of the kept grid values.
TEST(PrepareRun, FitRangeBoundsTheRegressionScales) {
  analysis::MethodOptions method;
  method.ScaleCount = 50;
  method.MaxScale = 400;
  method.FitMin = 40;
  method.FitMax = 100;
  const RunConstants run = MakeRun(MakeParams(1000, 20, 1), method);
  ASSERT_EQ(run.LogScale.size(), 50u);
  EXPECT_GE(run.ScaleLen.back(), 399);  // 10^log10(400), truncated
  EXPECT_LE(run.ScaleLen.back(), 400);
  ASSERT_LT(run.FitBegin, run.FitEnd);
  EXPECT_GE(run.ScaleLen[run.FitBegin], 40);
  EXPECT_LT(run.ScaleLen[run.FitBegin - 1], 40);
  EXPECT_LE(run.ScaleLen[run.FitEnd - 1], 100);
  EXPECT_GT(run.ScaleLen[run.FitEnd], 100);
  long double sum = 0.0L;
  for (std::size_t k = run.FitBegin; k < run.FitEnd; ++k)
    sum += run.LogScale[k];
  const long double mean =
      sum / static_cast<long double>(run.FitEnd - run.FitBegin);
  long double sum_sq = 0.0L;
  for (std::size_t k = run.FitBegin; k < run.FitEnd; ++k) {
    sum_sq += (run.LogScale[k] - mean) * (run.LogScale[k] - mean);
  }
  EXPECT_NEAR(run.LogScaleMean, static_cast<double>(mean), 1e-15);
  EXPECT_NEAR(run.LogScaleSumSq, static_cast<double>(sum_sq), 1e-14);
}

}  // namespace

namespace {

// MakeEngine refuses a run up front by this bound, so it must grow with
// every option that sizes storage: a larger grid, F_q(s) kept per window in
// flight (at least 2 per thread), surrogate workspaces.
TEST(EngineStorageBytes, GrowsWithEveryOptionThatSizesStorage) {
  const analysis::TableParams base =
      analysis::TablesOf(MakeParams(1000, 20, 2));
  const analysis::EngineChoice two{analysis::KernelKind::kVector,
                                   analysis::SchedulerKind::kPipelined, 2};
  const std::int64_t plain = analysis::EngineStorageBytes(base, two);
  struct Change {
    const char* name;
    std::function<void(analysis::TableParams&)> apply;
    std::int64_t at_least;  // bytes the change must add
  };
  // Each thread's kernel holds one table of orders by scales.
  const Change changes[] = {
      {"orders", [](analysis::TableParams& p) { p.Method.QCount = 400; },
       2 * 200 * 200 * 8},
      {"listed orders",
       [](analysis::TableParams& p) { p.Method.QList.assign(300, 1.0); },
       2 * 100 * 200 * 8},
      {"scales", [](analysis::TableParams& p) { p.Method.ScaleCount = 400; },
       2 * 200 * 200 * 8},
      {"F_q(s)", [](analysis::TableParams& p) { p.Method.KeepFq = true; },
       4 * 200 * 200 * 8},
      {"surrogates", [](analysis::TableParams& p) { p.Surrogates.Count = 99; },
       2 * (200 * 200 + 8 * 1000) * 8},
      {"max scale", [](analysis::TableParams& p) { p.Method.MaxScale = 800; },
       1},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    analysis::TableParams changed = base;
    c.apply(changed);
    EXPECT_GE(analysis::EngineStorageBytes(changed, two) - plain, c.at_least);
  }
}

}  // namespace
