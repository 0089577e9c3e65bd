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

// What the dialogue asks to have done once the answers that the analysis'
// tables depend on are settled (right after the minimum scale, before the
// window shift is asked): build the tables and obtain the storage.
struct DialogueHooks {
  virtual ~DialogueHooks() = default;
  virtual void TablesSettled(const analysis::AnalysisParams& params) = 0;
};

// Asks the six questions in order, repeating or clamping each answer as the
// dialogue rules say, and returns the settled answers.
analysis::AnalysisParams AskQuestions(TextOut& console_out, TextIn& console_in,
                                      DialogueHooks& hooks);

}  // namespace driver
