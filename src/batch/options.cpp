#include "batch/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

#include "api/settings_params.h"
#include "mfwindow/settings_table.h"
#include "series/column_choice.h"
#include "series/series_pipeline.h"

namespace batch {
namespace {

// A file option refused, named by its flag: "--time-column must be a
// number from 1 or a column name, got \"0\"".
CLI::ValidationError Refused(const series::OptionProblem& problem) {
  return CLI::ValidationError(mfwindow::Worded(
      mfwindow::SettingError(problem.Option, mfwindow::SettingReason::kConflict,
                             problem.Rule, problem.Value),
      mfwindow::FindSetting(problem.Option)->Flag));
}

// Shown after the flags by --help.
constexpr const char* kHelpFooter =
    R"(Series files hold one sample per line, read as mfwindow reads them: the first
value of each line (a UTF-8 byte-order mark at the start is skipped, and a CR
alone ends a line as LF does). A line that is not a number (a word, NaN, NA,
a line that starts with a comma or a slash) or a blank line between two lines
is a bad sample: --on-bad-sample error (the default) fails the series naming
file:line, stop ends the series there, skip drops the line, mask keeps it in
place as a gap (the windows over it have status gap). Blank lines at the
start and the end of a file are ignored.

--column, --header or --delimiter read delimited text (CSV, TSV, columns
separated by semicolons or blanks) instead: each line is split into fields
(double quotes may enclose a field), and the column given by --column (a
number from 1, or a name of the header row; 1 by default) is the series.
--header auto takes the first line as the header when one of its fields is a
word (not a number, a date or time, NaN, NA, a spreadsheet error such as
#DIV/0!, nor empty); a column chosen by name needs a header. --delimiter auto takes a tab, else a semicolon, else a
comma, else blanks, as the first line holds them. An empty field, a missing
field and a field that is not a number are bad samples.

--time-column N|NAME takes the series' own time stamps from that column:
numbers, or ISO 8601 date-times (2024-03-01T12:00:00.25, a blank for the T;
Z or no zone is UTC, +hh:mm/-hh:mm is taken off). Each line has one, a bad
sample's included; they must rise and step evenly (numbers within 1e-9 of
the first step plus their rounding, ISO stamps exactly), or the series fails
naming the first uneven step. The time axis is theirs: numbers in their own
unit, ISO stamps in seconds since the first (the sidecar's time_origin). Not
with --fs, --tstep, --tini or --on-bad-sample skip; --all-columns leaves
the time column out.

--time-labels N|NAME takes such stamps from that column as labels instead:
they need only rise (uneven steps, missing days and weeks are fine; the
analysis goes by sample order), and each window's time is the stamp of its
last sample (ISO stamps in seconds since the first). The same options are
refused as with --time-column. With ISO stamps, the CSV result ends with a
column time_iso: that stamp as a UTC date-time (YYYY-MM-DDThh:mm:ss[.f]).

A file that starts with numpy's .npy magic is read as an array: little-endian
float64, float32 or integers, 1-D, or 2-D in C or Fortran order with the
column given by --column (a number). NaN and infinities there are bad samples.

"-" as a series name reads standard input (once); its results are named
"stdin". --out - writes the one series' result (CSV unless --format says
dat) to standard output; more than one series with --out - is a usage error.

Names in a --list file are read as mfwindow reads "list" (the first 256
characters of each line, leading blanks dropped); blank lines are skipped.
Relative names are taken from the current directory. Settings out of range
are clamped as mfwindow's dialogue clamps its answers, with a warning.
Warnings on standard error also tell of an Lrec below 256, of a series that
ends early or gives no window, and of a series whose every window is
degenerate (0.5, 0.5, 0, 0.5, 1).

Result files go to DIR, one set per series. A name with a directory part gets
subfolders there; a name whose result would lie outside DIR (..) is skipped.
  F(Alfa)_<name>.dat    --format dat: mfwindow's result lines, byte for byte:
      time, AlfaMin, AlfaMax, AlfaMax-AlfaMin, AlfaSz, F(AlfaSz), six
      15-character columns, CR LF
  F(Alfa)_<name>.csv    --format csv: the header row
      time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz,status,
      zero_share,floor_share,min_r2,h2_se,width_se,crossover_scale
      (with --surrogates, width_null_median,width_null_p95,width_p,
      alfa_sz_null_median,alfa_sz_null_p95,alfa_sz_p before h2_se)
      then one row per window: the six values with 17 significant digits
      (they read back to the exact doubles), the window's quality and
      the fits' standard errors, CR LF; nan for a value that is none
  F(Alfa)_<name>.spectrum.csv    --spectrum: the header row
      window,time,q,h,tau,m,alpha,f
      then for each window (counted from 1; time as in the result file)
      200 rows window,time,q,h,tau,,, (q ascending from -10 to 10)
      and 100 rows window,time,,,,m,alpha,f (m = 1..100, alpha ascending);
      17 significant digits, CR LF; h and tau are nan for a degenerate window
  F(Alfa)_<name>.fq.csv    --fq: the header row
      window,time,q,log_scale,scale,fq
      then for each window one row per scale and moment order
Each file is written as <file>.part and renamed when the series is
complete: a series that fails or is stopped leaves an earlier result of its
name as it was. A column other than the first (--column 2, --column Fz,
--all-columns) names its files F(Alfa)@<column>_<name>..., the column as
its number or its name (bytes other than letters, digits, '.' and '-' as
%XX): F(Alfa)@2_eeg.csv.dat, F(Alfa)@Fz_eeg.csv.dat; column 1 keeps
F(Alfa)_<name>... however it is chosen (by number or by its header name),
so that no two columns share a result and a rerun replaces the first's.

--shard auto takes this task's share of a Slurm job array from
SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT (or SLURM_ARRAY_TASK_MIN and
SLURM_ARRAY_TASK_MAX; SLURM_ARRAY_TASK_STEP when set); outside a job array
it is a usage error.

Exit status: 0 every series done; 1 some series skipped or failed (each named
on standard error with the reason; a failed series leaves no partial result
file); 2 bad usage; 3 a result file could not be created or written (the run
stops there; a full device or a file-size limit is such a failure).)";

// A decimal integer without sign, or std::nullopt.
std::optional<std::int64_t> ParseCount(std::string_view digits) {
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
    return std::nullopt;
  }
  std::int64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
}

