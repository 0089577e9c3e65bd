// Where a series' result file goes, and which names are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "series/gap_bridge.h"
#include "series/noise_check.h"
#include "series/series_notes.h"
#include "series/series_pipeline.h"

namespace series {
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
  {"/abs/s1.txt",       "F(Alfa)_/abs/s1.txt.dat"},  // the whole path kept
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

// The results of two columns shared one name, so a run over the second
// column replaced the first one's results.
TEST(ColumnPrefix, NamesEachColumnApartAndKeepsColumn1) {
  EXPECT_EQ(ColumnPrefix(std::nullopt), "F(Alfa)_");
  EXPECT_EQ(ColumnPrefix(ColumnChoice{1, ""}), "F(Alfa)_");
  EXPECT_EQ(ColumnPrefix(ColumnChoice{12, ""}), "F(Alfa)@12_");
  EXPECT_EQ(ColumnPrefix(ColumnChoice{0, "Fz.1-a"}), "F(Alfa)@Fz.1-a_");
  EXPECT_EQ(ColumnPrefix(ColumnChoice{0, "a_b c/%"}),
            "F(Alfa)@a%5Fb%20c%2F%25_");
}

// What the front ends say after a series. Guards the silent traps: a series
// that ends early or yields no window, and one whose every window is the
// fixed degenerate result, which reads like a white-noise walk.
TEST(SeriesNotes, TellHowTheSeriesWasReadAndWhatItGave) {
  SeriesReport ended;
  ended.Windows = 60;
  ended.Input.Samples = 6999;
  ended.Input.EndedAt = BadRecord{"s.txt:7000", "not a number: \"NaN\""};

  SeriesReport skipped;
  skipped.Windows = 190;
  skipped.DegenerateWindows = 3;
  skipped.Input.Samples = 19997;
  skipped.Input.Skipped = 3;
  skipped.Input.FirstSkipped = BadRecord{"s.csv:7002", "column 2 is empty"};
  skipped.Input.Warnings = {"s.csv:2: the line holds more than one value"};

  SeriesReport none;
  none.Input.Samples = 1;

  SeriesReport flat;
  flat.Windows = 41;
  flat.DegenerateWindows = 41;
  flat.Input.Samples = 5000;

  SeriesReport one_flat;
  one_flat.Windows = 1;
  one_flat.DegenerateWindows = 1;
  one_flat.Input.Samples = 32;

  SeriesReport noise;  // a walk (0.5 and above) draws no warning
  noise.Windows = 5;
  noise.Input.Samples = 5000;
  noise.LagOne = 0.49;
  noise.LagOneOfIncrements = true;

  struct Case {
    const SeriesReport& report;
    std::vector<std::pair<bool, std::string>> notes;
  };
  const std::string flat_tail =
      " (0.5, 0.5, 0, 0.5, 1: no scaling was found; a flat series, or windows "
      "too short for the order)";
  const Case cases[] = {
      {SeriesReport{}, {{true, "s: no window: 0 samples, fewer than Lrec 32"}}},
      {ended,
       {{true,
         "s.txt:7000: not a number: \"NaN\"; the series ends there, after "
         "6999 samples"}}},
      {skipped,
       {{true, "s.csv:2: the line holds more than one value"},
        {false,
         "s: 3 bad samples skipped (the first: s.csv:7002: column 2 is "
         "empty); 19997 samples read"}}},
      {none, {{true, "s: no window: 1 sample, fewer than Lrec 32"}}},
      {flat, {{true, "s: all 41 windows are degenerate" + flat_tail}}},
      {one_flat, {{true, "s: the only window is degenerate" + flat_tail}}},
      {noise,
       {{true,
         "s: looks like a noise, not a walk (lag-1 correlation 0.49, below "
         "0.5), and the described method analyses its values as a walk, so "
         "h(q) comes out near 0; give --method standard (the textbook "
         "method, on the profile), or --incr 0"}}},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<bool, std::string>> got;
    for (const SeriesNote& note : SeriesNotes("s", c.report, 32)) {
      got.emplace_back(note.Warning, note.Text);
    }
    EXPECT_EQ(got, c.notes);
  }
}

TEST(SeriesNotes, WarnAboutWindowsShorterThan256) {
  EXPECT_EQ(ShortWindowWarning(256), std::nullopt);
  EXPECT_EQ(
      ShortWindowWarning(255).value_or("").rfind("Lrec 255 is below 256: ", 0),
      0u);
  EXPECT_TRUE(IsDegenerate({7.0, 0.5, 0.5, 0.0, 0.5, 1.0}));
  EXPECT_TRUE(IsDegenerate({7.0, 0.5, 0.5, -0.0, 0.5, 1.0}));
  EXPECT_FALSE(IsDegenerate({7.0, 0.5, 0.5, 0.0, 0.5, 0.9999999999999999}));
}

// Gathered one sample at a time, the correlation is the two-pass one over
// the finite values (or increments): an offset of 10^6 costs no digits,
// gaps close up, a constant or short series has none.
TEST(LagOneCorrelation, EqualsTheTwoPassCorrelationOfTheFiniteValues) {
  const double nan = std::nan("");
  const auto two_pass = [](const std::vector<double>& v) {
    double mean = 0.0;
    for (const double x : v) mean += x / static_cast<double>(v.size());
    double paired = 0.0;
    double spread = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
      spread += (v[i] - mean) * (v[i] - mean);
      if (i > 0) paired += (v[i - 1] - mean) * (v[i] - mean);
    }
    return paired / spread;
  };
  std::vector<double> noise;
  std::vector<double> walk;
  std::uint64_t seed = 7;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 6364136223846793005U + 1442695040888963407U;
    noise.push_back(1e6 + static_cast<double>(seed >> 11U) * 0x1p-53);
    walk.push_back((walk.empty() ? 0.0 : walk.back()) + noise.back() - 1e6);
  }
  std::vector<double> holed = walk;
  holed[10] = holed[11] = holed[3000] = nan;
  std::vector<double> closed;  // holed's values, and its increments
  std::vector<double> steps;
  for (std::size_t i = 0; i < holed.size(); ++i) {
    if (!std::isnan(holed[i])) closed.push_back(holed[i]);
    if (i > 0 && !std::isnan(holed[i] - holed[i - 1])) {
      steps.push_back(holed[i] - holed[i - 1]);
    }
  }
  struct Case {
    const char* what;
    std::vector<double> samples;
    bool increments;
    double want;
  };
  const Case cases[] = {
      {"noise far from 0", noise, false, two_pass(noise)},
      {"a walk", walk, false, two_pass(walk)},
      {"gaps close up", holed, false, two_pass(closed)},
      {"increments beside gaps", holed, true, two_pass(steps)},
      {"constant", {3.0, 3.0, 3.0, 3.0}, false, nan},
      {"two values", {1.0, nan, 2.0}, false, nan},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LagOneCorrelation r1(c.increments);
    for (const double x : c.samples) r1.Add(x);
    if (std::isnan(c.want)) {
      EXPECT_TRUE(std::isnan(r1.Value()));
    } else {
      EXPECT_NEAR(r1.Value(), c.want, 1e-9);
    }
  }
  EXPECT_LT(two_pass(noise), kWalkCorrelation);
  EXPECT_GT(two_pass(walk), 0.99);
}

