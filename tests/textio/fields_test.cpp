// Splitting delimited text and quoting records in messages.
#include "textio/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using textio::FieldSeparator;

TEST(GuessSeparator, PrefersTabThenSemicolonThenComma) {
  struct Case {
    const char* record;
    FieldSeparator separator;
  };
  // clang-format off
  const Case cases[] = {
    {"timestamp,Fz,Cz,Pz", FieldSeparator::kComma},
    {"1,5;2,5",            FieldSeparator::kSemicolon},  // decimal commas
    {"a;b\tc",             FieldSeparator::kTab},
    {"1.5 2.5",            FieldSeparator::kWhitespace},
    {"1.5",                FieldSeparator::kWhitespace},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    EXPECT_EQ(textio::GuessSeparator(c.record), c.separator);
  }
}

struct SplitCase {
  std::string record;
  FieldSeparator separator;
  std::vector<std::string> fields;
};
// clang-format off
const SplitCase kSplitCases[] = {
  {"a,b,c",                 FieldSeparator::kComma,      {"a", "b", "c"}},
  {" a , b ,c ",            FieldSeparator::kComma,      {"a", "b", "c"}},
  {"1.5,,3",                FieldSeparator::kComma,      {"1.5", "", "3"}},
  {"1.5,",                  FieldSeparator::kComma,      {"1.5", ""}},
  {"",                      FieldSeparator::kComma,      {""}},
  {"\"Fz\",\"a,b\",3",      FieldSeparator::kComma,      {"Fz", "a,b", "3"}},
  {"\"say \"\"hi\"\"\",2",  FieldSeparator::kComma,      {"say \"hi\"", "2"}},
  {"\"1.5\" x,2",           FieldSeparator::kComma,      {"1.5x", "2"}},  // junk stays
  {"\"open,2",              FieldSeparator::kComma,      {"open,2"}},
  {"1,5;2,5",               FieldSeparator::kSemicolon,  {"1,5", "2,5"}},
  {"a\t b\t\tc",            FieldSeparator::kTab,        {"a", "b", "", "c"}},
  {"  1.5\t 2  ",           FieldSeparator::kWhitespace, {"1.5", "2"}},
  {"   ",                   FieldSeparator::kWhitespace, {}},
  {"x,y\r",                 FieldSeparator::kComma,      {"x", "y"}},
  {"\"t\" \"x\"",             FieldSeparator::kWhitespace, {"t", "x"}},
  {"\"a b\" 2",              FieldSeparator::kWhitespace, {"a b", "2"}},
};
// clang-format on

TEST(SplitFields, SplitsTrimsAndUnquotes) {
  std::vector<std::string> fields{"left over"};
  for (const SplitCase& c : kSplitCases) {
    SCOPED_TRACE(testing::PrintToString(c.record));
    textio::SplitFields(c.record, c.separator, fields);
    EXPECT_EQ(fields, c.fields);
  }
}

// Only the fields up to the column are needed on every data line.
TEST(SplitFields, StopsAfterMaxFields) {
  std::vector<std::string> fields;
  textio::SplitFields("1,2,\"3,4\",5", FieldSeparator::kComma, fields, 2);
  EXPECT_EQ(fields, (std::vector<std::string>{"1", "2"}));
  textio::SplitFields("1 2 3", FieldSeparator::kWhitespace, fields, 1);
  EXPECT_EQ(fields, (std::vector<std::string>{"1"}));
}

TEST(IsMissingValueSpelling, KnowsGapMarkersButNotNames) {
  for (const char* gap : {"", "NaN", "nan", "-nan", "+NaN", "NA", "n/a", "#N/A",
                          "NULL", "None", "inf", "-Infinity", "?", "-"}) {
    SCOPED_TRACE(gap);
    EXPECT_TRUE(textio::IsMissingValueSpelling(gap));
  }
  for (const char* word : {"Fz", "time", "nano", "NaNa", "1.5", "--"}) {
    SCOPED_TRACE(word);
    EXPECT_FALSE(textio::IsMissingValueSpelling(word));
  }
}

TEST(VisibleExcerpt, ShowsControlCharactersAndCutsLongText) {
  EXPECT_EQ(textio::VisibleExcerpt("NaN"), "NaN");
  EXPECT_EQ(textio::VisibleExcerpt("a\tb\r\n\x01\x7f"),
            "a\\tb\\r\\n\\x01\\x7f");
  EXPECT_EQ(textio::VisibleExcerpt(std::string(50, '7')),
            std::string(40, '7') + "...");
  EXPECT_EQ(textio::VisibleExcerpt("12345", 5), "12345");
  // "\xc3\xa9" is one character: never cut between its two bytes.
  EXPECT_EQ(textio::VisibleExcerpt("abc\xc3\xa9", 4), "abc...");
  EXPECT_EQ(textio::VisibleExcerpt("\xEF\xBB\xBF"
                                   "1"),
            "\xEF\xBB\xBF"
            "1");
}

TEST(LeftAdjust, MovesLeadingBlanksToTheEnd) {
  std::string entry = "  s1.txt  ";
  EXPECT_EQ(textio::LeftAdjust(entry), 6u);
  EXPECT_EQ(entry, "s1.txt    ");
  std::string blank(256, ' ');
  EXPECT_EQ(textio::LeftAdjust(blank), 0u);
  EXPECT_EQ(blank, std::string(256, ' '));
  std::string inner = " a b ";
  EXPECT_EQ(textio::LeftAdjust(inner), 3u);
  EXPECT_EQ(inner, "a b  ");
}

}  // namespace
