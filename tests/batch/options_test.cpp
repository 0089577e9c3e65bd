#include "batch/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_run.h"
#include "mfwindow/settings_table.h"
#include "support/bad_values.h"

namespace batch {
namespace {

struct Parsed {
  ParseOutcome Outcome;
  std::string Out;
  std::string Err;
};

// An environment of its own, so that no test depends on the one it runs
// in (a test run inside a Slurm job, say).
using Env = std::map<std::string, std::string>;
EnvLookup LookupIn(const Env& env) {
  return [&env](const char* name) -> const char* {
    const auto found = env.find(name);
    return found == env.end() ? nullptr : found->second.c_str();
  };
}

Parsed Parse(std::vector<std::string> args, const Env& env = {}) {
  args.insert(args.begin(), "mfwindow-batch");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  ParseOutcome outcome = ParseCommandLine(static_cast<int>(argv.size()),
                                          argv.data(), out, err, LookupIn(env));
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

// A list of orders is one argument, however it is written: the series
// named after it stay series.
TEST(ParseCommandLine, TakesAQListAsOneArgument) {
  const std::vector<std::vector<std::string>> spellings = {
      {"--q-list=-3,-1,0,1,3", "a.txt", "b.txt"},
      {"--q-list", "-3,-1,0,1,3", "a.txt", "b.txt"},
      {"a.txt", "--q-list", "-3,-1,0,1,3", "b.txt"},
  };
  for (const std::vector<std::string>& args : spellings) {
    SCOPED_TRACE(args[0]);
    const Parsed p = Parse(args);
    ASSERT_TRUE(p.Outcome.Options) << p.Err;
    EXPECT_EQ(p.Outcome.Options->Given.QList,
              (std::vector<double>{-3.0, -1.0, 0.0, 1.0, 3.0}));
    EXPECT_EQ(p.Outcome.Options->Series,
              (std::vector<std::string>{"a.txt", "b.txt"}));
  }
  EXPECT_FALSE(Parse({"--q-list", "-3,x", "a.txt"}).Outcome.Options);
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
      {"--window"},              // value missing
      {"--shard", "auto", "s"},  // outside a Slurm job array
      {"--column", "0", "s"},    // columns count from 1
      {"--column", "", "s"},
      {"--column", "Fz", "--header", "no", "s"},  // a name needs a header
      {"--header", "maybe", "s"},
      {"--delimiter", "|", "s"},
      {"--on-bad-sample", "ignore", "s"},
      {"-", "-"},                         // standard input is read once
      {"--out", "-", "--spectrum", "s"},  // two files, one stdout
      // Each guards a run that went on silently: F_q(s) rows interleaved
      // with the CSV, surrogates made and thrown away, "1,,2" read as 1,2.
      {"--out", "-", "--fq", "s"},
      {"--surrogates", "5", "s"},
      {"--surrogates", "5", "--out", "-", "--format", "dat", "s"},
      {"--q-list", "1,,2", "s"},
      {"--column", "1,,2", "s"},
      {"--column", "2,x,2", "s"},
      {"--column", "1,2", "-"},  // standard input cannot be read twice
      {"--all-columns", "--out", "-", "s"},
      {"--all-columns", "--column", "2", "s"},
      // A pair: two different columns, one CSV each, settings it takes.
      {"--pair", "2", "--method", "standard", "s"},
      {"--pair", "2,2", "--method", "standard", "s"},
      {"--pair", "1,2,3", "--method", "standard", "s"},
      {"--pair", "1,2", "--column", "3", "--method", "standard", "s"},
      {"--pair", "1,2", "--out", "-", "--method", "standard", "s"},
      {"--pair", "1,2", "--format", "dat", "--method", "standard", "s"},
      {"--pair", "1,2", "s"},  // the described method's range
      {"--rho-level", "0.9", "s"},
      // The stamps set the time axis alone, and are no series themselves.
      {"--time-column", "1", "s"},
      {"--time-column", "2", "--column", "1,2", "s"},
      {"--time-column", "0", "--column", "2", "s"},
      {"--time-column", "t", "--column", "2", "--header", "no", "s"},
      {"--time-column", "1", "--column", "2", "--fs", "250", "s"},
      {"--time-column", "1", "--column", "2", "--tstep", "2", "s"},
      {"--time-column", "1", "--column", "2", "--tini", "5", "s"},
      {"--time-column", "1", "--column", "2", "--on-bad-sample", "skip", "s"},
      {"--time-labels", "1", "--time-column", "1", "--column", "2", "s"},
      {"--time-labels", "2", "--column", "2", "s"},
      {"--time-labels", "1", "--column", "2", "--tstep", "2", "s"},
      // The standard method would replace these described values unseen.
      {"--method", "standard", "--fluctuation", "range", "s"},
      {"--method", "standard", "--min-scale", "20", "s"},
      // Only the gaps that mask keeps are bridged, and only so far.
      {"--fill", "linear", "--max-gap", "3", "s"},
      {"--on-bad-sample", "mask", "--fill", "linear", "s"},
      {"--on-bad-sample", "mask", "--max-gap", "3", "s"},
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

// A file option refused is named by its flag, as a setting refused is;
// the words once came apart at the first colon of a worded message.
TEST(ParseCommandLine, NamesARefusedFileOptionByItsFlag) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--column", "0", "s"},
       "--column must be a number from 1 or a column name, got \"0\""},
      {{"--column", "1,,2", "s"},
       "--column must be a number from 1 or a column name, got \"\""},
      {{"--column", "Fz", "--header", "no", "s"},
       "--column chosen by name needs a header row: header is no"},
      {{"--time-column", "t", "--column", "2", "--header", "no", "s"},
       "--time-column chosen by name needs a header row: header is no"},
  };
  for (const auto& [args, refusal] : cases) {
    const Parsed p = Parse(args);
    EXPECT_EQ(p.Err.substr(0, p.Err.find('\n')), "mfwindow-batch: " + refusal);
  }
}

TEST(ParseCommandLine, HelpDocumentsTheFilesAndExitsWith0) {
  const Parsed p = Parse({"--help"});
  EXPECT_FALSE(p.Outcome.Options);
  EXPECT_EQ(p.Outcome.ExitStatus, kExitSuccess);
  for (const char* text :
       {"--shard", "--spectrum", "window,time,q,h,tau,m,alpha,f",
        "time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz",
        "2 bad usage; 3 a result file could not be", "--column", "--header",
        "--delimiter", "--on-bad-sample", "SLURM_ARRAY_TASK_ID", ".npy",
        "standard input", "standard output"}) {
    EXPECT_NE(p.Out.find(text), std::string::npos) << text;
  }
  // Every batch setting's flag, with its help, as the settings table has it.
  for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
    if ((row.FrontEnds & mfwindow::kBatch) == 0) continue;
    EXPECT_NE(p.Out.find("  " + std::string(row.Flag) + " "), std::string::npos)
        << row.Name;
    EXPECT_NE(p.Out.find(row.Help), std::string::npos) << row.Name;
  }
}

