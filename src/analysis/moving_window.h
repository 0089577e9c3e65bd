// The window that moves along one series: fills from the samples as they
// are read, prepares each complete window (copy or increments), analyses it
// and hands out its result. Does no I/O itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "analysis/run_constants.h"
#include "analysis/window_analysis.h"

namespace analysis {

// The six values of one result line, in the order written.
struct WindowResult {
  double TimeMark = 0.0;  // time of the window's last sample
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;
  double AlfaSz = 0.0;
  double FAlfaSz = 0.0;
};

// WindowBuf, CarryBuf and AnalysisBuf of one series at a time. Sized once
// per run from Lrec; not for sharing between threads.
struct WindowBuffers {
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit WindowBuffers(std::int32_t lrec);
  std::vector<double> WindowBuf;    // Lrec raw samples
  std::vector<double> CarryBuf;     // Lrec - 1: overlap for the next window
  std::vector<double> AnalysisBuf;  // Lrec prepared values
};

// Moves the window along one series: fills it from the samples as they are
// read (the first window from its first position, each later one after the
// overlap carried from the previous window) and prepares its values. Holds
// the per-series state; not for sharing between threads.
class WindowFiller {
 public:
  WindowFiller(const AnalysisParams& params, WindowBuffers& buffers);

  // Reads the next complete window and writes its prepared values (a copy,
  // or the Lrec - 1 increments followed by 0.0) to `prepared` (Lrec
  // values). Returns false when `next_sample` ends the series first; the
  // partly filled window is then dropped.
  bool Next(const std::function<std::optional<double>()>& next_sample,
            std::span<double> prepared);

 private:
  const AnalysisParams& params_;
  WindowBuffers& buffers_;
  bool first_window_ = true;
};

// The result line of window number `window_number` (counted from 1): the
// time mark pos*Tstep + Tini of its last sample pos = (number-1)*WinShift +
// Lrec, with pos computed in 64 bits, then the summary.
WindowResult MakeWindowResult(const AnalysisParams& params,
                              std::int64_t window_number,
                              const SpectrumSummary& summary);

// Analyses every complete window of one series. Pulls samples from
// `next_sample` until it returns std::nullopt (the partly filled window is
// then dropped). For each window, after the fluctuation functions and
// before the spectrum, calls `on_progress` with the number of windows of
// this series completed before it; then passes the result to `emit`.
void AnalyseSeries(const RunConstants& run, Workspace& work,
                   WindowBuffers& buffers,
                   const std::function<std::optional<double>()>& next_sample,
                   const std::function<void(std::int64_t)>& on_progress,
                   const std::function<void(const WindowResult&)>& emit);

}  // namespace analysis
