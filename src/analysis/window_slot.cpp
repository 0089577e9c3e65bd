#include "analysis/window_slot.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <stdexcept>

#include "analysis/table_size.h"
#include "analysis/window_null.h"

namespace analysis {
namespace {

// What a tick throws once another tick's poll has thrown: the first
// exception is the one that propagates, so this one is never seen.
class PollStopped : public std::runtime_error {
 public:
  PollStopped() : std::runtime_error("stopped by an earlier poll") {}
};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

long double Orders(const MethodOptions& method) {
  return method.QList.empty() ? (method.QCount < 1 ? 1 : method.QCount)
                              : static_cast<long double>(method.QList.size());
}

long double Scales(const MethodOptions& method) {
  return method.ScaleCount < 2 ? 2 : method.ScaleCount;
}

}  // namespace

void SizeSlot(const RunConstants& run, Slot& slot, bool raw) {
  const TableParams& tables = run.Params;
  if (raw) {
    slot.Raw.reserve(
        detail::TableSize(1, std::int64_t{tables.Lrec} + run.MaxScale));
  }
  if (tables.Method.KeepFq) {
    slot.Fq.resize(detail::TableSize(std::int64_t(run.QGrid.size()),
                                     std::int64_t(run.LogScale.size())));
  }
  const std::size_t surrogates = detail::TableSize(1, tables.Surrogates.Count);
  if (surrogates > 0) {
    slot.Source.resize(SurrogateSourceSize(tables));
    slot.Widths.resize(surrogates);
    slot.AlfaSz.resize(surrogates);
    slot.AtCap.resize(surrogates);
    slot.Scratch.resize(2 * surrogates);
  }
  // Last, so that a slot with values has everything else too.
  slot.Values.resize(detail::TableSize(1, tables.Lrec));
}

long double SlotDoubles(const TableParams& params) {
  const long double lrec = params.Lrec;
  const long double orders = Orders(params.Method);
  const long double surrogates =
      params.Surrogates.Count > 0 ? params.Surrogates.Count : 0;
  // With surrogates: the source, then per surrogate its width, AlfaSz,
  // two values of scratch and a byte for its cap flag.
  return lrec + 2.0L * orders + 2.0L * kAlfaCount +
         (params.Method.KeepFq ? orders * Scales(params.Method) : 0.0L) +
         (surrogates > 0 ? lrec + 4.125L * surrogates : 0.0L);
}

long double SharedDoubles(const TableParams& params) {
  return 2.0L * params.Lrec + 4.0L * Scales(params.Method) +
         5.0L * Orders(params.Method) +
         static_cast<long double>(kSharedBasisBudget) / sizeof(double);
}

bool ReadSlot(const RunConstants& run, WindowFiller& filler,
              const WindowBuffers& buffers, const SampleSource& next_sample,
              Slot& slot, std::int64_t number) {
  if (!filler.Next(next_sample, slot.Values)) return false;
  slot.Number = number;
  if (slot.Raw.capacity() > 0) {
    slot.RawBefore = buffers.BeforeCount;
    slot.Raw.assign(buffers.Before.begin(),
                    buffers.Before.begin() +
                        static_cast<std::ptrdiff_t>(buffers.BeforeCount));
    slot.Raw.insert(slot.Raw.end(), buffers.WindowBuf.begin(),
                    buffers.WindowBuf.end());
  }
  slot.Gap = filler.MasksGaps() &&
             std::any_of(buffers.WindowBuf.begin(), buffers.WindowBuf.end(),
                         [](double v) { return !std::isfinite(v); });
  if (!slot.Source.empty() && !slot.Gap) {
    // The raw samples are in WindowBuf only until the next window is read.
    SurrogateSource(run.Params, buffers.WindowBuf, slot.Source);
    slot.FirstSample = buffers.WindowBuf[0];
  }
  return true;
}

void AnalyseSlot(WindowKernel& kernel, Slot& slot, bool with_spectrum) {
  if (slot.Gap) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    slot.Summary = SpectrumSummary{kNaN, kNaN, kNaN, kNaN, kNaN};
    slot.Quality =
        WindowQuality{QualityStatus::kGap, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    if (with_spectrum) kernel.CopySpectrum(slot.Spectrum);  // sized
    for (std::vector<double>* v :
         {&slot.Spectrum.HurstQ, &slot.Spectrum.TauQ, &slot.Spectrum.AlfaGrid,
          &slot.Spectrum.FAlfaGrid, &slot.Fq}) {
      std::fill(v->begin(), v->end(), kNaN);
    }
    slot.Null = WindowNull{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, 0};
    return;
  }
  WindowPlace place = slot.Place;
  if (!slot.Raw.empty()) {
    place.Raw = slot.Raw;
    place.Before = slot.RawBefore;
  }
  slot.Summary = kernel.AnalyseAt(slot.Values, place);
  slot.Quality = kernel.Quality();
  if (with_spectrum) kernel.CopySpectrum(slot.Spectrum);
  if (!slot.Fq.empty()) {
    const std::span<const double> fq = kernel.Fq();
    std::copy(fq.begin(), fq.end(), slot.Fq.begin());
  }
}

WindowOutcome OutcomeOf(const RunConstants& run, const WindowPlan& plan,
                        const Slot& slot, bool with_spectrum) {
  WindowOutcome outcome;
  outcome.Number = slot.Number;
  outcome.Result =
      MakeWindowResult(run.Params.Lrec, plan, slot.Number, slot.Summary);
  outcome.Spectrum = with_spectrum ? &slot.Spectrum : nullptr;
  outcome.Quality = slot.Quality;
  outcome.Fq = slot.Fq.empty() ? nullptr : &slot.Fq;
  outcome.Null = slot.Widths.empty() ? nullptr : &slot.Null;
  return outcome;
}

void PollGate::Open(const EnginePoll& poll) {
  stopped_ = false;
  next_ns_ = NowNs() + kPollIntervalNs;
  poll_ = poll ? &poll : nullptr;
}

void PollGate::Close() { poll_ = nullptr; }

ScaleTick PollGate::Tick() {
  return [this, values_seen = std::int64_t{0}](std::int64_t values) mutable {
    if (stopped_.load(std::memory_order_relaxed)) throw PollStopped();
    values_seen += values;
    if (values_seen < kValuesPerLook) return;
    values_seen = 0;
    Look();
  };
}

void PollGate::Look() {
  if (poll_ == nullptr) return;
  std::int64_t due = next_ns_.load();
  const std::int64_t now = NowNs();
  // One thread per interval wins the call.
  if (now < due ||
      !next_ns_.compare_exchange_strong(due, now + kPollIntervalNs)) {
    return;
  }
  try {
    (*poll_)();
  } catch (...) {
    stopped_ = true;
    throw;
  }
}

}  // namespace analysis
