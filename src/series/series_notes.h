// Warnings about results that mean little, and notes on how a series was
// read, for the messages of the front ends. The texts carry no program
// name; each front end puts its own in front.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/results.h"
#include "series/series_pipeline.h"

namespace series {

// Below this window length the larger scales hold few segments, and at
// order 2 and above many windows come out degenerate.
inline constexpr std::int32_t kShortLrec = 256;

// Whether `r` carries the fixed result of a degenerate window:
// 0.5, 0.5, 0, 0.5, 1 (a window whose fluctuation function is not positive
// at every scale).
bool IsDegenerate(const analysis::WindowResult& r);

// "Lrec 32 is below 256: ..." for a short window; std::nullopt otherwise.
std::optional<std::string> ShortWindowWarning(std::int32_t lrec);

// "no window: 999 samples, fewer than Lrec 1000"
std::string NoWindowWarning(std::int64_t samples, std::int32_t lrec);

// "all 41 windows are degenerate (0.5, 0.5, 0, 0.5, 1: ...)"
std::string AllDegenerateWarning(std::int64_t windows);

struct SeriesNote {
  bool Warning = true;  // a result that may mislead; else for information
  std::string Text;
};

// What to tell about series `name` after `report` (one that was neither
// skipped nor failed), in this order: warnings about its input, the record
// that ended it early, the bad samples skipped, no window at all, every
// window degenerate.
//   {true, "nan.txt:7001: not a number: \"NaN\"; the series ends there,
//           after 7000 samples"}
std::vector<SeriesNote> SeriesNotes(std::string_view name,
                                    const SeriesReport& report,
                                    std::int32_t lrec);

}  // namespace series
