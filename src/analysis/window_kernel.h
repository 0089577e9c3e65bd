// The window kernels: one thread's analysis of prepared windows, behind one
// interface, so that a scheduler (engine.h) runs either without knowing
// which.
//   kStraightforward  AnalyseWindow (straightforward_kernel.h): every
//                     operation in the order written.
//   kVector           AnalyseWindowVector (vector_kernel.h): each distinct
//                     segment length once, vector lanes.
//   kSegmentOnce      segment_once_kernel.h: each segment of the series
//                     measured once, windows summed from block sums; only
//                     runs that SegmentOnceTakes.
// The first two take every settled run and give the same doubles, bit for
// bit; the segment-once kernel gives F_q(s) within the tolerance stated in
// docs/method.md. Each states the storage it
// allocates (KernelDoubles), from which the engine's storage check is
// summed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/params.h"
#include "analysis/results.h"
#include "analysis/run_constants.h"
#include "analysis/segment_reuse.h"
#include "analysis/straightforward_kernel.h"
#include "analysis/window_null.h"

namespace analysis {

enum class KernelKind { kStraightforward, kVector, kSegmentOnce };

// The kernel a front end asks for: kAuto leaves the choice to MakeEngine.
enum class KernelChoice { kAuto, kStraightforward, kVector, kSegmentOnce };

// "straightforward", "vector", "segment_once"; "vector, libm fallback" where
// the vector kernels hand every power and logarithm to libm (a libm that fails
// numerics::LibmMatchesKernels, or a processor without the exact paths):
// the same bits, at the straightforward kernel's cost of libm calls.
std::string KernelName(KernelKind kind);

// An upper bound of the bytes one kernel of `kind` allocates for a run with
// `params`, with F_q(s) when `keep_fq` and the run keeps it (in doubles,
// as a long double so that absurd answers cannot overflow).
long double KernelDoubles(KernelKind kind, const TableParams& params,
                          bool keep_fq);

// One thread's analysis of one window at a time. Not for sharing: give each
// thread its own.
class WindowKernel {
 public:
  virtual ~WindowKernel() = default;

  // The summary of one window of Lrec prepared values, AnalyseWindow's.
  virtual SpectrumSummary Analyse(std::span<const double> values) = 0;

  // The same for a window at `place` of its series. A kernel may take what
  // it computed for earlier windows of the same series where that gives
  // the same bits (segment_reuse.h); the straightforward kernel takes
  // nothing.
  virtual SpectrumSummary AnalyseAt(std::span<const double> values,
                                    const WindowPlace& /*place*/) {
    return Analyse(values);
  }

  // Of the window analysed last.
  virtual const WindowQuality& Quality() const = 0;
  virtual void CopySpectrum(WindowSpectrum& out) const = 0;
  // F_q(s), scale-major; empty unless kept.
  virtual std::span<const double> Fq() const = 0;
};

// A kernel of `kind` (which must take the run) for `run`, which must
// outlive it; keep_fq false drops F_q(s) even when the run keeps it
// (surrogates). `tick`, when not empty, is called between scales. Throws
// std::bad_alloc when storage cannot be obtained.
std::unique_ptr<WindowKernel> MakeKernel(KernelKind kind,
                                         const RunConstants& run, bool keep_fq,
                                         ScaleTick tick = {});

// The kernel that analyses the surrogates of a run with `kind`: a
// surrogate is no part of the series, so the segment-once kernel's are
// the vector kernel's.
KernelKind SurrogateKernel(KernelKind kind);

// What one thread needs to analyse surrogates: a factory and a kernel of
// its own, whose F_q(s) is never handed out. Not for sharing.
struct SurrogateWorker {
  // Throws std::bad_alloc when storage cannot be obtained.
  SurrogateWorker(KernelKind kind, const RunConstants& run, ScaleTick tick);
  SurrogateFactory Factory;
  std::unique_ptr<WindowKernel> Kernel;
};

// An upper bound of a SurrogateWorker's bytes, in doubles.
long double SurrogateWorkerDoubles(KernelKind kind, const TableParams& params);

// The surrogates [first, last) of window `window_number` (from 1), whose
// surrogated sequence is `source` and first raw sample `first_sample`: each
// made and analysed in index order, its width and AlfaSz stored at its
// index, and at_cap[i] = 1 where its IAAFT loop stopped at the cap. The one
// surrogate loop of every scheduler; each surrogate depends on its window and
// index alone, so how the indices are split over threads never matters.
void AnalyseSurrogates(SurrogateWorker& worker, std::span<const double> source,
                       double first_sample, std::int64_t window_number,
                       std::size_t first, std::size_t last,
                       std::span<double> widths, std::span<double> alfa_sz,
                       std::span<std::uint8_t> at_cap);

}  // namespace analysis
