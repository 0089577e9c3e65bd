// The file options' texts read into the delimited reading: a column by
// number or name, and each refusal as the option, its rule and the value.
#include "series/column_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace series {
namespace {

TEST(ParseColumn, TakesNumbersFrom1OrNames) {
  EXPECT_EQ(ParseColumn("2")->Index, 2);
  EXPECT_EQ(ParseColumn("Fz")->Index, 0);
  EXPECT_EQ(ParseColumn("Fz")->Name, "Fz");
  EXPECT_EQ(ParseColumn("2b")->Name, "2b");
  EXPECT_FALSE(ParseColumn("0"));  // columns count from 1
  EXPECT_FALSE(ParseColumn(""));
  EXPECT_FALSE(ParseColumn("99999999999"));  // beyond 32 bits
}

// Each front end words a refusal from these three parts alone, so the
// option must be the settings table's name and the value quoted as given.
TEST(ChooseFields, RefusalNamesTheOptionItsRuleAndTheValue) {
  struct Case {
    const char* column;
    const char* header;
    const char* delimiter;
    const char* time_column;  // nullptr: not given
    OptionProblem problem;    // Option "": accepted
  };
  constexpr const char* kColumnRule =
      "must be a number from 1 or a column name";
  constexpr const char* kNeedsHeader =
      "chosen by name needs a header row: header is no";
  // clang-format off
  const Case cases[] = {
    {"0",  "",      "",    nullptr, {"column", kColumnRule, "\"0\""}},
    {"Fz", "no",    "",    nullptr, {"column", kNeedsHeader, ""}},
    {"",   "maybe", "",    nullptr, {"header", "must be auto, yes or no", "\"maybe\""}},
    {"",   "",      "|",   nullptr, {"delimiter", "must be auto, comma, semicolon, tab or whitespace", "\"|\""}},
    {"2",  "",      "",    "0",     {"time_column", kColumnRule, "\"0\""}},
    {"2",  "no",    "",    "t",     {"time_column", kNeedsHeader, ""}},
    {"Fz", "yes",   "tab", "1",     {"", "", ""}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem.Option + " " + c.problem.Rule);
    InputOptions input = BatchInput();
    std::optional<OptionProblem> got =
        ChooseFields(c.column, c.header, c.delimiter, input);
    if (!got && c.time_column != nullptr) {
      got = ChooseTimeColumn(c.time_column, input);
    }
    ASSERT_EQ(got.has_value(), !c.problem.Option.empty());
    if (!got) {
      EXPECT_TRUE(input.Delimited);
      continue;
    }
    EXPECT_EQ(got->Option, c.problem.Option);
    EXPECT_EQ(got->Rule, c.problem.Rule);
    EXPECT_EQ(got->Value, c.problem.Value);
  }
}

}  // namespace
}  // namespace series
