// Which column of delimited text (or of a 2-D .npy array) is the series,
// and which holds its time stamps: the file options' texts (column,
// header, delimiter, time_column) read into InputOptions, the columns of a
// file counted, a column named in the header row looked up, and the
// header row told from data.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "series/series_input.h"
#include "textio/fields.h"

namespace series {

// Why a file option cannot be used: the option by its name in the settings
// table ("column", "header", "delimiter", "time_column"), the rule it
// breaks as a phrase that follows the option's name ("must be a number
// from 1 or a column name", "chosen by name needs a header row: header is
// no"), and the value refused ("\"0\"", empty when none). Each front end
// words it with its own name for the option.
struct OptionProblem {
  std::string Option;
  std::string Rule;
  std::string Value;
};

// The columns of series input `in` as `options` read it: the fields of its
// first record that is not blank (split at the separator given, or the one
// guessed), or for a .npy array its second extent (1 for a 1-D array).
// Reads from `in`; 0 when it holds no record or no array that is read.
std::int32_t CountColumns(std::istream& in, const InputOptions& options);

// The column a column option's text names: a number from 1, or a name of
// the header row. std::nullopt for an empty text, 0, or a number beyond 32
// bits.
//   "3" -> {3, ""};  "Fz" -> {0, "Fz"};  "0", "" -> std::nullopt
std::optional<ColumnChoice> ParseColumn(std::string_view text);

// Sets the delimited reading of `input` from the texts of the options
// column, header (auto, yes, no) and delimiter (auto, comma, semicolon,
// tab, whitespace); an empty text is an option not given, and any one
// given turns on the delimited reading. Returns why they cannot be used:
// an unknown word, a column that is no number from 1 nor a name, a column
// by name with header no.
//   ChooseFields("0", "", "", input)
//     -> {"column", "must be a number from 1 or a column name", "\"0\""}
std::optional<OptionProblem> ChooseFields(std::string_view column,
                                          std::string_view header,
                                          std::string_view delimiter,
                                          InputOptions& input);

// Sets the time column of `input` from the text of the option time_column,
// or with `labels` of time_labels (InputOptions::TimeLabels): a number from
// 1 or a header name. Turns on the delimited reading. Returns why it cannot
// be used, as ChooseFields does, naming that option. Call it after
// ChooseFields, whose header setting it checks.
std::optional<OptionProblem> ChooseTimeColumn(std::string_view time_column,
                                              InputOptions& input,
                                              bool labels = false);

// The index (from 1) of the column `column` names in series input `in` as
// `options` read it: a number as it stands, a name looked up in the fields
// of the first record that is not blank. 0 when no field has the name.
std::int32_t FindColumn(std::istream& in, const InputOptions& options,
                        const ColumnChoice& column);

namespace detail {

// What the text reader and ReadTimeAxis share about the header row and
// the columns it names.

// "comma", "semicolon", "tab" or "blanks", as messages name a separator.
std::string SeparatorName(textio::FieldSeparator separator);

// Whether the first record that is not blank, split into `fields`, is the
// header row: always with header yes or a column (or time column) chosen
// by name; with auto when one of its fields names a column (a word, not a
// number, a missing-value spelling, a spreadsheet error such as "#DIV/0!",
// nor a field starting with a digit, as a date or a time of day does).
bool IsHeaderRow(const std::vector<std::string>& fields,
                 const InputOptions& options);

// The position (from 0) of the field named `name` in `fields`, or
// fields.size().
std::size_t FieldNamed(const std::vector<std::string>& fields,
                       std::string_view name);

// Throws BadSeriesInput for a column chosen by name that the header row at
// `place` (split at `separator` into `fields`) does not hold, naming up to
// 12 of its fields and one that differs from `name` only in case:
//   "s:1: no column named \"fz\" (did you mean \"Fz\"?) in the header row
//    (2 fields, comma-separated: \"time\", \"Fz\")"
[[noreturn]] void NoColumnNamed(const std::string& place,
                                const std::string& name,
                                const std::vector<std::string>& fields,
                                textio::FieldSeparator separator);

}  // namespace detail
}  // namespace series
