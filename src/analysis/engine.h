// The seam between the front ends and the engines. A front end settles its
// answers, asks MakeEngine for an engine, and feeds it series; it never
// builds an engine's tables or storage itself.
//
// An engine is a window kernel (window_kernel.h) run by a scheduler:
//   kernels     straightforward: every operation in the order written, libm
//               pow and log10 (straightforward_kernel); vector: each
//               distinct segment length once, vector lanes (vector_kernel);
//               segment-once: each segment of the series once, the rms
//               methods with the profile only (segment_once_kernel);
//   schedulers  serial: one window at a time on the calling thread
//               (serial_scheduler); pipelined: windows read in order,
//               analysed on several threads, handed out in order
//               (pipelined_scheduler).
// Every combination of the first two kernels gives the same doubles, bit
// for bit, on any number of threads; the segment-once kernel gives the same
// doubles on any number of threads, within a stated tolerance of theirs. A
// request names the kernel (or leaves the choice to the settings) and the
// threads; one thread means the serial scheduler.
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
#include "analysis/window_kernel.h"

namespace analysis {

enum class SchedulerKind { kSerial, kPipelined };

// "serial", "pipelined".
const char* SchedulerName(SchedulerKind kind);

// What an engine runs: its kernel, its scheduler and the threads it uses.
struct EngineChoice {
  KernelKind Kernel = KernelKind::kStraightforward;
  SchedulerKind Scheduler = SchedulerKind::kSerial;
  int Threads = 1;
};

// Receives each analysed window, in window order.
using WindowSink = std::function<void(const WindowOutcome&)>;

// Called from time to time while an engine works (see
// SeriesEngine::Analyse); an exception it throws stops the analysis.
using EnginePoll = std::function<void()>;

// The least time between two calls of an EnginePoll.
inline constexpr std::int64_t kPollIntervalNs = 50'000'000;

// Analyses series with tables built once. Holds its own storage, made as
// the first series needs it (the window buffers and one window in flight
// until a window is complete, the kernels from then on) and kept for the
// next, and, when pipelined, its own threads; one Analyse at a time per
// engine, while separate engines may run side by side.
class SeriesEngine {
 public:
  virtual ~SeriesEngine() = default;

  virtual const RunConstants& Run() const = 0;
  virtual EngineChoice Choice() const = 0;
  int Threads() const { return Choice().Threads; }

  // Analyses every complete window of one series: pulls samples from
  // `next_sample` until it returns std::nullopt (the partly filled window is
  // then dropped), prepares each window and hands its outcome to `emit`,
  // with the whole spectrum when `with_spectrum`. `emit` is called one
  // window at a time, in order, though not necessarily on the calling
  // thread. `poll`, when not empty, is called while windows and their
  // surrogates are analysed, inside long windows too, at most once per
  // kPollIntervalNs and about that often while the kernels work, on any of
  // the engine's threads, possibly on two at once: a front end's check for
  // a request to stop. An exception from a callback stops the analysis, the
  // windows in flight included, and propagates.
  virtual void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
                       const WindowSink& emit, bool with_spectrum,
                       const EnginePoll& poll) = 0;
  void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
               const WindowSink& emit, bool with_spectrum) {
    Analyse(plan, next_sample, emit, with_spectrum, EnginePoll());
  }

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
  KernelChoice Kernel = KernelChoice::kAuto;
  // 0: every core this process may run on; more than that: as many as
  // there are.
  int Threads = 0;
  // The window shift the engine will run with, when the front end knows
  // it already (0: not known); kAuto takes the segment-once kernel only
  // when it is known.
  std::int32_t Shift = 0;
};

// Whether kAuto takes the segment-once kernel: a run it takes
// (SegmentOnceTakes) whose shift is at most a hundredth of the window. A
// window then costs its shift's new segment starts at every length, and
// the same fixed tail, against a whole window's segments for the vector
// kernel: measured on the standard preset (docs/performance.md), the two
// break even at a shift of about window/50 (window 1000) to window/100
// (window 4096).
bool AutoTakesSegmentOnce(const TableParams& params, std::int32_t shift);

// What MakeEngine builds for `request`, from the settled answers alone:
// the kernel asked for (kAuto: the segment-once kernel where
// AutoTakesSegmentOnce, else the vector kernel; kSegmentOnce for a run it
// does not take: the vector kernel), pipelined on at most
// AvailableCores() threads, serial when that leaves one.
EngineChoice ChooseEngine(const TableParams& params, EngineRequest request);

// An upper bound of the bytes an engine running `choice` allocates for a
// run with `params`: the shared tables, the window buffers and what the
// scheduler keeps per window in flight and per thread, the kernels' own
// storage (KernelDoubles, SurrogateWorkerDoubles) among it. Saturates
// instead of overflowing.
std::int64_t EngineStorageBytes(const TableParams& params, EngineChoice choice);

// Chooses the engine (ChooseEngine) and checks that its storage can be had
// (a run the system could never hold takes fewer threads, then none:
// InsufficientStorage before anything is allocated), then builds the run's
// tables; the engine allocates its window storage at its first Analyse.
// Throws std::bad_alloc when storage cannot be obtained and
// std::length_error when a size computation overflows.
std::unique_ptr<SeriesEngine> MakeEngine(const TableParams& params,
                                         EngineRequest request);

// The engine `choice` names, for `run`: its kernel on choice.Threads
// threads, at most AvailableCores(); serial when that leaves one.
std::unique_ptr<SeriesEngine> MakeScheduledEngine(
    std::shared_ptr<const RunConstants> run, EngineChoice choice);

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
