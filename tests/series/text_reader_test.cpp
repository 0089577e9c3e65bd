// Reading a series written as text: mfwindow's one-value-per-line reading,
// the batch tool's policies for bad samples, and delimited text with a
// chosen column.
#include "series/text_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "series/series_input.h"
#include "support/sample_reading.h"
#include "textio/breaking_buffer.h"

namespace series {
namespace {

using test_support::Batch;
using test_support::Named;
using test_support::Number;
using test_support::Read;
using test_support::ReadAll;

constexpr BadSamplePolicy kError = BadSamplePolicy::kError;
constexpr BadSamplePolicy kStop = BadSamplePolicy::kStop;
constexpr BadSamplePolicy kSkip = BadSamplePolicy::kSkip;
constexpr BadSamplePolicy kMask = BadSamplePolicy::kMask;
constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

struct TextCase {
  const char* what;
  std::string bytes;
  InputOptions options;
  std::vector<double> samples;
  // What ended the series early, the first record skipped (with the count
  // of records skipped), or the error; "" for none.
  std::string ended;
  std::string skipped;
  std::int64_t skipped_count;
  std::string error;
};

// clang-format off
const TextCase kTextCases[] = {
  // mfwindow: blank lines passed over, the first record that is no number
  // ends the series, named with its line.
  {"mfwindow stops at NaN", "1\n\n2\nNaN\n3\n", MfwindowInput(), {1, 2},
   "s:4: not a number: \"NaN\"", "", 0, ""},
  {"mfwindow stops at a null value", "1\n,5\n", MfwindowInput(), {1},
   "s:2: not a number: \",5\"", "", 0, ""},
  {"mfwindow shows control characters", "1\nx\ty\x01\n", MfwindowInput(), {1},
   "s:2: not a number: \"x\\ty\\x01\"", "", 0, ""},
  {"mfwindow reads a pair's first value", "1.5 2.5\n3 4\n", MfwindowInput(),
   {1.5, 3}, "", "", 0, ""},
  {"mfwindow with a mark and CR-only line ends", "\xEF\xBB\xBF" "1\r2\r3",
   MfwindowInput(), {1, 2, 3}, "", "", 0, ""},
  // The batch tool's policies on the same file.
  {"error", "1\n2\nNaN\n3\n", Batch(kError), {}, "", "", 0,
   "s:3: not a number: \"NaN\""},
  {"stop", "1\n2\nNaN\n3\n", Batch(kStop), {1, 2},
   "s:3: not a number: \"NaN\"", "", 0, ""},
  {"skip", "1\n2\nNA\n3\n", Batch(kSkip), {1, 2, 3},
   "", "s:3: not a number: \"NA\"", 1, ""},
  // A blank line between two lines is a missing sample; at either end of
  // the file it is nothing.
  {"interior blank line", "1\n\n2\n", Batch(kError), {}, "", "", 0,
   "s:2: empty line (a missing sample)"},
  {"blank lines at both ends", "\n \n1\n2\n\n\n", Batch(kError), {1, 2},
   "", "", 0, ""},
  {"two blank lines skipped", "1\n\n \n2\n", Batch(kSkip), {1, 2},
   "", "s:2: 2 empty lines (missing samples)", 2, ""},
  {"blank lines stop", "1\n\n2\n", Batch(kStop), {1},
   "s:2: empty line (a missing sample)", "", 0, ""},
  // mask: each bad record is a NaN in its place, blank lines one each.
  {"mask", "1\n2\nNA\n3\n", Batch(kMask), {1, 2, kGap, 3},
   "", "s:3: not a number: \"NA\"", 1, ""},
  {"two blank lines masked", "1\n\n \n2\n", Batch(kMask), {1, kGap, kGap, 2},
   "", "s:2: 2 empty lines (missing samples)", 2, ""},
  {"masked at both ends", "NaN\n1\nx\n", Batch(kMask), {kGap, 1, kGap},
   "", "s:1: not a number: \"NaN\"", 2, ""},
  // Delimited text.
  {"column by name, header detected", "timestamp,Fz\n0,1.5\n1,NaN\n2,2.5\n",
   Batch(kSkip, true, Named("Fz")), {1.5, 2.5},
   "", "s:3: column 2 (Fz) is not a number: \"NaN\"", 1, ""},
  {"column by number, semicolons, no header", "1;2\n3;4\n",
   Batch(kError, true, Number(2)), {2, 4}, "", "", 0, ""},
  {"a NaN first row is data, not a header", "NaN,1\n2,3\n",
   Batch(kSkip, true), {2}, "", "s:1: column 1 is not a number: \"NaN\"", 1, ""},
  {"--header yes takes a numeric first row", "1,2\n3,4\n",
   Batch(kError, true, Number(1), HeaderMode::kYes), {3}, "", "", 0, ""},
  {"--header no reads a word as a bad sample", "x\n1\n",
   Batch(kError, true, Number(1), HeaderMode::kNo), {}, "", "", 0,
   "s:1: column 1 is not a number: \"x\""},
  {"empty field", "a,b\n1,\n2,3\n", Batch(kStop, true, Number(2)), {},
   "s:2: column 2 (b) is empty", "", 0, ""},
  {"short row", "a,b\n1,2\n3\n", Batch(kError, true, Number(2)), {}, "", "", 0,
   "s:3: no column 2 (b) (the line has 1 field): \"3\""},
  {"quoted names, blank-separated", "\"t\" \"x\"\n0 1.25\n",
   Batch(kError, true, Named("x")), {1.25}, "", "", 0, ""},
  {"mark and CR-only line ends", "\xEF\xBB\xBF" "time,x\r0,1\r1,2\r",
   Batch(kError, true, Named("x")), {1, 2}, "", "", 0, ""},
  {"blank line after the header", "a\n\n1\n", Batch(kError, true), {}, "", "", 0,
   "s:2: empty line (a missing sample)"},
  // --header auto looked at the chosen field alone: a header naming the
  // column by a number became sample 1, a spreadsheet error a header.
  {"a word elsewhere makes the header", "time,1\n0,5\n1,6\n",
   Batch(kError, true, Number(2)), {5, 6}, "", "", 0, ""},
  {"a spreadsheet error is no header", "#DIV/0!,1\n2,3\n",
   Batch(kSkip, true), {2}, "", "s:1: column 1 is not a number: \"#DIV/0!\"", 1,
   ""},
  {"a time of day is no header", "10:00:00,1\n10:00:01,2\n",
   Batch(kError, true, Number(2)), {1, 2}, "", "", 0, ""},
};
// clang-format on

TEST(TextReader, ReadsTextUnderEachPolicy) {
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(c.what);
    const Read read = ReadAll(c.bytes, c.options);
    EXPECT_EQ(read.Error.value_or(""), c.error);
    if (!c.error.empty()) {
      EXPECT_TRUE(read.ErrorIsBadSample);
      continue;
    }
    std::vector<std::uint64_t> got;
    std::vector<std::uint64_t> want;
    for (const double v : read.Samples)
      got.push_back(std::bit_cast<std::uint64_t>(v));
    for (const double v : c.samples)
      want.push_back(std::bit_cast<std::uint64_t>(v));
    EXPECT_EQ(got, want);
    EXPECT_EQ(read.Summary.Samples + read.Summary.Masked,
              static_cast<std::int64_t>(c.samples.size()));
    EXPECT_EQ(read.Summary.EndedAt ? read.Summary.EndedAt->Text() : "",
              c.ended);
    EXPECT_EQ(
        read.Summary.FirstSkipped ? read.Summary.FirstSkipped->Text() : "",
        c.skipped);
    EXPECT_EQ(read.Summary.Skipped + read.Summary.Masked, c.skipped_count);
  }
}

// Failures of the run's settings rather than of one record: no policy
// reads around them.
TEST(TextReader, RefusesColumnsThatAreNotThere) {
  struct Case {
    std::string bytes;
    ColumnChoice column;
    std::string error;
  };
  const Case cases[] = {
      {"1,2\n3,4\n", Number(3),
       "s:1: no column 3: the first line has 2 fields (comma-separated): "
       "\"1,2\""},
      {"time,Fz\n0,1\n", Named("fz"),
       "s:1: no column named \"fz\" (did you mean \"Fz\"?) in the header row "
       "(2 fields, comma-separated: \"time\", \"Fz\")"},
      {"time\tFz\n0\t1\n", Named("Oz"),
       "s:1: no column named \"Oz\" in the header row (2 fields, "
       "tab-separated: \"time\", \"Fz\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    for (const BadSamplePolicy policy : {kError, kStop, kSkip}) {
      const Read read = ReadAll(c.bytes, Batch(policy, true, c.column));
      EXPECT_EQ(read.Error.value_or(""), c.error);
      EXPECT_FALSE(read.ErrorIsBadSample);
    }
  }
}

// Guards the trap of a header row that silently gave no window: the error
// says what the line looks like and how to read the file, and the policies
// that could read around a bad sample are not offered for it.
TEST(TextReader, HeaderRowInPlainReadingSuggestsAColumn) {
  const Read read = ReadAll("timestamp,Fz,Cz\n0,1,2\n", Batch(kError));
  EXPECT_EQ(read.Error.value_or(""),
            "s:1: not a number: \"timestamp,Fz,Cz\" (a header row? choose a "
            "column with --column, by number or by name)");
  EXPECT_FALSE(read.ErrorIsBadSample);

  // Under skip the header goes and column 1 is read, with a warning that
  // only the first value of each line is taken.
  const Read skipped = ReadAll("timestamp,Fz,Cz\n0,1,2\n1,3,4\n", Batch(kSkip));
  EXPECT_EQ(skipped.Samples, (std::vector<double>{0, 1}));
  EXPECT_EQ(skipped.Summary.Warnings,
            (std::vector<std::string>{
                "s:2: the line holds more than one value; only the first "
                "value of each line is analysed (choose a column with "
                "--column)"}));
}

TEST(TextReader, ReadErrorEndsTheSeriesOrFailsIt) {
  for (const BadSamplePolicy policy : {kError, kStop}) {
    BreakingBuffer broken("1\n2\n");
    std::istream in(&broken);
    InputOptions options = Batch(policy);
    const Read read = ReadAll(in, options);
    const std::string text =
        "s:3: the file cannot be read further (read error)";
    if (policy == kError) {
      EXPECT_EQ(read.Error.value_or(""), text);
    } else {
      EXPECT_EQ(read.Samples, (std::vector<double>{1, 2}));
      ASSERT_TRUE(read.Summary.EndedAt);
      EXPECT_EQ(read.Summary.EndedAt->Text(), text);
    }
  }
}

}  // namespace
}  // namespace series
