// The straightforward engine's series loop: one window at a time on the
// calling thread, analysed by reference_window. Its fast counterpart is
// fast_series.h.
#pragma once

#include <memory>

#include "analysis/engine.h"

namespace analysis {

// `run` is shared read-only. Throws std::bad_alloc when storage cannot be
// obtained.
std::unique_ptr<SeriesEngine> MakeReferenceEngine(
    std::shared_ptr<const RunConstants> run);

}  // namespace analysis
