// Short gaps bridged by the straight line between the samples on either
// side, so that a few missing samples do not cost every window over them;
// longer gaps, and gaps at the start or the end of a series, stay gaps.
// The windows that hold bridged samples are told apart by their status
// and the share of such samples.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "analysis/results.h"

namespace series {

class GapBridge {
 public:
  // Bridges runs of at most `max_gap` gaps (NaN samples); `window` and
  // `shift` place each window's samples for Mark.
  GapBridge(std::int32_t max_gap, std::int32_t window, std::int32_t shift);

  // The next sample from `source`, a short gap's samples bridged. Holds at
  // most max_gap + 1 samples back while it looks for a gap's end.
  std::optional<double> Next(
      const std::function<std::optional<double>()>& source);

  // Window `number` (from 1) given the share of its samples that were
  // bridged, and status kFilled where it would be kOk. Windows are marked
  // in order: the bridged samples before this window are forgotten.
  void Mark(std::int64_t number, analysis::WindowQuality& quality);

  std::int64_t Bridged() const { return bridged_; }  // in all

 private:
  std::int64_t max_gap_;
  std::int64_t window_;
  std::int64_t shift_;
  std::int64_t handed_ = 0;          // samples handed out
  std::optional<double> last_;       // the last sample that was no gap
  std::deque<double> ahead_;         // read, not yet handed out
  bool in_long_gap_ = false;         // handing out a gap too long to bridge
  bool ended_ = false;               // the source has ended
  std::deque<std::int64_t> filled_;  // positions (from 1) still to count
  std::int64_t bridged_ = 0;
};

}  // namespace series
