#include "analysis/window_null.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>

#include "analysis/moving_window.h"
#include "analysis/table_size.h"

namespace analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Ascending, -0 before +0, so that equal inputs sort to equal bytes.
bool Before(double a, double b) {
  return a < b || (a == b && std::signbit(a) && !std::signbit(b));
}

struct Levels {
  double Median = kNaN;
  double P95 = kNaN;
};

// Median and 95th percentile of `values`, which it sorts.
Levels LevelsOf(std::span<double> values) {
  Levels levels;
  const std::size_t m = values.size();
  if (m == 0) return levels;
  std::sort(values.begin(), values.end(), Before);
  levels.Median =
      m % 2 == 1 ? values[m / 2] : (values[m / 2 - 1] + values[m / 2]) / 2.0;
  const double rank = 0.95 * static_cast<double>(m - 1);
  const auto low = static_cast<std::size_t>(rank);
  const double fraction = rank - static_cast<double>(low);
  levels.P95 = low + 1 < m
                   ? values[low] + fraction * (values[low + 1] - values[low])
                   : values[low];
  return levels;
}

}  // namespace

std::size_t SurrogateSourceSize(const TableParams& tables) {
  const auto lrec = static_cast<std::size_t>(tables.Lrec);
  return tables.IncrFlag == 0 && tables.Method.Profile ? lrec : lrec - 1;
}

void SurrogateSource(const TableParams& tables, std::span<const double> raw,
                     std::span<double> source) {
  assert(raw.size() == static_cast<std::size_t>(tables.Lrec) &&
         source.size() == SurrogateSourceSize(tables));
  if (SurrogateSourceSize(tables) == raw.size()) {
    std::copy(raw.begin(), raw.end(), source.begin());
    return;
  }
  for (std::size_t i = 0; i < source.size(); ++i) {
    source[i] = raw[i + 1] - raw[i];
  }
}

void PrepareSurrogate(const TableParams& tables, double first_sample,
                      std::span<const double> surrogate,
                      std::span<double> prepared) {
  const std::size_t lrec = prepared.size();
  assert(lrec == static_cast<std::size_t>(tables.Lrec) &&
         surrogate.size() == SurrogateSourceSize(tables));
  if (tables.IncrFlag == 1) {
    std::copy(surrogate.begin(), surrogate.end(), prepared.begin());
    prepared[lrec - 1] = 0.0;
    if (tables.Method.Profile) FormProfile(prepared);
  } else if (tables.Method.Profile) {
    std::copy(surrogate.begin(), surrogate.end(), prepared.begin());
    FormProfile(prepared);
  } else {
    double level = first_sample;
    prepared[0] = level;
    for (std::size_t i = 0; i + 1 < lrec; ++i) {
      level += surrogate[i];
      prepared[i + 1] = level;
    }
  }
}

SurrogateFactory::SurrogateFactory(const TableParams& tables)
    : tables_(tables),
      maker_(SurrogateSourceSize(tables), tables.Surrogates.Kind,
             tables.Surrogates.IaaftCap),
      surrogate_(SurrogateSourceSize(tables)),
      prepared_(detail::TableSize(1, tables.Lrec)) {}

std::span<const double> SurrogateFactory::Make(std::span<const double> source,
                                               double first_sample,
                                               std::int64_t window_number,
                                               std::int32_t index) {
  const std::uint64_t key = numerics::SurrogateKey(
      tables_.Surrogates.Seed, 0, static_cast<std::uint64_t>(window_number),
      static_cast<std::uint64_t>(index));
  maker_.Make(source, key, surrogate_);
  PrepareSurrogate(tables_, first_sample, surrogate_, prepared_);
  return prepared_;
}

bool SurrogateFactory::LastAtCap() const {
  return maker_.Kind() == numerics::SurrogateKind::kIaaft &&
         maker_.LastIterations() == tables_.Surrogates.IaaftCap &&
         !maker_.LastConverged();
}

WindowNull NullLevels(const SpectrumSummary& observed,
                      std::span<const double> widths,
                      std::span<const double> alfa_sz,
                      std::span<const std::uint8_t> at_cap,
                      std::span<double> scratch) {
  assert(widths.size() == alfa_sz.size() && at_cap.size() == widths.size() &&
         scratch.size() >= 2 * widths.size());
  WindowNull null;
  // The surrogates that enter the levels, their widths first in `scratch`
  // and their AlfaSz after them.
  const std::span<double> used_widths = scratch.first(widths.size());
  const std::span<double> used_alfa_sz =
      scratch.subspan(widths.size(), widths.size());
  std::size_t n = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    null.IaaftAtCap += at_cap[i];
    if (at_cap[i] != 0 || std::isnan(widths[i]) || std::isnan(alfa_sz[i])) {
      continue;
    }
    used_widths[n] = widths[i];
    used_alfa_sz[n] = alfa_sz[i];
    ++n;
  }
  null.Used = static_cast<std::int32_t>(n);
  const double slots = static_cast<double>(n + 1);
  const bool none = n == 0;

  std::size_t wider = 0;
  for (const double w : used_widths.first(n)) {
    wider += w >= observed.AlfaWidth ? 1 : 0;
  }
  null.WidthP = std::isnan(observed.AlfaWidth) || none
                    ? kNaN
                    : static_cast<double>(1 + wider) / slots;
  std::size_t above = 0;
  std::size_t below = 0;
  for (const double a : used_alfa_sz.first(n)) {
    above += a >= observed.AlfaSz ? 1 : 0;
    below += a <= observed.AlfaSz ? 1 : 0;
  }
  const double two_sided =
      2.0 * static_cast<double>(1 + std::min(above, below)) / slots;
  null.AlfaSzP =
      std::isnan(observed.AlfaSz) || none ? kNaN : std::min(1.0, two_sided);

  const Levels width = LevelsOf(used_widths.first(n));
  null.WidthMedian = width.Median;
  null.WidthP95 = width.P95;
  const Levels peak = LevelsOf(used_alfa_sz.first(n));
  null.AlfaSzMedian = peak.Median;
  null.AlfaSzP95 = peak.P95;
  return null;
}

}  // namespace analysis
