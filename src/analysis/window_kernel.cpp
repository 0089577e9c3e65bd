#include "analysis/window_kernel.h"

#include <cstddef>
#include <utility>

#include "analysis/segment_once_kernel.h"
#include "analysis/straightforward_kernel.h"
#include "analysis/vector_kernel.h"
#include "numerics/libm_check.h"
#include "numerics/segment_ranges.h"

namespace analysis {
namespace {

void CopyInto(std::span<const double> from, std::vector<double>& to) {
  to.assign(from.begin(), from.end());
}

class StraightforwardKernel final : public WindowKernel {
 public:
  StraightforwardKernel(const RunConstants& run, bool keep_fq, ScaleTick tick)
      : run_(run), work_(run) {
    if (!keep_fq) work_.Fq.clear();
    work_.Tick = std::move(tick);
  }

  SpectrumSummary Analyse(std::span<const double> values) override {
    return AnalyseWindow(run_, work_, values);
  }
  const WindowQuality& Quality() const override { return work_.Quality; }
  void CopySpectrum(WindowSpectrum& out) const override {
    CopyInto(work_.HurstQ, out.HurstQ);
    CopyInto(work_.TauQ, out.TauQ);
    CopyInto(work_.AlfaGrid, out.AlfaGrid);
    CopyInto(work_.FAlfaGrid, out.FAlfaGrid);
  }
  std::span<const double> Fq() const override { return work_.Fq; }

 private:
  const RunConstants& run_;
  Workspace work_;
};

class VectorKernel final : public WindowKernel {
 public:
  VectorKernel(const RunConstants& run, bool keep_fq, ScaleTick tick)
      : run_(run), work_(run) {
    if (!keep_fq) work_.Fq.clear();
    work_.Tick = std::move(tick);
  }

  SpectrumSummary Analyse(std::span<const double> values) override {
    work_.Reuse.Enter(nullptr);
    return AnalyseWindowVector(run_, work_, values);
  }
  SpectrumSummary AnalyseAt(std::span<const double> values,
                            const WindowPlace& place) override {
    work_.Reuse.Enter(&place);
    return AnalyseWindowVector(run_, work_, values);
  }
  const WindowQuality& Quality() const override { return work_.Quality; }
  void CopySpectrum(WindowSpectrum& out) const override {
    CopyInto(work_.HurstQ, out.HurstQ);
    CopyInto(work_.TauQ, out.TauQ);
    CopyInto(work_.AlfaGrid, out.AlfaGrid);
    CopyInto(work_.FAlfaGrid, out.FAlfaGrid);
  }
  std::span<const double> Fq() const override { return work_.Fq; }

 private:
  const RunConstants& run_;
  VectorWorkspace work_;
};

}  // namespace

KernelKind SurrogateKernel(KernelKind kind) {
  return kind == KernelKind::kSegmentOnce ? KernelKind::kVector : kind;
}

std::string KernelName(KernelKind kind) {
  if (kind == KernelKind::kStraightforward) return "straightforward";
  if (kind == KernelKind::kSegmentOnce) return "segment_once";
  return numerics::ExactKernelsDecide() ? "vector" : "vector, libm fallback";
}

long double KernelDoubles(KernelKind kind, const TableParams& params,
                          bool keep_fq) {
  const MethodOptions& method = params.Method;
  const long double lrec = params.Lrec;
  const long double max_scale = MaxScaleOf(params);
  const long double orders =
      method.QList.empty() ? (method.QCount < 1 ? 1 : method.QCount)
                           : static_cast<long double>(method.QList.size());
  const long double scales = method.ScaleCount < 2 ? 2 : method.ScaleCount;
  const long double table = orders * scales;
  const long double fq = keep_fq && method.KeepFq ? table : 0.0L;
  // The basis scratch, full capacity when the run shares no bases.
  const long double basis = (params.TrendOrder + 1.0L) * max_scale;
  if (kind == KernelKind::kStraightforward) {
    // FluctTable, h and tau, the two alpha grids, one segment and its trend.
    // Also the regression sums, the fitted columns and the rescaled window.
    return table + fq + 4.0L * orders + 2.0L * kAlfaCount + 2.0L * max_scale +
           2.0L * scales + lrec + basis;
  }
  const long double own =
      kind == KernelKind::kSegmentOnce ? SegmentOnceDoubles(params) : 0.0L;
  // One column per scale at most; the scales' indices, columns and
  // abscissae; the segments side by side; the ranges of one length; the
  // power kernel's two arrays, 1/q, h, tau and the two regression sums;
  // the segment measures kept for later windows.
  return own + table + fq + 3.0L * scales + SegmentReuse::Doubles(params) +
         static_cast<long double>(numerics::kSegmentLanes) * max_scale +
         2.0L * lrec + 7.0L * orders + 2.0L * kAlfaCount + basis;
}

std::unique_ptr<WindowKernel> MakeKernel(KernelKind kind,
                                         const RunConstants& run, bool keep_fq,
                                         ScaleTick tick) {
  if (kind == KernelKind::kVector) {
    return std::make_unique<VectorKernel>(run, keep_fq, std::move(tick));
  }
  if (kind == KernelKind::kSegmentOnce) {
    return MakeSegmentOnceKernel(run, keep_fq, std::move(tick));
  }
  return std::make_unique<StraightforwardKernel>(run, keep_fq, std::move(tick));
}

SurrogateWorker::SurrogateWorker(KernelKind kind, const RunConstants& run,
                                 ScaleTick tick)
    : Factory(run.Params),
      Kernel(MakeKernel(SurrogateKernel(kind), run, false, std::move(tick))) {}

long double SurrogateWorkerDoubles(KernelKind kind, const TableParams& params) {
  // The maker (IAAFT's 8.5 n and FFTW's plans, bounded by 18 n), the
  // surrogate and its prepared values, and the kernel.
  return 20.0L * params.Lrec +
         KernelDoubles(SurrogateKernel(kind), params, false);
}

void AnalyseSurrogates(SurrogateWorker& worker, std::span<const double> source,
                       double first_sample, std::int64_t window_number,
                       std::size_t first, std::size_t last,
                       std::span<double> widths, std::span<double> alfa_sz,
                       std::span<std::uint8_t> at_cap) {
  for (std::size_t i = first; i < last; ++i) {
    const std::span<const double> prepared = worker.Factory.Make(
        source, first_sample, window_number, static_cast<std::int32_t>(i));
    at_cap[i] = worker.Factory.LastAtCap() ? 1 : 0;
    const SpectrumSummary s = worker.Kernel->Analyse(prepared);
    widths[i] = s.AlfaWidth;
    alfa_sz[i] = s.AlfaSz;
  }
}

}  // namespace analysis
