// The run from start to end: greeting, "list", dialogue, output folder and
// the series loop.
#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace driver {

// Which engine analyses the windows. Both give the same bytes.
enum class Engine {
  kFast,       // distinct lengths once, vector kernels, several threads
  kReference,  // the straightforward engine, one window at a time
};

struct RunIo {
  std::istream& ConsoleIn;
  std::ostream& ConsoleOut;
  std::ostream& Err;              // skipped-series messages
  std::filesystem::path RunDir;   // the current directory
  std::vector<std::string> Args;  // command-line arguments (blank names)
  Engine Choice = Engine::kFast;
  int Threads = 0;  // for the fast engine; 0: every available core
};

// Runs the program. Returns kSuccessExitStatus, or kSkippedExitStatus when
// a series was skipped (each named on io.Err). Fatal conditions throw
// (FatalError, std::bad_alloc, std::length_error); the caller reports them.
int Run(RunIo io);

}  // namespace driver
