#include "analysis/pipelined_scheduler.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/thread_handoff.h"
#include "analysis/vector_kernel.h"
#include "analysis/window_null.h"
#include "analysis/window_slot.h"
#include "platform/platform.h"

namespace analysis {
namespace {

// Thread pools outlive the engines that use them. Making a TBB arena for
// every engine, and so for every call of the library's AnalyseSeries, costs
// memory that TBB does not give back; instead an engine borrows an idle
// arena of its size and returns it when it ends. An arena is lent to one
// engine at a time, so one engine's threads never limit another's. This
// pool is the one process-wide state of the engine; the mutex guards it.
class ArenaPool {
 public:
  static ArenaPool& Instance() {
    static ArenaPool pool;
    return pool;
  }

  std::unique_ptr<tbb::task_arena> Borrow(int threads) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::unique_ptr<tbb::task_arena>>& idle = idle_[threads];
    if (idle.empty()) return std::make_unique<tbb::task_arena>(threads);
    std::unique_ptr<tbb::task_arena> arena = std::move(idle.back());
    idle.pop_back();
    return arena;
  }

  void Return(int threads, std::unique_ptr<tbb::task_arena> arena) {
    const std::lock_guard<std::mutex> lock(mutex_);
    idle_[threads].push_back(std::move(arena));
  }

 private:
  std::mutex mutex_;
  std::map<int, std::vector<std::unique_ptr<tbb::task_arena>>> idle_;
};

class PipelinedEngine final : public SeriesEngine {
 public:
  PipelinedEngine(std::shared_ptr<const RunConstants> run, KernelKind kernel,
                  int threads)
      : run_(std::move(run)),
        kind_(kernel),
        threads_(threads),
        kernels_(
            [this] { return MakeKernel(kind_, *run_, true, gate_.Tick()); }),
        surrogate_workers_(
            [this] { return SurrogateWorker(kind_, *run_, gate_.Tick()); }) {
    arena_ = ArenaPool::Instance().Borrow(threads_);
  }

  ~PipelinedEngine() override {
    ArenaPool::Instance().Return(threads_, std::move(arena_));
  }

  PipelinedEngine(const PipelinedEngine&) = delete;
  PipelinedEngine& operator=(const PipelinedEngine&) = delete;

  const RunConstants& Run() const override { return *run_; }
  EngineChoice Choice() const override {
    return {kind_, SchedulerKind::kPipelined, threads_};
  }
  int MostWindowsAtOnce() const override { return most_at_once_.load(); }

  using SeriesEngine::Analyse;
  void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
               const WindowSink& emit, bool with_spectrum,
               const EnginePoll& poll) override;

 private:
  void AnalyseInSlot(Slot& slot, bool with_spectrum);
  void AnalyseSurrogates(Slot& slot);

  std::shared_ptr<const RunConstants> run_;
  KernelKind kind_;
  int threads_;
  PollGate gate_;
  // Made at the first Analyse, each slot sized as first used: two windows
  // per thread keep every thread busy while the reader fills the next one.
  std::optional<WindowBuffers> buffers_;
  std::vector<Slot> slots_;
  tbb::enumerable_thread_specific<std::unique_ptr<WindowKernel>> kernels_;
  tbb::enumerable_thread_specific<SurrogateWorker> surrogate_workers_;
  std::unique_ptr<tbb::task_arena> arena_;
  std::atomic<int> at_once_{0};
  std::atomic<int> most_at_once_{0};
  std::uint64_t streams_ = 0;  // series analysed so far
};

void PipelinedEngine::AnalyseInSlot(Slot& slot, bool with_spectrum) {
  const int now = ++at_once_;
  int most = most_at_once_.load();
  while (now > most && !most_at_once_.compare_exchange_weak(most, now)) {
  }
  // Everything is copied out of the thread's kernel before the surrogates
  // start; they use kernels of their own.
  AnalyseSlot(*kernels_.local(), slot, with_spectrum);
  if (!slot.Widths.empty() && !slot.Gap) AnalyseSurrogates(slot);
  --at_once_;
}

