#include "numerics/detrend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "numerics/uniortsmoothm_reference.h"

namespace numerics {
namespace {

using reference::BuildPowerTable;
using reference::UNIORTSMOOTHM;

// Uniform values in [-1, 1) from a fixed seed, formed from the raw 64-bit
// draws so the data do not depend on the standard library's distributions.
std::vector<double> RandomValues(std::mt19937_64& engine, std::size_t n) {
  std::vector<double> values(n);
  for (double& v : values) {
    v = static_cast<double>(engine() >> 11) * 0x1p-52 - 1.0;
  }
  return values;
}

// Point i (counted from 0) of n on the centred, scaled index in [-1, 1].
long double CentredIndex(std::size_t i, std::size_t n) {
  if (n == 1) return 0.0L;
  return (2.0L * static_cast<long double>(i) - static_cast<long double>(n) +
          1.0L) /
         (static_cast<long double>(n) - 1.0L);
}

// Independent least-squares polynomial fit of degree `order`: Householder QR
// in long double of the Chebyshev-Vandermonde matrix on the centred scaled
// index (a basis that stays well conditioned on equally spaced points), then
// the projection Q Q^T y. Shares no code or basis with the unit under test.
std::vector<long double> LongDoubleFit(std::span<const double> y, int order) {
  const std::size_t n = y.size();
  std::vector<long double> b(y.begin(), y.end());
  const auto cols = static_cast<std::size_t>(order) + 1;
  if (n <= cols) return b;

  std::vector<long double> a(n * cols);  // column c at a[c*n]
  for (std::size_t i = 0; i < n; ++i) {
    const long double x = CentredIndex(i, n);
    a[i] = 1.0L;
    if (cols > 1) a[n + i] = x;
    for (std::size_t c = 2; c < cols; ++c) {
      a[c * n + i] = 2.0L * x * a[(c - 1) * n + i] - a[(c - 2) * n + i];
    }
  }

  std::vector<std::vector<long double>> reflectors;
  auto reflect = [&](const std::vector<long double>& v, std::size_t j,
                     long double* column) {
    long double vv = 0.0L, vc = 0.0L;
    for (std::size_t i = j; i < n; ++i) {
      vv += v[i - j] * v[i - j];
      vc += v[i - j] * column[i];
    }
    const long double s = 2.0L * vc / vv;
    for (std::size_t i = j; i < n; ++i) column[i] -= s * v[i - j];
  };
  for (std::size_t j = 0; j < cols; ++j) {
    long double norm = 0.0L;
    for (std::size_t i = j; i < n; ++i) norm += a[j * n + i] * a[j * n + i];
    norm = std::sqrt(norm);
    const long double alpha = a[j * n + j] > 0.0L ? -norm : norm;
    std::vector<long double> v(
        a.begin() + static_cast<std::ptrdiff_t>(j * n + j),
        a.begin() + static_cast<std::ptrdiff_t>(j * n + n));
    v[0] -= alpha;
    for (std::size_t c = j; c < cols; ++c) reflect(v, j, &a[c * n]);
    reflect(v, j, b.data());
    reflectors.push_back(std::move(v));
  }
  std::fill(b.begin() + static_cast<std::ptrdiff_t>(cols), b.end(), 0.0L);
  for (std::size_t j = cols; j-- > 0;) reflect(reflectors[j], j, b.data());
  return b;
}

// Largest |sum_i r(i) x(i)^j| / (|y| |x^j|) over j = 0..order, in long double
// on the centred scaled index: the cosine-like size of the component of the
// residual r = y - fit along each power, relative to the data.
long double ResidualAlongPowers(std::span<const double> y,
                                std::span<const double> fit, int order) {
  const std::size_t n = y.size();
  long double y_norm = 0.0L;
  for (double v : y) y_norm += static_cast<long double>(v) * v;
  y_norm = std::sqrt(y_norm);
  long double worst = 0.0L;
  for (int j = 0; j <= order; ++j) {
    long double along = 0.0L, power_norm = 0.0L;
    for (std::size_t i = 0; i < n; ++i) {
      const long double p = std::pow(CentredIndex(i, n), j);
      along += (static_cast<long double>(y[i]) - fit[i]) * p;
      power_norm += p * p;
    }
    worst =
        std::max(worst, std::fabs(along) / (y_norm * std::sqrt(power_norm)));
  }
  return worst;
}

std::vector<double> NewFit(std::span<const double> y, int order) {
  const OrthonormalPolynomialBasis basis(static_cast<std::int32_t>(y.size()),
                                         order);
  std::vector<double> fit(y.size());
  basis.Fit(y, fit);
  return fit;
}

std::vector<double> ReferenceFit(std::span<const double> y, int order,
                                 const std::vector<double>& table) {
  std::vector<double> fit(y.size());
  UNIORTSMOOTHM(static_cast<std::int32_t>(y.size()), order, y.data(),
                table.data(), fit.data());
  return fit;
}

template <typename A, typename B>
long double MaxDifference(const A& a, const B& b) {
  long double worst = 0.0L;
  for (std::size_t i = 0; i < a.size(); ++i) {
    worst = std::max(worst, std::fabs(static_cast<long double>(a[i]) -
                                      static_cast<long double>(b[i])));
  }
  return worst;
}

// ---------------------------------------------------------------- LTREND_8

struct LineCase {
  std::vector<double> values;
  std::vector<double> residuals;  // by hand
};

TEST(LTREND_8, RemovesTheLeastSquaresLine) {
  const LineCase cases[] = {
      {{1, 2, 4}, {1.0 / 6, -1.0 / 3, 1.0 / 6}},  // line -2/3 + 3i/2 (i from 1)
      {{5, 7, 9, 11}, {0, 0, 0, 0}},              // exactly a line
      {{-3e5, -3e5 + 0.25, -3e5 + 0.5, -3e5 + 0.75, -3e5 + 1.0},
       {0, 0, 0, 0, 0}},  // line far from zero
      {{3, -8}, {0, 0}},  // two points are a line
      {{0, 0, 1, 0, 0}, {-0.2, -0.2, 0.8, -0.2, -0.2}},  // line is 1/5
      {{1, -1, 1, -1}, {0.4, -1.2, 1.2, -0.4}},  // line 1 - 0.4i (i from 1)
  };
  for (const LineCase& c : cases) {
    std::vector<double> values = c.values;
    LTREND_8(values.data(), static_cast<std::int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
      SCOPED_TRACE(::testing::Message() << "n=" << values.size() << " i=" << i);
      // A few rounding steps on values of size up to the largest |y|.
      double scale = 0.0;
      for (double v : c.values) scale = std::max(scale, std::fabs(v));
      EXPECT_NEAR(values[i], c.residuals[i], 16 * 0x1p-52 * scale);
    }
  }
}

TEST(LTREND_8, NonPositiveCountLeavesValuesUntouched) {
  for (std::int32_t n : {0, -1, -7}) {
    std::vector<double> values = {1.5, -2.0, std::nan(""), 4.0};
    const std::vector<double> before = values;
    LTREND_8(values.data(), n);
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(values[i]),
                std::bit_cast<std::uint64_t>(before[i]));
    }
  }
}

