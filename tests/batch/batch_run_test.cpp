#include "batch/batch_run.h"

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "series/column_choice.h"
#include "series/fatal.h"
#include "series/result_file.h"
#include "series/result_records.h"
#include "series/series_pipeline.h"
#include "textio/full_precision.h"
#include "textio/iso_stamp.h"

namespace batch {
namespace {

namespace fs = std::filesystem;

// A fresh scratch directory per test, inside this build's tree: a folder
// under /tmp named after the test would be shared with the same test of
// another checkout running at the same moment, which empties it under
// this one's feet.
fs::path ScratchDir() {
  const testing::TestInfo* info =
      testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir =
      fs::path(BATCH_EXE).parent_path() / "tests" / "batch_run_work" /
      (std::string(info->test_suite_name()) + "." + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReadListFile, ReadsNamesAsMfwindowReadsList) {
  const fs::path dir = ScratchDir();
  const std::string long_name(300, 'x');
  WriteFile(dir / "list",
            "a.txt\r\n"       // CR LF
            "   b c.txt  \n"  // leading blanks dropped, inner ones kept
            "\n"              // blank: names nothing
            "    \n" +
                long_name +  // only the first 256 characters name it
                "\n"
                "last");  // no line end
  EXPECT_EQ(ReadListFile(dir / "list"),
            (std::vector<std::string>{"a.txt", "b c.txt", std::string(256, 'x'),
                                      "last"}));
  EXPECT_THROW(ReadListFile(dir / "missing"), series::FatalError);
}

// Every series lands in exactly one shard, whatever the list's length, and
// each shard keeps list order.
TEST(SelectShard, ShardsCoverTheListExactlyOnce) {
  for (std::size_t n = 0; n <= 8; ++n) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < n; ++i) names.push_back(std::to_string(i));
    for (std::int32_t count = 1; count <= 4; ++count) {
      SCOPED_TRACE(testing::Message() << n << " series, " << count);
      std::multiset<std::string> seen;
      for (std::int32_t index = 1; index <= count; ++index) {
        const std::vector<std::string> mine =
            SelectShard(names, Shard{index, count});
        for (std::size_t k = 0; k < mine.size(); ++k) {
          // Series k of shard I is list entry I - 1 + k*N.
          EXPECT_EQ(mine[k], names[static_cast<std::size_t>(index - 1) +
                                   k * static_cast<std::size_t>(count)]);
          seen.insert(mine[k]);
        }
      }
      EXPECT_EQ(seen, std::multiset<std::string>(names.begin(), names.end()));
    }
  }
}

BatchOptions Options(std::vector<std::string> series) {
  BatchOptions o;
  o.Given.Threads = 2;
  o.Series = std::move(series);
  return o;
}

struct Ran {
  int Status;
  std::string Err;
};
Ran RunIn(const BatchOptions& options, const fs::path& dir) {
  std::ostringstream err;
  const int status = RunBatch(options, BatchIo{err, ProgressMode::kLines, dir});
  return {status, err.str()};
}

TEST(RunBatch, SkipsMissingAndEscapingSeriesWithStatus1) {
  const fs::path dir = ScratchDir();
  fs::copy_file(fs::path(EXAMPLES_DIR) / "walk.txt", dir / "walk.txt");
  BatchOptions o = Options({"missing.txt", "walk.txt", "a/../../walk.txt"});
  o.OutDir = "out";
  const Ran ran = RunIn(o, dir);
  EXPECT_EQ(ran.Status, kExitSkipped);
  EXPECT_NE(ran.Err.find("mfwindow-batch: cannot open series file "
                         "\"missing.txt\" (No such file or directory); "
                         "series skipped\n"),
            std::string::npos)
      << ran.Err;
  EXPECT_NE(ran.Err.find("mfwindow-batch: result path for "
                         "\"a/../../walk.txt\" holds a \"..\" component; "
                         "series skipped\n"),
            std::string::npos)
      << ran.Err;
  // The series between them is done all the same.
  EXPECT_NE(ran.Err.find("walk.txt: 41 windows (2/3 series)"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "out" / "F(Alfa)_walk.txt.dat"));
  EXPECT_FALSE(fs::exists(dir / "out" / "F(Alfa)_missing.txt.dat"));
  EXPECT_FALSE(fs::exists(dir / "walk.txt.dat"));
}

TEST(RunBatch, SeriesShorterThanTheWindowGivesAnEmptyResult) {
  const fs::path dir = ScratchDir();
  WriteFile(dir / "short.txt", "1\n2\n3\n");
  const Ran ran = RunIn(Options({"short.txt"}), dir);
  EXPECT_EQ(ran.Status, kExitSuccess);
  EXPECT_EQ(ReadFile(dir / "F(Alfa)" / "F(Alfa)_short.txt.dat"), "");
}

// --verbose says what runs a listed q grid: the vector kernel takes only
// the described one.
TEST(RunBatch, VerboseNamesTheKernelAndScheduler) {
  const fs::path dir = ScratchDir();
  WriteFile(dir / "short.txt", "1\n2\n3\n");
  BatchOptions options = Options({"short.txt"});
  options.Verbose = true;
  options.Given.Threads = 1;
  EXPECT_NE(
      RunIn(options, dir)
          .Err.find(
              "mfwindow-batch: vector kernel, serial scheduler, 1 thread\n"),
      std::string::npos);
  // A listed grid runs the vector kernel too; --kernel straightforward
  // forces the straightforward one.
  options.Given.QList = {-2.0, 0.0, 2.0};
  EXPECT_NE(RunIn(options, dir).Err.find("vector kernel, serial"),
            std::string::npos);
  options.Given.Kernel = mfwindow::KernelChoice::kStraightforward;
  EXPECT_NE(RunIn(options, dir).Err.find("straightforward kernel, serial"),
            std::string::npos);
}

std::vector<std::string> Records(const std::string& text) {
  std::vector<std::string> records;
  std::size_t start = 0;
  for (std::size_t end = text.find("\r\n"); end != std::string::npos;
       start = end + 2, end = text.find("\r\n", start)) {
    records.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "a record without CR LF";
  return records;
}

// The CSV holds the very doubles that the dat file renders: read back and
// rendered again, each row gives the dat line. Guards against rounding in
// the CSV (too few digits) and rows out of order.
TEST(RunBatch, CsvValuesRenderToTheDatLines) {
  const fs::path dir = ScratchDir();
  for (const char* name : {"walk.txt", "cascade.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, dir / name);
  }
  BatchOptions o = Options({"walk.txt", "cascade.txt"});
  o.Given.IncrFlag = 1;
  o.Given.Tini = 0.3;
  o.Given.Tstep = 0.1;
  o.OutDir = "dat";
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  o.OutDir = "csv";
  o.Format = OutputFormat::kCsv;
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);

  for (const char* name : {"walk.txt", "cascade.txt"}) {
    SCOPED_TRACE(name);
    const std::vector<std::string> dat = Records(
        ReadFile(dir / "dat" / ("F(Alfa)_" + std::string(name) + ".dat")));
    const std::vector<std::string> csv = Records(
        ReadFile(dir / "csv" / ("F(Alfa)_" + std::string(name) + ".csv")));
    ASSERT_FALSE(dat.empty());
    ASSERT_EQ(csv.size(), dat.size() + 1);
    EXPECT_EQ(csv[0], std::string(series::kCsvHeader) +
                          std::string(series::kCsvFitHeader));
    for (std::size_t i = 0; i < dat.size(); ++i) {
      double v[6] = {};
      const char* at = csv[i + 1].data();
      const char* end = at + csv[i + 1].size();
      for (int k = 0; k < 6; ++k) {
        const auto [next, ec] = std::from_chars(at, end, v[k]);
        ASSERT_EQ(ec, std::errc{}) << csv[i + 1];
        ASSERT_EQ(*next, ',') << csv[i + 1];
        at = next + 1;
      }
      EXPECT_EQ(series::ResultLine({v[0], v[1], v[2], v[3], v[4], v[5]}),
                dat[i])
          << i;
    }
  }
}

// The spectrum file's rows match the result rows they belong to.
TEST(RunBatch, SpectrumFileHas300RowsPerWindow) {
  const fs::path dir = ScratchDir();
  fs::copy_file(fs::path(EXAMPLES_DIR) / "cascade.txt", dir / "cascade.txt");
  BatchOptions o = Options({"cascade.txt"});
  o.Given.Spectrum = true;
  o.Given.WinShift = 1000;
  o.Format = OutputFormat::kCsv;
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  const std::vector<std::string> rows =
      Records(ReadFile(dir / "F(Alfa)" / "F(Alfa)_cascade.txt.csv"));
  const std::vector<std::string> spectrum =
      Records(ReadFile(dir / "F(Alfa)" / "F(Alfa)_cascade.txt.spectrum.csv"));
  ASSERT_EQ(rows.size(), 1u + 4u);  // 4096 samples: 4 windows of 1000
  ASSERT_EQ(spectrum.size(), 1u + 4u * 300u);
  EXPECT_EQ(spectrum[0], series::kSpectrumHeader);
  for (std::size_t w = 0; w < 4; ++w) {
    const std::string time = rows[w + 1].substr(0, rows[w + 1].find(','));
    const std::string lead = std::to_string(w + 1) + "," + time + ",";
    EXPECT_EQ(spectrum[1 + w * 300].rfind(lead + "-10,", 0), 0u)
        << spectrum[1 + w * 300];
    EXPECT_EQ(spectrum[300 + w * 300].rfind(lead + ",,,100,", 0), 0u)
        << spectrum[300 + w * 300];
  }
}

// The input traps of real recordings, each as a new user met it: the
// analysis looked as if it worked when it did not. Each test is named after
// the trap it guards.

// A random walk of `n` steps, exact in text (shortest round-trip form).
std::vector<double> Walk(std::size_t n, std::uint64_t seed) {
  std::vector<double> walk;
  double x = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    x += static_cast<double>(seed >> 11U) * 0x1p-53 - 0.5;
    walk.push_back(x);
  }
  return walk;
}

std::string Number(double v) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  EXPECT_EQ(ec, std::errc{});
  return std::string(text, end);
}

