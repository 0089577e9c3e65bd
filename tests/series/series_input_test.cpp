// Reading the samples of a series: mfwindow's one-value-per-line reading,
// the batch tool's policies for bad samples, delimited text with a chosen
// column, and .npy arrays.
#include "series/series_input.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "textio/breaking_buffer.h"

namespace series {
namespace {

constexpr BadSamplePolicy kError = BadSamplePolicy::kError;
constexpr BadSamplePolicy kStop = BadSamplePolicy::kStop;
constexpr BadSamplePolicy kSkip = BadSamplePolicy::kSkip;
constexpr BadSamplePolicy kMask = BadSamplePolicy::kMask;
constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

struct Read {
  std::vector<double> Samples;
  InputSummary Summary;
  std::optional<std::string> Error;  // BadSeriesInput's text
  bool ErrorIsBadSample = false;
};

Read ReadAll(std::istream& in, const InputOptions& options) {
  Read read;
  try {
    const std::unique_ptr<SampleReader> reader =
        MakeSampleReader(in, "s", options);
    while (std::optional<double> sample = reader->Next()) {
      read.Samples.push_back(*sample);
    }
    read.Summary = reader->Summary();
  } catch (const BadSeriesInput& bad) {
    read.Error = bad.what();
    read.ErrorIsBadSample = bad.BadSample();
  }
  return read;
}

Read ReadAll(const std::string& bytes, const InputOptions& options) {
  std::istringstream in(bytes);
  return ReadAll(in, options);
}

// The batch tool's reading with a policy, delimited when asked.
InputOptions Batch(BadSamplePolicy policy, bool delimited = false,
                   std::optional<ColumnChoice> column = std::nullopt,
                   HeaderMode header = HeaderMode::kAuto) {
  InputOptions o;
  o.OnBadSample = policy;
  o.BlankRecordsPassOver = false;
  o.BatchHints = true;
  o.AcceptNpy = true;
  o.Delimited = delimited;
  o.Column = std::move(column);
  o.Header = header;
  return o;
}

ColumnChoice Named(const char* name) { return ColumnChoice{0, name}; }
ColumnChoice Number(std::int32_t index) { return ColumnChoice{index, ""}; }

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

TEST(SampleReader, ReadsTextUnderEachPolicy) {
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
TEST(SampleReader, RefusesColumnsThatAreNotThere) {
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
TEST(SampleReader, HeaderRowInPlainReadingSuggestsAColumn) {
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

TEST(SampleReader, ReadErrorEndsTheSeriesOrFailsIt) {
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

// .npy files, built here byte by byte.
std::string Npy(const std::string& dict, const std::string& data,
                int version = 1) {
  std::string header = dict;
  const std::size_t fixed = version == 1 ? 10 : 12;
  while ((fixed + header.size() + 1) % 64 != 0) header.push_back(' ');
  header.push_back('\n');
  std::string file = "\x93NUMPY";
  file.push_back(static_cast<char>(version));
  file.push_back('\0');
  const int length_bytes = version == 1 ? 2 : 4;
  for (int i = 0; i < length_bytes; ++i) {
    file.push_back(static_cast<char>((header.size() >> (8 * i)) & 0xFF));
  }
  return file + header + data;
}

template <typename T>
std::string Bytes(std::initializer_list<T> values) {
  std::string out;
  for (const T v : values) {
    using Bits = std::conditional_t<
        sizeof(T) == 8, std::uint64_t,
        std::conditional_t<
            sizeof(T) == 4, std::uint32_t,
            std::conditional_t<sizeof(T) == 2, std::uint16_t, std::uint8_t>>>;
    auto bits = std::bit_cast<Bits>(v);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      out.push_back(static_cast<char>(bits & 0xFFU));
      bits = static_cast<Bits>(bits >> 4U >> 4U);
    }
  }
  return out;
}

std::string Dict(const char* descr, bool fortran, const char* shape) {
  return std::string("{'descr': '") + descr +
         "', 'fortran_order': " + (fortran ? "True" : "False") +
         ", 'shape': " + shape + ", }";
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct NpyCase {
  const char* what;
  std::string file;
  std::optional<ColumnChoice> column;
  BadSamplePolicy policy;
  std::vector<double> samples;
  std::string note;  // EndedAt or FirstSkipped, or the error
};

// clang-format off
const NpyCase kNpyCases[] = {
  {"float64", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1.5, -2.25, 4})),
   std::nullopt, kError, {1.5, -2.25, 4}, ""},
  {"version 2", Npy(Dict("<f8", false, "(2,)"), Bytes<double>({1, 2}), 2),
   std::nullopt, kError, {1, 2}, ""},
  {"float32 widened exactly", Npy(Dict("<f4", false, "(1,)"), Bytes<float>({0.1f})),
   std::nullopt, kError, {static_cast<double>(0.1f)}, ""},
  {"int16", Npy(Dict("<i2", false, "(2,)"), Bytes<std::int16_t>({-3, 300})),
   std::nullopt, kError, {-3, 300}, ""},
  {"uint8", Npy(Dict("|u1", false, "(2,)"), Bytes<std::uint8_t>({0, 255})),
   std::nullopt, kError, {0, 255}, ""},
  {"int64 and uint64",
   Npy(Dict("<i8", false, "(1,)"), Bytes<std::int64_t>({-(std::int64_t{1} << 40)})),
   std::nullopt, kError, {-1099511627776.0}, ""},
  {"empty", Npy(Dict("<f8", false, "(0,)"), ""), std::nullopt, kError, {}, ""},
  // The array [[1, 2], [3, 4], [5, 6]] in both orders.
  {"C order, column 2",
   Npy(Dict("<f8", false, "(3, 2)"), Bytes<double>({1, 2, 3, 4, 5, 6})),
   ColumnChoice{2, ""}, kError, {2, 4, 6}, ""},
  {"Fortran order, column 2",
   Npy(Dict("<f8", true, "(3, 2)"), Bytes<double>({1, 3, 5, 2, 4, 6})),
   ColumnChoice{2, ""}, kError, {2, 4, 6}, ""},
  {"Fortran order, column 1",
   Npy(Dict("<f8", true, "(3, 2)"), Bytes<double>({1, 3, 5, 2, 4, 6})),
   ColumnChoice{1, ""}, kError, {1, 3, 5}, ""},
  {"one column needs no choice",
   Npy(Dict("<i4", false, "(2, 1)"), Bytes<std::int32_t>({7, -8})),
   std::nullopt, kError, {7, -8}, ""},
  // NaN and infinities are bad samples, named by their numpy index.
  {"NaN fails", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1, kNaN, 3})),
   std::nullopt, kError, {}, "s[1]: not a number: NaN"},
  {"inf stops",
   Npy(Dict("<f8", false, "(3, 2)"),
       Bytes<double>({1, 2, 3, std::numeric_limits<double>::infinity(), 5, 6})),
   ColumnChoice{2, ""}, kStop, {2}, "s[1, 1]: not a number: inf"},
  {"NaN skipped", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1, kNaN, 3})),
   std::nullopt, kSkip, {1, 3}, "s[1]: not a number: NaN"},
  // Arrays this reader does not take.
  {"big-endian", Npy(Dict(">f8", false, "(1,)"), std::string(8, '\0')),
   std::nullopt, kSkip, {},
   "s: big-endian data (descr '>f8') are not read; save the array with "
   "arr.astype('<f8')"},
  {"complex", Npy(Dict("<c16", false, "(1,)"), std::string(16, '\0')),
   std::nullopt, kSkip, {},
   "s: element type '<c16' is not read; use float64, float32 or integers"},
  {"3-D", Npy(Dict("<f8", false, "(1, 1, 1)"), std::string(8, '\0')),
   std::nullopt, kSkip, {},
   "s: a .npy array of 3 dimensions; one series is a 1-D array, or a column "
   "of a 2-D one"},
  {"2-D without a column",
   Npy(Dict("<f8", false, "(1, 4)"), std::string(32, '\0')), std::nullopt,
   kSkip, {}, "s: a 2-D .npy array of 4 columns; choose one with --column"},
  {"column past the end",
   Npy(Dict("<f8", false, "(1, 2)"), std::string(16, '\0')),
   ColumnChoice{3, ""}, kSkip, {}, "s: no column 3 in a .npy array of 2 columns"},
  {"column by name", Npy(Dict("<f8", false, "(1,)"), std::string(8, '\0')),
   ColumnChoice{0, "Fz"}, kSkip, {},
   "s: a .npy array has no column names; choose its column by number"},
  {"truncated", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1})),
   std::nullopt, kSkip, {},
   "s: the file ends inside the array, after 1 of 3 values"},
  {"truncated before a later column",
   Npy(Dict("<f8", true, "(3, 2)"), Bytes<double>({1, 3})),
   ColumnChoice{2, ""}, kSkip, {},
   "s: the file ends inside the array, after 0 of 3 values"},
};
// clang-format on

