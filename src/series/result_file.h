// A result file written record by record, each record with one write, so
// that whatever stops the run the file holds whole lines only: a write that
// fails part-way (a full device, a file-size limit) is cut back to the last
// whole record before the failure is reported.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "series/fatal.h"

namespace series {

// Owns its file descriptor; movable, not copyable. Not for sharing between
// threads.
class ResultFile {
 public:
  // Creates `path` or opens it, takes an advisory lock on it (flock) for as
  // long as it is open, then empties it. Throws FatalError (unit
  // kResultUnit) when the file cannot be opened, or when another run holds
  // its lock (that run's lines are left as they are).
  explicit ResultFile(const std::string& path);
  // Standard output as a result file: records written the same way, with
  // no lock and nothing emptied; Close leaves the descriptor open. A write
  // that fails part-way cannot be taken back there.
  static ResultFile StandardOutput();
  ~ResultFile();  // closes without reporting; never throws
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // Writes `record` and its line end. On failure cuts the file back to the
  // records written before and throws FatalError.
  void WriteRecord(std::string_view record);

  // Closes the file; throws FatalError when the close reports an error.
  void Close();

 private:
  ResultFile(int fd, StreamId id)
      : fd_(fd), owned_(false), id_(std::move(id)) {}

  int fd_ = -1;
  bool owned_ = true;    // the descriptor is closed with the file
  long long whole_ = 0;  // bytes of the records written completely
  std::string buffer_;   // the record being written, with its line end
  StreamId id_;
};

}  // namespace series
