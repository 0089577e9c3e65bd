#include "series/result_records.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "series/series_pipeline.h"
#include "support/bits.h"

namespace series {
namespace {

std::vector<std::string_view> Fields(std::string_view record) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t comma = record.find(',');
    fields.push_back(record.substr(0, comma));
    if (comma == std::string_view::npos) return fields;
    record.remove_prefix(comma + 1);
  }
}

double Parse(std::string_view field) {
  double value = 0.0;
  const auto [end, ec] =
      std::from_chars(field.data(), field.data() + field.size(), value);
  EXPECT_EQ(ec, std::errc{}) << field;
  EXPECT_EQ(end, field.data() + field.size()) << field;
  return value;
}

using test_support::SameBits;

TEST(DatRecord, IsMfwindowsResultLine) {
  const analysis::WindowResult r{1000.0, 0.25, 1.5, 1.25, 0.75, 1.0};
  // Six fields of 15: fixed form with four trailing blanks.
  EXPECT_EQ(series::ResultLine(r),
            "    1000.00       0.250000        1.50000        1.25000    "
            "   0.750000        1.00000    ");
}

// The values that are hardest to keep: the shortest and longest doubles,
// ties of the 6-digit rendering, signed zero, subnormals.
TEST(CsvRecord, ReadsBackToTheSameDoubles) {
  // clang-format off
  const double values[] = {
      0.1, 1.0 / 3.0, -0.0, 5e-324, 2.2250738585072014e-308,
      1.7976931348623157e308, 999999.5, 654320.5, -2.5e-7, 123456789012.0,
      0.30000000000000004};  // 0.1 + 0.2: needs all 17 digits
  // clang-format on
  for (std::size_t start = 0; start + 6 <= std::size(values); ++start) {
    analysis::WindowOutcome w;
    w.Result = {values[start],     values[start + 1], values[start + 2],
                values[start + 3], values[start + 4], values[start + 5]};
    const std::string record = CsvRecord(w);
    SCOPED_TRACE(record);
    const std::vector<std::string_view> fields = Fields(record);
    ASSERT_EQ(fields.size(), 13u);
    for (std::size_t k = 0; k < 6; ++k) {
      EXPECT_TRUE(SameBits(Parse(fields[k]), values[start + k])) << k;
    }
  }
}

TEST(CsvRecord, WritesNonFiniteValuesReadably) {
  const double inf = std::numeric_limits<double>::infinity();
  analysis::WindowOutcome w;
  w.Result = {1.0, std::numeric_limits<double>::quiet_NaN(), inf, -inf, 0.5,
              1.0};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // A NaN with its sign bit set (0 * -inf) was written "-nan".
  w.Quality = {analysis::QualityStatus::kDegenerate,
               1.0,
               0.25,
               -nan,
               nan,
               std::copysign(nan, -1.0),
               nan};
  EXPECT_EQ(CsvRecord(w),
            "1,nan,inf,-inf,0.5,1,degenerate,1,0.25,nan,nan,nan,nan");
  EXPECT_EQ(Fields(std::string(kCsvHeader) + std::string(kCsvFitHeader)).size(),
            13u);
}

// The null levels follow the quality when the window has them, in the
// order of the header's null columns.
TEST(CsvRecord, AppendsTheNullLevelsInTheHeadersOrder) {
  analysis::WindowOutcome w;
  w.Result = {10.0, 0.25, 0.75, 0.5, 0.5, 1.0};
  w.Quality = {
      analysis::QualityStatus::kCrossover, 0.0, 0.0, 0.0, 0.03125, 0.25, 48.0};
  const analysis::WindowNull null{0.125, 0.375, 0.0625, 0.5,
                                  0.625, 0.75,  3,      96};
  w.Null = &null;
  // The fits' columns come last, after the null levels.
  EXPECT_EQ(CsvRecord(w),
            "10,0.25,0.75,0.5,0.5,1,crossover,0,0,0,0.125,0.375,0.0625,0.5,"
            "0.625,0.75,3,96,0.03125,0.25,48");
  const std::string header = std::string(kCsvHeader) +
                             std::string(kCsvNullHeader) +
                             std::string(kCsvFitHeader);
  EXPECT_EQ(Fields(header).size(), 21u);
  EXPECT_EQ(Fields(header)[12], "width_p");
  EXPECT_EQ(Fields(header)[17], "surrogates_used");
  EXPECT_EQ(Fields(header)[20], "crossover_scale");
}

TEST(SpectrumRecords, FollowTheLongLayout) {
  std::array<double, analysis::kMomentCount> q{};
  analysis::WindowSpectrum s{std::vector<double>(q.size()),
                             std::vector<double>(q.size()),
                             std::vector<double>(analysis::kAlfaCount),
                             std::vector<double>(analysis::kAlfaCount)};
  for (std::size_t j = 0; j < q.size(); ++j) {
    q[j] = static_cast<double>(j) - 100.0;
    s.HurstQ[j] = 0.5 + static_cast<double>(j);
    s.TauQ[j] = -1.0 - static_cast<double>(j);
  }
  for (std::size_t m = 0; m < s.AlfaGrid.size(); ++m) {
    s.AlfaGrid[m] = 0.25 * static_cast<double>(m);
    s.FAlfaGrid[m] = 1.0 / 3.0;
  }
  const std::vector<std::string> records = SpectrumRecords(7, 1234.5, q, s);
  ASSERT_EQ(records.size(), 300u);
  const std::vector<std::string_view> header = Fields(kSpectrumHeader);
  ASSERT_EQ(header.size(), 8u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(records[i]);
    const std::vector<std::string_view> f = Fields(records[i]);
    ASSERT_EQ(f.size(), header.size());
    EXPECT_EQ(f[0], "7");
    EXPECT_EQ(f[1], "1234.5");
    if (i < 200) {  // window,time,q,h,tau,,,
      EXPECT_EQ(Parse(f[2]), q[i]);
      EXPECT_EQ(Parse(f[3]), s.HurstQ[i]);
      EXPECT_EQ(Parse(f[4]), s.TauQ[i]);
      EXPECT_TRUE(f[5].empty() && f[6].empty() && f[7].empty());
    } else {  // window,time,,,,m,alpha,f
      const std::size_t m = i - 200;
      EXPECT_TRUE(f[2].empty() && f[3].empty() && f[4].empty());
      EXPECT_EQ(f[5], std::to_string(m + 1));
      EXPECT_EQ(Parse(f[6]), s.AlfaGrid[m]);
      EXPECT_TRUE(SameBits(Parse(f[7]), 1.0 / 3.0));
    }
  }
}

}  // namespace
}  // namespace series
