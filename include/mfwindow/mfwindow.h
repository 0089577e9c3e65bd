// mfwindow as a library: the multifractal singularity spectrum of a series
// by detrended fluctuation analysis (DFA) inside a window that moves along
// it, the same numbers that the mfwindow program writes to its result files.
//
//   mfwindow::Settings settings;   // the six dialogue answers, and threads
//   settings.Lrec = 1000;
//   mfwindow::SeriesResult result = mfwindow::AnalyseSeries(samples, settings);
//   for (const mfwindow::WindowRow& row : result.Rows) { ... }
//
// Settings are settled as the program's dialogue settles its answers: out of
// range counts are clamped (ClampedValues says which), while an increments
// flag other than 0 or 1 or a time step that is not positive is an error.
// Results are bit for bit the doubles that the program renders into its
// result lines, on any number of threads. A sample that is not a finite
// number (NaN, an infinity: a gap in a recording) is an error unless
// Settings::OnBadSample says to end the series there, to drop it or to
// keep it in place as a gap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace mfwindow {

inline constexpr int kMomentCount = 200;  // default moment orders, -10 to 10
inline constexpr int kAlfaCount = 100;    // points of the sampled spectrum

// How a detrended segment is measured.
enum class Fluctuation {
  kRange,  // largest minus smallest residual (the described method)
  kRms,    // root mean square of the residuals (standard MF-DFA)
};

// Which method a run follows.
enum class Method {
  kDescribed,  // the described method, byte for byte (the default)
  kStandard,   // textbook MF-DFA (Kantelhardt et al. 2002): see Settings
};

// Which segments of length s a window of Lrec values is cut into.
enum class SegmentCut {
  kStart,  // Lrec div s from the window's first value (the described method)
  kBoth,   // those and as many from its last value backwards (textbook)
};

// The abscissa of the log-log fits.
enum class FitAbscissa {
  kGrid,  // the log-spaced grid value of every fitted scale, repeated
          // lengths included (the described method)
  kLogS,  // log s of each distinct fitted segment length, once (textbook)
};

// Surrogates of each window, for a null level of its width and AlfaSz.
enum class SurrogateKind {
  kShuffle,  // a random permutation: keeps the values, destroys correlations
  kPhase,    // random Fourier phases: keeps the power spectrum
  kIaaft,    // iterative amplitude-adjusted: keeps values and,
             // approximately, the power spectrum (far from it on
             // intermittent data); destroys nonlinear structure
};

// Which window kernel analyses the windows. The straightforward and vector
// kernels give the same doubles, bit for bit; the segment-once kernel
// gives F_q(s) within the tolerance docs/method.md states.
enum class KernelChoice {
  kAuto,             // the fastest for the settings: segment-once for the
                     // rms methods with the profile at shift <= window/100,
                     // else the vector kernel
  kStraightforward,  // every operation in the order written, libm calls
  kVector,           // each distinct segment length once, vector lanes
  kSegmentOnce,      // each segment of the series once (profile and rms,
                     // orders 1 to 3, no range floor; else vector)
};

// What a window's numbers are worth, the first that applies in this order.
// docs/method.md lists what each catches and misses, with the measurements
// that set its threshold.
enum class Quality {
  kOk,
  kDegenerate,      // some F(q, s) not positive: the fixed 0.5, 0.5, 0, 0.5, 1
  kNonFiniteInput,  // an analysed value is NaN or infinite
  kOverflow,        // a power or moment overflowed: some h(q) is not finite,
                    // or the alpha search's +-1e35 sentinels or a negative
                    // width reached the row
  kFlatSegments,    // some segment's fluctuation is at the rounding floor
                    // (relative to the window's spread, not its offset)
  kShortForOrder,   // the shortest fitted segment has fewer than
                    // 2 (TrendOrder + 2) points
  kCrossover,       // log F(2, s) follows two lines, not one, over the
                    // fitted scales; WindowRow::CrossoverScale says where
  kNotConcave,      // F(AlfaSz) clearly below 1: AlfaSz means little
  // A sample of the window is a gap kept in place (BadSamplePolicy::kMask);
  // comes before every other status. The window is not analysed: its
  // values are NaN, its time mark is that of the same window without gaps.
  kGap,
  // Last, so that the numbers of the others stay: ranks after kCrossover.
  kPoorFit,  // some order's log-log line has R^2 below
             // Settings::PoorFitR2 and misses its points by more
             // than 0.2 decades: no power law to read h from
  kFilled,   // an otherwise sound window holds gaps bridged by
             // GapFill::kLinear (WindowRow::FilledShare); every other
             // status comes first
};

