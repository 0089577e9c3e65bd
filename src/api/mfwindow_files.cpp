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
#include "driver/fatal.h"
#include "driver/result_records.h"
#include "driver/series_input.h"
#include "driver/series_notes.h"
#include "driver/series_pipeline.h"
#include "mfwindow/mfwindow.h"

namespace mfwindow {
namespace {

driver::BadSamplePolicy InputPolicy(BadSamplePolicy policy) {
  switch (policy) {
    case BadSamplePolicy::kStop:
      return driver::BadSamplePolicy::kStop;
    case BadSamplePolicy::kSkip:
      return driver::BadSamplePolicy::kSkip;
    case BadSamplePolicy::kError:
      break;
  }
  return driver::BadSamplePolicy::kError;
}

}  // namespace

FileResult AnalyseFile(const std::filesystem::path& file,
                       const Settings& settings, const FileOptions& options) {
  const Settings used = Settle(settings);
  const analysis::AnalysisParams params = ToParams(used);

  driver::SeriesPipeline pipeline;
  pipeline.Input = driver::BatchInput();
  pipeline.Input.OnBadSample = InputPolicy(used.OnBadSample);
  if (const std::optional<std::string> problem =
          driver::ChooseFields(options.Column, options.Header,
                               options.Delimiter, "", pipeline.Input)) {
    throw std::invalid_argument(*problem);
  }
  const std::unique_ptr<analysis::SeriesEngine> engine = analysis::MakeEngine(
      ToTables(used),
      analysis::EngineRequest{analysis::EngineKind::kFast, used.Threads});

  pipeline.BaseDir = options.BaseDir.empty() ? std::filesystem::current_path()
                                             : options.BaseDir;
  pipeline.Policy = driver::OpenFailure::kSkipAll;
  pipeline.WithSpectrum = used.Spectrum;
  if (!options.OutDir.empty()) {
    pipeline.ResultDir = pipeline.BaseDir / options.OutDir;
    std::error_code ignored;  // a failure shows up at the result file
    std::filesystem::create_directories(pipeline.ResultDir, ignored);
    pipeline.Streams = driver::ResultStreams(
        options.Csv ? driver::ResultFormat::kCsv : driver::ResultFormat::kDat,
        used.Spectrum, engine->Run());
  }

  FileResult out;
  out.Result.Used = used;
  DescribeRun(*engine, out.Result);
  pipeline.WindowDone = [&out](const analysis::WindowOutcome& outcome) {
    KeepWindow(outcome, out.Result);
  };
  const std::string name = file.string();
  driver::SeriesReport report;
  try {
    report = driver::RunSeries(pipeline, name, name, *engine,
                               analysis::PlanOf(params));
  } catch (const driver::FatalError& e) {
    throw std::runtime_error(driver::FatalReport(e));
  }
  out.Name = report.Name.empty() ? name : report.Name;
  if (report.Skipped || report.Failed) {
    out.Failure = report.Skipped ? *report.Skipped : *report.Failed;
    out.Result.Rows.clear();
    out.Result.Spectra.clear();
    return out;
  }
  out.Result.SamplesUsed = report.Input.Samples;
  out.Result.SamplesSkipped = report.Input.Skipped;
  if (std::optional<std::string> short_window =
          driver::ShortWindowWarning(used.Lrec)) {
    out.Notes.push_back("warning: " + *short_window);
  }
  for (const driver::SeriesNote& note :
       driver::SeriesNotes(out.Name, report, params.Lrec)) {
    out.Notes.push_back((note.Warning ? "warning: " : "note: ") + note.Text);
  }
  return out;
}

}  // namespace mfwindow
