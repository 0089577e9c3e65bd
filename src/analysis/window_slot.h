// What the two schedulers (serial_scheduler: serial, pipelined_scheduler:
// pipelined) share: a window in flight with its results (Slot), how one is
// read, analysed and handed out, the bytes one holds, and the gate through
// which kernels working on long windows call a front end's poll.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "analysis/engine.h"
#include "analysis/moving_window.h"
#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "analysis/window_kernel.h"

namespace analysis {

// One window in flight: its prepared values and, once analysed, its summary
// and whatever else the run hands out. Not for sharing: one thread at a
// time.
struct Slot {
  std::vector<double> Values;
  std::int64_t Number = 0;  // counted from 1 within the series
  bool Gap = false;         // a raw sample is not finite: analysed by nothing
  WindowPlace Place;        // set by the scheduler as the window is read
  // For the segment-once kernel (SizeSlot's raw): the raw samples before
  // the window (RawBefore of them) and the window's own.
  std::vector<double> Raw;
  std::size_t RawBefore = 0;
  SpectrumSummary Summary;
  WindowQuality Quality;
  WindowSpectrum Spectrum;  // filled only when asked for
  std::vector<double> Fq;   // with Method.KeepFq
  // With surrogates: the surrogated sequence and first raw sample, taken
  // while the window is read; each surrogate's width and AlfaSz by index;
  // the levels.
  std::vector<double> Source;
  double FirstSample = 0.0;
  std::vector<double> Widths;
  std::vector<double> AlfaSz;
  std::vector<std::uint8_t> AtCap;  // 1: that surrogate's IAAFT hit the cap
  std::vector<double> Scratch;      // 2 per surrogate, for NullLevels
  WindowNull Null;
};

// Sizes `slot` for `run`, its Values last: a slot whose Values are not
// empty is sized. Throws std::bad_alloc when storage cannot be obtained.
// With `raw`, also room for the window's raw samples and MaxScale before
// them.
void SizeSlot(const RunConstants& run, Slot& slot, bool raw = false);

// An upper bound of one slot's doubles for a run with `params`.
long double SlotDoubles(const TableParams& params);

// The shared tables' and the window buffers' doubles for a run with
// `params`: what every engine holds whatever its scheduler.
long double SharedDoubles(const TableParams& params);

// Reads the next window into `slot` as window `number`, and its surrogated
// sequence when the run makes surrogates; false at the end of the series.
bool ReadSlot(const RunConstants& run, WindowFiller& filler,
              const WindowBuffers& buffers, const SampleSource& next_sample,
              Slot& slot, std::int64_t number);

// Analyses the window of `slot` with `kernel` and copies out what the run
// hands out (the spectrum only `with_spectrum`); not its surrogates. A gap
// window gets NaN everywhere and status kGap, its null levels included,
// without the kernel.
void AnalyseSlot(WindowKernel& kernel, Slot& slot, bool with_spectrum);

// The outcome of the analysed `slot`, pointing into it.
WindowOutcome OutcomeOf(const RunConstants& run, const WindowPlan& plan,
                        const Slot& slot, bool with_spectrum);

// Lets the kernels of one engine call a front end's EnginePoll at most once
// per kPollIntervalNs: each kernel's tick counts the values its scales went
// through and looks at the clock once per kValuesPerLook of them. Once a
// poll has thrown, every later tick of the same Analyse throws too, so that
// the other windows in flight end at their next scale. Any thread may tick.
class PollGate {
 public:
  static constexpr std::int64_t kValuesPerLook = std::int64_t{1} << 18;

  // For the Analyse that `poll` (which must outlive it) belongs to; until
  // Close, ticks may call it.
  void Open(const EnginePoll& poll);
  void Close();

  // A tick for one kernel (ScaleTick); the gate must outlive it.
  ScaleTick Tick();

 private:
  void Look();

  const EnginePoll* poll_ = nullptr;
  std::atomic<std::int64_t> next_ns_{0};
  std::atomic<bool> stopped_{false};
};

}  // namespace analysis
