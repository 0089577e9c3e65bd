#include "analysis/engine.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "analysis/pipelined_scheduler.h"
#include "analysis/segment_once_kernel.h"
#include "analysis/serial_scheduler.h"
#include "analysis/window_slot.h"
#include "platform/platform.h"

namespace analysis {

int AvailableCores() { return platform::AvailableCores(); }

InsufficientStorage::InsufficientStorage(std::int64_t needed,
                                         std::int64_t available)
    : text_("insufficient virtual memory: these settings need up to " +
            std::to_string(needed >> 20) + " MiB, and the process can have " +
            std::to_string(available >> 20) + " MiB") {}

std::int64_t StorageAvailable() { return platform::StorageAvailable(); }

const char* SchedulerName(SchedulerKind kind) {
  return kind == SchedulerKind::kPipelined ? "pipelined" : "serial";
}

bool AutoTakesSegmentOnce(const TableParams& params, std::int32_t shift) {
  return SegmentOnceTakes(params) && shift > 0 &&
         std::int64_t{shift} * 100 <= std::int64_t{params.Lrec};
}

EngineChoice ChooseEngine(const TableParams& params, EngineRequest request) {
  const int cores = AvailableCores();
  const int threads =
      request.Threads > 0 ? std::min(request.Threads, cores) : cores;
  KernelKind kernel = KernelKind::kVector;
  if (request.Kernel == KernelChoice::kStraightforward) {
    kernel = KernelKind::kStraightforward;
  } else if ((request.Kernel == KernelChoice::kSegmentOnce &&
              SegmentOnceTakes(params)) ||
             (request.Kernel == KernelChoice::kAuto &&
              AutoTakesSegmentOnce(params, request.Shift))) {
    kernel = KernelKind::kSegmentOnce;
  }
  return {kernel,
          threads > 1 ? SchedulerKind::kPipelined : SchedulerKind::kSerial,
          threads};
}

std::int64_t EngineStorageBytes(const TableParams& params,
                                EngineChoice choice) {
  const long double threads = choice.Threads < 1 ? 1 : choice.Threads;
  // The serial scheduler keeps one window in flight, the pipelined one two
  // per thread; each thread has a kernel and, with surrogates, a surrogate
  // worker of its own.
  const long double slots =
      choice.Scheduler == SchedulerKind::kPipelined ? 2.0L * threads : 1.0L;
  const long double per_thread =
      KernelDoubles(choice.Kernel, params, true) +
      (params.Surrogates.Count > 0
           ? SurrogateWorkerDoubles(choice.Kernel, params)
           : 0.0L);
  const long double doubles = SharedDoubles(params) +
                              slots * SlotDoubles(params) +
                              threads * per_thread;
  const long double bytes = doubles * sizeof(double);
  constexpr auto kMax = static_cast<long double>(INT64_MAX);
  return bytes >= kMax ? INT64_MAX : static_cast<std::int64_t>(bytes);
}

std::unique_ptr<SeriesEngine> MakeScheduledEngine(
    std::shared_ptr<const RunConstants> run, EngineChoice choice) {
  const int threads = std::min(std::max(choice.Threads, 1), AvailableCores());
  if (choice.Scheduler == SchedulerKind::kSerial || threads < 2) {
    return MakeSerialEngine(std::move(run), choice.Kernel);
  }
  return MakePipelinedEngine(std::move(run), choice.Kernel, threads);
}

std::unique_ptr<SeriesEngine> MakeEngine(const TableParams& params,
                                         EngineRequest request) {
  EngineChoice choice = ChooseEngine(params, request);
  const std::int64_t available = StorageAvailable();
  const auto fits = [available](std::int64_t bytes) {
    return available <= 0 || bytes <= available;
  };
  // Left to choose, a segment-once kernel that would not fit even on one
  // thread gives way to the vector kernel, which needs far less.
  if (request.Kernel == KernelChoice::kAuto &&
      choice.Kernel == KernelKind::kSegmentOnce &&
      !fits(EngineStorageBytes(
          params, {KernelKind::kSegmentOnce, SchedulerKind::kSerial, 1}))) {
    choice.Kernel = KernelKind::kVector;
  }
  // Fewer threads, each with its windows in flight, before no run at all:
  // the most that fit, found by bisection (storage grows with threads).
  int low = 1;
  int high = choice.Threads;
  const auto fits_on = [&](int threads) {
    EngineChoice c = choice;
    c.Threads = threads;
    return fits(EngineStorageBytes(params, c));
  };
  while (low < high) {
    const int mid = low + (high - low + 1) / 2;
    if (fits_on(mid)) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  choice.Threads = low;
  if (choice.Threads < 2) choice.Scheduler = SchedulerKind::kSerial;
  const std::int64_t needed = EngineStorageBytes(params, choice);
  if (!fits(needed)) throw InsufficientStorage(needed, available);

  return MakeScheduledEngine(MakeRunConstants(params), choice);
}

}  // namespace analysis
