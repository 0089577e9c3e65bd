#include "series/result_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "textio/records.h"

namespace series {

namespace {

[[noreturn]] void OpenFailed(const StreamId& id, int error) {
  throw FatalError(
      ErrorNumber::kOpenError,
      std::string("cannot open file (") + std::strerror(error) + ")", id);
}

[[noreturn]] void Busy(const StreamId& id) {
  throw FatalError(ErrorNumber::kOpenError,
                   "cannot open file (another run is writing it)", id);
}

// Takes the advisory lock (flock) of `fd`; false when another run holds
// it. A file system without locks (ENOLCK, EOPNOTSUPP) is written unlocked.
bool Lock(int fd) {
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// Opens `path` for writing, locked, and empties it when it is a regular
// file: a device or a FIFO cannot be cut, and need not be.
int OpenLocked(const std::string& path, const StreamId& id) {
  // Not cut at the open: another run may be writing this file, and its
  // lines are not ours to destroy. The advisory lock tells; only the
  // holder of the lock empties the file.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) OpenFailed(id, errno);
  if (!Lock(fd)) {
    ::close(fd);
    Busy(id);
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    OpenFailed(id, error);
  }
  return fd;
}

}  // namespace

ResultFile::ResultFile(const std::string& path) : id_{kResultUnit, path} {
  fd_ = OpenLocked(path, id_);
}

ResultFile ResultFile::Staged(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return ResultFile(path);
  }
  ResultFile file(-1, StreamId{kResultUnit, path});
  file.owned_ = true;
  // A run that writes `path` itself (mfwindow) holds its lock; the staged
  // file must not be put in the place of its lines.
  file.place_fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.place_fd_ >= 0 && !Lock(file.place_fd_)) Busy(file.id_);
  const std::string staged = path + std::string(kStagingSuffix);
  file.fd_ = OpenLocked(staged, file.id_);
  file.staged_ = staged;
  return file;
}

ResultFile ResultFile::StandardOutput() {
  return ResultFile(STDOUT_FILENO, StreamId{kResultUnit, "stdout"});
}

ResultFile::ResultFile(ResultFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      place_fd_(std::exchange(other.place_fd_, -1)),
      owned_(other.owned_),
      staged_(std::exchange(other.staged_, std::string())),
      whole_(other.whole_),
      id_(std::move(other.id_)) {}

ResultFile::~ResultFile() {
  Unstage();
  if (fd_ >= 0 && owned_) ::close(fd_);
  if (place_fd_ >= 0) ::close(place_fd_);
}

void ResultFile::Unstage() {
  // Removed while its lock is held, so that no other run's file goes.
  if (!staged_.empty()) ::unlink(staged_.c_str());
  staged_.clear();
}

void ResultFile::WriteRecord(std::string_view record) {
  buffer_.assign(record);
  buffer_.append(textio::kRecordEnd);
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n =
        ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int error = n < 0 ? errno : ENOSPC;
    // Keep whole records only: the part of this one that reached the file
    // is cut off again.
    if (done > 0 && owned_ &&
        ::ftruncate(fd_, static_cast<off_t>(whole_)) == 0) {
      ::lseek(fd_, static_cast<off_t>(whole_), SEEK_SET);
    }
    throw FatalError(
        ErrorNumber::kWriteError,
        std::string("error during write (") + std::strerror(error) + ")", id_);
  }
  whole_ += static_cast<long long>(done);
}

void ResultFile::Close() {
  const int fd = fd_;
  fd_ = -1;
  if (!owned_) return;
  if (::close(fd) != 0) {
    const int error = errno;
    Unstage();
    throw FatalError(
        ErrorNumber::kCloseError,
        std::string("error closing file (") + std::strerror(error) + ")", id_);
  }
  if (staged_.empty()) return;
  if (::rename(staged_.c_str(), id_.File.c_str()) != 0) {
    const int error = errno;
    Unstage();
    throw FatalError(ErrorNumber::kCloseError,
                     std::string("error renaming the complete file (") +
                         std::strerror(error) + ")",
                     id_);
  }
  staged_.clear();
}

void ResultFile::Discard() {
  if (fd_ < 0) return;
  if (!staged_.empty()) {
    Unstage();
  } else if (struct stat info{};
             owned_ && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
    ::unlink(id_.File.c_str());
  }
  if (owned_) ::close(fd_);
  fd_ = -1;
}

}  // namespace series
