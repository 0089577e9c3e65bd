#include "series/series_input.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "series/npy_header.h"
#include "textio/free_read.h"
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
    bool header = options_.Header == HeaderMode::kYes;
    if (column_.Index == 0) {  // by name: there must be a header
      header = true;
      std::size_t found = fields_.size();
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i] == column_.Name) {
          found = i;
          break;
        }
      }
      if (found == fields_.size()) {
        std::string guess;
        for (const std::string& field : fields_) {
          if (SameIgnoringCase(field, column_.Name)) {
            guess = " (did you mean " + Quoted(field) + "?)";
          }
        }
        std::string names;
        for (std::size_t i = 0; i < fields_.size() && i < 12; ++i) {
          names += (i == 0 ? "" : ", ") + Quoted(fields_[i]);
        }
        if (fields_.size() > 12) names += ", ...";
        throw BadSeriesInput(
            LinePlace(name_, line) + ": no column named " +
                Quoted(column_.Name) + guess + " in the header row (" +
                std::to_string(fields_.size()) +
                (fields_.size() == 1 ? " field, " : " fields, ") +
                SeparatorName(separator_) + "-separated: " + names + ")",
            false);
      }
      column_.Index = static_cast<std::int32_t>(found + 1);
    } else if (options_.Header == HeaderMode::kAuto) {
      // The whole row tells, not the chosen field alone: a header may
      // name the chosen column by a number, and that field of a data row
      // may be a spreadsheet error.
      header = std::any_of(fields_.begin(), fields_.end(), NamesAColumn);
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
  textio::RecordReader reader(in, kSeriesRecordRules);
  std::string record;
  while (reader.Next(record) == textio::RecordReader::Status::kRecord) {
    if (IsBlank(record)) continue;
    std::vector<std::string> fields;
    textio::SplitFields(
        record,
        options.Separator ? *options.Separator : textio::GuessSeparator(record),
        fields);
    return static_cast<std::int32_t>(fields.size());
  }
  return 0;
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
