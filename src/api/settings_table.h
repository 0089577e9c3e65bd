// The settings of an analysis, one row each: the one place that names them
// for every front end. mfwindow-batch makes its flags and their help from
// these rows, the Python module its keywords, defaults, type checks and
// docstring lines, and Settle names a refused setting by its row. The
// defaults are those of mfwindow::Settings itself, read through the rows.
// Adding a setting: a member of Settings, a row here, and its effect.
#pragma once

#include <cstdint>
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
};

// A word setting's value as the index of its word (the enum's value).
struct WordMember {
  int (*Get)(const Settings&);
  void (*Set)(Settings&, int);
};

using SettingMember =
    std::variant<std::int32_t Settings::*, double Settings::*, bool Settings::*,
                 std::vector<double> Settings::*, std::uint64_t Settings::*,
                 WordMember>;

struct SettingRow {
  // The setting's name: SettingError::Which(), and the key of the Python
  // module's settings.
  std::string_view Name;
  // The keyword of mfwindow.analyse that sets it (fit_min and fit_max share
  // fit_range); empty: none.
  std::string_view Keyword;
  std::string_view Flag;   // mfwindow-batch's flag; empty: none
  std::string_view Field;  // the member of mfwindow::Settings
  SettingType Type = SettingType::kCount;
  // What is allowed, in words ("1..10, clamped"); empty: any value of the
  // type.
  std::string_view Range;
  std::span<const std::string_view> Words;  // kWord: indexed by the enum
  std::string_view Help;                    // one sentence
  SettingMember Member;
};

// Every setting, in the order the front ends list them.
std::span<const SettingRow> SettingRows();

// The row named `name`, or nullptr.
const SettingRow* FindSetting(std::string_view name);

// The row of a setting that settling may clamp.
const SettingRow& RowOf(Setting which);

// The default of a row, as a default Settings holds it, in the words the
// batch tool's help writes it: "2", "-10", "false", "range", "" (an empty
// list).
std::string DefaultText(const SettingRow& row);

// A refusal's text with the setting named as a front end names it (`name`:
// a flag, a keyword): "Tstep must be greater than 0" becomes "--tstep must
// be greater than 0" when the text starts with the row's Field, and any
// other text is prefixed, "max_scale: the largest scale ...".
std::string Reworded(const SettingRow& row, std::string_view name,
                     const std::string& text);

// The index of `word` among the row's Words, or -1.
int WordIndex(const SettingRow& row, std::string_view word);

// The refusal of `row`'s value: SettingError with the row's name and
// `text`.
[[noreturn]] void Refuse(const SettingRow& row, const std::string& text);

}  // namespace mfwindow
