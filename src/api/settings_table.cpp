#include "mfwindow/settings_table.h"

#include <array>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

#include "analysis/settle.h"
#include "api/settings_params.h"
#include "textio/full_precision.h"

namespace mfwindow {
namespace {

// Each enum's words, indexed by its value: the one mapping between the
// words of the front ends and the enums of the library.
constexpr std::string_view kBadSampleWords[] = {"error", "stop", "skip",
                                                "mask"};
constexpr std::string_view kFillWords[] = {"none", "linear"};
constexpr std::string_view kFluctuationWords[] = {"range", "rms"};
constexpr std::string_view kSurrogateWords[] = {"shuffle", "phase", "iaaft"};
constexpr std::string_view kMethodWords[] = {"described", "standard"};
constexpr std::string_view kSegmentWords[] = {"start", "both"};
constexpr std::string_view kAbscissaWords[] = {"grid", "log_s"};
constexpr std::string_view kKernelWords[] = {"auto", "straightforward",
                                             "vector", "segment_once"};
constexpr std::string_view kHeaderWords[] = {"auto", "yes", "no"};
constexpr std::string_view kDelimiterWords[] = {"auto", "comma", "semicolon",
                                                "tab", "whitespace"};
static_assert(static_cast<int>(BadSamplePolicy::kMask) == 3);
static_assert(static_cast<int>(GapFill::kLinear) == 1);
static_assert(static_cast<int>(Fluctuation::kRms) == 1);
static_assert(static_cast<int>(SurrogateKind::kIaaft) == 2);
static_assert(static_cast<int>(Method::kStandard) == 1);
static_assert(static_cast<int>(SegmentCut::kBoth) == 1);
static_assert(static_cast<int>(FitAbscissa::kLogS) == 1);
static_assert(static_cast<int>(KernelChoice::kSegmentOnce) == 3);

template <auto member>
WordMember WordOf() {
  using Enum =
      std::remove_reference_t<decltype(std::declval<Settings&>().*member)>;
  return WordMember{
      [](const Settings& s) { return static_cast<int>(s.*member); },
      [](Settings& s, int index) { s.*member = static_cast<Enum>(index); }};
}

constexpr Bound AtLeast(double value) { return Bound{value}; }
constexpr Bound Above(double value) { return Bound{value, nullptr, {}, true}; }

// The bounds that other settings give, each evaluated once the rows above
// it are settled.
double LeastMinScale(const Settings& s) {
  return s.Preset == Method::kStandard ? s.TrendOrder + 2
                                       : analysis::kLeastMinScale;
}
// The cap is Lrec div 10, an integer division, as the dialogue takes it.
double MostMinScale(const Settings& s) {
  const std::int32_t cap = s.Lrec / 10;
  return cap;
}
double WindowLength(const Settings& s) { return s.Lrec; }
double MinScaleOf(const Settings& s) { return s.MinScale; }

using T = SettingType;
constexpr unsigned kNotPython = kLibrary | kBatch;

// clang-format off
const std::array kRows{
  SettingRow{.Name = "increments", .Flag = "--incr", .Field = "IncrFlag",
    .Type = T::kCount,
    .Help = "1: analyse the increments inside each window instead of the "
            "values",
    .Member = &Settings::IncrFlag, .Min = AtLeast(0), .Max = AtLeast(1)},
  SettingRow{.Name = "order", .Flag = "--order", .Field = "TrendOrder",
    .Type = T::kCount, .Help = "order of the detrending polynomial",
    .Member = &Settings::TrendOrder,
    .Min = AtLeast(analysis::kLeastTrendOrder),
    .Max = AtLeast(analysis::kMostTrendOrder), .Clamp = true},
  SettingRow{.Name = "window", .Flag = "--window", .Field = "Lrec",
    .Type = T::kCount, .Help = "window length Lrec in samples",
    .Member = &Settings::Lrec, .Min = AtLeast(analysis::kLeastLrec),
    .Clamp = true},
  SettingRow{.Name = "min_scale", .Flag = "--min-scale", .Field = "MinScale",
    .Type = T::kCount, .Help = "shortest segment in samples",
    .Member = &Settings::MinScale,
    .Min = Bound{0.0, &LeastMinScale,
                 "20 (order + 2 with the standard method)"},
    .Max = Bound{0.0, &MostMinScale, "window div 10"}, .Clamp = true,
    .ByMethod = true},
  SettingRow{.Name = "shift", .Flag = "--shift", .Field = "WinShift",
    .Type = T::kCount, .Help = "samples between window starts",
    .Member = &Settings::WinShift, .Min = AtLeast(1),
    .Max = Bound{0.0, &WindowLength, "the window length"}, .Clamp = true},
  SettingRow{.Name = "t0", .Flag = "--tini", .Field = "Tini", .Type = T::kReal,
    .Help = "time mark one step before the first sample (sample j, from 1, "
            "lies at it plus j steps)",
    .Member = &Settings::Tini, .Finite = true},
  SettingRow{.Name = "dt", .Flag = "--tstep", .Field = "Tstep",
    .Type = T::kReal, .Help = "time step between samples",
    .Member = &Settings::Tstep, .Min = Above(0.0), .Finite = true},
  SettingRow{.Name = "fs", .Flag = "--fs", .Field = "Fs", .Type = T::kReal,
    .Help = "sampling rate in Hz, with dt left at 1: the time axis in "
            "seconds, sample j (from 1) at t0 plus j / fs, computed as a "
            "division",
    .Member = &Settings::Fs, .Min = Above(0.0), .Finite = true},
  SettingRow{.Name = "threads", .Flag = "--threads", .Field = "Threads",
    .Type = T::kCount, .Help = "worker threads",
    .Member = &Settings::Threads, .Min = AtLeast(0),
    .Zero = "every core this process may use"},
  SettingRow{.Name = "spectrum", .Flag = "--spectrum", .Field = "Spectrum",
    .Type = T::kFlag,
    .Help = "also keep each window's whole spectrum (h, tau, alpha, f)",
    .Member = &Settings::Spectrum},
  SettingRow{.Name = "nan", .Flag = "--on-bad-sample", .Field = "OnBadSample",
    .Type = T::kWord, .Words = kBadSampleWords,
    .Help = "a sample that is not a finite number (or a line that is not a "
            "number): fail the series (error), end it there (stop), drop it "
            "(skip), or keep it in place as a gap (mask: the windows over it "
            "get status gap)",
    .Member = WordOf<&Settings::OnBadSample>()},
  SettingRow{.Name = "fill", .Flag = "--fill", .Field = "Fill",
    .Type = T::kWord, .Words = kFillWords,
    .Help = "the gaps kept in place (mask): each stays a gap (none), or a "
            "run of at most max_gap of them between two samples takes the "
            "straight line between them (linear; the windows over such "
            "samples are analysed, with status filled and their "
            "filled_share)",
    .Member = WordOf<&Settings::Fill>()},
  SettingRow{.Name = "max_gap", .Flag = "--max-gap", .Field = "MaxGap",
    .Type = T::kCount,
    .Help = "the longest run of gaps that fill linear bridges, in samples",
    .Member = &Settings::MaxGap, .Min = AtLeast(1), .Zero = "none",
    .Unset = true},
  SettingRow{.Name = "kernel", .Flag = "--kernel", .Field = "Kernel",
    .Type = T::kWord, .Words = kKernelWords,
    .Help = "the window kernel: the fastest for the settings (auto), every "
            "operation in the order written (straightforward), vector "
            "lanes (vector; the same numbers, bit for bit) or each segment "
            "of the series once (segment_once: profile and rms, orders 1 to "
            "3; F_q within 5e-11; auto takes it at shift <= window/100)",
    .Member = WordOf<&Settings::Kernel>()},
  SettingRow{.Name = "method", .Flag = "--method", .Field = "Preset",
    .Type = T::kWord, .Words = kMethodWords,
    .Help = "described (mfwindow's own) or standard (textbook MF-DFA: "
            "profile, rms, segments from both ends, log s abscissa, 21 "
            "orders from -5 to 5, scales from max(4(order+2), 10) to "
            "window/4); options given still apply",
    .Member = WordOf<&Settings::Preset>(),
    .PythonDefault = "standard"},
  SettingRow{.Name = "profile", .Flag = "--profile", .Field = "Profile",
    .Type = T::kFlag,
    .Help = "analyse the cumulative sum of the mean-removed window values "
            "(the profile of standard MF-DFA)",
    .Member = &Settings::Profile,
    .ByMethod = true},
  SettingRow{.Name = "fluctuation", .Flag = "--fluctuation",
    .Field = "Measure", .Type = T::kWord, .Words = kFluctuationWords,
    .Help = "measure of a detrended segment: its range (largest minus "
            "smallest residual) or the root mean square of its residuals",
    .Member = WordOf<&Settings::Measure>(),
    .ByMethod = true},
  SettingRow{.Name = "q", .Flag = "--q-list", .Field = "QList",
    .Type = T::kReals,
    .Help = "the moment orders themselves (0 allowed: the logarithmic mean)",
    .Member = &Settings::QList, .Finite = true, .Ascending = true,
    .MostItems = analysis::kMostOrders,
    .Zero = "q_count orders from q_min to q_max", .Unset = true},
  SettingRow{.Name = "q_min", .Flag = "--q-min", .Field = "QMin",
    .Type = T::kReal, .Help = "smallest moment order of the grid",
    .Member = &Settings::QMin, .Finite = true,
    .ByMethod = true},
  SettingRow{.Name = "q_max", .Flag = "--q-max", .Field = "QMax",
    .Type = T::kReal, .Help = "largest moment order of the grid",
    .Member = &Settings::QMax, .Finite = true,
    .ByMethod = true},
  SettingRow{.Name = "q_count", .Flag = "--q-count", .Field = "QCount",
    .Type = T::kCount,
    .Help = "moment orders in equal steps from q_min to q_max",
    .Member = &Settings::QCount, .Min = AtLeast(1),
    .Max = AtLeast(analysis::kMostOrders),
    .ByMethod = true},
  SettingRow{.Name = "max_scale", .Flag = "--max-scale", .Field = "MaxScale",
    .Type = T::kCount, .Help = "longest segment in samples",
    .Member = &Settings::MaxScale,
    .Min = Bound{0.0, &MinScaleOf, "the minimum scale", true},
    .Max = Bound{0.0, &WindowLength, "the window length"},
    .Zero = "window div 5 (window div 4 with the standard method)",
    .Unset = true,
    .ByMethod = true},
  SettingRow{.Name = "scale_count", .Flag = "--scale-count",
    .Field = "ScaleCount", .Type = T::kCount,
    .Help = "log-spaced scales from the minimum scale to the longest",
    .Member = &Settings::ScaleCount, .Min = AtLeast(2),
    .Max = AtLeast(analysis::kMostScales),
    .ByMethod = true},
  SettingRow{.Name = "fit_min", .Keyword = "fit_range", .Flag = "--fit-min",
    .Field = "FitMin", .Type = T::kCount,
    .Help = "shortest segment the log-log fits use",
    .Member = &Settings::FitMin, .Min = AtLeast(1), .Zero = "no bound",
    .Unset = true},
  SettingRow{.Name = "fit_max", .Keyword = "fit_range", .Flag = "--fit-max",
    .Field = "FitMax", .Type = T::kCount,
    .Help = "longest segment the log-log fits use",
    .Member = &Settings::FitMax, .Min = AtLeast(1), .Zero = "no bound",
    .Unset = true},
  SettingRow{.Name = "segments", .Flag = "--segments", .Field = "Segments",
    .Type = T::kWord, .Words = kSegmentWords,
    .Help = "segments from the window's start only, or as many again from "
            "its end",
    .Member = WordOf<&Settings::Segments>(),
    .ByMethod = true},
  SettingRow{.Name = "abscissa", .Flag = "--abscissa", .Field = "Abscissa",
    .Type = T::kWord, .Words = kAbscissaWords,
    .Help = "abscissa of the log-log fits: the scale grid, or log s of each "
            "distinct segment length",
    .Member = WordOf<&Settings::Abscissa>(),
    .ByMethod = true},
  SettingRow{.Name = "range_floor", .Flag = "--range-floor",
    .Field = "RangeFloor", .Type = T::kReal,
    .Help = "fluctuations below this share of the window's largest "
            "magnitude count as zero (flat)",
    .Member = &Settings::RangeFloor, .Min = AtLeast(0.0), .Finite = true,
    .Zero = "off"},
  SettingRow{.Name = "crossover_slope", .Flag = "--crossover-slope",
    .Field = "CrossoverSlope", .Type = T::kReal,
    .Help = "the least change of slope of log F(2, s) between two lines "
            "fitting the scales better than one that flags a window "
            "crossover",
    .Member = &Settings::CrossoverSlope, .Min = Above(0.0), .Finite = true},
  SettingRow{.Name = "poor_fit_r2", .Flag = "--poor-fit-r2",
    .Field = "PoorFitR2", .Type = T::kReal,
    .Help = "a window is poor_fit when some order's log-log line explains "
            "less than this share (R^2) of points that scatter by more "
            "than 0.2 decades",
    .Member = &Settings::PoorFitR2, .Min = AtLeast(0.0), .Max = AtLeast(1.0),
    .Finite = true, .Zero = "off"},
  SettingRow{.Name = "fq", .Flag = "--fq", .Field = "KeepFq",
    .Type = T::kFlag, .Help = "also keep F_q(s) of every window",
    .Member = &Settings::KeepFq},
  SettingRow{.Name = "surrogates", .Flag = "--surrogates",
    .Field = "Surrogates", .Type = T::kCount,
    .Help = "surrogates of each window for a null level of its width and "
            "AlfaSz",
    .Member = &Settings::Surrogates, .Min = AtLeast(0),
    .Max = AtLeast(analysis::kMostSurrogates), .Zero = "none"},
  SettingRow{.Name = "surrogate", .Flag = "--surrogate", .Field = "Surrogate",
    .Type = T::kWord, .Words = kSurrogateWords,
    .Help = "the kind of surrogate: a shuffle (keeps the values), random "
            "Fourier phases (keeps the power spectrum) or iterative "
            "amplitude-adjusted",
    .Member = WordOf<&Settings::Surrogate>()},
  SettingRow{.Name = "seed", .Flag = "--seed", .Field = "Seed",
    .Type = T::kSeed,
    .Help = "seed of the surrogates; results depend on it, never on threads",
    .Member = &Settings::Seed},
  // A pair's own: mfwindow.cross takes it as a keyword of its own, and
  // mfwindow-batch with --pair.
  SettingRow{.Name = "rho_level", .Flag = "--rho-level", .Field = "RhoLevel",
    .Type = T::kReal,
    .Help = "a pair's confidence level for rho under independence: the "
            "quantile of |rho| over x against the surrogates of y that "
            "rho must exceed",
    .Member = &Settings::RhoLevel, .Min = Above(0.0),
    .Max = Bound{1.0, nullptr, {}, true}, .Finite = true,
    .FrontEnds = kNotPython},

  // How a series file is read.
  SettingRow{.Name = "column", .Flag = "--column", .Field = "Column",
    .Type = T::kText,
    .Help = "the column of delimited text (or of a 2-D .npy array) that is "
            "the series: a number from 1, or a header name; several, "
            "separated by commas (a list in Python), are analysed in turn",
    .Member = &FileOptions::Column,
    .Zero = "the first value of each line", .Unset = true},
  SettingRow{.Name = "all_columns", .Flag = "--all-columns",
    .Field = "AllColumns", .Type = T::kFlag,
    .Help = "analyse every column of each series in turn (the fields of its "
            "first line, or a 2-D .npy array's columns)",
    .Member = &FileOptions::AllColumns, .FrontEnds = kNotPython},
  SettingRow{.Name = "pair", .Flag = "--pair", .Field = "Pair",
    .Type = T::kText,
    .Help = "two columns A,B of delimited text (or of a 2-D .npy array), "
            "each a number from 1 or a header name, analysed together as "
            "a pair (the rms fluctuation only): one CSV per series file, "
            "F(Alfa)@<A>+<B>_<name>.csv",
    .Member = &FileOptions::Pair, .Zero = "none", .Unset = true,
    .FrontEnds = kNotPython},
  SettingRow{.Name = "header", .Flag = "--header", .Field = "Header",
    .Type = T::kWord, .Words = kHeaderWords,
    .Help = "whether delimited text starts with a header row",
    .Member = &FileOptions::Header, .Zero = "auto with delimited text",
    .Unset = true},
  SettingRow{.Name = "delimiter", .Flag = "--delimiter", .Field = "Delimiter",
    .Type = T::kWord, .Words = kDelimiterWords,
    .Help = "what separates the fields of delimited text",
    .Member = &FileOptions::Delimiter, .Zero = "auto with delimited text",
    .Unset = true},
  SettingRow{.Name = "time_column", .Flag = "--time-column",
    .Field = "TimeColumn", .Type = T::kText,
    .Help = "the column of delimited text holding the series' own time "
            "stamps (numbers or ISO 8601 date-times, evenly spaced): the "
            "time axis is theirs",
    .Member = &FileOptions::TimeColumn, .Zero = "none", .Unset = true},
  SettingRow{.Name = "time_labels", .Flag = "--time-labels",
    .Field = "TimeLabels", .Type = T::kText,
    .Help = "the column of delimited text holding stamps (numbers or ISO "
            "8601 date-times) that need only rise: each window's time is "
            "the stamp of its last sample",
    .Member = &FileOptions::TimeLabels, .Zero = "none", .Unset = true,
    .FrontEnds = kNotPython},
};
// clang-format on

// A bound or a value in messages and help: whole numbers in full
// ("100000", not "1e+05"), others as their shortest round-trip text.
std::string NumberText(double value) {
  if (value == std::floor(value) && std::fabs(value) < 0x1p53) {
    return std::to_string(static_cast<std::int64_t>(value));
  }
  return textio::FormatShortest(value);
}

// A bound as a number, given the settings settled so far.
double BoundValue(const Bound& bound, const Settings& s) {
  return bound.Of != nullptr ? bound.Of(s) : bound.Value;
}

// "at least 1", "above 0", "at most the window length (1000)"; the value
// of a bound taken from other settings in brackets when `s` is given.
std::string BoundText(const Bound& bound, bool lower, const Settings* s) {
  std::string text = lower ? (bound.Open ? "above " : "at least ")
                           : (bound.Open ? "below " : "at most ");
  if (bound.Of == nullptr) return text + NumberText(bound.Value);
  text += bound.Text;
  if (s != nullptr) {
    text += " (" + NumberText(bound.Of(*s)) + ")";
  }
  return text;
}

bool Below(const Bound& bound, double value, const Settings& s) {
  const double b = BoundValue(bound, s);
  return bound.Open ? !(value > b) : !(value >= b);
}

bool Beyond(const Bound& bound, double value, const Settings& s) {
  const double b = BoundValue(bound, s);
  return bound.Open ? !(value < b) : !(value <= b);
}

// The rule a value outside the row's range breaks, for its refusal, with
// the values of bounds taken from other settings when `s` is given:
// "must be 1 to 10", "must be a finite number above 0, or 0 for none".
std::string RangeRule(const SettingRow& row, const Settings* s) {
  std::string rule = "must be";
  if (row.Finite && row.Type == SettingType::kReal) rule += " a finite number";
  if (row.Min && row.Max && row.Min->Of == nullptr && row.Max->Of == nullptr &&
      !row.Min->Open && !row.Max->Open) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a
    // text put before a temporary string.
    rule += ' ';
    rule += NumberText(row.Min->Value);
    rule += " to ";
    rule += NumberText(row.Max->Value);
  } else {
    if (row.Min) {
      rule += ' ';
      rule += BoundText(*row.Min, true, s);
    }
    if (row.Min && row.Max) rule += " and";
    if (row.Max) {
      rule += ' ';
      rule += BoundText(*row.Max, false, s);
    }
  }
  // Where 0 is an ordinary value the refusal leaves its meaning to the
  // help; where it stands for "not given" it is one of the choices.
  if (row.Unset && !row.Zero.empty()) {
    rule += ", or 0 for " + std::string(row.Zero);
  }
  return rule;
}

}  // namespace