std::string Lines(const std::vector<double>& values, const char* end = "\n") {
  std::string text;
  for (const double v : values) text += Number(v) + end;
  return text;
}

std::string Result(const fs::path& dir, const std::string& name,
                   const char* suffix = ".dat",
                   const std::string& prefix = "F(Alfa)_") {
  return ReadFile(dir / "F(Alfa)" / (prefix + name + suffix));
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

TEST(InputTraps, HeaderRowGaveZeroWindowsSilently) {
  const fs::path dir = ScratchDir();
  const std::vector<double> fz = Walk(3000, 1);
  std::string csv = "timestamp,Fz,Cz,Pz\n";
  for (std::size_t i = 0; i < fz.size(); ++i) {
    csv +=
        Number(0.004 * static_cast<double>(i)) + "," + Number(fz[i]) + ",1,2\n";
  }
  WriteFile(dir / "eeg.csv", csv);
  const Ran plain = RunIn(Options({"eeg.csv"}), dir);
  EXPECT_EQ(plain.Status, kExitSkipped);
  EXPECT_NE(plain.Err.find("mfwindow-batch: eeg.csv:1: not a number: "
                           "\"timestamp,Fz,Cz,Pz\" (a header row? choose a "
                           "column with --column, by number or by name); "
                           "series failed\n"),
            std::string::npos)
      << plain.Err;
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)_eeg.csv.dat"));

  // The header is found, and Fz gives the windows of Fz alone.
  WriteFile(dir / "fz.txt", Lines(fz));
  ASSERT_EQ(RunIn(Options({"fz.txt"}), dir).Status, kExitSuccess);
  BatchOptions by_name = Options({"eeg.csv"});
  by_name.Input.Delimited = true;
  by_name.Input.Column = series::ColumnChoice{0, "Fz"};
  const Ran ran = RunIn(by_name, dir);
  EXPECT_EQ(ran.Status, kExitSuccess) << ran.Err;
  const std::string fz_result = Result(dir, "eeg.csv", ".dat", "F(Alfa)@Fz_");
  EXPECT_EQ(Records(fz_result).size(), 21u);
  EXPECT_EQ(fz_result, Result(dir, "fz.txt"));
}

