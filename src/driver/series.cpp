#include "driver/series.h"

#include <string>

#include "driver/dialogue.h"
#include "platform/platform.h"
#include "series/interrupt.h"
#include "textio/fields.h"
#include "textio/format.h"

namespace driver {
namespace {

constexpr std::string_view kResultDir = "F(Alfa)";

// The name typed for a blank entry: the next unused command-line argument,
// else the console.
std::string NameForBlankEntry(SeriesContext& context) {
  if (context.ArgsUsed < context.Args.size()) {
    return context.Args[context.ArgsUsed++];
  }
  context.ConsoleOut.Line(
      "File name missing or blank - please enter file name");
  context.ConsoleOut.Prompt("UNIT " + std::to_string(series::kSeriesUnit) +
                            "? ");
  context.ConsoleOut.Flush();
  // A read from the console resumes after a signal; the wait before it is
  // where a stop request is noticed.
  if (context.WaitForConsole) context.WaitForConsole();
  series::ThrowIfInterrupted();
  std::string name = context.ConsoleIn.ReadText(kSeriesNameWidth);
  series::ThrowIfInterrupted();
  textio::LeftAdjust(name);
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

void WriteEcho(TextOut& console_out, std::string_view name) {
  std::vector<textio::FormattedItem> items;
  items.reserve(name.size() + 1);
  items.emplace_back(std::string_view("File= "));
  for (std::size_t i = 0; i < name.size(); ++i) {
    items.emplace_back(name.substr(i, 1));
  }
  const int supplied[] = {static_cast<int>(name.size())};
  console_out.Formatted(textio::kEchoLineLayout, items, supplied);
  console_out.Free({" "});
}

}  // namespace

std::filesystem::path ResultFolder(const std::filesystem::path& run_dir) {
#if defined(_WIN32)
  return run_dir.string() + platform::kSeparator + std::string(kResultDir);
#else
  return run_dir / kResultDir;
#endif
}

series::SeriesReport ProcessSeries(std::string& entry, SeriesContext& context) {
  const std::size_t trimmed = textio::LeftAdjust(entry);
  const std::string_view name(entry.data(), trimmed);
  const std::string file_name =
      trimmed == 0 ? NameForBlankEntry(context) : std::string(name);

  series::SeriesPipeline pipeline;
  pipeline.BaseDir = context.RunDir;
  pipeline.ResultDir = ResultFolder(context.RunDir);
  pipeline.Policy = series::OpenFailure::kSkipMissing;
  pipeline.Streams.push_back(series::ResultLineStream());
  pipeline.Opened = [&] { WriteEcho(context.ConsoleOut, name); };
  pipeline.WindowDone = [&](const analysis::WindowOutcome& outcome) {
    const textio::FormattedItem items[] = {outcome.Number - 1};
    context.ConsoleOut.Formatted(textio::kProgressLineLayout, items);
    context.ConsoleOut.Flush();
  };
  return series::RunSeries(pipeline, file_name, name, context.Engine,
                           context.Plan);
}

}  // namespace driver
