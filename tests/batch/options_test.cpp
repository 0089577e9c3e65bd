#include "batch/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace batch {
namespace {

struct Parsed {
  ParseOutcome Outcome;
  std::string Out;
  std::string Err;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "mfwindow-batch");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  ParseOutcome outcome =
      ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
  return {std::move(outcome), out.str(), err.str()};
}

TEST(ParseCommandLine, TakesEveryFlag) {
  const Parsed p =
      Parse({"--incr",   "1",           "--order",    "3",        "--window",
             "512",      "--min-scale", "25",         "--shift",  "7",
             "--tini",   "-2.5",        "--tstep",    "0.125",    "--threads",
             "4",        "--shard",     "2/5",        "--format", "csv",
             "--out",    "results",     "--spectrum", "--quiet",  "a.txt",
             "dir/b.txt"});
  ASSERT_TRUE(p.Outcome.Options) << p.Err;
  const BatchOptions& o = *p.Outcome.Options;
  EXPECT_EQ(o.Given.IncrFlag, 1);
  EXPECT_EQ(o.Given.TrendOrder, 3);
  EXPECT_EQ(o.Given.Lrec, 512);
  EXPECT_EQ(o.Given.MinScale, 25);
  EXPECT_EQ(o.Given.WinShift, 7);
  EXPECT_EQ(o.Given.Tini, -2.5);
  EXPECT_EQ(o.Given.Tstep, 0.125);
  EXPECT_EQ(o.Given.Threads, 4);
  EXPECT_TRUE(o.Given.Spectrum);
  EXPECT_EQ(o.Part.Index, 2);
  EXPECT_EQ(o.Part.Count, 5);
  EXPECT_EQ(o.Format, OutputFormat::kCsv);
  EXPECT_EQ(o.OutDir, std::filesystem::path("results"));
  EXPECT_TRUE(o.Quiet);
  EXPECT_EQ(o.Series, (std::vector<std::string>{"a.txt", "dir/b.txt"}));
  EXPECT_FALSE(o.ListFile);
  EXPECT_TRUE(p.Err.empty());
}

TEST(ParseCommandLine, DefaultsAreTheBundledExampleAnswers) {
  const Parsed p = Parse({"s.txt"});
  ASSERT_TRUE(p.Outcome.Options);
  const BatchOptions& o = *p.Outcome.Options;
  EXPECT_EQ(o.Given.IncrFlag, 0);
  EXPECT_EQ(o.Given.TrendOrder, 2);
  EXPECT_EQ(o.Given.Lrec, 1000);
  EXPECT_EQ(o.Given.MinScale, 20);
  EXPECT_EQ(o.Given.WinShift, 100);
  EXPECT_EQ(o.Given.Tini, 0.0);
  EXPECT_EQ(o.Given.Tstep, 1.0);
  EXPECT_EQ(o.Given.Threads, 0);
  EXPECT_FALSE(o.Given.Spectrum);
  EXPECT_EQ(o.Part.Index, 1);
  EXPECT_EQ(o.Part.Count, 1);
  EXPECT_EQ(o.Format, OutputFormat::kDat);
  EXPECT_EQ(o.OutDir, std::filesystem::path("F(Alfa)"));
  EXPECT_FALSE(o.Quiet);
}

// Out-of-range counts are not usage errors: they are clamped later, with a
// warning, as the dialogue clamps them. Negative values are values here,
// not flags.
TEST(ParseCommandLine, LeavesClampingToTheRun) {
  const Parsed p = Parse({"--order", "-5", "--window", "10", "--shift=0",
                          "--min-scale", "1000", "s.txt"});
  ASSERT_TRUE(p.Outcome.Options) << p.Err;
  EXPECT_EQ(p.Outcome.Options->Given.TrendOrder, -5);
  EXPECT_EQ(p.Outcome.Options->Given.Lrec, 10);
  EXPECT_EQ(p.Outcome.Options->Given.WinShift, 0);
}

TEST(ParseCommandLine, ReadsTheSeriesFromAListFile) {
  const std::filesystem::path list =
      std::filesystem::path(testing::TempDir()) / "options_test_list";
  std::ofstream(list) << "a\n";
  const Parsed p = Parse({"--list", list.string()});
  ASSERT_TRUE(p.Outcome.Options) << p.Err;
  EXPECT_EQ(p.Outcome.Options->ListFile, list.string());
  EXPECT_TRUE(p.Outcome.Options->Series.empty());
}

