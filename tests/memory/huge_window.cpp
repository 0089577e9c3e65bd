// The C++ API asked for a window no machine could hold:
//   huge_window LREC
// prints the refusal and exits 0 when AnalyseSeries refuses it with
// std::bad_alloc; exits 1 when it does not.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "mfwindow/mfwindow.h"

int main(int argc, char** argv) {
  mfwindow::Settings settings;
  settings.Lrec = argc > 1 ? std::atoi(argv[1]) : 2147483647;
  const std::vector<double> samples(100, 1.0);
  try {
    mfwindow::AnalyseSeries(samples, settings);
  } catch (const std::bad_alloc& e) {
    std::printf("refused: %s\n", e.what());
    return 0;
  }
  std::printf("not refused\n");
  return 1;
}
