// The program with its engine and thread count chosen on the command line,
// for benchmarks and comparisons only:
//   mfwindow_engine reference|fast THREADS [NAME...]
// (THREADS 0: every available core; NAMEs serve blank series names)
// reads the dialogue answers on standard input like mfwindow.
//   mfwindow_engine batch reference|fast [mfwindow-batch arguments]
// runs mfwindow-batch on that engine (its method options included).
// MFWINDOW_SIMD_TARGET=NAME holds the vector kernels to that instruction set
// or the best one below it (AVX3 or AVX512, AVX2, SSE4, NEON, SCALAR);
//   mfwindow_engine simd
// prints the instruction set the kernels use, after that variable.
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/options.h"
#include "driver/run.h"
#include "numerics/simd_target.h"
#include "series/fatal.h"
#include "series/interrupt.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (const char* target = std::getenv("MFWINDOW_SIMD_TARGET")) {
    if (!numerics::RestrictSimdTargetsTo(target)) {
      std::cerr << "mfwindow_engine: unknown SIMD target " << target << "\n";
      return 2;
    }
  }
  if (argc == 2 && std::string(argv[1]) == "simd") {
    std::cout << numerics::ActiveSimdTarget().Name << "\n";
    return 0;
  }
  if (argc >= 3 && std::string(argv[1]) == "batch") {
    const batch::ParseOutcome parsed =
        batch::ParseCommandLine(argc - 2, argv + 2, std::cout, std::cerr);
    if (!parsed.Options) return parsed.ExitStatus;
    batch::BatchOptions options = *parsed.Options;
    if (std::string(argv[2]) == "reference") {
      options.Given.Kernel = mfwindow::KernelChoice::kStraightforward;
      options.Given.Threads = 1;
      // Settled again from what is given, the kernel included.
      options.Settled.reset();
    }
    try {
      return batch::RunBatch(
          options, batch::BatchIo{std::cerr, batch::ProgressMode::kQuiet,
                                  series::CurrentDirectory(), &std::cin});
    } catch (const std::exception& e) {
      std::cerr << series::FatalReport(e, batch::kProgramName) << '\n';
      return batch::kExitFatal;
    }
  }
  if (argc < 3) {
    std::cerr << "usage: mfwindow_engine reference|fast THREADS [NAME...]\n";
    return 2;
  }
  const std::string engine = argv[1];
  try {
    driver::RunIo io{std::cin,
                     std::cout,
                     std::cerr,
                     series::CurrentDirectory(),
                     std::vector<std::string>(argv + 3, argv + argc),
                     analysis::EngineRequest{}};
    io.Engine.Kernel = engine == "reference"
                           ? analysis::KernelChoice::kStraightforward
                           : analysis::KernelChoice::kAuto;
    io.Engine.Threads = std::stoi(argv[2]);
    return driver::Run(std::move(io));
  } catch (const series::Interrupted& stop) {
    std::cout.flush();
    std::cerr << "mfwindow: " << stop.what() << "\r\n";
    return stop.ExitStatus();
  } catch (const std::exception& e) {
    std::cout.flush();
    series::ReportFatal(std::cerr, e);
    return series::kFatalExitStatus;
  }
}
