#include "series/result_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "textio/records.h"

namespace series {

namespace {

[[noreturn]] void OpenFailed(const StreamId& id, int error) {
  throw FatalError(
      ErrorNumber::kOpenError,
      std::string("cannot open file (") + platform::ErrorText(error) + ")", id);
}

[[noreturn]] void Busy(const StreamId& id) {
  throw FatalError(ErrorNumber::kOpenError,
                   "cannot open file (another run is writing it)", id);
}

// Opens `path` for writing, locked, and empties it when it is a regular
// file: a device or a FIFO cannot be cut, and need not be.
int OpenLocked(const std::string& path, const StreamId& id) {
  // Not cut at the open: another run may be writing this file, and its
  // lines are not ours to destroy. The advisory lock tells; only the
  // holder of the lock empties the file.
  int fd = -1;
  if (const int error = platform::OpenForWriting(path, &fd); error != 0) {
    OpenFailed(id, error);
  }
  if (!platform::TryLock(fd)) {
    platform::Close(fd);
    Busy(id);
  }
  if (platform::IsRegular(fd)) {
    if (const int error = platform::Truncate(fd, 0); error != 0) {
      platform::Close(fd);
      OpenFailed(id, error);
    }
  }
  return fd;
}

}  // namespace

ResultFile::ResultFile(const std::string& path) : id_{kResultUnit, path} {
  fd_ = OpenLocked(path, id_);
}

ResultFile ResultFile::Staged(const std::string& path) {
  if (platform::PathIsOther(path)) return ResultFile(path);
  ResultFile file(-1, StreamId{kResultUnit, path});
  file.owned_ = true;
  // A run that writes `path` itself (mfwindow) holds its lock; the staged
  // file must not be put in the place of its lines.
  if (platform::kAdvisoryLocks &&
      platform::OpenForReading(path, &file.place_fd_) == 0 &&
      !platform::TryLock(file.place_fd_)) {
    Busy(file.id_);
  }
  const std::string staged = path + std::string(kStagingSuffix);
  file.fd_ = OpenLocked(staged, file.id_);
  file.staged_ = staged;
  return file;
}

ResultFile ResultFile::StandardOutput() {
  return ResultFile(platform::kStandardOutput, StreamId{kResultUnit, "stdout"});
}

ResultFile::ResultFile(ResultFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      place_fd_(std::exchange(other.place_fd_, -1)),
      owned_(other.owned_),
      staged_(std::exchange(other.staged_, std::string())),
      whole_(other.whole_),
      id_(std::move(other.id_)) {}

ResultFile::~ResultFile() {
  const int fd = fd_ >= 0 && owned_ ? fd_ : -1;
  fd_ = -1;
  Unstage(fd);
  if (place_fd_ >= 0) platform::Close(place_fd_);
}

void ResultFile::Unstage(int fd) {
  // Removed while its lock is held, so that no other run's file goes
  // (Windows, without such locks, cannot remove an open file).
  if (!staged_.empty()) {
    platform::RemoveAndClose(staged_, fd);
  } else if (fd >= 0) {
    platform::Close(fd);
  }
  staged_.clear();
}

void ResultFile::WriteRecord(std::string_view record) {
  buffer_.assign(record);
  buffer_.append(textio::kRecordEnd);
  std::size_t done = 0;
  while (done < buffer_.size()) {
    int error = 0;
    const std::int64_t n = platform::WriteSome(fd_, buffer_.data() + done,
                                               buffer_.size() - done, &error);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && error == EINTR) continue;
    if (n >= 0) error = ENOSPC;
    // Keep whole records only: the part of this one that reached the file
    // is cut off again.
    if (done > 0 && owned_ && platform::Truncate(fd_, whole_) == 0) {
      platform::SeekTo(fd_, whole_);
    }
    throw FatalError(
        ErrorNumber::kWriteError,
        std::string("error during write (") + platform::ErrorText(error) + ")",
        id_);
  }
  whole_ += static_cast<long long>(done);
}

void ResultFile::Close() {
  const int fd = fd_;
  fd_ = -1;
  if (!owned_) return;
  if (const int error = platform::Close(fd); error != 0) {
    Unstage(-1);
    throw FatalError(
        ErrorNumber::kCloseError,
        std::string("error closing file (") + platform::ErrorText(error) + ")",
        id_);
  }
  if (staged_.empty()) return;
  if (const int error = platform::Replace(staged_, id_.File); error != 0) {
    Unstage(-1);
    throw FatalError(ErrorNumber::kCloseError,
                     std::string("error renaming the complete file (") +
                         platform::ErrorText(error) + ")",
                     id_);
  }
  staged_.clear();
}

void ResultFile::Discard() {
  if (fd_ < 0) return;
  const int fd = owned_ ? fd_ : -1;
  fd_ = -1;
  if (!staged_.empty()) {
    Unstage(fd);
  } else if (fd >= 0 && platform::IsRegular(fd)) {
    platform::RemoveAndClose(id_.File, fd);
  } else if (fd >= 0) {
    platform::Close(fd);
  }
}

}  // namespace series
