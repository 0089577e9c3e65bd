#include "api/settings_table.h"

#include <array>
#include <type_traits>

#include "textio/full_precision.h"

namespace mfwindow {
namespace {

// Each enum's words, indexed by its value: the one mapping between the
// words of the front ends and the enums of the library.
constexpr std::string_view kBadSampleWords[] = {"error", "stop", "skip",
                                                "mask"};
constexpr std::string_view kFluctuationWords[] = {"range", "rms"};
constexpr std::string_view kSurrogateWords[] = {"shuffle", "phase", "iaaft"};
constexpr std::string_view kMethodWords[] = {"described", "standard"};
constexpr std::string_view kSegmentWords[] = {"start", "both"};
constexpr std::string_view kAbscissaWords[] = {"grid", "log_s"};
constexpr std::string_view kKernelWords[] = {"auto", "straightforward",
                                             "vector"};
static_assert(static_cast<int>(BadSamplePolicy::kMask) == 3);
static_assert(static_cast<int>(Fluctuation::kRms) == 1);
static_assert(static_cast<int>(SurrogateKind::kIaaft) == 2);
static_assert(static_cast<int>(Method::kStandard) == 1);
static_assert(static_cast<int>(SegmentCut::kBoth) == 1);
static_assert(static_cast<int>(FitAbscissa::kLogS) == 1);
static_assert(static_cast<int>(KernelChoice::kVector) == 2);

template <auto member>
WordMember WordOf() {
  using Enum =
      std::remove_reference_t<decltype(std::declval<Settings&>().*member)>;
  return WordMember{
      [](const Settings& s) { return static_cast<int>(s.*member); },
      [](Settings& s, int index) { s.*member = static_cast<Enum>(index); }};
}

using T = SettingType;

// clang-format off
const std::array kRows{
  SettingRow{"increments", "increments", "--incr", "IncrFlag", T::kCount,
    "0 or 1", {},
    "1: analyse the increments inside each window instead of the values",
    &Settings::IncrFlag},
  SettingRow{"order", "order", "--order", "TrendOrder", T::kCount,
    "1..10, clamped", {}, "order of the detrending polynomial",
    &Settings::TrendOrder},
  SettingRow{"window", "window", "--window", "Lrec", T::kCount,
    "at least 32, clamped", {}, "window length Lrec in samples",
    &Settings::Lrec},
  SettingRow{"min_scale", "min_scale", "--min-scale", "MinScale", T::kCount,
    "min(max(N, 20), window/10), clamped", {},
    "shortest segment in samples", &Settings::MinScale},
  SettingRow{"shift", "shift", "--shift", "WinShift", T::kCount,
    "1..window, clamped", {}, "samples between window starts",
    &Settings::WinShift},
  SettingRow{"t0", "t0", "--tini", "Tini", T::kReal, "finite", {},
    "time mark one step before the first sample (sample j, from 1, lies "
    "at it plus j steps)", &Settings::Tini},
  SettingRow{"dt", "dt", "--tstep", "Tstep", T::kReal,
    "finite, greater than 0", {}, "time step between samples",
    &Settings::Tstep},
  SettingRow{"fs", "fs", "--fs", "Fs", T::kReal,
    "finite, above 0, with dt left at 1; 0: none, dt sets the time axis", {},
    "sampling rate in Hz: the time axis in seconds, sample j (from 1) at t0 "
    "plus j / fs, computed as a division", &Settings::Fs},
  SettingRow{"threads", "threads", "--threads", "Threads", T::kCount,
    "0 or more", {}, "worker threads; 0: every core this process may use",
    &Settings::Threads},
  SettingRow{"spectrum", "spectrum", "--spectrum", "Spectrum", T::kFlag, "",
    {}, "also keep each window's whole spectrum (h, tau, alpha, f)",
    &Settings::Spectrum},
  SettingRow{"nan", "nan", "--on-bad-sample", "OnBadSample", T::kWord, "",
    kBadSampleWords,
    "a sample that is not a finite number (or a line that is not a number): "
    "fail the series (error), end it there (stop), drop it (skip), or keep "
    "it in place as a gap (mask: the windows over it get status gap)",
    WordOf<&Settings::OnBadSample>()},
  SettingRow{"kernel", "kernel", "--kernel", "Kernel", T::kWord, "",
    kKernelWords,
    "the window kernel: the fastest for the settings (auto), every "
    "operation in the order written (straightforward) or vector lanes "
    "(vector); all give the same numbers, bit for bit",
    WordOf<&Settings::Kernel>()},
  SettingRow{"method", "method", "--method", "Preset", T::kWord, "",
    kMethodWords,
    "described (mfwindow's own) or standard (textbook MF-DFA: profile, rms, "
    "segments from both ends, log s abscissa, 21 orders from -5 to 5, "
    "scales from max(4(order+2), 10) to window/4); options given still "
    "apply", WordOf<&Settings::Preset>()},
  SettingRow{"profile", "profile", "--profile", "Profile", T::kFlag, "", {},
    "analyse the cumulative sum of the mean-removed window values (the "
    "profile of standard MF-DFA)", &Settings::Profile},
  SettingRow{"fluctuation", "fluctuation", "--fluctuation", "Measure",
    T::kWord, "", kFluctuationWords,
    "measure of a detrended segment: its range (largest minus smallest "
    "residual) or the root mean square of its residuals",
    WordOf<&Settings::Measure>()},
  SettingRow{"q", "q", "--q-list", "QList", T::kReals,
    "strictly ascending, finite", {},
    "the moment orders themselves (0 allowed: the logarithmic mean); "
    "empty: q_count orders from q_min to q_max", &Settings::QList},
  SettingRow{"q_min", "q_min", "--q-min", "QMin", T::kReal, "finite", {},
    "smallest moment order of the grid", &Settings::QMin},
  SettingRow{"q_max", "q_max", "--q-max", "QMax", T::kReal,
    "finite, above q_min", {}, "largest moment order of the grid",
    &Settings::QMax},
  SettingRow{"q_count", "q_count", "--q-count", "QCount", T::kCount,
    "1..10000", {}, "moment orders in equal steps from q_min to q_max",
    &Settings::QCount},
  SettingRow{"max_scale", "max_scale", "--max-scale", "MaxScale", T::kCount,
    "above min_scale, at most the window; 0: window/5", {},
    "longest segment in samples", &Settings::MaxScale},
  SettingRow{"scale_count", "scale_count", "--scale-count", "ScaleCount",
    T::kCount, "2..10000", {},
    "log-spaced scales from the minimum scale to the longest",
    &Settings::ScaleCount},
  SettingRow{"fit_min", "fit_range", "--fit-min", "FitMin", T::kCount,
    "0 or more; 0: no bound", {},
    "shortest segment the log-log fits use", &Settings::FitMin},
  SettingRow{"fit_max", "fit_range", "--fit-max", "FitMax", T::kCount,
    "0 or more; 0: no bound", {},
    "longest segment the log-log fits use", &Settings::FitMax},
  SettingRow{"segments", "segments", "--segments", "Segments", T::kWord, "",
    kSegmentWords,
    "segments from the window's start only, or as many again from its end",
    WordOf<&Settings::Segments>()},
  SettingRow{"abscissa", "abscissa", "--abscissa", "Abscissa", T::kWord, "",
    kAbscissaWords,
    "abscissa of the log-log fits: the scale grid, or log s of each "
    "distinct segment length", WordOf<&Settings::Abscissa>()},
  SettingRow{"range_floor", "range_floor", "--range-floor", "RangeFloor",
    T::kReal, "finite, 0 or more; 0: off", {},
    "fluctuations below this share of the window's largest magnitude count "
    "as zero (flat)", &Settings::RangeFloor},
  SettingRow{"fq", "fq", "--fq", "KeepFq", T::kFlag, "", {},
    "also keep F_q(s) of every window", &Settings::KeepFq},
  SettingRow{"surrogates", "surrogates", "--surrogates", "Surrogates",
    T::kCount, "0..100000", {},
    "surrogates of each window for a null level of its width and AlfaSz; "
    "0: none", &Settings::Surrogates},
  SettingRow{"surrogate", "surrogate", "--surrogate", "Surrogate", T::kWord,
    "", kSurrogateWords,
    "the kind of surrogate: a shuffle (keeps the values), random Fourier "
    "phases (keeps the power spectrum) or iterative amplitude-adjusted",
    WordOf<&Settings::Surrogate>()},
  SettingRow{"seed", "seed", "--seed", "Seed", T::kSeed, "0..2^64-1", {},
    "seed of the surrogates; results depend on it, never on threads",
    &Settings::Seed},
};
// clang-format on

}  // namespace

std::span<const SettingRow> SettingRows() { return kRows; }

const SettingRow* FindSetting(std::string_view name) {
  for (const SettingRow& row : kRows) {
    if (row.Name == name) return &row;
  }
  return nullptr;
}

const SettingRow& RowOf(Setting which) {
  static constexpr std::string_view kNames[] = {"order", "window", "min_scale",
                                                "shift"};
  static_assert(static_cast<int>(Setting::kWinShift) == 3);
  return *FindSetting(kNames[static_cast<int>(which)]);
}

std::string DefaultText(const SettingRow& row) {
  static const Settings defaults;
  struct Visitor {
    const SettingRow& Row;
    std::string operator()(std::int32_t Settings::*m) const {
      return std::to_string(defaults.*m);
    }
    std::string operator()(double Settings::*m) const {
      return textio::FormatShortest(defaults.*m);
    }
    std::string operator()(bool Settings::*m) const {
      return defaults.*m ? "true" : "false";
    }
    std::string operator()(std::vector<double> Settings::*m) const {
      std::string text;
      for (const double q : defaults.*m) {
        if (!text.empty()) text += ',';
        text += textio::FormatShortest(q);
      }
      return text;
    }
    std::string operator()(std::uint64_t Settings::*m) const {
      return std::to_string(defaults.*m);
    }
    std::string operator()(const WordMember& m) const {
      return std::string(Row.Words[static_cast<std::size_t>(m.Get(defaults))]);
    }
  };
  return std::visit(Visitor{row}, row.Member);
}

std::string Reworded(const SettingRow& row, std::string_view name,
                     const std::string& text) {
  std::string reworded(name);
  if (text.size() > row.Field.size() && text.starts_with(row.Field) &&
      text[row.Field.size()] == ' ') {
    reworded.append(text, row.Field.size());
  } else {
    reworded.append(": ");
    reworded.append(text);
  }
  return reworded;
}

int WordIndex(const SettingRow& row, std::string_view word) {
  for (std::size_t i = 0; i < row.Words.size(); ++i) {
    if (row.Words[i] == word) return static_cast<int>(i);
  }
  return -1;
}

void Refuse(const SettingRow& row, const std::string& text) {
  throw SettingError(std::string(row.Name), text);
}

}  // namespace mfwindow
