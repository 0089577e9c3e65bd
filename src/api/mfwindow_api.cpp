// The library API over the vector kernel: settings settled by the dialogue's
// own rules, the series fed from memory, every window's result collected.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <variant>

#include "analysis/engine.h"
#include "analysis/params.h"
#include "analysis/run_constants.h"
#include "analysis/settle.h"
#include "api/settings_params.h"
#include "mfwindow/mfwindow.h"
#include "mfwindow/settings_table.h"
#include "series/gap_bridge.h"
#include "series/result_records.h"
#include "series/series_input.h"
#include "series/series_notes.h"
#include "textio/full_precision.h"

namespace mfwindow {
namespace {

static_assert(kMomentCount == analysis::kMomentCount);
static_assert(kAlfaCount == analysis::kAlfaCount);
// Quality mirrors analysis::QualityStatus, enumerator for enumerator.
static_assert(static_cast<int>(Quality::kDegenerate) ==
              static_cast<int>(analysis::QualityStatus::kDegenerate));
static_assert(static_cast<int>(Quality::kNonFiniteInput) ==
              static_cast<int>(analysis::QualityStatus::kNonFiniteInput));
static_assert(static_cast<int>(Quality::kFlatSegments) ==
              static_cast<int>(analysis::QualityStatus::kFlatSegments));
static_assert(static_cast<int>(Quality::kNotConcave) ==
              static_cast<int>(analysis::QualityStatus::kNotConcave));
static_assert(static_cast<int>(Quality::kOverflow) ==
              static_cast<int>(analysis::QualityStatus::kOverflow));
static_assert(static_cast<int>(Quality::kShortForOrder) ==
              static_cast<int>(analysis::QualityStatus::kShortForOrder));
static_assert(static_cast<int>(Quality::kCrossover) ==
              static_cast<int>(analysis::QualityStatus::kCrossover));
static_assert(static_cast<int>(Quality::kPoorFit) ==
              static_cast<int>(analysis::QualityStatus::kPoorFit));
static_assert(static_cast<int>(Quality::kFilled) ==
              static_cast<int>(analysis::QualityStatus::kFilled));
static_assert(static_cast<int>(Quality::kGap) ==
              static_cast<int>(analysis::QualityStatus::kGap));

// Samples read between two progress reports while a window fills.
constexpr std::size_t kSamplesPerReport = 65536;

std::string NonFiniteName(double value) {
  if (std::isnan(value)) return "NaN";
  return value > 0 ? "inf" : "-inf";
}

// The textbook preset over the fields still at their described defaults
// (TrendOrder and Lrec settled already). The min_scale row then clamps
// MinScale into TrendOrder + 2 .. Lrec div 10: the smallest segment that
// leaves a residual after the fit, and at least ten segments per side.
void ApplyStandardPreset(Settings& s) {
  const Settings described;
  if (s.Profile == described.Profile) s.Profile = true;
  if (s.Measure == described.Measure) s.Measure = Fluctuation::kRms;
  if (s.Segments == described.Segments) s.Segments = SegmentCut::kBoth;
  if (s.Abscissa == described.Abscissa) s.Abscissa = FitAbscissa::kLogS;
  if (s.QList.empty() && s.QMin == described.QMin && s.QMax == described.QMax &&
      s.QCount == described.QCount) {
    s.QMin = -5.0;
    s.QMax = 5.0;
    s.QCount = 21;
  }
  if (s.MinScale == described.MinScale) {
    s.MinScale = std::max(4 * (s.TrendOrder + 2), 10);
  }
  if (s.MaxScale == described.MaxScale) s.MaxScale = s.Lrec / 4;
  if (s.ScaleCount == described.ScaleCount) s.ScaleCount = 40;
}

}  // namespace

const char* QualityName(Quality quality) {
  return series::StatusWord(static_cast<analysis::QualityStatus>(quality))
      .data();
}

namespace {

void DescribeChoice(const analysis::EngineChoice& choice,
                    SeriesResult& result) {
  result.Kernel = analysis::KernelName(choice.Kernel);
  result.Scheduler = analysis::SchedulerName(choice.Scheduler);
  result.Threads = choice.Threads;
}

// The run that no window needs an engine for: the engine MakeEngine would
// choose and the grids it would build, from the settings alone, without
// the window's storage or the run's tables.
void DescribeUnbuilt(const analysis::TableParams& tables,
                     analysis::EngineRequest request, SeriesResult& result) {
  DescribeChoice(analysis::ChooseEngine(tables, request), result);
  result.QGrid = analysis::MomentOrders(tables.Method);
  result.LogScale = analysis::LogScaleGrid(
      tables.MinScale, analysis::MaxScaleOf(tables), tables.Method.ScaleCount);
  result.ScaleLen = analysis::ScaleLengths(result.LogScale);
  const analysis::ScaleSpan fit = analysis::FitScales(
      result.ScaleLen, tables.Method.FitMin, tables.Method.FitMax);
  result.FitBegin = fit.First;
  result.FitEnd = fit.Last;
}

}  // namespace

void DescribeRun(const analysis::SeriesEngine& engine, SeriesResult& result) {
  const analysis::RunConstants& run = engine.Run();
  DescribeChoice(engine.Choice(), result);
  result.QGrid = run.QGrid;
  result.ScaleLen = run.ScaleLen;
  result.LogScale = run.LogScale;
  result.FitBegin = run.FitBegin;
  result.FitEnd = run.FitEnd;
}

void KeepWindow(const analysis::WindowOutcome& outcome, SeriesResult& result) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const analysis::WindowResult& r = outcome.Result;
  WindowRow& row = result.Rows.emplace_back();
  row.TimeMark = r.TimeMark;
  row.AlfaMin = r.AlfaMin;
  row.AlfaMax = r.AlfaMax;
  row.AlfaWidth = r.AlfaWidth;
  row.AlfaSz = r.AlfaSz;
  row.FAlfaSz = r.FAlfaSz;
  const analysis::WindowQuality& q = outcome.Quality;
  row.Status = static_cast<Quality>(q.Status);
  row.ZeroShare = q.ZeroShare;
  row.FloorShare = q.FloorShare;
  row.MinRSquared = q.MinRSquared;
  row.H2Se = q.H2Se;
  row.WidthSe = q.WidthSe;
  row.CrossoverScale = q.CrossoverScale;
  row.FilledShare = q.FilledShare;
  const analysis::WindowNull* null = outcome.Null;
  row.WidthNullMedian = null != nullptr ? null->WidthMedian : kNaN;
  row.WidthNullP95 = null != nullptr ? null->WidthP95 : kNaN;
  row.WidthP = null != nullptr ? null->WidthP : kNaN;
  row.AlfaSzNullMedian = null != nullptr ? null->AlfaSzMedian : kNaN;
  row.AlfaSzNullP95 = null != nullptr ? null->AlfaSzP95 : kNaN;
  row.AlfaSzP = null != nullptr ? null->AlfaSzP : kNaN;
  row.IaaftAtCap = null != nullptr ? null->IaaftAtCap : 0;
  row.SurrogatesUsed = null != nullptr ? null->Used : 0;
  if (outcome.Spectrum != nullptr) {
    const analysis::WindowSpectrum& sp = *outcome.Spectrum;
    result.Spectra.push_back({sp.HurstQ, sp.TauQ, sp.AlfaGrid, sp.FAlfaGrid});
  }
  if (outcome.Fq != nullptr) result.Fq.push_back(*outcome.Fq);
}

