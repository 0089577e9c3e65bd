#include "series/result_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "textio/records.h"

namespace series {

ResultFile::ResultFile(const std::string& path) : id_{kResultUnit, path} {
  // Not cut at the open: another run may be writing this file, and its
  // lines are not ours to destroy. The advisory lock tells; only the
  // holder of the lock empties the file.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    throw FatalError(
        ErrorNumber::kOpenError,
        std::string("cannot open file (") + std::strerror(errno) + ")", id_);
  }
  // A file system without locks (ENOLCK, EOPNOTSUPP) is written unlocked.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd_);
    fd_ = -1;
    throw FatalError(ErrorNumber::kOpenError,
                     "cannot open file (another run is writing it)", id_);
  }
  if (::ftruncate(fd_, 0) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw FatalError(
        ErrorNumber::kOpenError,
        std::string("cannot open file (") + std::strerror(error) + ")", id_);
  }
}

ResultFile ResultFile::StandardOutput() {
  return ResultFile(STDOUT_FILENO, StreamId{kResultUnit, "stdout"});
}

ResultFile::~ResultFile() {
  if (fd_ >= 0 && owned_) ::close(fd_);
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
    throw FatalError(
        ErrorNumber::kCloseError,
        std::string("error closing file (") + std::strerror(errno) + ")", id_);
  }
}

}  // namespace series
