#include "series/series_input.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <system_error>
#include <utility>

#include "series/npy_header.h"
#include "textio/free_read.h"
#include "textio/full_precision.h"
#include "textio/numeric_token.h"
#include "textio/records.h"

namespace series {
namespace {

constexpr textio::RecordRules kSeriesRecordRules{true, true};

// "NaN", "inf" or "-inf".
const char* NonFiniteWord(double value) {
  if (std::isnan(value)) return "NaN";
  return value > 0 ? "inf" : "-inf";
}

bool IsBlank(std::string_view record) {
  return record.find_first_not_of(" \t\r") == std::string_view::npos;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += textio::VisibleExcerpt(text);
  quoted += '"';
  return quoted;
}

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

std::string LinePlace(const std::string& name, std::uint64_t line) {
  return name + ":" + std::to_string(line);
}

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

// Whether the first record that is not blank, split into `fields`, is the
// header row: always with --header yes or a column chosen by name; with
// auto when one of its fields names a column. The whole row tells, not the
// chosen field alone: a header may name the chosen column by a number, and
// that field of a data row may be a spreadsheet error.
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

// The position (from 0) of the field named `name` in `fields`, or
// fields.size().
std::size_t FieldNamed(const std::vector<std::string>& fields,
                       std::string_view name) {
  return static_cast<std::size_t>(
      std::find(fields.begin(), fields.end(), name) - fields.begin());
}

// A column chosen by name that the header row at `place` does not hold.
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

// Text: one sample per record, the first value of the record or one column
// of delimited fields.
class TextSampleReader final : public SampleReader {
 public:
  TextSampleReader(std::istream& in, std::string name,
                   const InputOptions& options)
      : SampleReader(options.OnBadSample),
        reader_(in, kSeriesRecordRules),
        name_(std::move(name)),
        options_(options) {
    if (options_.Column) column_ = *options_.Column;
    if (options_.BatchHints) LookAtTheStart();
  }

  std::optional<double> Read() override {
    for (;;) {
      textio::RecordReader::Status status = pending_;
      if (have_pending_) {
        have_pending_ = false;
      } else {
        status = reader_.Next(record_);
      }
      if (status == textio::RecordReader::Status::kEndOfInput) {
        return std::nullopt;  // blank records at the end name no sample
      }
      if (status == textio::RecordReader::Status::kDeviceError) {
        // Nothing after this point can be read, whatever the policy.
        BadRecord broken{LinePlace(name_, reader_.RecordsRead() + 1),
                         "the file cannot be read further (read error)"};
        if (Policy() == BadSamplePolicy::kError) {
          throw BadSeriesInput(broken.Text(), false);
        }
        summary_.EndedAt = std::move(broken);
        return std::nullopt;
      }
      const std::uint64_t line = reader_.RecordsRead();
      if (IsBlank(record_)) {
        if (!options_.BlankRecordsPassOver && seen_record_) {
          if (blank_run_ == 0) blank_from_ = line;
          ++blank_run_;
        }
        continue;
      }
      if (options_.Delimited && !started_) {
        started_ = true;
        if (TakeHeader(line)) {
          seen_record_ = true;
          continue;
        }
      }
      seen_record_ = true;
      if (blank_run_ > 0) {
        const std::int64_t blanks = blank_run_;
        blank_run_ = 0;
        const std::string problem =
            blanks == 1
                ? "empty line (a missing sample)"
                : std::to_string(blanks) + " empty lines (missing samples)";
        if (!Bad(BadRecord{LinePlace(name_, blank_from_), problem}, blanks)) {
          return std::nullopt;
        }
      }
      std::optional<BadRecord> bad;
      double value = 0.0;
      if (options_.Delimited) {
        bad = FieldValue(line, value);
      } else {
        bad = FirstValue(line, value);
      }
      if (!bad) {
        seen_value_ = true;
        ++summary_.Samples;
        return value;
      }
      if (!Bad(std::move(*bad))) return std::nullopt;
    }
  }