SettingError::SettingError(std::string which, SettingReason reason,
                           std::string rule, std::string value)
    : std::invalid_argument(which + " " + rule +
                            (value.empty() ? "" : ", got " + value)),
      which_(std::move(which)),
      reason_(reason),
      rule_(std::move(rule)),
      value_(std::move(value)) {}

Settled Settle(const Settings& given) {
  // Each row on its own: types, words, finiteness, the fixed bounds.
  for (const SettingRow& row : SettingRows()) {
    if (!IsFileRow(row)) CheckOwnValue(row, given);
  }
  Settings s = given;
  const auto clamp = [&s](const SettingRow& row) {
    const auto member = std::get<std::int32_t Settings::*>(row.Member);
    s.*member = static_cast<std::int32_t>(
        ClampToRange(row, static_cast<double>(s.*member), s));
  };
  // The counts the dialogue clamps with fixed bounds (order, window), then
  // the preset that their settled values shape, then the rows whose bounds
  // other settings give, in the order of the table.
  for (const SettingRow& row : SettingRows()) {
    if (row.Clamp && !BoundByOthers(row)) clamp(row);
  }
  if (s.Preset == Method::kStandard) ApplyStandardPreset(s);
  for (const SettingRow& row : SettingRows()) {
    if (IsFileRow(row) || !BoundByOthers(row)) continue;
    if (row.Clamp) {
      clamp(row);
    } else {
      CheckRange(row, *NumberOf(row, s), s);
    }
  }

  // The rules between settings.
  if (s.Fs && s.Tstep != 1.0) {
    Refuse(*FindSetting("fs"), SettingReason::kConflict,
           "cannot be given with a time step (dt) other than 1",
           textio::FormatShortest(*s.Fs));
  }
  if (s.Fill == GapFill::kLinear && s.OnBadSample != BadSamplePolicy::kMask) {
    Refuse(*FindSetting("fill"), SettingReason::kConflict,
           "bridges the gaps that the bad samples leave when they are kept "
           "in place (mask)",
           "linear");
  }
  if (s.Fill == GapFill::kLinear && s.MaxGap == 0) {
    Refuse(*FindSetting("max_gap"), SettingReason::kConflict,
           "must be given with fill linear: the longest gap to bridge");
  }
  if (s.Fill != GapFill::kLinear && s.MaxGap != 0) {
    Refuse(*FindSetting("max_gap"), SettingReason::kConflict,
           "bridges gaps only with fill linear", std::to_string(s.MaxGap));
  }
  const Settings defaults;
  if (!given.QList.empty() &&
      (given.QMin != defaults.QMin || given.QMax != defaults.QMax ||
       given.QCount != defaults.QCount)) {
    Refuse(*FindSetting("q"), SettingReason::kConflict,
           "lists the moment orders itself; leave q_min, q_max and q_count "
           "at their defaults");
  }
  if (const std::optional<analysis::SettingProblem> problem =
          analysis::MethodProblem(ToTables(s))) {
    // Reported against the first setting of the rule that was given, not
    // left at its default: q_max -20 is what is wrong, not q_min's -10.
    const analysis::SettingBlame* blame = &*problem;
    const auto given_here = [&](const analysis::SettingBlame& b) {
      const SettingRow& row = *FindSetting(b.Setting);
      return ValueText(row, given) != ValueText(row, defaults);
    };
    if (!given_here(*blame)) {
      for (const analysis::SettingBlame& other : problem->Others) {
        if (given_here(other)) {
          blame = &other;
          break;
        }
      }
    }
    Refuse(*FindSetting(blame->Setting), SettingReason::kConflict, blame->Rule,
           std::isnan(blame->Value) ? std::string()
                                    : textio::FormatShortest(blame->Value));
  }

  std::vector<ClampedValue> clamped;
  for (const SettingRow& row : SettingRows()) {
    if (!row.Clamp) continue;
    const auto member = std::get<std::int32_t Settings::*>(row.Member);
    // The standard preset's own smallest scale is a default, not a clamp.
    if (row.Name == "min_scale" && given.Preset == Method::kStandard &&
        given.MinScale == defaults.MinScale) {
      continue;
    }
    if (given.*member != s.*member) {
      clamped.push_back({std::string(row.Name), given.*member, s.*member});
    }
  }
  return Settled(std::move(s), std::move(clamped));
}

