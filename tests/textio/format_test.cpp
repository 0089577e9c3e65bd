#include "textio/format.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using textio::FormatGeneralReal;
using textio::FormatInteger;
using textio::FormattedItem;
using textio::FormatTextField;
using textio::FreeItem;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------- fields

struct TextCase {
  std::string_view text;
  int width;
  std::string_view field;
};
// clang-format off
constexpr TextCase kTextCases[] = {
  {"File= ", 8, "  File= "},
  {"abc",    3, "abc"},
  {"abcdef", 3, "abc"},    // too long: cut on the right, no asterisks
  {"",       2, "  "},
  {" ",      1, " "},
  {"x",      0, ""},
};
// clang-format on

TEST(FormatTextField, RightJustifiesOrCuts) {
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatTextField(c.text, c.width), c.field);
  }
}

struct IntegerCase {
  std::int32_t value;
  int width;
  std::string_view field;
};
// clang-format off
constexpr IntegerCase kIntegerCases[] = {
  {0,            10, "         0"},
  {7,            10, "         7"},
  {-1,           10, "        -1"},
  {987654321,    10, " 987654321"},
  {2147483647,   10, "2147483647"},
  {-999999999,   10, "-999999999"},
  {-1000000000,  10, "**********"},
  {-2147483647 - 1, 10, "**********"},
  {3,            12, "           3"},
  {2147483647,   12, "  2147483647"},
  {-2147483647 - 1, 12, " -2147483648"},
  {5,             1, "5"},
  {12,            1, "*"},
  {-1,            1, "*"},
  {-1,            2, "-1"},
  {0,             0, ""},
};
// clang-format on

TEST(FormatInteger, RightJustifiesOrFillsWithAsterisks) {
  for (const IntegerCase& c : kIntegerCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(FormatInteger(c.value, c.width), c.field);
  }
}

// ----------------------------------------------------- general real table

struct RealCase {
  double value;
  std::string_view field;
};
// The result-file table (width 15, 6 significant digits), byte for byte.
// clang-format off
const RealCase kResultFieldCases[] = {
  {0.0,          "    0.00000    "},
  {-0.0,         "    0.00000    "},  // no sign, not even for -0
  {0.5,          "   0.500000    "},
  {1.0,          "    1.00000    "},
  {-987.654321,  "   -987.654    "},
  {654320.5,     "    654320.    "},  // tie goes to the even digit
  {654321.5,     "    654322.    "},
  {999999.4,     "    999999.    "},
  {999999.5,     "   0.100000E+07"},  // rounding crosses into exponent form
  {0.099999996,  "   0.100000    "},  // rounding reaches 0.1: fixed form
  {0.0999999,    "   0.999999E-01"},
  {-2.5e-7,      "  -0.250000E-06"},
  {1e-100,       "   0.100000E-99"},
  {1e-101,       "   0.100000-100"},  // three-digit exponent drops the E
  {1e300,        "   0.100000+301"},
  {kNaN,         " NaN           "},
  {-kNaN,        " NaN           "},
  {kInf,         " Infinity      "},
  {-kInf,        " -Infinity     "},
};
// clang-format on

TEST(FormatGeneralReal, MatchesResultFieldTable) {
  for (const RealCase& c : kResultFieldCases) {
    SCOPED_TRACE(testing::Message() << std::hexfloat << c.value);
    EXPECT_EQ(FormatGeneralReal(c.value, 15, 6), c.field);
  }
}

struct NarrowCase {
  double value;
  int width;
  std::string_view field;
};
// The "0" before the point is written only when a column is left for it;
// a form that still does not fit becomes asterisks (4 blanks kept after a
// fixed form).
// clang-format off
constexpr NarrowCase kNarrowCases[] = {
  {0.5,          12, "0.500000    "},
  {0.5,          11, ".500000    "},
  {-2.5e-7,      13, "-0.250000E-06"},
  {-2.5e-7,      12, "-.250000E-06"},
  {-2.5e-7,      11, "***********"},
  {-987.654321,  12, "-987.654    "},
  {-987.654321,  11, "*******    "},
  {0.0,          10, ".00000    "},
  {1e300,        11, ".100000+301"},
};
// clang-format on

TEST(FormatGeneralReal, WritesLeadingZeroOnlyWhenRoomIsLeft) {
  for (const NarrowCase& c : kNarrowCases) {
    SCOPED_TRACE(testing::Message() << c.value << " in " << c.width);
    EXPECT_EQ(FormatGeneralReal(c.value, c.width, 6), c.field);
  }
}

// --------------------------------------- random values against glibc printf