// The word mfwindow-batch's CSV writes for `quality`: "ok", "degenerate",
// "non_finite_input", "overflow", "flat_segments", "short_for_order",
// "crossover", "poor_fit", "not_concave", "gap", "filled".
const char* QualityName(Quality quality);

// What becomes of a sample that is not a finite number (NaN, +-infinity),
// the way a gap is marked in a recording.
enum class BadSamplePolicy {
  // Analyse throws std::invalid_argument naming the first such sample by
  // its index (from 0) before anything is analysed:
  //   "sample 7000 (from 0) is NaN, not a finite number; ..."
  kError,
  // The series ends before the first such sample, as if the values ended
  // there (SeriesResult::Warnings says where).
  kStop,
  // Such samples are dropped and the others close up: the time axis counts
  // only the samples analysed (SeriesResult::SamplesSkipped says how many).
  kSkip,
  // Such samples stay in place as gaps: every window that holds one has
  // Quality::kGap, every other window and every time mark are those of the
  // same series without gaps (SeriesResult::SamplesMasked says how many).
  kMask,
};

// What becomes of the gaps that BadSamplePolicy::kMask keeps.
enum class GapFill {
  kNone,  // each stays a gap: the windows over it are not analysed
  // A run of at most Settings::MaxGap gaps between two samples takes the
  // straight line between them; the windows over such samples are
  // analysed, with Quality::kFilled and WindowRow::FilledShare. Longer
  // gaps, and gaps at the series' start or end, stay gaps.
  kLinear,
};

// What to analyse and how. The defaults are those of the bundled example.
struct Settings {
  std::int32_t IncrFlag = 0;    // 1: analyse the increments in each window
  std::int32_t TrendOrder = 2;  // detrending polynomial order, 1..10
  std::int32_t Lrec = 1000;     // window length in samples, >= 32
  std::int32_t MinScale = 20;   // smallest segment: min(max(v, 20), Lrec/10)
  std::int32_t WinShift = 100;  // samples between window starts, 1..Lrec
  // Sample j of the series, counted from 1, lies at time Tini + j*Tstep.
  double Tini = 0.0;
  double Tstep = 1.0;  // > 0
  // The sampling rate in Hz (finite, > 0): sample j then lies at
  // Tini + j / Fs seconds, and Tstep must stay 1. Absent: Tstep sets the
  // time axis.
  std::optional<double> Fs;
  // Worker threads; 0, or more than there are: every core this process
  // may use.
  int Threads = 0;
  bool Spectrum = false;  // also keep each window's whole spectrum
  BadSamplePolicy OnBadSample = BadSamplePolicy::kError;  // NaN, infinities
  GapFill Fill = GapFill::kNone;                          // with kMask only
  std::int32_t MaxGap = 0;  // the longest gap kLinear bridges, >= 1
  KernelChoice Kernel = KernelChoice::kAuto;

