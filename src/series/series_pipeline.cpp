#include "series/series_pipeline.h"

#include <array>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>

#include "platform/platform.h"
#include "series/column_choice.h"
#include "series/fatal.h"
#include "series/gap_bridge.h"
#include "series/interrupt.h"
#include "series/noise_check.h"
#include "series/result_file.h"
#include "series/series_notes.h"
#include "textio/fields.h"
#include "textio/format.h"
#include "textio/iso_stamp.h"

namespace series {
namespace {

namespace fs = std::filesystem;

// How often the reader reports its position in the series file.
constexpr std::int64_t kPositionEvery = 1024;

bool HasDotDot(const fs::path& path) {
  for (const fs::path& part : path) {
    if (part == "..") return true;
  }
  return false;
}

// Creates the folders that a name with a directory part needs inside the
// results folder. Failures show up when the result file is opened.
void CreateResultFolders(const fs::path& result_dir, const fs::path& place) {
  fs::path folder = result_dir;
  for (const fs::path& part : place.parent_path()) {
    folder /= part;
    std::error_code ignored;
    fs::create_directory(folder, ignored);
  }
}

// Opens the series file, or says why it cannot be: errno's code, with
// EISDIR for a folder (which opens as a stream but cannot be read).
int OpenSeries(const fs::path& path, std::ifstream& file) {
  std::error_code kind;
  if (fs::is_directory(path, kind)) return EISDIR;
  errno = 0;
  file.open(path, std::ios::in | std::ios::binary);
  if (file.is_open()) return 0;
  return errno != 0 ? errno : EIO;
}

// Writes `text` to `path` whole or not at all: under a temporary name in
// the same folder, renamed once written and closed.
void WriteWhole(const fs::path& path, const std::string& text) {
  const fs::path part = path.string() + ".part";
  std::ofstream file(part, std::ios::out | std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  std::error_code error;
  if (file.fail()) {
    fs::remove(part, error);
    throw FatalError(ErrorNumber::kWriteError, "cannot write the sidecar",
                     StreamId{kResultUnit, path.string()});
  }
  fs::rename(part, path, error);
  if (error) {
    fs::remove(part, error);
    throw FatalError(ErrorNumber::kWriteError,
                     "cannot rename the sidecar into place",
                     StreamId{kResultUnit, path.string()});
  }
}

}  // namespace

std::uint64_t HashSample(std::uint64_t hash, double sample) {
  const auto bits = std::bit_cast<std::uint64_t>(sample);
  for (int byte = 0; byte < 8; ++byte) {
    hash ^= (bits >> (8 * byte)) & 0xffU;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm utc = platform::UtcCalendar(now);
  std::array<char, 32> text{};
  const std::size_t length =
      std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text.data(), length);
}

fs::path SidecarPath(const fs::path& result) {
  return result.string() + ".json";
}

std::string ResultLine(const analysis::WindowResult& r) {
  const textio::FormattedItem items[] = {r.TimeMark,  r.AlfaMin, r.AlfaMax,
                                         r.AlfaWidth, r.AlfaSz,  r.FAlfaSz};
  return textio::FormattedRecordText(textio::kResultLineFormat, items);
}

ResultStream ResultLineStream() {
  return ResultStream{".dat", std::nullopt,
                      [](const analysis::WindowOutcome& outcome,
                         const std::function<void(std::string_view)>& write) {
                        write(ResultLine(outcome.Result));
                      }};
}

std::optional<std::string> RefusedName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) {
    return "series name \"" + std::string(name) + "\" holds a NUL character";
  }
  if (HasDotDot(fs::path(std::string(name)))) {
    return "result path for \"" + std::string(name) +
           "\" holds a \"..\" component";
  }
  return std::nullopt;
}

std::string ColumnPrefix(const std::optional<ColumnChoice>& column) {
  if (!column || column->Index == 1) return std::string(kResultPrefix);
  std::string prefix = "F(Alfa)@";
  if (column->Index > 0) {
    prefix += std::to_string(column->Index);
  } else {
    constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : column->Name) {
      const auto byte = static_cast<unsigned char>(c);
      // ASCII alone, whatever the locale: the names must not depend on it.
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
          (c >= '0' && c <= '9') || c == '.' || c == '-') {
        prefix += c;
      } else {
        prefix += '%';
        prefix += kHex[byte >> 4U];
        prefix += kHex[byte & 15U];
      }
    }
  }
  return prefix + "_";
}

std::optional<fs::path> ResultPlace(std::string_view name,
                                    std::string_view suffix,
                                    std::string_view prefix) {
  if (RefusedName(name)) return std::nullopt;
  // The prefix makes every place relative, an absolute name's included.
  const fs::path place(std::string(prefix) + std::string(name) +
                       std::string(suffix));
  if (HasDotDot(place)) return std::nullopt;
  return place;
}

