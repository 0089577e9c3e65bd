#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis_test_support.h"
#include "analysis/engine.h"
#include "analysis/run_constants.h"
#include "mfwindow/mfwindow.h"
#include "support/bad_values.h"
#include "support/bits.h"

namespace {

using mfwindow::ClampedValue;
using mfwindow::Settings;

Settings Make(std::int32_t order, std::int32_t lrec, std::int32_t min_scale,
              std::int32_t shift) {
  Settings s;
  s.TrendOrder = order;
  s.Lrec = lrec;
  s.MinScale = min_scale;
  s.WinShift = shift;
  return s;
}

struct SettleCase {
  std::int32_t order, lrec, min_scale, shift;      // given
  std::int32_t order2, lrec2, min_scale2, shift2;  // used
};
// clang-format off
constexpr SettleCase kSettleCases[] = {
  { 2, 1000,  20,  100,    2, 1000,  20,  100},  // nothing to clamp
  { 0, 1000,   5,    0,    1, 1000,  20,    1},
  {-5,  100,  15,   -3,    1,  100,  10,    1},  // cap Lrec/10 after floor 20
  {11,  100,  50,  250,   10,  100,  10,  100},
  {10,  100,   5,  100,   10,  100,  10,  100},
  { 3, 1000,  50, 1000,    3, 1000,  50, 1000},
  { 3, 1000, 500, 1001,    3, 1000, 100, 1000},
  // Lrec is clamped first and MinScale and WinShift are settled against the
  // clamped value: 32/10 = 3, shift capped at 32, not at 10.
  { 1,   10,  20,   40,    1,   32,   3,   32},
  { 1,   32, 1000,  31,    1,   32,   3,   31},
};
// clang-format on

TEST(Settle, ClampsAsTheDialogueDoes) {
  for (const SettleCase& c : kSettleCases) {
    SCOPED_TRACE(testing::Message() << c.order << " " << c.lrec << " "
                                    << c.min_scale << " " << c.shift);
    Settings given = Make(c.order, c.lrec, c.min_scale, c.shift);
    given.IncrFlag = 1;
    given.Tini = -3.5;
    given.Tstep = 0.25;
    given.Threads = 3;
    given.Spectrum = true;
    const Settings used = mfwindow::Settle(given).Used();
    EXPECT_EQ(used.TrendOrder, c.order2);
    EXPECT_EQ(used.Lrec, c.lrec2);
    EXPECT_EQ(used.MinScale, c.min_scale2);
    EXPECT_EQ(used.WinShift, c.shift2);
    // The rest passes through unchanged.
    EXPECT_EQ(used.IncrFlag, 1);
    EXPECT_EQ(used.Tini, -3.5);
    EXPECT_EQ(used.Tstep, 0.25);
    EXPECT_EQ(used.Threads, 3);
    EXPECT_TRUE(used.Spectrum);
  }
}

// Every row's own constraints hold in Settle, whichever path settles it
// (the clamps, the preset, bounds that other settings give): a bad value
// of each row is refused naming that row, for what it is.
TEST(Settle, RefusesABadValueOfEveryRowNamingIt) {
  std::size_t tried = 0;
  for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
    if (mfwindow::IsFileRow(row)) continue;
    for (const test_support::BadValue& bad : test_support::BadValuesOf(row)) {
      SCOPED_TRACE(std::string(row.Name) + " " + bad.Text);
      Settings s;
      test_support::SetBad(row, bad, s);
      ++tried;
      try {
        mfwindow::Settle(s);
        ADD_FAILURE() << "accepted";
      } catch (const mfwindow::SettingError& e) {
        EXPECT_EQ(e.Which(), row.Name) << e.what();
        EXPECT_EQ(e.Reason(), bad.Reason) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind(std::string(row.Name), 0), 0u);
      }
    }
  }
  EXPECT_GE(tried, 30u);  // the table's rows, not a handful
}

