// The tiles of segments against the one-segment routines: each range (and
// each root mean square) must be the very double that detrending the
// segment alone (LTREND_8, or the basis's Fit and the subtraction) and
// scanning it gives, on every
// instruction set, for segment counts that fill tiles partly, wholly and
// over several tiles, and with NaN and infinite values.
#include "numerics/segment_ranges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "numerics/detrend.h"
#include "numerics/simd_targets_support.h"

namespace {

using numerics::OrthonormalPolynomialBasis;
using numerics::SegmentStatistic;

// Largest minus smallest, both searched from the first value and replaced
// only by strictly greater (smaller) values.
double ScanRange(const std::vector<double>& r) {
  double largest = r[0];
  double smallest = r[0];
  for (const double v : r) {
    if (v > largest) largest = v;
    if (v < smallest) smallest = v;
  }
  return largest - smallest;
}

// sqrt of the running total of squares, from 0, over the point count.
double ScanRms(const std::vector<double>& r) {
  double sum = 0.0;
  for (const double v : r) sum += v * v;
  return std::sqrt(sum / static_cast<double>(r.size()));
}

double Scan(const std::vector<double>& r, SegmentStatistic statistic) {
  return statistic == SegmentStatistic::kRms ? ScanRms(r) : ScanRange(r);
}

constexpr SegmentStatistic kStatistics[] = {SegmentStatistic::kRange,
                                            SegmentStatistic::kRms};

std::vector<double> LineRangesOneByOne(const std::vector<double>& values,
                                       std::size_t n, std::size_t count,
                                       SegmentStatistic statistic) {
  std::vector<double> ranges;
  for (std::size_t v = 0; v < count; ++v) {
    std::vector<double> segment(values.begin() + static_cast<long>(v * n),
                                values.begin() + static_cast<long>(v * n + n));
    numerics::LTREND_8(segment.data(), static_cast<std::int32_t>(n));
    ranges.push_back(Scan(segment, statistic));
  }
  return ranges;
}

std::vector<double> PolynomialRangesOneByOne(
    const OrthonormalPolynomialBasis& basis, const std::vector<double>& values,
    std::size_t count, SegmentStatistic statistic) {
  const auto n = static_cast<std::size_t>(basis.Points());
  std::vector<double> ranges;
  std::vector<double> fit(n);
  for (std::size_t v = 0; v < count; ++v) {
    std::vector<double> segment(values.begin() + static_cast<long>(v * n),
                                values.begin() + static_cast<long>(v * n + n));
    basis.Fit(segment, fit);
    for (std::size_t i = 0; i < n; ++i) segment[i] = segment[i] - fit[i];
    ranges.push_back(Scan(segment, statistic));
  }
  return ranges;
}

// A random walk with a few special values at chosen places.
std::vector<double> Values(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<double> values(size);
  double x = 0.0;
  for (double& v : values) {
    x += static_cast<double>(random() >> 11) * 0x1p-53 - 0.5;
    v = x;
  }
  return values;
}

void ExpectSameBits(const std::vector<double>& got,
                    const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t v = 0; v < want.size(); ++v) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[v]),
              std::bit_cast<std::uint64_t>(want[v]))
        << "segment " << v << ": " << got[v] << " vs " << want[v];
  }
}

struct Case {
  std::size_t n;      // points per segment
  std::size_t count;  // segments
};
// Counts below, at and past one tile of kSegmentLanes, and several tiles;
// lengths with and without a partial block of the in-register transpose.
// clang-format off
const Case kCases[] = {
  {2, 1}, {3, 7}, {5, 8}, {7, 9}, {20, 16}, {21, 17}, {33, 3}, {64, 25},
  {199, 5},
};
// clang-format on

