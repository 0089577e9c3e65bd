// Where a series' result file goes, and which names are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "driver/series_pipeline.h"

namespace driver {
namespace {

namespace fs = std::filesystem;

struct PlaceCase {
  const char* name;
  const char* place;  // nullptr: refused
};
// clang-format off
constexpr PlaceCase kPlaces[] = {
  {"walk.txt",          "F(Alfa)_walk.txt.dat"},
  {"data/s1.txt",       "F(Alfa)_data/s1.txt.dat"},
  {"data/../s1.txt",    nullptr},                  // any ".." is refused
  {"a/./b.txt",         "F(Alfa)_a/./b.txt.dat"},  // as written
  // The same file by two spellings gets the same answer: a name with a
  // ".." component is refused, even where the prefix would hide it.
  {"../s1.txt",         nullptr},
  {"./../s1.txt",       nullptr},
  {"a/../../s1.txt",    nullptr},                  // one level above DIR
  {"a/../../../x",      nullptr},
  {"/abs/s1.txt",       "F(Alfa)_/abs/s1.txt.dat"},
};
// clang-format on

// A NUL cuts a name short at every system call: the result would land in
// another file, possibly above the results folder.
TEST(ResultPlace, RefusesNamesHoldingANul) {
  using namespace std::string_literals;
  for (const std::string& name : {"a\0b"s, "x\0/../../../etc"s, "\0"s}) {
    EXPECT_FALSE(ResultPlace(name, ".dat"));
  }
}

// clang-format on

TEST(ResultPlace, KeepsResultsInsideTheOutputDirectory) {
  for (const PlaceCase& c : kPlaces) {
    SCOPED_TRACE(c.name);
    const std::optional<fs::path> place = ResultPlace(c.name, ".dat");
    if (c.place == nullptr) {
      EXPECT_FALSE(place);
    } else {
      ASSERT_TRUE(place);
      EXPECT_EQ(place->generic_string(), c.place);
    }
  }
}

}  // namespace
}  // namespace driver