// The rules between settings, and values at the edge that are taken.
TEST(Settle, RefusesSettingsThatCannotGoTogether) {
  const struct {
    std::function<void(Settings&)> change;
    const char* which;
  } cases[] = {
      {[](Settings& s) {
         s.Fs = 250.0;
         s.Tstep = 0.004;
       },
       "fs"},
      {[](Settings& s) {
         s.QList = {-1.0, 1.0};
         s.QMin = -3.0;
       },
       "q"},
      {[](Settings& s) { s.FitMin = 50, s.FitMax = 50; }, "fit_min"},
      {[](Settings& s) { s.MaxScale = 20; }, "max_scale"},  // = min scale
      // Each rule names the setting given, not one left at its default.
      {[](Settings& s) { s.QMax = -20.0; }, "q_max"},
      {[](Settings& s) { s.QMin = 20.0; }, "q_min"},
      {[](Settings& s) { s.FitMax = 20; }, "fit_max"},
      {[](Settings& s) { s.FitMin = 100, s.FitMax = 30; }, "fit_min"},
      {[](Settings& s) { s.QMax = s.QMin + 0x1p-46; }, "q_max"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.which);
    Settings s;
    c.change(s);
    try {
      mfwindow::Settle(s);
      ADD_FAILURE() << "accepted";
    } catch (const mfwindow::SettingError& e) {
      EXPECT_EQ(e.Which(), c.which) << e.what();
    }
    EXPECT_THROW(mfwindow::Analyser{s}, std::invalid_argument);
  }
  Settings tiny;
  tiny.Tstep = 0x1p-1074;  // the smallest positive double is accepted
  EXPECT_NO_THROW(mfwindow::Settle(tiny));
  Settings zero;
  zero.Tstep = -0.0;  // not greater than 0
  EXPECT_THROW(mfwindow::Settle(zero), mfwindow::SettingError);
}

TEST(Settled, NamesEachChangedValueWithGivenAndUsed) {
  const std::vector<ClampedValue> clamped =
      mfwindow::Settle(Make(11, 10, 20, 40)).Clamped();
  ASSERT_EQ(clamped.size(), 4u);
  const ClampedValue expected[] = {{"order", 11, 10},
                                   {"window", 10, 32},
                                   {"min_scale", 20, 3},
                                   {"shift", 40, 32}};
  for (std::size_t i = 0; i < clamped.size(); ++i) {
    EXPECT_EQ(clamped[i].Which, expected[i].Which) << i;
    EXPECT_EQ(clamped[i].Given, expected[i].Given) << i;
    EXPECT_EQ(clamped[i].Used, expected[i].Used) << i;
  }
  EXPECT_TRUE(mfwindow::Settle(Make(2, 1000, 20, 100)).Clamped().empty());
  // Only MinScale: 50 is above Lrec/10 = 10.
  const std::vector<ClampedValue> one =
      mfwindow::Settle(Make(2, 100, 50, 100)).Clamped();
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].Which, "min_scale");
  EXPECT_THROW(mfwindow::Settle(Make(2, 100, 50, 100)).WithThreads(-1),
               mfwindow::SettingError);
}

// The standard preset fills the fields left at their described defaults
// and keeps the others; its own smallest scale is no clamp.
TEST(Settle, StandardPresetFillsOnlyTheDefaults) {
  Settings given = Make(3, 1000, 20, 100);
  given.Preset = mfwindow::Method::kStandard;
  const Settings used = mfwindow::Settle(given).Used();
  EXPECT_TRUE(used.Profile);
  EXPECT_EQ(used.Measure, mfwindow::Fluctuation::kRms);
  EXPECT_EQ(used.Segments, mfwindow::SegmentCut::kBoth);
  EXPECT_EQ(used.Abscissa, mfwindow::FitAbscissa::kLogS);
  EXPECT_EQ(used.QMin, -5.0);
  EXPECT_EQ(used.QCount, 21);
  EXPECT_EQ(used.MinScale, 20);  // max(4 * (3 + 2), 10)
  EXPECT_EQ(used.MaxScale, 250);
  EXPECT_TRUE(mfwindow::Settle(given).Clamped().empty());
  given.TrendOrder = 1;
  given.Abscissa = mfwindow::FitAbscissa::kLogS;
  given.QList = {-2.0, 2.0};
  given.MinScale = 2;  // below the order's TrendOrder + 2
  const Settings kept = mfwindow::Settle(given).Used();
  EXPECT_EQ(kept.QList.size(), 2u);
  EXPECT_EQ(kept.QCount, 200);
  EXPECT_EQ(kept.MinScale, 3);
  ASSERT_EQ(mfwindow::Settle(given).Clamped().size(), 1u);
}

