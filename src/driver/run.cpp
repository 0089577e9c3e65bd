#include "driver/run.h"

#include <memory>
#include <system_error>

#include "driver/dialogue.h"
#include "driver/series.h"
#include "driver/text_streams.h"
#include "platform/platform.h"
#include "series/fatal.h"
#include "series/interrupt.h"
#include "series/series_notes.h"
#include "textio/records.h"

namespace driver {
namespace {

// Makes the engine, with its tables and storage, once the answers they
// depend on are settled; a run the system cannot hold ends there, before
// the window shift is asked.
class EngineHooks final : public DialogueHooks {
 public:
  explicit EngineHooks(analysis::EngineRequest request) : request_(request) {}

  void TablesSettled(const analysis::AnalysisParams& params) override {
    engine_ = analysis::MakeEngine(analysis::TablesOf(params), request_);
  }

  analysis::SeriesEngine& Engine() { return *engine_; }

 private:
  analysis::EngineRequest request_;
  std::unique_ptr<analysis::SeriesEngine> engine_;
};

// Waits until `fd` has input, a tenth of a second at a time, so that a stop
// request pending meanwhile ends the run instead of waiting for a line.
void WaitForInput(int fd, std::istream& in) {
  if (in.rdbuf()->in_avail() > 0) return;
  for (;;) {
    series::ThrowIfInterrupted();
    if (platform::WaitForInput(fd, 100)) return;
  }
}

}  // namespace

int Run(RunIo io) {
  TextOut console_out(io.ConsoleOut,
                      series::StreamId{series::kConsoleOutUnit, "stdout"});
  TextIn console_in(io.ConsoleIn,
                    series::StreamId{series::kConsoleInUnit, "stdin"});

  WriteGreeting(console_out, console_in);
  std::optional<std::vector<std::string>> series_list =
      ReadSeriesList(io.RunDir, console_out);
  if (!series_list) {
    ReportMissingList(console_out, console_in);
    console_out.Flush();
    return series::kSuccessExitStatus;
  }

  EngineHooks hooks(io.Engine);
  const analysis::AnalysisParams params =
      AskQuestions(console_out, console_in, hooks);

  // "F(Alfa)" may exist already; a failure to create it shows up when the
  // first result file cannot be opened.
  platform::MakeDirectory(ResultFolder(io.RunDir).string());

  SeriesContext context{io.RunDir, console_out,    console_in,     io.Args,
                        0,         hooks.Engine(), PlanOf(params), nullptr};
  if (io.ConsoleFd >= 0) {
    context.WaitForConsole = [&io] {
      WaitForInput(io.ConsoleFd, io.ConsoleIn);
    };
  }
  int status = series::kSuccessExitStatus;
  const series::InterruptGuard stop_between_windows;
  for (std::string& entry : *series_list) {
    const series::SeriesReport report = ProcessSeries(entry, context);
    if (report.Skipped) {
      console_out.Flush();
      textio::WriteRecord(io.Err,
                          "mfwindow: " + *report.Skipped + "; series skipped");
      io.Err.flush();
      status = series::kSkippedExitStatus;
      continue;
    }
    // Said on standard error only: the console and the result files stay
    // as they are, and so does the exit status.
    const std::vector<series::SeriesNote> notes =
        series::SeriesNotes(report.Name, report, params.Lrec);
    if (notes.empty()) continue;
    console_out.Flush();
    for (const series::SeriesNote& note : notes) {
      textio::WriteRecord(io.Err, std::string("mfwindow: ") +
                                      (note.Warning ? "warning: " : "note: ") +
                                      note.Text);
    }
    io.Err.flush();
  }
  console_out.Flush();
  // A stop request that came after the last window was written still
  // counts: the exit status says the run was stopped.
  series::ThrowIfInterrupted();
  return status;
}

}  // namespace driver
