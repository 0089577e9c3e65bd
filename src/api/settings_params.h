// The library's settings as the analysis' settled answers: for the front
// ends built on the library (not part of the public header).
#pragma once

#include <string_view>

#include "analysis/engine.h"
#include "analysis/params.h"
#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "mfwindow/mfwindow.h"
#include "series/series_input.h"

namespace mfwindow {

// The fields of `settings` (already settled) as AnalysisParams.
analysis::AnalysisParams ToParams(const Settings& settings);

// The fields of `settings` (already settled) that the tables and the engine
// depend on: the answers, the method and the surrogates.
analysis::TableParams ToTables(const Settings& settings);

// The engine the settings ask for: their kernel on their threads.
analysis::EngineRequest EngineRequestOf(const Settings& settings);

// The policy for bad samples as the series reader takes it.
series::BadSamplePolicy InputPolicy(BadSamplePolicy policy);

// The setting that a time column cannot go with, because the stamps set
// the time axis and skipped samples would leave their stamps: the
// settings-table name of the first of fs (set), dt and t0 (other than
// their defaults) and nan (skip) in `settings`; empty when there is none.
std::string_view TimeColumnConflict(const Settings& settings);

// The grids of an engine's run and what runs it (kernel, scheduler,
// threads), as the library hands them out.
void DescribeRun(const analysis::SeriesEngine& engine, SeriesResult& result);

// An analysed window as the library hands it out: its row with its quality
// and null levels, and its spectrum and F_q(s) when the engine gave them.
void KeepWindow(const analysis::WindowOutcome& outcome, SeriesResult& result);

}  // namespace mfwindow