std::span<const SettingRow> SettingRows() { return kRows; }

const SettingRow* FindSetting(std::string_view name) {
  for (const SettingRow& row : kRows) {
    if (row.Name == name) return &row;
  }
  return nullptr;
}

bool IsFileRow(const SettingRow& row) {
  return std::holds_alternative<std::string FileOptions::*>(row.Member) ||
         std::holds_alternative<bool FileOptions::*>(row.Member);
}

std::string ValueText(const SettingRow& row, const Settings& settings,
                      const FileOptions& file) {
  struct Visitor {
    const SettingRow& Row;
    const Settings& S;
    const FileOptions& F;
    std::string operator()(std::int32_t Settings::*m) const {
      return std::to_string(S.*m);
    }
    std::string operator()(double Settings::*m) const {
      return textio::FormatShortest(S.*m);
    }
    std::string operator()(bool Settings::*m) const {
      return S.*m ? "true" : "false";
    }
    std::string operator()(std::vector<double> Settings::*m) const {
      std::string text;
      for (const double q : S.*m) {
        if (!text.empty()) text += ',';
        text += textio::FormatShortest(q);
      }
      return text;
    }
    std::string operator()(std::uint64_t Settings::*m) const {
      return std::to_string(S.*m);
    }
    std::string operator()(const WordMember& m) const {
      const int index = m.Get(S);
      return index >= 0 && static_cast<std::size_t>(index) < Row.Words.size()
                 ? std::string(Row.Words[static_cast<std::size_t>(index)])
                 : std::to_string(index);
    }
    std::string operator()(std::string FileOptions::*m) const { return F.*m; }
    std::string operator()(bool FileOptions::*m) const {
      return F.*m ? "true" : "false";
    }
    std::string operator()(std::optional<double> Settings::*m) const {
      return (S.*m).has_value() ? textio::FormatShortest(*(S.*m)) : "";
    }
  };
  return std::visit(Visitor{row, settings, file}, row.Member);
}

