#include "series/text_reader.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "series/column_choice.h"
#include "textio/fields.h"
#include "textio/free_read.h"
#include "textio/numeric_token.h"
#include "textio/records.h"

namespace series {
namespace {

using detail::FieldNamed;
using detail::IsBlank;
using detail::IsHeaderRow;
using detail::kSeriesRecordRules;
using detail::LinePlace;
using detail::NoColumnNamed;
using detail::Quoted;
using detail::SeparatorName;

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

}  // namespace

std::unique_ptr<SampleReader> MakeTextSampleReader(
    std::istream& in, std::string name, const InputOptions& options) {
  return std::make_unique<TextSampleReader>(in, std::move(name), options);
}

}  // namespace series
