#include "driver/run.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <cstdint>
#include <memory>
#include <new>
#include <system_error>

#include "analysis/moving_window.h"
#include "analysis/parallel_series.h"
#include "analysis/run_constants.h"
#include "analysis/window_analysis.h"
#include "driver/dialogue.h"
#include "driver/fatal.h"
#include "driver/interrupt.h"
#include "driver/series.h"
#include "driver/text_streams.h"
#include "textio/records.h"

namespace driver {
namespace {

// Storage that the system could never give (more than its memory and swap,
// or the process' address-space limit) is refused at once, before anything
// is touched: on a system that overcommits memory the allocation itself
// would succeed and the run would be killed later, when the window fills.
bool StorageFits(std::int64_t bytes) {
  long double available = 0.0L;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    available = (static_cast<long double>(info.totalram) + info.totalswap) *
                info.mem_unit;
  }
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      (available == 0.0L || limit.rlim_cur < available)) {
    available = static_cast<long double>(limit.rlim_cur);
  }
  return available <= 0.0L || static_cast<long double>(bytes) <= available;
}

// Builds the run constants and the analysis storage at the dialogue's two
// fixed points, and analyses series with the chosen engine.
class EngineHooks final : public DialogueHooks, public SeriesAnalyser {
 public:
  EngineHooks(Engine choice, int threads)
      : choice_(choice),
        threads_(threads > 0 ? threads : analysis::AvailableCores()) {}

  void OrderSettled(const analysis::AnalysisParams&) override {
    analysis::FillQGrid(run_);
  }

  void MinScaleSettled(const analysis::AnalysisParams& params) override {
    // Fewer threads, each with its windows in flight, before no run at all.
    if (choice_ == Engine::kReference) threads_ = 1;
    while (threads_ > 1 &&
           !StorageFits(analysis::RunStorageBytes(params, threads_))) {
      --threads_;
    }
    if (!StorageFits(analysis::RunStorageBytes(params, threads_))) {
      throw std::bad_alloc();
    }
    if (choice_ == Engine::kReference) {
      buffers_ = std::make_unique<analysis::WindowBuffers>(params.Lrec);
      analysis::PrepareRun(run_, params);
      work_ = std::make_unique<analysis::Workspace>(run_);
    } else {
      analysis::PrepareRun(run_, params);
      parallel_ =
          std::make_unique<analysis::ParallelSeriesAnalyser>(run_, threads_);
    }
  }

  // The window shift and time axis are settled after the tables are built.
  void Settle(const analysis::AnalysisParams& params) { run_.Params = params; }

  void Analyse(
      const std::function<std::optional<double>()>& next_sample,
      const std::function<void(std::int64_t)>& on_progress,
      const std::function<void(const analysis::WindowResult&)>& emit) override {
    if (parallel_) {
      parallel_->Analyse(next_sample, on_progress, emit);
    } else {
      analysis::AnalyseSeries(run_, *work_, *buffers_, next_sample, on_progress,
                              emit);
    }
  }

 private:
  Engine choice_;
  int threads_;
  analysis::RunConstants run_;
  std::unique_ptr<analysis::WindowBuffers> buffers_;
  std::unique_ptr<analysis::Workspace> work_;
  std::unique_ptr<analysis::ParallelSeriesAnalyser> parallel_;
};

}  // namespace

int Run(RunIo io) {
  TextOut console_out(io.ConsoleOut, StreamId{kConsoleOutUnit, "stdout"});
  TextIn console_in(io.ConsoleIn, StreamId{kConsoleInUnit, "stdin"});

  WriteGreeting(console_out, console_in);
  std::optional<std::vector<std::string>> series_list =
      ReadSeriesList(io.RunDir, console_out);
  if (!series_list) {
    ReportMissingList(console_out, console_in);
    console_out.Flush();
    return kSuccessExitStatus;
  }

  EngineHooks engine(io.Choice, io.Threads);
  engine.Settle(AskQuestions(console_out, console_in, engine));

  // "F(Alfa)" may exist already; a failure to create it shows up when the
  // first result file cannot be opened.
  std::error_code ignored;
  std::filesystem::create_directory(io.RunDir / "F(Alfa)", ignored);

  SeriesContext context{io.RunDir, console_out, console_in, io.Args, 0, engine};
  int status = kSuccessExitStatus;
  const InterruptGuard stop_between_windows;
  for (std::string& entry : *series_list) {
    if (SkipReason skipped = ProcessSeries(entry, context)) {
      console_out.Flush();
      textio::WriteRecord(io.Err, "mfwindow: " + *skipped + "; series skipped");
      io.Err.flush();
      status = kSkippedExitStatus;
    }
  }
  console_out.Flush();
  return status;
}

}  // namespace driver
