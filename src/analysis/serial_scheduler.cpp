#include "analysis/serial_scheduler.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "analysis/window_null.h"
#include "analysis/window_slot.h"

namespace analysis {
namespace {

class SerialEngine final : public SeriesEngine {
 public:
  SerialEngine(std::shared_ptr<const RunConstants> run, KernelKind kernel)
      : run_(std::move(run)), kind_(kernel) {}

  const RunConstants& Run() const override { return *run_; }
  EngineChoice Choice() const override {
    return {kind_, SchedulerKind::kSerial, 1};
  }
  int MostWindowsAtOnce() const override { return 1; }

  using SeriesEngine::Analyse;
  void Analyse(const WindowPlan& plan, const SampleSource& next_sample,
               const WindowSink& emit, bool with_spectrum,
               const EnginePoll& poll) override {
    if (!buffers_) buffers_.emplace(run_->Params.Lrec);
    const bool raw = kind_ == KernelKind::kSegmentOnce;
    if (slot_.Values.empty()) SizeSlot(*run_, slot_, raw);
    struct Opened {
      PollGate& Gate;
      ~Opened() { Gate.Close(); }
    } opened{gate_};
    gate_.Open(poll);
    WindowFiller filler(run_->Params, plan, *buffers_);
    if (raw) filler.KeepBefore(static_cast<std::size_t>(run_->MaxScale));
    std::int64_t read = 0;
    ++streams_;
    while (ReadSlot(*run_, filler, *buffers_, next_sample, slot_, read + 1)) {
      slot_.Place = {streams_, read * plan.WinShift, plan.WinShift, {}, 0};
      ++read;
      if (!kernel_) MakeKernels();
      AnalyseSlot(*kernel_, slot_, with_spectrum);
      if (surrogates_ && !slot_.Gap) {
        AnalyseSurrogates(*surrogates_, slot_.Source, slot_.FirstSample,
                          slot_.Number, 0, slot_.Widths.size(), slot_.Widths,
                          slot_.AlfaSz, slot_.AtCap);
        slot_.Null = NullLevels(slot_.Summary, slot_.Widths, slot_.AlfaSz,
                                slot_.AtCap, slot_.Scratch);
      }
      emit(OutcomeOf(*run_, plan, slot_, with_spectrum));
    }
  }

 private:
  // At the first window: a series that gives none never needs them.
  void MakeKernels() {
    if (run_->Params.Surrogates.Count > 0) {
      surrogates_.emplace(kind_, *run_, gate_.Tick());
    }
    kernel_ = MakeKernel(kind_, *run_, true, gate_.Tick());
  }

  std::shared_ptr<const RunConstants> run_;
  KernelKind kind_;
  PollGate gate_;
  std::optional<WindowBuffers> buffers_;
  Slot slot_;
  std::unique_ptr<WindowKernel> kernel_;
  std::optional<SurrogateWorker> surrogates_;
  std::uint64_t streams_ = 0;  // series analysed so far
};

}  // namespace

std::unique_ptr<SeriesEngine> MakeSerialEngine(
    std::shared_ptr<const RunConstants> run, KernelKind kernel) {
  return std::make_unique<SerialEngine>(std::move(run), kernel);
}

}  // namespace analysis
