// The library's pair analysis: settled settings checked for a pair, both
// series read from memory, each window analysed by the cross kernel on a
// thread of its own and collected in window order.
#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/cross_kernel.h"
#include "analysis/moving_window.h"
#include "analysis/run_constants.h"
#include "analysis/thread_handoff.h"
#include "analysis/window_null.h"
#include "api/settings_params.h"
#include "mfwindow/mfwindow.h"
#include "mfwindow/settings_table.h"
#include "series/series_notes.h"

namespace mfwindow {
namespace {

// The settings a pair cannot take, refused by the row at fault.
void CheckPairSettings(const Settings& s) {
  if (s.Measure != Fluctuation::kRms) {
    Refuse(*FindSetting("fluctuation"), SettingReason::kConflict,
           "must be rms for a pair: the detrended covariance of two "
           "segments generalises the mean square, a range has no "
           "counterpart",
           "range");
  }
  if (s.Surrogates != 0 && s.Surrogate == SurrogateKind::kShuffle) {
    Refuse(*FindSetting("surrogate"), SettingReason::kConflict,
           "must be phase or iaaft for a pair: a shuffle of y destroys its "
           "autocorrelation, on which the spread of rho under independence "
           "depends",
           "shuffle");
  }
  if (s.OnBadSample != BadSamplePolicy::kError) {
    Refuse(*FindSetting("nan"), SettingReason::kConflict,
           "must be error for a pair: both series keep every sample, so "
           "that their windows stay in step");
  }
}

// The first non-finite sample of `values`, as BadSampleError.
void CheckFinite(std::span<const double> values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) {
      throw BadSampleError(static_cast<std::int64_t>(i), values[i]);
    }
  }
}

// One thread's storage: its workspace, the two prepared windows and, with
// surrogates, the maker of y's.
struct Local {
  explicit Local(const analysis::RunConstants& run)
      : Work(run),
        X(static_cast<std::size_t>(run.Params.Lrec)),
        Y(static_cast<std::size_t>(run.Params.Lrec)) {
    if (run.Params.Surrogates.Count > 0) {
      Surrogates.emplace(run.Params);
    }
  }
  analysis::CrossWorkspace Work;
  std::vector<double> X;
  std::vector<double> Y;
  std::optional<analysis::SurrogateFactory> Surrogates;
};

Quality QualityOf(const analysis::WindowQuality& q) {
  return static_cast<Quality>(q.Status);
}

}  // namespace

struct CrossAnalyser::State {
  explicit State(const Settings& settled)
      : used(settled), params(ToParams(settled)), tables(ToTables(settled)) {}
  Settings used;
  analysis::AnalysisParams params;
  analysis::TableParams tables;
  // Built at the first pair that gives a window.
  std::shared_ptr<const analysis::RunConstants> run;
};

CrossAnalyser::CrossAnalyser(const Settled& settled)
    : state_(std::make_unique<State>(settled.Used())) {
  CheckPairSettings(settled.Used());
}

CrossAnalyser::CrossAnalyser(const Settings& settings)
    : CrossAnalyser(Settle(settings)) {}

CrossAnalyser::~CrossAnalyser() = default;
CrossAnalyser::CrossAnalyser(CrossAnalyser&&) noexcept = default;
CrossAnalyser& CrossAnalyser::operator=(CrossAnalyser&&) noexcept = default;

const Settings& CrossAnalyser::Used() const { return state_->used; }

