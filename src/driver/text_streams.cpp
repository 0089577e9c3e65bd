#include "driver/text_streams.h"

namespace driver {

void TextOut::Check() {
  if (!out_.good()) {
    throw series::FatalError(series::ErrorNumber::kWriteError,
                             "error during write", id_);
  }
}

void TextOut::Free(std::initializer_list<textio::FreeItem> items) {
  textio::WriteFreeRecord(out_, items);
  Check();
}

void TextOut::Formatted(std::span<const textio::LayoutField> layout,
                        std::span<const textio::FormattedItem> items,
                        std::span<const int> supplied_repeats) {
  textio::WriteFormattedRecord(out_, layout, items, supplied_repeats);
  Check();
}

void TextOut::Line(std::string_view text) {
  textio::WriteRecord(out_, text);
  Check();
}

void TextOut::Prompt(std::string_view text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  Check();
}

void TextOut::Flush() {
  out_.flush();
  Check();
}

void TextIn::FailEnd() const {
  throw series::FatalError(series::ErrorNumber::kEndOfInput,
                           "end of input during read", id_);
}

void TextIn::FailRead() const {
  throw series::FatalError(series::ErrorNumber::kReadError, "error during read",
                           id_);
}

textio::FreeReadResult TextIn::ReadAnswer(
    std::span<const textio::FreeTarget> targets) {
  textio::FreeReadResult result = textio::ReadFreeValues(reader_, targets);
  if (result.Status == textio::kReadEndOfInput) FailEnd();
  if (result.Status ==
      static_cast<textio::ReadStatus>(textio::TokenError::kDeviceError)) {
    FailRead();
  }
  return result;
}

void TextIn::SkipRecord() {
  if (!SkipRecordUnlessEnd()) FailEnd();
}

bool TextIn::SkipRecordUnlessEnd() {
  textio::FreeReadResult result = textio::ReadFreeValues(reader_, {});
  if (result.Status == textio::kReadEndOfInput) return false;
  if (result.Status != textio::kReadDone) FailRead();
  return true;
}

std::string TextIn::ReadText(int width) {
  textio::TextRecordResult result = textio::ReadTextRecord(reader_, width);
  if (result.Status == textio::RecordReader::Status::kEndOfInput) FailEnd();
  if (result.Status != textio::RecordReader::Status::kRecord) FailRead();
  return std::move(result.Text);
}

void TextIn::Rewind() {
  if (!reader_.Rewind()) {
    throw series::FatalError(series::ErrorNumber::kReadError,
                             "error during rewind", id_);
  }
}

}  // namespace driver
