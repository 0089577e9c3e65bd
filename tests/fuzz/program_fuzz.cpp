// Fuzz target for the whole program, run in-process. The input holds three
// parts separated by the byte 0x1E: the contents of "list", the contents of
// the series file "s", and the console answers. Each input runs twice, in
// two fresh folders under one mkdtemp folder in $TMPDIR (or /tmp): once with
// the straightforward kernel, once with the vector kernel on two threads.
//
// Checked for each run:
//   - it returns 0, or 1 with a message per skipped series, or throws
//     series::FatalError (end of console input, an unopenable result file);
//     any other exception is a finding;
//   - nothing is written outside its folder, nor into the fuzzer's current
//     directory; the folder holds "list" and "s" unchanged, and at most
//     "F(Alfa)", below which every file is a result file
//     F(Alfa)_<name>.dat (in a subfolder for a name with a directory part);
//   - every result file is whole lines of 90 characters, each ended by
//     CR LF, each of six 15-character general real fields;
//   - every console line ends with CR LF; each echoed series has as many
//     result lines as progress lines, numbered 0, 1, 2, ...; for the
//     series "s" their number and time marks follow from the answers and
//     the samples of "s" (read here with textio, which has fuzz targets of
//     its own);
//   - both engines give the same outcome, console text and files, byte for
//     byte.
//
// Inputs whose answers settle a window longer than kMaxLrec, whose "list"
// names more than kMaxSeries series, or whose series would give more than
// kMaxWindows windows are skipped: they only make the run slow. So are
// names that could reach device or process files (an endless /dev/zero is
// not the program's fault).
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/params.h"
#include "driver/run.h"
#include "fuzz_support.h"
#include "series/fatal.h"
#include "textio/format.h"
#include "textio/free_read.h"
#include "textio/records.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPartSeparator = '\x1e';
constexpr std::int32_t kMaxLrec = 128;
constexpr std::size_t kMaxSeries = 6;
constexpr std::int64_t kMaxWindows = 48;  // over all series of one run
constexpr std::size_t kResultLine = 90;
constexpr std::size_t kField = 15;

struct Parts {
  std::string_view List;
  std::string_view Series;
  std::string_view Answers;
};

Parts Split(std::string_view bytes) {
  Parts parts;
  std::size_t first = bytes.find(kPartSeparator);
  parts.List = bytes.substr(0, first);
  if (first == std::string_view::npos) return parts;
  const std::size_t second = bytes.find(kPartSeparator, first + 1);
  parts.Series = bytes.substr(first + 1, second - first - 1);
  if (second != std::string_view::npos)
    parts.Answers = bytes.substr(second + 1);
  return parts;
}

std::vector<std::string> Records(std::string_view bytes) {
  std::vector<std::string> records;
  std::size_t pos = 0;
  std::string record;
  while (fuzz::NextRecord(bytes, pos, record)) records.push_back(record);
  return records;
}

bool MentionsSystemFiles(std::string_view text) {
  for (const std::string_view word : {"dev", "proc", "sys", "run", "fd"}) {
    if (text.find(word) != std::string_view::npos) return true;
  }
  return false;
}

// The answers as the dialogue settles them, found by asking the questions
// the way the program does; std::nullopt when the console runs out first.
std::optional<analysis::AnalysisParams> SettledAnswers(
    std::string_view answers) {
  fuzz::SpanBuf buffer(answers);
  std::istream stream(&buffer);
  textio::RecordReader reader(stream);
  analysis::AnalysisParams p;
  // Each question is read until the answer is taken; the end of input ends
  // the run.
  const auto ask = [&](std::initializer_list<textio::FreeTarget> targets,
                       auto accept) {
    for (;;) {
      const textio::FreeReadResult r = textio::ReadFreeValues(
          reader,
          std::span<const textio::FreeTarget>(targets.begin(), targets.size()));
      if (r.Status == textio::kReadEndOfInput) return false;
      if (r.Status == textio::kReadDone && accept()) return true;
    }
  };
  const auto any = [] { return true; };
  if (textio::ReadFreeValues(reader, {}).Status != textio::kReadDone) {
    return std::nullopt;  // no Enter
  }
  if (!ask({&p.IncrFlag}, [&] { return p.IncrFlag == 0 || p.IncrFlag == 1; }))
    return std::nullopt;
  if (!ask({&p.TrendOrder}, any)) return std::nullopt;
  p.TrendOrder = std::clamp(p.TrendOrder, 1, 10);
  if (!ask({&p.Lrec}, any)) return std::nullopt;
  if (p.Lrec < 32) p.Lrec = 32;
  if (p.Lrec > kMaxLrec) return p;  // the caller skips the input
  if (!ask({&p.MinScale}, any)) return std::nullopt;
  if (!ask({&p.WinShift}, any)) return std::nullopt;
  if (p.WinShift <= 0) p.WinShift = 1;
  if (p.WinShift > p.Lrec) p.WinShift = p.Lrec;
  if (!ask({&p.Tini, &p.Tstep}, [&] { return p.Tstep > 0.0; }))
    return std::nullopt;
  return p;
}

