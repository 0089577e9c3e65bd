// What the analysis hands out: the summary and the whole spectrum of one
// window, and the six values of its result line. Plain values, shared by
// both engines and by every front end.
#pragma once

#include <array>
#include <cstdint>

namespace analysis {

inline constexpr int kMomentCount = 200;  // orders q in QGrid
inline constexpr int kScaleCount = 200;   // points of the scale grid
inline constexpr int kAlfaCount = 100;    // points of the sampled spectrum

// The five values that follow the time mark on a result line.
struct SpectrumSummary {
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;  // AlfaMax - AlfaMin
  double AlfaSz = 0.0;     // alpha where the sampled spectrum is largest
  double FAlfaSz = 0.0;    // the spectrum there
};

// The fixed result of a degenerate window (a table value not positive).
inline constexpr SpectrumSummary kDegenerateSummary{0.5, 0.5, 0.0, 0.5, 1.0};

// The six values of one result line, in the order written.
struct WindowResult {
  double TimeMark = 0.0;  // time of the window's last sample
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;
  double AlfaSz = 0.0;
  double FAlfaSz = 0.0;
};

// The whole spectrum of one window: h(q) and tau(q) over QGrid, and the
// sampled spectrum f(alpha) on its 100 alpha values. A degenerate window has
// no scaling law: both engines give NaN h and tau there, alpha all 0.5 and
// f(alpha) all 1.0.
struct WindowSpectrum {
  std::array<double, kMomentCount> HurstQ{};
  std::array<double, kMomentCount> TauQ{};
  std::array<double, kAlfaCount> AlfaGrid{};
  std::array<double, kAlfaCount> FAlfaGrid{};
};

// One analysed window as an engine hands it out, in window order.
struct WindowOutcome {
  std::int64_t Number = 0;  // counted from 1 within the series
  WindowResult Result;
  // The whole spectrum when the analysis was asked for it, else null. Valid
  // only during the call that receives the outcome.
  const WindowSpectrum* Spectrum = nullptr;
};

}  // namespace analysis
