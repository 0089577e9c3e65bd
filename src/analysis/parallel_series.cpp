#include "analysis/parallel_series.h"

#include <sched.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/global_control.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <cstddef>
#include <vector>

#include "analysis/fast_window.h"
#include "analysis/table_size.h"

namespace analysis {

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

namespace {

// One window in flight: its prepared values and, once analysed, its summary.
struct Slot {
  std::vector<double> Values;
  std::int64_t Number = 0;  // counted from 1 within the series
  SpectrumSummary Summary;
  WindowSpectrum Spectrum;  // filled only when asked for
};

void KeepSpectrum(const FastWorkspace& work, WindowSpectrum& spectrum) {
  spectrum.HurstQ = work.HurstQ;
  spectrum.TauQ = work.TauQ;
  spectrum.AlfaGrid = work.AlfaGrid;
  spectrum.FAlfaGrid = work.FAlfaGrid;
}

}  // namespace

struct ParallelSeriesAnalyser::State {
  State(const RunConstants& run_constants, int thread_count)
      : run(run_constants),
        threads(thread_count),
        buffers(run_constants.Params.Lrec),
        parallelism(tbb::global_control::max_allowed_parallelism,
                    static_cast<std::size_t>(thread_count)),
        workspaces([&run_constants] { return FastWorkspace(run_constants); }),
        arena(thread_count) {
    // Two windows per thread keep every thread busy while the reader fills
    // the next one.
    slots.resize(
        static_cast<std::size_t>(thread_count > 1 ? 2 * thread_count : 1));
    for (Slot& slot : slots) {
      slot.Values.resize(detail::TableSize(1, run_constants.Params.Lrec));
    }
    // The calling thread's workspace now, so that a run that cannot get its
    // storage fails before the first series.
    workspaces.local();
  }

  const RunConstants& run;
  int threads;
  WindowBuffers buffers;
  std::vector<Slot> slots;
  // Lets the arena have as many threads as asked for, even beyond the
  // number of cores (the scheduler would otherwise cap it and say so).
  tbb::global_control parallelism;
  tbb::enumerable_thread_specific<FastWorkspace> workspaces;
  tbb::task_arena arena;
};

ParallelSeriesAnalyser::ParallelSeriesAnalyser(const RunConstants& run,
                                               int threads)
    : state_(std::make_unique<State>(run, threads < 1 ? 1 : threads)) {}

ParallelSeriesAnalyser::~ParallelSeriesAnalyser() = default;

void ParallelSeriesAnalyser::Analyse(
    const std::function<std::optional<double>()>& next_sample,
    const std::function<void(std::int64_t)>& on_progress,
    const std::function<void(const WindowResult&)>& emit) {
  Run(
      next_sample, on_progress,
      [&emit](const WindowResult& r, const WindowSpectrum*) { emit(r); },
      false);
}

void ParallelSeriesAnalyser::AnalyseWithSpectrum(
    const std::function<std::optional<double>()>& next_sample,
    const std::function<void(std::int64_t)>& on_progress,
    const std::function<void(const WindowResult&, const WindowSpectrum&)>&
        emit) {
  Run(
      next_sample, on_progress,
      [&emit](const WindowResult& r, const WindowSpectrum* spectrum) {
        emit(r, *spectrum);
      },
      true);
}

void ParallelSeriesAnalyser::Run(
    const std::function<std::optional<double>()>& next_sample,
    const std::function<void(std::int64_t)>& on_progress,
    const std::function<void(const WindowResult&, const WindowSpectrum*)>& emit,
    bool with_spectrum) {
  State& s = *state_;
  const AnalysisParams& params = s.run.Params;
  WindowFiller filler(params, s.buffers);
  const auto analyse = [&](Slot& slot) {
    FastWorkspace& work = s.workspaces.local();
    slot.Summary = AnalyseWindowFast(s.run, work, slot.Values);
    if (with_spectrum) KeepSpectrum(work, slot.Spectrum);
  };
  const auto hand_out = [&](const Slot& slot) {
    on_progress(slot.Number - 1);
    emit(MakeWindowResult(params, slot.Number, slot.Summary),
         with_spectrum ? &slot.Spectrum : nullptr);
  };

  if (s.threads == 1) {
    Slot& slot = s.slots.front();
    std::int64_t read = 0;
    while (filler.Next(next_sample, slot.Values)) {
      slot.Number = ++read;
      analyse(slot);
      hand_out(slot);
    }
    return;
  }

  // Tokens leave the pipeline in order, so the slot of window n is free
  // again once window n + slots has been read.
  std::int64_t read = 0;
  s.arena.execute([&] {
    tbb::parallel_pipeline(
        s.slots.size(),
        tbb::make_filter<void, Slot*>(
            tbb::filter_mode::serial_in_order,
            [&](tbb::flow_control& control) -> Slot* {
              Slot& slot =
                  s.slots[static_cast<std::size_t>(read) % s.slots.size()];
              if (!filler.Next(next_sample, slot.Values)) {
                control.stop();
                return nullptr;
              }
              slot.Number = ++read;
              return &slot;
            }) &
            tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::parallel,
                                           [&](Slot* slot) {
                                             analyse(*slot);
                                             return slot;
                                           }) &
            tbb::make_filter<Slot*, void>(
                tbb::filter_mode::serial_in_order,
                [&](Slot* slot) { hand_out(*slot); }));
  });
}

}  // namespace analysis
