#include "analysis/moving_window.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "analysis/table_size.h"

namespace analysis {

WindowBuffers::WindowBuffers(std::int32_t lrec)
    : WindowBuf(detail::TableSize(1, lrec)),
      CarryBuf(detail::TableSize(1, std::int64_t{lrec} - 1)),
      AnalysisBuf(detail::TableSize(1, lrec)) {
  assert(lrec >= 2);
}

WindowFiller::WindowFiller(const AnalysisParams& params, WindowBuffers& buffers)
    : params_(params), buffers_(buffers) {
  assert(params.WinShift >= 1 && params.WinShift <= params.Lrec);
  assert(buffers.WindowBuf.size() == static_cast<std::size_t>(params.Lrec) &&
         buffers.CarryBuf.size() + 1 == buffers.WindowBuf.size());
}

bool WindowFiller::Next(
    const std::function<std::optional<double>()>& next_sample,
    std::span<double> prepared) {
  const auto lrec = static_cast<std::size_t>(params_.Lrec);
  const auto shift = static_cast<std::size_t>(params_.WinShift);
  const std::size_t overlap = lrec - shift;
  assert(prepared.size() == lrec);
  std::vector<double>& window = buffers_.WindowBuf;
  std::vector<double>& carry = buffers_.CarryBuf;

  // CarryBuf is stale at the start of a series and never read there.
  std::size_t start = 0;
  if (!first_window_ && overlap > 0) {
    std::copy_n(carry.begin(), overlap, window.begin());
    start = overlap;
  }
  for (std::size_t p = start; p < lrec; ++p) {
    const std::optional<double> sample = next_sample();
    if (!sample) return false;  // the partly filled window is dropped
    window[p] = *sample;
  }
  first_window_ = false;

  // The overlap is carried as raw samples, before any preparation.
  if (overlap > 0) {
    std::copy(window.begin() + static_cast<std::ptrdiff_t>(shift), window.end(),
              carry.begin());
  }
  std::copy(window.begin(), window.end(), prepared.begin());
  if (params_.IncrFlag == 1) {
    // The increments keep the window's length: Lrec - 1 differences and a
    // final 0.0. No profile is formed.
    for (std::size_t i = 0; i + 1 < lrec; ++i) {
      prepared[i] = prepared[i + 1] - prepared[i];
    }
    prepared[lrec - 1] = 0.0;
  }
  return true;
}

WindowResult MakeWindowResult(const AnalysisParams& params,
                              std::int64_t window_number,
                              const SpectrumSummary& summary) {
  // 64 bits: (count - 1) * WinShift + Lrec passes 2^31 on long series.
  const std::int64_t pos = (window_number - 1) * params.WinShift + params.Lrec;
  WindowResult result;
  result.TimeMark = static_cast<double>(pos) * params.Tstep + params.Tini;
  result.AlfaMin = summary.AlfaMin;
  result.AlfaMax = summary.AlfaMax;
  result.AlfaWidth = summary.AlfaWidth;
  result.AlfaSz = summary.AlfaSz;
  result.FAlfaSz = summary.FAlfaSz;
  return result;
}

void AnalyseSeries(const RunConstants& run, Workspace& work,
                   WindowBuffers& buffers,
                   const std::function<std::optional<double>()>& next_sample,
                   const std::function<void(std::int64_t)>& on_progress,
                   const std::function<void(const WindowResult&)>& emit) {
  WindowFiller filler(run.Params, buffers);
  std::int64_t window_count = 0;
  while (filler.Next(next_sample, buffers.AnalysisBuf)) {
    ComputeFluctuations(run, work, buffers.AnalysisBuf);
    on_progress(window_count);
    const SpectrumSummary summary = SummariseSpectrum(run, work);
    window_count += 1;
    emit(MakeWindowResult(run.Params, window_count, summary));
  }
}

}  // namespace analysis
