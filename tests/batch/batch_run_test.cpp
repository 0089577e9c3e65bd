#include "batch/batch_run.h"

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "batch/result_records.h"
#include "driver/fatal.h"
#include "driver/series_pipeline.h"

namespace batch {
namespace {

namespace fs = std::filesystem;

// A fresh scratch directory per test.
fs::path ScratchDir() {
  const testing::TestInfo* info =
      testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir =
      fs::path(testing::TempDir()) / "batch_run_test" /
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
  EXPECT_THROW(ReadListFile(dir / "missing"), driver::FatalError);
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
    EXPECT_EQ(csv[0], kCsvHeader);
    for (std::size_t i = 0; i < dat.size(); ++i) {
      double v[6] = {};
      const char* at = csv[i + 1].data();
      const char* end = at + csv[i + 1].size();
      for (int k = 0; k < 6; ++k) {
        const auto [next, ec] = std::from_chars(at, end, v[k]);
        ASSERT_EQ(ec, std::errc{}) << csv[i + 1];
        at = next + (k < 5 ? 1 : 0);
      }
      ASSERT_EQ(at, end);
      EXPECT_EQ(driver::ResultLine({v[0], v[1], v[2], v[3], v[4], v[5]}),
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
  EXPECT_EQ(spectrum[0], kSpectrumHeader);
  for (std::size_t w = 0; w < 4; ++w) {
    const std::string time = rows[w + 1].substr(0, rows[w + 1].find(','));
    const std::string lead = std::to_string(w + 1) + "," + time + ",";
    EXPECT_EQ(spectrum[1 + w * 300].rfind(lead + "-10,", 0), 0u)
        << spectrum[1 + w * 300];
    EXPECT_EQ(spectrum[300 + w * 300].rfind(lead + ",,,100,", 0), 0u)
        << spectrum[300 + w * 300];
  }
}

}  // namespace
}  // namespace batch