  // The method. The defaults are the described method, byte for byte:
  // no profile, the range of each segment, 200 orders from -10 to 10, 200
  // scales from MinScale to Lrec div 5, every scale in the fits.
  bool Profile = false;  // analyse the cumulative sum of the mean-removed
                         // window values (standard MF-DFA's profile)
  Fluctuation Measure = Fluctuation::kRange;
  // Moment orders: QList when it is not empty (strictly ascending, 0
  // allowed: the logarithmic mean), else QCount orders from QMin to QMax in
  // equal steps.
  double QMin = -10.0;
  double QMax = 10.0;
  std::int32_t QCount = 200;
  std::vector<double> QList;
  std::int32_t MaxScale = 0;      // longest segment; 0: Lrec div 5
  std::int32_t ScaleCount = 200;  // log-spaced scales from MinScale
  // Segment lengths bounding the scales the log-log fits use; 0: no bound.
  std::int32_t FitMin = 0;
  std::int32_t FitMax = 0;
  // > 0: a fluctuation below RangeFloor times the window's largest
  // magnitude counts as zero (flat), so that rounding residues of the fit
  // on flat stretches do not pass for real ranges.
  double RangeFloor = 0.0;
  // The least change of slope of log F(2, s), between the two lines that
  // fit the fitted scales better than one, that flags a window
  // Quality::kCrossover.
  double CrossoverSlope = 0.5;
  // A window with an order whose log-log fit has R^2 below this, its
  // log10 F(q, s) points lying more than 0.2 decades (root mean square)
  // from the line, is Quality::kPoorFit; 0: never.
  double PoorFitR2 = 0.8;
  bool KeepFq = false;  // keep F_q(s) of every window (SeriesResult::Fq)
  // Segments from the start only or from both ends, and the fits' abscissa.
  SegmentCut Segments = SegmentCut::kStart;
  FitAbscissa Abscissa = FitAbscissa::kGrid;
  // kStandard is a preset: Settle gives every method field that still holds
  // its described default the textbook value: Profile true, Measure kRms,
  // Segments kBoth, Abscissa kLogS, 21 orders from -5 to 5, MinScale 20 ->
  // max(4 (TrendOrder + 2), 10), MaxScale 0 -> Lrec div 4, ScaleCount 200
  // -> 40 (log-spaced; the fits take each distinct length once). Fields set
  // to other values are kept. Under kStandard MinScale is clamped into
  // TrendOrder + 2 .. Lrec div 10 instead of 20 .. Lrec div 10.
  Method Preset = Method::kDescribed;

  // Surrogate null levels of every window: Surrogates surrogates of each
  // window analysed with the same settings (0: none). Results depend only
  // on the samples, the settings and Seed, never on the thread count.
  std::int32_t Surrogates = 0;
  SurrogateKind Surrogate = SurrogateKind::kIaaft;
  std::uint64_t Seed = 0;
  // A pair's confidence level for rho under independence (CrossAnalyser,
  // with Surrogates > 0), in (0, 1); one series ignores it.
  double RhoLevel = 0.95;
};

// Why a setting was refused.
enum class SettingReason {
  kOutOfRange,  // below its least or above its largest value
  kNotFinite,   // NaN or an infinity where a finite number is due
  kNotAWord,    // none of the setting's words (or enumerators)
  kWrongType,   // a value of another type (front ends that take text or
                // Python objects)
  kConflict,    // cannot go with another setting's value; Rule() says which
};

// A setting that cannot be used: Settle's refusal. Which() names the
// setting as the settings table names it, the keyword of the Python module
// ("window", "q", "max_scale", "fit_min", "dt", "nan", ...), Rule() says
// what it must be or why its value cannot be used, without naming it, and
// Value() is the value refused (empty when no one value is at fault), so
// that each front end words the refusal with its own name for the setting;
// what() uses Which():
//   Settings s; s.MaxScale = 5000;  // beyond the window of 1000
//   try { Settle(s); } catch (const SettingError& e) { ... }
//     e.Which() -> "max_scale", e.Reason() -> SettingReason::kOutOfRange,
//     e.Rule() -> "must be at most the window length (1000)",
//     e.Value() -> "5000", e.what() -> "max_scale must be at most the
//     window length (1000), got 5000"
class SettingError : public std::invalid_argument {
 public:
  SettingError(std::string which, SettingReason reason, std::string rule,
               std::string value = {});
  const std::string& Which() const noexcept { return which_; }
  SettingReason Reason() const noexcept { return reason_; }
  const std::string& Rule() const noexcept { return rule_; }
  const std::string& Value() const noexcept { return value_; }

 private:
  std::string which_;
  SettingReason reason_;
  std::string rule_;
  std::string value_;
};

// A value that settling clamped, named as the settings table names it
// ("order", "window", "min_scale", "shift").
struct ClampedValue {
  std::string Which;
  std::int32_t Given = 0;
  std::int32_t Used = 0;
};

// Settings as Settle leaves them: checked, clamped and the method's preset
// applied. Only Settle makes one, so whatever takes it (Analyser,
// AnalyseFile) never settles again.
class Settled {
 public:
  const Settings& Used() const noexcept { return used_; }
  // The values settling changed, in the order of the settings table;
  // empty when the settings were settled already. A default that a preset
  // replaces is not a clamp.
  const std::vector<ClampedValue>& Clamped() const noexcept { return clamped_; }
  // The same settings on `threads` threads (0: every core), which no other
  // setting depends on. Throws SettingError for a negative count.
  Settled WithThreads(int threads) const;

