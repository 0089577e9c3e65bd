// The command line of mfwindow-batch: the analysis settings as flags, the
// series as arguments or a list file, where and how to write the results,
// and which share of the list this process takes.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "mfwindow/mfwindow.h"
#include "series/series_input.h"

namespace batch {

// Exit statuses of mfwindow-batch.
inline constexpr int kExitSuccess = 0;  // every series of the shard done
inline constexpr int kExitSkipped = 1;  // some series skipped or failed
inline constexpr int kExitUsage = 2;    // bad command line
inline constexpr int kExitFatal = 3;    // a result file cannot be written

inline constexpr std::string_view kProgramName = "mfwindow-batch";
inline constexpr std::string_view kUsageLine =
    "Usage: mfwindow-batch [OPTIONS] SERIES... | --list FILE";

enum class OutputFormat {
  kDat,  // mfwindow's 90-character CR LF lines
  kCsv,  // a header row and the six values at full precision
};

// Series I, I + N, I + 2N, ... of the list (I counted from 1).
struct Shard {
  std::int32_t Index = 1;
  std::int32_t Count = 1;
};

struct BatchOptions {
  mfwindow::Settings Given;  // as typed, before settling
  // Given settled, by ParseCommandLine; RunBatch settles Given when it is
  // empty (options made in code).
  std::optional<mfwindow::Settled> Settled;
  // The file rows as typed: --column (one or several), --header,
  // --delimiter, --time-column, --all-columns; read into Input and Columns.
  mfwindow::FileOptions File;
  std::vector<std::string> Series;      // the names given as arguments
  std::optional<std::string> ListFile;  // or the file that lists them
  std::filesystem::path OutDir = "F(Alfa)";
  bool ToStandardOutput = false;  // --out -: the one result on stdout
  // How series are read: --column, --header, --delimiter, --on-bad-sample;
  // a blank line inside a series is a missing sample, and .npy files are
  // recognised by their first byte.
  series::InputOptions Input = series::BatchInput();
  // --column a,b: each column analysed in turn (Input.Column is the first);
  // empty: Input.Column alone.
  std::vector<series::ColumnChoice> Columns;
  // --pair A,B: the two columns analysed together, x then y.
  std::optional<std::array<series::ColumnChoice, 2>> Pair;
  Shard Part;
  OutputFormat Format = OutputFormat::kDat;
  bool Quiet = false;    // no progress
  bool Verbose = false;  // also the engine that runs, on standard error
  std::vector<std::string> Typed;  // the settings typed, by row name
};

// What the command line asks for: a run with `Options`, or, when Options is
// empty, to end at once with `ExitStatus` (help and version: 0, having
// written them to `out`; a usage error: kExitUsage, having written the
// error and the usage line to `err`).
struct ParseOutcome {
  std::optional<BatchOptions> Options;
  int ExitStatus = kExitSuccess;
};

// Looks up an environment variable: its value, or null when it is not set.
using EnvLookup = std::function<const char*(const char*)>;

// Parses the command line (argv[0] is the program's name). The values are
// checked, not settled: --incr must be 0 or 1, --tstep greater than 0,
// --threads not negative, --shard I/N with 1 <= I <= N or auto (resolved
// from Slurm's variables through `env`), the series come either as
// arguments or from --list, an existing file, "-" (standard input) at most
// once, --column by name not with --header no, --out - not with --spectrum
// or --fq, several columns not with "-" nor --out -, and --surrogates only
// with the CSV that holds the null levels. --pair takes two distinct
// columns, not with --column, --all-columns, a time column, --spectrum,
// --fq, --out - nor --format dat (it writes CSV), and settings a pair takes
// (mfwindow::CrossAnalyser). --column, --header or --delimiter
// make the series delimited text; --out - makes the format csv unless --format
// is given.
ParseOutcome ParseCommandLine(int argc, const char* const* argv,
                              std::ostream& out, std::ostream& err,
                              const EnvLookup& env = nullptr);

// "I/N" with 1 <= I <= N, both decimal integers without sign; std::nullopt
// otherwise.
//   "2/3" -> {2, 3};  "0/3", "4/3", "2/", "+1/3" -> std::nullopt
std::optional<Shard> ParseShard(std::string_view text);

// The shard of this task of a Slurm job array. SLURM_ARRAY_TASK_ID must be
// set; the array runs from SLURM_ARRAY_TASK_MIN (1 when not set) in steps
// of SLURM_ARRAY_TASK_STEP (1 when not set), with SLURM_ARRAY_TASK_COUNT
// tasks, or up to SLURM_ARRAY_TASK_MAX when COUNT is not set. Task ID t is
// shard (t - MIN)/STEP + 1 of COUNT. Returns the error text for the usage
// message when the variables are missing, not numbers, or disagree:
//   ID 0, COUNT 4, MIN 0, MAX 3     -> {1, 4}
//   ID 30, MIN 10, MAX 30, STEP 10  -> {3, 3}
//   no ID -> "not inside a Slurm job array (SLURM_ARRAY_TASK_ID is not set)"
struct AutoShard {
  std::optional<Shard> Part;
  std::string Error;
};
AutoShard ShardFromSlurm(const EnvLookup& env);

// One warning line (without line end) per typed value (`typed`: row
// names) that settling changed, naming its flag, the value given and the
// value used:
//   mfwindow-batch: warning: --order 11 is out of range; using 10
std::vector<std::string> ClampWarnings(const mfwindow::Settled& settled,
                                       const std::vector<std::string>& typed);

}  // namespace batch
