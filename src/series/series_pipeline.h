// One series from name to result files, the same steps for every front end
// that reads series files: the name checked, the series file opened (what a
// failed open means is the caller's policy), the result files placed and
// opened, the window loop of the engine fed sample by sample, each window's
// records written whole, and both files closed. mfwindow runs it for each
// entry of "list" (ProcessSeries), mfwindow-batch for each series it is
// given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/engine.h"
#include "analysis/params.h"
#include "analysis/results.h"
#include "series/series_input.h"
#include "series/time_axis.h"

namespace series {

// What becomes of a series whose file cannot be opened.
enum class OpenFailure {
  // mfwindow: a file that does not exist (or a folder on its path that does
  // not) skips the series; any other failure, a folder named as the series
  // included, ends the run.
  kSkipMissing,
  // mfwindow-batch: every failed open skips the series, a folder included.
  kSkipAll,
};

// One file that a series writes, "F(Alfa)_" + name + Suffix in the results
// folder, and the records that make it up.
struct ResultStream {
  std::string Suffix;                 // ".dat", ".csv", ".spectrum.csv"
  std::optional<std::string> Header;  // the first record, when there is one
  // Hands the records of one window (without line ends) to the writer,
  // one at a time, so that a window of many records never waits as text.
  std::function<void(const analysis::WindowOutcome&,
                     const std::function<void(std::string_view)>&)>
      Records;
  // Its header and each record end with a field "time_iso", the stamp of
  // the window's last sample as a UTC date-time (textio::FormatIsoStamp),
  // when the series' time stamps are ISO 8601 ones (one record a window).
  bool Dated = false;
};

// mfwindow's result line of one window: six general reals of width 15, 90
// characters.
std::string ResultLine(const analysis::WindowResult& r);

// The ".dat" stream of mfwindow's result lines, one per window.
ResultStream ResultLineStream();

// The start of a result file's name, before the series name.
inline constexpr std::string_view kResultPrefix = "F(Alfa)_";

// The start of the result names of `column` of a series: kResultPrefix for
// no column or column 1, so that the results of the first column keep
// their names (RunSeries gives a column chosen by name kResultPrefix too
// when the header row holds it first); otherwise "F(Alfa)@" + the column + "_",
// the column as its number or its name with every byte but letters, digits, '.'
// and '-' written as %XX. No two columns share a start, and none is
// kResultPrefix:
//   {2, ""} -> "F(Alfa)@2_";  {0, "Fz"} -> "F(Alfa)@Fz_";
//   {0, "a_b c"} -> "F(Alfa)@a%5Fb%20c_"
std::string ColumnPrefix(const std::optional<ColumnChoice>& column);

// The series name that stands for standard input where a pipeline reads it,
// and the name its messages and results go by.
inline constexpr std::string_view kStandardInputName = "-";
inline constexpr std::string_view kStandardInputLabel = "stdin";

struct SeriesReport;

// How the series of one run are taken in and written out.
struct SeriesPipeline {
  std::filesystem::path BaseDir;    // relative series names start here
  std::filesystem::path ResultDir;  // the results folder, made by the caller
  OpenFailure Policy = OpenFailure::kSkipMissing;
  InputOptions Input = MfwindowInput();  // how the series are read
  // When set, the series named kStandardInputName is read from here.
  std::istream* StandardInput = nullptr;
  // The one stream of Streams goes to standard output instead of a file.
  bool ToStandardOutput = false;
  // Each result file is written staged (ResultFile::Staged): it takes its
  // place only once the series is complete.
  bool Staged = false;
  // A series every window of which is a gap (InputOptions kMask) fails, its
  // result files removed: it gave no analysed window, and its header or
  // column choice is the likely cause. mfwindow-batch and AnalyseFile set
  // it.
  bool FailWhenEveryWindowIsAGap = false;
  // Gaps of at most this many samples (InputOptions kMask) are bridged by
  // a straight line (GapBridge), their windows marked; 0: none are.
  std::int32_t BridgeGaps = 0;
  // Under the described method (no profile), gathers the lag-1 correlation
  // of the values analysed (LagOneCorrelation) into the report, for
  // SeriesNotes' warning of a noise. mfwindow-batch and AnalyseFile set it.
  bool WatchForNoise = false;
  // The start of each result file's name: kResultPrefix, or ColumnPrefix's
  // for a column other than the first. A column of Input chosen by name
  // that the series' header row holds first is given kResultPrefix.
  std::string Prefix = std::string(kResultPrefix);
  std::vector<ResultStream> Streams;  // at least one
  bool WithSpectrum = false;          // a stream needs the whole spectra
  // Called once both files are open, before the first sample is read.
  std::function<void()> Opened;
  // Called for each window before its records are written.
  std::function<void(const analysis::WindowOutcome&)> WindowDone;
  // Told the bytes of the series file read so far, now and then.
  std::function<void(std::uint64_t)> FilePosition;
  // When set (and the results go to files), the text of the JSON sidecar
  // of a complete series, made once its result files are closed and
  // written beside the first stream's file as "<that file>.json" (SidecarPath):
  // under a temporary name in the same folder, then renamed.
  std::function<std::string(const SeriesReport&)> Sidecar;
};

inline constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ULL;

// `hash` (FNV-1a 64) taken on over the 8 bytes of `sample`, least
// significant first.
std::uint64_t HashSample(std::uint64_t hash, double sample);

// The present time, UTC, ISO 8601 to the second: "2026-12-09T17:36:31Z".
std::string UtcNow();

// The sidecar of the result file `result`: "<result>.json".
std::filesystem::path SidecarPath(const std::filesystem::path& result);

// What happened to one series.
struct SeriesReport {
  std::string Name;  // the series as messages name it (its file, or stdin)
  std::optional<std::string> Skipped;  // why, when it was not processed
  // Why, when its input could not be read as a series (BadSeriesInput):
  // the result files begun for it are removed (standard output keeps what
  // was written; staged files leave an earlier result in place).
  std::optional<std::string> Failed;
  bool FailedOnBadSample = false;      // Failed by a bad sample under kError
  std::int64_t Windows = 0;            // the windows written
  std::int64_t DegenerateWindows = 0;  // of those, the degenerate ones
  InputSummary Input;                  // how the reading went
  std::int64_t Bridged = 0;  // gaps bridged (SeriesPipeline::BridgeGaps)
  // The lag-1 correlation of the values analysed, as read (before any
  // bridging), those of the increments with IncrFlag 1; with
  // SeriesPipeline::WatchForNoise only.
  std::optional<double> LagOne;
  bool LagOneOfIncrements = false;
  // The time axis the series' own stamps set (InputOptions::TimeColumn).
  std::optional<TimeAxis> Time;
  // The column analysed (InputOptions::Column): its number from 1, 0 where
  // a column chosen by name was not looked up (standard output), and the
  // name it was chosen by (empty: by number).
  std::optional<ColumnChoice> Column;
  // Every sample handed to the engine (gaps included, as NaN), and their
  // FNV-1a 64 hash over the 8 bytes of each double, least significant
  // byte first (offset basis 14695981039346656037, prime 1099511628211).
  std::int64_t SamplesRead = 0;
  std::uint64_t SampleHash = kFnvOffsetBasis;
  // When the series was begun and ended: UTC, ISO 8601 to the second
  // ("2026-12-09T17:36:31Z").
  std::string Started;
  std::string Ended;
};

// The place of a result file of series `name`, relative to the results
// folder: "F(Alfa)_" + name + suffix, so that a name's folders become
// folders under the results folder. An absolute name is no exception: its
// whole path is kept ("/data/s1.txt" gives "F(Alfa)_/data/s1.txt.dat", a
// folder "F(Alfa)_" holding data/), so that two series of the same file
// name in different folders never share a result, and results stay named
// as earlier runs and merge scripts name them. std::nullopt when the name
// holds a NUL character or a ".." component.
std::optional<std::filesystem::path> ResultPlace(
    std::string_view name, std::string_view suffix,
    std::string_view prefix = kResultPrefix);

// Why a series named `name` is refused before anything is opened: a NUL
// would cut the name short at every system call, and a ".." component
// could put the result outside the results folder. std::nullopt when it is
// fine.
std::optional<std::string> RefusedName(std::string_view name);

// Runs series `file_name` (relative to BaseDir unless absolute) through
// `engine`, naming its results after `result_name` (mfwindow asks the
// console for the file of a blank entry, whose results keep the blank
// name). The series is read as Input says; messages name it `file_name`
// (kStandardInputLabel for standard input). With Input.TimeColumn the
// stamps are read and checked first (ReadTimeAxis; standard input is held
// in memory to be read twice), and the time axis of `plan` is theirs. Returns
// the report; throws FatalError when a result file cannot be opened or written,
// or when the series file cannot be opened and the policy makes that fatal;
// Interrupted on a stop request (between samples and before each window's
// records, so every file holds whole records).
SeriesReport RunSeries(const SeriesPipeline& pipeline,
                       std::string_view file_name, std::string_view result_name,
                       analysis::SeriesEngine& engine,
                       const analysis::WindowPlan& plan);

}  // namespace series
