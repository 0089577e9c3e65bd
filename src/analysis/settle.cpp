#include "analysis/settle.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "analysis/run_constants.h"

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

std::optional<SettingProblem> MethodProblem(const TableParams& params) {
  // Caps that keep a table of orders by scales within reason; far beyond
  // what a fit needs.
  constexpr std::int32_t kMostOrders = 10000;
  constexpr std::int32_t kMostScales = 10000;
  constexpr std::int32_t kMostSurrogates = 100000;
  const MethodOptions& m = params.Method;

  if (!m.QList.empty()) {
    if (m.QList.size() > static_cast<std::size_t>(kMostOrders)) {
      return SettingProblem{"q", "at most 10000 moment orders can be listed"};
    }
    for (std::size_t j = 0; j < m.QList.size(); ++j) {
      if (!std::isfinite(m.QList[j])) {
        return SettingProblem{"q",
                              "every moment order must be a finite number"};
      }
      if (j > 0 && !(m.QList[j] > m.QList[j - 1])) {
        return SettingProblem{
            "q", "the listed moment orders must be strictly ascending"};
      }
    }
  } else {
    if (m.QCount < 1)
      return SettingProblem{"q_count",
                            "the number of moment orders must be at least 1"};
    if (m.QCount > kMostOrders) {
      return SettingProblem{
          "q_count", "the number of moment orders must be at most 10000"};
    }
    if (!std::isfinite(m.QMin) || !std::isfinite(m.QMax)) {
      return SettingProblem{
          "q_min",
          "the smallest and largest moment orders must be finite numbers"};
    }
    if (m.QCount > 1 && !(m.QMin < m.QMax)) {
      return SettingProblem{
          "q_min", "the smallest moment order must be below the largest"};
    }
    const std::vector<double> q = MomentOrders(m);
    for (std::size_t j = 1; j < q.size(); ++j) {
      if (!(q[j] > q[j - 1]) || !std::isfinite(q[j])) {
        return SettingProblem{
            "q_count",
            "the moment orders are too close together to be told apart"};
      }
    }
  }

  if (m.ScaleCount < 2)
    return SettingProblem{"scale_count",
                          "the number of scales must be at least 2"};
  if (m.ScaleCount > kMostScales) {
    return SettingProblem{"scale_count",
                          "the number of scales must be at most 10000"};
  }
  if (m.MaxScale < 0)
    return SettingProblem{"max_scale",
                          "the largest scale must not be negative"};
  const std::int32_t max_scale = MaxScaleOf(params);
  if (max_scale > params.Lrec) {
    return SettingProblem{"max_scale", "the largest scale (" +
                                           std::to_string(max_scale) +
                                           ") must not exceed the window "
                                           "length (" +
                                           std::to_string(params.Lrec) + ")"};
  }
  if (max_scale <= params.MinScale) {
    return SettingProblem{"max_scale",
                          "the largest scale (" + std::to_string(max_scale) +
                              ") must exceed the minimum scale (" +
                              std::to_string(params.MinScale) + ")"};
  }
  if (m.FitMin < 0 || m.FitMax < 0) {
    return SettingProblem{"fit_min", "the fit range must not be negative"};
  }
  if (m.FitMin > 0 && m.FitMax > 0 && m.FitMin > m.FitMax) {
    return SettingProblem{
        "fit_min", "the fit range's lower end must not exceed its upper end"};
  }
  const std::vector<std::int32_t> lengths =
      ScaleLengths(LogScaleGrid(params.MinScale, max_scale, m.ScaleCount));
  const ScaleSpan fit = FitScales(lengths, m.FitMin, m.FitMax);
  if (fit.Last - fit.First < 2 || lengths[fit.First] == lengths[fit.Last - 1]) {
    return SettingProblem{
        "fit_min",
        "the fit range must hold at least 2 different segment lengths of the "
        "scale grid (" +
            std::to_string(lengths.front()) + " to " +
            std::to_string(lengths.back()) + " samples)"};
  }
  if (!std::isfinite(m.RangeFloor) || m.RangeFloor < 0.0) {
    return SettingProblem{
        "range_floor", "the range floor must be a finite number, 0 or above"};
  }

  if (params.Surrogates.Count < 0) {
    return SettingProblem{"surrogates",
                          "the number of surrogates must not be negative"};
  }
  if (params.Surrogates.Count > kMostSurrogates) {
    return SettingProblem{"surrogates",
                          "the number of surrogates must be at most 100000"};
  }
  return std::nullopt;
}

}  // namespace analysis
