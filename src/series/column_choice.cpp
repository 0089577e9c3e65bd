#include "series/column_choice.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

#include "series/npy_header.h"
#include "textio/numeric_token.h"
#include "textio/records.h"

namespace series {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A spreadsheet's error value ("#DIV/0!", "#N/A"): a cell whose formula
// failed, a missing sample rather than a column name.
bool IsSpreadsheetError(std::string_view field) {
  static constexpr std::string_view kErrors[] = {
      "#N/A",  "#DIV/0!", "#VALUE!", "#REF!",  "#NAME?",
      "#NUM!", "#NULL!",  "#SPILL!", "#CALC!", "#GETTING_DATA"};
  return std::find(std::begin(kErrors), std::end(kErrors), field) !=
         std::end(kErrors);
}

// Whether a field of a first row marks it as a header: a word, not a
// number, a missing-value spelling or a spreadsheet error, and not
// starting with a digit (a date or a time of day is data).
bool NamesAColumn(const std::string& field) {
  double ignored = 0.0;
  if (field.empty() || textio::IsMissingValueSpelling(field) ||
      IsSpreadsheetError(field) ||
      !textio::detail::ConvertToken(field, ignored).has_value()) {
    return false;
  }
  const std::size_t lead = field.find_first_not_of("+-.");
  return lead == std::string::npos ||
         std::isdigit(static_cast<unsigned char>(field[lead])) == 0;
}

// The fields of the first record that is not blank, split as the series
// will be; nullopt when there is none.
std::optional<std::vector<std::string>> FirstRowFields(
    std::istream& in, const InputOptions& options) {
  textio::RecordReader reader(in, detail::kSeriesRecordRules);
  std::string record;
  while (reader.Next(record) == textio::RecordReader::Status::kRecord) {
    if (detail::IsBlank(record)) continue;
    std::vector<std::string> fields;
    textio::SplitFields(
        record,
        options.Separator ? *options.Separator : textio::GuessSeparator(record),
        fields);
    return fields;
  }
  return std::nullopt;
}

// The rule a column option's text breaks when it is no column.
constexpr std::string_view kColumnRule =
    "must be a number from 1 or a column name";
// The rule a column chosen by name breaks when there is no header row.
constexpr std::string_view kNameNeedsHeader =
    "chosen by name needs a header row: header is no";

// `option` refused for breaking `rule`, its text `value` quoted as given.
OptionProblem Refused(std::string_view option, std::string_view rule,
                      std::string_view value) {
  std::string quoted(1, '"');
  quoted.append(value);
  quoted += '"';
  return OptionProblem{std::string(option), std::string(rule),
                       std::move(quoted)};
}

}  // namespace

namespace detail {

std::string SeparatorName(textio::FieldSeparator separator) {
  switch (separator) {
    case textio::FieldSeparator::kComma:
      return "comma";
    case textio::FieldSeparator::kSemicolon:
      return "semicolon";
    case textio::FieldSeparator::kTab:
      return "tab";
    case textio::FieldSeparator::kWhitespace:
      break;
  }
  return "blanks";
}

// The whole row tells, not the chosen field alone: a header may name the
// chosen column by a number, and that field of a data row may be a
// spreadsheet error.
bool IsHeaderRow(const std::vector<std::string>& fields,
                 const InputOptions& options) {
  const auto by_name = [](const std::optional<ColumnChoice>& column) {
    return column && column->Index == 0;
  };
  if (options.Header == HeaderMode::kYes || by_name(options.Column) ||
      by_name(options.TimeColumn)) {
    return true;
  }
  return options.Header == HeaderMode::kAuto &&
         std::any_of(fields.begin(), fields.end(), NamesAColumn);
}

std::size_t FieldNamed(const std::vector<std::string>& fields,
                       std::string_view name) {
  return static_cast<std::size_t>(
      std::find(fields.begin(), fields.end(), name) - fields.begin());
}

[[noreturn]] void NoColumnNamed(const std::string& place,
                                const std::string& name,
                                const std::vector<std::string>& fields,
                                textio::FieldSeparator separator) {
  std::string guess;
  for (const std::string& field : fields) {
    if (SameIgnoringCase(field, name)) {
      guess = " (did you mean " + Quoted(field) + "?)";
    }
  }
  std::string names;
  for (std::size_t i = 0; i < fields.size() && i < 12; ++i) {
    names += (i == 0 ? "" : ", ") + Quoted(fields[i]);
  }
  if (fields.size() > 12) names += ", ...";
  throw BadSeriesInput(
      place + ": no column named " + Quoted(name) + guess +
          " in the header row (" + std::to_string(fields.size()) +
          (fields.size() == 1 ? " field, " : " fields, ") +
          SeparatorName(separator) + "-separated: " + names + ")",
      false);
}

}  // namespace detail

