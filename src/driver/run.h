// The run from start to end: greeting, "list", dialogue, output folder and
// the series loop.
#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace driver {

struct RunIo {
  std::istream& ConsoleIn;
  std::ostream& ConsoleOut;
  std::ostream& Err;              // skipped-series messages
  std::filesystem::path RunDir;   // the current directory
  std::vector<std::string> Args;  // command-line arguments (blank names)
};

// Runs the program. Returns kSuccessExitStatus, or kSkippedExitStatus when
// a series was skipped (each named on io.Err). Fatal conditions throw
// (FatalError, std::bad_alloc, std::length_error); the caller reports them.
int Run(RunIo io);

}  // namespace driver