using test_support::SameBits;

// The straightforward kernel on the same samples, with each window's whole
// spectrum.
struct ReferenceWindow {
  analysis::WindowResult Row;
  analysis::WindowSpectrum Spectrum;
};
std::vector<ReferenceWindow> Reference(const std::vector<double>& series,
                                       const analysis::AnalysisParams& params) {
  const std::unique_ptr<analysis::SeriesEngine> engine = analysis::MakeEngine(
      analysis::TablesOf(params),
      analysis::EngineRequest{analysis::KernelChoice::kStraightforward, 1});
  std::vector<ReferenceWindow> windows;
  engine->Analyse(
      analysis::PlanOf(params), analysis_test::SampleSource(series),
      [&](const analysis::WindowOutcome& w) {
        windows.push_back({w.Result, *w.Spectrum});
      },
      true);
  return windows;
}

// The API runs the vector kernel; the program's output is defined by the
// straightforward one. Guards against the API wiring a setting to the wrong
// field, mixing up windows between threads, or copying a spectrum from the
// wrong window.
TEST(AnalyseSeries, EqualsTheReferenceEngineBitForBit) {
  const std::vector<double> series = analysis_test::RandomWalk(2200, 7);
  struct Case {
    std::int32_t incr, order, lrec, min_scale, shift;
    int threads;
  };
  const Case cases[] = {
      {0, 2, 256, 20, 64, 1}, {1, 1, 300, 20, 97, 3}, {0, 4, 320, 25, 320, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "order " << c.order << " threads " << c.threads);
    Settings s = Make(c.order, c.lrec, c.min_scale, c.shift);
    s.IncrFlag = c.incr;
    s.Tini = 12.5;
    s.Tstep = 0.1;
    s.Threads = c.threads;
    s.Spectrum = true;
    const mfwindow::SeriesResult got = mfwindow::AnalyseSeries(series, s);

    const analysis::AnalysisParams params = analysis_test::MakeParams(
        c.lrec, c.min_scale, c.order, c.incr, c.shift, 12.5, 0.1);
    const analysis::RunConstants run = analysis_test::MakeRun(params);
    const std::vector<ReferenceWindow> want = Reference(series, params);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.Rows.size(), want.size());
    ASSERT_EQ(got.Spectra.size(), want.size());
    for (std::size_t j = 0; j < got.QGrid.size(); ++j) {
      ASSERT_TRUE(SameBits(got.QGrid[j], run.QGrid[j])) << j;
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE(i);
      const mfwindow::WindowRow& r = got.Rows[i];
      const analysis::WindowResult& w = want[i].Row;
      EXPECT_TRUE(SameBits(r.TimeMark, w.TimeMark));
      EXPECT_TRUE(SameBits(r.AlfaMin, w.AlfaMin));
      EXPECT_TRUE(SameBits(r.AlfaMax, w.AlfaMax));
      EXPECT_TRUE(SameBits(r.AlfaWidth, w.AlfaWidth));
      EXPECT_TRUE(SameBits(r.AlfaSz, w.AlfaSz));
      EXPECT_TRUE(SameBits(r.FAlfaSz, w.FAlfaSz));
      const mfwindow::WindowSpectrum& sp = got.Spectra[i];
      for (std::size_t j = 0; j < sp.TauQ.size(); ++j) {
        ASSERT_TRUE(SameBits(sp.HurstQ[j], want[i].Spectrum.HurstQ[j]))
            << "q " << j;
        ASSERT_TRUE(SameBits(sp.TauQ[j], want[i].Spectrum.TauQ[j]))
            << "q " << j;
        // tau(q) = q h(q) - 1, rounded as the engine rounds it.
        ASSERT_TRUE(SameBits(sp.TauQ[j], sp.HurstQ[j] * got.QGrid[j] - 1.0))
            << "q " << j;
      }
      for (std::size_t m = 0; m < sp.AlfaGrid.size(); ++m) {
        ASSERT_TRUE(SameBits(sp.AlfaGrid[m], want[i].Spectrum.AlfaGrid[m]))
            << m;
        ASSERT_TRUE(SameBits(sp.FAlfaGrid[m], want[i].Spectrum.FAlfaGrid[m]))
            << m;
      }
    }
  }
}

