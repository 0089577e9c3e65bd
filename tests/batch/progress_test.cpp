#include "batch/progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace batch {
namespace {

struct DurationCase {
  double seconds;
  const char* text;
};
// clang-format off
constexpr DurationCase kDurations[] = {
  {0.0,      "0:00:00"},
  {59.99,    "0:00:59"},  // rounded down, never up to a minute
  {60.0,     "0:01:00"},
  {3599.0,   "0:59:59"},
  {3725.9,   "1:02:05"},
  {360000.0, "100:00:00"},
};
// clang-format on

TEST(DurationText, ShowsHoursMinutesSeconds) {
  for (const DurationCase& c : kDurations) {
    EXPECT_EQ(DurationText(c.seconds), c.text) << c.seconds;
  }
}

TEST(ProgressBarText, ShowsShareSeriesWindowsAndTimeLeft) {
  ProgressState s;
  s.SeriesTotal = 5;
  EXPECT_EQ(ProgressBarText(s),
            "[....................]   0%  0/5 series  0 windows  -:--:-- left");
  s.SeriesDone = 2;
  s.WindowsDone = 1234;
  s.Fraction = 0.4;
  s.SecondsLeft = 83.0;
  EXPECT_EQ(ProgressBarText(s),
            "[########............]  40%  2/5 series  1234 windows  0:01:23 "
            "left");
  // 99.9% is not yet done; past the end is shown as done.
  s.Fraction = 0.999;
  EXPECT_EQ(ProgressBarText(s).substr(0, 27), "[###################.]  99%");
  s.Fraction = 1.5;
  EXPECT_EQ(ProgressBarText(s).substr(0, 27), "[####################] 100%");
}

TEST(ProgressReport, WritesALinePerSeriesOffATerminal) {
  std::ostringstream err;
  ProgressReport progress(err, ProgressMode::kLines, 2, 100);
  progress.SeriesStarted(60);
  progress.WindowDone();
  progress.SeriesDone("a.txt", 1);
  progress.SeriesStarted(40);
  progress.Message("mfwindow-batch: skipped b.txt");
  progress.SeriesSkipped();
  progress.Finish();
  EXPECT_EQ(err.str(),
            "mfwindow-batch: a.txt: 1 windows (1/2 series)\n"
            "mfwindow-batch: skipped b.txt\n");
}

// On a terminal the bar is redrawn in place; a message first blanks it,
// and the run ends with the bar's line closed.
TEST(ProgressReport, RedrawsOneLineOnATerminal) {
  std::ostringstream err;
  ProgressReport progress(err, ProgressMode::kBar, 2, 100);
  progress.SeriesStarted(50);
  for (int i = 0; i < 3; ++i) progress.WindowDone();
  progress.SeriesDone("a.txt", 3);
  progress.SeriesStarted(50);
  progress.Message("warning");
  progress.SeriesSkipped();
  progress.Finish();
  const std::string text = err.str();
  EXPECT_EQ(text.find('\n'), text.find("warning") + 7);  // only after it
  EXPECT_NE(text.find("\r[##########..........]  50%  1/2 series  3 windows"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\r[####################] 100%  2/2 series"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find("a.txt"), std::string::npos);  // no per-series lines
}

}  // namespace
}  // namespace batch
