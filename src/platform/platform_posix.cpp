// The POSIX side of the platform unit (Linux, macOS and the other Unix
// systems); the Linux-only calls are in platform_linux.cpp.
#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace platform {
namespace {

struct sigaction previous_int {};
struct sigaction previous_term {};

}  // namespace

void UseFullLongDoublePrecision() {}

void* AllocateAligned(std::size_t align, std::size_t bytes) {
  return std::aligned_alloc(align, bytes);
}

void FreeAligned(void* block) { std::free(block); }

std::int64_t detail::WithinAddressLimit(long double available) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      (available == 0.0L ||
       static_cast<long double>(limit.rlim_cur) < available)) {
    available = static_cast<long double>(limit.rlim_cur);
  }
  constexpr auto kMax = static_cast<long double>(INT64_MAX);
  return available >= kMax ? INT64_MAX : static_cast<std::int64_t>(available);
}

#if !defined(__linux__)
int AvailableCores() {
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? static_cast<int>(count) : 1;
}

std::int64_t StorageAvailable() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long size = sysconf(_SC_PAGESIZE);
  const long double available =
      pages > 0 && size > 0
          ? static_cast<long double>(pages) * static_cast<long double>(size)
          : 0.0L;
  return detail::WithinAddressLimit(available);
}

void AdviseHugePages(void* /*block*/, std::size_t /*bytes*/) {}
#endif

void CatchStopSignals(void (*record)(int)) {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = record;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, nullptr, &previous_int);
  sigaction(SIGTERM, nullptr, &previous_term);
  if (previous_int.sa_handler != SIG_IGN) sigaction(SIGINT, &action, nullptr);
  if (previous_term.sa_handler != SIG_IGN) {
    sigaction(SIGTERM, &action, nullptr);
  }
}

void RestoreStopSignals() {
  sigaction(SIGINT, &previous_int, nullptr);
  sigaction(SIGTERM, &previous_term, nullptr);
}

void UseBinaryStandardStreams() {}

void IgnoreFileSizeSignal() { ::signal(SIGXFSZ, SIG_IGN); }

bool WaitForInput(int fd, int milliseconds) {
  pollfd watch{fd, POLLIN, 0};
  const int ready = ::poll(&watch, 1, milliseconds);
  return ready > 0 || (ready < 0 && errno != EINTR);
}

bool IsTerminal(int fd) { return ::isatty(fd) != 0; }

int OpenForWriting(const std::string& path, int* fd) {
  *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  return *fd < 0 ? errno : 0;
}

int OpenForReading(const std::string& path, int* fd) {
  *fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return *fd < 0 ? errno : 0;
}

// A file system without locks (ENOLCK, EOPNOTSUPP) is written unlocked.
bool TryLock(int fd) {
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

bool IsRegular(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool PathIsOther(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

int Truncate(int fd, std::int64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int SeekTo(int fd, std::int64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

std::int64_t WriteSome(int fd, const char* data, std::size_t size, int* error) {
  const ssize_t n = ::write(fd, data, size);
  if (n < 0) *error = errno;
  return n;
}

int Close(int fd) { return ::close(fd) == 0 ? 0 : errno; }

void RemoveAndClose(const std::string& path, int fd) {
  ::unlink(path.c_str());
  if (fd >= 0) ::close(fd);
}

void Remove(const std::string& path) { ::unlink(path.c_str()); }

int Replace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string ErrorText(int error) { return std::strerror(error); }

std::string CurrentDirectory(std::string* error) {
  std::error_code failure;
  const std::filesystem::path dir = std::filesystem::current_path(failure);
  if (failure) *error = failure.message();
  return failure ? std::string() : dir.string();
}

void MakeDirectory(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directory(path, ignored);
}

std::tm UtcCalendar(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  return utc;
}

}  // namespace platform
#endif