// 20,000 samples with a gap at sample 7001 gave 61 windows instead of 191
// (window 1000, shift 100), exit 0, and not a word.
TEST(InputTraps, BadLineAtSample7000EndedTheSeriesSilently) {
  const fs::path dir = ScratchDir();
  const std::vector<double> walk = Walk(20000, 2);
  const std::vector<double> head(walk.begin(), walk.begin() + 7000);
  const std::vector<double> tail(walk.begin() + 7000, walk.end());
  struct Gap {
    const char* name;
    const char* line;
    const char* problem;
  };
  const Gap gaps[] = {
      {"nan.txt", "NaN", "not a number: \"NaN\""},
      {"na.txt", "NA", "not a number: \"NA\""},
      {"empty.txt", "", "empty line (a missing sample)"},
  };
  std::vector<std::string> names;
  for (const Gap& gap : gaps) {
    WriteFile(dir / gap.name, Lines(head) + gap.line + "\n" +
                                  Lines({tail.begin() + 1, tail.end()}));
    names.push_back(gap.name);
  }

  // error (the default): failed, named by file:line, no result, status 1.
  const Ran failed = RunIn(Options(names), dir);
  EXPECT_EQ(failed.Status, kExitSkipped);
  for (const Gap& gap : gaps) {
    EXPECT_NE(failed.Err.find(std::string("mfwindow-batch: ") + gap.name +
                              ":7001: " + gap.problem +
                              "; series failed (--on-bad-sample stop or "
                              "skip reads on)\n"),
              std::string::npos)
        << failed.Err;
    EXPECT_FALSE(fs::exists(dir / "F(Alfa)" /
                            ("F(Alfa)_" + std::string(gap.name) + ".dat")));
  }

  // stop: the 61 windows before the gap, and a warning.
  BatchOptions stop = Options(names);
  stop.Input.OnBadSample = series::BadSamplePolicy::kStop;
  const Ran stopped = RunIn(stop, dir);
  EXPECT_EQ(stopped.Status, kExitSuccess);
  for (const Gap& gap : gaps) {
    EXPECT_EQ(Records(Result(dir, gap.name)).size(), 61u) << gap.name;
    EXPECT_NE(stopped.Err.find(std::string("mfwindow-batch: warning: ") +
                               gap.name + ":7001: " + gap.problem +
                               "; the series ends there, after 7000 "
                               "samples\n"),
              std::string::npos)
        << stopped.Err;
  }

  // skip: the 19,999 samples left give 190 windows, the same as a file
  // without the gap line.
  WriteFile(dir / "closed.txt",
            Lines(head) + Lines({tail.begin() + 1, tail.end()}));
  names.push_back("closed.txt");
  BatchOptions skip = Options(names);
  skip.Input.OnBadSample = series::BadSamplePolicy::kSkip;
  const Ran skipped = RunIn(skip, dir);
  EXPECT_EQ(skipped.Status, kExitSuccess);
  EXPECT_EQ(Records(Result(dir, "closed.txt")).size(), 190u);
  for (const Gap& gap : gaps) {
    EXPECT_EQ(Result(dir, gap.name), Result(dir, "closed.txt")) << gap.name;
    EXPECT_NE(
        skipped.Err.find(std::string("mfwindow-batch: note: ") + gap.name +
                         ": 1 bad sample skipped (the first: " + gap.name +
                         ":7001: " + gap.problem + "); 19999 samples read\n"),
        std::string::npos)
        << skipped.Err;
  }

  // mask: the gap stays in place. The whole walk's time axis, the 10
  // windows over sample 7001 (62..71) flagged gap, every other row the
  // whole walk's own, byte for byte.
  WriteFile(dir / "whole.txt", Lines(walk));
  BatchOptions mask = Options({"nan.txt", "na.txt", "empty.txt", "whole.txt"});
  mask.Input.OnBadSample = series::BadSamplePolicy::kMask;
  mask.Format = OutputFormat::kCsv;
  ASSERT_EQ(RunIn(mask, dir).Status, kExitSuccess);
  const std::vector<std::string> whole =
      Records(Result(dir, "whole.txt", ".csv"));
  ASSERT_EQ(whole.size(), 192u);  // the header and 191 windows
  for (const Gap& gap : gaps) {
    const std::vector<std::string> rows =
        Records(Result(dir, gap.name, ".csv"));
    ASSERT_EQ(rows.size(), whole.size()) << gap.name;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (i < 62 || i > 71) {
        EXPECT_EQ(rows[i], whole[i]) << gap.name << " row " << i;
        continue;
      }
      const std::string time = whole[i].substr(0, whole[i].find(',') + 1);
      EXPECT_EQ(rows[i].substr(0, time.size() + 20),
                time + "nan,nan,nan,nan,nan,")
          << gap.name << " row " << i;
      EXPECT_NE(rows[i].find(",gap,"), std::string::npos) << rows[i];
    }
  }
}

