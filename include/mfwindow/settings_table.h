// The settings of an analysis and of reading a series file, one row each:
// the one place that names them for every front end, with what each allows.
// mfwindow-batch makes its flags, their help and its refusals from these
// rows; the Python module its keywords, defaults, type checks, settings
// record and docstring lines; Settle checks and clamps by them. The
// defaults are those of mfwindow::Settings and mfwindow::FileOptions
// themselves, read through the rows.
//
// Adding a setting: a member of Settings (or FileOptions), a row here with
// its constraints, and its effect where it acts; the front ends take the
// rest from the row.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mfwindow/mfwindow.h"

namespace mfwindow {

// How a setting's value is written and read.
enum class SettingType {
  kCount,  // a 32-bit integer
  kReal,   // a double
  kFlag,   // true or false
  kWord,   // one of the row's Words
  kReals,  // a list of doubles
  kSeed,   // an unsigned 64-bit integer
  kText,   // free text (a column's number or name)
};

// A word setting's value as the index of its word (the enum's value).
struct WordMember {
  int (*Get)(const Settings&);
  void (*Set)(Settings&, int);
};

// A real setting held as std::optional is one that may be left out
// (absent, not 0): Python's None, a batch flag not given.
using SettingMember =
    std::variant<std::int32_t Settings::*, double Settings::*, bool Settings::*,
                 std::vector<double> Settings::*, std::uint64_t Settings::*,
                 WordMember, std::string FileOptions::*, bool FileOptions::*,
                 std::optional<double> Settings::*>;

// One end of a numeric setting's range: a number, or a value that the
// settings settled before this one give (the window for the shift).
struct Bound {
  double Value = 0.0;
  // When set, the bound is Of(settings), with the earlier rows settled;
  // Text names it in messages and help ("the window length").
  double (*Of)(const Settings&) = nullptr;
  std::string_view Text{};
  bool Open = false;  // the bound itself is outside the range
};

// Where a row is taken: each front end lists the rows it offers.
enum FrontEnd : unsigned {
  kLibrary = 1u,  // mfwindow::Settings / FileOptions (every row)
  kBatch = 2u,    // a flag of mfwindow-batch
  kPython = 4u,   // a keyword of mfwindow.analyse (analysis rows) or of
                  // mfwindow.distributed.analyse_files (file rows)
  kEveryFrontEnd = kLibrary | kBatch | kPython,
};

struct SettingRow {
  // The setting's name: SettingError::Which(), the key of the Python
  // module's settings and of the sidecar.
  std::string_view Name{};
  // The Python keyword that sets it (fit_min and fit_max share fit_range);
  // empty: Name.
  std::string_view Keyword{};
  std::string_view Flag{};   // mfwindow-batch's flag
  std::string_view Field{};  // the member of Settings or FileOptions
  SettingType Type = SettingType::kCount;
  std::span<const std::string_view> Words{};  // kWord: indexed by the enum
  std::string_view Help{};                    // one sentence
  SettingMember Member{};

  // What is allowed. Numbers: from Min to Max (either may be absent); a
  // value outside is clamped into the range when Clamp (the dialogue's own
  // rule for its counts), refused otherwise. Finite: NaN and infinities are
  // refused (each item of a list). Ascending: a list must rise strictly.
  // MostItems: the longest list.
  std::optional<Bound> Min{};
  std::optional<Bound> Max{};
  bool Clamp = false;
  bool Finite = false;
  bool Ascending = false;
  std::int32_t MostItems = 0;
  // What 0 (an empty list, an empty text) stands for ("window div 5",
  // "none"); empty: 0 is an ordinary value. When Unset, 0 means "not
  // given": the range applies to other values only, Python takes None for
  // it and a batch flag left out gives it, so a 0 typed there is refused.
  std::string_view Zero{};
  bool Unset = false;
  unsigned FrontEnds = kEveryFrontEnd;
  // The method chooses it: the standard method replaces a value left at
  // the default with its textbook one (Python's None, "the method's").
  bool ByMethod = false;
  // Python's default where it differs from the library's: the textbook
  // method, while mfwindow-batch and the C++ API keep the described one,
  // whose .dat files equal mfwindow's.
  std::string_view PythonDefault{};
};

// Every setting, in the order the front ends list them and settling goes:
// a bound taken from other settings names only rows above it.
std::span<const SettingRow> SettingRows();

// The row named `name`, or nullptr.
const SettingRow* FindSetting(std::string_view name);

// Whether the row belongs to FileOptions rather than Settings.
bool IsFileRow(const SettingRow& row);

// The default of a row, as a default Settings or FileOptions holds it, in
// the words the batch tool's help writes it: "2", "-10", "false", "range",
// "" (an empty list or text).
std::string DefaultText(const SettingRow& row);

// What a row allows, in words, from its constraints: "1 to 10, clamped",
// "finite, above 0; 0: none", "at most the window length"; empty when any
// value of its type is.
std::string RangeText(const SettingRow& row);

// `error` worded for a front end that calls the setting `name` (a flag, a
// keyword): "--order must be at least 1, got 0".
std::string Worded(const SettingError& error, std::string_view name);

// The index of `word` among the row's Words, or -1.
int WordIndex(const SettingRow& row, std::string_view word);

// Refusals of `row`, thrown as SettingError.
[[noreturn]] void Refuse(const SettingRow& row, SettingReason reason,
                         std::string rule, std::string value = {});

// The checks of one row on `value` given as a number, as every front end
// makes them before settling (a bound taken from other settings is checked
// by Settle): the type's limits (a count within 32 bits), finiteness, a
// constant bound of a row that refuses, and a typed 0 of an Unset row
// (`typed`: the front end had the value from its user, not its default).
// Throws SettingError naming the row.
void CheckNumber(const SettingRow& row, double value, bool typed);

// The number a count or real row holds in `s`; std::nullopt for rows of
// other types and for a real left out.
std::optional<double> NumberOf(const SettingRow& row, const Settings& s);

// Whether a bound of the row is taken from other settings (checked or
// clamped only once those are settled).
bool BoundByOthers(const SettingRow& row);

// The checks a row makes of its own value in `given`, before any other
// setting is settled: CheckNumber for numbers, an enum that holds none of
// its enumerators, a list too long, not finite or not rising strictly.
// Throws SettingError naming the row.
void CheckOwnValue(const SettingRow& row, const Settings& given);

// Settle's check of a number against the row's range, bounds taken from
// other settings included (evaluated on `settled`, whose rows above this
// one are settled): SettingError naming the row when it lies outside. A 0
// of an Unset row passes.
void CheckRange(const SettingRow& row, double value, const Settings& settled);

// `value` clamped into the row's range, the floor first and then the cap,
// as the dialogue settles its answers (a cap below the floor wins).
double ClampToRange(const SettingRow& row, double value,
                    const Settings& settled);

// The standard method replaces a value left at the described default with
// its textbook one, so such a value given by the user (the names in
// `given`) would be lost without a word: refused, naming its row, when `s`
// asks for the standard method.
void CheckGivenUnderMethod(const Settings& s,
                           std::span<const std::string> given);

// The value of a row in `settings` (or `file`) as text: the shortest
// round-trip number, "true"/"false", a word, items separated by commas.
std::string ValueText(const SettingRow& row, const Settings& settings,
                      const FileOptions& file = {});

}  // namespace mfwindow
