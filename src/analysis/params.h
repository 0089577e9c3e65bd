// The settled answers that the analysis reads, split by when they are
// known: the tables of a run are built from TableParams as soon as the
// minimum scale is settled; the window shift and the time axis (WindowPlan)
// are settled afterwards and only steer the windows of each series.
#pragma once

#include <cstdint>

namespace analysis {

// Each field is fixed once its question is settled. Counts are 32-bit.
struct AnalysisParams {
  std::int32_t IncrFlag = 0;    // 1: analyse the increments inside each window
  std::int32_t TrendOrder = 0;  // detrending polynomial order, 1..10
  std::int32_t Lrec = 0;        // window length in samples, >= 32
  std::int32_t MinScale = 0;    // min(max(answer, 20), Lrec / 10)
  std::int32_t WinShift = 0;    // distance between window starts, 1..Lrec
  double Tini = 0.0;            // time mark one step before the first sample
  double Tstep = 0.0;           // time step, > 0
};

// What the run-wide tables and every window's preparation depend on.
struct TableParams {
  std::int32_t IncrFlag = 0;
  std::int32_t TrendOrder = 0;
  std::int32_t Lrec = 0;
  std::int32_t MinScale = 0;
};

// Where each window of a series starts and which time mark it gets: sample
// j (counted from 1) lies at Tini + j*Tstep.
struct WindowPlan {
  std::int32_t WinShift = 0;
  double Tini = 0.0;
  double Tstep = 0.0;
};

inline TableParams TablesOf(const AnalysisParams& p) {
  return TableParams{p.IncrFlag, p.TrendOrder, p.Lrec, p.MinScale};
}

inline WindowPlan PlanOf(const AnalysisParams& p) {
  return WindowPlan{p.WinShift, p.Tini, p.Tstep};
}

}  // namespace analysis