// Window i (from 0) ends at sample Lrec + i*WinShift, at time
// Tini + that*Tstep; a window the series does not fill is dropped.
TEST(AnalyseSeries, CountsWindowsAndTimesThemFromTheSettings) {
  struct Case {
    std::size_t samples;
    std::vector<double> times;
  };
  // Lrec 64, WinShift 10, Tini 5, Tstep 0.5: windows end at samples 64,
  // 74, 84 -> times 37, 42, 47.
  const Case cases[] = {
      {0, {}},      {63, {}},           {64, {37.0}},
      {73, {37.0}}, {74, {37.0, 42.0}}, {84, {37.0, 42.0, 47.0}}};
  Settings s = Make(1, 64, 20, 10);
  s.Tini = 5.0;
  s.Tstep = 0.5;
  s.Threads = 2;
  s.FitMin = 8;
  mfwindow::Analyser analyser(s);
  EXPECT_EQ(analyser.Used().MinScale, 6);  // 64/10
  // The grids and the engine of a series too short for a window (told
  // without building the engine) are those the engine gives.
  const mfwindow::SeriesResult full =
      mfwindow::AnalyseSeries(analysis_test::RandomWalk(64, 3), s);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.samples);
    const std::vector<double> series = analysis_test::RandomWalk(c.samples, 3);
    const mfwindow::SeriesResult result = analyser.Analyse(series);
    EXPECT_EQ(result.QGrid, full.QGrid);
    EXPECT_EQ(result.ScaleLen, full.ScaleLen);
    EXPECT_EQ(result.LogScale, full.LogScale);
    EXPECT_EQ(result.FitBegin, full.FitBegin);
    EXPECT_EQ(result.FitEnd, full.FitEnd);
    EXPECT_EQ(result.Kernel + result.Scheduler, full.Kernel + full.Scheduler);
    ASSERT_EQ(result.Rows.size(), c.times.size());
    EXPECT_TRUE(result.Spectra.empty());  // not asked for
    for (std::size_t i = 0; i < c.times.size(); ++i) {
      EXPECT_EQ(result.Rows[i].TimeMark, c.times[i]);
    }
  }
}

// Guards against state carried from one series into the next (the window's
// overlap, a half-filled window).
TEST(Analyser, GivesEachSeriesTheResultOfAFreshRun) {
  Settings s = Make(2, 128, 20, 30);
  s.Threads = 2;
  const std::vector<double> a = analysis_test::RandomWalk(700, 11);
  const std::vector<double> b = analysis_test::WhiteNoise(500, 12);
  mfwindow::Analyser analyser(s);
  analyser.Analyse(a);
  const mfwindow::SeriesResult second = analyser.Analyse(b);
  const mfwindow::SeriesResult fresh = mfwindow::AnalyseSeries(b, s);
  ASSERT_EQ(second.Rows.size(), fresh.Rows.size());
  ASSERT_FALSE(fresh.Rows.empty());
  for (std::size_t i = 0; i < fresh.Rows.size(); ++i) {
    EXPECT_TRUE(SameBits(second.Rows[i].AlfaSz, fresh.Rows[i].AlfaSz)) << i;
    EXPECT_TRUE(SameBits(second.Rows[i].AlfaMin, fresh.Rows[i].AlfaMin)) << i;
  }
}

