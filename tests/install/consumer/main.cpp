// Analyses a synthetic series with the mfwindow library and prints one CSV
// row per window, as `mfwindow-batch --format csv` writes them.
#include <mfwindow/mfwindow.h>

#include <cstdio>
#include <random>
#include <vector>

int main() {
  // A random walk of 5000 steps of +1 or -1.
  std::mt19937_64 engine(2024);
  std::vector<double> walk;
  double position = 0.0;
  for (int i = 0; i < 5000; ++i) {
    position += (engine() & 1) != 0 ? 1.0 : -1.0;
    walk.push_back(position);
  }
  // The same samples as a series file, for mfwindow or mfwindow-batch.
  if (std::FILE* file = std::fopen("walk.txt", "w")) {
    for (double v : walk) std::fprintf(file, "%.17g\n", v);
    std::fclose(file);
  }

  // Defaults: TrendOrder 2, Lrec 1000, MinScale 20, WinShift 100, Tini 0,
  // Tstep 1, every core. Out-of-range counts are clamped as mfwindow's
  // dialogue clamps them (mfwindow::ClampedValues lists them).
  mfwindow::Settings settings;
  settings.WinShift = 250;
  settings.Tstep = 0.5;
  const mfwindow::SeriesResult result = mfwindow::AnalyseSeries(walk, settings);

  std::printf("time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz\n");
  for (const mfwindow::WindowRow& r : result.Rows) {
    std::printf("%.17g,%.17g,%.17g,%.17g,%.17g,%.17g\n", r.TimeMark, r.AlfaMin,
                r.AlfaMax, r.AlfaWidth, r.AlfaSz, r.FAlfaSz);
  }
  return result.Rows.empty() ? 1 : 0;
}
