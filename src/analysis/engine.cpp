#include "analysis/engine.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "analysis/fast_series.h"
#include "analysis/reference_series.h"

namespace analysis {

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

InsufficientStorage::InsufficientStorage(std::int64_t needed,
                                         std::int64_t available)
    : text_("insufficient virtual memory: these settings need up to " +
            std::to_string(needed >> 20) + " MiB, and the process can have " +
            std::to_string(available >> 20) + " MiB") {}

std::int64_t StorageAvailable() {
  long double available = 0.0L;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    available = (static_cast<long double>(info.totalram) + info.totalswap) *
                info.mem_unit;
  }
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      (available == 0.0L || limit.rlim_cur < available)) {
    available = static_cast<long double>(limit.rlim_cur);
  }
  constexpr auto kMax = static_cast<long double>(INT64_MAX);
  return available >= kMax ? INT64_MAX : static_cast<std::int64_t>(available);
}

std::unique_ptr<SeriesEngine> MakeEngine(const TableParams& params,
                                         EngineRequest request) {
  int threads = request.Kind == EngineKind::kReference ? 1
                : request.Threads > 0                  ? request.Threads
                                                       : AvailableCores();
  const std::int64_t available = StorageAvailable();
  const auto fits = [available](std::int64_t bytes) {
    return available <= 0 || bytes <= available;
  };
  // Fewer threads, each with its windows in flight, before no run at all.
  while (threads > 1 && !fits(RunStorageBytes(params, threads))) --threads;
  if (!fits(RunStorageBytes(params, threads))) {
    throw InsufficientStorage(RunStorageBytes(params, threads), available);
  }

  std::shared_ptr<const RunConstants> run = MakeRunConstants(params);
  if (request.Kind == EngineKind::kReference) {
    return MakeReferenceEngine(std::move(run));
  }
  return MakeFastEngine(std::move(run), threads);
}

}  // namespace analysis