std::string DefaultText(const SettingRow& row) {
  return ValueText(row, Settings{}, FileOptions{});
}

std::string RangeText(const SettingRow& row) {
  if (row.Min || row.Max) {
    std::string text = RangeRule(row, nullptr).substr(8);  // "must be "
    if (row.Clamp) {
      const std::size_t zero = text.find(", or 0");
      text.insert(zero == std::string::npos ? text.size() : zero, ", clamped");
    }
    if (!row.Unset && !row.Zero.empty()) {
      text += "; 0: " + std::string(row.Zero);
    }
    return text;
  }
  std::string text;
  if (row.Finite)
    text = row.Type == SettingType::kReals ? "each finite" : "finite";
  if (row.Ascending) text += ", strictly ascending";
  if (row.MostItems > 0) {
    text += ", at most " + std::to_string(row.MostItems);
  }
  if (!row.Zero.empty()) {
    text +=
        std::string(text.empty() ? "" : "; ") +
        (row.Type == SettingType::kReals || row.Type == SettingType::kText ||
                 row.Type == SettingType::kWord
             ? "empty: "
             : "0: ") +
        std::string(row.Zero);
  }
  return text;
}

std::string Worded(const SettingError& error, std::string_view name) {
  std::string text(name);
  text += ' ';
  text += error.Rule();
  if (!error.Value().empty()) text += ", got " + error.Value();
  return text;
}

