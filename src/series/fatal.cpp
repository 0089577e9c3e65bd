#include "series/fatal.h"

#include <new>
#include <string>

#include "platform/platform.h"
#include "textio/records.h"

namespace series {
namespace {

std::string ReportPrefix(ErrorNumber number) {
  return "severe (" + std::to_string(static_cast<int>(number)) + "): ";
}

}  // namespace

FatalError::FatalError(ErrorNumber number, const std::string& text,
                       const StreamId& stream)
    : std::runtime_error(ReportPrefix(number) + text + ", unit " +
                         std::to_string(stream.Unit) + ", file " + stream.File),
      number_(number) {}

FatalError::FatalError(ErrorNumber number, const std::string& text)
    : std::runtime_error(ReportPrefix(number) + text), number_(number) {}

std::string FatalReport(const std::exception& e, std::string_view program) {
  const std::string prefix = std::string(program) + ": ";
  if (dynamic_cast<const FatalError*>(&e) != nullptr) return prefix + e.what();
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    return prefix + ReportPrefix(ErrorNumber::kInsufficientMemory) +
           "insufficient virtual memory";
  }
  if (dynamic_cast<const std::length_error*>(&e) != nullptr) {
    return prefix + ReportPrefix(ErrorNumber::kArraySizeOverflow) +
           "Cannot allocate array - overflow on array size calculation.";
  }
  return prefix + "severe: " + e.what();
}

std::filesystem::path CurrentDirectory() {
  std::string error;
  std::string dir = platform::CurrentDirectory(&error);
  if (!error.empty()) {
    throw FatalError(ErrorNumber::kOpenError,
                     "cannot open the current directory (" + error + ")");
  }
  return dir;
}

void ReportFatal(std::ostream& err, const std::exception& e) {
  textio::WriteRecord(err, FatalReport(e));
  err.flush();
}

}  // namespace series
