#include "analysis/settle.h"

#include <cmath>

namespace analysis {

std::int32_t SettleTrendOrder(std::int32_t answer) {
  if (answer <= 0) return 1;
  if (answer > 10) return 10;
  return answer;
}

std::int32_t SettleLrec(std::int32_t answer) {
  return answer < 32 ? 32 : answer;
}

std::int32_t SettleMinScale(std::int32_t answer, std::int32_t lrec) {
  std::int32_t v = answer < 20 ? 20 : answer;
  if (lrec / 10 < v) v = lrec / 10;
  return v;
}

std::int32_t SettleWinShift(std::int32_t answer, std::int32_t lrec) {
  std::int32_t v = answer <= 0 ? 1 : answer;
  if (v > lrec) v = lrec;
  return v;
}

bool AcceptIncrFlag(std::int32_t answer) { return answer == 0 || answer == 1; }

bool AcceptTstep(double answer) { return answer > 0.0; }

bool AcceptTimeAxis(double tini, double tstep) {
  return std::isfinite(tini) && std::isfinite(tstep) && AcceptTstep(tstep);
}

}  // namespace analysis
