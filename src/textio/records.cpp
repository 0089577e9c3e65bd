#include "textio/records.h"

#include <cassert>
#include <cstddef>
#include <ios>

namespace textio {

bool WriteRecord(std::ostream& out, std::string_view record) {
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
  out.write(kRecordEnd.data(), static_cast<std::streamsize>(kRecordEnd.size()));
  return !out.fail();
}

RecordReader::Status RecordReader::Next(std::string& record) {
  if (in_.bad()) return Status::kDeviceError;
  // getline fails only when it extracts nothing at the end of the stream (or
  // the stream breaks); a last line without LF still comes back, with eofbit.
  if (!std::getline(in_, record)) {
    return in_.bad() ? Status::kDeviceError : Status::kEndOfInput;
  }
  // Only a CR that stood directly before the LF belongs to the line end; a
  // final line without LF keeps a trailing CR as one of its characters.
  const bool ended_by_line_feed = !in_.eof();
  if (ended_by_line_feed && !record.empty() && record.back() == '\r') {
    record.pop_back();
  }
  return Status::kRecord;
}

bool RecordReader::Rewind() {
  in_.clear();
  in_.seekg(0);
  return !in_.fail();
}

TextRecordResult ReadTextRecord(RecordReader& in, int width) {
  assert(width >= 0);
  TextRecordResult result;
  result.Status = in.Next(result.Text);
  if (result.Status != RecordReader::Status::kRecord) {
    result.Text.clear();
    return result;
  }
  result.Text.resize(static_cast<std::size_t>(width), ' ');
  return result;
}

}  // namespace textio