Settled Settled::WithThreads(int threads) const {
  Settled copy = *this;
  copy.used_.Threads = threads;
  CheckOwnValue(*FindSetting("threads"), copy.used_);
  return copy;
}

struct Analyser::State {
  explicit State(const Settings& settled)
      : used(settled),
        params(ToParams(settled)),
        tables(ToTables(settled)),
        request(EngineRequestOf(settled)) {}

  Settings used;
  analysis::AnalysisParams params;
  analysis::TableParams tables;
  analysis::EngineRequest request;
  // Made at the first series that gives a window: a series too short for
  // one needs neither the engine's storage nor its tables.
  std::unique_ptr<analysis::SeriesEngine> engine;
};

BadSampleError::BadSampleError(std::int64_t index, double value)
    : std::invalid_argument(
          "sample " + std::to_string(index) + " (from 0) is " +
          NonFiniteName(value) +
          ", not a finite number; set OnBadSample to kSkip or kStop to "
          "analyse around it"),
      index_(index),
      value_(value) {}

std::int64_t WindowCount(std::int64_t samples, std::int32_t window,
                         std::int32_t shift) {
  if (window <= 0 || shift <= 0 || samples < window) return 0;
  return (samples - window) / shift + 1;
}

SampleScan ScanSamples(std::span<const double> values, BadSamplePolicy policy) {
  try {
    const series::ArraySampleReader reader(values, "sample",
                                           InputPolicy(policy));
    const series::InputSummary& summary = reader.Summary();
    const std::optional<series::BadRecord>& first =
        summary.FirstSkipped ? summary.FirstSkipped : summary.EndedAt;
    return {reader.Length(), summary.Skipped, summary.Masked,
            first ? first->Index : -1};
  } catch (const series::BadSeriesInput& bad) {
    return {0, 0, 0, bad.Index()};
  }
}

