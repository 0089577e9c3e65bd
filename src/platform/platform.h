// What the operating system is asked for, in one place: processor and
// memory counts, aligned blocks and huge pages, the stop signals, the
// result files' descriptors and locks, the terminal, the current directory
// and the clock. A POSIX side (platform_posix.cpp, with a Linux part in
// platform_linux.cpp) and a Windows side (platform_windows.cpp); nothing
// else of ours calls the system beyond standard C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// ---- Processors and memory. ----

// The processors this process may run on (its affinity), at least 1.
int AvailableCores();

// Bytes of memory and swap the process can have, within its address-space
// limit; 0 when the system does not say.
std::int64_t StorageAvailable();

// A block of `bytes` (a multiple of `align`, a power of two), or nullptr;
// freed by FreeAligned only.
void* AllocateAligned(std::size_t align, std::size_t bytes);
void FreeAligned(void* block);

// Asks for huge pages behind `block` where the system grants them; only
// the speed depends on it.
void AdviseHugePages(void* block, std::size_t bytes);

// Long double arithmetic at its full 64-bit precision on this thread, as
// on the main thread. Windows starts its threads with the x87 unit rounding
// to 53 bits (where long double is the x87 format), which the main thread's
// C runtime does not; a worker calls this before it computes.
void UseFullLongDoublePrecision();

// ---- Stop requests and signals. ----

// SIGINT and SIGTERM call `record` with the signal's number until
// RestoreStopSignals, except a signal ignored when the process began (nohup).
// One at a time per process.
void CatchStopSignals(void (*record)(int));
void RestoreStopSignals();

// Standard input, output and error carry bytes as they are (Windows would
// otherwise add a CR before each LF written and drop it from each CR LF
// read).
void UseBinaryStandardStreams();

// A write past a file-size limit fails with an error instead of ending the
// process (SIGXFSZ ignored, where there is such a signal).
void IgnoreFileSizeSignal();

// Waits up to `milliseconds` for input on descriptor `fd`; true when there
// is some (or the wait is not possible, so that a read will block).
bool WaitForInput(int fd, int milliseconds);

// True when `fd` is a terminal.
bool IsTerminal(int fd);

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// ---- Result files. Each returns 0 or an errno value where it can fail. ----

// Opens `path` for writing in binary (created when missing, not cut, not
// inherited by child processes) into *fd.
int OpenForWriting(const std::string& path, int* fd);
// Opens an existing `path` for reading into *fd.
int OpenForReading(const std::string& path, int* fd);
// Takes an exclusive advisory lock of `fd`: false only when another
// process holds one. Where the system has no advisory locks (Windows),
// files are written unlocked.
bool TryLock(int fd);
inline constexpr bool kAdvisoryLocks =
#if defined(_WIN32)
    false;
#else
    true;
#endif
// True when `fd` is a regular file.
bool IsRegular(int fd);
bool PathIsOther(const std::string& path);  // exists and is no regular file
int Truncate(int fd, std::int64_t size);
int SeekTo(int fd, std::int64_t offset);
// Writes some of the bytes: how many, or -1 with *error set.
std::int64_t WriteSome(int fd, const char* data, std::size_t size, int* error);
int Close(int fd);
// Removes `path`, written through `fd`, and closes `fd`: on POSIX removed
// while still open (and locked), on Windows closed first.
void RemoveAndClose(const std::string& path, int fd);
void Remove(const std::string& path);
// Puts `from` in the place of `to`, replacing a file there.
int Replace(const std::string& from, const std::string& to);
// The text of an errno value.
std::string ErrorText(int error);

// ---- The dialogue program's directory and paths. ----

// The current drive and directory as the system reports it (Windows:
// GetCurrentDirectoryA; POSIX: the working directory); when it cannot,
// empty, with *error saying why.
std::string CurrentDirectory(std::string* error);
// Creates directory `path`; the outcome is not reported (it may exist).
void MakeDirectory(const std::string& path);
// The directory separator the dialogue program joins its paths with.
inline constexpr char kSeparator =
#if defined(_WIN32)
    '\\';
#else
    '/';
#endif

// ---- Clock. ----

// `time` as a UTC calendar time.
std::tm UtcCalendar(std::time_t time);

namespace detail {
// `available` bytes, or the address-space limit where that is lower (POSIX).
std::int64_t WithinAddressLimit(long double available);
}  // namespace detail

}  // namespace platform