const char* SystemEnv(const char* name) { return std::getenv(name); }

// The flags of the settings table's rows, each bound to its member of the
// settings or the file options; a word setting is read as text, checked
// against its row's words and set once the command line is parsed.
class SettingFlags {
 public:
  SettingFlags(CLI::App& app, mfwindow::Settings& s, mfwindow::FileOptions& f) {
    for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
      if ((row.FrontEnds & mfwindow::kBatch) == 0) continue;
      const std::string flag(row.Flag);
      std::string help(row.Help);
      if (const std::string range = mfwindow::RangeText(row); !range.empty()) {
        help += " (" + range + ")";
      }
      if (!row.PythonDefault.empty()) {
        help +=
            "; the default here and in the C++ API, whose .dat files "
            "equal mfwindow's (Python's: " +
            std::string(row.PythonDefault) + ")";
      }
      CLI::Option* option = std::visit(
          [&](const auto& member) {
            return Add(app, s, f, row, flag, help, member);
          },
          row.Member);
      options_.emplace_back(&row, option);
    }
  }

  // The option of setting `name`.
  CLI::Option* Option(std::string_view name) const {
    for (const auto& [row, option] : options_) {
      if (row->Name == name) return option;
    }
    return nullptr;
  }

  // The rows whose flags were given, by name.
  std::vector<std::string> Typed() const {
    std::vector<std::string> names;
    for (const auto& [row, option] : options_) {
      if (option->count() > 0) names.emplace_back(row->Name);
    }
    return names;
  }

  // Sets the word settings, checks each number typed as its row says (a 0
  // that stands for "not given" is refused: leave the flag out) and
  // settles `s` as the library does; a refusal names the flag.
  mfwindow::Settled Apply(mfwindow::Settings& s) const {
    std::size_t k = 0;
    try {
      for (const auto& [row, option] : options_) {
        if (const auto* word =
                std::get_if<mfwindow::WordMember>(&row->Member)) {
          word->Set(s, mfwindow::WordIndex(*row, words_[k++]));
        } else if (const std::optional<double> number =
                       mfwindow::NumberOf(*row, s);
                   number && option->count() > 0) {
          mfwindow::CheckNumber(*row, *number, true);
        }
      }
      mfwindow::CheckGivenUnderMethod(s, Typed());
      return mfwindow::Settle(s);
    } catch (const mfwindow::SettingError& e) {
      const mfwindow::SettingRow* row = mfwindow::FindSetting(e.Which());
      throw CLI::ValidationError(row == nullptr
                                     ? std::string(e.what())
                                     : mfwindow::Worded(e, row->Flag));
    }
  }

 private:
  template <typename Member>
  CLI::Option* Add(CLI::App& app, mfwindow::Settings& s,
                   mfwindow::FileOptions& f, const mfwindow::SettingRow& row,
                   const std::string& flag, const std::string& help,
                   Member member) {
    std::vector<std::string> words(row.Words.begin(), row.Words.end());
    if constexpr (std::is_same_v<Member, bool mfwindow::Settings::*>) {
      return app.add_flag(flag, s.*member, help);
    } else if constexpr (std::is_same_v<Member,
                                        bool mfwindow::FileOptions::*>) {
      return app.add_flag(flag, f.*member, help);
    } else if constexpr (std::is_same_v<Member, mfwindow::WordMember>) {
      std::string& text = words_.emplace_back(mfwindow::DefaultText(row));
      return app.add_option(flag, text, help)
          ->check(CLI::IsMember(words))
          ->type_name("WORD")
          ->capture_default_str();
    } else if constexpr (std::is_same_v<Member,
                                        std::string mfwindow::FileOptions::*>) {
      CLI::Option* option = app.add_option(flag, f.*member, help);
      if (words.empty()) return option->type_name("N|NAME");
      return option->check(CLI::IsMember(words))->type_name("WORD");
    } else if constexpr (std::is_same_v<Member, std::vector<double>
                                                    mfwindow::Settings::*>) {
      return app.add_option(flag, s.*member, help)
          ->allow_extra_args(false)
          ->delimiter(',')
          ->type_name("Q,Q,...");
    } else if constexpr (std::is_same_v<Member,
                                        std::uint64_t mfwindow::Settings::*>) {
      // Read here, digits only: CLI11 would wrap "-1" round and take a
      // number beyond 64 bits as its largest value.
      std::uint64_t* target = &(s.*member);
      return app
          .template add_option_function<std::string>(
              flag,
              [target, flag](const std::string& text) {
                const char* end = text.data() + text.size();
                const auto [ptr, ec] =
                    std::from_chars(text.data(), end, *target);
                if (text.empty() || text.front() == '-' || ec != std::errc{} ||
                    ptr != end) {
                  throw CLI::ValidationError(
                      flag +
                      " must be a whole number from 0 to 2^64 - 1, "
                      "got " +
                      text);
                }
              },
              help)
          ->type_name("UINT")
          ->default_str(mfwindow::DefaultText(row));
    } else if constexpr (std::is_same_v<Member, std::optional<double>
                                                    mfwindow::Settings::*>) {
      // Left out it stays absent; given, it is checked as typed (0
      // included: a rate of 0 Hz is no rate).
      std::optional<double>* target = &(s.*member);
      return app
          .template add_option_function<double>(
              flag, [target](const double& value) { *target = value; }, help)
          ->type_name("FLOAT");
    } else {
      return app.add_option(flag, s.*member, help)->capture_default_str();
    }
  }

  std::vector<std::pair<const mfwindow::SettingRow*, CLI::Option*>> options_;
  std::deque<std::string> words_;  // the word settings' texts, in row order
};

}  // namespace

