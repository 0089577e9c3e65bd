#include "batch/batch_run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "analysis/engine.h"
#include "api/settings_params.h"
#include "api/sidecar.h"
#include "series/column_choice.h"
#include "series/fatal.h"
#include "series/interrupt.h"
#include "series/result_file.h"
#include "series/result_records.h"
#include "series/series_notes.h"
#include "series/series_pipeline.h"
#include "textio/fields.h"
#include "textio/full_precision.h"
#include "textio/records.h"

namespace batch {
namespace {

namespace fs = std::filesystem;

constexpr int kListNameWidth = 256;  // as mfwindow reads "list"

std::uint64_t FileSize(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

// The start of a pair's result names, "F(Alfa)@<A>+<B>_", each column as
// ColumnPrefix writes it: a '+' is never part of one column's prefix
// (it is written %2B there), so no pair shares a name with a column.
std::string PairPrefix(const std::array<series::ColumnChoice, 2>& pair) {
  std::string prefix = "F(Alfa)@";
  for (std::size_t k = 0; k < 2; ++k) {
    if (k == 1) prefix.push_back('+');
    if (pair[k].Index == 1) {
      prefix.push_back('1');
    } else {
      const std::string one = series::ColumnPrefix(pair[k]);  // F(Alfa)@.._
      constexpr std::size_t kStart = std::string_view("F(Alfa)@").size();
      prefix.append(one, kStart, one.size() - kStart - 1);
    }
  }
  prefix.push_back('_');
  return prefix;
}

// Column `column` of series file `path` (messages name it `name`), read
// whole as the batch reads a series. Throws series::BadSeriesInput.
std::vector<double> ReadColumn(const fs::path& path, const std::string& name,
                               series::InputOptions input,
                               const series::ColumnChoice& column) {
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    throw series::BadSeriesInput(
        name + ": cannot open file (" + std::strerror(errno) + ")", false);
  }
  input.Column = column;
  const std::unique_ptr<series::SampleReader> reader =
      series::MakeSampleReader(file, name, input);
  std::vector<double> values;
  while (const std::optional<double> sample = reader->Next()) {
    values.push_back(*sample);
  }
  return values;
}

// One CSV row per window of a pair: the cross spectrum's summary, lambda,
// the statuses and flags, at full precision; flags as 0 or 1.
std::string PairHeader(bool surrogates) {
  std::string header =
      "time,alpha_min,alpha_max,alpha_width,alpha_sz,f_alpha_sz,lambda_xy,"
      "min_r2,negative_share,status,status_x,status_y,negative_covariance,"
      "cov_sign_changes";
  if (surrogates) header.append(",surrogates_used");
  return header;
}

std::string PairRecord(const mfwindow::CrossRow& row, bool surrogates) {
  std::string record;
  for (const double v :
       {row.TimeMark, row.AlfaMin, row.AlfaMax, row.AlfaWidth, row.AlfaSz,
        row.FAlfaSz, row.Lambda, row.MinRSquared, row.NegativeShare}) {
    record.append(textio::FormatFullPrecision(v));
    record.push_back(',');
  }
  for (const mfwindow::Quality q : {row.Status, row.StatusX, row.StatusY}) {
    record.append(mfwindow::QualityName(q));
    record.push_back(',');
  }
  record.push_back(row.NegativeCovariance ? '1' : '0');
  record.push_back(',');
  record.push_back(row.CovarianceSignChanges ? '1' : '0');
  if (surrogates) {
    record.push_back(',');
    record.append(std::to_string(row.SurrogatesUsed));
  }
  return record;
}

// --pair: each series file's two columns analysed together, one CSV each.
int RunPairs(const BatchOptions& options, const BatchIo& io,
             const mfwindow::Settled& settled,
             const std::vector<std::string>& names) {
  const std::string program(kProgramName);
  mfwindow::CrossAnalyser analyser(settled);
  const bool surrogates = settled.Used().Surrogates > 0;
  const std::string prefix = PairPrefix(*options.Pair);
  const fs::path out_dir = io.BaseDir / options.OutDir;
  std::uint64_t total = 0;
  for (const std::string& name : names) total += FileSize(io.BaseDir / name);
  ProgressReport progress(io.Err, io.Mode, names.size(), total);
  int status = kExitSuccess;
  const series::InterruptGuard stop_between_windows;
  const auto go_on = [&progress](std::int64_t, std::int64_t) {
    progress.WindowDone();
    try {
      series::ThrowIfInterrupted();
    } catch (const series::Interrupted&) {
      return false;
    }
    return true;
  };
  try {
    for (const std::string& name : names) {
      progress.SeriesStarted(FileSize(io.BaseDir / name));
      const std::optional<fs::path> place =
          series::ResultPlace(name, ".csv", prefix);
      std::string failure = place ? std::string() : *series::RefusedName(name);
      mfwindow::CrossResult result;
      if (failure.empty()) {
        try {
          const fs::path path = io.BaseDir / name;
          const std::vector<double> x =
              ReadColumn(path, name, options.Input, (*options.Pair)[0]);
          const std::vector<double> y =
              ReadColumn(path, name, options.Input, (*options.Pair)[1]);
          result = analyser.Analyse(x, y, go_on);
        } catch (const series::BadSeriesInput& e) {
          failure = e.what();
        } catch (const mfwindow::BadSampleError& e) {
          failure = name + ": " + e.what();
        } catch (const std::invalid_argument& e) {
          failure = name + ": " + e.what();
        } catch (const mfwindow::Stopped&) {
          series::ThrowIfInterrupted();
          throw;
        }
      }
      if (!failure.empty()) {
        std::string line = program;
        line.append(": ").append(failure).append("; series skipped");
        progress.Message(line);
        progress.SeriesSkipped();
        status = kExitSkipped;
        continue;
      }
      const fs::path path = out_dir / *place;
      std::error_code ignored;  // a failure shows up at the result file
      fs::create_directories(path.parent_path(), ignored);
      series::ResultFile file = series::ResultFile::Staged(path.string());
      file.WriteRecord(PairHeader(surrogates));
      for (const mfwindow::CrossRow& row : result.Rows) {
        file.WriteRecord(PairRecord(row, surrogates));
      }
      file.Close();
      for (const std::string& warning : result.Warnings) {
        std::string line = program;
        line.append(": warning: ").append(name).append(": ").append(warning);
        progress.Message(line);
      }
      progress.SeriesDone(name, static_cast<std::uint64_t>(result.Rows.size()));
    }
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
  return status;
}

}  // namespace

std::vector<std::string> ReadListFile(const fs::path& list_path) {
  const series::StreamId id{series::kListUnit, list_path.string()};
  std::ifstream file(list_path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    throw series::FatalError(
        series::ErrorNumber::kOpenError,
        std::string("cannot open file (") + std::strerror(errno) + ")", id);
  }
  textio::RecordReader reader(file,
                              textio::RecordRules{.SkipByteOrderMark = true});
  std::vector<std::string> names;
  for (;;) {
    textio::TextRecordResult record =
        textio::ReadTextRecord(reader, kListNameWidth);
    if (record.Status == textio::RecordReader::Status::kEndOfInput) break;
    if (record.Status != textio::RecordReader::Status::kRecord) {
      throw series::FatalError(series::ErrorNumber::kReadError,
                               "error during read", id);
    }
    const std::size_t length = textio::LeftAdjust(record.Text);
    if (length > 0) names.push_back(record.Text.substr(0, length));
  }
  return names;
}

std::vector<std::string> SelectShard(const std::vector<std::string>& names,
                                     Shard part) {
  std::vector<std::string> mine;
  const auto step = static_cast<std::size_t>(part.Count);
  for (auto i = static_cast<std::size_t>(part.Index - 1); i < names.size();
       i += step) {
    mine.push_back(names[i]);
  }
  return mine;
}

int RunBatch(const BatchOptions& options, BatchIo io) {
  const std::string program(kProgramName);
  const mfwindow::Settled settled_once =
      options.Settled ? *options.Settled : mfwindow::Settle(options.Given);
  for (const std::string& line : ClampWarnings(settled_once, options.Typed)) {
    io.Err << line << '\n';
  }
  const mfwindow::Settings& settled = settled_once.Used();
  const analysis::AnalysisParams params = mfwindow::ToParams(settled);
  if (const std::optional<std::string> short_window =
          series::ShortWindowWarning(params.Lrec)) {
    io.Err << program << ": warning: " << *short_window << '\n';
  }
  io.Err.flush();

  const std::vector<std::string> names = SelectShard(
      options.ListFile ? ReadListFile(io.BaseDir / *options.ListFile)
                       : options.Series,
      options.Part);
  if (options.ToStandardOutput && names.size() > 1) {
    io.Err << program << ": --out - writes one series to standard output; "
           << names.size() << " series given\n"
           << kUsageLine << '\n';
    return kExitUsage;
  }
  const auto is_standard_input = [&io](const std::string& name) {
    return io.In != nullptr && name == series::kStandardInputName;
  };
  // A second reading of standard input finds it used up: its result would
  // replace the first one's with an empty file.
  if (std::count_if(names.begin(), names.end(), is_standard_input) > 1) {
    io.Err << program << ": \"-\" is listed more than once; standard input "
           << "can be read only once\n"
           << kUsageLine << '\n';
    return kExitUsage;
  }

  if (options.Pair) return RunPairs(options, io, settled_once, names);

  // Refused here, before anything is allocated, when the system could
  // never hold it.
  const std::unique_ptr<analysis::SeriesEngine> engine = analysis::MakeEngine(
      mfwindow::ToTables(settled), mfwindow::EngineRequestOf(settled));
  if (options.Verbose) {
    const analysis::EngineChoice choice = engine->Choice();
    io.Err << program << ": " << analysis::KernelName(choice.Kernel)
           << " kernel, " << analysis::SchedulerName(choice.Scheduler)
           << " scheduler, " << std::to_string(choice.Threads)
           << (choice.Threads == 1 ? " thread\n" : " threads\n");
  }

  // Each series once per column it is analysed for.
  struct Job {
    std::size_t Series;
    std::optional<series::ColumnChoice> Column;
  };
  std::vector<Job> jobs;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (options.File.AllColumns && !is_standard_input(names[i])) {
      std::ifstream file(io.BaseDir / names[i],
                         std::ios::in | std::ios::binary);
      // A file that cannot be read is run once, to be reported so.
      const std::int32_t count =
          file.is_open() ? series::CountColumns(file, options.Input) : 0;
      // The time column holds no series.
      std::int32_t time = 0;
      if (options.Input.TimeColumn && file.is_open()) {
        file.clear();
        file.seekg(0);
        time =
            series::FindColumn(file, options.Input, *options.Input.TimeColumn);
      }
      for (std::int32_t c = 1; c <= std::max(count, 1); ++c) {
        if (c != time) jobs.push_back({i, series::ColumnChoice{c, ""}});
      }
    } else if (!options.Columns.empty()) {
      for (const series::ColumnChoice& c : options.Columns) {
        jobs.push_back({i, c});
      }
    } else {
      jobs.push_back({i, options.Input.Column});
    }
  }
  const bool several_columns =
      options.File.AllColumns || options.Columns.size() > 1;

