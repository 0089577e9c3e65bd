// ISO 8601 date-times read to the nanosecond, and nanoseconds written as
// seconds.
#include "textio/iso_stamp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace textio {
namespace {

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
      {"2024-03-01", kMarch1 - 43200000000000},  // a date alone: midnight
      {"2024-03-01Z", std::nullopt},
      {"2024-03-01T", std::nullopt},
      {"2024-3-01", std::nullopt},
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

// Guards a fraction that lost its leading zeros ("0.4" for 4 ms) or kept
// its trailing ones ("4.001000000").
TEST(FormatSeconds, WritesNanosecondsExactly) {
  struct Case {
    std::int64_t ns;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {1, "0.000000001"},
      {4000000, "0.004"},
      {4001000000, "4.001"},
      {86400000000000, "86400"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSeconds(c.ns), c.text) << c.ns;
}

// Each stamp written back as ParseIsoStamp reads it: days before 1970
// (floor division), a leap day, the last nanosecond of a day, the range's
// ends.
TEST(FormatIsoStamp, WritesWhatParseIsoStampReadsBack) {
  for (const char* text :
       {"1958-03-29T00:00:00", "1900-01-01T00:00:00", "1969-12-31T23:59:59.5",
        "2024-02-29T12:00:00.25", "1999-12-31T23:59:59.999999999",
        "2100-12-31T23:59:59", "1970-01-01T00:00:00.000000001"}) {
    const std::optional<std::int64_t> ns = ParseIsoStamp(text);
    ASSERT_TRUE(ns) << text;
    EXPECT_EQ(FormatIsoStamp(*ns), text);
  }
}

}  // namespace
}  // namespace textio
