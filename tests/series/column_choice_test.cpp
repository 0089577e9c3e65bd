// The file options' texts read into the delimited reading: a column by
// number or name.
#include "series/column_choice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace series {
namespace {

TEST(ParseColumn, TakesNumbersFrom1OrNames) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> index;  // std::nullopt: refused
    const char* name;
  };
  const Case cases[] = {
      {"2", 2, ""},
      {"Fz", 0, "Fz"},
      {"2b", 0, "2b"},
      {"0", std::nullopt, ""},  // columns count from 1
      {"", std::nullopt, ""},
      {"99999999999", std::nullopt, ""},  // beyond 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<ColumnChoice> column = ParseColumn(c.text);
    ASSERT_EQ(column.has_value(), c.index.has_value());
    if (!column) continue;
    EXPECT_EQ(column->Index, *c.index);
    EXPECT_EQ(column->Name, c.name);
  }
}

}  // namespace
}  // namespace series