int WordIndex(const SettingRow& row, std::string_view word) {
  for (std::size_t i = 0; i < row.Words.size(); ++i) {
    if (row.Words[i] == word) return static_cast<int>(i);
  }
  return -1;
}

void Refuse(const SettingRow& row, SettingReason reason, std::string rule,
            std::string value) {
  throw SettingError(std::string(row.Name), reason, std::move(rule),
                     std::move(value));
}

void CheckGivenUnderMethod(const Settings& s,
                           std::span<const std::string> given) {
  if (s.Preset != Method::kStandard) return;
  const Settings described;
  for (const std::string& name : given) {
    const SettingRow* row = FindSetting(name);
    if (row == nullptr || !row->ByMethod) continue;
    const std::string value = ValueText(*row, s);
    if (value != ValueText(*row, described)) continue;
    Refuse(*row, SettingReason::kConflict,
           "holds the described method's value, which the standard method "
           "replaces with its own: leave it out for the textbook value, or "
           "choose the described method and give each method setting",
           value);
  }
}

void CheckNumber(const SettingRow& row, double value, bool typed) {
  const std::string text = NumberText(value);
  if (row.Type == SettingType::kCount &&
      !(value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max())) {
    Refuse(row, SettingReason::kOutOfRange, "must fit in 32 bits", text);
  }
  if (row.Finite && !std::isfinite(value)) {
    Refuse(row, SettingReason::kNotFinite, RangeRule(row, nullptr), text);
  }
  if (row.Unset && value == 0.0) {
    if (typed) {
      Refuse(row, SettingReason::kOutOfRange,
             "is 0, which stands for " + std::string(row.Zero) +
                 ": leave it out for that");
    }
    return;
  }
  const Settings none;
  const bool low =
      row.Min && row.Min->Of == nullptr && Below(*row.Min, value, none);
  const bool high =
      row.Max && row.Max->Of == nullptr && Beyond(*row.Max, value, none);
  if ((low || high) && !row.Clamp) {
    Refuse(row, SettingReason::kOutOfRange, RangeRule(row, nullptr), text);
  }
}

