#include "series/result_records.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "textio/format.h"
#include "textio/full_precision.h"

namespace series {
namespace {

using textio::FormatFullPrecision;
using Writer = std::function<void(std::string_view)>;

// Whole numbers below 2^53 render as plain digits at full precision.
std::string Count(std::int64_t n) {
  return FormatFullPrecision(static_cast<double>(n));
}

}  // namespace

std::string_view StatusWord(analysis::QualityStatus status) {
  switch (status) {
    case analysis::QualityStatus::kDegenerate:
      return "degenerate";
    case analysis::QualityStatus::kNonFiniteInput:
      return "non_finite_input";
    case analysis::QualityStatus::kOverflow:
      return "overflow";
    case analysis::QualityStatus::kFlatSegments:
      return "flat_segments";
    case analysis::QualityStatus::kShortForOrder:
      return "short_for_order";
    case analysis::QualityStatus::kCrossover:
      return "crossover";
    case analysis::QualityStatus::kPoorFit:
      return "poor_fit";
    case analysis::QualityStatus::kNotConcave:
      return "not_concave";
    case analysis::QualityStatus::kGap:
      return "gap";
    case analysis::QualityStatus::kFilled:
      return "filled";
    case analysis::QualityStatus::kOk:
      break;
  }
  return "ok";
}

std::string CsvRecord(const analysis::WindowOutcome& outcome, bool filled) {
  const analysis::WindowResult& r = outcome.Result;
  const analysis::WindowQuality& q = outcome.Quality;
  std::string record;
  const auto field = [&record](std::string_view text) {
    if (!record.empty()) record.push_back(',');
    record.append(text);
  };
  for (const double v :
       {r.TimeMark, r.AlfaMin, r.AlfaMax, r.AlfaWidth, r.AlfaSz, r.FAlfaSz}) {
    field(FormatFullPrecision(v));
  }
  field(StatusWord(q.Status));
  for (const double v : {q.ZeroShare, q.FloorShare, q.MinRSquared}) {
    field(FormatFullPrecision(v));
  }
  if (const analysis::WindowNull* n = outcome.Null) {
    for (const double v : {n->WidthMedian, n->WidthP95, n->WidthP,
                           n->AlfaSzMedian, n->AlfaSzP95, n->AlfaSzP}) {
      field(FormatFullPrecision(v));
    }
    field(Count(n->IaaftAtCap));
    field(Count(n->Used));
  }
  for (const double v : {q.H2Se, q.WidthSe, q.CrossoverScale}) {
    field(FormatFullPrecision(v));
  }
  if (filled) field(FormatFullPrecision(q.FilledShare));
  return record;
}

void FqRecords(std::int64_t window_number, double time,
               const analysis::RunConstants& run, const std::vector<double>& fq,
               const std::function<void(std::string_view)>& write) {
  const std::string lead =
      Count(window_number) + "," + FormatFullPrecision(time) + ",";
  const std::size_t orders = run.QGrid.size();
  std::string record;
  for (std::size_t k = 0; k < run.ScaleLen.size(); ++k) {
    const std::string scale = FormatFullPrecision(run.LogScale[k]) + "," +
                              Count(run.ScaleLen[k]) + ",";
    for (std::size_t j = 0; j < orders; ++j) {
      record = lead;
      record += FormatFullPrecision(run.QGrid[j]);
      record += ',';
      record += scale;
      record += FormatFullPrecision(fq[k * orders + j]);
      write(record);
    }
  }
}

std::vector<std::string> SpectrumRecords(
    std::int64_t window_number, double time, std::span<const double> q_grid,
    const analysis::WindowSpectrum& spectrum) {
  const std::string lead =
      Count(window_number) + "," + FormatFullPrecision(time) + ",";
  std::vector<std::string> records;
  records.reserve(q_grid.size() + spectrum.AlfaGrid.size());
  for (std::size_t j = 0; j < q_grid.size(); ++j) {
    records.push_back(lead + FormatFullPrecision(q_grid[j]) + "," +
                      FormatFullPrecision(spectrum.HurstQ[j]) + "," +
                      FormatFullPrecision(spectrum.TauQ[j]) + ",,,");
  }
  for (std::size_t m = 0; m < spectrum.AlfaGrid.size(); ++m) {
    records.push_back(lead + ",,," + Count(static_cast<std::int64_t>(m + 1)) +
                      "," + FormatFullPrecision(spectrum.AlfaGrid[m]) + "," +
                      FormatFullPrecision(spectrum.FAlfaGrid[m]));
  }
  return records;
}

std::vector<ResultStream> ResultStreams(ResultFormat format, bool spectrum,
                                        const analysis::RunConstants& run,
                                        bool filled) {
  std::vector<ResultStream> streams;
  if (format == ResultFormat::kCsv) {
    std::string header(kCsvHeader);
    if (run.Params.Surrogates.Count > 0) header += kCsvNullHeader;
    header += kCsvFitHeader;
    if (filled) header += kCsvFilledHeader;
    streams.push_back(ResultStream{
        ".csv", header,
        [filled](const analysis::WindowOutcome& outcome, const Writer& write) {
          write(CsvRecord(outcome, filled));
        },
        true});
  } else {
    streams.push_back(ResultLineStream());
  }
  if (spectrum) {
    streams.push_back(ResultStream{
        ".spectrum.csv", std::string(kSpectrumHeader),
        [&run](const analysis::WindowOutcome& outcome, const Writer& write) {
          for (const std::string& record :
               SpectrumRecords(outcome.Number, outcome.Result.TimeMark,
                               run.QGrid, *outcome.Spectrum)) {
            write(record);
          }
        }});
  }
  if (run.Params.Method.KeepFq) {
    streams.push_back(ResultStream{
        ".fq.csv", std::string(kFqHeader),
        [&run](const analysis::WindowOutcome& outcome, const Writer& write) {
          FqRecords(outcome.Number, outcome.Result.TimeMark, run, *outcome.Fq,
                    write);
        }});
  }
  return streams;
}

}  // namespace series
