#include "driver/fatal.h"

#include <new>
#include <string>

#include "textio/records.h"

namespace driver {
namespace {

std::string ReportPrefix(ErrorNumber number) {
  return "mfwindow: severe (" + std::to_string(static_cast<int>(number)) +
         "): ";
}

}  // namespace

FatalError::FatalError(ErrorNumber number, const std::string& text,
                       StreamId stream)
    : std::runtime_error(ReportPrefix(number) + text + ", unit " +
                         std::to_string(stream.Unit) + ", file " + stream.File),
      number_(number) {}

FatalError::FatalError(ErrorNumber number, const std::string& text)
    : std::runtime_error(ReportPrefix(number) + text), number_(number) {}

std::string FatalReport(const std::exception& e) {
  if (dynamic_cast<const FatalError*>(&e) != nullptr) return e.what();
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    return ReportPrefix(ErrorNumber::kInsufficientMemory) +
           "insufficient virtual memory";
  }
  if (dynamic_cast<const std::length_error*>(&e) != nullptr) {
    return ReportPrefix(ErrorNumber::kArraySizeOverflow) +
           "Cannot allocate array - overflow on array size calculation.";
  }
  return std::string("mfwindow: severe: ") + e.what();
}

void ReportFatal(std::ostream& err, const std::exception& e) {
  textio::WriteRecord(err, FatalReport(e));
  err.flush();
}

}  // namespace driver
