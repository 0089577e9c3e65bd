// Memory across many analyses in one process, the way a Python session or a
// service calls the library: 10,000 calls of mfwindow::AnalyseSeries on
// every core must not grow the peak resident size by 2 MB or more. Guards
// against a fresh thread pool per call, whose storage TBB never gives back
// (1.4 kB a call here before engines borrowed pooled arenas).
//   repeated_calls [CALLS]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mfwindow/mfwindow.h"

namespace {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const long calls = argc > 1 ? std::atol(argv[1]) : 10000;
  std::vector<double> walk(1000);
  double x = 0.0;
  unsigned state = 12345u;
  for (double& v : walk) {
    state = state * 1103515245u + 12345u;
    x += static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    v = x;
  }
  mfwindow::Settings settings;
  // One window of the default length: a short window grows too little per
  // call to tell a leak from noise.
  settings.Lrec = 1000;
  settings.WinShift = 1000;
  settings.Threads = 0;

  // The first calls set up what stays: the thread pool, the allocators'
  // arenas of each thread.
  for (int i = 0; i < 200; ++i) mfwindow::AnalyseSeries(walk, settings);
  const long before = PeakKilobytes();
  for (long i = 0; i < calls; ++i) mfwindow::AnalyseSeries(walk, settings);
  const long after = PeakKilobytes();
  std::printf("peak RSS after warm-up %ld kB, after %ld more calls %ld kB\n",
              before, calls, after);
  if (after - before >= 2048) {
    std::printf("FAIL: peak RSS grew by %ld kB\n", after - before);
    return 1;
  }
  return 0;
}
