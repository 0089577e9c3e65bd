// How answers are settled, the one place every front end takes them from:
// the dialogue clamps or repeats its questions by these rules, and the batch
// tool, the library and the Python module settle their settings the same
// way.
//   SettleTrendOrder(0) -> 1, SettleTrendOrder(11) -> 10
//   SettleLrec(10) -> 32
//   SettleMinScale(5, 1000) -> 20, SettleMinScale(50, 100) -> 10
//   SettleWinShift(0, 100) -> 1, SettleWinShift(250, 100) -> 100
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analysis/params.h"

namespace analysis {

std::int32_t SettleTrendOrder(std::int32_t answer);  // into 1..10
std::int32_t SettleLrec(std::int32_t answer);        // at least 32
// min(max(answer, 20), lrec div 10): the cap comes after the floor, so a
// settled Lrec below 200 gives less than 20 whatever the answer.
std::int32_t SettleMinScale(std::int32_t answer, std::int32_t lrec);
std::int32_t SettleWinShift(std::int32_t answer, std::int32_t lrec);  // 1..lrec

// Answers that are taken as they are or refused (the dialogue repeats its
// question; the other front ends report an error).
bool AcceptIncrFlag(std::int32_t answer);  // 0 or 1
bool AcceptTstep(double answer);           // greater than 0 (not NaN)

// The time axis of the front ends that take numbers from flags or code
// rather than from the dialogue's reader (which reads no infinity or NaN):
// a finite start and a finite positive step, so that no time mark is
// Infinity or NaN.
bool AcceptTimeAxis(double tini, double tstep);

// A setting refused: which one, by its name in the settings table (the
// Python keyword: "q", "max_scale", "fit_min", ...), and why, as one
// sentence for the user.
struct SettingProblem {
  std::string Setting;
  std::string Text;
};

// Why the method and surrogate options of `params` (whose Lrec, MinScale and
// TrendOrder are already settled) cannot be run; std::nullopt when they
// can. Refused: no moment order (QCount < 1
// with an empty QList), a non-finite order, an explicit list that is not
// strictly ascending, QMin >= QMax with QCount > 1, a QCount above 100000,
// a MaxScale beyond Lrec or not above MinScale, a ScaleCount below 2 or
// above 100000, a negative or inverted fit range, a fit range holding fewer
// than 2 distinct segment lengths, a negative or non-finite RangeFloor, and
// a negative surrogate count.
//   QCount 0 -> {"q_count", "the number of moment orders must be at least 1"}
std::optional<SettingProblem> MethodProblem(const TableParams& params);

}  // namespace analysis
