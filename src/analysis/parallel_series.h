// The fast engine's series loop: windows are read and prepared in order on
// one thread at a time, analysed on several threads, and handed out in
// window order, so the output is the same bytes on any number of threads.
// At most two windows per thread are in flight, so memory stays bounded by
// the window, not the series.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "analysis/moving_window.h"
#include "analysis/run_constants.h"

namespace analysis {

// The number of cores this process may run on (its CPU affinity), at
// least 1.
int AvailableCores();

// The whole spectrum of one window: h(q) and tau(q) over QGrid, and the
// sampled spectrum f(alpha) on its 100 alpha values (NaN h and tau for a
// degenerate window).
struct WindowSpectrum {
  std::array<double, kMomentCount> HurstQ{};
  std::array<double, kMomentCount> TauQ{};
  std::array<double, kAlfaCount> AlfaGrid{};
  std::array<double, kAlfaCount> FAlfaGrid{};
};

class ParallelSeriesAnalyser {
 public:
  // `run` must outlive the analyser. `threads` >= 1; with 1 every window is
  // analysed on the calling thread. Throws std::bad_alloc when storage
  // cannot be obtained.
  ParallelSeriesAnalyser(const RunConstants& run, int threads);
  ~ParallelSeriesAnalyser();
  ParallelSeriesAnalyser(const ParallelSeriesAnalyser&) = delete;
  ParallelSeriesAnalyser& operator=(const ParallelSeriesAnalyser&) = delete;

  // As AnalyseSeries: pulls samples until `next_sample` returns
  // std::nullopt; for each window in order calls `on_progress` with the
  // number of windows completed before it, then `emit` with its result.
  // The callbacks are called one at a time, in window order, though not
  // necessarily on the calling thread. An exception from a callback stops
  // the analysis and propagates.
  void Analyse(const std::function<std::optional<double>()>& next_sample,
               const std::function<void(std::int64_t)>& on_progress,
               const std::function<void(const WindowResult&)>& emit);

  // The same, handing each window's whole spectrum to `emit` as well.
  void AnalyseWithSpectrum(
      const std::function<std::optional<double>()>& next_sample,
      const std::function<void(std::int64_t)>& on_progress,
      const std::function<void(const WindowResult&, const WindowSpectrum&)>&
          emit);

 private:
  void Run(const std::function<std::optional<double>()>& next_sample,
           const std::function<void(std::int64_t)>& on_progress,
           const std::function<void(const WindowResult&,
                                    const WindowSpectrum*)>& emit,
           bool with_spectrum);

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace analysis