TEST(SegmentRanges, LineTilesMatchOneSegmentAtATime) {
  for (const SegmentStatistic statistic : kStatistics) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(testing::Message()
                   << c.n << " points x " << c.count << ", statistic "
                   << static_cast<int>(statistic));
      std::vector<double> values = Values(c.n * c.count, c.n + c.count);
      if (c.count > 2) {
        values[c.n + 1] = std::numeric_limits<double>::quiet_NaN();  // seg. 1
        values[2 * c.n] = std::numeric_limits<double>::infinity();   // seg. 2
      }
      const std::vector<double> want =
          LineRangesOneByOne(values, c.n, c.count, statistic);
      simd_test::ForEachSimdTarget([&] {
        std::vector<double> work(
            numerics::SegmentRangesWorkSize(static_cast<std::int32_t>(c.n), 1));
        std::vector<double> got(c.count);
        numerics::LineDetrendedRanges(values, static_cast<std::int32_t>(c.n),
                                      static_cast<std::int32_t>(c.count), got,
                                      work, statistic);
        ExpectSameBits(got, want);
      });
    }
  }
}

TEST(SegmentRanges, PolynomialTilesMatchOneSegmentAtATime) {
  for (const auto& [order, statistic] :
       {std::pair{2, SegmentStatistic::kRange},
        std::pair{3, SegmentStatistic::kRange},
        std::pair{5, SegmentStatistic::kRange},
        std::pair{10, SegmentStatistic::kRange},
        std::pair{2, SegmentStatistic::kRms},
        std::pair{4, SegmentStatistic::kRms},
        std::pair{10, SegmentStatistic::kRms}}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(testing::Message()
                   << "order " << order << ", " << c.n << " points x "
                   << c.count << ", statistic " << static_cast<int>(statistic));
      // Few points: the fit interpolates, every residual is 0 or NaN.
      const OrthonormalPolynomialBasis basis(static_cast<std::int32_t>(c.n),
                                             order);
      std::vector<double> values = Values(c.n * c.count, c.n * 31 + c.count);
      if (c.count > 2) {
        values[c.n] = std::numeric_limits<double>::quiet_NaN();  // first point
        // Last point of segment 2: where the fit interpolates, its residual
        // alone is NaN, which a strict scan never takes.
        values[3 * c.n - 1] = -std::numeric_limits<double>::infinity();
      }
      const std::vector<double> want =
          PolynomialRangesOneByOne(basis, values, c.count, statistic);
      simd_test::ForEachSimdTarget([&] {
        std::vector<double> work(numerics::SegmentRangesWorkSize(
            static_cast<std::int32_t>(c.n), order));
        std::vector<double> got(c.count);
        numerics::PolynomialDetrendedRanges(basis, values,
                                            static_cast<std::int32_t>(c.count),
                                            got, work, statistic);
        ExpectSameBits(got, want);
      });
    }
  }
}

TEST(SegmentRanges, TwoRunsShareTilesAndKeepEachSegment) {
  // The segments split into two runs held apart (a window's start and end
  // segments): the same ranges, in order, as one run.
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.n << " points x " << c.count);
    const auto n = static_cast<std::int32_t>(c.n);
    const std::vector<double> values = Values(c.n * c.count, c.n + 7);
    const std::size_t split = c.count / 2;
    const auto at = static_cast<std::ptrdiff_t>(split * c.n);
    const std::vector<double> later(values.begin() + at, values.end());
    // Past its own segments the first run holds other values, which a
    // tile that reads the second run's segments from the first would take.
    std::vector<double> earlier = values;
    std::fill(earlier.begin() + at, earlier.end(), 1e300);
    const numerics::SegmentRun runs[2] = {
        {earlier, static_cast<std::int32_t>(split)},
        {later, static_cast<std::int32_t>(c.count - split)}};
    const OrthonormalPolynomialBasis basis(n, 2);
    const std::vector<double> line =
        LineRangesOneByOne(values, c.n, c.count, SegmentStatistic::kRms);
    const std::vector<double> quadratic = PolynomialRangesOneByOne(
        basis, values, c.count, SegmentStatistic::kRange);
    simd_test::ForEachSimdTarget([&] {
      std::vector<double> work(numerics::SegmentRangesWorkSize(n, 2));
      std::vector<double> got(c.count);
      numerics::LineDetrendedRanges(runs, n, got, work, SegmentStatistic::kRms);
      ExpectSameBits(got, line);
      numerics::PolynomialDetrendedRanges(basis, runs, got, work,
                                          SegmentStatistic::kRange);
      ExpectSameBits(got, quadratic);
    });
  }
}

}  // namespace