Analyser::Analyser(const Settled& settled)
    : state_(std::make_unique<State>(settled.Used())) {}

Analyser::Analyser(const Settings& settings) : Analyser(Settle(settings)) {}

Analyser::~Analyser() = default;
Analyser::Analyser(Analyser&&) noexcept = default;
Analyser& Analyser::operator=(Analyser&&) noexcept = default;

const Settings& Analyser::Used() const { return state_->used; }

SeriesResult Analyser::Analyse(std::span<const double> values,
                               const ProgressCallback& progress) {
  State& s = *state_;
  SeriesResult result;
  result.Used = s.used;

  // The gaps first (the reader looks the values over when it is made), so
  // that an error comes before any work.
  std::optional<series::ArraySampleReader> reader;
  try {
    reader.emplace(values, "sample", InputPolicy(s.used.OnBadSample));
  } catch (const series::BadSeriesInput& bad) {
    const auto at = static_cast<std::size_t>(bad.Index());
    throw BadSampleError(bad.Index(), values[at]);
  }
  const auto used = static_cast<std::size_t>(reader->Length());
  const series::InputSummary& summary = reader->Summary();
  const std::optional<series::BadRecord>& first_bad =
      summary.FirstSkipped ? summary.FirstSkipped : summary.EndedAt;
  if (first_bad) result.FirstBadSample = first_bad->Index;
  result.SamplesUsed = static_cast<std::int64_t>(used);
  result.SamplesSkipped = summary.Skipped;
  result.SamplesMasked = summary.Masked;
  const auto windows = static_cast<std::size_t>(WindowCount(
      static_cast<std::int64_t>(used), s.used.Lrec, s.used.WinShift));
  result.Rows.reserve(windows);
  if (s.used.Spectrum) result.Spectra.reserve(windows);

  // The reader and the writer of the vector kernel run side by side; the
  // callback hears from one of them at a time, with a count that never
  // goes back.
  std::mutex progress_mutex;
  std::atomic<std::int64_t> windows_done{0};
  // Once asked to stop, every later report stops too: the windows still in
  // flight on other threads end at their next check.
  bool stopped = false;
  const auto report = [&] {
    if (!progress) return;
    const std::lock_guard<std::mutex> lock(progress_mutex);
    if (stopped ||
        !progress(windows_done.load(), static_cast<std::int64_t>(windows))) {
      stopped = true;
      throw Stopped();
    }
  };
  std::size_t handed = 0;
  std::optional<series::GapBridge> bridge;
  if (s.used.Fill == GapFill::kLinear) {
    bridge.emplace(s.used.MaxGap, s.used.Lrec, s.used.WinShift);
  }
  const std::function<std::optional<double>()> read_sample = [&reader] {
    return reader->Next();
  };
  const auto next_sample = [&]() -> std::optional<double> {
    std::optional<double> sample =
        bridge ? bridge->Next(read_sample) : reader->Next();
    // A long window is filled between two reports; the caller hears from
    // the analysis while it fills, too.
    if (sample && handed++ % kSamplesPerReport == kSamplesPerReport - 1) {
      report();
    }
    return sample;
  };
  const auto keep = [&](const analysis::WindowOutcome& outcome) {
    if (bridge) {
      analysis::WindowOutcome marked = outcome;
      bridge->Mark(marked.Number, marked.Quality);
      KeepWindow(marked, result);
    } else {
      KeepWindow(outcome, result);
    }
    ++windows_done;
    report();
  };
  // A series that gives no window never needs the window's storage, with
  // surrogates or without: the engine is made (and its storage checked)
  // only for one that does.
  if (windows > 0) {
    if (!s.engine) s.engine = analysis::MakeEngine(s.tables, s.request);
    DescribeRun(*s.engine, result);
    s.engine->Analyse(analysis::PlanOf(s.params), next_sample, keep,
                      s.used.Spectrum, report);
  } else if (s.engine) {
    DescribeRun(*s.engine, result);
  } else {
    DescribeUnbuilt(s.tables, s.request, result);
  }

  if (std::optional<std::string> short_window =
          series::ShortWindowWarning(s.used.Lrec)) {
    result.Warnings.push_back(std::move(*short_window));
  }
  if (first_bad) {
    const std::int64_t bad_count = summary.Skipped + summary.Masked;
    const std::string first =
        "sample " + std::to_string(first_bad->Index) + " (from 0) is " +
        NonFiniteName(values[static_cast<std::size_t>(first_bad->Index)]);
    const std::string counted = std::to_string(bad_count) +
                                " non-finite sample" +
                                (bad_count == 1 ? "" : "s");
    result.Warnings.push_back(
        summary.Masked > 0 ? counted + " kept as gaps (the first: " + first +
                                 "); the windows over them have status gap"
        : summary.Skipped > 0
            ? counted + " skipped (the first: " + first + "); " +
                  std::to_string(used) + " samples analysed"
            : first + "; the series ends there, after " + std::to_string(used) +
                  " samples");
  }
  std::int64_t degenerate = 0;
  for (const WindowRow& row : result.Rows) {
    degenerate += series::IsDegenerate({row.TimeMark, row.AlfaMin, row.AlfaMax,
                                        row.AlfaWidth, row.AlfaSz, row.FAlfaSz})
                      ? 1
                      : 0;
  }
  const auto rows = static_cast<std::int64_t>(result.Rows.size());
  if (rows == 0) {
    result.Warnings.push_back(
        series::NoWindowWarning(static_cast<std::int64_t>(used), s.used.Lrec));
  } else if (degenerate == rows) {
    result.Warnings.push_back(series::AllDegenerateWarning(rows));
  }
  return result;
}

SeriesResult AnalyseSeries(std::span<const double> values,
                           const Settings& settings,
                           const ProgressCallback& progress) {
  return Analyser(settings).Analyse(values, progress);
}

}  // namespace mfwindow