TEST(SampleReader, ReadsNpyArrays) {
  for (const NpyCase& c : kNpyCases) {
    SCOPED_TRACE(c.what);
    InputOptions options = Batch(c.policy);
    options.Column = c.column;
    const Read read = ReadAll(c.file, options);
    if (read.Error) {
      EXPECT_EQ(*read.Error, c.note);
      continue;
    }
    ASSERT_EQ(read.Samples.size(), c.samples.size());
    for (std::size_t i = 0; i < c.samples.size(); ++i) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(read.Samples[i]),
                std::bit_cast<std::uint64_t>(c.samples[i]))
          << i;
    }
    const InputSummary& s = read.Summary;
    const std::optional<BadRecord>& noted =
        s.EndedAt ? s.EndedAt : s.FirstSkipped;
    EXPECT_EQ(noted ? noted->Text() : "", c.note);
  }
}

TEST(ParseIsoStamp, ReadsDateTimesToTheNanosecond) {
  constexpr std::int64_t kMarch1 = 1709294400000000000;  // 2024-03-01 12:00Z
  struct Case {
    const char* text;
    std::optional<std::int64_t> ns;
  };
  const Case cases[] = {
      {"2024-03-01T12:00:00", kMarch1},
      {"2024-03-01 12:00:00.25Z", kMarch1 + 250000000},
      {"2024-03-01T13:30:00.000000001+01:30", kMarch1 + 1},
      {"2024-02-29T11:00:00-01:00", kMarch1 - 86400000000000},
      {"1970-01-01T00:00:00Z", 0},
      {"2023-02-29T12:00:00", std::nullopt},  // no leap day
      {"2024-03-01T24:00:00", std::nullopt},
      {"2024-03-01T12:00:60", std::nullopt},  // no leap second
      {"2024-03-01T12:00", std::nullopt},
      {"2024-03-01T12:00:00.", std::nullopt},
      {"2024-03-01T12:00:00.0000000001", std::nullopt},
      {"2024-03-01T12:00:00+0100", std::nullopt},
      {"1899-12-31T23:59:59", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseIsoStamp(c.text), c.ns) << c.text;
}

TEST(ReadTimeAxis, ChecksTheStampsAndSetsTheAxis) {
  struct Case {
    const char* what;
    std::string bytes;
    ColumnChoice time;
    std::int32_t series;
    double tini, tstep;
    std::int64_t stamps;
    std::string origin_or_error;
  };
  // clang-format off
  const Case cases[] = {
    {"numbers by name", "t,x\n0.5,1\n1,2\n1.5,NaN\n2,4\n", Named("t"), 2,
     0.0, 0.5, 4, ""},
    {"epoch seconds step by ms within their rounding",
     "1709294400.001,1\n1709294400.002,2\n1709294400.003,3\n", Number(1), 2,
     1709294400.0, 0.001, 3, ""},
    {"ISO, a bad sample keeps its stamp",
     "x;when\n1;2024-03-01T12:00:00.25\n;2024-03-01T12:00:00.5\n"
     "3;2024-03-01T12:00:00.75\n", Named("when"), 1, -0.25, 0.25, 3,
     "2024-03-01T12:00:00.25"},
    {"uneven numbers", "0,1\n1,1\n2,1\n3.5,1\n", Number(1), 2, 0, 0, 0,
     "s:4: the time stamps step unevenly: \"2\" to \"3.5\" (step 1.5, "
     "expected 1)"},
    {"uneven ISO", "2024-03-01 12:00:00,1\n2024-03-01 12:00:04,2\n"
     "2024-03-01 12:00:08.001,3\n", Number(1), 2, 0, 0, 0,
     "s:3: the time stamps step unevenly: \"2024-03-01 12:00:04\" to "
     "\"2024-03-01 12:00:08.001\" (step 4.001 s, expected 4 s)"},
    {"falling", "t,x\n2,1\n1,1\n", Named("t"), 2, 0, 0, 0,
     "s:3: the time stamps do not rise: \"2\" to \"1\""},
    {"kinds mixed", "1,0\n2024-03-01T12:00:00,1\n", Number(1), 2, 0, 0, 0,
     "s:2: the time stamp \"2024-03-01T12:00:00\" is not a number as the "
     "first stamp is"},
    {"neither kind", "1,2024-03-01\n", Number(2), 1, 0, 0, 0,
     "s:1: the time stamp \"2024-03-01\" is neither a number nor an ISO "
     "8601 date-time (YYYY-MM-DDThh:mm:ss[.f][Z])"},
    {"a blank line has no stamp", "1,0\n\n3,1\n", Number(1), 2, 0, 0, 0,
     "s:2: an empty line has no time stamp"},
    {"the series' own column", "t,x\n1,2\n", Named("x"), 2, 0, 0, 0,
     "s:1: column 2 is the time column; choose the series' column with "
     "--column"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InputOptions options = Batch(kMask, true, Number(c.series));
    options.TimeColumn = c.time;
    std::istringstream in(c.bytes);
    try {
      const TimeAxis axis = ReadTimeAxis(in, "s", options);
      // Epoch seconds are a double's 2^-22 s apart.
      EXPECT_NEAR(axis.Tini, c.tini, 1e-6);
      EXPECT_NEAR(axis.Tstep, c.tstep, 1e-6);
      EXPECT_EQ(axis.Stamps, c.stamps);
      EXPECT_EQ(axis.Origin, c.origin_or_error);
      // The samples are then read as without a time column.
      in.clear();
      in.seekg(0);
      EXPECT_EQ(ReadAll(in, options).Samples.size(),
                static_cast<std::size_t>(c.stamps));
    } catch (const BadSeriesInput& bad) {
      EXPECT_EQ(bad.what(), c.origin_or_error);
    }
  }
}

// mfwindow reads text only: a .npy file is a first record that is no
// number, and says so.
TEST(SampleReader, MfwindowReadsNpyAsText) {
  const Read read = ReadAll(Npy(Dict("<f8", false, "(1,)"), Bytes<double>({1})),
                            MfwindowInput());
  EXPECT_TRUE(read.Samples.empty());
  ASSERT_TRUE(read.Summary.EndedAt);
  EXPECT_EQ(read.Summary.EndedAt->Text().rfind(
                "s:1: not a number: \"\x93NUMPY\\x01\\x00", 0),
            0u)
      << read.Summary.EndedAt->Text();
}

}  // namespace
}  // namespace series