// The time axis (Tini + pos * Tstep, or pos / Fs) and the sidecar that
// names how a result was made.
TEST(RunBatch, TimeAxisAndSidecar) {
  const fs::path dir = ScratchDir();
  WriteFile(dir / "walk.txt", Lines(Walk(3000, 5)));
  struct Case {
    double fs;
    std::int32_t shift;
    double first;  // the time mark of window 1 (window 1000)
    double step;   // between windows
  };
  for (const Case& c : {Case{0.0, 250, 1000.0, 250.0},
                        Case{250.0, 250, 4.0, 1.0}, Case{4.0, 2, 250.0, 0.5}}) {
    SCOPED_TRACE(c.fs);
    BatchOptions o = Options({"walk.txt"});
    if (c.fs > 0.0) o.Given.Fs = c.fs;  // 0 here: left out
    o.Given.WinShift = c.shift;
    o.Format = OutputFormat::kCsv;
    ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
    const std::vector<std::string> rows =
        Records(Result(dir, "walk.txt", ".csv"));
    ASSERT_EQ(rows.size(), 2000u / static_cast<std::size_t>(c.shift) + 2);
    for (std::size_t i = 1; i < rows.size(); ++i) {
      EXPECT_EQ(std::stod(rows[i]),
                c.first + static_cast<double>(i - 1) * c.step);
    }
    const std::string sidecar = Result(dir, "walk.txt", ".csv.json");
    for (const std::string& field :
         {std::string("\"program\": \"mfwindow-batch\""),
          std::string("\"window\": 1000,"),
          "\"shift\": " + std::to_string(c.shift) + ",",
          std::string("\"path\": \"walk.txt\", \"samples\": 3000,"),
          "\"time_unit\": \"" + std::string(c.fs > 0 ? "s" : "dt") + "\"",
          "\"windows\": " + std::to_string(rows.size() - 1) + ","}) {
      EXPECT_NE(sidecar.find(field), std::string::npos) << field << sidecar;
    }
    // A release number: digits first (std::regex trips GCC 12's
    // maybe-uninitialized warning in the sanitizer build).
    const std::size_t version = sidecar.find("\"version\": \"");
    ASSERT_NE(version, std::string::npos) << sidecar;
    EXPECT_NE(std::isdigit(static_cast<unsigned char>(sidecar[version + 12])),
              0)
        << sidecar;
  }
}

TEST(InputTraps, OnlyTheFirstColumnCouldBeRead) {
  const fs::path dir = ScratchDir();
  const std::vector<double> a = Walk(1500, 3);
  const std::vector<double> b = Walk(1500, 4);
  std::string tsv = "a\tb\n";
  std::string commas;
  std::string semicolons;
  for (std::size_t i = 0; i < a.size(); ++i) {
    tsv += Number(a[i]) + "\t" + Number(b[i]) + "\n";
    commas += Number(a[i]) + "," + Number(b[i]) + "\n";
    semicolons += Number(a[i]) + ";" + Number(b[i]) + "\n";
  }
  WriteFile(dir / "ab.tsv", tsv);
  WriteFile(dir / "ab.csv", commas);
  WriteFile(dir / "ab.txt", semicolons);
  WriteFile(dir / "a.txt", Lines(a));
  WriteFile(dir / "b.txt", Lines(b));
  ASSERT_EQ(RunIn(Options({"a.txt", "b.txt"}), dir).Status, kExitSuccess);

  // Plain reading takes the first value of each line, and says so; a
  // semicolon is no separator there, and the failure says what to do.
  const Ran plain = RunIn(Options({"ab.csv", "ab.txt"}), dir);
  EXPECT_EQ(plain.Status, kExitSkipped);
  EXPECT_NE(plain.Err.find("mfwindow-batch: warning: ab.csv:1: the line holds "
                           "more than one value; only the first value of "
                           "each line is analysed (choose a column with "
                           "--column)\n"),
            std::string::npos)
      << plain.Err;
  EXPECT_EQ(Result(dir, "ab.csv"), Result(dir, "a.txt"));
  EXPECT_NE(plain.Err.find("(semicolon-separated fields? choose a column "
                           "with --column); series failed\n"),
            std::string::npos)
      << plain.Err;

  BatchOptions by_number = Options({"ab.csv", "ab.txt"});
  by_number.Input.Delimited = true;
  by_number.Input.Column = series::ColumnChoice{2, ""};
  ASSERT_EQ(RunIn(by_number, dir).Status, kExitSuccess);
  BatchOptions by_name = Options({"ab.tsv"});
  by_name.Input.Delimited = true;
  by_name.Input.Column = series::ColumnChoice{0, "b"};
  ASSERT_EQ(RunIn(by_name, dir).Status, kExitSuccess);
  ASSERT_FALSE(Result(dir, "b.txt").empty());
  for (const char* name : {"ab.csv", "ab.txt"}) {
    EXPECT_EQ(Result(dir, name, ".dat", "F(Alfa)@2_"), Result(dir, "b.txt"))
        << name;
  }
  EXPECT_EQ(Result(dir, "ab.tsv", ".dat", "F(Alfa)@b_"), Result(dir, "b.txt"));

  // Column 1 chosen by its header name was written as F(Alfa)@a_..., so a
  // rerun by number left a second result beside it.
  by_name.Input.Column = series::ColumnChoice{0, "a"};
  ASSERT_EQ(RunIn(by_name, dir).Status, kExitSuccess);
  EXPECT_EQ(Result(dir, "ab.tsv"), Result(dir, "a.txt"));
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)@a_ab.tsv.dat"));
}

