// A series' own time stamps: the time column read and checked, and the
// time axis it sets.
#include "series/time_axis.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "series/series_input.h"
#include "support/sample_reading.h"

namespace series {
namespace {

using test_support::Batch;
using test_support::Named;
using test_support::Number;
using test_support::ReadAll;

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
    {"neither kind", "1,29/03/1958\n", Number(2), 1, 0, 0, 0,
     "s:1: the time stamp \"29/03/1958\" is neither a number nor an ISO "
     "8601 date-time (YYYY-MM-DD[Thh:mm:ss[.f][Z]])"},
    {"dates alone, as pandas writes them", "date,x\n1958-03-29,1\n"
     "1958-04-05,2\n1958-04-12,3\n", Named("date"), 2, -604800, 604800, 3,
     "1958-03-29"},
    {"a blank line has no stamp", "1,0\n\n3,1\n", Number(1), 2, 0, 0, 0,
     "s:2: an empty line has no time stamp"},
    {"the series' own column", "t,x\n1,2\n", Named("x"), 2, 0, 0, 0,
     "s:1: column 2 is the time column; choose the series' column with "
     "--column"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InputOptions options =
        Batch(BadSamplePolicy::kMask, true, Number(c.series));
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

}  // namespace
}  // namespace series
