// The run from start to end: greeting, "list", dialogue, output folder and
// the series loop.
#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/engine.h"

namespace driver {

struct RunIo {
  std::istream& ConsoleIn;
  std::ostream& ConsoleOut;
  std::ostream& Err;              // skipped-series messages
  std::filesystem::path RunDir;   // the current directory
  std::vector<std::string> Args;  // command-line arguments (blank names)
  // The engine; both give the same bytes. Threads 0: every available core.
  analysis::EngineRequest Engine;
  // The file descriptor behind ConsoleIn, when it is a real one: a stop
  // request is then noticed while the console is awaited (-1: none).
  int ConsoleFd = -1;
};

// Runs the program. Returns kSuccessExitStatus, or kSkippedExitStatus when
// a series was skipped (each named on io.Err). Fatal conditions throw
// (FatalError, std::bad_alloc, std::length_error); the caller reports them.
// A stop request during the series throws Interrupted.
int Run(RunIo io);

}  // namespace driver