std::string NpyOf(const std::vector<double>& values, const char* shape,
                  bool fortran) {
  std::string header = std::string("{'descr': '<f8', 'fortran_order': ") +
                       (fortran ? "True" : "False") + ", 'shape': " + shape +
                       ", }";
  while ((10 + header.size() + 1) % 64 != 0) header.push_back(' ');
  header.push_back('\n');
  std::string file("\x93NUMPY\x01\x00", 8);
  file.push_back(static_cast<char>(header.size() & 0xFFU));
  file.push_back(static_cast<char>(header.size() >> 8U));
  file += header;
  for (const double v : values) {
    auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i, bits >>= 8U) {
      file.push_back(static_cast<char>(bits & 0xFFU));
    }
  }
  return file;
}

TEST(InputTraps, NpyFileGaveZeroWindows) {
  const fs::path dir = ScratchDir();
  const std::vector<double> a = Walk(2000, 5);
  const std::vector<double> b = Walk(2000, 6);
  WriteFile(dir / "a.npy", NpyOf(a, "(2000,)", false));
  WriteFile(dir / "a.txt", Lines(a));
  // [a b] as a 2000 x 2 array in Fortran order: column b lies second.
  std::vector<double> ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  WriteFile(dir / "ab.npy", NpyOf(ab, "(2000, 2)", true));
  WriteFile(dir / "b.txt", Lines(b));
  ASSERT_EQ(RunIn(Options({"a.npy", "a.txt", "b.txt"}), dir).Status,
            kExitSuccess);
  EXPECT_EQ(Records(Result(dir, "a.npy")).size(), 11u);
  EXPECT_EQ(Result(dir, "a.npy"), Result(dir, "a.txt"));

  BatchOptions column = Options({"ab.npy"});
  column.Input.Column = series::ColumnChoice{2, ""};
  ASSERT_EQ(RunIn(column, dir).Status, kExitSuccess);
  EXPECT_EQ(Result(dir, "ab.npy", ".dat", "F(Alfa)@2_"), Result(dir, "b.txt"));

  // Without a column the 2-D array fails, with what to do.
  const Ran refused = RunIn(Options({"ab.npy"}), dir);
  EXPECT_EQ(refused.Status, kExitSkipped);
  EXPECT_NE(refused.Err.find("mfwindow-batch: ab.npy: a 2-D .npy array of 2 "
                             "columns; choose one with --column; series "
                             "failed\n"),
            std::string::npos)
      << refused.Err;
}

