// The Linux part of the platform unit: affinity, memory and huge pages.
#if defined(__linux__)
#include <sched.h>
#include <sys/mman.h>
#include <sys/sysinfo.h>

#include "platform/platform.h"

namespace platform {

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

std::int64_t StorageAvailable() {
  long double available = 0.0L;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    available = (static_cast<long double>(info.totalram) + info.totalswap) *
                info.mem_unit;
  }
  return detail::WithinAddressLimit(available);
}

void AdviseHugePages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  madvise(block, bytes, MADV_HUGEPAGE);
#endif
}

}  // namespace platform
#endif