TEST(LTREND_8, SingleValueBecomesNaN) {
  double value = 3.0;
  LTREND_8(&value, 1);
  EXPECT_TRUE(std::isnan(value));
}

// Residuals from the least-squares line have zero sum and zero moment about
// the index, and agree with an independent long-double fit.
TEST(LTREND_8, MatchesLongDoubleLineFitOnRandomData) {
  std::mt19937_64 engine(20240611);
  for (std::size_t n : {2u, 3u, 7u, 20u, 199u, 1000u, 4000u}) {
    SCOPED_TRACE(n);
    const std::vector<double> y = RandomValues(engine, n);
    std::vector<double> residual = y;
    LTREND_8(residual.data(), static_cast<std::int32_t>(n));

    long double sum = 0.0L, moment = 0.0L, index_norm = 0.0L;
    for (std::size_t i = 0; i < n; ++i) {
      const long double index = static_cast<long double>(i + 1);
      sum += residual[i];
      moment += index * residual[i];
      index_norm += index * index;
    }
    const long double root_n = std::sqrt(static_cast<long double>(n));
    // Each residual is off by a few roundings of unit-size terms.
    EXPECT_LE(std::fabs(sum) / root_n, 1e-14L);
    EXPECT_LE(std::fabs(moment) / std::sqrt(index_norm), 1e-14L);

    const std::vector<long double> line = LongDoubleFit(y, 1);
    std::vector<long double> expected(n);
    for (std::size_t i = 0; i < n; ++i) expected[i] = y[i] - line[i];
    EXPECT_LE(MaxDifference(residual, expected), 1e-14L);
  }
}

// ------------------------------------------- reference smoother and basis