TEST(InputTraps, StandardInputWasRefused) {
  const fs::path dir = ScratchDir();
  fs::copy_file(fs::path(EXAMPLES_DIR) / "walk.txt", dir / "walk.txt");
  std::istringstream in(ReadFile(dir / "walk.txt"));
  std::ostringstream err;
  BatchIo io{err, ProgressMode::kLines, dir, &in};
  ASSERT_EQ(RunBatch(Options({"walk.txt", "-"}), io), kExitSuccess)
      << err.str();
  EXPECT_NE(err.str().find("mfwindow-batch: stdin: 41 windows (2/2 series)"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(Result(dir, "stdin"), Result(dir, "walk.txt"));
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)_-.dat"));
}

// A mark at the start of "list" gave "not found" for a file that exists; at
// the start of a series, and with CR-only line ends, 0 windows.
TEST(InputTraps, ByteOrderMarkAndCrOnlyLineEndsGaveZeroWindows) {
  const fs::path dir = ScratchDir();
  const std::vector<double> walk = Walk(1500, 7);
  WriteFile(dir / "plain.txt", Lines(walk));
  WriteFile(dir / "bom.txt", "\xEF\xBB\xBF" + Lines(walk));
  WriteFile(dir / "cr.txt", Lines(walk, "\r"));
  WriteFile(dir / "crlf.txt", Lines(walk, "\r\n"));
  WriteFile(dir / "list",
            "\xEF\xBB\xBF"
            "bom.txt\r\ncr.txt\r\ncrlf.txt\r\nplain.txt\r\n");
  BatchOptions o = Options({});
  o.ListFile = "list";
  const Ran ran = RunIn(o, dir);
  EXPECT_EQ(ran.Status, kExitSuccess) << ran.Err;
  EXPECT_EQ(Count(ran.Err, "warning"), 0u) << ran.Err;
  EXPECT_EQ(Records(Result(dir, "plain.txt")).size(), 6u);
  for (const char* name : {"bom.txt", "cr.txt", "crlf.txt"}) {
    EXPECT_EQ(Result(dir, name), Result(dir, "plain.txt")) << name;
  }
}

TEST(InputTraps, Lrec32Order2DegenerateEverywhereWithoutWarning) {
  const fs::path dir = ScratchDir();
  WriteFile(dir / "s.txt", Lines(Walk(200, 8)));
  BatchOptions o = Options({"s.txt"});
  o.Given.Lrec = 32;
  o.Given.TrendOrder = 2;
  o.Given.WinShift = 8;
  const Ran ran = RunIn(o, dir);
  EXPECT_EQ(ran.Status, kExitSuccess);
  EXPECT_NE(ran.Err.find("mfwindow-batch: warning: Lrec 32 is below 256"),
            std::string::npos)
      << ran.Err;
  EXPECT_NE(ran.Err.find("mfwindow-batch: warning: s.txt: all 22 windows are "
                         "degenerate (0.5, 0.5, 0, 0.5, 1"),
            std::string::npos)
      << ran.Err;
  // At order 1 the same windows are not degenerate: the short window is
  // still worth its warning, the series is not.
  o.Given.TrendOrder = 1;
  const Ran order1 = RunIn(o, dir);
  EXPECT_EQ(Count(order1.Err, "degenerate ("), 0u) << order1.Err;
  EXPECT_EQ(Count(order1.Err, "warning: Lrec 32"), 1u) << order1.Err;
}

// What cannot work at all fails before any result file is opened, so an
// earlier run's result stays; a bad sample inside the series fails it after
// its result file was begun, and that file goes, so that no partial result
// looks like a whole one.
TEST(RunBatch, FailedSeriesLeavesNoPartialResult) {
  const fs::path dir = ScratchDir();
  const std::vector<double> fz = Walk(3000, 10);
  std::string csv = "time,Fz\n";
  for (std::size_t i = 0; i < fz.size(); ++i) {
    csv += std::to_string(i) + "," + (i == 2000 ? "NaN" : Number(fz[i])) + "\n";
  }
  WriteFile(dir / "eeg.csv", csv);
  BatchOptions o = Options({"eeg.csv"});
  o.Input.Delimited = true;
  o.Input.Column = series::ColumnChoice{0, "Fz"};
  o.Input.OnBadSample = series::BadSamplePolicy::kSkip;
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  const std::string earlier = Result(dir, "eeg.csv", ".dat", "F(Alfa)@Fz_");
  ASSERT_EQ(Records(earlier).size(), 20u);

  o.Input.Column = series::ColumnChoice{0, "fz"};
  const Ran no_column = RunIn(o, dir);
  EXPECT_EQ(no_column.Status, kExitSkipped);
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)@fz_eeg.csv.dat"));
  BatchOptions plain = Options({"eeg.csv"});
  EXPECT_EQ(RunIn(plain, dir).Status, kExitSkipped);  // the header row
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)_eeg.csv.dat"));
  // Dates first on every line: under mask every sample is a gap, and a run
  // whose every window is a gap is no result.
  std::string dated = "date,Fz\n";
  for (const double v : fz) dated += "1958-03-29," + Number(v) + "\n";
  WriteFile(dir / "dated.csv", dated);
  BatchOptions masked = Options({"dated.csv"});
  masked.Input.OnBadSample = series::BadSamplePolicy::kMask;
  const Ran gaps = RunIn(masked, dir);
  EXPECT_EQ(gaps.Status, kExitSkipped);
  EXPECT_NE(gaps.Err.find("dated.csv: every one of its 21 windows hold a gap, "
                          "so none was analysed (3001 of 3001 samples are "
                          "gaps; the first: dated.csv:1: not a number"),
            std::string::npos)
      << gaps.Err;
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)_dated.csv.dat"));
  // Bridged, the one gap leaves its windows analysed and marked (--fill
  // was once taken and ignored).
  BatchOptions bridged = Options({"eeg.csv"});
  bridged.Input = o.Input;
  bridged.Input.Column = series::ColumnChoice{0, "Fz"};
  bridged.Input.OnBadSample = series::BadSamplePolicy::kMask;
  bridged.Given.OnBadSample = mfwindow::BadSamplePolicy::kMask;
  bridged.Given.Fill = mfwindow::GapFill::kLinear;
  bridged.Given.MaxGap = 1;
  bridged.Format = OutputFormat::kCsv;
  ASSERT_EQ(RunIn(bridged, dir).Status, kExitSuccess);
  const std::string table = Result(dir, "eeg.csv", ".csv", "F(Alfa)@Fz_");
  EXPECT_TRUE(Records(table).at(0).ends_with(",filled_share"));
  EXPECT_NE(table.find(",filled,"), std::string::npos);
  EXPECT_EQ(table.find(",gap,"), std::string::npos);

  // A series failing on a bad sample removed the earlier complete result;
  // now its staged file goes and the earlier result stays.
  o.Input.Column = series::ColumnChoice{0, "Fz"};
  o.Input.OnBadSample = series::BadSamplePolicy::kError;
  const Ran failed = RunIn(o, dir);
  EXPECT_EQ(failed.Status, kExitSkipped);
  EXPECT_NE(failed.Err.find("eeg.csv:2002: column 2 (Fz) is not a number"),
            std::string::npos)
      << failed.Err;
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@Fz_"), earlier);
  for (const fs::directory_entry& e : fs::directory_iterator(dir / "F(Alfa)")) {
    EXPECT_NE(e.path().extension(), series::kStagingSuffix) << e.path();
  }
}

// Two runs over different columns wrote one result name, the second
// replacing the first; several columns needed several runs.
TEST(RunBatch, EachColumnHasItsOwnResult) {
  const fs::path dir = ScratchDir();
  const std::vector<double> fz = Walk(3000, 11);
  const std::vector<double> cz = Walk(3000, 12);
  const auto table = [&](std::size_t nan_at) {
    std::string csv = "time,Fz,Cz\n";
    for (std::size_t i = 0; i < fz.size(); ++i) {
      csv += std::to_string(i) + "," + (i == nan_at ? "NaN" : Number(fz[i])) +
             "," + Number(cz[i]) + "\n";
    }
    return csv;
  };
  WriteFile(dir / "eeg.csv", table(fz.size()));
  BatchOptions o = Options({"eeg.csv"});
  o.Input.Delimited = true;
  std::vector<std::string> alone;
  for (const series::ColumnChoice& c :
       {series::ColumnChoice{2, ""}, series::ColumnChoice{0, "Cz"}}) {
    o.Input.Column = c;
    ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
    alone.push_back(Result(dir, "eeg.csv", ".dat", series::ColumnPrefix(c)));
  }
  ASSERT_EQ(Records(alone[0]).size(), 21u);
  EXPECT_NE(alone[0], alone[1]);
  fs::remove_all(dir / "F(Alfa)");
  o.Columns = {{2, ""}, {0, "Cz"}};
  const Ran both = RunIn(o, dir);
  EXPECT_EQ(both.Status, kExitSuccess);
  EXPECT_NE(both.Err.find("eeg.csv column Cz: 21 windows (2/2 series)"),
            std::string::npos)
      << both.Err;
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@2_"), alone[0]);
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@Cz_"), alone[1]);

  o.Columns.clear();
  o.File.AllColumns = true;
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  EXPECT_EQ(Records(Result(dir, "eeg.csv")).size(), 21u);  // the time column
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@2_"), alone[0]);
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@3_"), alone[1]);

  // A later run that fails on column 2 leaves both results as they were.
  WriteFile(dir / "eeg.csv", table(2000));
  o.File.AllColumns = false;
  o.Columns = {{2, ""}, {0, "Cz"}};
  EXPECT_EQ(RunIn(o, dir).Status, kExitSkipped);
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@2_"), alone[0]);
  EXPECT_EQ(Result(dir, "eeg.csv", ".dat", "F(Alfa)@Cz_"), alone[1]);
}

