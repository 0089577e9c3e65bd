// Fatal conditions of a run: a file that cannot be opened, read or written,
// the end of console input, storage that cannot be obtained. They end the
// run at once with a one-line report on the standard error stream.
#pragma once

#include <exception>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace series {

// Exit statuses of the program.
inline constexpr int kSuccessExitStatus = 0;
inline constexpr int kSkippedExitStatus = 1;  // a series could not be read
inline constexpr int kFatalExitStatus = 2;    // the run ended on a fatal error

// Error numbers of the fatal report.
enum class ErrorNumber : int {
  kEndOfInput = 1,          // end of input during read
  kReadError = 2,           // the stream failed while reading
  kOpenError = 3,           // a file cannot be opened or created
  kWriteError = 4,          // a record cannot be written
  kCloseError = 5,          // a file cannot be closed
  kInsufficientMemory = 6,  // storage cannot be obtained
  kArraySizeOverflow = 7,   // a storage size does not fit the address space
};

// A text stream as the fatal report names it: its unit number and file name.
struct StreamId {
  int Unit = 0;
  std::string File;
};

inline constexpr int kSeriesUnit = 1;
inline constexpr int kResultUnit = 2;
inline constexpr int kConsoleInUnit = 5;
inline constexpr int kConsoleOutUnit = 6;
inline constexpr int kListUnit = 10;

// The one exception type of our own fatal conditions.
class FatalError : public std::runtime_error {
 public:
  FatalError(ErrorNumber number, const std::string& text,
             const StreamId& stream);
  FatalError(ErrorNumber number, const std::string& text);

  ErrorNumber Number() const { return number_; }

 private:
  ErrorNumber number_;
};

// The report line for `e` from `program` (without line end):
//   mfwindow: severe (1): end of input during read, unit 5, file stdin
// std::bad_alloc reports "insufficient virtual memory" and std::length_error
// "Cannot allocate array - overflow on array size calculation.".
std::string FatalReport(const std::exception& e,
                        std::string_view program = "mfwindow");

// The current directory. Throws FatalError (kOpenError) when the system
// cannot give it, for example when the directory has been deleted.
std::filesystem::path CurrentDirectory();

// Writes mfwindow's FatalReport(e) and a line end to `err`.
void ReportFatal(std::ostream& err, const std::exception& e);

}  // namespace series
