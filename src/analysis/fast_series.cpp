#include "analysis/fast_series.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "analysis/fast_window.h"
#include "analysis/table_size.h"
#include "analysis/window_null.h"

#if defined(__SANITIZE_THREAD__)
#define MFWINDOW_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MFWINDOW_TSAN 1
#endif
#endif
#ifndef MFWINDOW_TSAN
#define MFWINDOW_TSAN 0
#endif
#if MFWINDOW_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace analysis {
namespace {

// TBB passes a window from stage to stage, and from one call of the sink
// to the next, inside its own library, and allocates the stages' bodies
// there; so it hands the engine and its slots to its worker threads.
// Debian's TBB is built without ThreadSanitizer, which therefore cannot see
// that ordering, nor that TBB's memory is reused, and would report every
// hand-off as a race. Under ThreadSanitizer every stage acquires and
// releases one hand-off point as it starts (before it reads anything, its
// own captures included) and as it ends, by an exception too, and so does
// the calling thread around the pipeline: the order TBB guarantees becomes
// visible, and any access that TBB does not order is still reported.
// Elsewhere this is nothing.
class Stage {
 public:
  Stage() { Handoff(); }
  ~Stage() { Handoff(); }
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

 private:
  static void Handoff() {
#if MFWINDOW_TSAN
    static char point = 0;
    __tsan_acquire(&point);
    __tsan_release(&point);
#endif
  }
};

// One window in flight: its prepared values and, once analysed, its summary
// and whatever else the run hands out.
struct Slot {
  std::vector<double> Values;
  std::int64_t Number = 0;  // counted from 1 within the series
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
  std::vector<double> Scratch;
  WindowNull Null;
};

// What one thread needs to analyse surrogates: made on first use.
struct SurrogateWorker {
  explicit SurrogateWorker(const RunConstants& run)
      : Factory(run.Params), Work(run, false) {}
  SurrogateFactory Factory;
  FastAnalyser Work;  // the surrogates' F_q(s) is never handed out
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
        workspaces_([this] { return FastAnalyser(*run_, true); }),
        surrogate_workers_([this] { return SurrogateWorker(*run_); }) {
    // Two windows per thread keep every thread busy while the reader fills
    // the next one.
    slots_.resize(static_cast<std::size_t>(threads > 1 ? 2 * threads : 1));
    const TableParams& tables = run_->Params;
    const std::size_t surrogates =
        detail::TableSize(1, tables.Surrogates.Count);
    for (Slot& slot : slots_) {
      slot.Values.resize(detail::TableSize(1, tables.Lrec));
      if (tables.Method.KeepFq) {
        slot.Fq.resize(detail::TableSize(std::int64_t(run_->QGrid.size()),
                                         std::int64_t(run_->LogScale.size())));
      }
      if (surrogates > 0) {
        slot.Source.resize(SurrogateSourceSize(tables));
        slot.Widths.resize(surrogates);
        slot.AlfaSz.resize(surrogates);
        slot.Scratch.resize(surrogates);
      }
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
  // Reads the next window into `slot`; false at the end of the series.
  bool ReadSlot(WindowFiller& filler, const SampleSource& next_sample,
                Slot& slot, std::int64_t number);
  void AnalyseSlot(Slot& slot, bool with_spectrum);
  void AnalyseSurrogates(Slot& slot);

  std::shared_ptr<const RunConstants> run_;
  int threads_;
  WindowBuffers buffers_;
  std::vector<Slot> slots_;
  tbb::enumerable_thread_specific<FastAnalyser> workspaces_;
  tbb::enumerable_thread_specific<SurrogateWorker> surrogate_workers_;
  int arena_threads_ = 1;
  std::unique_ptr<tbb::task_arena> arena_;
  std::atomic<int> at_once_{0};
  std::atomic<int> most_at_once_{0};
};

bool FastSeriesEngine::ReadSlot(WindowFiller& filler,
                                const SampleSource& next_sample, Slot& slot,
                                std::int64_t number) {
  if (!filler.Next(next_sample, slot.Values)) return false;
  slot.Number = number;
  if (!slot.Source.empty()) {
    // The raw samples are in WindowBuf only until the next window is read.
    SurrogateSource(run_->Params, buffers_.WindowBuf, slot.Source);
    slot.FirstSample = buffers_.WindowBuf[0];
  }
  return true;
}

void FastSeriesEngine::AnalyseSlot(Slot& slot, bool with_spectrum) {
  const int now = ++at_once_;
  int most = most_at_once_.load();
  while (now > most && !most_at_once_.compare_exchange_weak(most, now)) {
  }
  {
    // Everything is copied out of the thread's workspace before the
    // surrogates start; they use workspaces of their own.
    FastAnalyser& work = workspaces_.local();
    slot.Summary = work.Analyse(slot.Values);
    slot.Quality = work.Quality();
    if (with_spectrum) work.CopySpectrum(slot.Spectrum);
    if (!slot.Fq.empty()) {
      const std::span<const double> fq = work.Fq();
      std::copy(fq.begin(), fq.end(), slot.Fq.begin());
    }
  }
  if (!slot.Widths.empty()) AnalyseSurrogates(slot);
  --at_once_;
}

void FastSeriesEngine::AnalyseSurrogates(Slot& slot) {
  // Each surrogate is a function of its window and index alone, and lands
  // in its own place: the order in which threads finish never matters.
  const auto analyse = [this, &slot](std::size_t first, std::size_t last) {
    const Stage stage;
    SurrogateWorker& worker = surrogate_workers_.local();
    for (std::size_t i = first; i < last; ++i) {
      const std::span<const double> prepared =
          worker.Factory.Make(slot.Source, slot.FirstSample, slot.Number,
                              static_cast<std::int32_t>(i));
      const SpectrumSummary s = worker.Work.Analyse(prepared);
      slot.Widths[i] = s.AlfaWidth;
      slot.AlfaSz[i] = s.AlfaSz;
    }
  };
  if (arena_) {
    // Already inside the arena (a pipeline stage): the surrogates join the
    // same threads. Isolated, so that a thread waiting here takes no other
    // window's work and no worker is entered twice.
    tbb::this_task_arena::isolate([&] {
      tbb::parallel_for(tbb::blocked_range<std::size_t>(0, slot.Widths.size()),
                        [&](const tbb::blocked_range<std::size_t>& r) {
                          analyse(r.begin(), r.end());
                        });
    });
  } else {
    analyse(0, slot.Widths.size());
  }
  { const Stage collect; }
  slot.Null = NullLevels(slot.Summary, slot.Widths, slot.AlfaSz, slot.Scratch);
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
    outcome.Quality = slot.Quality;
    outcome.Fq = slot.Fq.empty() ? nullptr : &slot.Fq;
    outcome.Null = slot.Widths.empty() ? nullptr : &slot.Null;
    emit(outcome);
  };

  if (!arena_) {
    Slot& slot = slots_.front();
    std::int64_t read = 0;
    while (ReadSlot(filler, next_sample, slot, read + 1)) {
      ++read;
      AnalyseSlot(slot, with_spectrum);
      hand_out(slot);
    }
    return;
  }

  // Tokens leave the pipeline in order, so the slot of window n is free
  // again once window n + slots has been read.
  std::int64_t read = 0;
  const auto read_stage = [&](tbb::flow_control& control) -> Slot* {
    const Stage stage;
    Slot& slot = slots_[static_cast<std::size_t>(read) % slots_.size()];
    if (!ReadSlot(filler, next_sample, slot, read + 1)) {
      control.stop();
      return nullptr;
    }
    ++read;
    return &slot;
  };
  const auto analyse_stage = [&](Slot* slot) {
    const Stage stage;
    AnalyseSlot(*slot, with_spectrum);
    return slot;
  };
  const auto hand_out_stage = [&](Slot* slot) {
    const Stage stage;
    hand_out(*slot);
  };
  const tbb::filter<void, void> stages =
      tbb::make_filter<void, Slot*>(tbb::filter_mode::serial_in_order,
                                    read_stage) &
      tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::parallel,
                                     analyse_stage) &
      tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order,
                                    hand_out_stage);
  // Everything above is handed to the stages; what they leave (the
  // workspaces, the slots) is the caller's again once the pipeline has
  // ended, normally or by an exception.
  const Stage caller;
  arena_->execute([&] { tbb::parallel_pipeline(slots_.size(), stages); });
}

}  // namespace

std::unique_ptr<SeriesEngine> MakeFastEngine(
    std::shared_ptr<const RunConstants> run, int threads) {
  return std::make_unique<FastSeriesEngine>(std::move(run),
                                            std::max(threads, 1));
}

}  // namespace analysis