// Guards --pair: two columns of one file give the library's pair rows, in
// a result named after both, and a column that is not there skips the
// series.
TEST(RunBatch, PairGivesTheLibrarysRows) {
  const fs::path dir = ScratchDir();
  const std::vector<double> fz = Walk(3000, 11);
  const std::vector<double> cz = Walk(3000, 12);
  std::string csv = "Fz,Cz\n";
  for (std::size_t i = 0; i < fz.size(); ++i) {
    csv += Number(fz[i]) + "," + Number(cz[i]) + "\n";
  }
  WriteFile(dir / "eeg.csv", csv);
  BatchOptions o = Options({"eeg.csv"});
  o.Input.Delimited = true;
  o.Given.Preset = mfwindow::Method::kStandard;
  o.Given.Lrec = 1000;
  o.Given.WinShift = 500;
  o.Given.Surrogates = 9;
  o.Given.Surrogate = mfwindow::SurrogateKind::kPhase;
  o.Pair = {series::ColumnChoice{0, "Fz"}, series::ColumnChoice{2, ""}};
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  const std::vector<std::string> rows =
      Records(Result(dir, "eeg.csv", ".csv", "F(Alfa)@Fz+2_"));
  const mfwindow::CrossResult pair = mfwindow::AnalysePair(fz, cz, o.Given);
  ASSERT_EQ(rows.size(), pair.Rows.size() + 1);
  EXPECT_TRUE(rows[0].starts_with("time,alpha_min,")) << rows[0];
  for (std::size_t w = 0; w < pair.Rows.size(); ++w) {
    const mfwindow::CrossRow& r = pair.Rows[w];
    const std::string& row = rows[w + 1];
    EXPECT_TRUE(row.starts_with(textio::FormatFullPrecision(r.TimeMark) + "," +
                                textio::FormatFullPrecision(r.AlfaMin) + ","))
        << row;
    EXPECT_NE(row.find("," + textio::FormatFullPrecision(r.Lambda) + ","),
              std::string::npos);
    EXPECT_TRUE(row.ends_with(",9")) << row;
  }
  o.Pair = {series::ColumnChoice{0, "Fz"}, series::ColumnChoice{0, "Pz"}};
  const Ran missing = RunIn(o, dir);
  EXPECT_EQ(missing.Status, kExitSkipped);
  EXPECT_NE(missing.Err.find("no column named \"Pz\""), std::string::npos);
}

// The file's own time stamps set the time axis: numbers as --tini and
// --tstep would, ISO date-times in seconds since the first. An uneven step
// fails the series naming it, and --all-columns leaves the stamps out.
TEST(RunBatch, TimeColumnSetsTheTimeAxis) {
  const fs::path dir = ScratchDir();
  const std::vector<double> x = Walk(3000, 21);
  const auto table = [&](std::size_t odd_at) {
    std::string csv = "t,x,when\n";
    for (std::size_t i = 0; i < x.size(); ++i) {
      const std::size_t ms = 4 * i + (i == odd_at ? 1 : 0);
      csv += Number(0.25 * static_cast<double>(i + 1) + 100.0) + "," +
             Number(x[i]) +
             ",2024-03-01T12:00:" + std::to_string(100 + ms / 1000).substr(1) +
             "." + std::to_string(1000 + ms % 1000).substr(1) + "Z\n";
    }
    return csv;
  };
  WriteFile(dir / "rec.csv", table(x.size()));
  struct Case {
    const char* time;
    double tini, tstep;
    std::string unit_and_origin;
    std::string first_iso;  // the first window's time_iso ("": none)
  };
  const Case cases[] = {
      {"t", 100.0, 0.25, "\"stamp\",\n  \"time_origin\": null", ""},
      {"3", -0.004, 0.004,
       "\"s\",\n  \"time_origin\": \"2024-03-01T12:00:00.000Z\"",
       "2024-03-01T12:00:03.996"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tstep);
    BatchOptions o = Options({"rec.csv"});
    o.Format = OutputFormat::kCsv;
    o.Input.Delimited = true;
    o.Input.Column = series::ColumnChoice{0, "x"};
    o.Input.TimeColumn = series::ParseColumn(c.time);
    const auto result = [&](const char* suffix) {
      return Result(dir, "rec.csv", suffix, "F(Alfa)@x_");
    };
    ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
    std::string stamped = result(".csv");
    EXPECT_NE(result(".csv.json").find("\"time_unit\": " + c.unit_and_origin),
              std::string::npos)
        << result(".csv.json");
    if (!c.first_iso.empty()) {  // dates end each record: the rest is equal
      EXPECT_TRUE(Records(stamped).at(1).ends_with("," + c.first_iso));
      std::string rest;
      for (const std::string& r : Records(stamped)) {
        rest += r.substr(0, r.rfind(',')) + "\r\n";
      }
      EXPECT_TRUE(Records(stamped).at(0).ends_with(",time_iso"));
      stamped = rest;
    }
    o.Input.TimeColumn.reset();
    o.Given.Tini = c.tini;
    o.Given.Tstep = c.tstep;
    ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
    EXPECT_EQ(stamped, result(".csv"));
    EXPECT_EQ(Records(stamped).size(), 22u);  // the header and 21 windows
  }

  BatchOptions o = Options({"rec.csv"});
  o.Input.Delimited = true;
  o.Input.TimeColumn = series::ColumnChoice{0, "when"};
  o.File.AllColumns = true;
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  EXPECT_TRUE(fs::exists(dir / "F(Alfa)" / "F(Alfa)@2_rec.csv.dat"));
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)@3_rec.csv.dat"));

  WriteFile(dir / "rec.csv", table(1500));
  const Ran uneven = RunIn(o, dir);
  EXPECT_EQ(uneven.Status, kExitSkipped);
  EXPECT_NE(uneven.Err.find("rec.csv:1502: the time stamps step unevenly: "
                            "\"2024-03-01T12:00:05.996Z\" to "
                            "\"2024-03-01T12:00:06.001Z\" (step 0.005 s, "
                            "expected 0.004 s); series failed"),
            std::string::npos)
      << uneven.Err;
}