// An independent rendering of the general real rule through glibc's printf,
// which rounds the exact binary value to nearest, ties to even (the default
// rounding mode). Assumes `width` leaves room for the "0" before the point.
std::string ReferenceGeneralReal(double value, int width, int digits) {
  const double magnitude = std::fabs(value);
  std::array<char, 512> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.*E", digits - 1, magnitude);
  const std::string scientific = buffer.data();  // "D.DDDDDE+XX"
  const int power = std::atoi(scientific.c_str() + scientific.find('E') + 1);
  const int integer_digits = power + 1;
  if (integer_digits >= 0 && integer_digits <= digits) {
    // "#" keeps the point when no decimals are written.
    std::snprintf(buffer.data(), buffer.size(), "%#*.*f    ", width - 4,
                  digits - integer_digits, value);
    return buffer.data();
  }
  std::string significand;
  for (const char c : scientific.substr(0, scientific.find('E'))) {
    if (c != '.') significand += c;
  }
  const int exponent = power + 1;
  std::array<char, 16> suffix{};
  std::snprintf(suffix.data(), suffix.size(),
                std::abs(exponent) <= 99 ? "E%+03d" : "%+04d", exponent);
  const std::string text = std::string(std::signbit(value) ? "-" : "") + "0." +
                           significand + suffix.data();
  std::snprintf(buffer.data(), buffer.size(), "%*s", width, text.c_str());
  return buffer.data();
}

double Parse(const std::string& text) {
  return std::strtod(text.c_str(), nullptr);
}

// Values that probe the rounding: random bit patterns, neighbours of powers
// of ten and of the six-digit rounding boundaries 9.999995 x 10^p (which
// hold the 0.1 and 10^6 switches between forms), near-ties written in
// decimal, and exact binary ties at the sixth significant digit.
std::vector<double> ProbeValues(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<double> values;
  for (int i = 0; i < 200000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (std::isfinite(value) && value != 0.0) values.push_back(value);
  }
  for (int p = -323; p <= 308; ++p) {
    for (const char* mantissa : {"1", "9.999995", "9.9999949999", "1.000005"}) {
      double value = Parse(std::string(mantissa) + "e" + std::to_string(p));
      if (value == 0.0 || !std::isfinite(value)) continue;
      double up = value;
      double down = value;
      for (int step = 0; step < 8; ++step) {
        values.push_back(up);
        values.push_back(-down);
        up = std::nextafter(up, kInf);
        down = std::nextafter(down, 0.0);
      }
    }
  }
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> power(-320, 300);
  for (int i = 0; i < 30000; ++i) {
    std::string text = std::to_string(1 + digit(random) % 9) + ".";
    for (int d = 0; d < 5; ++d) text += static_cast<char>('0' + digit(random));
    text += "5e" + std::to_string(power(random));
    const double value = Parse(text);
    values.push_back(value);
    values.push_back(std::nextafter(value, kInf));
    values.push_back(std::nextafter(value, 0.0));
  }
  // i + odd / 2^(7 - k) with k integer digits has exactly 6 - k + 1
  // decimals, the last a 5: a true tie at the sixth significant digit.
  for (int k = 0; k <= 6; ++k) {
    const int low = k == 0 ? 0 : static_cast<int>(std::pow(10, k - 1));
    const int high = static_cast<int>(std::pow(10, k)) - 1;
    std::uniform_int_distribution<int> integer(low, high);
    std::uniform_int_distribution<int> odd(0, (1 << (6 - k)) - 1);
    for (int i = 0; i < 5000; ++i) {
      const double value =
          integer(random) + std::ldexp(2 * odd(random) + 1, -(7 - k));
      if (value >= 0.1) values.push_back(value);
    }
  }
  // Exponent-form ties: integers of 7 to 9 digits ending in 5, 50, 500.
  std::uniform_int_distribution<std::int64_t> six_digits(100000, 999999);
  for (int i = 0; i < 5000; ++i) {
    const auto head = static_cast<double>(six_digits(random));
    values.push_back(head * 10 + 5);
    values.push_back(head * 100 + 50);
    values.push_back(-(head * 1000 + 500));
  }
  // Zero has its own rule (no sign), covered by the table above.
  std::erase_if(values, [](double value) { return value == 0.0; });
  return values;
}