TEST(AnalyseSeries, ConstantWindowGivesTheDegenerateResult) {
  Settings s = Make(1, 64, 20, 64);
  s.Spectrum = true;
  s.Threads = 1;
  const std::vector<double> flat(128, 3.0);
  const mfwindow::SeriesResult result = mfwindow::AnalyseSeries(flat, s);
  ASSERT_EQ(result.Rows.size(), 2u);
  for (const mfwindow::WindowRow& r : result.Rows) {
    EXPECT_EQ(r.AlfaMin, 0.5);
    EXPECT_EQ(r.AlfaMax, 0.5);
    EXPECT_EQ(r.AlfaWidth, 0.0);
    EXPECT_EQ(r.AlfaSz, 0.5);
    EXPECT_EQ(r.FAlfaSz, 1.0);
  }
  EXPECT_TRUE(std::isnan(result.Spectra[0].HurstQ[0]));
  EXPECT_TRUE(std::isnan(result.Spectra[1].TauQ[199]));
  EXPECT_EQ(result.Spectra[0].FAlfaGrid[50], 1.0);
}

// The progress callback sees every window once, in order, ending at the
// total; asking to stop ends the call with Stopped on any thread count.
TEST(AnalyseSeries, ReportsProgressAndStopsWhenAsked) {
  const std::vector<double> walk = analysis_test::RandomWalk(200000, 5);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    Settings s = Make(1, 64, 20, 64);
    s.Threads = threads;
    std::vector<std::int64_t> done;
    std::int64_t total = -1;
    const mfwindow::SeriesResult result = mfwindow::AnalyseSeries(
        walk, s, [&](std::int64_t windows_done, std::int64_t windows_total) {
          if (done.empty() || done.back() != windows_done) {
            done.push_back(windows_done);
          }
          total = windows_total;
          return true;
        });
    ASSERT_EQ(total, 3125);  // 200000 / 64
    ASSERT_EQ(result.Rows.size(), 3125u);
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back(), total);
    for (std::size_t i = 1; i < done.size(); ++i) {
      EXPECT_LT(done[i - 1], done[i]);
    }

    std::int64_t calls = 0;
    EXPECT_THROW(
        mfwindow::AnalyseSeries(
            walk, s, [&](std::int64_t, std::int64_t) { return ++calls < 10; }),
        mfwindow::Stopped);
    // The reader may report once more before the stop reaches it.
    EXPECT_GE(calls, 10);
    EXPECT_LE(calls, 11);
  }
}

