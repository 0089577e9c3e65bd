// The JSON sidecar beside a result file, "<result>.json": how the result
// was made, so that a CSV can be captioned, plotted on its time axis and
// checked against its input later. One object:
//   program, version      the front end that wrote it, and the release
//   settings              every setting of the settings table, by its name
//                         (numbers, true/false, words, lists of numbers)
//   series                path (as given), samples (read, gaps included),
//                         masked, skipped, fnv1a64 (16 hex digits: the
//                         FNV-1a 64 hash of the samples read, each double's
//                         8 bytes least significant first), column (null
//                         for plain reading, else {"number": from 1, or
//                         null where not looked up, "name": the name it
//                         was chosen by, or null})
//   sampling_rate_hz      fs, or null when dt sets the time axis
//   time_unit             "s" with fs or ISO 8601 time stamps, "stamp"
//                         with time stamps that are numbers (their own
//                         unit), else "dt" (steps of dt as given)
//   time_origin           the first ISO 8601 time stamp as written (the
//                         time marks are seconds since it), else null
//   simd_target           the instruction set the vector kernels ran on
//   started, ended        UTC, ISO 8601 ("2026-12-09T17:36:31Z")
//   windows               the windows written
//   notes                 the series' notes and warnings, as printed
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mfwindow/mfwindow.h"
#include "series/series_pipeline.h"

namespace mfwindow {

std::string SidecarJson(std::string_view program, const Settings& used,
                        std::string_view series_path,
                        const series::SeriesReport& report,
                        const std::vector<std::string>& notes);

// The notes of a complete series as the front ends print them, without
// the program's name: "warning: ..." or "note: ...".
std::vector<std::string> NoteTexts(std::string_view name,
                                   const series::SeriesReport& report,
                                   std::int32_t lrec);

}  // namespace mfwindow
