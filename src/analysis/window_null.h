// Surrogate null levels of one window: N surrogates of the window are
// analysed with the run's settings, and the observed width and AlfaSz are
// ranked among theirs. Shared by both engines, which differ only in how they
// spread the N analyses over threads; every surrogate depends only on the
// window's samples, the settings, the seed, the window's number and its own
// index, so the levels are the same bytes on any thread count.
//
// What is surrogated is the sequence whose cumulative sum the method
// analyses, so that shuffling or randomising phases never acts on a walk:
//   IncrFlag 0, no profile: the Lrec - 1 increments raw[i+1] - raw[i] of
//     the window; a surrogate s is integrated again from the window's first
//     sample, y[0] = raw[0], y[i+1] = y[i] + s[i] (running total), and y is
//     analysed as the window's values are.
//   IncrFlag 1: the same increments; the surrogate takes their place, s
//     followed by 0.0 as the window's own increments are, and with
//     Method.Profile the profile of that.
//   IncrFlag 0 with Method.Profile: the Lrec window values themselves (the
//     profile integrates them); the analysed values are the profile of s.
// Surrogate i (from 0) of window n (from 1) is made from the key
// numerics::SurrogateKey(Seed, 0, n, i): series 0 for every series, so a
// series' levels do not depend on its place in a list.
//
// A surrogate enters the levels when it settled (an IAAFT loop that reached
// its cap with the ranks still changing did not: its spectrum is not yet
// the window's) and its width and AlfaSz are not NaN; N counts those, and
// WindowNull::Used reports N. The levels, over those N (sorted in
// ascending order, -0 before +0):
//   median       the middle value, or the mean of the two middle values;
//   95th pct.    linear interpolation between order statistics at rank
//                0.95 (m - 1), counted from 0 (Hyndman and Fan's type 7,
//                numpy's default);
//   WidthP       (1 + #{surrogate width >= observed width}) / (N + 1), the
//                one-sided rank p-value: multifractality widens the
//                spectrum;
//   AlfaSzP      min(1, 2 (1 + min(#{AlfaSz_i >= observed},
//                #{AlfaSz_i <= observed})) / (N + 1)), two-sided: the peak
//                may move either way.
// A NaN observed value gives a NaN p-value; N = 0 gives NaN levels and
// p-values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/params.h"
#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "numerics/surrogates.h"

namespace analysis {

// The length of the surrogated sequence: Lrec with IncrFlag 0 and a
// profile, else Lrec - 1.
std::size_t SurrogateSourceSize(const TableParams& tables);

// The surrogated sequence of a window of Lrec raw samples, as above, into
// `source` (SurrogateSourceSize values).
void SurrogateSource(const TableParams& tables, std::span<const double> raw,
                     std::span<double> source);

// The values to analyse from surrogate `surrogate` (SurrogateSourceSize
// values) of a window whose first raw sample is `first_sample`, into
// `prepared` (Lrec values).
void PrepareSurrogate(const TableParams& tables, double first_sample,
                      std::span<const double> surrogate,
                      std::span<double> prepared);

// Makes the prepared surrogates of one run's windows. Holds a
// numerics::SurrogateMaker and buffers: not for sharing, one per thread.
// Its constructor takes FFTW's planner lock (see SurrogateMaker).
class SurrogateFactory {
 public:
  // Throws std::bad_alloc when storage cannot be obtained.
  explicit SurrogateFactory(const TableParams& tables);

  // The Lrec values to analyse for surrogate `index` (from 0) of window
  // `window_number` (from 1), whose surrogated sequence is `source` and
  // first raw sample `first_sample`. Valid until the next call. Allocates
  // nothing.
  std::span<const double> Make(std::span<const double> source,
                               double first_sample, std::int64_t window_number,
                               std::int32_t index);

  // Whether the last Make's IAAFT loop stopped at its cap, the ranks still
  // changing; false for the other kinds.
  bool LastAtCap() const;

 private:
  TableParams tables_;
  numerics::SurrogateMaker maker_;
  std::vector<double> surrogate_;
  std::vector<double> prepared_;
};

// The null levels of a window whose own summary is `observed`, from its
// surrogates' widths, AlfaSz and at-cap marks (1: the IAAFT loop reached
// its cap unsettled), one of each per surrogate index. `scratch` holds at
// least as many values as `widths`.
WindowNull NullLevels(const SpectrumSummary& observed,
                      std::span<const double> widths,
                      std::span<const double> alfa_sz,
                      std::span<const std::uint8_t> at_cap,
                      std::span<double> scratch);

}  // namespace analysis