// Gaps in a recording (NaN, infinities) under each policy. Guards against a
// NaN analysed as a sample (it spread into the windows around it) and
// against a series cut short without a word.
TEST(AnalyseSeries, HandlesNonFiniteSamplesAsTheSettingSays) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::vector<double> walk = analysis_test::RandomWalk(700, 21);
  std::vector<double> gappy = walk;
  gappy[300] = kNaN;
  gappy[301] = -kInf;
  gappy[650] = kNaN;
  std::vector<double> closed;  // the finite samples, in order
  for (const double v : gappy) {
    if (std::isfinite(v)) closed.push_back(v);
  }
  Settings s = Make(2, 128, 20, 16);
  s.Threads = 2;

  // error (the default): refused before any work, naming the first index.
  try {
    mfwindow::AnalyseSeries(gappy, s);
    ADD_FAILURE() << "no exception";
  } catch (const mfwindow::BadSampleError& e) {
    EXPECT_EQ(e.Index(), 300);
    EXPECT_EQ(std::string(e.what()),
              "sample 300 (from 0) is NaN, not a finite number; set "
              "OnBadSample to kSkip or kStop to analyse around it");
  }

  // stop: the samples before the first gap, as if the array ended there.
  s.OnBadSample = mfwindow::BadSamplePolicy::kStop;
  const mfwindow::SeriesResult stopped = mfwindow::AnalyseSeries(gappy, s);
  const mfwindow::SeriesResult head =
      mfwindow::AnalyseSeries(std::span(walk).first(300), s);
  EXPECT_EQ(stopped.SamplesUsed, 300);
  EXPECT_EQ(stopped.SamplesSkipped, 0);
  EXPECT_EQ(stopped.FirstBadSample, 300);
  ASSERT_EQ(stopped.Rows.size(), head.Rows.size());
  ASSERT_EQ(stopped.Rows.size(), 11u);  // (300 - 128) / 16 + 1
  for (std::size_t i = 0; i < head.Rows.size(); ++i) {
    EXPECT_TRUE(SameBits(stopped.Rows[i].AlfaSz, head.Rows[i].AlfaSz)) << i;
  }
  EXPECT_EQ(stopped.Warnings,
            (std::vector<std::string>{
                "Lrec 128 is below 256: the larger scales hold few segments, "
                "and at order 2 and above many windows come out degenerate; "
                "the results mean little",
                "sample 300 (from 0) is NaN; the series ends there, after 300 "
                "samples"}));

  // skip: the finite samples close up.
  s.OnBadSample = mfwindow::BadSamplePolicy::kSkip;
  const mfwindow::SeriesResult skipped = mfwindow::AnalyseSeries(gappy, s);
  const mfwindow::SeriesResult finite = mfwindow::AnalyseSeries(closed, s);
  EXPECT_EQ(skipped.SamplesUsed, 697);
  EXPECT_EQ(skipped.SamplesSkipped, 3);
  EXPECT_EQ(skipped.FirstBadSample, 300);
  EXPECT_EQ(finite.FirstBadSample, -1);
  EXPECT_EQ(mfwindow::WindowCount(697, 128, 16), 36);
  ASSERT_EQ(skipped.Rows.size(), finite.Rows.size());
  ASSERT_EQ(skipped.Rows.size(), 36u);  // (697 - 128) / 16 + 1
  for (std::size_t i = 0; i < finite.Rows.size(); ++i) {
    EXPECT_TRUE(SameBits(skipped.Rows[i].AlfaMin, finite.Rows[i].AlfaMin)) << i;
    EXPECT_TRUE(SameBits(skipped.Rows[i].TimeMark, finite.Rows[i].TimeMark))
        << i;
  }
  ASSERT_EQ(skipped.Warnings.size(), 2u);
  EXPECT_EQ(skipped.Warnings[1],
            "3 non-finite samples skipped (the first: sample 300 (from 0) is "
            "NaN); 697 samples analysed");
  EXPECT_EQ(finite.Warnings.size(), 1u);  // only the short window

  // mask: the walk's time axis, the windows over samples 300, 301 and 650
  // flagged gap and all NaN (null levels too), every other window the
  // walk's own, on the serial and the pipelined scheduler.
  s.OnBadSample = mfwindow::BadSamplePolicy::kMask;
  s.Surrogates = 3;
  for (const int threads : {1, 2}) {
    s.Threads = threads;
    const mfwindow::SeriesResult masked = mfwindow::AnalyseSeries(gappy, s);
    const mfwindow::SeriesResult whole = mfwindow::AnalyseSeries(walk, s);
    EXPECT_EQ(masked.SamplesMasked, 3);
    ASSERT_EQ(masked.Rows.size(), whole.Rows.size());
    std::size_t flagged = 0;
    for (std::size_t i = 0; i < whole.Rows.size(); ++i) {
      const mfwindow::WindowRow& got = masked.Rows[i];
      const mfwindow::WindowRow& want = whole.Rows[i];
      const std::size_t start = i * 16;  // samples start .. start + 127
      const bool gap = (start <= 301 && start + 128 > 300) ||
                       (start <= 650 && start + 128 > 650);
      EXPECT_TRUE(SameBits(got.TimeMark, want.TimeMark)) << i;
      EXPECT_EQ(got.Status, gap ? mfwindow::Quality::kGap : want.Status) << i;
      for (const auto field :
           {&mfwindow::WindowRow::AlfaMin, &mfwindow::WindowRow::AlfaSz,
            &mfwindow::WindowRow::MinRSquared, &mfwindow::WindowRow::WidthP}) {
        EXPECT_TRUE(gap ? std::isnan(got.*field)
                        : SameBits(got.*field, want.*field))
            << i;
      }
      flagged += gap ? 1 : 0;
    }
    EXPECT_EQ(flagged, 11u);  // 8 windows over 300-301, 3 over 650
  }
}