 private:
  friend Settled Settle(const Settings& given);
  Settled(Settings used, std::vector<ClampedValue> clamped)
      : used_(std::move(used)), clamped_(std::move(clamped)) {}
  Settings used_;
  std::vector<ClampedValue> clamped_;
};

// `given` settled by the rules of the settings table (src/api and the
// README list them): TrendOrder into 1..10, Lrec to at least 32, MinScale
// to min(max(MinScale, 20), Lrec div 10) with the settled Lrec (so below 20
// whenever Lrec < 200), WinShift into 1..Lrec. Throws SettingError when
// IncrFlag is not 0 or 1, when Tstep is not greater than 0 (NaN included),
// when Tini or Tstep is not finite, when Fs is given but not a finite
// number above 0, or given with Tstep other than 1, when Threads is negative,
// when an enum holds none of its enumerators, or when the method or surrogate
// settings cannot be used together (the rule says why: no moment order, a fit
// range holding fewer than 2 scales, a MaxScale beyond Lrec, ...); a rule
// between settings names the first of them not left at its default (QMax
// -20 against the default QMin: "q_max must be above q_min, got -20").
//   Lrec 100, MinScale 50 -> MinScale 10;  TrendOrder 0 -> 1
Settled Settle(const Settings& given);

// One window's line of the result file, before rendering.
struct WindowRow {
  double TimeMark = 0.0;  // Tini + (position of the window's last sample)*Tstep
  // The edges and the peak of the sampled spectrum; with Profile and
  // Fluctuation::kRms (standard MF-DFA) the range of alpha = dtau/dq over
  // the orders and the largest q alpha - tau (docs/method.md, 1.8 and 1.9).
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;  // AlfaMax - AlfaMin
  double AlfaSz = 0.0;     // alpha where the spectrum is largest
  double FAlfaSz = 0.0;    // the spectrum there

  // Quality of the window (always computed).
  Quality Status = Quality::kOk;
  double ZeroShare = 0.0;   // share of segments whose fluctuation is not > 0
  double FloorShare = 0.0;  // share at or below the rounding floor
  double MinRSquared =
      0.0;  // smallest R^2 of the log-log fits (NaN: degenerate)
  // Ordinary least-squares standard errors (NaN: degenerate, or fewer than
  // 3 fit points): of the slope of log10 F(2, s), interpolated linearly in
  // q between the orders around 2 when 2 is not one; and of the width,
  // propagated through its estimate from the orders' fits (docs/method.md,
  // section 2.1; standard MF-DFA: of the combination of h(q) that its
  // Legendre width is).
  double H2Se = 0.0;
  double WidthSe = 0.0;
  // Where log F(2, s) changes slope: the first segment length of the upper
  // regime (NaN: one line fits).
  double CrossoverScale = 0.0;
  // The share of the window's samples that bridge a gap (GapFill::kLinear;
  // 0 otherwise).
  double FilledShare = 0.0;

  // Surrogate null levels (NaN without surrogates), over the N surrogates
  // of SurrogatesUsed: the surrogates' median and 95th-percentile width and
  // the rank p-value (1 + #{surrogate width >= observed}) / (N + 1); the
  // same levels for AlfaSz, whose p-value is two-sided:
  // min(1, 2 (1 + min(#{>= observed}, #{<= observed})) / (N + 1)).
  double WidthNullMedian = 0.0;
  double WidthNullP95 = 0.0;
  double WidthP = 0.0;
  double AlfaSzNullMedian = 0.0;
  double AlfaSzNullP95 = 0.0;
  double AlfaSzP = 0.0;
  // IAAFT surrogates of the window whose loop stopped at its cap of 1000
  // amplitude-and-rank steps, the ranks still changing (0 without
  // surrogates and for the other kinds). They are left out of the levels.
  std::int32_t IaaftAtCap = 0;
  // The surrogates the levels are taken over: those that settled and whose
  // width and AlfaSz are not NaN (0 without surrogates).
  std::int32_t SurrogatesUsed = 0;
};

// One window's whole spectrum. A degenerate window (one whose fluctuation
// function is not positive at every scale, a constant window for example)
// has NaN HurstQ and TauQ, AlfaGrid all 0.5 and FAlfaGrid all 1, and its
// row reads 0.5, 0.5, 0, 0.5, 1.
struct WindowSpectrum {
  std::vector<double> HurstQ;     // h(q) over SeriesResult::QGrid
  std::vector<double> TauQ;       // tau(q) = q*h(q) - 1
  std::vector<double> AlfaGrid;   // alpha, ascending (kAlfaCount values)
  std::vector<double> FAlfaGrid;  // f(alpha) there
};

