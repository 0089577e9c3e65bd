// The seam between the front ends and the two engines. A front end settles
// its answers, asks MakeEngine for an engine of the kind it wants, and
// feeds it series; it never builds an engine's tables or storage itself.
//
//   kReference  the straightforward engine (reference_window,
//               reference_series): one window at a time, every operation in
//               the order written, libm pow and log10.
//   kFast       the fast engine (fast_window, fast_series): each distinct
//               segment length once, vector kernels, several threads.
// Both give the same doubles, bit for bit, on any number of threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "analysis/moving_window.h"
#include "analysis/params.h"
#include "analysis/results.h"
#include "analysis/run_constants.h"

namespace analysis {

enum class EngineKind { kFast, kReference };

// Receives each analysed window, in window order.
using WindowSink = std::function<void(const WindowOutcome&)>;

// Analyses series with tables built once. Holds its own storage and, for
// the fast engine, its own threads; one Analyse at a time per engine, while
// separate engines may run side by side.
class SeriesEngine {
 public:
  virtual ~SeriesEngine() = default;

  virtual const RunConstants& Run() const = 0;
  virtual int Threads() const = 0;

  // Analyses every complete window of one series: pulls samples from
  // `next_sample` until it returns std::nullopt (the partly filled window is
  // then dropped), prepares each window and hands its outcome to `emit`,
  // with the whole spectrum when `with_spectrum`. `emit` is called one
  // window at a time, in order, though not necessarily on the calling
  // thread. An exception from a callback stops the analysis and propagates.
  virtual void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
                       const WindowSink& emit, bool with_spectrum) = 0;

  // The most windows analysed at the same moment during the last Analyse:
  // at most Threads(). Lets a test see the threads really at work.
  virtual int MostWindowsAtOnce() const = 0;
};

// Storage that the system could never give: thrown before anything is
// allocated. Its text says how much was needed and how much there is.
class InsufficientStorage : public std::bad_alloc {
 public:
  InsufficientStorage(std::int64_t needed, std::int64_t available);
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

struct EngineRequest {
  EngineKind Kind = EngineKind::kFast;
  int Threads = 0;  // 0: every core this process may run on
};

// Checks first that the storage of a run with `params` can be had (a run
// the system could never hold takes fewer threads, then none:
// InsufficientStorage before anything is allocated), then builds the run's
// tables and the engine's storage. Throws std::bad_alloc when storage
// cannot be obtained and std::length_error when a size computation
// overflows.
std::unique_ptr<SeriesEngine> MakeEngine(const TableParams& params,
                                         EngineRequest request);

// The number of cores this process may run on (its CPU affinity), at
// least 1.
int AvailableCores();

// The most storage the process could have at all: the machine's memory and
// swap, or the process' address-space limit if that is lower; 0 when
// neither is known. On a system that overcommits memory an allocation
// beyond it would succeed and the run would be killed later, when the
// window fills.
std::int64_t StorageAvailable();

}  // namespace analysis