std::optional<double> NumberOf(const SettingRow& row, const Settings& s) {
  if (const auto* m = std::get_if<std::int32_t Settings::*>(&row.Member)) {
    return static_cast<double>(s.**m);
  }
  if (const auto* m = std::get_if<double Settings::*>(&row.Member)) {
    return s.**m;
  }
  if (const auto* m =
          std::get_if<std::optional<double> Settings::*>(&row.Member)) {
    return s.**m;
  }
  return std::nullopt;
}

bool BoundByOthers(const SettingRow& row) {
  return (row.Min && row.Min->Of != nullptr) ||
         (row.Max && row.Max->Of != nullptr);
}

void CheckOwnValue(const SettingRow& row, const Settings& given) {
  if (const std::optional<double> number = NumberOf(row, given)) {
    CheckNumber(row, *number, false);
    return;
  }
  if (const auto* word = std::get_if<WordMember>(&row.Member)) {
    const int index = word->Get(given);
    if (index < 0 || static_cast<std::size_t>(index) >= row.Words.size()) {
      Refuse(row, SettingReason::kNotAWord,
             "must be one of its " + std::to_string(row.Words.size()) +
                 " enumerators",
             std::to_string(index));
    }
    return;
  }
  if (const auto* list =
          std::get_if<std::vector<double> Settings::*>(&row.Member)) {
    const std::vector<double>& items = given.**list;
    if (row.MostItems > 0 &&
        items.size() > static_cast<std::size_t>(row.MostItems)) {
      Refuse(row, SettingReason::kOutOfRange,
             "must hold at most " + std::to_string(row.MostItems) + " items",
             std::to_string(items.size()) + " items");
    }
    for (std::size_t j = 0; j < items.size(); ++j) {
      if (row.Finite && !std::isfinite(items[j])) {
        Refuse(row, SettingReason::kNotFinite, "must hold finite numbers",
               NumberText(items[j]));
      }
      if (row.Ascending && j > 0 && !(items[j] > items[j - 1])) {
        Refuse(row, SettingReason::kOutOfRange, "must rise strictly",
               NumberText(items[j - 1]) + " then " + NumberText(items[j]));
      }
    }
  }
}