TEST(ParseCommandLine, RefusesBadUsageWithStatus2AndAUsageLine) {
  const std::vector<std::vector<std::string>> bad = {
      {},                    // no series at all
      {"--incr", "2", "s"},  // increments flag is 0 or 1
      {"--incr", "-1", "s"},
      {"--tstep", "0", "s"},  // time step must be positive
      {"--tstep", "-1", "s"},
      {"--tstep", "-0", "s"},
      {"--tstep", "abc", "s"},
      {"--order", "abc", "s"},
      {"--order", "2.5x", "s"},
      {"--window", "3000000000", "s"},  // beyond 32 bits
      {"--threads", "-1", "s"},
      {"--shard", "0/3", "s"},
      {"--shard", "4/3", "s"},
      {"--shard", "1-3", "s"},
      {"--format", "xml", "s"},
      {"--bogus", "s"},
      {
          "--list",
          "/nonexistent/list",
      },
      {"--list", "/nonexistent/list", "s"},
      {"--window"},  // value missing
  };
  for (const std::vector<std::string>& args : bad) {
    std::string joined;
    for (const std::string& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.Outcome.Options);
    EXPECT_EQ(p.Outcome.ExitStatus, kExitUsage);
    EXPECT_NE(p.Err.find("\nUsage: mfwindow-batch [OPTIONS]"),
              std::string::npos)
        << p.Err;
    EXPECT_TRUE(p.Out.empty());
  }
}

TEST(ParseCommandLine, HelpDocumentsTheFilesAndExitsWith0) {
  const Parsed p = Parse({"--help"});
  EXPECT_FALSE(p.Outcome.Options);
  EXPECT_EQ(p.Outcome.ExitStatus, kExitSuccess);
  for (const char* text :
       {"--shard", "--spectrum", "window,time,q,h,tau,m,alpha,f",
        "time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz",
        "2 bad usage; 3 a result file could not be"}) {
    EXPECT_NE(p.Out.find(text), std::string::npos) << text;
  }
}

TEST(ParseCommandLine, VersionPrintsTheProjectVersion) {
  const Parsed p = Parse({"--version"});
  EXPECT_FALSE(p.Outcome.Options);
  EXPECT_EQ(p.Outcome.ExitStatus, kExitSuccess);
  EXPECT_TRUE(std::regex_match(
      p.Out, std::regex("mfwindow-batch [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << p.Out;
}

struct ShardCase {
  const char* text;
  bool ok;
  std::int32_t index, count;
};
// clang-format off
constexpr ShardCase kShardCases[] = {
  {"1/1",   true,  1,  1},
  {"2/3",   true,  2,  3},
  {"3/3",   true,  3,  3},
  {"12/40", true, 12, 40},
  {"0/3",   false, 0,  0},  // counted from 1
  {"4/3",   false, 0,  0},
  {"1/0",   false, 0,  0},
  {"+1/3",  false, 0,  0},
  {"-1/3",  false, 0,  0},
  {"1/3x",  false, 0,  0},
  {"1//3",  false, 0,  0},
  {"/3",    false, 0,  0},
  {"2/",    false, 0,  0},
  {"3",     false, 0,  0},
  {"",      false, 0,  0},
  {"1/99999999999", false, 0, 0},  // beyond 32 bits
};
// clang-format on

TEST(ParseShard, AcceptsOnlyIndexOverCountFromOne) {
  for (const ShardCase& c : kShardCases) {
    SCOPED_TRACE(c.text);
    const std::optional<Shard> shard = ParseShard(c.text);
    ASSERT_EQ(shard.has_value(), c.ok);
    if (shard) {
      EXPECT_EQ(shard->Index, c.index);
      EXPECT_EQ(shard->Count, c.count);
    }
  }
}

TEST(ClampWarnings, NamesFlagGivenAndUsedValue) {
  const TypedSettings all{true, true, true, true};
  mfwindow::Settings given;
  given.TrendOrder = 11;
  given.Lrec = 100;
  given.MinScale = 50;
  given.WinShift = 100;
  const std::vector<std::string> lines = ClampWarnings(given, all);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "mfwindow-batch: warning: --order 11 is out of range; "
                       "using 10",
                       "mfwindow-batch: warning: --min-scale 50 is out of "
                       "range; using 10"}));
  given.TrendOrder = 2;
  given.Lrec = 10;
  given.MinScale = 20;
  given.WinShift = -3;
  EXPECT_EQ(ClampWarnings(given, all),
            (std::vector<std::string>{
                "mfwindow-batch: warning: --window 10 is out of range; "
                "using 32",
                "mfwindow-batch: warning: --min-scale 20 is out of range; "
                "using 3",
                "mfwindow-batch: warning: --shift -3 is out of range; "
                "using 1"}));
  EXPECT_TRUE(ClampWarnings(mfwindow::Settings{}, all).empty());
}

// Guards against warning about a default the user never set: --window 100
// alone settles the default minimum scale 20 to 10 without a word.
TEST(ClampWarnings, StaySilentAboutDefaultsNotTyped) {
  mfwindow::Settings given;
  given.Lrec = 100;
  EXPECT_TRUE(ClampWarnings(given, {false, true, false, false}).empty());
  given.Lrec = 10;
  EXPECT_EQ(ClampWarnings(given, {false, true, false, false}),
            (std::vector<std::string>{
                "mfwindow-batch: warning: --window 10 is out of range; "
                "using 32"}));
}

}  // namespace
}  // namespace batch
