// mfwindow-batch: mfwindow's analysis for series named on the command line,
// without the dialogue. Parses the command line, runs the batch and maps
// fatal conditions to a report and an exit status.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "batch/batch_run.h"
#include "batch/options.h"
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
  const batch::ParseOutcome parsed =
      batch::ParseCommandLine(argc, argv, std::cout, std::cerr);
  if (!parsed.Options) return parsed.ExitStatus;
  try {
    const batch::ProgressMode mode =
        parsed.Options->Quiet ? batch::ProgressMode::kQuiet
        : platform::IsTerminal(platform::kStandardError)
            ? batch::ProgressMode::kBar
            : batch::ProgressMode::kLines;
    return batch::RunBatch(
        *parsed.Options,
        batch::BatchIo{std::cerr, mode, series::CurrentDirectory(), &std::cin});
  } catch (const series::Interrupted& stop) {
    // The series in progress was staged: its result never took its place.
    const std::string text = stop.what();
    std::cerr << "mfwindow-batch: " << text.substr(0, text.find(';'))
              << "; the series in progress has no result file, the series "
                 "before it have theirs\n";
    return stop.ExitStatus();
  } catch (const std::exception& e) {  // FatalError, std::bad_alloc, ...
    std::cerr << series::FatalReport(e, batch::kProgramName) << '\n';
    return batch::kExitFatal;
  }
}