TEST(ParseCommandLine, VersionPrintsTheProjectVersion) {
  const Parsed p = Parse({"--version"});
  EXPECT_FALSE(p.Outcome.Options);
  EXPECT_EQ(p.Outcome.ExitStatus, kExitSuccess);
  EXPECT_EQ(p.Out, std::string("mfwindow-batch ") + PROJECT_VERSION + "\n");
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

// The defaults read mfwindow's way, with a bad sample an error; any of
// --column, --header, --delimiter reads delimited text.
TEST(ParseCommandLine, TakesTheInputFlags) {
  const Parsed plain = Parse({"s.txt"});
  ASSERT_TRUE(plain.Outcome.Options);
  const series::InputOptions& in = plain.Outcome.Options->Input;
  EXPECT_FALSE(in.Delimited);
  EXPECT_EQ(in.OnBadSample, series::BadSamplePolicy::kError);
  EXPECT_FALSE(in.BlankRecordsPassOver);
  EXPECT_TRUE(in.AcceptNpy);

  struct Case {
    std::vector<std::string> args;
    bool delimited;
    std::int32_t column;  // 0: by name
    std::string name;
    series::HeaderMode header;
    std::optional<textio::FieldSeparator> separator;
    series::BadSamplePolicy policy;
  };
  using H = series::HeaderMode;
  using F = textio::FieldSeparator;
  using P = series::BadSamplePolicy;
  const Case cases[] = {
      {{"--column", "Fz"}, true, 0, "Fz", H::kAuto, std::nullopt, P::kError},
      {{"--column", "3", "--header", "no"},
       true,
       3,
       "",
       H::kNo,
       std::nullopt,
       P::kError},
      {{"--header", "yes", "--delimiter", "semicolon"},
       true,
       1,
       "",
       H::kYes,
       F::kSemicolon,
       P::kError},
      {{"--delimiter", "tab", "--on-bad-sample", "skip"},
       true,
       1,
       "",
       H::kAuto,
       F::kTab,
       P::kSkip},
      {{"--delimiter", "whitespace"},
       true,
       1,
       "",
       H::kAuto,
       F::kWhitespace,
       P::kError},
      {{"--delimiter", "comma", "--on-bad-sample", "stop"},
       true,
       1,
       "",
       H::kAuto,
       F::kComma,
       P::kStop},
      {{"--on-bad-sample", "stop"},
       false,
       1,
       "",
       H::kAuto,
       std::nullopt,
       P::kStop},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("s.csv");
    const Parsed p = Parse(args);
    ASSERT_TRUE(p.Outcome.Options) << p.Err;
    const series::InputOptions& o = p.Outcome.Options->Input;
    EXPECT_EQ(o.Delimited, c.delimited) << args[0];
    EXPECT_EQ(o.Column ? o.Column->Index : 1, c.column) << args[0];
    EXPECT_EQ(o.Column ? o.Column->Name : "", c.name) << args[0];
    EXPECT_EQ(o.Header, c.header) << args[0];
    EXPECT_EQ(o.Separator, c.separator) << args[0];
    EXPECT_EQ(o.OnBadSample, c.policy) << args[0];
  }
}

TEST(ParseCommandLine, TakesSeveralColumnsInOrder) {
  const Parsed p = Parse(
      {"--column", "3,Fz", "--surrogates", "2", "--format", "csv", "s.csv"});
  ASSERT_TRUE(p.Outcome.Options) << p.Err;
  const std::vector<series::ColumnChoice>& c = p.Outcome.Options->Columns;
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].Index, 3);
  EXPECT_EQ(c[1].Name, "Fz");
  EXPECT_EQ(p.Outcome.Options->Input.Column->Index, 3);
}