TEST(AnalyseSeries, WarnsWhenEveryWindowIsDegenerateOrNoneIsThere) {
  const std::vector<double> flat(512, 3.0);
  Settings s = Make(1, 256, 20, 64);
  s.Threads = 1;
  const mfwindow::SeriesResult all = mfwindow::AnalyseSeries(flat, s);
  ASSERT_EQ(all.Rows.size(), 5u);
  EXPECT_EQ(all.Warnings,
            (std::vector<std::string>{
                "all 5 windows are degenerate (0.5, 0.5, 0, 0.5, 1: no "
                "scaling was found; a flat series, or windows too short for "
                "the order)"}));
  const mfwindow::SeriesResult none =
      mfwindow::AnalyseSeries(std::span(flat).first(255), s);
  EXPECT_EQ(none.Warnings, (std::vector<std::string>{
                               "no window: 255 samples, fewer than Lrec 256"}));
  const mfwindow::SeriesResult walk =
      mfwindow::AnalyseSeries(analysis_test::RandomWalk(512, 4), s);
  EXPECT_TRUE(walk.Warnings.empty());
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// A scratch folder of its own under the system's temporary folder (one per
// process, so that tests run side by side do not meet).
fs::path Scratch(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() /
                       ("mfwindow_api_test." + std::to_string(::getpid())) /
                       name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << '\n';
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file analysed by AnalyseFile gives the rows of its samples analysed
// from memory, bit for bit, and the CSV file of mfwindow-batch: the header
// and one row per window at full precision, CR LF.
TEST(AnalyseFile, ReadsAsTheBatchToolAndGivesTheRowsOfItsSamples) {
  const fs::path dir = Scratch("rows");
  const std::vector<double> walk = analysis_test::RandomWalk(700, 21);
  std::vector<std::string> lines{"time,value"};
  for (std::size_t i = 0; i < walk.size(); ++i) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%zu,%.17g", i, walk[i]);
    lines.emplace_back(buffer);
  }
  WriteLines(dir / "s.csv", lines);
  Settings s = Make(2, 200, 20, 50);
  s.Threads = 1;
  mfwindow::FileOptions options;
  options.Column = "value";
  options.OutDir = dir / "out";
  options.Csv = true;
  const fs::path was = fs::current_path();
  fs::current_path(dir);
  const mfwindow::FileResult got = mfwindow::AnalyseFile("s.csv", s, options);
  fs::current_path(was);
  ASSERT_FALSE(got.Failure) << *got.Failure;
  const mfwindow::SeriesResult want = mfwindow::AnalyseSeries(walk, s);
  ASSERT_EQ(got.Result.Rows.size(), want.Rows.size());
  ASSERT_EQ(want.Rows.size(), 11u);
  for (std::size_t i = 0; i < want.Rows.size(); ++i) {
    EXPECT_TRUE(SameBits(got.Result.Rows[i].AlfaSz, want.Rows[i].AlfaSz));
    EXPECT_TRUE(SameBits(got.Result.Rows[i].TimeMark, want.Rows[i].TimeMark));
  }
  // Named by its column, as mfwindow-batch --column value names it.
  const std::string csv = Contents(dir / "out" / "F(Alfa)@value_s.csv.csv");
  EXPECT_EQ(
      csv.rfind("time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz,", 0), 0u);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 12);
}

