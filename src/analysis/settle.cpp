#include "analysis/settle.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "analysis/run_constants.h"

namespace analysis {

std::int32_t SettleTrendOrder(std::int32_t answer) {
  if (answer < kLeastTrendOrder) return kLeastTrendOrder;
  if (answer > kMostTrendOrder) return kMostTrendOrder;
  return answer;
}

std::int32_t SettleLrec(std::int32_t answer) {
  return answer < kLeastLrec ? kLeastLrec : answer;
}

std::int32_t SettleMinScale(std::int32_t answer, std::int32_t lrec) {
  std::int32_t v = answer < kLeastMinScale ? kLeastMinScale : answer;
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

std::optional<SettingProblem> MethodProblem(const TableParams& params) {
  const MethodOptions& m = params.Method;
  if (m.QList.empty()) {
    if (m.QCount > 1 && !(m.QMin < m.QMax)) {
      return SettingProblem{{"q_min", "must be below q_max", m.QMin},
                            {{"q_max", "must be above q_min", m.QMax}}};
    }
    const std::vector<double> q = MomentOrders(m);
    for (std::size_t j = 1; j < q.size(); ++j) {
      if (!(q[j] > q[j - 1]) || !std::isfinite(q[j])) {
        const std::string rule =
            "must leave the moment orders far enough apart to be told apart";
        return SettingProblem{
            {"q_count", rule, static_cast<double>(m.QCount)},
            {{"q_max", rule, m.QMax}, {"q_min", rule, m.QMin}}};
      }
    }
  }
  if (m.FitMin > 0 && m.FitMax > 0 && m.FitMin > m.FitMax) {
    return SettingProblem{
        {"fit_min",
         "must not exceed fit_max (" + std::to_string(m.FitMax) + ")",
         static_cast<double>(m.FitMin)},
        {{"fit_max",
          "must not be below fit_min (" + std::to_string(m.FitMin) + ")",
          static_cast<double>(m.FitMax)}}};
  }
  const std::vector<std::int32_t> lengths = ScaleLengths(
      LogScaleGrid(params.MinScale, MaxScaleOf(params), m.ScaleCount));
  const ScaleSpan fit = FitScales(lengths, m.FitMin, m.FitMax);
  if (fit.Last - fit.First < 2 || lengths[fit.First] == lengths[fit.Last - 1]) {
    const std::string rule =
        "must leave the fits at least 2 different segment lengths of the "
        "scale grid (" +
        std::to_string(lengths.front()) + " to " +
        std::to_string(lengths.back()) + " samples)";
    return SettingProblem{{"fit_min", rule},
                          {{"fit_max", rule},
                           {"max_scale", rule},
                           {"scale_count", rule},
                           {"min_scale", rule}}};
  }
  return std::nullopt;
}

}  // namespace analysis
