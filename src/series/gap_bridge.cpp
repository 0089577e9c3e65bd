#include "series/gap_bridge.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace series {

GapBridge::GapBridge(std::int32_t max_gap, std::int32_t window,
                     std::int32_t shift)
    : max_gap_(max_gap), window_(window), shift_(shift) {}

std::optional<double> GapBridge::Next(
    const std::function<std::optional<double>()>& source) {
  if (!ahead_.empty()) {
    const double next = ahead_.front();
    ahead_.pop_front();
    ++handed_;
    return next;
  }
  if (ended_) return std::nullopt;
  const std::optional<double> sample = source();
  if (!sample) {
    ended_ = true;
    return sample;
  }
  ++handed_;
  if (!std::isnan(*sample)) {
    in_long_gap_ = false;
    last_ = sample;
    return sample;
  }
  if (!last_ || in_long_gap_) return sample;  // no sample before it
  // A gap after a sample: read on to its end, up to one sample past the
  // longest gap bridged.
  std::int64_t gap = 1;
  std::optional<double> after;
  while (gap <= max_gap_) {
    after = source();
    if (!after) {
      ended_ = true;
      break;
    }
    if (!std::isnan(*after)) break;
    ++gap;
  }
  if (after && !std::isnan(*after)) {
    // Sample j of the gap lies j / (gap + 1) of the way along.
    const double from = *last_;
    const double step = (*after - from) / static_cast<double>(gap + 1);
    for (std::int64_t j = 1; j <= gap; ++j) {
      ahead_.push_back(from + step * static_cast<double>(j));
      filled_.push_back(handed_ - 1 + j);
    }
    bridged_ += gap;
    ahead_.push_back(*after);
    last_ = after;
  } else {
    // Too long, or the series ends inside it: it stays a gap.
    ahead_.assign(static_cast<std::size_t>(gap),
                  std::numeric_limits<double>::quiet_NaN());
    in_long_gap_ = !ended_;
  }
  const double first = ahead_.front();
  ahead_.pop_front();
  return first;
}

void GapBridge::Mark(std::int64_t number, analysis::WindowQuality& quality) {
  const std::int64_t first = (number - 1) * shift_ + 1;
  const std::int64_t last = first + window_ - 1;
  while (!filled_.empty() && filled_.front() < first) filled_.pop_front();
  const auto end = std::upper_bound(filled_.begin(), filled_.end(), last);
  const auto count = static_cast<double>(end - filled_.begin());
  quality.FilledShare = count / static_cast<double>(window_);
  if (count > 0 && quality.Status == analysis::QualityStatus::kOk) {
    quality.Status = analysis::QualityStatus::kFilled;
  }
}

}  // namespace series
