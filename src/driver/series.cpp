#include "driver/series.h"

#include <string>

#include "driver/dialogue.h"
#include "driver/interrupt.h"
#include "textio/format.h"

namespace driver {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kResultDir = "F(Alfa)";

// The name typed for a blank entry: the next unused command-line argument,
// else the console.
std::string NameForBlankEntry(SeriesContext& context) {
  if (context.ArgsUsed < context.Args.size()) {
    return context.Args[context.ArgsUsed++];
  }
  context.ConsoleOut.Line(
      "File name missing or blank - please enter file name");
  context.ConsoleOut.Prompt("UNIT " + std::to_string(kSeriesUnit) + "? ");
  context.ConsoleOut.Flush();
  // A read from the console resumes after a signal; the wait before it is
  // where a stop request is noticed.
  if (context.WaitForConsole) context.WaitForConsole();
  ThrowIfInterrupted();
  std::string name = context.ConsoleIn.ReadText(kSeriesNameWidth);
  ThrowIfInterrupted();
  LeftAdjust(name);
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

std::size_t LeftAdjust(std::string& entry) {
  const std::size_t first = entry.find_first_not_of(' ');
  if (first == std::string::npos) return 0;
  if (first > 0) {
    entry.erase(0, first);
    entry.append(first, ' ');
  }
  return entry.find_last_not_of(' ') + 1;
}

std::string ResultPath(const fs::path& run_dir, std::string_view name) {
  std::string path = run_dir.string();
  if (path.empty() || path.back() != '/') path.push_back('/');
  path += kResultDir;
  path += "/F(Alfa)_";
  path += name;
  path += ".dat";
  return path;
}

SeriesReport ProcessSeries(std::string& entry, SeriesContext& context) {
  const std::size_t trimmed = LeftAdjust(entry);
  const std::string_view name(entry.data(), trimmed);
  const std::string file_name =
      trimmed == 0 ? NameForBlankEntry(context) : std::string(name);

  SeriesPipeline pipeline;
  pipeline.BaseDir = context.RunDir;
  pipeline.ResultDir = context.RunDir / kResultDir;
  pipeline.Policy = OpenFailure::kSkipMissing;
  pipeline.Streams.push_back(ResultLineStream());
  pipeline.Opened = [&] { WriteEcho(context.ConsoleOut, name); };
  pipeline.WindowDone = [&](const analysis::WindowOutcome& outcome) {
    const textio::FormattedItem items[] = {outcome.Number - 1};
    context.ConsoleOut.Formatted(textio::kProgressLineLayout, items);
    context.ConsoleOut.Flush();
  };
  return RunSeries(pipeline, file_name, name, context.Engine, context.Plan);
}

}  // namespace driver
