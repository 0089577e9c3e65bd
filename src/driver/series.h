// mfwindow's side of one series: the entry of "list" left-adjusted, a blank
// entry's file name asked for, the "File= " echo and a progress line per
// window on the console, then the shared series pipeline.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/engine.h"
#include "driver/text_streams.h"
#include "series/series_pipeline.h"

namespace driver {

// The folder of the results, "F(Alfa)" in `run_dir`: on Windows joined with
// a backslash to the directory as the system gave it (so a drive's root,
// "C:\\", gives two backslashes in a row), elsewhere as a path.
std::filesystem::path ResultFolder(const std::filesystem::path& run_dir);

// Everything ProcessSeries needs besides the series name.
struct SeriesContext {
  std::filesystem::path RunDir;  // the current directory of the run
  TextOut& ConsoleOut;
  TextIn& ConsoleIn;
  std::vector<std::string> Args;  // command-line arguments for blank names
  std::size_t ArgsUsed = 0;
  analysis::SeriesEngine& Engine;
  analysis::WindowPlan Plan;
  // Waits until the console has input, honouring a stop request meanwhile;
  // null when the console is not a terminal or pipe to wait on.
  std::function<void()> WaitForConsole;
};

// Processes one SeriesList entry (left-adjusted in place). Samples are
// read one per record, the first value of each record that holds one (a
// UTF-8 byte-order mark at the file's start skipped, a lone CR taken as a
// line end); the end of the file, an unreadable record, and a record that
// starts with a null value or a slash end the series. Returns the report,
// with Skipped set when the series was skipped (its file does not exist,
// its name has a ".." component or holds a NUL); throws FatalError when the
// series file exists but cannot be opened, or a result file cannot be
// created or written.
series::SeriesReport ProcessSeries(std::string& entry, SeriesContext& context);

}  // namespace driver
