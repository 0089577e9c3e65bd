#include "driver/result_records.h"

#include <cstddef>

#include "textio/format.h"
#include "textio/full_precision.h"

namespace driver {
namespace {

using textio::FormatFullPrecision;

// Whole numbers below 2^53 render as plain digits at full precision.
std::string Count(std::int64_t n) {
  return FormatFullPrecision(static_cast<double>(n));
}

}  // namespace

std::string CsvRecord(const analysis::WindowResult& r) {
  return FormatFullPrecision(r.TimeMark) + "," +
         FormatFullPrecision(r.AlfaMin) + "," + FormatFullPrecision(r.AlfaMax) +
         "," + FormatFullPrecision(r.AlfaWidth) + "," +
         FormatFullPrecision(r.AlfaSz) + "," + FormatFullPrecision(r.FAlfaSz);
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
                                        const analysis::RunConstants& run) {
  std::vector<ResultStream> streams;
  if (format == ResultFormat::kCsv) {
    streams.push_back(ResultStream{".csv", std::string(kCsvHeader),
                                   [](const analysis::WindowOutcome& outcome,
                                      std::vector<std::string>& records) {
                                     records.push_back(
                                         CsvRecord(outcome.Result));
                                   }});
  } else {
    streams.push_back(ResultLineStream());
  }
  if (spectrum) {
    streams.push_back(ResultStream{
        ".spectrum.csv", std::string(kSpectrumHeader),
        [&run](const analysis::WindowOutcome& outcome,
               std::vector<std::string>& records) {
          for (std::string& record :
               SpectrumRecords(outcome.Number, outcome.Result.TimeMark,
                               run.QGrid, *outcome.Spectrum)) {
            records.push_back(std::move(record));
          }
        }});
  }
  return streams;
}

}  // namespace driver
