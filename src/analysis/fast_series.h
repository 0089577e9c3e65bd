// The fast engine's series loop: windows are read and prepared in order on
// one thread at a time, analysed by fast_window on several threads, and
// handed out in window order, so the output is the same bytes on any number
// of threads. At most two windows per thread are in flight, so memory stays
// bounded by the window, not the series. Its straightforward counterpart is
// reference_series.h.
#pragma once

#include <memory>

#include "analysis/engine.h"

namespace analysis {

// `run` is shared read-only; `threads` >= 1 (with 1 every window is
// analysed on the calling thread). Throws std::bad_alloc when storage
// cannot be obtained.
std::unique_ptr<SeriesEngine> MakeFastEngine(
    std::shared_ptr<const RunConstants> run, int threads);

}  // namespace analysis