struct SmoothCase {
  int max_scale;  // power table size; the fit uses its first n points
  int order;
  std::vector<double> y;
  std::vector<double> fit;  // by hand
};

// clang-format off
const SmoothCase kSmoothCases[] = {
  {5,  2, {0, 1, 4, 9, 16}, {0, 1, 4, 9, 16}},  // parabola in the index
  {5,  2, {0, 0, 1, 0, 0},
          {-3.0 / 35, 12.0 / 35, 17.0 / 35, 12.0 / 35, -3.0 / 35}},
  {5,  2, {1, 0, 0, 0, 0},
          {31.0 / 35, 9.0 / 35, -3.0 / 35, -1.0 / 7, 3.0 / 35}},
  {20, 2, {1, 0, 0, 0, 0},                      // first 5 of 20 points
          {31.0 / 35, 9.0 / 35, -3.0 / 35, -1.0 / 7, 3.0 / 35}},
  {5,  2, {2, -1, 5}, {2, -1, 5}},              // n = m+1 interpolates
  {5,  1, {1, 2, 4}, {5.0 / 6, 7.0 / 3, 23.0 / 6}},
};
// clang-format on

TEST(UniortsmoothmReference, ReproducesHandFits) {
  for (const SmoothCase& c : kSmoothCases) {
    SCOPED_TRACE(::testing::Message() << "MaxScale=" << c.max_scale << " m="
                                      << c.order << " n=" << c.y.size());
    const std::vector<double> table = BuildPowerTable(c.max_scale, c.order);
    const std::vector<double> table_before = table;
    const std::vector<double> y_before = c.y;
    std::vector<double> fit(c.y.size() + 2, 99.0);
    UNIORTSMOOTHM(static_cast<std::int32_t>(c.y.size()), c.order, c.y.data(),
                  table.data(), fit.data());
    for (std::size_t i = 0; i < c.y.size(); ++i) {
      EXPECT_NEAR(fit[i], c.fit[i], 1e-12);
    }
    // Data and basis read only; nothing written beyond entry n.
    EXPECT_EQ(c.y, y_before);
    EXPECT_EQ(table, table_before);
    EXPECT_EQ(fit[c.y.size()], 99.0);
    EXPECT_EQ(fit[c.y.size() + 1], 99.0);
  }
}

TEST(UniortsmoothmReference, OrderZeroWithRowOfOnesGivesTheMean) {
  const std::vector<double> ones(4, 1.0);
  const std::vector<double> y = {1, 2, 3, 10};
  std::vector<double> fit(4);
  UNIORTSMOOTHM(4, 0, y.data(), ones.data(), fit.data());
  for (double v : fit) EXPECT_NEAR(v, 4.0, 1e-15);
}

TEST(UniortsmoothmReference, PowerTableHasCentredPowers) {
  // MaxScale 20, order 3: columns 1 and 20 from t = -1/2 and t = +1/2.
  const std::vector<double> table = BuildPowerTable(20, 3);
  const std::vector<double> first(table.begin(), table.begin() + 4);
  const std::vector<double> last(table.end() - 4, table.end());
  EXPECT_EQ(first, (std::vector<double>{1, -0.5, 0.25, -0.125}));
  EXPECT_EQ(last, (std::vector<double>{1, 0.5, 0.25, 0.125}));
  // An odd MaxScale has the column (1, 0, 0, ...) at its middle point.
  const std::vector<double> odd = BuildPowerTable(7, 2);
  EXPECT_EQ(std::vector<double>(odd.begin() + 9, odd.begin() + 12),
            (std::vector<double>{1, 0, 0}));
}

TEST(OrthonormalPolynomialBasis, ReproducesHandFits) {
  for (const SmoothCase& c : kSmoothCases) {
    SCOPED_TRACE(::testing::Message()
                 << "m=" << c.order << " n=" << c.y.size());
    const OrthonormalPolynomialBasis basis(
        static_cast<std::int32_t>(c.y.size()), c.order);
    std::vector<double> fit(c.y.size() + 2, 99.0);
    basis.Fit(c.y, fit);
    for (std::size_t i = 0; i < c.y.size(); ++i) {
      EXPECT_NEAR(fit[i], c.fit[i], 1e-14);
    }
    EXPECT_EQ(fit[c.y.size()], 99.0);
    EXPECT_EQ(fit[c.y.size() + 1], 99.0);
  }
  const std::vector<double> y = {1, 2, 3, 10};
  std::vector<double> fit(4);
  OrthonormalPolynomialBasis(4, 0).Fit(y, fit);
  for (double v : fit) EXPECT_NEAR(v, 4.0, 1e-15);
}