 private:
  // Reads up to the first record that is not blank, before any result file
  // is opened, so that what cannot work fails before an earlier run's
  // results are touched: a column that is not there, a header row read as
  // a number. That record waits for Next (unless it is the header).
  void LookAtTheStart() {
    do {
      pending_ = reader_.Next(record_);
    } while (pending_ == textio::RecordReader::Status::kRecord &&
             IsBlank(record_));
    have_pending_ = true;
    if (pending_ != textio::RecordReader::Status::kRecord) return;
    const std::uint64_t line = reader_.RecordsRead();
    if (options_.Delimited) {
      started_ = true;
      if (TakeHeader(line)) {
        seen_record_ = true;
        have_pending_ = false;
      }
      return;
    }
    double ignored = 0.0;
    const std::optional<BadRecord> bad = FirstValue(line, ignored);
    if (bad && bad->LooksDelimited && Policy() == BadSamplePolicy::kError) {
      throw BadSeriesInput(bad->Text(), false);
    }
  }

  // The first value of the record, as mfwindow reads it.
  std::optional<BadRecord> FirstValue(std::uint64_t line, double& value) {
    const textio::FirstValue first = textio::ReadFirstValue(record_, value);
    if (first.Kind != textio::FirstValueKind::kValue) {
      std::string problem = "not a number: " + Quoted(record_);
      const textio::FieldSeparator separator = textio::GuessSeparator(record_);
      const bool delimited = options_.BatchHints && !seen_value_ &&
                             first.Kind == textio::FirstValueKind::kError &&
                             separator != textio::FieldSeparator::kWhitespace;
      if (delimited) {
        textio::SplitFields(record_, separator, fields_, 1);
        double ignored = 0.0;
        problem += textio::detail::ConvertToken(fields_.front(), ignored)
                       ? " (a header row? choose a column with --column, by "
                         "number or by name)"
                       : " (" + SeparatorName(separator) +
                             "-separated fields? choose a column with "
                             "--column)";
      }
      return BadRecord{LinePlace(name_, line), std::move(problem), delimited};
    }
    if (options_.BatchHints && !extra_checked_) {
      extra_checked_ = true;
      const std::string_view rest =
          std::string_view(record_).substr(first.Rest);
      if (rest.find_first_not_of(" \t\r,") != std::string_view::npos) {
        summary_.Warnings.push_back(
            LinePlace(name_, line) +
            ": the line holds more than one value; only the first value of "
            "each line is analysed (choose a column with --column)");
      }
    }
    return std::nullopt;
  }

  // Settles the separator and the column on the first record that is not
  // blank, and says whether that record is the header.
  bool TakeHeader(std::uint64_t line) {
    separator_ = options_.Separator ? *options_.Separator
                                    : textio::GuessSeparator(record_);
    textio::SplitFields(record_, separator_, fields_);
    const bool header = IsHeaderRow(fields_, options_);
    if (column_.Index == 0) {
      const std::size_t found = FieldNamed(fields_, column_.Name);
      if (found == fields_.size()) {
        NoColumnNamed(LinePlace(name_, line), column_.Name, fields_,
                      separator_);
      }
      column_.Index = static_cast<std::int32_t>(found + 1);
    }
    const auto at = static_cast<std::size_t>(column_.Index - 1);
    label_ = "column " + std::to_string(column_.Index);
    if (at >= fields_.size()) {
      // No line can have the column if the first has not: a failure of the
      // run's settings, whatever the policy for bad samples.
      throw BadSeriesInput(
          LinePlace(name_, line) + ": no " + label_ + ": the first line has " +
              std::to_string(fields_.size()) +
              (fields_.size() == 1 ? " field (" : " fields (") +
              SeparatorName(separator_) + "-separated): " + Quoted(record_),
          false);
    }
    if (header && at < fields_.size() && !fields_[at].empty()) {
      label_ += " (" + textio::VisibleExcerpt(fields_[at]) + ")";
    }
    return header;
  }