CrossResult CrossAnalyser::Analyse(std::span<const double> x,
                                   std::span<const double> y,
                                   const ProgressCallback& progress) {
  State& s = *state_;
  if (x.size() != y.size()) {
    throw std::invalid_argument("x and y must have the same length, got " +
                                std::to_string(x.size()) + " and " +
                                std::to_string(y.size()));
  }
  CheckFinite(x);
  CheckFinite(y);
  CrossResult result;
  result.Used = s.used;
  const std::int32_t lrec = s.used.Lrec;
  const std::int64_t windows =
      WindowCount(static_cast<std::int64_t>(x.size()), lrec, s.used.WinShift);
  if (std::optional<std::string> short_window =
          series::ShortWindowWarning(lrec)) {
    result.Warnings.push_back(std::move(*short_window));
  }
  if (windows == 0) {
    result.Warnings.push_back(
        series::NoWindowWarning(static_cast<std::int64_t>(x.size()), lrec));
  }
  if (!s.run) s.run = analysis::MakeRunConstants(s.tables);
  const analysis::RunConstants& run = *s.run;
  result.QGrid = run.QGrid;
  result.ScaleLen = run.ScaleLen;
  result.LogScale = run.LogScale;
  result.FitBegin = run.FitBegin;
  result.FitEnd = run.FitEnd;

  const auto count = static_cast<std::size_t>(windows);
  result.Rows.resize(count);
  result.Scales.resize(count);
  if (s.used.Spectrum) result.Spectra.resize(count);
  if (s.used.KeepFq) result.Fq.resize(count);

  const analysis::WindowPlan plan = analysis::PlanOf(s.params);
  std::mutex progress_mutex;
  std::int64_t done = 0;
  std::atomic<bool> stopped{false};
  tbb::enumerable_thread_specific<std::unique_ptr<Local>> locals;
  const auto analyse_window = [&](std::size_t w) {
    std::unique_ptr<Local>& local = locals.local();
    if (!local) local = std::make_unique<Local>(run);
    const std::size_t start = w * static_cast<std::size_t>(s.used.WinShift);
    const auto len = static_cast<std::size_t>(lrec);
    const std::span<const double> y_raw = y.subspan(start, len);
    analysis::PrepareWindow(s.tables, x.subspan(start, len), local->X);
    analysis::PrepareWindow(s.tables, y_raw, local->Y);
    analysis::CrossWorkspace& work = local->Work;
    const analysis::CrossSummary summary =
        analysis::AnalyseCrossWindow(run, work, local->X, local->Y);
    const std::int32_t surrogates_used =
        local->Surrogates
            ? analysis::RhoNull(run, work, *local->Surrogates, local->X, y_raw,
                                static_cast<std::int64_t>(w) + 1,
                                s.used.RhoLevel)
            : 0;

    CrossRow& row = result.Rows[w];
    row.TimeMark = analysis::MakeWindowResult(
                       lrec, plan, static_cast<std::int64_t>(w) + 1, {})
                       .TimeMark;
    row.AlfaMin = summary.Cross.AlfaMin;
    row.AlfaMax = summary.Cross.AlfaMax;
    row.AlfaWidth = summary.Cross.AlfaWidth;
    row.AlfaSz = summary.Cross.AlfaSz;
    row.FAlfaSz = summary.Cross.FAlfaSz;
    row.Lambda = summary.Lambda;
    row.Status = QualityOf(work.Cross.Quality);
    row.StatusX = QualityOf(work.X.Quality);
    row.StatusY = QualityOf(work.Y.Quality);
    row.MinRSquared = work.Cross.Quality.MinRSquared;
    row.NegativeShare = summary.NegativeShare;
    row.NegativeCovariance = summary.NegativeShare > 0.0;
    row.CovarianceSignChanges = summary.SignChanges;
    row.SurrogatesUsed = surrogates_used;
    result.Scales[w] = {work.CovXY, work.FXX,         work.FYY,
                        work.Rho,   work.RhoCritical, work.RhoSignificant};
    if (s.used.Spectrum) {
      result.Spectra[w] = {work.Cross.HurstQ, work.Cross.TauQ,
                           work.Cross.AlfaGrid, work.Cross.FAlfaGrid};
    }
    if (s.used.KeepFq) result.Fq[w] = work.Cross.Fq;
  };

  // 0, or more threads than there are cores: every core.
  const int cores = tbb::this_task_arena::max_concurrency();
  tbb::task_arena arena(
      s.used.Threads > 0 && s.used.Threads < cores ? s.used.Threads : cores);
  result.Threads = arena.max_concurrency();
  const analysis::ThreadHandoff caller;
  arena.execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count),
        [&](const tbb::blocked_range<std::size_t>& range) {
          const analysis::ThreadHandoff task;
          for (std::size_t w = range.begin(); w < range.end(); ++w) {
            if (stopped.load()) return;
            analyse_window(w);
            if (!progress) continue;
            const std::lock_guard<std::mutex> lock(progress_mutex);
            if (!stopped.load() && !progress(++done, windows)) {
              stopped.store(true);
            }
          }
        });
  });
  { const analysis::ThreadHandoff collect; }
  if (stopped.load()) throw Stopped();
  return result;
}

CrossResult AnalysePair(std::span<const double> x, std::span<const double> y,
                        const Settings& settings,
                        const ProgressCallback& progress) {
  return CrossAnalyser(settings).Analyse(x, y, progress);
}

}  // namespace mfwindow