// Regression: a few missing samples cost every window over them.
TEST(GapBridge, BridgesShortGapsBetweenSamplesOnly) {
  const double n = std::nan("");
  struct Case {
    std::vector<double> In;
    std::vector<double> Out;  // NaN: still a gap
  };
  const Case cases[] = {
      {{1, n, n, 4, 5}, {1, 2, 3, 4, 5}},
      {{1, n, n, n, 5}, {1, n, n, n, 5}},  // longer than 2
      {{n, 1, n, 3}, {n, 1, 2, 3}},        // none before the first sample
      {{1, 2, n, n}, {1, 2, n, n}},        // none after the last
      {{0, n, n, n, n, n, 6, n, 8}, {0, n, n, n, n, n, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    GapBridge bridge(2, 4, 2);
    std::size_t next = 0;
    const std::function<std::optional<double>()> source =
        [&]() -> std::optional<double> {
      if (next == c.In.size()) return std::nullopt;
      return c.In[next++];
    };
    std::vector<double> out;
    while (const std::optional<double> v = bridge.Next(source)) {
      out.push_back(*v);
    }
    ASSERT_EQ(out.size(), c.Out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_TRUE(std::isnan(c.Out[i]) ? std::isnan(out[i])
                                       : out[i] == c.Out[i])
          << "sample " << i << " of case " << &c - cases;
    }
  }
  // Windows of 4 every 2 over {1, n, n, 4, 5, 6, 7}: 2, 1 and 0 filled.
  GapBridge bridge(2, 4, 2);
  const std::vector<double> in{1, n, n, 4, 5, 6, 7};
  std::size_t next = 0;
  const std::function<std::optional<double>()> source =
      [&]() -> std::optional<double> {
    if (next == in.size()) return std::nullopt;
    return in[next++];
  };
  while (bridge.Next(source)) {
  }
  const double shares[] = {0.5, 0.25, 0.0};
  for (std::int64_t w = 1; w <= 3; ++w) {
    analysis::WindowQuality q;
    bridge.Mark(w, q);
    EXPECT_EQ(q.FilledShare, shares[w - 1]);
    EXPECT_EQ(q.Status, w < 3 ? analysis::QualityStatus::kFilled
                              : analysis::QualityStatus::kOk);
  }
  analysis::WindowQuality flat{analysis::QualityStatus::kFlatSegments};
  GapBridge again(2, 4, 2);
  next = 0;
  while (again.Next(source)) {
  }
  again.Mark(1, flat);  // another status comes first
  EXPECT_EQ(flat.Status, analysis::QualityStatus::kFlatSegments);
  EXPECT_EQ(flat.FilledShare, 0.5);
}

}  // namespace
}  // namespace series