std::int32_t CountColumns(std::istream& in, const InputOptions& options) {
  if (options.AcceptNpy && in.peek() == 0x93) {
    const NpyHeader header = ReadNpyHeader(in);
    if (!header.Layout || header.Layout->Shape.empty() ||
        header.Layout->Shape.size() > 2) {
      return 0;
    }
    const std::uint64_t columns =
        header.Layout->Shape.size() == 2 ? header.Layout->Shape[1] : 1;
    return static_cast<std::int32_t>(std::min<std::uint64_t>(
        columns, std::numeric_limits<std::int32_t>::max()));
  }
  const std::optional<std::vector<std::string>> fields =
      FirstRowFields(in, options);
  return fields ? static_cast<std::int32_t>(fields->size()) : 0;
}

std::optional<ColumnChoice> ParseColumn(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    std::int32_t index = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, index);
    if (ec != std::errc{} || ptr != end || index < 1) return std::nullopt;
    return ColumnChoice{index, ""};
  }
  return ColumnChoice{0, std::string(text)};
}

std::optional<OptionProblem> ChooseFields(std::string_view column,
                                          std::string_view header,
                                          std::string_view delimiter,
                                          InputOptions& input) {
  if (!column.empty()) {
    input.Column = ParseColumn(column);
    if (!input.Column) return Refused("column", kColumnRule, column);
    if (input.Column->Index == 0 && header == "no") {
      return OptionProblem{"column", std::string(kNameNeedsHeader), ""};
    }
  }
  if (header.empty() || header == "auto") {
    input.Header = HeaderMode::kAuto;
  } else if (header == "yes") {
    input.Header = HeaderMode::kYes;
  } else if (header == "no") {
    input.Header = HeaderMode::kNo;
  } else {
    return Refused("header", "must be auto, yes or no", header);
  }
  if (delimiter.empty() || delimiter == "auto") {
    input.Separator.reset();
  } else if (delimiter == "comma") {
    input.Separator = textio::FieldSeparator::kComma;
  } else if (delimiter == "semicolon") {
    input.Separator = textio::FieldSeparator::kSemicolon;
  } else if (delimiter == "tab") {
    input.Separator = textio::FieldSeparator::kTab;
  } else if (delimiter == "whitespace") {
    input.Separator = textio::FieldSeparator::kWhitespace;
  } else {
    return Refused("delimiter",
                   "must be auto, comma, semicolon, tab or whitespace",
                   delimiter);
  }
  input.Delimited = !column.empty() || !header.empty() || !delimiter.empty();
  return std::nullopt;
}

std::optional<OptionProblem> ChooseTimeColumn(std::string_view time_column,
                                              InputOptions& input,
                                              bool labels) {
  const std::string_view option = labels ? "time_labels" : "time_column";
  input.TimeColumn = ParseColumn(time_column);
  input.TimeLabels = labels;
  if (!input.TimeColumn) {
    return Refused(option, kColumnRule, time_column);
  }
  if (input.TimeColumn->Index == 0 && input.Header == HeaderMode::kNo) {
    return OptionProblem{std::string(option), std::string(kNameNeedsHeader),
                         ""};
  }
  input.Delimited = true;
  return std::nullopt;
}

std::int32_t FindColumn(std::istream& in, const InputOptions& options,
                        const ColumnChoice& column) {
  if (column.Index > 0) return column.Index;
  const std::optional<std::vector<std::string>> fields =
      FirstRowFields(in, options);
  if (!fields) return 0;
  const std::size_t found = detail::FieldNamed(*fields, column.Name);
  return found == fields->size() ? 0 : static_cast<std::int32_t>(found + 1);
}

}  // namespace series