  // The chosen field of the record.
  std::optional<BadRecord> FieldValue(std::uint64_t line, double& value) {
    const auto at = static_cast<std::size_t>(column_.Index - 1);
    textio::SplitFields(record_, separator_, fields_, at + 1);
    if (fields_.size() <= at) {
      return BadRecord{LinePlace(name_, line),
                       "no " + label_ + " (the line has " +
                           std::to_string(fields_.size()) +
                           (fields_.size() == 1 ? " field" : " fields") +
                           "): " + Quoted(record_)};
    }
    const std::string& field = fields_[at];
    if (field.empty()) {
      return BadRecord{LinePlace(name_, line), label_ + " is empty"};
    }
    if (textio::detail::ConvertToken(field, value)) {
      return BadRecord{LinePlace(name_, line),
                       label_ + " is not a number: " + Quoted(field)};
    }
    return std::nullopt;
  }

  textio::RecordReader reader_;
  std::string name_;
  InputOptions options_;
  std::string record_;
  // A record read ahead by LookAtTheStart, with the status of that read.
  bool have_pending_ = false;
  textio::RecordReader::Status pending_ =
      textio::RecordReader::Status::kEndOfInput;
  bool seen_record_ = false;      // a record that is not blank came already
  std::int64_t blank_run_ = 0;    // blank records since the last such record
  std::uint64_t blank_from_ = 0;  // the line of the first of them
  bool extra_checked_ = false;
  bool seen_value_ = false;  // a sample was read already
  // Delimited text.
  bool started_ = false;
  ColumnChoice column_;
  textio::FieldSeparator separator_ = textio::FieldSeparator::kComma;
  std::vector<std::string> fields_;
  std::string label_;
};

// One element of a .npy array as a double.
double DecodeElement(const NpyLayout& layout, const char* bytes) {
  std::uint64_t bits = 0;
  for (int i = layout.ItemSize - 1; i >= 0; --i) {
    bits = (bits << 8U) | static_cast<unsigned char>(bytes[i]);
  }
  const unsigned width = 8U * static_cast<unsigned>(layout.ItemSize);
  switch (layout.Element) {
    case NpyLayout::Kind::kFloat:
      if (layout.ItemSize == 4) {
        return static_cast<double>(
            std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
      }
      return std::bit_cast<double>(bits);
    case NpyLayout::Kind::kSigned:
      if (width < 64 && (bits >> (width - 1)) != 0) {
        bits |= ~std::uint64_t{0} << width;  // sign extension
      }
      return static_cast<double>(std::bit_cast<std::int64_t>(bits));
    case NpyLayout::Kind::kUnsigned:
      break;
  }
  return static_cast<double>(bits);
}

// A .npy array: 1-D, or one column of a 2-D array, read in order without
// seeking (so standard input serves as well).
class NpySampleReader final : public SampleReader {
 public:
  NpySampleReader(std::istream& in, std::string name,
                  const InputOptions& options)
      : SampleReader(options.OnBadSample), in_(in), name_(std::move(name)) {
    const NpyHeader header = ReadNpyHeader(in_);
    if (!header.Layout)
      throw BadSeriesInput(name_ + ": " + header.Error, false);
    layout_ = *header.Layout;
    const std::vector<std::uint64_t>& shape = layout_.Shape;
    if (shape.empty() || shape.size() > 2) {
      throw BadSeriesInput(name_ + ": a .npy array of " +
                               std::to_string(shape.size()) +
                               " dimensions; one series is a 1-D array, or a "
                               "column of a 2-D one",
                           false);
    }
    rows_ = shape[0];
    const std::uint64_t columns = shape.size() == 2 ? shape[1] : 1;
    two_d_ = shape.size() == 2;
    if (options.Column && options.Column->Index == 0) {
      throw BadSeriesInput(name_ +
                               ": a .npy array has no column names; "
                               "choose its column by number",
                           false);
    }
    if (options.Column) {
      column_ = static_cast<std::uint64_t>(options.Column->Index - 1);
    } else if (columns != 1) {
      throw BadSeriesInput(name_ + ": a 2-D .npy array of " +
                               std::to_string(columns) +
                               " columns; choose one with --column",
                           false);
    }
    if (column_ >= columns) {
      throw BadSeriesInput(
          name_ + ": no column " + std::to_string(column_ + 1) +
              " in a .npy array of " + std::to_string(columns) + " column" +
              (columns == 1 ? "" : "s"),
          false);
    }
    const auto item = static_cast<std::uint64_t>(layout_.ItemSize);
    if (layout_.FortranOrder || columns == 1) {
      // The column lies in one piece, after the columns before it.
      skip_before_ = column_ * rows_ * item;
      stride_ = item;
    } else {
      skip_before_ = column_ * item;
      stride_ = columns * item;
    }
    item_ = item;
  }

  std::optional<double> Read() override {
    for (;;) {
      if (row_ == rows_) return std::nullopt;
      if (row_ == 0 && skip_before_ > 0) Skip(skip_before_);
      // Element row_ of the column, then whatever lies before the next.
      std::array<char, 8> bytes{};
      if (!in_.read(bytes.data(), static_cast<std::streamsize>(item_))) {
        Truncated();
      }
      if (stride_ > item_ && row_ + 1 < rows_) Skip(stride_ - item_);
      const double value = DecodeElement(layout_, bytes.data());
      const std::uint64_t index = row_++;
      if (std::isfinite(value)) {
        ++summary_.Samples;
        return value;
      }
      std::string place = name_ + "[" + std::to_string(index);
      if (two_d_) place += ", " + std::to_string(column_);
      place += "]";
      if (!Bad(BadRecord{std::move(place), std::string("not a number: ") +
                                               NonFiniteWord(value)})) {
        return std::nullopt;
      }
    }
  }

 private:
  void Skip(std::uint64_t bytes) {
    in_.ignore(static_cast<std::streamsize>(bytes));
    if (static_cast<std::uint64_t>(in_.gcount()) != bytes) Truncated();
  }

  [[noreturn]] void Truncated() {
    throw BadSeriesInput(name_ + ": the file ends inside the array, after " +
                             std::to_string(row_) + " of " +
                             std::to_string(rows_) + " values",
                         false);
  }

  std::istream& in_;
  std::string name_;
  NpyLayout layout_;
  bool two_d_ = false;
  std::uint64_t rows_ = 0;
  std::uint64_t column_ = 0;
  std::uint64_t skip_before_ = 0;
  std::uint64_t stride_ = 8;
  std::uint64_t item_ = 8;
  std::uint64_t row_ = 0;
};

}  // namespace

namespace {

// The fields of the first record that is not blank, split as the series
// will be; nullopt when there is none.
std::optional<std::vector<std::string>> FirstRowFields(
    std::istream& in, const InputOptions& options) {
  textio::RecordReader reader(in, kSeriesRecordRules);
  std::string record;
  while (reader.Next(record) == textio::RecordReader::Status::kRecord) {
    if (IsBlank(record)) continue;
    std::vector<std::string> fields;
    textio::SplitFields(
        record,
        options.Separator ? *options.Separator : textio::GuessSeparator(record),
        fields);
    return fields;
  }
  return std::nullopt;
}

}  // namespace

InputOptions MfwindowInput() { return InputOptions{}; }

InputOptions BatchInput() {
  InputOptions input;
  input.OnBadSample = BadSamplePolicy::kError;
  input.BlankRecordsPassOver = false;
  input.BatchHints = true;
  input.AcceptNpy = true;
  return input;
}

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

std::optional<std::string> ChooseFields(std::string_view column,
                                        std::string_view header,
                                        std::string_view delimiter,
                                        std::string_view flag_prefix,
                                        InputOptions& input) {
  const std::string prefix(flag_prefix);
  if (!column.empty()) {
    input.Column = ParseColumn(column);
    if (!input.Column) {
      return prefix +
             "column: expected a number from 1 or a column name, "
             "got \"" +
             std::string(column) + "\"";
    }
    if (input.Column->Index == 0 && header == "no") {
      return prefix +
             "column: a column chosen by name needs a header row, "
             "not " +
             prefix + "header no";
    }
  }
  if (header.empty() || header == "auto") {
    input.Header = HeaderMode::kAuto;
  } else if (header == "yes") {
    input.Header = HeaderMode::kYes;
  } else if (header == "no") {
    input.Header = HeaderMode::kNo;
  } else {
    return prefix + "header: expected auto, yes or no, got \"" +
           std::string(header) + "\"";
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
    return prefix +
           "delimiter: expected auto, comma, semicolon, tab or "
           "whitespace, got \"" +
           std::string(delimiter) + "\"";
  }
  input.Delimited = !column.empty() || !header.empty() || !delimiter.empty();
  return std::nullopt;
}

std::optional<std::string> ChooseTimeColumn(std::string_view time_column,
                                            std::string_view flag_prefix,
                                            InputOptions& input) {
  const std::string prefix(flag_prefix);
  input.TimeColumn = ParseColumn(time_column);
  if (!input.TimeColumn) {
    return prefix +
           "time-column: expected a number from 1 or a column name, got \"" +
           std::string(time_column) + "\"";
  }
  if (input.TimeColumn->Index == 0 && input.Header == HeaderMode::kNo) {
    return prefix + "time-column: a column chosen by name needs a header " +
           "row, not " + prefix + "header no";
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
  const std::size_t found = FieldNamed(*fields, column.Name);
  return found == fields->size() ? 0 : static_cast<std::int32_t>(found + 1);
}

namespace {

// The digits text[from, from + count) as a number, or -1.
int Digits(std::string_view text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian
// calendar (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = year / 400;  // years from 1900 on: never negative
  const int yoe = year - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return std::int64_t{era} * 146097 + doe - 719468;
}

// A duration of nanoseconds in seconds, exactly: "0.004", "86400".
std::string SecondsText(std::int64_t ns) {
  constexpr std::int64_t kSecond = 1000000000;
  std::string text = std::to_string(ns / kSecond);
  std::string fraction = std::to_string(kSecond + ns % kSecond).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

// The parts, one after another.
std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text += part;
  return text;
}

}  // namespace

std::optional<std::int64_t> ParseIsoStamp(std::string_view text) {
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
      text[16] != ':' || year < 1900 || year > 2100 || month < 1 ||
      month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30,
                                       31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (day > kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
    return std::nullopt;
  }
  std::size_t at = 19;
  std::int64_t nanos = 0;
  if (at < text.size() && text[at] == '.') {
    std::int64_t scale = 100000000;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      if (scale == 0) return std::nullopt;  // finer than a nanosecond
      nanos += (text[at] - '0') * scale;
      scale /= 10;
    }
    if (scale == 100000000) return std::nullopt;  // a point without digits
  }
  std::int64_t offset_minutes = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int hours = Digits(text, at + 1, 2);
    const int minutes = Digits(text, at + 4, 2);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 ||
        text[at + 3] != ':') {
      return std::nullopt;
    }
    offset_minutes = (text[at] == '-' ? -1 : 1) * (hours * 60 + minutes);
    at += 6;
  }
  if (at != text.size()) return std::nullopt;
  const std::int64_t seconds = DaysFromCivil(year, month, day) * 86400 +
                               hour * 3600 + minute * 60 + second -
                               offset_minutes * 60;
  return seconds * 1000000000 + nanos;
}