struct SeriesResult {
  Settings Used;              // the settled settings
  std::vector<double> QGrid;  // the moment orders, ascending
  // The scales: their segment lengths and log10 grid values (the abscissa
  // of the fits), and which of them the fits use ([FitBegin, FitEnd)).
  std::vector<std::int32_t> ScaleLen;
  std::vector<double> LogScale;
  std::size_t FitBegin = 0;
  std::size_t FitEnd = 0;
  // One row per complete window, in order along the series; a last window
  // that the series does not fill is dropped, so fewer than Lrec samples
  // give none.
  std::vector<WindowRow> Rows;
  // Spectra[i] belongs to Rows[i]; empty unless Settings::Spectrum.
  std::vector<WindowSpectrum> Spectra;
  // Fq[i]: F_q(s) of window i, QGrid.size() x ScaleLen.size() values with
  // q fastest (F(q_j, s_k) at k * QGrid.size() + j); empty unless
  // Settings::KeepFq.
  std::vector<std::vector<double>> Fq;
  // What analysed it: the window kernel, "vector" or "straightforward"
  // ("vector, libm fallback" where the platform's libm or processor keeps
  // the vector kernel from deciding any power itself: the same bits,
  // slower), and the scheduler, "pipelined" on two threads or more or
  // "serial" on one; Threads is the number it ran on, at most the cores the
  // process may use.
  std::string Kernel;
  std::string Scheduler;
  int Threads = 0;
  std::int64_t SamplesUsed = 0;     // the samples the windows were taken from
  std::int64_t SamplesSkipped = 0;  // non-finite samples dropped (kSkip)
  std::int64_t SamplesMasked = 0;   // non-finite samples kept as gaps (kMask)
  // The index (from 0) of the first non-finite sample, where the series
  // ended (kStop) or the first one dropped (kSkip); -1 when there is none.
  std::int64_t FirstBadSample = -1;
  // Plain-text warnings about results that may mislead, in this order: an
  // Lrec below 256; the series ended early (kStop) or lost samples (kSkip);
  // no window at all; every window degenerate (0.5, 0.5, 0, 0.5, 1).
  // Empty when there is nothing to say. Per-window quality is not here.
  std::vector<std::string> Warnings;
};

// Reports how far an analysis has come: the windows handed out so far and
// the windows the whole series gives. Called after every window, at least
// every 65,536 samples read, and about every 50 ms while long windows or
// their surrogates are analysed, one call at a time (not necessarily on the
// calling thread), with counts that never go back. Returning false stops
// the analysis, windows in flight included, within about 0.1 s: Analyse
// then throws Stopped.
using ProgressCallback =
    std::function<bool(std::int64_t windows_done, std::int64_t windows_total)>;

// Thrown by Analyse when its progress callback asked it to stop.
class Stopped : public std::runtime_error {
 public:
  Stopped() : std::runtime_error("analysis stopped on request") {}
};

// Thrown by Analyse under BadSamplePolicy::kError, before anything is
// analysed: "sample 7000 (from 0) is NaN, not a finite number; ...".
class BadSampleError : public std::invalid_argument {
 public:
  BadSampleError(std::int64_t index, double value);
  std::int64_t Index() const noexcept { return index_; }  // from 0
  double Value() const noexcept { return value_; }

 private:
  std::int64_t index_;
  double value_;
};

// The complete windows of `samples` values: the first takes `window`
// (Lrec) samples, each later one `shift` (WinShift) more; 0 when the
// series is shorter than one window.
std::int64_t WindowCount(std::int64_t samples, std::int32_t window,
                         std::int32_t shift);

// How Analyse reads `values` under `policy`, before anything is analysed:
// the samples the windows are taken from (gaps kept under kMask included),
// those dropped (kSkip) and kept as gaps (kMask), and the index (from 0) of
// the first non-finite sample, where the series ends (kStop) or the first
// dropped or kept; -1 when there is none. Under kError nothing is taken
// (Used 0) when there is one. Allocates nothing.
struct SampleScan {
  std::int64_t Used = 0;
  std::int64_t Skipped = 0;
  std::int64_t Masked = 0;
  std::int64_t FirstBad = -1;
};
SampleScan ScanSamples(std::span<const double> values, BadSamplePolicy policy);

