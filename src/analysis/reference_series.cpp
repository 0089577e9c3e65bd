#include "analysis/reference_series.h"

#include <utility>

#include "analysis/reference_window.h"

namespace analysis {
namespace {

class ReferenceSeriesEngine final : public SeriesEngine {
 public:
  explicit ReferenceSeriesEngine(std::shared_ptr<const RunConstants> run)
      : run_(std::move(run)), buffers_(run_->Params.Lrec), work_(*run_) {}

  const RunConstants& Run() const override { return *run_; }
  int Threads() const override { return 1; }
  int MostWindowsAtOnce() const override { return 1; }

  void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
               const WindowSink& emit, bool with_spectrum) override {
    WindowFiller filler(run_->Params, plan, buffers_);
    std::int64_t window_count = 0;
    while (filler.Next(next_sample, buffers_.AnalysisBuf)) {
      const SpectrumSummary summary =
          AnalyseWindow(*run_, work_, buffers_.AnalysisBuf);
      window_count += 1;
      WindowOutcome outcome;
      outcome.Number = window_count;
      outcome.Result =
          MakeWindowResult(run_->Params.Lrec, plan, window_count, summary);
      if (with_spectrum) {
        spectrum_ = WindowSpectrum{work_.HurstQ, work_.TauQ, work_.AlfaGrid,
                                   work_.FAlfaGrid};
        outcome.Spectrum = &spectrum_;
      }
      emit(outcome);
    }
  }

 private:
  std::shared_ptr<const RunConstants> run_;
  WindowBuffers buffers_;
  Workspace work_;
  WindowSpectrum spectrum_;
};

}  // namespace

std::unique_ptr<SeriesEngine> MakeReferenceEngine(
    std::shared_ptr<const RunConstants> run) {
  return std::make_unique<ReferenceSeriesEngine>(std::move(run));
}

}  // namespace analysis
