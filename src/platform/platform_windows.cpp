// The Windows side of the platform unit (mingw-w64 and MSVC runtimes).
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace {

using Handler = void (*)(int);
Handler previous_int = SIG_DFL;
Handler previous_term = SIG_DFL;

// errno for the last Windows error, as the C runtime would map it.
int LastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

}  // namespace

int AvailableCores() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0) {
    return 1;
  }
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count > 0 ? count : 1;
}

std::int64_t StorageAvailable() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (GlobalMemoryStatusEx(&status) == 0) return 0;
  // The commit limit (memory and paging file), within the address space.
  const unsigned long long total = status.ullTotalPageFile;
  const unsigned long long space = status.ullTotalVirtual;
  const unsigned long long available = total < space ? total : space;
  return available >= static_cast<unsigned long long>(INT64_MAX)
             ? INT64_MAX
             : static_cast<std::int64_t>(available);
}

void UseFullLongDoublePrecision() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  unsigned short control = 0;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  const auto full = static_cast<unsigned short>(control | 0x300U);
  if (full != control) __asm__ volatile("fldcw %0" : : "m"(full));
#endif
}

void* AllocateAligned(std::size_t align, std::size_t bytes) {
  return _aligned_malloc(bytes, align);
}

void FreeAligned(void* block) { _aligned_free(block); }

void AdviseHugePages(void* /*block*/, std::size_t /*bytes*/) {}

void CatchStopSignals(void (*record)(int)) {
  previous_int = std::signal(SIGINT, record);
  if (previous_int == SIG_IGN) std::signal(SIGINT, SIG_IGN);
  previous_term = std::signal(SIGTERM, record);
  if (previous_term == SIG_IGN) std::signal(SIGTERM, SIG_IGN);
}

void RestoreStopSignals() {
  std::signal(SIGINT, previous_int == SIG_ERR ? SIG_DFL : previous_int);
  std::signal(SIGTERM, previous_term == SIG_ERR ? SIG_DFL : previous_term);
}

void UseBinaryStandardStreams() {
  _setmode(kStandardInput, _O_BINARY);
  _setmode(kStandardOutput, _O_BINARY);
  _setmode(kStandardError, _O_BINARY);
}

void IgnoreFileSizeSignal() {}

// A console or a pipe cannot be watched as a socket can: the read blocks.
bool WaitForInput(int /*fd*/, int /*milliseconds*/) { return true; }

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

int OpenForWriting(const std::string& path, int* fd) {
  // Binary: the records end in CR LF of their own, which text mode would
  // double. Shared for deletion, so that a file can be removed or replaced
  // while open, as on POSIX.
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *fd = -1;
    return LastError();
  }
  *fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (*fd < 0) {
    CloseHandle(handle);
    return EMFILE;
  }
  return 0;
}

int OpenForReading(const std::string& path, int* fd) {
  *fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  return *fd < 0 ? errno : 0;
}

bool TryLock(int /*fd*/) { return true; }

bool IsRegular(int fd) {
  struct _stat64 info {};
  return _fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

bool PathIsOther(const std::string& path) {
  struct _stat64 info {};
  return _stat64(path.c_str(), &info) == 0 &&
         (info.st_mode & _S_IFMT) != _S_IFREG;
}

int Truncate(int fd, std::int64_t size) { return _chsize_s(fd, size); }

int SeekTo(int fd, std::int64_t offset) {
  return _lseeki64(fd, offset, SEEK_SET) < 0 ? errno : 0;
}

std::int64_t WriteSome(int fd, const char* data, std::size_t size, int* error) {
  const unsigned chunk =
      size > 0x40000000U ? 0x40000000U : static_cast<unsigned>(size);
  const int n = _write(fd, data, chunk);
  if (n < 0) *error = errno;
  return n;
}

int Close(int fd) { return _close(fd) == 0 ? 0 : errno; }

void RemoveAndClose(const std::string& path, int fd) {
  if (fd >= 0) _close(fd);
  DeleteFileA(path.c_str());
}

void Remove(const std::string& path) { DeleteFileA(path.c_str()); }

int Replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0
             ? 0
             : LastError();
}

std::string ErrorText(int error) { return std::strerror(error); }

std::string CurrentDirectory(std::string* error) {
  char dir[MAX_PATH + 1] = {};
  const DWORD length = GetCurrentDirectoryA(sizeof(dir), dir);
  if (length > 0 && length < sizeof(dir)) return std::string(dir, length);
  *error = length == 0 ? ErrorText(LastError()) : "the path is too long";
  return std::string();
}

void MakeDirectory(const std::string& path) {
  CreateDirectoryA(path.c_str(), nullptr);
}

std::tm UtcCalendar(std::time_t time) {
  std::tm utc{};
  gmtime_s(&utc, &time);
  return utc;
}

}  // namespace platform
#endif
