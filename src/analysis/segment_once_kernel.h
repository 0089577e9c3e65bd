// The segment-once kernel: the rms methods with the profile at the price of
// a window's new samples.
//
// With a detrending order of 1 or more, removing a window's mean adds only
// a constant and a linear term to the profile of each segment, and the fit
// removes both: a segment's fluctuation depends only on where it starts in
// the series and on its length, not on the window. So each segment of each
// length is measured once per series, from the raw samples, and every
// window sums the terms F^q of its segments from block sums kept per class
// of segment starts.
//
// A segment's F^2. The samples are cut into blocks of the segment length n
// anchored at the series' first sample; the segments that start in block b
// share a frame, blocks b and b + 1, with its own origin (the first
// sample of block b) and its own polynomial of the detrending order, fitted
// on block b and subtracted from the frame's cumulative sum. The frame
// keeps, over block b, the suffix sums and over block b + 1 the running
// prefix sums of z t^k and z^2 (t the frame's centred abscissa), so a
// segment's moments are one suffix plus one prefix: additions only. Its
// residual sum of squares is sum z^2 less the squared coefficients of its
// own orthonormal polynomials (precomputed per length and offset in long
// double). Where sum z^2 exceeds kSegmentOnceCondition times that residual,
// or the residual is not positive, the difference would lose too many
// digits: the segment is detrended explicitly instead (its own origin, a
// least-squares fit, one refinement, the squared residuals summed).
//
// A window's sums. Segment v of a window starts at its first value plus
// v n (with SegmentCut::kBoth also at its end less the rest): m = L div n
// consecutive members of one class of starts modulo n. The members of a
// class are cut into blocks of m anchored at the series' start; each keeps
// its prefix sums (ascending) and suffix sums (descending) per order, so a
// window's m terms are one suffix plus one prefix (van Herk, Gil-Werman):
// positive terms only, never the difference of running sums, which after
// one quiet stretch would be infinite or NaN for every later window's
// negative orders. The counted segments and their smallest F^2 are kept
// alike.
//
// Every value is a function of the series and the segment's place alone,
// computed in a fixed order without contraction: the same bytes on any
// number of threads, whichever windows a thread sees. Storage is per length
// a ring of the last 2^ceil(log2 L) starts, bounded by the window.
//
// A segment whose samples after the first are all equal has a straight
// cumulative sum: its F^2 is 0 exactly (the runs of equal samples are
// counted as the samples come). With orders 2 and up, a line cut to 20
// significant bits is taken off the samples of each frame and segment
// first, so that a trend does not swell the cumulative sums' rounding.
//
// What it takes: SegmentOnceTakes. What it promises: F_q(s) within the
// tolerance that docs/method.md states of the straightforward kernel's, not
// its bits. A window without its raw samples (a surrogate), with a
// non-finite value, or a kernel asked without a place, goes to the vector
// kernel inside, whose bits it then gives.
#pragma once

#include <memory>

#include "analysis/params.h"
#include "analysis/run_constants.h"
#include "analysis/straightforward_kernel.h"

namespace analysis {

class WindowKernel;

// The highest detrending order the moment path handles.
inline constexpr std::int32_t kSegmentOnceMaxOrder = 3;
// sum z^2 over the residual above which a segment is detrended explicitly.
inline constexpr double kSegmentOnceCondition = 16384.0;

// Whether the segment-once kernel takes runs with `params`: the profile,
// the rms fluctuation, no increments, detrending order 1 to
// kSegmentOnceMaxOrder and no range floor (a floor relative to each
// window's magnitude would make a segment count in one window and not in
// the next).
bool SegmentOnceTakes(const TableParams& params);

// An upper bound of its storage, in doubles, beside the vector kernel's.
long double SegmentOnceDoubles(const TableParams& params);

// The kernel for `run` (which SegmentOnceTakes), as MakeKernel.
std::unique_ptr<WindowKernel> MakeSegmentOnceKernel(const RunConstants& run,
                                                    bool keep_fq,
                                                    ScaleTick tick);

}  // namespace analysis