SeriesReport RunSeries(const SeriesPipeline& pipeline,
                       std::string_view file_name, std::string_view result_name,
                       analysis::SeriesEngine& engine,
                       const analysis::WindowPlan& plan) {
  SeriesReport report;
  report.Name = file_name;
  report.Started = UtcNow();
  for (const std::string_view name : {file_name, result_name}) {
    if (std::optional<std::string> refused = RefusedName(name)) {
      report.Skipped = std::move(refused);
      return report;
    }
  }

  const bool from_standard_input =
      pipeline.StandardInput != nullptr && file_name == kStandardInputName;
  const std::string file(from_standard_input ? kStandardInputLabel : file_name);
  report.Name = file;
  std::ifstream series_file;
  if (!from_standard_input) {
    const int open_error =
        file.empty() ? ENOENT
                     : OpenSeries(pipeline.BaseDir / file, series_file);
    if (open_error != 0) {
      const bool missing = open_error == ENOENT || open_error == ENOTDIR;
      if (pipeline.Policy == OpenFailure::kSkipAll || missing) {
        // Control characters shown, so that a name read from a "list" with
        // CR-only line ends (one name holding them all) can be recognised.
        report.Skipped = "cannot open series file \"" +
                         textio::VisibleExcerpt(file, std::string::npos) +
                         "\" (" + std::strerror(open_error) + ")";
        return report;
      }
      throw FatalError(
          ErrorNumber::kOpenError,
          std::string("cannot open file (") + std::strerror(open_error) + ")",
          StreamId{kSeriesUnit, file});
    }
  }
  std::istringstream held_input;
  std::istream* series =
      from_standard_input ? pipeline.StandardInput : &series_file;
  analysis::WindowPlan series_plan = plan;

  // A .npy header and the time stamps are read and checked here, before
  // any result file exists.
  std::unique_ptr<SampleReader> reader;
  std::string prefix = pipeline.Prefix;
  try {
    if (pipeline.Input.TimeColumn) {
      if (from_standard_input) {
        held_input.str(std::string(std::istreambuf_iterator<char>(*series),
                                   std::istreambuf_iterator<char>()));
        series = &held_input;
      }
      report.Time =
          ReadTimeAxis(*series, file, pipeline.Input,
                       {engine.Run().Params.Lrec, series_plan.WinShift});
      series->clear();
      if (!series->seekg(0)) {
        report.Failed = file +
                        ": cannot read the series again after its "
                        "time stamps (not a regular file)";
        return report;
      }
      series_plan.Tini = report.Time->Tini;
      series_plan.Tstep = report.Time->Tstep;
      series_plan.Fs = 0.0;
    }
    // A column chosen by name is named by what it is: the first column's
    // results are kResultPrefix's however it was chosen, so that a rerun by
    // number replaces them rather than leaving a second result beside them.
    const std::optional<ColumnChoice>& column = pipeline.Input.Column;
    report.Column = column;
    if (column && column->Index == 0 && pipeline.Prefix != kResultPrefix &&
        !pipeline.ToStandardOutput) {
      if (from_standard_input && series != &held_input) {
        held_input.str(std::string(std::istreambuf_iterator<char>(*series),
                                   std::istreambuf_iterator<char>()));
        series = &held_input;
      }
      const std::int32_t index = FindColumn(*series, pipeline.Input, *column);
      series->clear();
      if (!series->seekg(0)) {
        report.Failed = file +
                        ": cannot read the series again after its header "
                        "row (not a regular file)";
        return report;
      }
      report.Column->Index = index;
      if (index == 1) prefix = std::string(kResultPrefix);
    }
    reader = MakeSampleReader(*series, file, pipeline.Input);
  } catch (const BadSeriesInput& bad) {
    report.Failed = bad.what();
    return report;
  }

  const bool dated = report.Time && !report.Time->Origin.empty();
  struct Output {
    const ResultStream& Stream;
    ResultFile File;
    std::optional<fs::path> Path;  // none for standard output
  };
  std::vector<std::unique_ptr<Output>> outputs;
  assert(!pipeline.ToStandardOutput || pipeline.Streams.size() == 1);
  for (const ResultStream& stream : pipeline.Streams) {
    if (pipeline.ToStandardOutput) {
      outputs.emplace_back(
          new Output{stream, ResultFile::StandardOutput(), std::nullopt});
    } else {
      const fs::path place = *ResultPlace(result_name, stream.Suffix, prefix);
      CreateResultFolders(pipeline.ResultDir, place);
      const fs::path path =
          pipeline.ResultDir.string() + platform::kSeparator + place.string();
      outputs.emplace_back(new Output{stream,
                                      pipeline.Staged
                                          ? ResultFile::Staged(path.string())
                                          : ResultFile(path.string()),
                                      path});
    }
    if (stream.Header) {
      outputs.back()->File.WriteRecord(
          *stream.Header + (dated && stream.Dated ? ",time_iso" : ""));
    }
  }
  if (pipeline.Opened) pipeline.Opened();

  std::int64_t samples = 0;
  std::int64_t gaps = 0;  // windows of status gap
  std::optional<GapBridge> bridge;
  if (pipeline.BridgeGaps > 0) {
    bridge.emplace(pipeline.BridgeGaps, engine.Run().Params.Lrec,
                   series_plan.WinShift);
  }
  std::optional<LagOneCorrelation> lag_one;
  if (pipeline.WatchForNoise && !engine.Run().Params.Method.Profile) {
    lag_one.emplace(engine.Run().Params.IncrFlag == 1);
  }
  const std::function<std::optional<double>()> read_sample = [&] {
    std::optional<double> sample = reader->Next();
    if (sample && lag_one) lag_one->Add(*sample);
    return sample;
  };
  const auto next_sample = [&]() -> std::optional<double> {
    if (pipeline.FilePosition && !from_standard_input &&
        ++samples % kPositionEvery == 0) {
      const std::streamoff at = series_file.tellg();
      if (at > 0) pipeline.FilePosition(static_cast<std::uint64_t>(at));
    }
    // A stop request ends the run between samples, never inside a record.
    ThrowIfInterrupted();
    std::optional<double> sample =
        bridge ? bridge->Next(read_sample) : read_sample();
    if (sample) {
      ++report.SamplesRead;
      report.SampleHash = HashSample(report.SampleHash, *sample);
    }
    return sample;
  };
  const auto write_window = [&](const analysis::WindowOutcome& given) {
    // Windows already read may still be waiting to be written when the
    // series ends; a stop request is honoured there too.
    ThrowIfInterrupted();
    analysis::WindowOutcome outcome = given;
    if (bridge) bridge->Mark(outcome.Number, outcome.Quality);
    // Every window's last sample has its stamp: each stamp was read.
    const auto end = static_cast<std::size_t>(outcome.Number - 1);
    if (pipeline.Input.TimeLabels) {
      outcome.Result.TimeMark = report.Time->EndMarks.at(end);
    }
    if (pipeline.WindowDone) pipeline.WindowDone(outcome);
    std::string stamp;
    if (dated) {
      stamp = ",";
      stamp += textio::FormatIsoStamp(report.Time->EndNs.at(end));
    }
    for (const std::unique_ptr<Output>& output : outputs) {
      const bool add = !stamp.empty() && output->Stream.Dated;
      output->Stream.Records(outcome, [&](std::string_view record) {
        output->File.WriteRecord(add ? std::string(record) + stamp : record);
      });
    }
    report.Windows = outcome.Number;
    if (IsDegenerate(outcome.Result)) ++report.DegenerateWindows;
    if (outcome.Quality.Status == analysis::QualityStatus::kGap) ++gaps;
  };
  const auto discard = [&outputs] {
    for (const std::unique_ptr<Output>& output : outputs) {
      output->File.Discard();
    }
  };
  try {
    // The engine looks for a stop request inside long windows too.
    engine.Analyse(series_plan, next_sample, write_window,
                   pipeline.WithSpectrum, ThrowIfInterrupted);
  } catch (const BadSeriesInput& bad) {
    // The windows before the bad record are no result of the series: the
    // files that hold them go, so that nothing looks complete that is not.
    discard();
    report.Failed = bad.what();
    report.FailedOnBadSample = bad.BadSample();
    report.Input = reader->Summary();
    return report;
  }
  report.Input = reader->Summary();
  if (bridge) report.Bridged = bridge->Bridged();
  if (lag_one) {
    report.LagOne = lag_one->Value();
    report.LagOneOfIncrements = engine.Run().Params.IncrFlag == 1;
  }
  if (pipeline.FailWhenEveryWindowIsAGap && report.Windows > 0 &&
      gaps == report.Windows) {
    discard();
    const InputSummary& input = report.Input;
    report.Failed =
        report.Name + ": every one of its " + std::to_string(report.Windows) +
        (report.Windows == 1 ? " window holds" : " windows hold") +
        " a gap, so none was analysed (" + std::to_string(input.Masked) +
        " of " + std::to_string(input.Samples + input.Masked) +
        " samples are gaps; the first: " +
        (input.FirstSkipped ? input.FirstSkipped->Text() : "") + ")";
    return report;
  }

  series_file.close();
  for (const std::unique_ptr<Output>& output : outputs) output->File.Close();
  report.Ended = UtcNow();
  if (pipeline.Sidecar && !outputs.empty() && outputs.front()->Path) {
    WriteWhole(SidecarPath(*outputs.front()->Path), pipeline.Sidecar(report));
  }
  return report;
}

}  // namespace series
