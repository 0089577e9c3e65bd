// The serial scheduler: one window at a time on the calling thread, its
// surrogates one after another in index order, with either window kernel.
// Its pipelined counterpart is pipelined_scheduler.h.
#pragma once

#include <memory>

#include "analysis/engine.h"

namespace analysis {

// `run` is shared read-only. Allocates its window
// storage at the first Analyse. Throws std::bad_alloc when storage cannot
// be obtained.
std::unique_ptr<SeriesEngine> MakeSerialEngine(
    std::shared_ptr<const RunConstants> run, KernelKind kernel);

}  // namespace analysis
