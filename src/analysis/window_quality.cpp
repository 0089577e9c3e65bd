#include "analysis/window_quality.h"

#include <cmath>

namespace analysis {

WindowMagnitude MeasureWindow(std::span<const double> values) {
  WindowMagnitude m;
  for (const double v : values) {
    if (!std::isfinite(v)) {
      m.AllFinite = false;
      continue;
    }
    const double magnitude = std::fabs(v);
    if (magnitude > m.Largest) m.Largest = magnitude;
  }
  return m;
}

SegmentFloors FloorsOf(const RunConstants& run, const WindowMagnitude& m) {
  SegmentFloors floors;
  floors.Rounding = kRoundingFloor * m.Largest;
  floors.Zero = run.Params.Method.RangeFloor * m.Largest;
  return floors;
}

WindowQuality JudgeQuality(const RunConstants& run, bool degenerate,
                           bool all_finite, const SegmentCounts& counts,
                           double min_r_squared,
                           const SpectrumSummary& summary) {
  WindowQuality quality;
  const auto total = static_cast<double>(counts.Total);
  quality.ZeroShare = static_cast<double>(counts.Zero) / total;
  quality.FloorShare = static_cast<double>(counts.Floor) / total;
  quality.MinRSquared = min_r_squared;
  const bool spans_zero =
      !run.QGrid.empty() && run.QGrid.front() <= 0.0 && run.QGrid.back() >= 0.0;
  if (degenerate) {
    quality.Status = QualityStatus::kDegenerate;
  } else if (!all_finite) {
    quality.Status = QualityStatus::kNonFiniteInput;
  } else if (counts.Floor > 0) {
    quality.Status = QualityStatus::kFlatSegments;
  } else if (spans_zero && std::isfinite(summary.FAlfaSz) &&
             summary.FAlfaSz < 1.0 - kConcavityTolerance) {
    quality.Status = QualityStatus::kNotConcave;
  }
  return quality;
}

}  // namespace analysis
