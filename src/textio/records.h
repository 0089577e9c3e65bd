// Record structure shared by every text stream of the program.
//
// Output: a record is its characters followed by CR LF; nothing in a record
// has a control meaning and trailing blanks are kept. Input: a record ends at
// LF, a CR directly before that LF is dropped, and a last line without LF is
// still a record. Bytes are taken as they are, with no character-set
// conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

namespace textio {

inline constexpr std::string_view kRecordEnd = "\r\n";

// Writes `record` followed by CR LF and reports whether the stream took it
// (false after any write failure, now or earlier). Does not flush.
bool WriteRecord(std::ostream& out, std::string_view record);

// Reads records one after another from a stream it does not own. Holds only
// the stream position, so one reader per stream; not for sharing between
// threads.
class RecordReader {
 public:
  enum class Status {
    kRecord,       // `record` holds the next record
    kEndOfInput,   // the stream has no further record
    kDeviceError,  // the stream failed while reading
  };

  explicit RecordReader(std::istream& in) : in_(in) {}

  // The longest record kept: the characters of a longer one past this many
  // are read and dropped, so that reading takes bounded memory whatever the
  // input.
  static constexpr std::size_t kMaxRecordLength = std::size_t{1} << 20;

  // Reads the next record into `record` without its line end.
  Status Next(std::string& record);

  // Starts again at the first record (used once, for "list").
  // Returns false when the stream cannot be repositioned.
  bool Rewind();

 private:
  std::istream& in_;
};

// The fixed-width text read: the next record's first `width` characters,
// blank-padded on the right; every character counts unchanged.
struct TextRecordResult {
  RecordReader::Status Status = RecordReader::Status::kRecord;
  std::string Text;  // exactly `width` characters when Status is kRecord
};
TextRecordResult ReadTextRecord(RecordReader& in, int width);

}  // namespace textio