TimeAxis ReadTimeAxis(std::istream& in, const std::string& name,
                      const InputOptions& options) {
  assert(options.TimeColumn);
  if (options.AcceptNpy && in.peek() == 0x93) {
    throw BadSeriesInput(
        name +
            ": a .npy array has no time column; time stamps are read "
            "from delimited text",
        false);
  }
  textio::RecordReader reader(in, kSeriesRecordRules);
  std::string record;
  std::vector<std::string> fields;
  textio::FieldSeparator separator = textio::FieldSeparator::kComma;
  std::size_t at = 0;  // the time column, from 0
  std::string label;
  bool started = false;
  std::int64_t blank_run = 0;
  std::uint64_t blank_from = 0;
  bool iso = false;
  double first = 0.0;
  double last = 0.0;
  double step = 0.0;  // the first step
  std::int64_t last_ns = 0;
  std::int64_t step_ns = 0;
  std::string last_text;
  TimeAxis axis;
  for (;;) {
    const textio::RecordReader::Status status = reader.Next(record);
    if (status == textio::RecordReader::Status::kEndOfInput) break;
    const std::string place = LinePlace(name, reader.RecordsRead());
    if (status == textio::RecordReader::Status::kDeviceError) {
      throw BadSeriesInput(place +
                               ": the file cannot be read further (read "
                               "error)",
                           false);
    }
    if (IsBlank(record)) {
      if (started && !options.BlankRecordsPassOver) {
        if (blank_run++ == 0) blank_from = reader.RecordsRead();
      }
      continue;
    }
    if (blank_run > 0) {
      throw BadSeriesInput(
          LinePlace(name, blank_from) + ": an empty line has no time stamp",
          false);
    }
    if (!started) {
      started = true;
      separator = options.Separator ? *options.Separator
                                    : textio::GuessSeparator(record);
      textio::SplitFields(record, separator, fields);
      const auto index_of = [&](const ColumnChoice& column) {
        if (column.Index > 0) return static_cast<std::size_t>(column.Index - 1);
        const std::size_t found = FieldNamed(fields, column.Name);
        if (found == fields.size()) {
          NoColumnNamed(place, column.Name, fields, separator);
        }
        return found;
      };
      at = index_of(*options.TimeColumn);
      label = "column " + std::to_string(at + 1);
      if (at >= fields.size()) {
        throw BadSeriesInput(
            Joined({place, ": no time ", label, ": the first line has ",
                    std::to_string(fields.size()), " fields"}),
            false);
      }
      if (index_of(options.Column.value_or(ColumnChoice{})) == at) {
        throw BadSeriesInput(Joined({place, ": ", label,
                                     " is the time column; choose the "
                                     "series' column with --column"}),
                             false);
      }
      if (IsHeaderRow(fields, options)) continue;
    }
    textio::SplitFields(record, separator, fields, at + 1);
    if (fields.size() <= at || fields[at].empty()) {
      throw BadSeriesInput(
          Joined({place, ": no time stamp (", label, " is ",
                  fields.size() <= at ? "missing)" : "empty)"}),
          false);
    }
    const std::string& text = fields[at];
    double value = 0.0;
    const bool number =
        !textio::detail::ConvertToken(text, value) && std::isfinite(value);
    const std::optional<std::int64_t> ns =
        number ? std::nullopt : ParseIsoStamp(text);
    if (axis.Stamps == 0) iso = ns.has_value();
    const std::int64_t stamp_ns = ns.value_or(0);
    if (iso ? !ns : !number) {
      constexpr std::string_view kIso =
          "an ISO 8601 date-time (YYYY-MM-DDThh:mm:ss[.f][Z])";
      throw BadSeriesInput(
          Joined({place, ": the time stamp ", Quoted(text),
                  axis.Stamps == 0 ? " is neither a number nor " : " is not ",
                  axis.Stamps == 0 || iso ? kIso : "a number",
                  axis.Stamps == 0 ? "" : " as the first stamp is"}),
          false);
    }
    std::string problem;
    std::string expected;
    std::string got;
    if (iso) {
      const std::int64_t now = stamp_ns - last_ns;
      if (axis.Stamps > 0 && now <= 0) {
        problem = "do not rise";
      } else if (axis.Stamps == 1) {
        step_ns = now;
      } else if (axis.Stamps > 1 && now != step_ns) {
        problem = "step unevenly";
        got = SecondsText(now) + " s";
        expected = SecondsText(step_ns) + " s";
      }
      last_ns = stamp_ns;
    } else {
      const double now = value - last;
      if (axis.Stamps == 0) {
        first = value;
      } else if (!(now > 0.0)) {
        problem = "do not rise";
      } else if (axis.Stamps == 1) {
        step = now;
      } else {
        // 1e-9 of the step, and the rounding of two steps' four stamps
        // to doubles, which the largest of them bounds.
        const double largest = std::max(std::abs(first), std::abs(value));
        const double tolerance =
            1e-9 * step +
            4.0 * std::numeric_limits<double>::epsilon() * largest;
        if (std::abs(now - step) > tolerance) {
          problem = "step unevenly";
          got = textio::FormatShortest(now);
          expected = textio::FormatShortest(step);
        }
      }
      last = value;
    }
    if (!problem.empty()) {
      throw BadSeriesInput(
          Joined({place, ": the time stamps ", problem, ": ", Quoted(last_text),
                  " to ", Quoted(text), got.empty() ? "" : " (step ", got,
                  got.empty() ? "" : ", expected ", expected,
                  got.empty() ? "" : ")"}),
          false);
    }
    if (axis.Stamps == 0) {
      axis.Origin = text;
      axis.OriginNs = stamp_ns;
    }
    last_text = text;
    ++axis.Stamps;
  }
  if (axis.Stamps < 2) {
    axis.Origin.clear();
    return axis;
  }
  const auto steps = static_cast<double>(axis.Stamps - 1);
  if (iso) {
    // Exact steps: the first is every step.
    axis.Tstep = static_cast<double>(step_ns) / 1e9;
    axis.Tini = -axis.Tstep;
  } else {
    axis.Tstep = (last - first) / steps;
    axis.Tini = first - axis.Tstep;
    axis.Origin.clear();
  }
  return axis;
}

