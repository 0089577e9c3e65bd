#include "analysis/reference_series.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/reference_window.h"
#include "analysis/table_size.h"
#include "analysis/window_null.h"

namespace analysis {
namespace {

// The surrogates of one window at a time, one after another.
struct SurrogateStage {
  explicit SurrogateStage(const RunConstants& run)
      : Factory(run.Params),
        Work(run),
        Source(SurrogateSourceSize(run.Params)),
        Widths(detail::TableSize(1, run.Params.Surrogates.Count)),
        AlfaSz(Widths.size()),
        Scratch(Widths.size()) {
    Work.Fq.clear();  // the surrogates' F_q(s) is never handed out
  }

  SurrogateFactory Factory;
  Workspace Work;
  std::vector<double> Source;
  std::vector<double> Widths;
  std::vector<double> AlfaSz;
  std::vector<double> Scratch;
};

class ReferenceSeriesEngine final : public SeriesEngine {
 public:
  explicit ReferenceSeriesEngine(std::shared_ptr<const RunConstants> run)
      : run_(std::move(run)), buffers_(run_->Params.Lrec), work_(*run_) {
    if (run_->Params.Surrogates.Count > 0) surrogates_.emplace(*run_);
  }

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
      outcome.Quality = work_.Quality;
      if (with_spectrum) {
        spectrum_ = WindowSpectrum{work_.HurstQ, work_.TauQ, work_.AlfaGrid,
                                   work_.FAlfaGrid};
        outcome.Spectrum = &spectrum_;
      }
      if (!work_.Fq.empty()) outcome.Fq = &work_.Fq;
      if (surrogates_) {
        null_ = NullOf(window_count, summary);
        outcome.Null = &null_;
      }
      emit(outcome);
    }
  }

 private:
  // The surrogates of the window just read (its raw samples are still in
  // WindowBuf), analysed in index order.
  WindowNull NullOf(std::int64_t window_number,
                    const SpectrumSummary& observed) {
    SurrogateStage& stage = *surrogates_;
    SurrogateSource(run_->Params, buffers_.WindowBuf, stage.Source);
    for (std::size_t i = 0; i < stage.Widths.size(); ++i) {
      const std::span<const double> prepared =
          stage.Factory.Make(stage.Source, buffers_.WindowBuf[0], window_number,
                             static_cast<std::int32_t>(i));
      const SpectrumSummary s = AnalyseWindow(*run_, stage.Work, prepared);
      stage.Widths[i] = s.AlfaWidth;
      stage.AlfaSz[i] = s.AlfaSz;
    }
    return NullLevels(observed, stage.Widths, stage.AlfaSz, stage.Scratch);
  }

  std::shared_ptr<const RunConstants> run_;
  WindowBuffers buffers_;
  Workspace work_;
  WindowSpectrum spectrum_;
  std::optional<SurrogateStage> surrogates_;
  WindowNull null_;
};

}  // namespace

std::unique_ptr<SeriesEngine> MakeReferenceEngine(
    std::shared_ptr<const RunConstants> run) {
  return std::make_unique<ReferenceSeriesEngine>(std::move(run));
}

}  // namespace analysis
