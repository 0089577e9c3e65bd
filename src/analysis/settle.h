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
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "analysis/params.h"

namespace analysis {

// The dialogue's limits of its counts, and the caps of the other front
// ends' grids: far beyond what a fit needs, they keep a table of orders by
// scales within reason.
inline constexpr std::int32_t kLeastTrendOrder = 1;
inline constexpr std::int32_t kMostTrendOrder = 10;
inline constexpr std::int32_t kLeastLrec = 32;
inline constexpr std::int32_t kLeastMinScale = 20;
inline constexpr std::int32_t kMostOrders = 10000;
inline constexpr std::int32_t kMostScales = 10000;
inline constexpr std::int32_t kMostSurrogates = 100000;

std::int32_t SettleTrendOrder(std::int32_t answer);  // into 1..10
std::int32_t SettleLrec(std::int32_t answer);        // at least 32
// min(max(answer, 20), lrec div 10): the cap comes after the floor, so a
// settled Lrec below 200 gives less than 20 whatever the answer.
std::int32_t SettleMinScale(std::int32_t answer, std::int32_t lrec);
std::int32_t SettleWinShift(std::int32_t answer, std::int32_t lrec);  // 1..lrec

// Answers that are taken as they are or repeated (the dialogue's own
// rules; the other front ends refuse by the settings table).
bool AcceptIncrFlag(std::int32_t answer);  // 0 or 1
bool AcceptTstep(double answer);           // greater than 0 (not NaN)

// A combination of settings refused: the setting it is reported against,
// by its name in the settings table ("q_min", "fit_min", ...), the rule it
// breaks as a phrase that follows the setting's name ("must be below
// q_max"), and the value refused, NaN when no one value is at fault.
// Others: the same refusal worded against each other setting the rule is
// between, so that a front end can name the one its user gave rather than
// one left at its default ({"q_max", "must be above q_min", -20.0}).
struct SettingBlame {
  std::string Setting;
  std::string Rule;
  double Value = std::numeric_limits<double>::quiet_NaN();
};
struct SettingProblem : SettingBlame {
  std::vector<SettingBlame> Others;
};

// Why the method options of `params`, each within its own range already,
// cannot be run together; std::nullopt when they can. Refused: QMin not
// below QMax with QCount > 1 (q_min; else q_max), a grid whose orders round
// together (q_count; else q_max, q_min), an inverted fit range (fit_min;
// else fit_max), and a fit range holding fewer than 2 distinct segment
// lengths (fit_min; else fit_max, max_scale, scale_count, min_scale).
//   QMin 2, QMax 1 -> {"q_min", "must be below q_max", 2.0,
//                      Others {{"q_max", "must be above q_min", 1.0}}}
std::optional<SettingProblem> MethodProblem(const TableParams& params);

}  // namespace analysis