bool SampleReader::Bad(BadRecord record, std::int64_t count) {
  switch (policy_) {
    case BadSamplePolicy::kError:
      throw BadSeriesInput(record.Text(), !record.LooksDelimited, record.Index);
    case BadSamplePolicy::kStop:
      summary_.EndedAt = std::move(record);
      return false;
    case BadSamplePolicy::kMask:
      summary_.Masked += count;
      gaps_ += count;
      if (!summary_.FirstSkipped) summary_.FirstSkipped = std::move(record);
      return true;
    case BadSamplePolicy::kSkip:
      break;
  }
  summary_.Skipped += count;
  if (!summary_.FirstSkipped) summary_.FirstSkipped = std::move(record);
  return true;
}

std::optional<double> SampleReader::Next() {
  if (gaps_ == 0) {
    if (held_) return std::exchange(held_, std::nullopt);
    if (ended_) return std::nullopt;
    std::optional<double> sample = Read();
    if (gaps_ == 0) return sample;
    held_ = sample;  // the gaps before it come first
    ended_ = !sample;
  }
  --gaps_;
  return std::numeric_limits<double>::quiet_NaN();
}

ArraySampleReader::ArraySampleReader(std::span<const double> values,
                                     const std::string& name,
                                     BadSamplePolicy policy)
    : SampleReader(policy), values_(values), end_(values.size()) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double value = values[i];
    if (std::isfinite(value)) {
      ++length_;
      continue;
    }
    BadRecord record{name + "[" + std::to_string(i) + "]",
                     std::string("not a number: ") + NonFiniteWord(value)};
    record.Index = static_cast<std::int64_t>(i);
    if (!Bad(std::move(record))) {
      end_ = i;
      break;
    }
    if (Policy() == BadSamplePolicy::kMask) ++length_;
  }
  // The gaps stand in the array itself: Read hands each out in its place.
  HandGapsOutInPlace();
}

std::optional<double> ArraySampleReader::Read() {
  // Before end_, a value that is not finite was skipped or masked.
  while (next_ < end_) {
    const double value = values_[next_++];
    if (std::isfinite(value)) {
      ++summary_.Samples;
      return value;
    }
    if (Policy() == BadSamplePolicy::kMask) {
      return std::numeric_limits<double>::quiet_NaN();
    }
  }
  return std::nullopt;
}

std::unique_ptr<SampleReader> MakeSampleReader(std::istream& in,
                                               std::string name,
                                               const InputOptions& options) {
  if (options.AcceptNpy) {
    std::streambuf* const buffer = in.rdbuf();
    if (buffer != nullptr && buffer->sgetc() == 0x93) {
      return std::make_unique<NpySampleReader>(in, std::move(name), options);
    }
  }
  return std::make_unique<TextSampleReader>(in, std::move(name), options);
}

}  // namespace series