AutoShard ShardFromSlurm(const EnvLookup& env) {
  const auto get = [&env](const char* name) -> std::optional<std::string> {
    const char* value = env(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  AutoShard result;
  const std::optional<std::string> id_text = get("SLURM_ARRAY_TASK_ID");
  if (!id_text) {
    result.Error =
        "not inside a Slurm job array (SLURM_ARRAY_TASK_ID is not set); "
        "give --shard I/N";
    return result;
  }
  // Each variable that is set must be a count; MIN and STEP have defaults.
  std::string bad;
  const auto count =
      [&](const char* name,
          std::optional<std::int64_t> fallback) -> std::optional<std::int64_t> {
    const std::optional<std::string> text = get(name);
    if (!text) return fallback;
    const std::optional<std::int64_t> value = ParseCount(*text);
    if (!value && bad.empty()) {
      bad = std::string(name) + " is not a number: \"" + *text + "\"";
    }
    return value;
  };
  const std::optional<std::int64_t> id = count("SLURM_ARRAY_TASK_ID", 0);
  const std::optional<std::int64_t> min = count("SLURM_ARRAY_TASK_MIN", 1);
  const std::optional<std::int64_t> step = count("SLURM_ARRAY_TASK_STEP", 1);
  const std::optional<std::int64_t> max =
      count("SLURM_ARRAY_TASK_MAX", std::nullopt);
  std::optional<std::int64_t> tasks =
      count("SLURM_ARRAY_TASK_COUNT", std::nullopt);
  if (!bad.empty()) {
    result.Error = bad;
    return result;
  }
  if (*step < 1) {
    result.Error = "SLURM_ARRAY_TASK_STEP must be at least 1";
    return result;
  }
  const std::string array = "task " + std::to_string(*id) + " of an array " +
                            "from " + std::to_string(*min) + " in steps of " +
                            std::to_string(*step);
  if (!tasks) {
    if (!max) {
      result.Error =
          "neither SLURM_ARRAY_TASK_COUNT nor SLURM_ARRAY_TASK_MAX is set";
      return result;
    }
    if (*max < *min) {
      result.Error = "SLURM_ARRAY_TASK_MAX is below SLURM_ARRAY_TASK_MIN";
      return result;
    }
    tasks = (*max - *min) / *step + 1;
  } else if (max && *max >= *min && (*max - *min) / *step + 1 != *tasks) {
    // An array given as a list (--array=1,4,9) has no rule that numbers
    // its tasks 1..COUNT.
    result.Error = "the array is no evenly spaced range (" +
                   std::to_string(*tasks) + " tasks from " +
                   std::to_string(*min) + " to " + std::to_string(*max) +
                   "); give --shard I/N";
    return result;
  }
  const std::int64_t offset = *id - *min;
  if (offset < 0 || offset % *step != 0 || offset / *step >= *tasks ||
      *tasks > std::numeric_limits<std::int32_t>::max()) {
    result.Error = array + " and " + std::to_string(*tasks) +
                   " tasks does not fit; give --shard I/N";
    return result;
  }
  result.Part = Shard{static_cast<std::int32_t>(offset / *step + 1),
                      static_cast<std::int32_t>(*tasks)};
  return result;
}

std::optional<Shard> ParseShard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto parse =
      [](std::string_view digits) -> std::optional<std::int32_t> {
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
      return std::nullopt;
    }
    std::int32_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
  };
  const std::optional<std::int32_t> index = parse(text.substr(0, slash));
  const std::optional<std::int32_t> count = parse(text.substr(slash + 1));
  if (!index || !count || *index < 1 || *index > *count) return std::nullopt;
  return Shard{*index, *count};
}

