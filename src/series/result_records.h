// The records of the result files that mfwindow-batch and the library's
// AnalyseFile write, rendered without line ends (the result file adds CR
// LF): mfwindow's fixed-width lines, the CSV rows of the six values, and
// the long CSV layout of each window's whole spectrum; and the streams of
// one series made of them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "series/series_pipeline.h"

namespace series {

// The CSV result: the six values of the result line, then the window's
// quality, then (with surrogates) its null levels, then the fits' standard
// errors and crossover scale.
inline constexpr std::string_view kCsvHeader =
    "time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz,status,zero_share,"
    "floor_share,min_r2";
inline constexpr std::string_view kCsvNullHeader =
    ",width_null_median,width_null_p95,width_p,alfa_sz_null_median,"
    "alfa_sz_null_p95,alfa_sz_p,iaaft_at_cap,surrogates_used";
inline constexpr std::string_view kCsvFitHeader =
    ",h2_se,width_se,crossover_scale";
// When gaps are bridged.
inline constexpr std::string_view kCsvFilledHeader = ",filled_share";
// Last of all, when the series' time stamps are dates: time_iso
// (ResultStream::Dated).

// The status column's words.
//   kOk -> "ok", kDegenerate -> "degenerate", kNonFiniteInput ->
//   "non_finite_input", kOverflow -> "overflow", kFlatSegments ->
//   "flat_segments", kShortForOrder -> "short_for_order", kCrossover ->
//   "crossover", kPoorFit -> "poor_fit", kNotConcave -> "not_concave",
//   kGap -> "gap"
std::string_view StatusWord(analysis::QualityStatus status);

// One window's CSV row: the values separated by commas, each real with 17
// significant digits (textio::FormatFullPrecision), so that they read back
// to the same doubles; the null levels when the window has them, and its
// filled share with `filled`.
std::string CsvRecord(const analysis::WindowOutcome& outcome,
                      bool filled = false);

inline constexpr std::string_view kFqHeader =
    "window,time,q,log_scale,scale,fq";

// F_q(s) of one window, one row per scale index and order (orders fastest):
// "window,time,q,log_scale,scale,fq", the scale as its segment length.
// Each row goes to `write` as soon as it is made: a window may have
// 10^8 of them.
void FqRecords(std::int64_t window_number, double time,
               const analysis::RunConstants& run, const std::vector<double>& fq,
               const std::function<void(std::string_view)>& write);

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
// ".csv", the CSV with the null levels when the run makes surrogates), with
// `spectrum` "F(Alfa)_<name>.spectrum.csv", and when the run keeps F_q(s)
// "F(Alfa)_<name>.fq.csv"; the CSV ends with the filled share when
// `filled` (gaps are bridged). `run` must outlive the streams.
std::vector<ResultStream> ResultStreams(ResultFormat format, bool spectrum,
                                        const analysis::RunConstants& run,
                                        bool filled = false);

}  // namespace series