void CheckRange(const SettingRow& row, double value, const Settings& s) {
  if (row.Unset && value == 0.0) return;
  if ((row.Min && Below(*row.Min, value, s)) ||
      (row.Max && Beyond(*row.Max, value, s))) {
    Refuse(row, SettingReason::kOutOfRange, RangeRule(row, &s),
           NumberText(value));
  }
}

double ClampToRange(const SettingRow& row, double value, const Settings& s) {
  // The floor first, then the cap, as the dialogue settles: with a window
  // below 200 the cap (window div 10) wins over the floor of 20.
  if (row.Min && Below(*row.Min, value, s)) value = BoundValue(*row.Min, s);
  if (row.Max && Beyond(*row.Max, value, s)) value = BoundValue(*row.Max, s);
  return value;
}

// The rows as the analysis takes them: each setting of an analysis row
// copied to its place among the answers, the method options, the
// surrogates and the engine request.
analysis::AnalysisParams ToParams(const Settings& s) {
  analysis::AnalysisParams params;
  params.IncrFlag = s.IncrFlag;
  params.TrendOrder = s.TrendOrder;
  params.Lrec = s.Lrec;
  params.MinScale = s.MinScale;
  params.WinShift = s.WinShift;
  params.Tini = s.Tini;
  params.Tstep = s.Tstep;
  params.Fs = s.Fs.value_or(0.0);  // 0: the analysis' "no sampling rate"
  params.MaskGaps = s.OnBadSample == BadSamplePolicy::kMask;
  return params;
}

