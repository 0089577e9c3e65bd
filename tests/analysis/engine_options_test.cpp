// Both engines under every method and surrogate option: the result line,
// the whole spectrum, the quality, F_q(s) and the null levels of every
// window the same bits, on one thread and on several, through the vector
// kernels, which take every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/engine.h"
#include "analysis/pipelined_scheduler.h"
#include "analysis/serial_scheduler.h"
#include "analysis/vector_kernel.h"
#include "analysis_test_support.h"
#include "numerics/simd_targets_support.h"
#include "support/bits.h"

namespace {

using analysis::Fluctuation;
using analysis::MethodOptions;
using analysis::SurrogateKind;
using analysis::SurrogateOptions;
using test_support::SameBits;

// Everything an engine hands out for one window, copied.
struct Window {
  analysis::WindowResult Result;
  analysis::WindowSpectrum Spectrum;
  analysis::WindowQuality Quality;
  std::vector<double> Fq;
  std::optional<analysis::WindowNull> Null;
};

std::vector<Window> AnalyseAll(analysis::SeriesEngine& engine,
                               const analysis::WindowPlan& plan,
                               const std::vector<double>& series) {
  std::vector<Window> out;
  engine.Analyse(
      plan, analysis_test::SampleSource(series),
      [&](const analysis::WindowOutcome& w) {
        Window copy{w.Result, *w.Spectrum, w.Quality, {}, std::nullopt};
        if (w.Fq != nullptr) copy.Fq = *w.Fq;
        if (w.Null != nullptr) copy.Null = *w.Null;
        out.push_back(copy);
      },
      true);
  return out;
}

void ExpectSameValues(const std::vector<double>& want,
                      const std::vector<double>& got, const char* what) {
  ASSERT_EQ(want.size(), got.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_TRUE(SameBits(want[i], got[i]))
        << what << "[" << i << "]: " << want[i] << " vs " << got[i];
  }
}

void ExpectSameWindow(const Window& want, const Window& got) {
  const analysis::WindowResult& a = want.Result;
  const analysis::WindowResult& b = got.Result;
  ExpectSameValues(
      {a.TimeMark, a.AlfaMin, a.AlfaMax, a.AlfaWidth, a.AlfaSz, a.FAlfaSz},
      {b.TimeMark, b.AlfaMin, b.AlfaMax, b.AlfaWidth, b.AlfaSz, b.FAlfaSz},
      "result line");
  ExpectSameValues(want.Spectrum.HurstQ, got.Spectrum.HurstQ, "h(q)");
  ExpectSameValues(want.Spectrum.TauQ, got.Spectrum.TauQ, "tau(q)");
  ExpectSameValues(want.Spectrum.AlfaGrid, got.Spectrum.AlfaGrid, "alpha");
  ExpectSameValues(want.Spectrum.FAlfaGrid, got.Spectrum.FAlfaGrid, "f");
  EXPECT_EQ(want.Quality.Status, got.Quality.Status);
  ExpectSameValues(
      {want.Quality.ZeroShare, want.Quality.FloorShare,
       want.Quality.MinRSquared, want.Quality.H2Se, want.Quality.WidthSe,
       want.Quality.CrossoverScale},
      {got.Quality.ZeroShare, got.Quality.FloorShare, got.Quality.MinRSquared,
       got.Quality.H2Se, got.Quality.WidthSe, got.Quality.CrossoverScale},
      "quality");
  ExpectSameValues(want.Fq, got.Fq, "F_q(s)");
  ASSERT_EQ(want.Null.has_value(), got.Null.has_value());
  if (want.Null) {
    const analysis::WindowNull& n = *want.Null;
    const analysis::WindowNull& m = *got.Null;
    ExpectSameValues({n.WidthMedian, n.WidthP95, n.WidthP, n.AlfaSzMedian,
                      n.AlfaSzP95, n.AlfaSzP},
                     {m.WidthMedian, m.WidthP95, m.WidthP, m.AlfaSzMedian,
                      m.AlfaSzP95, m.AlfaSzP},
                     "null levels");
    EXPECT_EQ(n.IaaftAtCap, m.IaaftAtCap);
  }
}

struct Case {
  std::string name;
  std::int32_t order = 2;
  std::int32_t incr = 0;
  MethodOptions method;
  SurrogateOptions surrogates;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto add = [&cases](std::string name, auto&& change) {
    Case c;
    c.name = std::move(name);
    change(c);
    cases.push_back(c);
  };
  add("described method, F_q(s) kept", [](Case& c) { c.method.KeepFq = true; });
  add("profile, order 1", [](Case& c) {
    c.method.Profile = true;
    c.order = 1;
  });
  add("longest scale 40, increments", [](Case& c) {
    c.method.MaxScale = 40;
    c.incr = 1;
  });
  add("rms", [](Case& c) { c.method.Measure = Fluctuation::kRms; });
  add("standard mode, F_q(s) kept", [](Case& c) {
    c.method.Profile = true;
    c.method.Measure = Fluctuation::kRms;
    c.method.KeepFq = true;
  });
  add("orders with 0",
      [](Case& c) { c.method.QList = {-3.0, -1.0, 0.0, 0.5, 1.0, 2.0, 4.0}; });
  add("three orders: no alpha", [](Case& c) {
    c.method.QList = {-2.0, 0.0, 2.0};
  });
  add("41 orders from -5 to 5", [](Case& c) {
    c.method.QMin = -5.0;
    c.method.QMax = 5.0;
    c.method.QCount = 41;
  });
  add("50 scales", [](Case& c) { c.method.ScaleCount = 50; });
  add("fit range 24..50", [](Case& c) {
    c.method.FitMin = 24;
    c.method.FitMax = 50;
  });
  add("range floor", [](Case& c) {
    c.method.RangeFloor = 1e-3;
    c.order = 3;
  });
  add("surrogates, described method", [](Case& c) {
    c.surrogates = {7, SurrogateKind::kIaaft, 11};
  });
  add("shuffled surrogates, standard mode", [](Case& c) {
    c.method.Profile = true;
    c.method.Measure = Fluctuation::kRms;
    c.incr = 1;
    c.surrogates = {5, SurrogateKind::kShuffle, 3};
  });
  add("21 orders from -5 to 5, q = 0 inside", [](Case& c) {
    c.method.QMin = -5.0;
    c.method.QMax = 5.0;
    c.method.QCount = 21;
  });
  add("9 listed orders with 0",
      [](Case& c) { c.method.QList = {-4, -3, -2, -1, 0, 1, 2, 3, 4}; });
  add("one order", [](Case& c) { c.method.QList = {2.0}; });
  // The flat windows' scales count no segment: +infinity, not 0.
  add("negative orders only", [](Case& c) {
    c.method.QList = {-4.0, -2.0, -1.0, -0.5, -0.25};
    c.method.Measure = Fluctuation::kRms;
  });
  // Window 256 is no multiple of most lengths, so the end segments differ.
  add("segments from both ends", [](Case& c) {
    c.method.Segments = analysis::SegmentCut::kBoth;
    c.method.KeepFq = true;
  });
  add("log s abscissa",
      [](Case& c) { c.method.Abscissa = analysis::FitAbscissa::kLogS; });
  add("textbook preset, surrogates", [](Case& c) {
    c.method.Profile = true;
    c.method.Measure = Fluctuation::kRms;
    c.method.QMin = -5.0;
    c.method.QMax = 5.0;
    c.method.QCount = 21;
    c.method.Segments = analysis::SegmentCut::kBoth;
    c.method.Abscissa = analysis::FitAbscissa::kLogS;
    c.surrogates = {3, SurrogateKind::kIaaft, 5};
  });
  add("phase surrogates, orders with 0", [](Case& c) {
    c.method.QList = {-2.0, -1.0, 0.0, 1.0, 2.0};
    c.surrogates = {4, SurrogateKind::kPhase, 9};
  });
  return cases;
}

// A walk with a flat stretch and a NaN: flat and non-finite windows among
// regular ones, 12 windows of 256 values 96 apart.
std::vector<double> ComparedSeries() {
  std::vector<double> series = analysis_test::RandomWalk(1400, 21);
  for (std::size_t i = 300; i < 420; ++i) series[i] = 2.0;
  series[1100] = std::numeric_limits<double>::quiet_NaN();
  return series;
}

TEST(EngineOptions, BothEnginesGiveTheSameBitsUnderEveryOption) {
  constexpr std::int32_t kLrec = 256;
  const std::vector<double> series = ComparedSeries();
  const analysis::WindowPlan plan{96, 0.0, 1.0};
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const analysis::AnalysisParams params = analysis_test::MakeParams(
        kLrec, 20, c.order, c.incr, plan.WinShift, plan.Tini, plan.Tstep);
    const auto run = std::make_shared<const analysis::RunConstants>(
        analysis_test::MakeRun(params, c.method, c.surrogates));

    const std::vector<Window> want =
        AnalyseAll(*analysis_test::ReferenceEngine(run), plan, series);
    ASSERT_EQ(want.size(), 12u);
    const auto compare = [&](int threads) {
      SCOPED_TRACE(threads);
      const std::unique_ptr<analysis::SeriesEngine> fast =
          analysis_test::VectorEngine(run, threads);
      // Twice through the same engine: nothing may carry over.
      for (int pass = 0; pass < 2; ++pass) {
        const std::vector<Window> got = AnalyseAll(*fast, plan, series);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t w = 0; w < want.size(); ++w) {
          SCOPED_TRACE(w);
          ExpectSameWindow(want[w], got[w]);
        }
      }
    };
    compare(3);
    // The vector kernels on every instruction set this processor has.
    simd_test::ForEachSimdTarget([&] { compare(1); });
  }
}

// The series above must reach every status the quality can take, or the
// comparison of qualities proves little.
TEST(EngineOptions, TheComparedSeriesReachesEveryStatus) {
  const std::vector<double> series = ComparedSeries();
  const analysis::WindowPlan plan{96, 0.0, 1.0};
  const auto run =
      std::make_shared<const analysis::RunConstants>(analysis_test::MakeRun(
          analysis_test::MakeParams(256, 20, 2, 0, 96, 0.0, 1.0)));
  std::vector<analysis::QualityStatus> seen;
  for (const Window& w :
       AnalyseAll(*analysis_test::VectorEngine(run, 1), plan, series)) {
    seen.push_back(w.Quality.Status);
  }
  for (const analysis::QualityStatus status :
       {analysis::QualityStatus::kOk, analysis::QualityStatus::kNonFiniteInput,
        analysis::QualityStatus::kFlatSegments}) {
    EXPECT_NE(std::find(seen.begin(), seen.end(), status), seen.end())
        << static_cast<int>(status);
  }
}

}  // namespace
