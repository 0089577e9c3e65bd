#include "driver/series.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "driver/interrupt.h"
#include "driver/result_file.h"
#include "textio/format.h"

namespace driver {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kResultDir = "F(Alfa)";
constexpr std::string_view kResultPrefix = "F(Alfa)_";
constexpr std::string_view kResultSuffix = ".dat";

std::string ErrnoText(int error) { return std::strerror(error); }

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
  // The console read resumes after a signal; a stop request that came
  // meanwhile is honoured once the line is in.
  ThrowIfInterrupted();
  std::string name = context.ConsoleIn.ReadText(kSeriesNameWidth);
  ThrowIfInterrupted();
  LeftAdjust(name);
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

// Creates the folders that a name with a directory part needs inside
// "F(Alfa)"; "F(Alfa)" itself is left as the dialogue made it. Failures
// show up when the result file is opened.
void CreateResultFolders(const fs::path& run_dir, const fs::path& relative) {
  fs::path folder = run_dir;
  auto part = relative.begin();
  folder /= *part++;  // "F(Alfa)"
  for (auto last = std::prev(relative.end()); part != last; ++part) {
    folder /= *part;
    std::error_code ignored;
    fs::create_directory(folder, ignored);
  }
}

void WriteWindowResult(ResultFile& result_file,
                       const analysis::WindowResult& r) {
  const textio::FormattedItem items[] = {r.TimeMark,  r.AlfaMin, r.AlfaMax,
                                         r.AlfaWidth, r.AlfaSz,  r.FAlfaSz};
  result_file.WriteRecord(
      textio::FormattedRecordText(textio::kResultLineFormat, items));
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

std::optional<fs::path> ResultPlace(std::string_view name,
                                    std::string_view suffix) {
  // A NUL would silently cut the name short at every system call.
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  // Any ".." below the results folder is refused, whether or not it would
  // climb out of it: the folders a result needs are made along the name as
  // written.
  const fs::path place(std::string(kResultPrefix) + std::string(name) +
                       std::string(suffix));
  if (place.has_root_path()) return std::nullopt;
  for (const fs::path& part : place) {
    if (part == "..") return std::nullopt;
  }
  return place;
}

std::optional<double> ReadSample(TextIn& series) {
  double value = 0.0;
  const textio::FreeTarget target = &value;
  const textio::FreeReadResult result =
      textio::ReadFreeValues(series.Reader(), {&target, 1});
  if (result.Status != textio::kReadDone || result.Assigned != 1) {
    return std::nullopt;
  }
  return value;
}

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
  path += '/';
  path += kResultPrefix;
  path += name;
  path += kResultSuffix;
  return path;
}

SkipReason ProcessSeries(std::string& entry, SeriesContext& context) {
  const std::size_t trimmed = LeftAdjust(entry);
  const std::string_view name(entry.data(), trimmed);
  const std::string file_name =
      trimmed == 0 ? NameForBlankEntry(context) : std::string(name);

  // A NUL would cut the name short at every system call.
  if (file_name.find('\0') != std::string::npos ||
      name.find('\0') != std::string_view::npos) {
    return "series name \"" + file_name + "\" holds a NUL character";
  }
  const std::optional<fs::path> place = ResultPlace(name, kResultSuffix);
  if (!place) {
    return "result path for \"" + std::string(name) +
           "\" holds a \"..\" component";
  }

  // A series file that does not exist is reported and skipped, not
  // created; any other failure to open it ends the run. A folder opens as
  // a stream but cannot be read: it fails here too.
  const fs::path series_path = context.RunDir / file_name;
  std::ifstream series_file;
  int open_error = 0;
  std::error_code kind;
  if (file_name.empty()) {
    open_error = ENOENT;
  } else if (fs::is_directory(series_path, kind)) {
    open_error = EISDIR;
  } else {
    series_file.open(series_path, std::ios::in | std::ios::binary);
    if (!series_file.is_open()) open_error = errno != 0 ? errno : EIO;
  }
  if (open_error == ENOENT || open_error == ENOTDIR) {
    return "cannot open series file \"" + file_name + "\" (" +
           ErrnoText(open_error) + ")";
  }
  if (open_error != 0) {
    throw FatalError(ErrorNumber::kOpenError,
                     "cannot open file (" + ErrnoText(open_error) + ")",
                     StreamId{kSeriesUnit, file_name});
  }
  TextIn series(series_file, StreamId{kSeriesUnit, file_name});

  CreateResultFolders(context.RunDir, fs::path(kResultDir) / *place);
  ResultFile results(ResultPath(context.RunDir, name));

  WriteEcho(context.ConsoleOut, name);
  context.Analyser.Analyse(
      [&] {
        // A stop request ends the run between samples, never inside a
        // result line.
        ThrowIfInterrupted();
        return ReadSample(series);
      },
      [&](std::int64_t windows_done) {
        const textio::FormattedItem items[] = {windows_done};
        context.ConsoleOut.Formatted(textio::kProgressLineLayout, items);
        context.ConsoleOut.Flush();
      },
      [&](const analysis::WindowResult& r) { WriteWindowResult(results, r); });

  series_file.close();
  results.Close();
  return std::nullopt;
}

}  // namespace driver
