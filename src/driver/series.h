// One series from name to result file: opening the series and its result
// file, the console echo, the moving-window analysis fed sample by sample,
// one result line per window, closing both files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/moving_window.h"
#include "analysis/run_constants.h"
#include "driver/dialogue.h"
#include "driver/text_streams.h"

namespace driver {

// Runs the analysis of one series: pulls samples, reports progress, emits
// window results. The reference engine and the fast engine both fit here.
class SeriesAnalyser {
 public:
  virtual ~SeriesAnalyser() = default;
  virtual void Analyse(
      const std::function<std::optional<double>()>& next_sample,
      const std::function<void(std::int64_t)>& on_progress,
      const std::function<void(const analysis::WindowResult&)>& emit) = 0;
};

// Everything ProcessSeries needs besides the series name.
struct SeriesContext {
  std::filesystem::path RunDir;  // the current directory of the run
  TextOut& ConsoleOut;
  TextIn& ConsoleIn;
  std::vector<std::string> Args;  // command-line arguments for blank names
  std::size_t ArgsUsed = 0;
  SeriesAnalyser& Analyser;
};

// Leading blanks of `entry` moved to its end; returns the trimmed length L
// (the position of the last non-blank character, 0 for an all-blank entry).
std::size_t LeftAdjust(std::string& entry);

// RunDir + "/F(Alfa)/F(Alfa)_" + name + ".dat", with no doubled separator
// after a root RunDir.
std::string ResultPath(const std::filesystem::path& run_dir,
                       std::string_view name);

// Pulls one sample per record: the first value of the next record that
// holds one. The end of the file, an unreadable record, and a record that
// starts with a null value or a slash all end the series (std::nullopt).
std::optional<double> ReadSample(TextIn& series);

// The result file of series `name`, relative to the results folder:
// "F(Alfa)_" + name + suffix; std::nullopt when that path has a ".."
// component (it could leave the folder) or the name holds a NUL character.
std::optional<std::filesystem::path> ResultPlace(std::string_view name,
                                                 std::string_view suffix);

// Why a series was skipped, or nothing when it was processed.
using SkipReason = std::optional<std::string>;

// Processes one SeriesList entry (left-adjusted in place). Returns the
// reason when the series was skipped (its file does not exist, its result
// path has a ".." component, or its name holds a NUL); throws FatalError
// when the series file exists but cannot be opened, or a result file cannot
// be created or written.
SkipReason ProcessSeries(std::string& entry, SeriesContext& context);

}  // namespace driver