analysis::TableParams ToTables(const Settings& s) {
  analysis::TableParams tables = analysis::TablesOf(ToParams(s));
  analysis::MethodOptions& m = tables.Method;
  m.Profile = s.Profile;
  m.Measure = s.Measure == Fluctuation::kRms ? analysis::Fluctuation::kRms
                                             : analysis::Fluctuation::kRange;
  m.QList = s.QList;
  m.QMin = s.QMin;
  m.QMax = s.QMax;
  m.QCount = s.QCount;
  m.MaxScale = s.MaxScale;
  m.ScaleCount = s.ScaleCount;
  m.FitMin = s.FitMin;
  m.FitMax = s.FitMax;
  m.RangeFloor = s.RangeFloor;
  m.CrossoverSlope = s.CrossoverSlope;
  m.PoorFitR2 = s.PoorFitR2;
  m.KeepFq = s.KeepFq;
  m.Segments = s.Segments == SegmentCut::kBoth ? analysis::SegmentCut::kBoth
                                               : analysis::SegmentCut::kStart;
  m.Abscissa = s.Abscissa == FitAbscissa::kLogS ? analysis::FitAbscissa::kLogS
                                                : analysis::FitAbscissa::kGrid;
  tables.Surrogates.Count = s.Surrogates;
  tables.Surrogates.Kind =
      s.Surrogate == SurrogateKind::kShuffle ? analysis::SurrogateKind::kShuffle
      : s.Surrogate == SurrogateKind::kPhase ? analysis::SurrogateKind::kPhase
                                             : analysis::SurrogateKind::kIaaft;
  tables.Surrogates.Seed = s.Seed;
  return tables;
}

analysis::EngineRequest EngineRequestOf(const Settings& s) {
  static_assert(static_cast<int>(KernelChoice::kSegmentOnce) ==
                static_cast<int>(analysis::KernelChoice::kSegmentOnce));
  return {static_cast<analysis::KernelChoice>(s.Kernel), s.Threads, s.WinShift};
}

}  // namespace mfwindow
