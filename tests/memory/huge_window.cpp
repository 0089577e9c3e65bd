// The C++ API asked for a window no machine could hold:
//   huge_window LREC [SURROGATES [SAMPLES]]
// prints "refused: ..." when AnalyseSeries refuses it with std::bad_alloc
// and "analysed: N windows" when it returns; exits 0 either way, 1 on any
// other failure.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <vector>

#include "mfwindow/mfwindow.h"

int main(int argc, char** argv) {
  mfwindow::Settings settings;
  settings.Lrec = argc > 1 ? std::atoi(argv[1]) : 2147483647;
  settings.Surrogates = argc > 2 ? std::atoi(argv[2]) : 0;
  const std::vector<double> samples(
      argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100, 1.0);
  try {
    const mfwindow::SeriesResult result =
        mfwindow::AnalyseSeries(samples, settings);
    std::printf("analysed: %zu windows\n", result.Rows.size());
  } catch (const std::bad_alloc& e) {
    std::printf("refused: %s\n", e.what());
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
