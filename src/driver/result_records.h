// The records of the result files that mfwindow-batch and the library's
// AnalyseFile write, rendered without line ends (the result file adds CR
// LF): mfwindow's fixed-width lines, the CSV rows of the six values, and
// the long CSV layout of each window's whole spectrum; and the streams of
// one series made of them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "driver/series_pipeline.h"

namespace driver {

inline constexpr std::string_view kCsvHeader =
    "time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz";

// The six values separated by commas, each with 17 significant digits
// (textio::FormatFullPrecision), so that they read back to the same
// doubles.
std::string CsvRecord(const analysis::WindowResult& r);

inline constexpr std::string_view kSpectrumHeader =
    "window,time,q,h,tau,m,alpha,f";

// The spectrum rows of window `window_number` (counted from 1) with time
// mark `time`: first one row per moment order, "window,time,q,h,tau,,,",
// in QGrid order; then one row per alpha point, "window,time,,,,m,alpha,f",
// with m counted from 1. Reals with 17 significant digits.
std::vector<std::string> SpectrumRecords(
    std::int64_t window_number, double time, std::span<const double> q_grid,
    const analysis::WindowSpectrum& spectrum);

enum class ResultFormat {
  kDat,  // mfwindow's 90-character lines
  kCsv,  // a header row and the six values at full precision
};

// The result files of one series: the main file ("F(Alfa)_<name>.dat" or
// ".csv") and, with `spectrum`, "F(Alfa)_<name>.spectrum.csv". `run` must
// outlive the streams.
std::vector<ResultStream> ResultStreams(ResultFormat format, bool spectrum,
                                        const analysis::RunConstants& run);

}  // namespace driver
