// The pipelined scheduler: windows are read and prepared in order on one
// thread at a time, analysed by a window kernel on several threads, and
// handed out in window order, so the output is the same bytes on any number
// of threads. At most two windows per thread are in flight, so memory stays
// bounded by the window, not the series. Its serial counterpart is
// serial_scheduler.h.
#pragma once

#include <memory>

#include "analysis/engine.h"

namespace analysis {

// `run` is shared read-only; `threads` >= 2, at most
// AvailableCores() (MakeScheduledEngine sees to both). Allocates its window
// storage at the first Analyse. Throws std::bad_alloc when storage cannot
// be obtained.
std::unique_ptr<SeriesEngine> MakePipelinedEngine(
    std::shared_ptr<const RunConstants> run, KernelKind kernel, int threads);

}  // namespace analysis