// Stamps that only rise label each window by its last sample: numbers as
// they are, dates in seconds since the first and as time_iso; the samples
// are analysed as without them.
TEST(RunBatch, TimeLabelsNameEachWindowByItsLastStamp) {
  const fs::path dir = ScratchDir();
  const std::vector<double> x = Walk(3000, 22);
  std::string csv = "t,x,day\n";
  for (std::size_t i = 0; i < x.size(); ++i) {
    const auto squared = static_cast<std::int64_t>((i + 1) * (i + 1));
    csv += std::to_string(squared) + "," + Number(x[i]) + "," +
           textio::FormatIsoStamp(squared * 86400000000000 / 1000) + "\n";
  }
  WriteFile(dir / "rec.csv", csv);
  BatchOptions o = Options({"rec.csv"});
  o.Format = OutputFormat::kCsv;
  o.Input.Delimited = true;
  o.Input.Column = series::ColumnChoice{0, "x"};
  ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
  const std::vector<std::string> plain =
      Records(Result(dir, "rec.csv", ".csv", "F(Alfa)@x_"));
  o.Input.TimeLabels = true;
  for (const char* column : {"t", "day"}) {
    SCOPED_TRACE(column);
    o.Input.TimeColumn = series::ColumnChoice{0, column};
    ASSERT_EQ(RunIn(o, dir).Status, kExitSuccess);
    const std::vector<std::string> labelled =
        Records(Result(dir, "rec.csv", ".csv", "F(Alfa)@x_"));
    ASSERT_EQ(labelled.size(), plain.size());
    const bool dates = column == std::string_view("day");
    EXPECT_EQ(labelled[0], plain[0] + (dates ? ",time_iso" : ""));
    for (std::size_t k = 1; k < plain.size(); ++k) {
      const std::int64_t end = 1000 + 100 * static_cast<std::int64_t>(k - 1);
      const double mark =
          dates ? static_cast<double>((end * end - 1) * 86400000000) / 1e9
                : static_cast<double>(end * end);
      const std::string iso =
          dates ? "," + textio::FormatIsoStamp(end * end * 86400000000) : "";
      EXPECT_EQ(labelled[k], textio::FormatFullPrecision(mark) +
                                 plain[k].substr(plain[k].find(',')) + iso);
    }
  }
}

// A result that is a device failed at the open (ftruncate: Invalid
// argument), and a full device must report the failed write.
TEST(RunBatch, ResultOnADeviceIsWrittenThere) {
  // The device, and what the run reports ("" for success).
  for (const auto& [device, error] :
       {std::pair{"/dev/null", ""},
        std::pair{"/dev/full",
                  "error during write (No space left on device)"}}) {
    const fs::path dir = ScratchDir();
    fs::copy_file(fs::path(EXAMPLES_DIR) / "walk.txt", dir / "walk.txt");
    fs::create_directories(dir / "F(Alfa)");
    fs::create_symlink(device, dir / "F(Alfa)" / "F(Alfa)_walk.txt.dat");
    std::string got;
    try {
      EXPECT_EQ(RunIn(Options({"walk.txt"}), dir).Status, kExitSuccess);
    } catch (const series::FatalError& e) {
      got = e.what();
    }
    EXPECT_NE(got.find(error), std::string::npos) << device << ": " << got;
    EXPECT_EQ(got.empty(), *error == '\0') << device << ": " << got;
    EXPECT_TRUE(fs::is_symlink(dir / "F(Alfa)" / "F(Alfa)_walk.txt.dat"));
  }
}

// A second "-" in a list read standard input again and replaced its
// result with an empty one.
TEST(RunBatch, StandardInputListedTwiceIsAUsageError) {
  const fs::path dir = ScratchDir();
  WriteFile(dir / "list", "-\n-\n");
  BatchOptions o = Options({});
  o.ListFile = "list";
  std::istringstream in("1\n2\n");
  std::ostringstream err;
  EXPECT_EQ(RunBatch(o, BatchIo{err, ProgressMode::kLines, dir, &in}),
            kExitUsage);
  EXPECT_NE(err.str().find("\"-\" is listed more than once"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "F(Alfa)" / "F(Alfa)_stdin.dat"));
}

// A short series says why it gave nothing.
TEST(InputTraps, ShortSeriesGaveNoWindowWithoutAWord) {
  const fs::path dir = ScratchDir();
  WriteFile(dir / "short.txt", Lines(Walk(999, 9)));
  const Ran ran = RunIn(Options({"short.txt"}), dir);
  EXPECT_EQ(ran.Status, kExitSuccess);
  EXPECT_NE(ran.Err.find("mfwindow-batch: warning: short.txt: no window: 999 "
                         "samples, fewer than Lrec 1000\n"),
            std::string::npos)
      << ran.Err;
}

}  // namespace
}  // namespace batch
