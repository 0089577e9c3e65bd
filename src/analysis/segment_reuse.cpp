#include "analysis/segment_reuse.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <memory>
#include <new>
#include <numeric>

namespace analysis {

bool SegmentsRecur(const TableParams& tables) { return !tables.Method.Profile; }

SegmentReuse::SegmentReuse(const TableParams& tables,
                           std::span<const std::int32_t> lengths)
    : lrec_(tables.Lrec),
      recur_(SegmentsRecur(tables)),
      increments_(tables.IncrFlag == 1) {
  if (!recur_) return;
  rings_.resize(lengths.size());
  for (std::size_t c = 0; c < lengths.size(); ++c) {
    rings_[c].Length = lengths[c];
  }
}

void SegmentReuse::Enter(const WindowPlace* place) {
  placed_ = recur_ && place != nullptr && place->Shift > 0;
  if (!placed_) return;
  if (sized_ && place->Stream == place_.Stream &&
      place->Shift == place_.Shift) {
    place_.First = place->First;
    return;
  }
  place_ = *place;
  sized_ = true;
  std::int64_t budget = kMostKeptSegments;
  std::int64_t recall_budget = kMostRecalledSegments;
  for (Ring& ring : rings_) {
    ring.Step = std::gcd(std::int64_t{ring.Length}, std::int64_t{place_.Shift});
    // A segment recurs only if a later window, a multiple of the shift on,
    // starts a multiple of the length on and still cuts it: the common
    // multiple `period` must not pass the last segment's start.
    const std::int64_t period =
        std::int64_t{ring.Length} / ring.Step * place_.Shift;
    // One run of Lrec / n + 1 slots for each class of starts modulo n.
    ring.Run = lrec_ / ring.Length + 1;
    const std::int64_t slots = ring.Length / ring.Step * ring.Run;
    const std::int64_t last_start =
        (std::int64_t{lrec_} / ring.Length - 1) * ring.Length;
    const bool worth = period <= last_start && slots <= budget;
    ring.Slots.assign(worth ? static_cast<std::size_t>(slots) : 0,
                      Kept{-1, 0.0});
    if (worth) budget -= slots;
    const bool recalled = worth && slots <= recall_budget;
    ring.RecalledAt = recalled ? kMostRecalledSegments - recall_budget : -1;
    if (recalled) recall_budget -= slots;
  }
  recalled_ = RecalledBlock(kMostRecalledSegments - recall_budget);
}

SegmentReuse::RecalledBlock::RecalledBlock(std::int64_t count) {
  if (count <= 0) return;
  // One block for every ring, on huge pages where the system grants them
  // and the block fills one: a window touches a slot in each ring, and 4 KiB
  // pages would make that a TLB miss each.
  const std::size_t bytes =
      static_cast<std::size_t>(count) * sizeof(numerics::RecalledTerms);
  const bool huge = bytes >= kHugePage;
  const std::size_t align = huge ? kHugePage : alignof(numerics::RecalledTerms);
  const std::size_t rounded = (bytes + align - 1) / align * align;
  void* block = platform::AllocateAligned(align, rounded);
  if (block == nullptr) throw std::bad_alloc();
  // Advice: where it is refused, nothing changes but the speed.
  if (huge) platform::AdviseHugePages(block, rounded);
  auto* terms = static_cast<numerics::RecalledTerms*>(block);
  std::uninitialized_value_construct_n(terms, count);
  terms_.reset(terms);
}

template <typename Visit>
void SegmentReuse::Walk(const Ring& ring, std::size_t count,
                        Visit visit) const {
  if (ring.Slots.empty()) return;
  // With increments the window's last value is its own 0.0, not the
  // series' increment at that place: a segment that ends there is not
  // shared.
  const auto length = static_cast<std::size_t>(ring.Length);
  if (increments_ && count * length == static_cast<std::size_t>(lrec_)) {
    --count;
  }
  // Starts are multiples of Step. The segments of one window all have the
  // same class c = (p / Step) mod (Length / Step) and consecutive
  // k = p / Length, so they lie side by side in class c's run, at
  // c * Run + k mod Run. A run holds more than a window's segments of its
  // class, so windows in order never overwrite a measure still to come.
  assert(place_.First % ring.Step == 0);
  const std::int64_t classes = ring.Length / ring.Step;
  const std::int64_t base = place_.First / ring.Step % classes * ring.Run;
  std::int64_t k = place_.First / ring.Length % ring.Run;
  std::int64_t start = place_.First;
  for (std::size_t v = 0; v < count; ++v) {
    if (!visit(v, start, base + k)) return;
    start += ring.Length;
    if (++k == ring.Run) k = 0;
  }
}

std::size_t SegmentReuse::Restore(std::size_t column,
                                  std::span<double> ranges) const {
  if (!placed_) return 0;
  std::size_t restored = 0;
  Walk(rings_[column], ranges.size(),
       [&](std::size_t v, std::int64_t start, std::int64_t slot) {
         const Kept& kept =
             rings_[column].Slots[static_cast<std::size_t>(slot)];
         if (kept.Start != start) return false;
         ranges[v] = kept.Measure;
         restored = v + 1;
         return true;
       });
  return restored;
}

void SegmentReuse::Keep(std::size_t column, std::span<const double> ranges) {
  if (!placed_) return;
  Ring& ring = rings_[column];
  Walk(ring, ranges.size(),
       [&](std::size_t v, std::int64_t start, std::int64_t slot) {
         ring.Slots[static_cast<std::size_t>(slot)] = Kept{start, ranges[v]};
         return true;
       });
}

bool SegmentReuse::Recall(std::size_t column,
                          std::span<numerics::RecalledTerms*> out) {
  if (!placed_ || rings_[column].RecalledAt < 0) return false;
  const Ring& ring = rings_[column];
  numerics::RecalledTerms* terms = recalled_.Data() + ring.RecalledAt;
  std::fill(out.begin(), out.end(), nullptr);
  Walk(ring, out.size(),
       [&](std::size_t v, std::int64_t /*start*/, std::int64_t slot) {
         out[v] = terms + slot;
         return true;
       });
  return true;
}

void SegmentReuse::Prefetch(std::size_t column, std::size_t count) const {
  if (!placed_) return;
  const Ring& ring = rings_[column];
  const auto fetch = [](const void* from, std::size_t bytes) {
    const char* at = static_cast<const char*>(from);
    for (std::size_t offset = 0; offset < bytes; offset += 64) {
      __builtin_prefetch(at + offset);
    }
  };
  Walk(ring, count,
       [&](std::size_t /*v*/, std::int64_t /*start*/, std::int64_t slot) {
         const auto at = static_cast<std::size_t>(slot);
         fetch(&ring.Slots[at], sizeof(Kept));
         if (ring.RecalledAt >= 0) {
           fetch(recalled_.Data() + ring.RecalledAt + slot,
                 sizeof(numerics::RecalledTerms));
         }
         return true;
       });
}

long double SegmentReuse::Doubles(const TableParams& tables) {
  // A tag and a measure per kept segment, and the recalled terms of some;
  // a ring per column of at most Lrec + n <= 2 Lrec segments.
  if (!SegmentsRecur(tables)) return 0.0L;
  const long double columns =
      tables.Method.ScaleCount < 2 ? 2 : tables.Method.ScaleCount;
  // The recalled terms' block is rounded up to a whole huge page.
  const long double segments = 2.0L * columns * tables.Lrec;
  constexpr long double kRecalledDoubles =
      static_cast<long double>(sizeof(numerics::RecalledTerms)) /
      sizeof(double);
  return 2.0L *
             std::min(static_cast<long double>(kMostKeptSegments), segments) +
         kRecalledDoubles *
             std::min(static_cast<long double>(kMostRecalledSegments),
                      segments) +
         static_cast<long double>(kHugePage) / sizeof(double);
}

}  // namespace analysis
