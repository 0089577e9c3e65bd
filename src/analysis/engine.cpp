#include "analysis/engine.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <new>
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

bool StorageFits(std::int64_t bytes) {
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
  return available <= 0.0L || static_cast<long double>(bytes) <= available;
}

std::unique_ptr<SeriesEngine> MakeEngine(const TableParams& params,
                                         EngineRequest request) {
  int threads = request.Kind == EngineKind::kReference ? 1
                : request.Threads > 0                  ? request.Threads
                                                       : AvailableCores();
  // Fewer threads, each with its windows in flight, before no run at all.
  while (threads > 1 && !StorageFits(RunStorageBytes(params, threads))) {
    --threads;
  }
  if (!StorageFits(RunStorageBytes(params, threads))) throw std::bad_alloc();

  std::shared_ptr<const RunConstants> run = MakeRunConstants(params);
  if (request.Kind == EngineKind::kReference) {
    return MakeReferenceEngine(std::move(run));
  }
  return MakeFastEngine(std::move(run), threads);
}

}  // namespace analysis
