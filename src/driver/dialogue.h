// The console dialogue that opens a run: the start-up text and banner, the
// file "list" with the series names, and the six questions whose answers
// become AnalysisParams.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analysis/params.h"
#include "driver/text_streams.h"

namespace driver {

inline constexpr int kSeriesNameWidth = 256;

// Writes the start-up text, the banner and the separator, then waits for
// one console record (Enter).
void WriteGreeting(TextOut& console_out, TextIn& console_in);

// Writes the two banner lines of 70 characters.
void AU(TextOut& console_out);

// Opens "list" in `run_dir`, counts its records, reports
// "Number of signals=" and returns the names, each exactly 256 characters,
// blank-padded. Returns std::nullopt when "list" cannot be opened.
std::optional<std::vector<std::string>> ReadSeriesList(
    const std::filesystem::path& run_dir, TextOut& console_out);

// Writes the missing-"list" messages, waits for one console record and
// writes the stop line.
void ReportMissingList(TextOut& console_out, TextIn& console_in);

// What the dialogue asks to have done at its two fixed points.
struct DialogueHooks {
  virtual ~DialogueHooks() = default;
  // Right after the polynomial order is settled.
  virtual void OrderSettled(const analysis::AnalysisParams& params) = 0;
  // Right after the minimum scale is settled.
  virtual void MinScaleSettled(const analysis::AnalysisParams& params) = 0;
};

// How the answers to questions 2 to 5 are clamped, and which answers to
// questions 1 and 6 are accepted (any other makes its question repeat).
// Front ends that take the values elsewhere settle them the same way.
//   SettleTrendOrder(0) -> 1, SettleTrendOrder(11) -> 10
//   SettleLrec(10) -> 32
//   SettleMinScale(5, 1000) -> 20, SettleMinScale(50, 100) -> 10
//   SettleWinShift(0, 100) -> 1, SettleWinShift(250, 100) -> 100
std::int32_t SettleTrendOrder(std::int32_t answer);  // into 1..10
std::int32_t SettleLrec(std::int32_t answer);        // at least 32
// min(max(answer, 20), lrec div 10): the cap comes after the floor, so a
// settled Lrec below 200 gives less than 20 whatever the answer.
std::int32_t SettleMinScale(std::int32_t answer, std::int32_t lrec);
std::int32_t SettleWinShift(std::int32_t answer, std::int32_t lrec);  // 1..lrec
bool AcceptIncrFlag(std::int32_t answer);                             // 0 or 1
bool AcceptTstep(double answer);  // greater than 0 (not NaN)

// Asks the six questions in order, repeating or clamping each answer as the
// dialogue rules say, and returns the settled answers.
analysis::AnalysisParams AskQuestions(TextOut& console_out, TextIn& console_in,
                                      DialogueHooks& hooks);

}  // namespace driver
