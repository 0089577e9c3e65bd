// The library's AnalyseFile: one series file through the same pipeline,
// reading rules and result streams as each series of mfwindow-batch, so
// that a cluster of workers writes the very files the batch tool writes.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "analysis/engine.h"
#include "analysis/params.h"
#include "api/settings_params.h"
#include "api/sidecar.h"
#include "mfwindow/mfwindow.h"
#include "mfwindow/settings_table.h"
#include "series/column_choice.h"
#include "series/fatal.h"
#include "series/result_records.h"
#include "series/series_input.h"
#include "series/series_notes.h"
#include "series/series_pipeline.h"

namespace mfwindow {

series::BadSamplePolicy InputPolicy(BadSamplePolicy policy) {
  switch (policy) {
    case BadSamplePolicy::kStop:
      return series::BadSamplePolicy::kStop;
    case BadSamplePolicy::kSkip:
      return series::BadSamplePolicy::kSkip;
    case BadSamplePolicy::kMask:
      return series::BadSamplePolicy::kMask;
    case BadSamplePolicy::kError:
      break;
  }
  return series::BadSamplePolicy::kError;
}

std::string_view TimeColumnConflict(const Settings& settings) {
  const Settings defaults;
  if (settings.Fs) return "fs";
  if (settings.Tstep != defaults.Tstep) return "dt";
  if (settings.Tini != defaults.Tini) return "t0";
  if (settings.OnBadSample == BadSamplePolicy::kSkip) return "nan";
  return {};
}

void CheckFileOptions(const FileOptions& options) {
  for (const SettingRow& row : SettingRows()) {
    if (!IsFileRow(row) || row.Type != SettingType::kWord) continue;
    const std::string& word =
        options.*std::get<std::string FileOptions::*>(row.Member);
    if (!word.empty() && WordIndex(row, word) < 0) {
      std::string words;
      for (const std::string_view w : row.Words) {
        words += std::string(words.empty() ? "" : ", ") + std::string(w);
      }
      Refuse(row, SettingReason::kNotAWord, "must be one of " + words,
             "\"" + word + "\"");
    }
  }
  if (options.AllColumns) {
    Refuse(*FindSetting("all_columns"), SettingReason::kConflict,
           "is mfwindow-batch's: one AnalyseFile call analyses one column, "
           "so give each Column in turn");
  }
  if (!options.Pair.empty()) {
    Refuse(*FindSetting("pair"), SettingReason::kConflict,
           "is mfwindow-batch's: one AnalyseFile call analyses one series, "
           "so give both series to CrossAnalyser");
  }
}

FileResult AnalyseFile(const std::filesystem::path& file,
                       const Settings& settings, const FileOptions& options) {
  return AnalyseFile(file, Settle(settings), options);
}

FileResult AnalyseFile(const std::filesystem::path& file,
                       const Settled& settled, const FileOptions& options) {
  CheckFileOptions(options);
  const Settings& used = settled.Used();
  const analysis::AnalysisParams params = ToParams(used);

  series::SeriesPipeline pipeline;
  pipeline.Input = series::BatchInput();
  pipeline.Input.OnBadSample = InputPolicy(used.OnBadSample);
  // A file option refused, named as the settings table names it:
  // "column must be a number from 1 or a column name, got \"0\"".
  const auto refuse = [](const series::OptionProblem& problem) {
    Refuse(*FindSetting(problem.Option), SettingReason::kConflict, problem.Rule,
           problem.Value);
  };
  if (const std::optional<series::OptionProblem> problem = series::ChooseFields(
          options.Column, options.Header, options.Delimiter, pipeline.Input)) {
    refuse(*problem);
  }
  const bool labels = !options.TimeLabels.empty();
  if (labels && !options.TimeColumn.empty()) {
    Refuse(*FindSetting("time_labels"), SettingReason::kConflict,
           "cannot be given with time_column: the stamps either set the "
           "time axis or label the windows");
  }
  if (!options.TimeColumn.empty() || labels) {
    const std::string_view name = labels ? "time_labels" : "time_column";
    if (const std::optional<series::OptionProblem> problem =
            series::ChooseTimeColumn(
                labels ? options.TimeLabels : options.TimeColumn,
                pipeline.Input, labels)) {
      refuse(*problem);
    }
    if (const std::string_view other = TimeColumnConflict(used);
        !other.empty()) {
      Refuse(*FindSetting(name), SettingReason::kConflict,
             "cannot be given with " + std::string(other) +
                 ": the time stamps give the times and keep each "
                 "sample's place");
    }
  }
  const std::unique_ptr<analysis::SeriesEngine> engine =
      analysis::MakeEngine(ToTables(used), EngineRequestOf(used));

  pipeline.BaseDir = options.BaseDir.empty() ? std::filesystem::current_path()
                                             : options.BaseDir;
  pipeline.Policy = series::OpenFailure::kSkipAll;
  pipeline.Staged = true;
  pipeline.FailWhenEveryWindowIsAGap = true;
  pipeline.BridgeGaps = used.Fill == GapFill::kLinear ? used.MaxGap : 0;
  pipeline.WatchForNoise = true;
  pipeline.Prefix = series::ColumnPrefix(pipeline.Input.Column);
  pipeline.WithSpectrum = used.Spectrum;
  if (!options.OutDir.empty()) {
    pipeline.ResultDir = pipeline.BaseDir / options.OutDir;
    std::error_code ignored;  // a failure shows up at the result file
    std::filesystem::create_directories(pipeline.ResultDir, ignored);
    pipeline.Streams = series::ResultStreams(
        options.Csv ? series::ResultFormat::kCsv : series::ResultFormat::kDat,
        used.Spectrum, engine->Run(), used.Fill == GapFill::kLinear);
  }

  FileResult out;
  out.Result.Used = used;
  DescribeRun(*engine, out.Result);
  pipeline.WindowDone = [&out](const analysis::WindowOutcome& outcome) {
    KeepWindow(outcome, out.Result);
  };
  pipeline.Sidecar = [&](const series::SeriesReport& done) {
    Settings axis = used;  // the stamps' time axis as t0 and dt
    if (done.Time) {
      axis.Tini = done.Time->Tini;
      axis.Tstep = done.Time->Tstep;
    }
    return SidecarJson(options.Program, axis, done.Name, done,
                       NoteTexts(done.Name, done, params.Lrec));
  };
  const std::string name = file.string();
  series::SeriesReport report;
  try {
    report = series::RunSeries(pipeline, name, name, *engine,
                               analysis::PlanOf(params));
  } catch (const series::FatalError& e) {
    throw std::runtime_error(series::FatalReport(e));
  }
  out.Name = report.Name.empty() ? name : report.Name;
  if (report.Skipped || report.Failed) {
    out.Failure = report.Skipped ? *report.Skipped : *report.Failed;
    out.Result.Rows.clear();
    out.Result.Spectra.clear();
    return out;
  }
  if (report.Time) {
    out.Result.Used.Tini = report.Time->Tini;
    out.Result.Used.Tstep = report.Time->Tstep;
    if (!report.Time->Origin.empty()) out.TimeOriginNs = report.Time->OriginNs;
  }
  out.Result.SamplesUsed = report.Input.Samples + report.Input.Masked;
  out.Result.SamplesSkipped = report.Input.Skipped;
  out.Result.SamplesMasked = report.Input.Masked;
  if (std::optional<std::string> short_window =
          series::ShortWindowWarning(used.Lrec)) {
    out.Notes.push_back("warning: " + *short_window);
  }
  for (std::string& note : NoteTexts(out.Name, report, params.Lrec)) {
    out.Notes.push_back(std::move(note));
  }
  return out;
}

}  // namespace mfwindow
