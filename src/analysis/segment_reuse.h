// Reuse across the windows of one series: the detrended measure (range or
// rms) of a segment that recurs, unchanged, in a later window is taken from
// the window that computed it instead of being detrended again. A segment
// recurs when the shift between two windows is a multiple of its length
// (with a shift of 1, segment v of window w is segment v - 1 of window
// w + n) and both windows hold it whole.
//
// The rule that keeps the bytes. A segment's measure is a function of the
// segment's prepared values alone, so it may be reused exactly when those
// values are the same bits in both windows. The prepared value at a given
// place of the series is the same in every window that holds it
//   - with IncrFlag 0 and no profile: it is the raw sample itself;
//   - with IncrFlag 1 and no profile: it is raw[i+1] - raw[i], except the
//     window's last value, the 0.0 that keeps the length; a segment holding
//     that value is never stored nor taken.
// With the profile every value depends on the window's mean (and on every
// value before it in the window), so the windows of a series share no
// prepared value in general: nothing is reused there. What depends on the
// whole window (its magnitude, the range floor, the counts, the powers and
// sums) is computed for every window as before.
//
// A kept segment also keeps the power terms that the power kernel could not
// decide for its measure and took from std::pow (numerics::RecalledTerms):
// the same measure has the same terms, so a later window takes them instead
// of calling std::pow again.
//
// Storage is bounded by the window, not the series: per segment length n,
// a ring of (n / g) (Lrec div n + 1) measures with their places, g =
// gcd(n, shift) (every segment start is a multiple of g), and all the rings
// together hold at most kMostKeptSegments. A place is looked up by its tag, so
// a window seen out of order, or a ring slot taken since, only costs a
// recomputation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "analysis/params.h"
#include "numerics/power_sums.h"
#include "platform/platform.h"

namespace analysis {

// Where a window lies in its series: the series (any value that differs
// from the previous series an engine analysed), the place of the window's
// first value in it (from 0), and the shift between windows.
// Raw, when not empty, holds the window's raw samples preceded by the
// Before samples of the series just before it (for the segment-once
// kernel, which measures segments from the raw samples).
struct WindowPlace {
  std::uint64_t Stream = 0;
  std::int64_t First = 0;
  std::int32_t Shift = 0;
  std::span<const double> Raw;
  std::size_t Before = 0;
};

// Whether windows of a run with `tables` share prepared values at all (see
// above): no profile.
bool SegmentsRecur(const TableParams& tables);

// Measures kept by all the rings of one SegmentReuse together, at most.
inline constexpr std::int64_t kMostKeptSegments = std::int64_t{1} << 21;
// Of those, the segments that also keep what std::pow gave for their
// undecided power terms (numerics::RecalledTerms, 64 bytes each), at most,
// in one block rounded up to whole kHugePage bytes.
inline constexpr std::int64_t kMostRecalledSegments = std::int64_t{1} << 18;
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The measures one kernel keeps for the next windows of its series. Holds
// state: one per kernel, never shared between threads.
class SegmentReuse {
 public:
  SegmentReuse() = default;
  // For columns of segment lengths `lengths` (ascending) of a run with
  // `tables`. Allocates nothing until a placed window comes.
  SegmentReuse(const TableParams& tables,
               std::span<const std::int32_t> lengths);

  // The window to come: `place`, or nullptr for a window that is not part
  // of a series (a surrogate), for which nothing is taken or kept. A new
  // series or shift forgets what was kept and (re)sizes the rings, the
  // shortest lengths first, while kMostKeptSegments allows: they save the
  // most per stored measure. Throws std::bad_alloc when storage cannot be
  // obtained.
  void Enter(const WindowPlace* place);

  // Copies into ranges[0], ranges[1], ... the kept measures of the current
  // window's segments of column `column`, from its first segment on, up to
  // the first segment not kept. Returns how many were copied.
  std::size_t Restore(std::size_t column, std::span<double> ranges) const;

  // Keeps the measures `ranges` of the current window's segments of column
  // `column` (segment v starts at the window's value v * length).
  void Keep(std::size_t column, std::span<const double> ranges);

  // Where the power kernel keeps the undecided terms of the current
  // window's segments of column `column`: out[v] for segment v, null where
  // the segment is not kept. Returns false, leaving out alone, when the
  // column keeps none (then the kernel needs no recall at all).
  bool Recall(std::size_t column, std::span<numerics::RecalledTerms*> out);

  // Starts fetching into cache what Restore, Keep and Recall will touch for
  // the current window's first `count` segments of column `column`: asked
  // one column ahead, the slots are there when that column comes.
  void Prefetch(std::size_t column, std::size_t count) const;

  // An upper bound of the doubles a SegmentReuse holds for `tables`.
  static long double Doubles(const TableParams& tables);

 private:
  struct Kept {
    std::int64_t Start;  // the series place of the segment's first value
    double Measure;
  };
  struct Ring {
    std::int32_t Length = 0;
    std::int64_t Step = 1;    // gcd(Length, shift): every start's divisor
    std::int64_t Run = 1;     // slots per class of starts modulo Length
    std::vector<Kept> Slots;  // Start -1: empty
    // Where the ring's recalled terms, one per slot, begin in recalled_;
    // -1 when kMostRecalledSegments is spent.
    std::int64_t RecalledAt = -1;
  };
  // Recalled terms for every ring, in one block.
  class RecalledBlock {
   public:
    RecalledBlock() = default;
    explicit RecalledBlock(std::int64_t count);  // throws std::bad_alloc
    numerics::RecalledTerms* Data() const { return terms_.get(); }

   private:
    struct Free {
      void operator()(numerics::RecalledTerms* terms) const {
        platform::FreeAligned(terms);
      }
    };
    std::unique_ptr<numerics::RecalledTerms, Free> terms_;
  };
  // Calls visit(v, start, slot) for the current window's segments v = 0,
  // 1, ... of `ring` that may be shared (start: its series place; slot:
  // where the ring keeps it) until
  // visit returns false.
  template <typename Visit>
  void Walk(const Ring& ring, std::size_t count, Visit visit) const;

  std::int32_t lrec_ = 0;
  bool recur_ = false;
  bool increments_ = false;
  bool placed_ = false;
  bool sized_ = false;
  WindowPlace place_;
  std::vector<Ring> rings_;
  RecalledBlock recalled_;
};

}  // namespace analysis
