// The library's settings as the analysis' settled answers: for the front
// ends built on the library (not part of the public header).
#pragma once

#include "analysis/params.h"
#include "analysis/results.h"
#include "mfwindow/mfwindow.h"

namespace mfwindow {

// The fields of `settings` (already settled) as AnalysisParams.
analysis::AnalysisParams ToParams(const Settings& settings);

// An analysed window as the library hands it out: its row, and its
// spectrum in `result` when the engine gave one.
void KeepWindow(const analysis::WindowOutcome& outcome, SeriesResult& result);

}  // namespace mfwindow