TEST(FormatGeneralReal, AgreesWithPrintfOnProbeValues) {
  int mismatches = 0;
  for (const double value : ProbeValues(20240611)) {
    const std::string expected = ReferenceGeneralReal(value, 15, 6);
    const std::string actual = FormatGeneralReal(value, 15, 6);
    if (actual != expected && ++mismatches <= 10) {
      ADD_FAILURE() << std::hexfloat << value << ": \"" << actual
                    << "\" instead of \"" << expected << "\"";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FormatGeneralReal, AgreesWithPrintfForOtherDigitCounts) {
  std::mt19937_64 random(77);
  for (const int digits : {1, 2, 3, 10, 17}) {
    SCOPED_TRACE(digits);
    const int width = digits + 9;
    int mismatches = 0;
    for (int i = 0; i < 20000; ++i) {
      const double value = std::bit_cast<double>(random());
      if (!std::isfinite(value) || value == 0.0) continue;
      const std::string expected = ReferenceGeneralReal(value, width, digits);
      const std::string actual = FormatGeneralReal(value, width, digits);
      if (actual != expected && ++mismatches <= 5) {
        ADD_FAILURE() << std::hexfloat << value << ": \"" << actual
                      << "\" instead of \"" << expected << "\"";
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// ------------------------------------------------------------ free records

TEST(FreeRecordText, StartsWithBlankAndJoinsItems) {
  struct Case {
    std::vector<FreeItem> items;
    std::string record;
  };
  std::string banner_items(70, '*');
  std::vector<FreeItem> banner;
  for (const char& c : banner_items)
    banner.emplace_back(std::string_view(&c, 1));
  // clang-format off
  const Case cases[] = {
    {{"Number of signals=", 3}, " Number of signals=           3"},
    {{"Number of signals=", 0}, " Number of signals=           0"},
    {{" "},                     "  "},
    {{},                        " "},
    {{"ab", "cd"},              " abcd"},
    {{1, -2},                   "            1          -2"},
    {{-2147483647 - 1},         "  -2147483648"},
    {{"  Lrec=", 512, " ok"},   "   Lrec=         512 ok"},
    {banner,                    " " + banner_items},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    EXPECT_EQ(textio::FreeRecordText(c.items), c.record);
  }
}

TEST(WriteFreeRecord, WritesOneRecordWithCrLf) {
  std::ostringstream out;
  EXPECT_TRUE(textio::WriteFreeRecord(out, {"Number of signals=", 3}));
  EXPECT_TRUE(textio::WriteFreeRecord(out, {" "}));
  EXPECT_EQ(out.str(), " Number of signals=           3\r\n  \r\n");
}

// ------------------------------------------------------- formatted records

TEST(FormattedRecordText, RendersProgressLines) {
  struct Case {
    std::int32_t count;
    std::string_view record;
  };
  // clang-format off
  constexpr Case cases[] = {
    {0,           "+         0"},
    {7,           "+         7"},
    {987654321,   "+ 987654321"},
    {-1000000000, "+**********"},
  };
  // clang-format on
  for (const Case& c : cases) {
    const FormattedItem items[] = {c.count};
    EXPECT_EQ(textio::FormattedRecordText(textio::kProgressLineLayout, items),
              c.record);
  }
}

TEST(FormattedRecordText, EchoLineTakesSuppliedRepeatCount) {
  const std::string_view name = "series.txt";
  std::vector<FormattedItem> items = {std::string_view("File= ")};
  for (std::size_t i = 0; i < name.size(); ++i)
    items.emplace_back(name.substr(i, 1));
  const int length[] = {static_cast<int>(name.size())};
  EXPECT_EQ(textio::FormattedRecordText(textio::kEchoLineLayout, items, length),
            "  File= series.txt");

  // With L = 0 the record ends after the width-8 field.
  const FormattedItem only_label[] = {std::string_view("File= ")};
  const int none[] = {0};
  EXPECT_EQ(
      textio::FormattedRecordText(textio::kEchoLineLayout, only_label, none),
      "  File= ");
}

TEST(FormattedRecordText, ResultLineIsSixFieldsOf15) {
  const FormattedItem items[] = {1.0, 0.5, -987.654321, 999999.5, kNaN, -0.0};
  const std::string record =
      textio::FormattedRecordText(textio::kResultLineFormat, items);
  EXPECT_EQ(record,
            "    1.00000    "
            "   0.500000    "
            "   -987.654    "
            "   0.100000E+07"
            " NaN           "
            "    0.00000    ");
  EXPECT_EQ(record.size(), 90u);
}

TEST(FormattedRecordText, EndsAtFirstFieldWithoutItem) {
  const FormattedItem two[] = {0.5, 1.0};
  EXPECT_EQ(textio::FormattedRecordText(textio::kResultLineFormat, two),
            "   0.500000        1.00000    ");
  // A literal needs no item, so it is still written.
  EXPECT_EQ(textio::FormattedRecordText(textio::kProgressLineLayout, {}), "+");
}

TEST(WriteFormattedRecord, WritesOneRecordWithCrLf) {
  std::ostringstream out;
  const FormattedItem items[] = {7};
  EXPECT_TRUE(
      textio::WriteFormattedRecord(out, textio::kProgressLineLayout, items));
  EXPECT_EQ(out.str(), "+         7\r\n");
}

}  // namespace

// A series longer than 2^31 windows: the count passes the 32-bit range and
// still shows in the progress line, as long as its ten columns hold it.
TEST(FormattedRecordText, ProgressLineTakesCountsPast32Bits) {
  const textio::FormattedItem past[] = {std::int64_t{2147483648}};
  EXPECT_EQ(textio::FormattedRecordText(textio::kProgressLineLayout, past),
            "+2147483648");
  const textio::FormattedItem too_wide[] = {std::int64_t{10000000000}};
  EXPECT_EQ(textio::FormattedRecordText(textio::kProgressLineLayout, too_wide),
            "+**********");
}