// With no more points than coefficients the polynomial interpolates, and the
// residual the caller forms is exactly zero, whatever the values.
TEST(OrthonormalPolynomialBasis, FewPointsInterpolateExactly) {
  std::mt19937_64 engine(7);
  for (int order = 0; order <= 10; ++order) {
    for (int n = 0; n <= order + 1; ++n) {
      SCOPED_TRACE(::testing::Message() << "m=" << order << " n=" << n);
      std::vector<double> y = RandomValues(engine, static_cast<std::size_t>(n));
      for (double& v : y) v *= 1e6;
      const std::vector<double> fit = NewFit(y, order);
      for (std::size_t i = 0; i < y.size(); ++i) EXPECT_EQ(y[i] - fit[i], 0.0);
    }
  }
}

// --------------------------------- new basis against the reference smoother

// Where the power table is well conditioned over the points in use the
// reference is the least-squares fit to within its own rounding, which grows
// as the rows of the table, scaled to 200 points, become nearly dependent
// over the first n; the new fit stays within 1e-15 of a long-double fit
// throughout, so the gap measures the reference's error. Largest gaps seen
// on unit data: 2.6e-13 for order 2 and 5.1e-10 for order 3 (both near
// n = 20). The tolerances allow ten times that and still fail for a fit of
// the wrong degree or a lost basis vector (gaps of order 0.1).
TEST(OrthonormalPolynomialBasis, AgreesWithReferenceOnShortSegments) {
  struct Tolerance {
    int order;
    long double gap;
  };
  std::mt19937_64 engine(12345);
  for (const Tolerance t : {Tolerance{2, 3e-12L}, Tolerance{3, 5e-9L}}) {
    const std::vector<double> table = BuildPowerTable(200, t.order);
    for (std::size_t n = 20; n <= 200; ++n) {
      SCOPED_TRACE(::testing::Message() << "m=" << t.order << " n=" << n);
      const std::vector<double> y = RandomValues(engine, n);
      EXPECT_LE(
          MaxDifference(NewFit(y, t.order), ReferenceFit(y, t.order, table)),
          t.gap);
    }
  }
}

// Over all MaxScale points the table's rows are well separated and the
// reference is accurate to rounding amplified by the conditioning of the
// powers: gaps seen 3e-15 up to order 6, then 4e-14, 7e-14, 7.9e-13 and
// 1.0e-11 for orders 7 to 10 (all of it the reference's own error).
TEST(OrthonormalPolynomialBasis, AgreesWithReferenceOnFullScale) {
  struct Tolerance {
    int order;
    long double gap;
  };
  // clang-format off
  constexpr Tolerance kTolerances[] = {
    {2, 3e-14L}, {3, 3e-14L}, {4, 3e-14L}, {5, 3e-14L}, {6, 3e-14L},
    {7, 4e-13L}, {8, 7e-13L}, {9, 8e-12L}, {10, 1e-10L},
  };
  // clang-format on
  std::mt19937_64 engine(54321);
  for (const Tolerance& t : kTolerances) {
    SCOPED_TRACE(t.order);
    const std::vector<double> table = BuildPowerTable(200, t.order);
    const std::vector<double> y = RandomValues(engine, 200);
    EXPECT_LE(
        MaxDifference(NewFit(y, t.order), ReferenceFit(y, t.order, table)),
        t.gap);
  }
}

// Order 6 on the first 20 of 200 points: the reference loses orthogonality
// and its residual keeps large components along the powers it should have
// removed (seen: 5.3e-3 relative, fit off the least-squares fit by 0.081);
// the new residual is orthogonal to them to rounding (seen: 4e-17).
TEST(OrthonormalPolynomialBasis, StaysLeastSquaresWhereReferenceFails) {
  std::mt19937_64 engine(606);
  const std::vector<double> table = BuildPowerTable(200, 6);
  const std::vector<double> y = RandomValues(engine, 20);
  const std::vector<double> fit = NewFit(y, 6);
  const std::vector<double> reference = ReferenceFit(y, 6, table);
  EXPECT_LE(ResidualAlongPowers(y, fit, 6), 2e-15L);
  EXPECT_GE(ResidualAlongPowers(y, reference, 6), 1e-3L);
  EXPECT_LE(MaxDifference(fit, LongDoubleFit(y, 6)), 1e-14L);
  EXPECT_GE(MaxDifference(reference, LongDoubleFit(y, 6)), 1e-2L);
}

