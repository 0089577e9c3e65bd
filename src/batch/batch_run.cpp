#include "batch/batch_run.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>

#include "analysis/moving_window.h"
#include "analysis/parallel_series.h"
#include "analysis/run_constants.h"
#include "api/settings_params.h"
#include "batch/result_records.h"
#include "driver/fatal.h"
#include "driver/interrupt.h"
#include "driver/result_file.h"
#include "driver/series.h"
#include "driver/text_streams.h"
#include "textio/records.h"

namespace batch {
namespace {

namespace fs = std::filesystem;

constexpr int kListNameWidth = 256;  // as mfwindow reads "list"
// How often the reader reports its file position for the time estimate.
constexpr std::uint64_t kPositionEvery = 1024;

std::uint64_t FileSize(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

// Everything the series loop shares.
struct SeriesJob {
  const BatchOptions& Options;
  const BatchIo& Io;
  const analysis::RunConstants& Run;
  analysis::ParallelSeriesAnalyser& Engine;
  ProgressReport& Progress;
  fs::path OutDir;
};

std::string_view MainSuffix(OutputFormat format) {
  return format == OutputFormat::kCsv ? ".csv" : ".dat";
}

// Analyses one series into its result files. Returns why it was skipped,
// or nothing when it was done.
std::optional<std::string> AnalyseOne(const std::string& name, SeriesJob& job) {
  const std::optional<fs::path> place =
      driver::ResultPlace(name, MainSuffix(job.Options.Format));
  if (!place) {
    return "result path for \"" + name + "\" holds a \"..\" component" +
           (name.find('\0') != std::string::npos ? " or a NUL" : "");
  }
  std::ifstream series_file(job.Io.BaseDir / name,
                            std::ios::in | std::ios::binary);
  if (!series_file.is_open()) {
    return "cannot open series file \"" + name + "\" (" + std::strerror(errno) +
           ")";
  }
  driver::TextIn series(series_file,
                        driver::StreamId{driver::kSeriesUnit, name});

  // Failures to create the folders show up when the file is opened.
  std::error_code ignored;
  fs::create_directories((job.OutDir / *place).parent_path(), ignored);
  driver::ResultFile results((job.OutDir / *place).string());
  std::optional<driver::ResultFile> spectrum_file;
  if (job.Options.Given.Spectrum) {
    spectrum_file.emplace(
        (job.OutDir / *driver::ResultPlace(name, ".spectrum.csv")).string());
    spectrum_file->WriteRecord(kSpectrumHeader);
  }
  if (job.Options.Format == OutputFormat::kCsv) {
    results.WriteRecord(kCsvHeader);
  }

  std::uint64_t samples = 0;
  const auto next_sample = [&]() -> std::optional<double> {
    if (++samples % kPositionEvery == 0) {
      const std::streamoff at = series_file.tellg();
      if (at > 0) job.Progress.SetPosition(static_cast<std::uint64_t>(at));
    }
    // A stop request (Ctrl-C, a scheduler's SIGTERM at the time limit)
    // ends the run between samples, with whole lines in every file.
    driver::ThrowIfInterrupted();
    return driver::ReadSample(series);
  };
  std::int32_t windows = 0;
  const auto write_row = [&](const analysis::WindowResult& r) {
    ++windows;
    results.WriteRecord(
        job.Options.Format == OutputFormat::kCsv ? CsvRecord(r) : DatRecord(r));
  };
  const auto no_progress = [](std::int64_t) {};
  if (spectrum_file) {
    job.Engine.AnalyseWithSpectrum(
        next_sample, no_progress,
        [&](const analysis::WindowResult& r,
            const analysis::WindowSpectrum& spectrum) {
          write_row(r);
          for (const std::string& record :
               SpectrumRecords(windows, r.TimeMark, job.Run.QGrid, spectrum)) {
            spectrum_file->WriteRecord(record);
          }
          job.Progress.WindowDone();
        });
  } else {
    job.Engine.Analyse(next_sample, no_progress,
                       [&](const analysis::WindowResult& r) {
                         write_row(r);
                         job.Progress.WindowDone();
                       });
  }

  series_file.close();
  results.Close();
  if (spectrum_file) spectrum_file->Close();
  job.Progress.SeriesDone(name, static_cast<std::uint64_t>(windows));
  return std::nullopt;
}

}  // namespace

std::vector<std::string> ReadListFile(const fs::path& list_path) {
  const driver::StreamId id{driver::kListUnit, list_path.string()};
  std::ifstream file(list_path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    throw driver::FatalError(
        driver::ErrorNumber::kOpenError,
        std::string("cannot open file (") + std::strerror(errno) + ")", id);
  }
  textio::RecordReader reader(file);
  std::vector<std::string> names;
  for (;;) {
    textio::TextRecordResult record =
        textio::ReadTextRecord(reader, kListNameWidth);
    if (record.Status == textio::RecordReader::Status::kEndOfInput) break;
    if (record.Status != textio::RecordReader::Status::kRecord) {
      throw driver::FatalError(driver::ErrorNumber::kReadError,
                               "error during read", id);
    }
    const std::size_t length = driver::LeftAdjust(record.Text);
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
  for (const std::string& line : ClampWarnings(options.Given)) {
    io.Err << line << '\n';
  }
  io.Err.flush();
  const mfwindow::Settings settled = mfwindow::Settle(options.Given);

  const std::vector<std::string> names = SelectShard(
      options.ListFile ? ReadListFile(io.BaseDir / *options.ListFile)
                       : options.Series,
      options.Part);

  analysis::RunConstants run;
  analysis::FillQGrid(run);
  analysis::PrepareRun(run, mfwindow::ToParams(settled));
  analysis::ParallelSeriesAnalyser engine(
      run, settled.Threads > 0 ? settled.Threads : analysis::AvailableCores());

  std::vector<std::uint64_t> sizes;
  std::uint64_t total = 0;
  for (const std::string& name : names) {
    sizes.push_back(FileSize(io.BaseDir / name));
    total += sizes.back();
  }

  // A missing directory is made; a failure shows up at the first result
  // file.
  const fs::path out_dir = io.BaseDir / options.OutDir;
  std::error_code ignored;
  fs::create_directories(out_dir, ignored);

  ProgressReport progress(io.Err, io.Mode, names.size(), total);
  SeriesJob job{options, io, run, engine, progress, out_dir};
  int status = kExitSuccess;
  const driver::InterruptGuard stop_between_windows;
  try {
    for (std::size_t i = 0; i < names.size(); ++i) {
      progress.SeriesStarted(sizes[i]);
      if (std::optional<std::string> skipped = AnalyseOne(names[i], job)) {
        progress.Message(std::string(kProgramName) + ": " + *skipped +
                         "; series skipped");
        progress.SeriesSkipped();
        status = kExitSkipped;
      }
    }
  } catch (...) {
    progress.Finish();  // the report goes below the bar, not into it
    throw;
  }
  progress.Finish();
  return status;
}

}  // namespace batch