// The samples the program takes from a series: one per record, until the
// end or a record whose first item is not a value.
std::vector<double> Samples(std::string_view series) {
  fuzz::SpanBuf buffer(series);
  std::istream stream(&buffer);
  // Series files are read with a byte-order mark skipped and a lone CR
  // ending a record.
  textio::RecordReader reader(stream, textio::RecordRules{true, true});
  std::vector<double> samples;
  for (;;) {
    double value = 0.0;
    const textio::FreeTarget target = &value;
    const textio::FreeReadResult r =
        textio::ReadFreeValues(reader, {&target, 1});
    if (r.Status != textio::kReadDone || r.Assigned != 1) return samples;
    samples.push_back(value);
  }
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  FUZZ_CHECK(in.is_open(), path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  FUZZ_CHECK(!out.fail(), path.string());
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A field of a result line: " NaN", " Infinity" or " -Infinity" padded with
// blanks; the fixed form with six digits in 11 columns and 4 blanks; or the
// exponent form 0.dddddd with "E+dd"/"E-dd" or "+ddd"/"-ddd", right-justified.
bool IsGeneralRealField(std::string_view f) {
  const auto padded = [&](std::string_view text) {
    return f.substr(0, text.size()) == text &&
           f.find_first_not_of(' ', text.size()) == std::string_view::npos;
  };
  if (padded(" NaN") || padded(" Infinity") || padded(" -Infinity")) {
    return true;
  }
  std::string_view text = f.substr(f.find_first_not_of(' '));
  if (text.empty()) return false;
  if (text.front() == '-') text.remove_prefix(1);
  const auto digits = [](std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == s.npos;
  };
  if (f.substr(kField - 4) == "    ") {
    // Fixed: six significant digits, a "0" before a bare fraction.
    const std::string_view fixed = text.substr(0, text.size() - 4);
    const std::size_t point = fixed.find('.');
    if (point == std::string_view::npos) return false;
    const std::string_view integer = fixed.substr(0, point);
    const std::string_view fraction = fixed.substr(point + 1);
    if (!digits(integer) || (!fraction.empty() && !digits(fraction))) {
      return false;
    }
    if (integer == "0") return fraction.size() == 6 || fraction == "00000";
    return integer.front() != '0' && integer.size() + fraction.size() == 6;
  }
  // Exponent form.
  if (text.substr(0, 2) != "0." || text.size() != 12) return false;
  if (!digits(text.substr(2, 6))) return false;
  const std::string_view exponent = text.substr(8);
  if (exponent[0] == 'E') {
    return (exponent[1] == '+' || exponent[1] == '-') &&
           digits(exponent.substr(2));
  }
  return (exponent[0] == '+' || exponent[0] == '-') &&
         digits(exponent.substr(1));
}

void CheckResultFile(const std::string& text, const std::string& name) {
  FUZZ_CHECK(text.size() % (kResultLine + 2) == 0, name);
  for (std::size_t at = 0; at < text.size(); at += kResultLine + 2) {
    const std::string_view line(text.data() + at, kResultLine);
    FUZZ_CHECK(text.compare(at + kResultLine, 2, "\r\n") == 0, name);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos, name);
    for (std::size_t f = 0; f < kResultLine; f += kField) {
      FUZZ_CHECK(IsGeneralRealField(line.substr(f, kField)), line);
    }
  }
}

struct Outcome {
  int Status = -1;    // Run's return value, or -1 when it threw
  std::string Fatal;  // the fatal report, with the folder's path removed
  std::string Console;
  std::string Err;
  std::map<std::string, std::string> Files;  // below the folder
};

std::string WithoutDir(std::string text, const std::string& dir) {
  for (std::size_t at = text.find(dir); at != std::string::npos;
       at = text.find(dir, at)) {
    text.replace(at, dir.size(), "<dir>");
  }
  return text;
}

Outcome RunOnce(const fs::path& dir, const Parts& parts,
                analysis::KernelChoice kernel, int threads) {
  fs::create_directory(dir);
  WriteFile(dir / "list", parts.List);
  WriteFile(dir / "s", parts.Series);

  Outcome outcome;
  std::istringstream console_in{std::string(parts.Answers)};
  std::ostringstream console_out;
  std::ostringstream err;
  try {
    driver::RunIo io{console_in, console_out,
                     err,        dir,
                     {},         analysis::EngineRequest{kernel, threads}};
    outcome.Status = driver::Run(io);
  } catch (const series::FatalError& e) {
    outcome.Fatal = WithoutDir(series::FatalReport(e), dir.string());
    FUZZ_CHECK(outcome.Fatal.rfind("mfwindow: severe (", 0) == 0,
               outcome.Fatal);
  } catch (const std::exception& e) {
    fuzz::Fail("driver::Run threw something other than FatalError", e.what());
  }
  outcome.Console = console_out.str();
  outcome.Err = WithoutDir(err.str(), dir.string());
  FUZZ_CHECK(outcome.Status == -1 || outcome.Status == 0 || outcome.Status == 1,
             outcome.Err);
  // A skipped series is named on standard error; warnings may come with
  // any status.
  FUZZ_CHECK(outcome.Status != 1 || !outcome.Err.empty(), outcome.Err);

  // What the folder holds.
  for (const std::string& name : Listing(dir)) {
    FUZZ_CHECK(name == "list" || name == "s" || name == "F(Alfa)", name);
  }
  FUZZ_CHECK(ReadFile(dir / "list") == parts.List, "list was changed");
  FUZZ_CHECK(ReadFile(dir / "s") == parts.Series, "s was changed");
  const fs::path results = dir / "F(Alfa)";
  if (fs::exists(results)) {
    FUZZ_CHECK(fs::is_directory(fs::symlink_status(results)), "F(Alfa)");
    for (const fs::directory_entry& e :
         fs::recursive_directory_iterator(results)) {
      const fs::file_status status = e.symlink_status();
      const std::string relative = e.path().lexically_relative(dir).string();
      FUZZ_CHECK(fs::is_directory(status) || fs::is_regular_file(status),
                 relative);
      FUZZ_CHECK(relative.rfind("F(Alfa)/F(Alfa)_", 0) == 0, relative);
      if (fs::is_regular_file(status)) {
        FUZZ_CHECK(relative.size() >= 4 &&
                       relative.compare(relative.size() - 4, 4, ".dat") == 0,
                   relative);
        outcome.Files[relative] = ReadFile(e.path());
        CheckResultFile(outcome.Files[relative], relative);
      }
    }
  }

  // Console records: every LF ends a CR LF.
  for (std::size_t at = outcome.Console.find('\n'); at != std::string::npos;
       at = outcome.Console.find('\n', at + 1)) {
    FUZZ_CHECK(at > 0 && outcome.Console[at - 1] == '\r', outcome.Console);
  }
  return outcome;
}

struct Echo {
  std::string Name;
  std::vector<std::string> Progress;
};

// The series the console reports, each with its progress lines.
std::vector<Echo> Echoes(const std::string& console) {
  std::vector<Echo> echoes;
  constexpr std::string_view kEcho = "  File= ";
  std::size_t at = 0;
  while (at < console.size()) {
    std::size_t end = console.find("\r\n", at);
    if (end == std::string::npos) end = console.size();
    const std::string_view record(console.data() + at, end - at);
    at = end + 2;
    const std::size_t echo = record.find(kEcho);
    if (echo != std::string_view::npos) {
      echoes.push_back({std::string(record.substr(echo + kEcho.size())), {}});
    } else if (!record.empty() && record.front() == '+') {
      FUZZ_CHECK(!echoes.empty(), record);
      echoes.back().Progress.emplace_back(record);
    }
  }
  return echoes;
}

void CheckSeries(const Outcome& run, const Parts& parts,
                 const std::optional<analysis::AnalysisParams>& params) {
  // The last echo of each result file decides its lines.
  std::map<std::string, const Echo*> last;
  const std::vector<Echo> echoes = Echoes(run.Console);
  for (const Echo& e : echoes) {
    for (std::size_t n = 0; n < e.Progress.size(); ++n) {
      FUZZ_CHECK(
          e.Progress[n] == "+" + textio::FormatInteger(static_cast<int>(n), 10),
          e.Progress[n]);
    }
    const std::string file =
        (fs::path("F(Alfa)") / ("F(Alfa)_" + e.Name + ".dat"))
            .lexically_normal()
            .string();
    last[file] = &e;
  }
  for (const auto& [file, text] : run.Files) {
    const auto echo = last.find(file);
    FUZZ_CHECK(echo != last.end(), file);
  }
  for (const auto& [file, echo] : last) {
    const auto found = run.Files.find(file);
    FUZZ_CHECK(found != run.Files.end(), file);
    const std::string& text = found->second;
    const std::size_t lines = text.size() / (kResultLine + 2);
    FUZZ_CHECK(lines == echo->Progress.size(), file);

    if (echo->Name != "s" || !params) continue;
    const std::size_t samples = Samples(parts.Series).size();
    const auto lrec = static_cast<std::size_t>(params->Lrec);
    const auto shift = static_cast<std::size_t>(params->WinShift);
    const std::size_t windows =
        samples < lrec ? 0 : 1 + (samples - lrec) / shift;
    FUZZ_CHECK(lines == windows, text);
    for (std::size_t n = 0; n < lines; ++n) {
      const auto pos = static_cast<std::int32_t>(n * shift + lrec);
      const double time_mark =
          static_cast<double>(pos) * params->Tstep + params->Tini;
      FUZZ_CHECK(text.compare(n * (kResultLine + 2), kField,
                              textio::FormatGeneralReal(time_mark, 15, 6)) == 0,
                 text.substr(n * (kResultLine + 2), kResultLine));
    }
  }
}

// The fuzzer's current directory as it was at start-up; set once, before
// the first input.
std::vector<std::string> g_cwd_listing;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cwd_listing = Listing(".");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const Parts parts =
      Split(std::string_view(reinterpret_cast<const char*>(data), size));
  if (MentionsSystemFiles(parts.List) || MentionsSystemFiles(parts.Answers)) {
    return -1;
  }
  const std::vector<std::string> list = Records(parts.List);
  if (list.size() > kMaxSeries) return -1;
  const std::optional<analysis::AnalysisParams> params =
      SettledAnswers(parts.Answers);
  if (params && params->Lrec > kMaxLrec) return -1;
  if (params) {
    // Every series reads at most as many samples as "s" has records.
    const std::int64_t records =
        static_cast<std::int64_t>(Records(parts.Series).size());
    const std::int64_t per_series =
        records < params->Lrec
            ? 0
            : 1 + (records - params->Lrec) / params->WinShift;
    if (per_series * static_cast<std::int64_t>(list.size()) > kMaxWindows) {
      return -1;
    }
  }

  // run.sh points TMPDIR into its own scratch folder, so that the folders
  // of a failing input (kept for a look) go away with it.
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/mfwfuzz.XXXXXX";
  FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, pattern);
  const fs::path top = pattern;

  const Outcome reference =
      RunOnce(top / "a", parts, analysis::KernelChoice::kStraightforward, 1);
  const Outcome fast =
      RunOnce(top / "b", parts, analysis::KernelChoice::kAuto, 2);

  const std::vector<std::string> expected_top = {"a", "b"};
  FUZZ_CHECK(Listing(top) == expected_top, top.string());
  FUZZ_CHECK(Listing(".") == g_cwd_listing, "the current directory changed");

  CheckSeries(reference, parts, params);
  FUZZ_CHECK(fast.Status == reference.Status, fast.Err);
  FUZZ_CHECK(fast.Fatal == reference.Fatal, fast.Fatal);
  FUZZ_CHECK(fast.Console == reference.Console, fast.Console);
  FUZZ_CHECK(fast.Err == reference.Err, fast.Err);
  FUZZ_CHECK(fast.Files == reference.Files, "result files differ");

  std::error_code ignored;
  fs::remove_all(top, ignored);
  return 0;
}