// ----------------------------------------- new basis against exact fits

// A polynomial of the fitted degree, with random coefficients of unit size
// on the centred index (values up to order+1 in size), detrends to nothing:
// seen 7.5e-15 at most, a few roundings of values of size 10.
TEST(OrthonormalPolynomialBasis, PolynomialOfFittedDegreeDetrendsToZero) {
  std::mt19937_64 engine(31337);
  for (int order = 1; order <= 10; ++order) {
    for (std::size_t n : {static_cast<std::size_t>(order) + 2, std::size_t{20},
                          std::size_t{200}, std::size_t{4000}}) {
      SCOPED_TRACE(::testing::Message() << "m=" << order << " n=" << n);
      const std::vector<double> c =
          RandomValues(engine, static_cast<std::size_t>(order) + 1);
      std::vector<double> y(n);
      for (std::size_t i = 0; i < n; ++i) {
        long double value = 0.0L;
        for (int j = order; j >= 0; --j) {
          value = value * CentredIndex(i, n) + c[static_cast<std::size_t>(j)];
        }
        y[i] = static_cast<double>(value);
      }
      const std::vector<double> fit = NewFit(y, order);
      long double worst = 0.0L;
      for (std::size_t i = 0; i < n; ++i) {
        worst =
            std::max(worst, std::fabs(static_cast<long double>(y[i]) - fit[i]));
      }
      EXPECT_LE(worst, 1e-13L);
    }
  }
}

// Adding a polynomial of degree <= m to the data leaves the residual
// unchanged up to the rounding of the sum itself.
TEST(OrthonormalPolynomialBasis, AddedTrendDoesNotChangeResidual) {
  std::mt19937_64 engine(4711);
  for (int order = 1; order <= 10; ++order) {
    for (std::size_t n : {static_cast<std::size_t>(order) + 2, std::size_t{37},
                          std::size_t{500}}) {
      SCOPED_TRACE(::testing::Message() << "m=" << order << " n=" << n);
      const std::vector<double> y = RandomValues(engine, n);
      const std::vector<double> c =
          RandomValues(engine, static_cast<std::size_t>(order) + 1);
      std::vector<double> shifted = y;
      for (std::size_t i = 0; i < n; ++i) {
        long double trend = 0.0L;
        for (int j = order; j >= 0; --j) {
          trend = trend * CentredIndex(i, n) +
                  10.0L * c[static_cast<std::size_t>(j)];
        }
        shifted[i] = static_cast<double>(y[i] + trend);
      }
      const std::vector<double> fit = NewFit(y, order);
      const std::vector<double> shifted_fit = NewFit(shifted, order);
      long double worst = 0.0L;
      for (std::size_t i = 0; i < n; ++i) {
        worst = std::max(
            worst,
            std::fabs((static_cast<long double>(y[i]) - fit[i]) -
                      (static_cast<long double>(shifted[i]) - shifted_fit[i])));
      }
      // The trend reaches 10*(m+1) in size and rounding y + trend alone
      // moves a value by up to 7e-15; seen 3.2e-14 at most.
      EXPECT_LE(worst, 1e-12L);
    }
  }
}

// The fit equals the long-double least-squares fit to rounding for every
// order and for lengths from the shortest non-interpolating one to 4000.
// Seen: fits within 7.7e-16 of the long-double fit and residual components
// along the powers up to 2.1e-16; the tolerances allow about ten times that
// (a few dozen roundings of unit-size terms).
TEST(OrthonormalPolynomialBasis, MatchesLongDoubleLeastSquares) {
  std::mt19937_64 engine(2718281828);
  for (int order = 1; order <= 10; ++order) {
    for (std::size_t n : {static_cast<std::size_t>(order) + 2, std::size_t{11},
                          std::size_t{20}, std::size_t{50}, std::size_t{200},
                          std::size_t{1000}, std::size_t{4000}}) {
      SCOPED_TRACE(::testing::Message() << "m=" << order << " n=" << n);
      const std::vector<double> y = RandomValues(engine, n);
      const std::vector<double> fit = NewFit(y, order);
      EXPECT_LE(MaxDifference(fit, LongDoubleFit(y, order)), 1e-14L);
      EXPECT_LE(ResidualAlongPowers(y, fit, order), 2e-15L);
    }
  }
}

}  // namespace
}  // namespace numerics
