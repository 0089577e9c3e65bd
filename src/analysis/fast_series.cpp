#include "analysis/fast_series.h"

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "analysis/fast_window.h"
#include "analysis/table_size.h"

namespace analysis {
namespace {

// One window in flight: its prepared values and, once analysed, its summary.
struct Slot {
  std::vector<double> Values;
  std::int64_t Number = 0;  // counted from 1 within the series
  SpectrumSummary Summary;
  WindowSpectrum Spectrum;  // filled only when asked for
};

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

class FastSeriesEngine final : public SeriesEngine {
 public:
  FastSeriesEngine(std::shared_ptr<const RunConstants> run, int threads)
      : run_(std::move(run)),
        threads_(threads),
        buffers_(run_->Params.Lrec),
        workspaces_([this] { return FastWorkspace(*run_); }) {
    // Two windows per thread keep every thread busy while the reader fills
    // the next one.
    slots_.resize(static_cast<std::size_t>(threads > 1 ? 2 * threads : 1));
    for (Slot& slot : slots_) {
      slot.Values.resize(detail::TableSize(1, run_->Params.Lrec));
    }
    // The calling thread's workspace now, so that a run that cannot get its
    // storage fails before the first series.
    workspaces_.local();
    // More threads than cores would wait for each other; TBB refuses them
    // anyway, with a warning. The slots stay sized by the request.
    if (threads_ > 1) {
      arena_threads_ = std::min(threads_, AvailableCores());
      arena_ = ArenaPool::Instance().Borrow(arena_threads_);
    }
  }

  ~FastSeriesEngine() override {
    if (arena_) {
      ArenaPool::Instance().Return(arena_threads_, std::move(arena_));
    }
  }

  FastSeriesEngine(const FastSeriesEngine&) = delete;
  FastSeriesEngine& operator=(const FastSeriesEngine&) = delete;

  const RunConstants& Run() const override { return *run_; }
  int Threads() const override { return threads_; }
  int MostWindowsAtOnce() const override { return most_at_once_.load(); }

  void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
               const WindowSink& emit, bool with_spectrum) override;

 private:
  void AnalyseSlot(Slot& slot, bool with_spectrum);

  std::shared_ptr<const RunConstants> run_;
  int threads_;
  WindowBuffers buffers_;
  std::vector<Slot> slots_;
  tbb::enumerable_thread_specific<FastWorkspace> workspaces_;
  int arena_threads_ = 1;
  std::unique_ptr<tbb::task_arena> arena_;
  std::atomic<int> at_once_{0};
  std::atomic<int> most_at_once_{0};
};

void FastSeriesEngine::AnalyseSlot(Slot& slot, bool with_spectrum) {
  const int now = ++at_once_;
  int most = most_at_once_.load();
  while (now > most && !most_at_once_.compare_exchange_weak(most, now)) {
  }
  FastWorkspace& work = workspaces_.local();
  slot.Summary = AnalyseWindowFast(*run_, work, slot.Values);
  if (with_spectrum) {
    slot.Spectrum.HurstQ.assign(work.HurstQ.begin(), work.HurstQ.end());
    slot.Spectrum.TauQ.assign(work.TauQ.begin(), work.TauQ.end());
    slot.Spectrum.AlfaGrid.assign(work.AlfaGrid.begin(), work.AlfaGrid.end());
    slot.Spectrum.FAlfaGrid.assign(work.FAlfaGrid.begin(),
                                   work.FAlfaGrid.end());
  }
  --at_once_;
}

void FastSeriesEngine::Analyse(const WindowPlan& plan,
                               const SampleSource& next_sample,
                               const WindowSink& emit, bool with_spectrum) {
  most_at_once_ = 0;
  WindowFiller filler(run_->Params, plan, buffers_);
  const auto hand_out = [&](const Slot& slot) {
    WindowOutcome outcome;
    outcome.Number = slot.Number;
    outcome.Result =
        MakeWindowResult(run_->Params.Lrec, plan, slot.Number, slot.Summary);
    outcome.Spectrum = with_spectrum ? &slot.Spectrum : nullptr;
    emit(outcome);
  };

  if (!arena_) {
    Slot& slot = slots_.front();
    std::int64_t read = 0;
    while (filler.Next(next_sample, slot.Values)) {
      slot.Number = ++read;
      AnalyseSlot(slot, with_spectrum);
      hand_out(slot);
    }
    return;
  }

  // Tokens leave the pipeline in order, so the slot of window n is free
  // again once window n + slots has been read.
  std::int64_t read = 0;
  arena_->execute([&] {
    tbb::parallel_pipeline(
        slots_.size(),
        tbb::make_filter<void, Slot*>(
            tbb::filter_mode::serial_in_order,
            [&](tbb::flow_control& control) -> Slot* {
              Slot& slot =
                  slots_[static_cast<std::size_t>(read) % slots_.size()];
              if (!filler.Next(next_sample, slot.Values)) {
                control.stop();
                return nullptr;
              }
              slot.Number = ++read;
              return &slot;
            }) &
            tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::parallel,
                                           [&](Slot* slot) {
                                             AnalyseSlot(*slot, with_spectrum);
                                             return slot;
                                           }) &
            tbb::make_filter<Slot*, void>(
                tbb::filter_mode::serial_in_order,
                [&](Slot* slot) { hand_out(*slot); }));
  });
}

}  // namespace

std::unique_ptr<SeriesEngine> MakeFastEngine(
    std::shared_ptr<const RunConstants> run, int threads) {
  return std::make_unique<FastSeriesEngine>(std::move(run),
                                            std::max(threads, 1));
}

}  // namespace analysis