std::vector<std::string> ClampWarnings(const mfwindow::Settled& settled,
                                       const std::vector<std::string>& typed) {
  std::vector<std::string> lines;
  for (const mfwindow::ClampedValue& c : settled.Clamped()) {
    // A default the user never typed is settled without a word (a short
    // --window lowers the minimum scale below its default, for example).
    if (std::find(typed.begin(), typed.end(), c.Which) == typed.end()) continue;
    lines.push_back(std::string(kProgramName) + ": warning: " +
                    std::string(mfwindow::FindSetting(c.Which)->Flag) + " " +
                    std::to_string(c.Given) + " is out of range; using " +
                    std::to_string(c.Used));
  }
  return lines;
}

ParseOutcome ParseCommandLine(int argc, const char* const* argv,
                              std::ostream& out, std::ostream& err,
                              const EnvLookup& env) {
  BatchOptions o;
  mfwindow::Settings& s = o.Given;
  CLI::App app(
      "Estimates multifractal singularity spectra in a moving window, as "
      "mfwindow does, for the series named on the command line or in a "
      "list file, without a dialogue.",
      std::string(kProgramName));
  app.footer(kHelpFooter);
  app.set_version_flag("--version",
                       std::string(kProgramName) + " " + MFWINDOW_VERSION);

  const SettingFlags settings(app, s, o.File);
  const std::string& column = o.File.Column;
  CLI::Option* column_option = settings.Option("column");
  CLI::Option* time_column_option = settings.Option("time_column");
  CLI::Option* time_labels_option = settings.Option("time_labels");
  time_labels_option->excludes(time_column_option);
  settings.Option("all_columns")->excludes(column_option);
  CLI::Option* pair_option = settings.Option("pair");
  pair_option->excludes(column_option)
      ->excludes(settings.Option("all_columns"))
      ->excludes(time_column_option)
      ->excludes(time_labels_option);
  settings.Option("rho_level")->needs(pair_option);
  CLI::Option* series =
      app.add_option("series", o.Series, "series files, in order")
          ->type_name("FILE");
  std::string list_file;
  CLI::Option* list =
      app.add_option("--list", list_file, "file naming the series, one a line")
          ->check(CLI::ExistingFile)
          ->type_name("FILE")
          ->excludes(series);
  std::string out_dir = o.OutDir.string();
  app.add_option("--out", out_dir,
                 "directory of the result files, created if missing; - for "
                 "standard output (one series)")
      ->type_name("DIR")
      ->capture_default_str();
  std::string shard = "1/1";
  app.add_option("--shard", shard,
                 "take series I, I+N, I+2N, ... of the list (from 1); auto: "
                 "this task's share of a Slurm job array")
      ->type_name("I/N|auto")
      ->capture_default_str();
  std::string format = "dat";
  CLI::Option* format_option = app.add_option("--format", format, "dat or csv")
                                   ->check(CLI::IsMember({"dat", "csv"}))
                                   ->capture_default_str();
  app.add_flag("--quiet", o.Quiet, "no progress on standard error");
  app.add_flag("--verbose", o.Verbose,
               "also say which kernel and scheduler run, on standard error");

  try {
    // The list's items are split before any check sees them, and empty
    // ones dropped: "1,,2" is a typing error, not the list 1,2.
    for (int i = 1; i + 1 < argc; ++i) {
      const std::string_view arg = argv[i];
      const std::string_view items =
          arg == "--q-list"              ? std::string_view(argv[i + 1])
          : arg.starts_with("--q-list=") ? arg.substr(9)
                                         : std::string_view("x");
      if (items.empty() || items.front() == ',' || items.back() == ',' ||
          items.find(",,") != std::string_view::npos) {
        throw CLI::ValidationError(
            "--q-list", "an empty item in \"" + std::string(items) + "\"");
      }
    }
    app.parse(argc, argv);
    if (series->count() == 0 && list->count() == 0) {
      throw CLI::RequiredError("SERIES or --list");
    }
    o.Settled = settings.Apply(s);
    if (shard == "auto") {
      const AutoShard part = ShardFromSlurm(env ? env : EnvLookup(SystemEnv));
      if (!part.Part) throw CLI::ValidationError("--shard auto", part.Error);
      o.Part = *part.Part;
    } else {
      const std::optional<Shard> part = ParseShard(shard);
      if (!part) {
        throw CLI::ValidationError(
            "--shard", "expected I/N with 1 <= I <= N, or auto, got " + shard);
      }
      o.Part = *part;
    }
    std::vector<std::string> columns;
    for (std::size_t from = 0; column_option->count() > 0;) {
      const std::size_t comma = column.find(',', from);
      columns.push_back(column.substr(from, comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
    if (o.File.AllColumns) columns.emplace_back("1");
    if (columns.empty()) columns.emplace_back();
    for (const std::string& one : columns) {
      if (one.empty() && column_option->count() > 0) {
        throw Refused(
            {"column", "must be a number from 1 or a column name", "\"\""});
      }
      if (const std::optional<series::OptionProblem> problem =
              series::ChooseFields(one.empty() && column_option->count() == 0
                                       ? std::string_view()
                                       : std::string_view(one),
                                   o.File.Header, o.File.Delimiter, o.Input)) {
        throw Refused(*problem);
      }
      if (columns.size() > 1) o.Columns.push_back(*o.Input.Column);
      if (std::count(columns.begin(), columns.end(), one) > 1) {
        // Its second result would replace the first.
        throw CLI::ValidationError("--column",
                                   "column " + one + " is given twice");
      }
    }
    if (!o.Columns.empty()) o.Input.Column = o.Columns.front();
    const bool labels = time_labels_option->count() > 0;
    if (time_column_option->count() > 0 || labels) {
      const std::string flag = labels ? "--time-labels" : "--time-column";
      if (const std::optional<series::OptionProblem> problem =
              series::ChooseTimeColumn(
                  labels ? o.File.TimeLabels : o.File.TimeColumn, o.Input,
                  labels)) {
        throw Refused(*problem);
      }
      // The stamps give the times; skipping would move samples off them.
      const std::string_view other = mfwindow::TimeColumnConflict(s);
      for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
        if (!other.empty() && row.Name == other) {
          throw CLI::ValidationError(
              flag, other == "nan"
                        ? std::string("--on-bad-sample skip would move "
                                      "samples off their stamps; use mask "
                                      "(a gap keeps its place) or stop")
                        : "the time stamps give the times; leave out " +
                              std::string(row.Flag));
        }
      }
      const std::vector<series::ColumnChoice> analysed =
          o.Columns.empty() && !o.File.AllColumns
              ? std::vector{o.Input.Column.value_or(series::ColumnChoice{})}
              : o.Columns;
      for (const series::ColumnChoice& c : analysed) {
        if (c.Index == o.Input.TimeColumn->Index &&
            c.Name == o.Input.TimeColumn->Name) {
          throw CLI::ValidationError(flag,
                                     "the time column is no series; choose "
                                     "the series with --column");
        }
      }
    }
    const bool several = o.File.AllColumns || o.Columns.size() > 1;
    if (several &&
        (out_dir == "-" || std::count(o.Series.begin(), o.Series.end(),
                                      series::kStandardInputName) > 0)) {
      throw CLI::ValidationError(
          "--column",
          "several columns are read from files, one result each; "
          "not from \"-\" nor to --out -");
    }
    if (std::count(o.Series.begin(), o.Series.end(),
                   series::kStandardInputName) > 1) {
      throw CLI::ValidationError("-", "standard input can be read only once");
    }
    if (out_dir == "-" && (s.Spectrum || s.KeepFq)) {
      // Two files' rows interleaved on one stream read as neither.
      throw CLI::ValidationError(
          "--out -", std::string("standard output takes one result file; ") +
                         (s.Spectrum ? "--spectrum" : "--fq") + " writes two");
    }
    if (pair_option->count() > 0) {
      const std::string& pair = o.File.Pair;
      const std::size_t comma = pair.find(',');
      const std::string first = pair.substr(0, comma);
      const std::string second =
          comma == std::string::npos ? std::string() : pair.substr(comma + 1);
      if (first.empty() || second.empty() ||
          second.find(',') != std::string::npos || first == second) {
        throw CLI::ValidationError(
            "--pair", "two different columns A,B, got \"" + pair + "\"");
      }
      std::array<series::ColumnChoice, 2> chosen;
      for (std::size_t k = 0; k < 2; ++k) {
        if (const std::optional<series::OptionProblem> problem =
                series::ChooseFields(k == 0 ? first : second, o.File.Header,
                                     o.File.Delimiter, o.Input)) {
          throw Refused(
              series::OptionProblem{"pair", problem->Rule, problem->Value});
        }
        chosen[k] = *o.Input.Column;
      }
      o.Pair = chosen;
      const char* conflict = out_dir == "-" ? "--out -"
                             : s.Spectrum   ? "--spectrum"
                             : s.KeepFq     ? "--fq"
                             : format_option->count() > 0 && format == "dat"
                                 ? "--format dat"
                                 : nullptr;
      if (conflict != nullptr) {
        throw CLI::ValidationError(
            "--pair", std::string("writes one CSV file per series; not with ") +
                          conflict);
      }
      try {
        const mfwindow::CrossAnalyser pair_settings(*o.Settled);
      } catch (const mfwindow::SettingError& e) {
        throw CLI::ValidationError(
            mfwindow::Worded(e, mfwindow::FindSetting(e.Which())->Flag));
      }
    }
    const bool dat = o.Pair                       ? false
                     : format_option->count() > 0 ? format == "dat"
                                                  : out_dir != "-";
    if (s.Surrogates > 0 && dat) {
      throw CLI::ValidationError(
          "--surrogates",
          "the null levels are written only to the CSV; "
          "give --format csv (or leave --surrogates out)");
    }
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      app.exit(e, out, err);  // --help, --version
      return ParseOutcome{std::nullopt, kExitSuccess};
    }
    err << kProgramName << ": " << e.what() << '\n'
        << kUsageLine << '\n'
        << "Run with --help for more information.\n";
    return ParseOutcome{std::nullopt, kExitUsage};
  }
  if (list->count() > 0) o.ListFile = list_file;
  o.Typed = settings.Typed();
  o.Format = format == "csv" ? OutputFormat::kCsv : OutputFormat::kDat;
  o.OutDir = out_dir;
  if (out_dir == "-") {
    o.ToStandardOutput = true;
    if (format_option->count() == 0) o.Format = OutputFormat::kCsv;
  }
  o.Input.OnBadSample = mfwindow::InputPolicy(s.OnBadSample);
  return ParseOutcome{std::move(o), kExitSuccess};
}

}  // namespace batch