  std::vector<std::uint64_t> sizes;
  std::uint64_t total = 0;
  for (const Job& job : jobs) {
    const std::string& name = names[job.Series];
    sizes.push_back(is_standard_input(name) ? 0 : FileSize(io.BaseDir / name));
    total += sizes.back();
  }

  // A missing directory is made; a failure shows up at the first result
  // file.
  const fs::path out_dir = io.BaseDir / options.OutDir;
  if (!options.ToStandardOutput) {
    std::error_code ignored;
    fs::create_directories(out_dir, ignored);
  }

  ProgressReport progress(io.Err, io.Mode, jobs.size(), total);
  series::SeriesPipeline pipeline;
  pipeline.BaseDir = io.BaseDir;
  pipeline.ResultDir = out_dir;
  pipeline.Policy = series::OpenFailure::kSkipAll;
  pipeline.Input = options.Input;
  pipeline.StandardInput = io.In;
  pipeline.ToStandardOutput = options.ToStandardOutput;
  pipeline.Staged = true;
  pipeline.FailWhenEveryWindowIsAGap = true;
  const bool fill = options.Given.Fill == mfwindow::GapFill::kLinear;
  pipeline.BridgeGaps = fill ? options.Given.MaxGap : 0;
  pipeline.WatchForNoise = true;
  pipeline.Streams = series::ResultStreams(
      options.Format == OutputFormat::kCsv ? series::ResultFormat::kCsv
                                           : series::ResultFormat::kDat,
      options.Given.Spectrum, engine->Run(), fill);
  pipeline.WithSpectrum = options.Given.Spectrum;
  pipeline.WindowDone = [&progress](const analysis::WindowOutcome&) {
    progress.WindowDone();
  };
  pipeline.FilePosition = [&progress](std::uint64_t at) {
    progress.SetPosition(at);
  };
  pipeline.Sidecar = [&](const series::SeriesReport& report) {
    // The stamps' time axis stands in the settings as t0 and dt.
    mfwindow::Settings used = settled;
    if (report.Time) {
      used.Tini = report.Time->Tini;
      used.Tstep = report.Time->Tstep;
    }
    return mfwindow::SidecarJson(
        program, used, report.Name, report,
        mfwindow::NoteTexts(report.Name, report, params.Lrec));
  };

