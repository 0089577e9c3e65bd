#include "analysis/moving_window.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "analysis/table_size.h"

namespace analysis {

WindowBuffers::WindowBuffers(std::int32_t lrec)
    : WindowBuf(detail::TableSize(1, lrec)),
      CarryBuf(detail::TableSize(1, std::int64_t{lrec} - 1)) {
  assert(lrec >= 2);
}

WindowFiller::WindowFiller(const TableParams& tables, const WindowPlan& plan,
                           WindowBuffers& buffers)
    : tables_(tables), plan_(plan), buffers_(buffers) {
  assert(plan.WinShift >= 1 && plan.WinShift <= tables.Lrec);
  assert(buffers.WindowBuf.size() == static_cast<std::size_t>(tables.Lrec) &&
         buffers.CarryBuf.size() + 1 == buffers.WindowBuf.size());
}

void WindowFiller::KeepBefore(std::size_t count) {
  buffers_.Before.resize(count);
  buffers_.BeforeCount = 0;
}

bool WindowFiller::Next(const SampleSource& next_sample,
                        std::span<double> prepared) {
  const auto lrec = static_cast<std::size_t>(tables_.Lrec);
  const auto shift = static_cast<std::size_t>(plan_.WinShift);
  const std::size_t overlap = lrec - shift;
  assert(prepared.size() == lrec);
  std::vector<double>& window = buffers_.WindowBuf;
  std::vector<double>& carry = buffers_.CarryBuf;

  // CarryBuf is stale at the start of a series and never read there.
  std::size_t start = 0;
  std::vector<double>& before = buffers_.Before;
  if (!first_window_ && !before.empty()) {
    // The samples that leave the window join those before it.
    const std::size_t keep = before.size();
    std::size_t& count = buffers_.BeforeCount;
    if (shift >= keep) {
      std::copy_n(window.begin() + static_cast<std::ptrdiff_t>(shift - keep),
                  keep, before.begin());
      count = keep;
    } else {
      const std::size_t drop = count + shift > keep ? count + shift - keep : 0;
      std::copy(before.begin() + static_cast<std::ptrdiff_t>(drop),
                before.begin() + static_cast<std::ptrdiff_t>(count),
                before.begin());
      count -= drop;
      std::copy_n(window.begin(), shift,
                  before.begin() + static_cast<std::ptrdiff_t>(count));
      count += shift;
    }
  }
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
  PrepareWindow(tables_, window, prepared);
  return true;
}

void PrepareWindow(const TableParams& tables, std::span<const double> raw,
                   std::span<double> prepared) {
  const std::size_t lrec = raw.size();
  assert(prepared.size() == lrec && lrec >= 1);
  if (prepared.data() != raw.data()) {
    std::copy(raw.begin(), raw.end(), prepared.begin());
  }
  if (tables.IncrFlag == 1) {
    // The increments keep the window's length: Lrec - 1 differences and a
    // final 0.0.
    for (std::size_t i = 0; i + 1 < lrec; ++i) {
      prepared[i] = prepared[i + 1] - prepared[i];
    }
    prepared[lrec - 1] = 0.0;
  }
  if (tables.Method.Profile) FormProfile(prepared);
}

void FormProfile(std::span<double> values) {
  double sum = 0.0;
  for (const double v : values) sum += v;
  const double mean = sum / static_cast<double>(values.size());
  double running = 0.0;
  for (double& v : values) {
    running += v - mean;
    v = running;
  }
}

WindowResult MakeWindowResult(std::int32_t lrec, const WindowPlan& plan,
                              std::int64_t window_number,
                              const SpectrumSummary& summary) {
  // 64 bits: (count - 1) * WinShift + Lrec passes 2^31 on long series.
  const std::int64_t pos = (window_number - 1) * plan.WinShift + lrec;
  WindowResult result;
  result.TimeMark = plan.Fs > 0.0
                        ? static_cast<double>(pos) / plan.Fs + plan.Tini
                        : static_cast<double>(pos) * plan.Tstep + plan.Tini;
  result.AlfaMin = summary.AlfaMin;
  result.AlfaMax = summary.AlfaMax;
  result.AlfaWidth = summary.AlfaWidth;
  result.AlfaSz = summary.AlfaSz;
  result.FAlfaSz = summary.FAlfaSz;
  return result;
}

}  // namespace analysis
