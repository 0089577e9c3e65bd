// The dialogue's text streams (the console and "list"): every write and
// every read whose failure is not returned to the caller throws FatalError
// naming the stream.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "series/fatal.h"
#include "textio/format.h"
#include "textio/free_read.h"
#include "textio/records.h"

namespace driver {

// An output stream of records. Does not own the stream.
class TextOut {
 public:
  TextOut(std::ostream& out, series::StreamId id)
      : out_(out), id_(std::move(id)) {}

  void Free(std::initializer_list<textio::FreeItem> items);
  void Formatted(std::span<const textio::LayoutField> layout,
                 std::span<const textio::FormattedItem> items,
                 std::span<const int> supplied_repeats = {});
  // Writes `text` as a record of its own, with no leading blank.
  void Line(std::string_view text);
  // Writes `text` with no record end (a prompt the answer follows).
  void Prompt(std::string_view text);
  void Flush();

 private:
  void Check();
  std::ostream& out_;
  series::StreamId id_;
};

// An input stream of records. Does not own the stream.
class TextIn {
 public:
  TextIn(std::istream& in, series::StreamId id, textio::RecordRules rules = {})
      : reader_(in, rules), id_(std::move(id)) {}

  // A free-format read with errors returned and end of input fatal.
  textio::FreeReadResult ReadAnswer(
      std::span<const textio::FreeTarget> targets);
  // Consumes one record; errors and end of input fatal.
  void SkipRecord();
  // Consumes one record; returns false at end of input, errors fatal.
  bool SkipRecordUnlessEnd();
  // The next record's first `width` characters, blank-padded; end of input
  // and errors fatal.
  std::string ReadText(int width);
  // Starts again at the first record; fatal when the stream cannot.
  void Rewind();

  textio::RecordReader& Reader() { return reader_; }

 private:
  [[noreturn]] void FailEnd() const;
  [[noreturn]] void FailRead() const;
  textio::RecordReader reader_;
  series::StreamId id_;
};

}  // namespace driver