// A series that cannot be analysed is a result with its reason, never an
// exception, and leaves no result file behind.
TEST(AnalyseFile, NamesWhyASeriesFailedAndWritesNothingForIt) {
  const fs::path dir = Scratch("failures");
  std::vector<std::string> lines;
  for (int i = 0; i < 300; ++i) lines.push_back(std::to_string(i % 7));
  lines[120] = "NaN";
  WriteLines(dir / "gap.txt", lines);
  Settings s = Make(1, 100, 10, 100);
  mfwindow::FileOptions options;
  options.OutDir = dir / "out";
  struct Case {
    fs::path file;
    const char* reason;
  };
  const Case cases[] = {
      {dir / "missing.txt", "cannot open series file"},
      {dir / "gap.txt", "gap.txt:121: not a number: \"NaN\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    const mfwindow::FileResult got = mfwindow::AnalyseFile(c.file, s, options);
    ASSERT_TRUE(got.Failure);
    EXPECT_NE(got.Failure->find(c.reason), std::string::npos) << *got.Failure;
    EXPECT_TRUE(got.Result.Rows.empty());
  }
  if (fs::exists(dir / "out")) {
    for (const fs::directory_entry& e :
         fs::recursive_directory_iterator(dir / "out")) {
      EXPECT_FALSE(e.is_regular_file()) << e.path();
    }
  }
  // Under kStop the same file gives the windows before the gap, and says so.
  s.OnBadSample = mfwindow::BadSamplePolicy::kStop;
  const mfwindow::FileResult stopped =
      mfwindow::AnalyseFile(dir / "gap.txt", s, options);
  ASSERT_FALSE(stopped.Failure);
  EXPECT_EQ(stopped.Result.Rows.size(), 1u);
  EXPECT_TRUE(std::any_of(
      stopped.Notes.begin(), stopped.Notes.end(), [](const std::string& note) {
        return note.find("after 120 samples") != std::string::npos;
      }));
  // Under kMask a gap in every window leaves nothing analysed: a failure.
  for (const int at : {50, 150, 250}) lines[static_cast<std::size_t>(at)] = "x";
  WriteLines(dir / "holes.txt", lines);
  s.OnBadSample = mfwindow::BadSamplePolicy::kMask;
  const mfwindow::FileResult holed =
      mfwindow::AnalyseFile(dir / "holes.txt", s, options);
  ASSERT_TRUE(holed.Failure);
  EXPECT_NE(holed.Failure->find("every one of its 3 windows hold a gap"),
            std::string::npos)
      << *holed.Failure;
  for (const fs::directory_entry& e :
       fs::recursive_directory_iterator(dir / "out")) {
    EXPECT_EQ(e.path().filename().string().find("holes"), std::string::npos)
        << e.path();
  }
  // Bridged, the same single gaps leave every window analysed, marked.
  s.Fill = mfwindow::GapFill::kLinear;
  s.MaxGap = 1;
  options.Csv = true;
  const mfwindow::FileResult bridged =
      mfwindow::AnalyseFile(dir / "holes.txt", s, options);
  ASSERT_FALSE(bridged.Failure) << *bridged.Failure;
  ASSERT_EQ(bridged.Result.Rows.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {  // samples 51, 121 and 151, 251
    const mfwindow::WindowRow& row = bridged.Result.Rows[i];
    EXPECT_EQ(row.FilledShare, i == 1 ? 0.02 : 0.01);
    EXPECT_NE(row.Status, mfwindow::Quality::kOk);
  }
  const std::string csv =
      Contents(dir / "out" / "F(Alfa)_" /
               fs::path(dir / "holes.txt.csv").relative_path());
  EXPECT_NE(csv.find(",crossover_scale,filled_share\r\n"), std::string::npos);
  EXPECT_TRUE(std::any_of(
      bridged.Notes.begin(), bridged.Notes.end(), [](const std::string& note) {
        return note.find("4 of them bridged") != std::string::npos;
      }));
}

// A refusal names the option as Python's keyword does, before any file is
// opened, with the value refused where there is one.
TEST(AnalyseFile, RefusesOptionsThatCannotBeUsed) {
  mfwindow::FileOptions bad_column;
  bad_column.Column = "0";
  mfwindow::FileOptions by_name;
  by_name.Column = "2";
  by_name.Header = "no";
  by_name.TimeColumn = "t";
  const std::pair<mfwindow::FileOptions, const char*> cases[] = {
      {bad_column,
       "column must be a number from 1 or a column name, got \"0\""},
      {by_name, "time_column chosen by name needs a header row: header is no"}};
  for (const auto& [options, refusal] : cases) {
    try {
      mfwindow::AnalyseFile("x", Settings{}, options);
      ADD_FAILURE() << "accepted: " << refusal;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), refusal);
    }
  }
}

}  // namespace
