// A result file written record by record, each record with one write, so
// that whatever stops the run the file holds whole lines only: a write that
// fails part-way (a full device, a file-size limit) is cut back to the last
// whole record before the failure is reported. A staged file is written
// under a temporary name beside its place and takes that place only when
// it is complete, so that a failed or stopped series never leaves a
// partial file that reads as whole, nor removes an earlier complete one.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "series/fatal.h"

namespace series {

// Appended to a result's name for the file that is written in its stead
// until it is complete.
inline constexpr std::string_view kStagingSuffix = ".part";

// Owns its file descriptor; movable, not copyable. Not for sharing between
// threads.
class ResultFile {
 public:
  // Creates `path` or opens it, takes an advisory lock on it (where the system
  // has them) for as long as it is open, then empties it. Throws FatalError
  // (unit kResultUnit) when the file cannot be opened, or when another run
  // holds its lock (that run's lines are left as they are). Only a regular file
  // is emptied: a device or a FIFO (/dev/null, /dev/full, a pipe to another
  // program) is written as it is.
  explicit ResultFile(const std::string& path);
  // Writes `path` + kStagingSuffix (locked and emptied as above) and leaves
  // `path` alone until Close renames the staged file onto it; the
  // destructor removes a staged file that was not closed. A `path` that
  // exists and is no regular file is written directly, as above. Throws as
  // the constructor, also when another run holds the lock of `path`.
  static ResultFile Staged(const std::string& path);
  // Standard output as a result file: records written the same way, with
  // no lock and nothing emptied; Close leaves the descriptor open. A write
  // that fails part-way cannot be taken back there.
  static ResultFile StandardOutput();
  ~ResultFile();  // closes without reporting; never throws
  ResultFile(ResultFile&& other) noexcept;
  ResultFile& operator=(ResultFile&&) = delete;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // Writes `record` and its line end. On failure cuts the file back to the
  // records written before and throws FatalError.
  void WriteRecord(std::string_view record);

  // Closes the file (a staged one then takes its place); throws FatalError
  // when the close or the rename reports an error.
  void Close();

  // Closes the file and removes what it holds: a staged file goes, an
  // earlier file at its place stays; any other file is removed.
  void Discard();

 private:
  ResultFile(int fd, StreamId id)
      : fd_(fd), owned_(false), id_(std::move(id)) {}

  // Removes a staged file and closes `fd` (-1: closed already); closes
  // `fd` alone when nothing is staged.
  void Unstage(int fd);

  int fd_ = -1;
  int place_fd_ = -1;    // a staged file: the lock held on its place
  bool owned_ = true;    // the descriptor is closed with the file
  std::string staged_;   // a staged file: its temporary name
  long long whole_ = 0;  // bytes of the records written completely
  std::string buffer_;   // the record being written, with its line end
  StreamId id_;
};

}  // namespace series