// Guards the trap of --out - making a folder named "-": it means standard
// output, with CSV unless the format is given.
TEST(ParseCommandLine, OutDashMadeAFolderNamedDash) {
  const Parsed csv = Parse({"--out", "-", "-"});
  ASSERT_TRUE(csv.Outcome.Options) << csv.Err;
  EXPECT_TRUE(csv.Outcome.Options->ToStandardOutput);
  EXPECT_EQ(csv.Outcome.Options->Format, OutputFormat::kCsv);
  EXPECT_EQ(csv.Outcome.Options->Series, (std::vector<std::string>{"-"}));
  const Parsed dat = Parse({"--out", "-", "--format", "dat", "s.txt"});
  ASSERT_TRUE(dat.Outcome.Options) << dat.Err;
  EXPECT_EQ(dat.Outcome.Options->Format, OutputFormat::kDat);
}

// The variables Slurm sets in a job array task; IDs need not start at 1.
struct SlurmCase {
  Env env;
  std::int32_t index, count;  // 0, 0: refused with `error`
  const char* error;
};
// clang-format off
const SlurmCase kSlurmCases[] = {
  {{{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_COUNT", "3"},
    {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "3"}}, 2, 3, ""},
  {{{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_COUNT", "4"},
    {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_MAX", "3"}}, 1, 4, ""},
  {{{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, 3, 3, ""},
  // MIN and MAX when COUNT is not there.
  {{{"SLURM_ARRAY_TASK_ID", "7"}, {"SLURM_ARRAY_TASK_MIN", "5"},
    {"SLURM_ARRAY_TASK_MAX", "9"}}, 3, 5, ""},
  // --array=10-30:10
  {{{"SLURM_ARRAY_TASK_ID", "30"}, {"SLURM_ARRAY_TASK_COUNT", "3"},
    {"SLURM_ARRAY_TASK_MIN", "10"}, {"SLURM_ARRAY_TASK_MAX", "30"},
    {"SLURM_ARRAY_TASK_STEP", "10"}}, 3, 3, ""},
  {{}, 0, 0, "not inside a Slurm job array (SLURM_ARRAY_TASK_ID is not set); "
             "give --shard I/N"},
  {{{"SLURM_ARRAY_TASK_ID", "1"}}, 0, 0,
   "neither SLURM_ARRAY_TASK_COUNT nor SLURM_ARRAY_TASK_MAX is set"},
  {{{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, 0, 0,
   "SLURM_ARRAY_TASK_ID is not a number: \"x\""},
  // --array=1,4,9: no rule numbers these tasks 1..3.
  {{{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_COUNT", "3"},
    {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "9"}}, 0, 0,
   "the array is no evenly spaced range (3 tasks from 1 to 9); give "
   "--shard I/N"},
  {{{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, 0, 0,
   "task 0 of an array from 1 in steps of 1 and 3 tasks does not fit; give "
   "--shard I/N"},
};
// clang-format on

TEST(ShardFromSlurm, NumbersTasksFromTheArraysStart) {
  for (const SlurmCase& c : kSlurmCases) {
    SCOPED_TRACE(c.error);
    const AutoShard shard = ShardFromSlurm(LookupIn(c.env));
    if (c.index == 0) {
      EXPECT_FALSE(shard.Part);
      EXPECT_EQ(shard.Error, c.error);
      continue;
    }
    ASSERT_TRUE(shard.Part) << shard.Error;
    EXPECT_EQ(shard.Part->Index, c.index);
    EXPECT_EQ(shard.Part->Count, c.count);
  }
}

// Every series in exactly one task of an array numbered from 0, as
// --shard auto reads it.
TEST(ShardFromSlurm, TasksOfAnArrayFrom0CoverTheListOnce) {
  std::vector<std::string> names;
  for (int i = 0; i < 11; ++i) {
    names.push_back(std::to_string(i));
    names.back().insert(names.back().begin(), 's');
  }
  std::multiset<std::string> seen;
  for (int id = 0; id < 4; ++id) {
    const Env env = {{"SLURM_ARRAY_TASK_ID", std::to_string(id)},
                     {"SLURM_ARRAY_TASK_MIN", "0"},
                     {"SLURM_ARRAY_TASK_MAX", "3"}};
    const Parsed p = Parse({"--shard", "auto", "x"}, env);
    ASSERT_TRUE(p.Outcome.Options) << p.Err;
    for (const std::string& name :
         SelectShard(names, p.Outcome.Options->Part)) {
      seen.insert(name);
    }
  }
  EXPECT_EQ(seen, std::multiset<std::string>(names.begin(), names.end()));
}

TEST(ClampWarnings, NamesFlagGivenAndUsedValue) {
  const std::vector<std::string> all{"order", "window", "min_scale", "shift"};
  mfwindow::Settings given;
  given.TrendOrder = 11;
  given.Lrec = 100;
  given.MinScale = 50;
  given.WinShift = 100;
  const std::vector<std::string> lines =
      ClampWarnings(mfwindow::Settle(given), all);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "mfwindow-batch: warning: --order 11 is out of range; "
                       "using 10",
                       "mfwindow-batch: warning: --min-scale 50 is out of "
                       "range; using 10"}));
  given.TrendOrder = 2;
  given.Lrec = 10;
  given.MinScale = 20;
  given.WinShift = -3;
  EXPECT_EQ(ClampWarnings(mfwindow::Settle(given), all),
            (std::vector<std::string>{
                "mfwindow-batch: warning: --window 10 is out of range; "
                "using 32",
                "mfwindow-batch: warning: --min-scale 20 is out of range; "
                "using 3",
                "mfwindow-batch: warning: --shift -3 is out of range; "
                "using 1"}));
  EXPECT_TRUE(ClampWarnings(mfwindow::Settle({}), all).empty());
}

// Guards against warning about a default the user never set: --window 100
// alone settles the default minimum scale 20 to 10 without a word.
TEST(ClampWarnings, StaySilentAboutDefaultsNotTyped) {
  mfwindow::Settings given;
  given.Lrec = 100;
  EXPECT_TRUE(ClampWarnings(mfwindow::Settle(given), {"window"}).empty());
  given.Lrec = 10;
  EXPECT_EQ(ClampWarnings(mfwindow::Settle(given), {"window"}),
            (std::vector<std::string>{
                "mfwindow-batch: warning: --window 10 is out of range; "
                "using 32"}));
}

// Every row the batch tool offers refuses a bad value typed for its flag,
// naming the flag, with exit status 2; a 0 that stands for "not given" is
// refused when typed.
TEST(ParseCommandLine, RefusesABadValueOfEveryFlagNamingIt) {
  std::size_t tried = 0;
  for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
    if ((row.FrontEnds & mfwindow::kBatch) == 0) continue;
    std::vector<std::string> values;
    for (const test_support::BadValue& bad : test_support::BadValuesOf(row)) {
      if (!bad.Text.empty()) values.push_back(bad.Text);
    }
    if (row.Type == mfwindow::SettingType::kCount ||
        row.Type == mfwindow::SettingType::kReal ||
        row.Type == mfwindow::SettingType::kSeed) {
      values.push_back("x");  // a word where a number is due
    }
    if (row.Unset && row.Type != mfwindow::SettingType::kText &&
        row.Type != mfwindow::SettingType::kReals) {
      values.push_back("0");
    }
    if (row.Type == mfwindow::SettingType::kSeed) {
      values.push_back("18446744073709551616");  // 2^64
      values.push_back("-1");
    }
    for (const std::string& value : values) {
      SCOPED_TRACE(std::string(row.Flag) + " " + value);
      ++tried;
      const Parsed p = Parse({std::string(row.Flag) + "=" + value, "s.txt"});
      EXPECT_EQ(p.Outcome.ExitStatus, kExitUsage) << p.Err;
      EXPECT_NE(p.Err.find(std::string(row.Flag)), std::string::npos) << p.Err;
    }
  }
  EXPECT_GE(tried, 40u);
}

}  // namespace
}  // namespace batch
