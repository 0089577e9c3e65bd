// The window that moves along one series, shared by both engines: fills
// from the samples as they are read, prepares each complete window (copy or
// increments) and gives each window its time mark. Does no I/O itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "analysis/params.h"
#include "analysis/results.h"

namespace analysis {

// Hands out the samples of one series in order, then std::nullopt.
using SampleSource = std::function<std::optional<double>()>;

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
  // `tables` and `plan` are copied; `buffers` must outlive the filler.
  WindowFiller(const TableParams& tables, const WindowPlan& plan,
               WindowBuffers& buffers);

  // Reads the next complete window and writes its prepared values (a copy,
  // or the Lrec - 1 increments followed by 0.0) to `prepared` (Lrec
  // values). Returns false when `next_sample` ends the series first; the
  // partly filled window is then dropped.
  bool Next(const SampleSource& next_sample, std::span<double> prepared);

 private:
  TableParams tables_;
  WindowPlan plan_;
  WindowBuffers& buffers_;
  bool first_window_ = true;
};

// The result line of window number `window_number` (counted from 1) of
// windows of `lrec` samples: the time mark pos*Tstep + Tini of its last
// sample pos = (number-1)*WinShift + Lrec, with pos computed in 64 bits,
// then the summary.
WindowResult MakeWindowResult(std::int32_t lrec, const WindowPlan& plan,
                              std::int64_t window_number,
                              const SpectrumSummary& summary);

}  // namespace analysis
