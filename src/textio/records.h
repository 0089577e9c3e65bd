// Record structure shared by every text stream of the program.
//
// Output: a record is its characters followed by CR LF; nothing in a record
// has a control meaning and trailing blanks are kept. Input: a record ends at
// LF, a CR directly before that LF is dropped, and a last line without LF is
// still a record. Bytes are taken as they are, with no character-set
// conversion. Files that people bring (the series files, "list") may be read
// with two further rules, RecordRules: a UTF-8 byte-order mark before the
// first record is dropped, and a CR alone ends a record as LF does.
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

// Input rules beyond the LF record end, for files that editors and other
// programs write.
struct RecordRules {
  // The three bytes EF BB BF (a UTF-8 byte-order mark) at the very start of
  // the stream are no part of the first record: Windows editors put them
  // there, and the record would otherwise start with three foreign bytes.
  bool SkipByteOrderMark = false;
  // A CR that no LF follows ends a record too, so that a file with the
  // line ends of old Mac editors (CR alone) reads as its lines rather than
  // as one record. CR LF stays one record end.
  bool LoneCrEndsRecord = false;
};

// Reads records one after another from a stream it does not own. Holds only
// the stream position and the count of records read, so one reader per
// stream; not for sharing between threads.
class RecordReader {
 public:
  enum class Status {
    kRecord,       // `record` holds the next record
    kEndOfInput,   // the stream has no further record
    kDeviceError,  // the stream failed while reading
  };

  explicit RecordReader(std::istream& in, RecordRules rules = {})
      : in_(in), rules_(rules) {}

  // The longest record kept: the characters of a longer one past this many
  // are read and dropped, so that reading takes bounded memory whatever the
  // input.
  static constexpr std::size_t kMaxRecordLength = std::size_t{1} << 20;

  // Reads the next record into `record` without its line end.
  Status Next(std::string& record);

  // Records read so far: the line number, from 1, of the last record that
  // Next returned (0 before the first). A CR that ends a record under
  // LoneCrEndsRecord counts as a line end.
  std::uint64_t RecordsRead() const { return records_read_; }

  // Starts again at the first record (used once, for "list").
  // Returns false when the stream cannot be repositioned.
  bool Rewind();

 private:
  std::istream& in_;
  RecordRules rules_;
  std::uint64_t records_read_ = 0;
};

// The fixed-width text read: the next record's first `width` characters,
// blank-padded on the right; every character counts unchanged.
struct TextRecordResult {
  RecordReader::Status Status = RecordReader::Status::kRecord;
  std::string Text;  // exactly `width` characters when Status is kRecord
};
TextRecordResult ReadTextRecord(RecordReader& in, int width);

}  // namespace textio