  // The reading decides what a non-finite sample is: a gap only when the
  // reader keeps it in place.
  analysis::WindowPlan plan = analysis::PlanOf(params);
  plan.MaskGaps = options.Input.OnBadSample == series::BadSamplePolicy::kMask;

  int status = kExitSuccess;
  const series::InterruptGuard stop_between_windows;
  try {
    for (std::size_t j = 0; j < jobs.size(); ++j) {
      const std::string& name = names[jobs[j].Series];
      progress.SeriesStarted(sizes[j]);
      // Standard input's results are named "stdin", as its messages are.
      const std::string result_name =
          is_standard_input(name) ? std::string(series::kStandardInputLabel)
                                  : name;
      pipeline.Input.Column = jobs[j].Column;
      pipeline.Prefix = series::ColumnPrefix(jobs[j].Column);
      series::SeriesReport report =
          series::RunSeries(pipeline, name, result_name, *engine, plan);
      if (several_columns) {
        const series::ColumnChoice& c = *jobs[j].Column;
        report.Name +=
            " column " + (c.Index > 0 ? std::to_string(c.Index) : c.Name);
      }
      if (report.Skipped) {
        progress.Message(program + ": " + *report.Skipped + "; series skipped");
        progress.SeriesSkipped();
        status = kExitSkipped;
      } else if (report.Failed) {
        progress.Message(program + ": " + *report.Failed + "; series failed" +
                         (report.FailedOnBadSample
                              ? " (--on-bad-sample stop or skip reads on)"
                              : ""));
        progress.SeriesSkipped();
        status = kExitSkipped;
      } else {
        for (const series::SeriesNote& note :
             series::SeriesNotes(report.Name, report, params.Lrec)) {
          progress.Message(program +
                           (note.Warning ? ": warning: " : ": note: ") +
                           note.Text);
        }
        progress.SeriesDone(report.Name,
                            static_cast<std::uint64_t>(report.Windows));
      }
    }
    series::ThrowIfInterrupted();
  } catch (...) {
    progress.Finish();  // the report goes below the bar, not into it
    throw;
  }
  progress.Finish();
  return status;
}

}  // namespace batch
