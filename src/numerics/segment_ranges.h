// Ranges of detrended segments, many segments at a time: the segments of
// one length are processed side by side in vector lanes, each lane doing
// exactly the operations of the one-segment routines in the same order, so
// every range is the same double as detrending the segment alone and
// scanning it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "numerics/detrend.h"

namespace numerics {

// Segments handled side by side.
inline constexpr std::size_t kSegmentLanes = 8;

// What is taken of a detrended segment: its range, or the root mean square
// of its residuals, sqrt((r_0^2 + ... + r_(n-1)^2) / n), one running total
// in ascending order.
enum class SegmentStatistic { kRange, kRms };

// Scratch doubles the two routines below need for segments of n points.
std::size_t SegmentRangesWorkSize(std::int32_t n, std::int32_t order);

// For v = 0..count-1, the segment values[v*n .. v*n+n-1] detrended by
// LTREND_8 and ranges[v] = its largest minus its smallest value (both
// searches from the first value, replacing only on strictly greater or
// smaller values, so a NaN is never taken unless it comes first), or with
// kRms its root mean square. The values are not changed. Allocates
// nothing; n >= 2.
void LineDetrendedRanges(std::span<const double> values, std::int32_t n,
                         std::int32_t count, std::span<double> ranges,
                         std::span<double> work,
                         SegmentStatistic statistic = SegmentStatistic::kRange);

// The same with the residuals from `basis` (values minus Fit), for
// segments of basis.Points() points.
void PolynomialDetrendedRanges(
    const OrthonormalPolynomialBasis& basis, std::span<const double> values,
    std::int32_t count, std::span<double> ranges, std::span<double> work,
    SegmentStatistic statistic = SegmentStatistic::kRange);

// Segments of one length laid end to end: Count of them from the start of
// Values.
struct SegmentRun {
  std::span<const double> Values;
  std::int32_t Count = 0;
};

// The two routines above over the segments of one or two runs, numbered on
// from the first run's: ranges[0 .. total count). The runs share tiles, so
// few segments in each (those from the start and from the end of a window)
// leave fewer lanes idle than two calls would.
void LineDetrendedRanges(std::span<const SegmentRun> runs, std::int32_t n,
                         std::span<double> ranges, std::span<double> work,
                         SegmentStatistic statistic);
void PolynomialDetrendedRanges(const OrthonormalPolynomialBasis& basis,
                               std::span<const SegmentRun> runs,
                               std::span<double> ranges, std::span<double> work,
                               SegmentStatistic statistic);

}  // namespace numerics
