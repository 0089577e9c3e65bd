#include "textio/records.h"

#include <cassert>
#include <cstddef>
#include <ios>
#include <streambuf>
#include <string>

namespace textio {

bool WriteRecord(std::ostream& out, std::string_view record) {
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
  out.write(kRecordEnd.data(), static_cast<std::streamsize>(kRecordEnd.size()));
  return !out.fail();
}

RecordReader::Status RecordReader::Next(std::string& record) {
  record.clear();
  if (in_.bad()) return Status::kDeviceError;
  std::streambuf* const buffer = in_.rdbuf();
  if (buffer == nullptr) return Status::kDeviceError;
  bool any = false;
  bool ended_by_line_feed = false;
  bool last_was_kept = false;  // the character before the LF is in `record`
  for (;;) {
    int c = 0;
    try {
      c = buffer->sbumpc();
    } catch (...) {  // a broken device, as the stream itself would see it
      in_.setstate(std::ios::badbit);
      return Status::kDeviceError;
    }
    if (c == std::char_traits<char>::eof()) {
      in_.setstate(std::ios::eofbit);
      break;
    }
    any = true;
    if (c == '\n') {
      ended_by_line_feed = true;
      break;
    }
    if (c == '\r' && rules_.LoneCrEndsRecord) {
      // CR LF is one line end, a CR alone another.
      int next = std::char_traits<char>::eof();
      try {
        next = buffer->sgetc();
      } catch (...) {
        in_.setstate(std::ios::badbit);
        return Status::kDeviceError;
      }
      if (next == '\n') buffer->sbumpc();
      break;
    }
    // Past kMaxRecordLength the record's characters are read and dropped,
    // so that a line without end takes no more memory than that.
    last_was_kept = record.size() < kMaxRecordLength;
    if (last_was_kept) record.push_back(static_cast<char>(c));
  }
  if (!any) return Status::kEndOfInput;
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (records_read_ == 0 && rules_.SkipByteOrderMark &&
      std::string_view(record).substr(0, kByteOrderMark.size()) ==
          kByteOrderMark) {
    record.erase(0, kByteOrderMark.size());
  }
  ++records_read_;
  // Only a CR that stood directly before the LF belongs to the line end; a
  // final line without LF keeps a trailing CR as one of its characters.
  if (ended_by_line_feed && last_was_kept && !record.empty() &&
      record.back() == '\r') {
    record.pop_back();
  }
  return Status::kRecord;
}

bool RecordReader::Rewind() {
  records_read_ = 0;
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
