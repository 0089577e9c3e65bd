#include "batch/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <system_error>

#include "analysis/settle.h"

namespace batch {
namespace {

// Shown after the flags by --help.
constexpr const char* kHelpFooter =
    R"(Series files hold one sample per line, read as mfwindow reads them: the first
value of each line; a series ends at the end of its file, at the first line
that cannot be read as a number, or at a line that starts with a comma or a
slash. Names in a --list file are read as mfwindow reads "list" (the first
256 characters of each line, leading blanks dropped); blank lines are
skipped. Relative names are taken from the current directory. Settings out of
range are clamped as mfwindow's dialogue clamps its answers, with a warning.

Result files go to DIR, one set per series. A name with a directory part gets
subfolders there; a name whose result would lie outside DIR (..) is skipped.
  F(Alfa)_<name>.dat    --format dat: mfwindow's result lines, byte for byte:
      time, AlfaMin, AlfaMax, AlfaMax-AlfaMin, AlfaSz, F(AlfaSz), six
      15-character columns, CR LF
  F(Alfa)_<name>.csv    --format csv: the header row
      time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz
      then one row per window, the same six values with 17 significant
      digits (they read back to the exact doubles), CR LF
  F(Alfa)_<name>.spectrum.csv    --spectrum: the header row
      window,time,q,h,tau,m,alpha,f
      then for each window (counted from 1; time as in the result file)
      200 rows window,time,q,h,tau,,, (q ascending from -10 to 10)
      and 100 rows window,time,,,,m,alpha,f (m = 1..100, alpha ascending);
      17 significant digits, CR LF; h and tau are nan for a degenerate window

Exit status: 0 every series done; 1 some series skipped (each named on
standard error with the reason); 2 bad usage; 3 a result file could not be
created or written (the run stops there).)";

}  // namespace

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

std::vector<std::string> ClampWarnings(const mfwindow::Settings& given,
                                       const TypedSettings& typed) {
  static constexpr std::string_view kFlags[] = {"--order", "--window",
                                                "--min-scale", "--shift"};
  std::vector<std::string> lines;
  for (const mfwindow::ClampedValue& c : mfwindow::ClampedValues(given)) {
    // A default the user never typed is settled without a word (a short
    // --window lowers the minimum scale below its default, for example).
    if (!typed[static_cast<std::size_t>(c.Which)]) continue;
    lines.push_back(std::string(kProgramName) + ": warning: " +
                    std::string(kFlags[static_cast<int>(c.Which)]) + " " +
                    std::to_string(c.Given) + " is out of range; using " +
                    std::to_string(c.Used));
  }
  return lines;
}

ParseOutcome ParseCommandLine(int argc, const char* const* argv,
                              std::ostream& out, std::ostream& err) {
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

  app.add_option("--incr", s.IncrFlag,
                 "1: analyse the increments inside each window (0/1)")
      ->check(CLI::IsMember({0, 1}))
      ->capture_default_str();
  CLI::Option* order =
      app.add_option("--order", s.TrendOrder,
                     "detrending polynomial order, clamped into 1..10")
          ->capture_default_str();
  CLI::Option* window =
      app.add_option("--window", s.Lrec,
                     "window length Lrec in samples, at least 32")
          ->capture_default_str();
  CLI::Option* min_scale =
      app.add_option("--min-scale", s.MinScale,
                     "minimum scale: min(max(N, 20), Lrec/10)")
          ->capture_default_str();
  CLI::Option* shift =
      app.add_option("--shift", s.WinShift,
                     "samples between window starts, clamped into 1..Lrec")
          ->capture_default_str();
  app.add_option("--tini", s.Tini, "time mark one step before the first sample")
      ->capture_default_str();
  app.add_option("--tstep", s.Tstep,
                 "time step, greater than 0 (sample j lies at "
                 "Tini + j*Tstep)")
      ->capture_default_str();
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
                 "directory of the result files, created if missing")
      ->type_name("DIR")
      ->capture_default_str();
  app.add_option("--threads", s.Threads, "threads; 0: every core available")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return !text.empty() && text.front() == '-'
                       ? "must not be negative: " + text
                       : std::string();
          },
          "NONNEGATIVE"))
      ->capture_default_str();
  std::string shard = "1/1";
  app.add_option("--shard", shard,
                 "take series I, I+N, I+2N, ... of the list (from 1)")
      ->type_name("I/N")
      ->capture_default_str();
  std::string format = "dat";
  app.add_option("--format", format, "dat or csv")
      ->check(CLI::IsMember({"dat", "csv"}))
      ->capture_default_str();
  app.add_flag("--spectrum", s.Spectrum,
               "also write each window's whole spectrum");
  app.add_flag("--quiet", o.Quiet, "no progress on standard error");

  try {
    app.parse(argc, argv);
    if (series->count() == 0 && list->count() == 0) {
      throw CLI::RequiredError("SERIES or --list");
    }
    if (!analysis::AcceptTstep(s.Tstep)) {
      throw CLI::ValidationError(
          "--tstep", "must be greater than 0: " +
                         app.get_option("--tstep")->as<std::string>());
    }
    if (!analysis::AcceptTimeAxis(s.Tini, s.Tstep)) {
      throw CLI::ValidationError(
          "--tini/--tstep", "must be finite numbers: " +
                                app.get_option("--tini")->as<std::string>() +
                                ", " +
                                app.get_option("--tstep")->as<std::string>());
    }
    const std::optional<Shard> part = ParseShard(shard);
    if (!part) {
      throw CLI::ValidationError("--shard",
                                 "expected I/N with 1 <= I <= N, got " + shard);
    }
    o.Part = *part;
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
  o.Typed = {order->count() > 0, window->count() > 0, min_scale->count() > 0,
             shift->count() > 0};
  o.Format = format == "csv" ? OutputFormat::kCsv : OutputFormat::kDat;
  o.OutDir = out_dir;
  return ParseOutcome{std::move(o), kExitSuccess};
}

}  // namespace batch
