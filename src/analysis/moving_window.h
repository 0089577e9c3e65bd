// The window that moves along one series, shared by both engines: fills
// from the samples as they are read, prepares each complete window (copy or
// increments, then optionally the profile) and gives each window its time
// mark. Does no I/O itself.
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

// WindowBuf and CarryBuf of one series at a time (the prepared values go
// to the scheduler's windows in flight). Sized once per run from Lrec; not
// for sharing between threads.
struct WindowBuffers {
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit WindowBuffers(std::int32_t lrec);
  std::vector<double> WindowBuf;  // Lrec raw samples
  std::vector<double> CarryBuf;   // Lrec - 1: overlap for the next window
  // With WindowFiller::KeepBefore: the raw samples just before the current
  // window, the last BeforeCount of them at the front.
  std::vector<double> Before;
  std::size_t BeforeCount = 0;
};

// The values the analysis reads, from the Lrec raw samples of a window:
//   1. a copy, or with IncrFlag 1 the Lrec - 1 increments
//      raw[i+1] - raw[i] followed by 0.0 (the length stays Lrec);
//   2. with Method.Profile, the profile of those values: with the mean
//      m = (their running sum in ascending order) / Lrec, the running sum
//      (ascending) of v[i] - m. With IncrFlag 1 the final 0.0 takes part
//      in the mean and the sum like any other value.
// `raw` and `prepared` hold Lrec values each and may be the same span.
void PrepareWindow(const TableParams& tables, std::span<const double> raw,
                   std::span<double> prepared);

// Replaces `values` by their profile, as step 2 above.
void FormProfile(std::span<double> values);

// Moves the window along one series: fills it from the samples as they are
// read (the first window from its first position, each later one after the
// overlap carried from the previous window) and prepares its values. Holds
// the per-series state; not for sharing between threads.
class WindowFiller {
 public:
  // `tables` and `plan` are copied; `buffers` must outlive the filler.
  WindowFiller(const TableParams& tables, const WindowPlan& plan,
               WindowBuffers& buffers);

  // Reads the next complete window and writes its prepared values
  // (PrepareWindow) to `prepared` (Lrec values). Returns false when
  // `next_sample` ends the series first; the partly filled window is then
  // dropped. The raw samples stay in the buffers' WindowBuf until the next
  // call.
  bool Next(const SampleSource& next_sample, std::span<double> prepared);

  // Keeps up to `count` raw samples of the series before each window in
  // the buffers' Before (none at the series' start).
  void KeepBefore(std::size_t count);

  // Whether the plan takes a non-finite raw sample for a gap.
  bool MasksGaps() const { return plan_.MaskGaps; }

 private:
  TableParams tables_;
  WindowPlan plan_;
  WindowBuffers& buffers_;
  bool first_window_ = true;
};

// The result line of window number `window_number` (counted from 1) of
// windows of `lrec` samples: the time mark pos*Tstep + Tini of its last
// sample pos = (number-1)*WinShift + Lrec, with pos computed in 64 bits
// (pos / Fs + Tini with a sampling rate), then the summary.
WindowResult MakeWindowResult(std::int32_t lrec, const WindowPlan& plan,
                              std::int64_t window_number,
                              const SpectrumSummary& summary);

}  // namespace analysis
