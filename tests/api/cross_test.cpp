#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "analysis/analysis_test_support.h"
#include "mfwindow/mfwindow.h"
#include "support/bits.h"

namespace {

using mfwindow::Settings;
using test_support::SameBits;

Settings Standard(int threads) {
  Settings s;
  s.Preset = mfwindow::Method::kStandard;
  s.Lrec = 512;
  s.WinShift = 128;
  s.Threads = threads;
  s.Spectrum = true;
  s.Kernel = mfwindow::KernelChoice::kStraightforward;
  return s;
}

// Guards the pair against its own series: y = c x has |cov| = |c| var, so
// the cross spectrum is x's own (bit for bit for c = 1 and -1, whose
// covariances are x's variances up to the sign), rho is the sign of c at
// every scale and a negative c flags every window.
TEST(CrossAnalyser, AProportionalPairIsTheSeriesItself) {
  const std::vector<double> x = analysis_test::WhiteNoise(1400, 3);
  const mfwindow::SeriesResult alone = mfwindow::AnalyseSeries(x, Standard(1));
  for (const double c : {1.0, -1.0, 3.0}) {
    SCOPED_TRACE(c);
    std::vector<double> y = x;
    for (double& v : y) v *= c;
    const mfwindow::CrossResult pair = mfwindow::AnalysePair(x, y, Standard(2));
    ASSERT_EQ(pair.Rows.size(), alone.Rows.size());
    ASSERT_FALSE(pair.Rows.empty());
    for (std::size_t w = 0; w < pair.Rows.size(); ++w) {
      const mfwindow::CrossRow& row = pair.Rows[w];
      const mfwindow::WindowRow& one = alone.Rows[w];
      EXPECT_TRUE(SameBits(row.TimeMark, one.TimeMark));
      const double tol = std::fabs(c) == 1.0 ? 0.0 : 1e-12;
      EXPECT_NEAR(row.AlfaWidth, one.AlfaWidth, tol);
      EXPECT_NEAR(row.AlfaSz, one.AlfaSz, tol);
      for (std::size_t j = 0; j < pair.QGrid.size(); ++j) {
        EXPECT_NEAR(pair.Spectra[w].HurstQ[j], alone.Spectra[w].HurstQ[j], tol);
      }
      EXPECT_EQ(row.StatusX, one.Status);
      EXPECT_EQ(row.Status, one.Status);
      EXPECT_EQ(row.NegativeCovariance, c < 0.0);
      EXPECT_EQ(row.NegativeShare, c < 0.0 ? 1.0 : 0.0);
      const mfwindow::CrossScales& sc = pair.Scales[w];
      for (std::size_t k = 0; k < sc.Rho.size(); ++k) {
        EXPECT_NEAR(sc.Rho[k], c > 0.0 ? 1.0 : -1.0, 1e-14) << k;
        EXPECT_NEAR(sc.CovXY[k], c * sc.FXX[k] * sc.FXX[k],
                    1e-12 * std::fabs(sc.CovXY[k]));
      }
    }
  }
}

// Guards the window loop: windows analysed side by side give the bits of
// one thread, and a stop request ends the run with Stopped.
TEST(CrossAnalyser, GivesTheSameBitsOnAnyThreadCountAndStops) {
  const std::vector<double> x = analysis_test::WhiteNoise(3000, 5);
  const std::vector<double> y = analysis_test::WhiteNoise(3000, 6);
  const mfwindow::CrossResult one = mfwindow::AnalysePair(x, y, Standard(1));
  const mfwindow::CrossResult four = mfwindow::AnalysePair(x, y, Standard(4));
  ASSERT_EQ(one.Rows.size(), four.Rows.size());
  for (std::size_t w = 0; w < one.Rows.size(); ++w) {
    EXPECT_TRUE(SameBits(one.Rows[w].AlfaWidth, four.Rows[w].AlfaWidth));
    EXPECT_TRUE(SameBits(one.Rows[w].Lambda, four.Rows[w].Lambda));
    for (std::size_t k = 0; k < one.Scales[w].Rho.size(); ++k) {
      EXPECT_TRUE(SameBits(one.Scales[w].Rho[k], four.Scales[w].Rho[k]));
    }
  }
  const auto stop_at_two = [](std::int64_t done, std::int64_t) {
    return done < 2;
  };
  EXPECT_THROW(mfwindow::AnalysePair(x, y, Standard(2), stop_at_two),
               mfwindow::Stopped);
}

// Guards rho's null level: x against itself lies beyond every surrogate
// at every scale; independent noises are beyond the 0.9 level in about a
// tenth of the cells (window and scale); the levels are the same bytes on
// one thread and four, and another seed gives other ones. The mean
// covariance of independent noises changes sign in some window, of x with
// itself in none.
TEST(CrossAnalyser, RhoNullLevelHoldsItsShareOnIndependentPairs) {
  const std::vector<double> x = analysis_test::WhiteNoise(512 * 24, 8);
  const std::vector<double> y = analysis_test::WhiteNoise(512 * 24, 9);
  Settings s = Standard(1);
  s.WinShift = 512;
  s.Surrogates = 19;
  s.Surrogate = mfwindow::SurrogateKind::kPhase;
  s.RhoLevel = 0.9;
  const mfwindow::CrossResult self = mfwindow::AnalysePair(x, x, s);
  const mfwindow::CrossResult one = mfwindow::AnalysePair(x, y, s);
  s.Threads = 4;
  const mfwindow::CrossResult four = mfwindow::AnalysePair(x, y, s);
  s.Seed = 1;
  const mfwindow::CrossResult reseeded = mfwindow::AnalysePair(x, y, s);
  ASSERT_EQ(one.Rows.size(), 24U);
  std::size_t cells = 0;
  std::size_t significant = 0;
  bool seed_matters = false;
  int sign_changes = 0;
  for (std::size_t w = 0; w < one.Rows.size(); ++w) {
    EXPECT_EQ(one.Rows[w].SurrogatesUsed, 19);
    EXPECT_FALSE(self.Rows[w].CovarianceSignChanges);
    sign_changes += one.Rows[w].CovarianceSignChanges ? 1 : 0;
    const mfwindow::CrossScales& sc = one.Scales[w];
    ASSERT_EQ(sc.RhoCritical.size(), sc.Rho.size());
    for (std::size_t k = 0; k < sc.Rho.size(); ++k) {
      EXPECT_EQ(self.Scales[w].RhoSignificant[k], 1) << w << " " << k;
      EXPECT_TRUE(SameBits(sc.RhoCritical[k], four.Scales[w].RhoCritical[k]));
      EXPECT_EQ(sc.RhoSignificant[k], four.Scales[w].RhoSignificant[k]);
      EXPECT_EQ(sc.RhoSignificant[k], std::fabs(sc.Rho[k]) > sc.RhoCritical[k]);
      seed_matters |=
          !SameBits(sc.RhoCritical[k], reseeded.Scales[w].RhoCritical[k]);
      significant += sc.RhoSignificant[k];
      ++cells;
    }
  }
  const double share =
      static_cast<double>(significant) / static_cast<double>(cells);
  EXPECT_GT(share, 0.03);
  EXPECT_LT(share, 0.2);
  EXPECT_TRUE(seed_matters);
  EXPECT_GT(sign_changes, 0);  // independent noises: F2_xy wanders about 0
}

// Guards the refusals: a pair cannot take a range, shuffled surrogates, samples
// dropped or kept as gaps, series of two lengths or a non-finite sample.
TEST(CrossAnalyser, RefusesWhatAPairCannotTake) {
  struct Case {
    const char* which;
    void (*change)(Settings&);
  };
  const Case cases[] = {
      {"fluctuation",
       [](Settings& s) { s.Preset = mfwindow::Method::kDescribed; }},
      {"surrogate",
       [](Settings& s) {
         s.Surrogates = 9;
         s.Surrogate = mfwindow::SurrogateKind::kShuffle;
       }},
      {"nan",
       [](Settings& s) { s.OnBadSample = mfwindow::BadSamplePolicy::kSkip; }},
  };
  for (const Case& c : cases) {
    Settings s = Standard(1);
    c.change(s);
    try {
      mfwindow::CrossAnalyser analyser(s);
      ADD_FAILURE() << c.which << " not refused";
    } catch (const mfwindow::SettingError& e) {
      EXPECT_EQ(e.Which(), c.which);
    }
  }
  std::vector<double> x = analysis_test::WhiteNoise(600, 1);
  const std::vector<double> y(599, 1.0);
  mfwindow::CrossAnalyser analyser(Standard(1));
  EXPECT_THROW(analyser.Analyse(x, y), std::invalid_argument);
  x[17] = std::numeric_limits<double>::quiet_NaN();
  try {
    analyser.Analyse(x, x);
    ADD_FAILURE() << "NaN not refused";
  } catch (const mfwindow::BadSampleError& e) {
    EXPECT_EQ(e.Index(), 17);
  }
}

}  // namespace