void PipelinedEngine::AnalyseSurrogates(Slot& slot) {
  // Already inside the arena (a pipeline stage): the surrogates join the
  // same threads. Isolated, so that a thread waiting here takes no other
  // window's work and no worker is entered twice.
  tbb::this_task_arena::isolate([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, slot.Widths.size()),
                      [&](const tbb::blocked_range<std::size_t>& r) {
                        const ThreadHandoff stage;
                        platform::UseFullLongDoublePrecision();
                        analysis::AnalyseSurrogates(
                            surrogate_workers_.local(), slot.Source,
                            slot.FirstSample, slot.Number, r.begin(), r.end(),
                            slot.Widths, slot.AlfaSz, slot.AtCap);
                      });
  });
  { const ThreadHandoff collect; }
  slot.Null = NullLevels(slot.Summary, slot.Widths, slot.AlfaSz, slot.AtCap,
                         slot.Scratch);
}

void PipelinedEngine::Analyse(const WindowPlan& plan,
                              const SampleSource& next_sample,
                              const WindowSink& emit, bool with_spectrum,
                              const EnginePoll& poll) {
  if (!buffers_) {
    slots_.resize(2 * static_cast<std::size_t>(threads_));
    buffers_.emplace(run_->Params.Lrec);
  }
  most_at_once_ = 0;
  struct Opened {
    PollGate& Gate;
    ~Opened() { Gate.Close(); }
  } opened{gate_};
  gate_.Open(poll);
  WindowFiller filler(run_->Params, plan, *buffers_);
  const bool raw = kind_ == KernelKind::kSegmentOnce;
  if (raw) filler.KeepBefore(static_cast<std::size_t>(run_->MaxScale));
  const std::uint64_t stream = ++streams_;

  // Tokens leave the pipeline in order, so the slot of window n is free
  // again once window n + slots has been read.
  std::int64_t read = 0;
  const auto read_stage = [&](tbb::flow_control& control) -> Slot* {
    const ThreadHandoff stage;
    Slot& slot = slots_[static_cast<std::size_t>(read) % slots_.size()];
    // Sized as first used, so that a short series needs one slot only.
    if (slot.Values.empty()) SizeSlot(*run_, slot, raw);
    if (!ReadSlot(*run_, filler, *buffers_, next_sample, slot, read + 1)) {
      control.stop();
      return nullptr;
    }
    slot.Place = {stream, read * plan.WinShift, plan.WinShift, {}, 0};
    ++read;
    return &slot;
  };
  const auto analyse_stage = [&](Slot* slot) {
    const ThreadHandoff stage;
    platform::UseFullLongDoublePrecision();
    AnalyseInSlot(*slot, with_spectrum);
    return slot;
  };
  const auto hand_out_stage = [&](Slot* slot) {
    const ThreadHandoff stage;
    emit(OutcomeOf(*run_, plan, *slot, with_spectrum));
  };
  const tbb::filter<void, void> stages =
      tbb::make_filter<void, Slot*>(tbb::filter_mode::serial_in_order,
                                    read_stage) &
      tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::parallel,
                                     analyse_stage) &
      tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order,
                                    hand_out_stage);
  // Everything above is handed to the stages; what they leave (the
  // kernels, the slots) is the caller's again once the pipeline has
  // ended, normally or by an exception.
  const ThreadHandoff caller;
  arena_->execute([&] { tbb::parallel_pipeline(slots_.size(), stages); });
}

}  // namespace

std::unique_ptr<SeriesEngine> MakePipelinedEngine(
    std::shared_ptr<const RunConstants> run, KernelKind kernel, int threads) {
  return std::make_unique<PipelinedEngine>(std::move(run), kernel, threads);
}

}  // namespace analysis
