// The program's entry: binds the standard streams and the current directory
// to the run driver and maps fatal conditions to a report and an exit status.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "driver/run.h"
#include "platform/platform.h"
#include "series/fatal.h"
#include "series/interrupt.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Past a file-size limit a write fails with EFBIG, and the result file
  // is cut back to its last whole line; SIGXFSZ would end the program
  // in the middle of one.
  platform::UseBinaryStandardStreams();
  platform::IgnoreFileSizeSignal();
  try {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    driver::RunIo io{std::cin,        std::cout,
                     std::cerr,       series::CurrentDirectory(),
                     std::move(args), analysis::EngineRequest{}};
    io.ConsoleFd = platform::kStandardInput;
    return driver::Run(std::move(io));
  } catch (const series::Interrupted& stop) {
    std::cout.flush();
    std::cerr << "mfwindow: " << stop.what() << "\r\n";
    return stop.ExitStatus();
  } catch (const std::exception& e) {  // FatalError, std::bad_alloc, ...
    std::cout.flush();
    series::ReportFatal(std::cerr, e);
    return series::kFatalExitStatus;
  }
}
