// The settled dialogue answers that every part of the analysis reads.
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

}  // namespace analysis