// Settled settings with their tables built once, for analysing many series.
// One Analyse call at a time per Analyser (each call uses Threads threads
// itself); separate Analysers may run side by side.
class Analyser {
 public:
  // Takes `settled`; the tables and the window storage are built at the
  // first series that gives a window, so that a series too short for one
  // allocates none, with surrogates or without. One Analyser keeps its own
  // threads; its thread count never limits another's, and making Analysers
  // over and over does not grow memory.
  explicit Analyser(const Settled& settled);
  // Analyser(Settle(settings)): throws as Settle too.
  explicit Analyser(const Settings& settings);
  ~Analyser();
  Analyser(Analyser&&) noexcept;
  Analyser& operator=(Analyser&&) noexcept;

  const Settings& Used() const;

  // Analyses every complete window of `values`, taken as the samples of one
  // series in order, with non-finite samples handled as
  // Settings::OnBadSample says (BadSampleError under kError).
  // `progress`, when given, is told how far it has come and may stop it
  // (Stopped is thrown then). Throws std::bad_alloc when storage cannot be
  // obtained: settings whose storage the system could never give are
  // refused before anything is allocated.
  SeriesResult Analyse(std::span<const double> values,
                       const ProgressCallback& progress = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Analyser(settings).Analyse(values, progress).
SeriesResult AnalyseSeries(std::span<const double> values,
                           const Settings& settings,
                           const ProgressCallback& progress = nullptr);

// Two series at once: detrended cross-correlation (DCCA), its coefficient
// rho and the multifractal cross spectrum (MF-DXA) of x and y, in the same
// moving window with the same settings as Analyser's, window for window.
// Within a window, for each scale s and each of its segments (cut as the
// settings cut them), both series' segments are detrended by the settings'
// polynomial; with r and u the residuals, cov_v = mean of r_i u_i and
// var_v = mean of r_i^2 (u_i^2 for y). Then, over the segments:
//   CovXY(s)  the mean of cov_v: F2_xy(s), the signed detrended covariance
//   FXX(s)    sqrt(mean of var_v of x): x's own rms F_2(s); FYY(s) for y
//   Rho(s)    CovXY / (FXX FYY), in [-1, 1], 1 for y = x: the covariance
//             over the geometric mean of the variances (Zebende's rhoDCCA
//             as F2_xy / (F_xx F_yy), F2 a covariance, F a fluctuation)
//   Lambda    the least-squares slope of log10 sqrt(|CovXY(s)|) on the
//             fits' abscissa over the fitted scales: h(2) for y = x
// and the multifractal form F_q^xy(s) = (mean of |cov_v|^(q/2))^(1/q)
// (q = 0: the logarithmic mean), whose h_xy(q), tau_xy(q) = q h_xy(q) - 1,
// f_xy(alpha) and five-number summary follow as one series' do from F_q(s).
// A negative cov_v enters by its magnitude; the window is then flagged
// (CrossRow::NegativeCovariance). For y = x every value is that of the
// series alone and Rho is 1 at every scale.
//
// With Surrogates > 0, each window also gets a confidence level for rho
// under independence: x against Surrogates surrogates of y's window, of
// the kind Surrogate (phase or iaaft: both keep y's power spectrum, so its
// autocorrelation, on which the spread of rho depends; a shuffle is
// refused), made as one series' surrogates are (keyed by Seed, the
// window's number and the surrogate's index: the same bytes on any thread
// count). Per scale, RhoCritical is the k-th smallest of the m surrogates'
// |rho|, k = ceil(RhoLevel (m + 1)) (at most m), and RhoSignificant says
// |Rho| > RhoCritical: the Monte Carlo test's rank, which an independent
// pair with y's spectrum exceeds with probability (m + 1 - k) / (m + 1),
// 1 - RhoLevel where RhoLevel (m + 1) is whole (19 surrogates at 0.95).
//
// The pair takes the rms fluctuation only (Settle's default for the
// standard method): a range has no cross counterpart. It takes finite
// samples only (OnBadSample kError), so that the two series keep their
// samples in step; other settings are refused with a SettingError naming
// "fluctuation", "surrogate" or "nan". The windows are
// analysed by the straightforward kernel's operations whatever Kernel says,
// on Threads threads, with the same bits on any number of them.
struct CrossRow {
  double TimeMark = 0.0;  // as WindowRow's
  // The cross spectrum's summary, read off as one series' is.
  double AlfaMin = 0.0;
  double AlfaMax = 0.0;
  double AlfaWidth = 0.0;
  double AlfaSz = 0.0;
  double FAlfaSz = 0.0;
  double Lambda = 0.0;  // NaN when some fitted CovXY(s) is 0 or not finite
  // The cross spectrum's quality, judged by the rules of one series'
  // (degenerate where some fitted scale has no segment with a nonzero
  // covariance, poor fit, not concave, ...), and each series' own status.
  Quality Status = Quality::kOk;
  Quality StatusX = Quality::kOk;
  Quality StatusY = Quality::kOk;
  double MinRSquared = 0.0;  // smallest R^2 of the cross fits
  // Some segment covariance is negative: the multifractal form describes
  // |cov| there. NegativeShare: the share of such segments over every
  // scale index.
  bool NegativeCovariance = false;
  double NegativeShare = 0.0;
  // CovXY(s) is positive at some fitted scale and negative at another:
  // Lambda then fits |CovXY| across a change of sign and describes no
  // power law of the covariance (rho wanders about 0 there).
  bool CovarianceSignChanges = false;
  // The surrogates of y that RhoCritical is taken over (0 without
  // surrogates; IAAFT ones that stopped at their cap unsettled are left
  // out).
  std::int32_t SurrogatesUsed = 0;
};

// One window's values per scale (CrossResult::ScaleLen.size() each).
struct CrossScales {
  std::vector<double> CovXY;
  std::vector<double> FXX;
  std::vector<double> FYY;
  std::vector<double> Rho;
  // With Settings::Surrogates > 0 (else empty): the critical |rho| under
  // independence at Settings::RhoLevel (NaN where no surrogate gave a
  // rho), and 1 where |Rho| exceeds it, else 0.
  std::vector<double> RhoCritical;
  std::vector<std::uint8_t> RhoSignificant;
};

struct CrossResult {
  Settings Used;  // the settled settings
  // The grids, as SeriesResult's.
  std::vector<double> QGrid;
  std::vector<std::int32_t> ScaleLen;
  std::vector<double> LogScale;
  std::size_t FitBegin = 0;
  std::size_t FitEnd = 0;
  std::vector<CrossRow> Rows;       // one per complete window, in order
  std::vector<CrossScales> Scales;  // Scales[i] belongs to Rows[i]
  // The cross spectra (h_xy, tau_xy, alpha, f_xy); empty unless
  // Settings::Spectrum.
  std::vector<WindowSpectrum> Spectra;
  // F_q^xy(s) of each window laid out as SeriesResult::Fq; empty unless
  // Settings::KeepFq.
  std::vector<std::vector<double>> Fq;
  std::string Kernel = "straightforward";
  int Threads = 0;  // the threads it ran on
  // As SeriesResult's: a short window, no window at all.
  std::vector<std::string> Warnings;
};

// Settled settings for analysing pairs, the tables built once. One Analyse
// call at a time per CrossAnalyser (each call uses Threads threads itself).
class CrossAnalyser {
 public:
  // Throws SettingError when the pair cannot take the settings (above).
  explicit CrossAnalyser(const Settled& settled);
  explicit CrossAnalyser(const Settings& settings);  // Settle(settings) first
  ~CrossAnalyser();
  CrossAnalyser(CrossAnalyser&&) noexcept;
  CrossAnalyser& operator=(CrossAnalyser&&) noexcept;

  const Settings& Used() const;

  // Every complete window of the pair. Throws std::invalid_argument when x
  // and y differ in length, BadSampleError for a non-finite sample of
  // either (its index in its own series), Stopped when `progress` asked
  // to stop, std::bad_alloc when storage cannot be obtained.
  CrossResult Analyse(std::span<const double> x, std::span<const double> y,
                      const ProgressCallback& progress = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// CrossAnalyser(settings).Analyse(x, y, progress).
CrossResult AnalysePair(std::span<const double> x, std::span<const double> y,
                        const Settings& settings,
                        const ProgressCallback& progress = nullptr);

// How AnalyseFile reads a series file and what it writes: the flags of
// mfwindow-batch of the same names. Empty texts are flags not given; the
// settings table (src/api/settings_table.h) checks them by name: "column",
// "header", "delimiter", "time_column".
struct FileOptions {
  // The column of delimited text (or of a 2-D .npy array) that holds the
  // series: a number from 1, or a name of the header row. Empty: the first
  // value of each line, as mfwindow reads it (unless Header or Delimiter
  // asks for delimited text).
  std::string Column;
  std::string Header;     // "auto", "yes", "no"
  std::string Delimiter;  // "auto", "comma", "semicolon", "tab", "whitespace"
  // The column of delimited text holding the series' own time stamps (as
  // mfwindow-batch --time-column): they set the time axis, so Fs, Tstep,
  // Tini and OnBadSample kSkip stay at their defaults (SettingError
  // otherwise). Empty: none.
  std::string TimeColumn;
  // Instead, the column of stamps that label the windows (as
  // mfwindow-batch --time-labels): they need only rise, and each window's
  // TimeMark is the stamp of its last sample (ISO 8601 ones in seconds
  // since the first, FileResult::TimeOriginNs). The same settings stay at
  // their defaults as with TimeColumn. Empty: none.
  std::string TimeLabels;
  // Every column of the file in turn: mfwindow-batch's --all-columns. One
  // AnalyseFile call analyses one column, so it refuses this (SettingError
  // naming "all_columns"); give each Column in turn instead.
  bool AllColumns = false;
  // Two columns of the file analysed as a pair, "A,B" (mfwindow-batch's
  // --pair), each a number from 1 or a header name. One AnalyseFile call
  // analyses one series, so it refuses this (SettingError naming "pair");
  // give both series to CrossAnalyser instead.
  std::string Pair;
  // Where the result files go, created if missing; empty: none are written.
  // Each is written under a temporary name and takes its place once the
  // series is complete. A Column other than the first names them
  // "F(Alfa)@<column>_<name>..." (as mfwindow-batch does), column 1
  // "F(Alfa)_<name>..." whether chosen by number or by its header name.
  std::filesystem::path OutDir;
  // Relative series names and a relative OutDir are taken from here;
  // empty: the current directory.
  std::filesystem::path BaseDir;
  bool Csv = false;  // "F(Alfa)_<name>.csv" instead of ".dat"
  // The program the JSON sidecar "<result file>.json" names as its writer
  // (src/api/sidecar.h and the README describe the sidecar).
  std::string Program = "mfwindow library";
};

// One series file analysed, the way mfwindow-batch analyses each of its
// series.
struct FileResult {
  std::string Name;  // the file as messages name it
  // Why the series gave no result, when it did not: its file is missing or
  // cannot be read, its name is refused, or (under OnBadSample kError) a
  // record is not a number, named by file and line. A failed series leaves
  // an earlier result of its name as it was and writes no result file.
  std::optional<std::string> Failure;
  SeriesResult Result;  // the windows, when there is no Failure
  // With FileOptions::TimeColumn, Result.Used's Tini and Tstep are the
  // stamps' axis; for ISO 8601 stamps (seconds since the first) this is
  // the first stamp, in nanoseconds since 1970-01-01T00:00:00Z.
  std::optional<std::int64_t> TimeOriginNs;
  // The warnings and notes mfwindow-batch prints for it (without the
  // program's name), such as a series that ended early.
  std::vector<std::string> Notes;
};

// Reads the series in `file` as mfwindow-batch reads its series (its text
// rules, .npy arrays, OnBadSample, and `options`), analyses it with
// `settled` on Settings::Threads threads, and, when options.OutDir is set,
// writes the result files mfwindow-batch writes for the same settings, byte
// for byte (with Settings::Spectrum also the spectra). Relative names are
// taken from options.BaseDir; the result files are named after `file` as
// given. Throws SettingError for options that cannot be used (naming the
// option as the settings table does), std::bad_alloc when storage cannot
// be had, and std::runtime_error when a result file cannot be written
// (another run writing it, a full disk).
FileResult AnalyseFile(const std::filesystem::path& file,
                       const Settled& settled, const FileOptions& options = {});
// AnalyseFile(file, Settle(settings), options): throws as Settle too.
FileResult AnalyseFile(const std::filesystem::path& file,
                       const Settings& settings,
                       const FileOptions& options = {});

}  // namespace mfwindow
