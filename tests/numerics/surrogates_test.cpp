#include "numerics/surrogates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "support/bits.h"

namespace {

using numerics::KeyedRandom;
using numerics::SurrogateKey;
using numerics::SurrogateKind;
using numerics::SurrogateMaker;

constexpr SurrogateKind kAllKinds[] = {
    SurrogateKind::kShuffle, SurrogateKind::kPhase, SurrogateKind::kIaaft};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<double> Surrogate(SurrogateMaker& maker,
                              const std::vector<double>& source,
                              std::uint64_t key) {
  std::vector<double> out(source.size());
  maker.Make(source, key, out);
  return out;
}

std::vector<std::uint64_t> SortedBits(std::span<const double> values) {
  std::vector<std::uint64_t> bits;
  for (const double v : values) bits.push_back(std::bit_cast<std::uint64_t>(v));
  std::sort(bits.begin(), bits.end());
  return bits;
}

bool SameBits(std::span<const double> a, std::span<const double> b) {
  return std::equal(
      a.begin(), a.end(), b.begin(), b.end(),
      [](double x, double y) { return test_support::SameBits(x, y); });
}

// e^(-2 pi i m/n) for m = 0..n-1 in long double.
std::vector<std::complex<long double>> Twiddles(std::size_t n) {
  const long double two_pi = 6.283185307179586476925286766559L;
  std::vector<std::complex<long double>> twiddle(n);
  for (std::size_t m = 0; m < n; ++m) {
    twiddle[m] = std::polar(1.0L, -two_pi * static_cast<long double>(m) /
                                      static_cast<long double>(n));
  }
  return twiddle;
}

// X_k = sum_t x[t] e^(-2 pi i k t/n) by the defining sum in long double, the
// angle reduced exactly as (k t mod n): a slow transform that shares nothing
// with FFTW.
std::complex<long double> NaiveCoefficient(
    std::span<const double> x,
    const std::vector<std::complex<long double>>& twiddle, std::size_t k) {
  std::complex<long double> sum = 0.0L;
  for (std::size_t t = 0; t < x.size(); ++t) {
    sum += static_cast<long double>(x[t]) * twiddle[k * t % x.size()];
  }
  return sum;
}

// |X_k|, k = 0..n/2.
std::vector<long double> NaiveAmplitudes(std::span<const double> x) {
  const auto twiddle = Twiddles(x.size());
  std::vector<long double> amplitude(x.size() / 2 + 1);
  for (std::size_t k = 0; k < amplitude.size(); ++k) {
    amplitude[k] = std::abs(NaiveCoefficient(x, twiddle, k));
  }
  return amplitude;
}

// The largest |A_k - B_k| over the largest A_k.
double SpectrumDeviation(std::span<const double> source,
                         std::span<const double> surrogate) {
  const std::vector<long double> a = NaiveAmplitudes(source);
  const std::vector<long double> b = NaiveAmplitudes(surrogate);
  long double largest = 0.0L;
  long double deviation = 0.0L;
  for (std::size_t k = 0; k < a.size(); ++k) {
    largest = std::max(largest, a[k]);
    deviation = std::max(deviation, std::fabs(a[k] - b[k]));
  }
  return static_cast<double>(deviation / largest);
}

long double Mean(std::span<const double> x) {
  long double sum = 0.0L;
  for (const double v : x) sum += v;
  return sum / static_cast<long double>(x.size());
}

// Test series from the raw 64-bit outputs of std::mt19937_64, which the
// standard fixes, and our own transforms of them (the standard's
// distributions differ between libraries).
class TestSeries {
 public:
  explicit TestSeries(std::uint64_t seed) : engine_(seed) {}
  double Uniform() {  // in (0, 1)
    return (static_cast<double>(engine_() >> 11U) + 0.5) * 0x1p-53;
  }
  double Gaussian() {  // Box-Muller, cosine branch
    const double r = std::sqrt(-2.0 * std::log(Uniform()));
    return r * std::cos(6.283185307179586 * Uniform());
  }

  std::vector<double> WhiteNoise(std::size_t n) {
    std::vector<double> x(n);
    for (double& v : x) v = Gaussian();
    return x;
  }
  // AR(1) with coefficient 0.9: a red spectrum, 19 times more power at low
  // frequencies than at high, which a shuffle flattens.
  std::vector<double> Ar1(std::size_t n) {
    std::vector<double> x(n);
    double state = 0.0;
    for (double& v : x) v = state = 0.9 * state + Gaussian();
    return x;
  }
  // Heavy tails: a Gaussian over uniform^(1/1.5), whose tails fall like
  // |x|^-1.5 (tail index 1.5: infinite variance).
  double HeavyTailed() {
    const double numerator = Gaussian();
    return numerator / std::pow(Uniform(), 1.0 / 1.5);
  }
  std::vector<double> HeavyTailedNoise(std::size_t n) {
    std::vector<double> x(n);
    for (double& v : x) v = HeavyTailed();
    return x;
  }
  // The same with AR(1) memory, coefficient 0.7.
  std::vector<double> HeavyTailedAr1(std::size_t n) {
    std::vector<double> x(n);
    double state = 0.0;
    for (double& v : x) v = state = 0.7 * state + HeavyTailed();
    return x;
  }

 private:
  std::mt19937_64 engine_;
};

// --- Random numbers -------------------------------------------------------

// Expected values from an independent Python implementation of the published
// algorithms on arbitrary-precision integers, itself checked against the
// reference outputs of SplitMix64 (state 0) and of xoshiro256** (state
// {1, 2, 3, 4}: 11520, 0, 1509978240, ...). Guards a wrong shift, constant or
// rotation, a wrong seeding order, and a rejection rule that draws too few
// or too many numbers (the bound 2^63 + 1 rejects its first draw here).
TEST(KeyedRandom, MatchesIndependentReference) {
  std::uint64_t state = 0;
  EXPECT_EQ(numerics::SplitMix64(state), 0xE220A8397B1DCDAFU);
  EXPECT_EQ(numerics::SplitMix64(state), 0x6E789E6AA1B965F4U);
  EXPECT_EQ(numerics::SplitMix64(state), 0x06C45D188009454FU);

  EXPECT_EQ(SurrogateKey(0, 0, 0, 0), 0x2130748AAAC80268U);
  EXPECT_EQ(SurrogateKey(42, 1, 2, 3), 0x3FB96077DA5807FDU);

  KeyedRandom raw(0x0123456789ABCDEFU);
  for (const std::uint64_t expected :
       {0xA2C2A42038D4EC3DU, 0x05FC25D0738E7B0FU, 0x625E7BFF938E701EU,
        0x1BA4DDC6FE2B5726U}) {
    EXPECT_EQ(raw.Next(), expected);
  }

  KeyedRandom bounded(7);
  EXPECT_EQ(bounded.Below(10), 7U);
  EXPECT_EQ(bounded.Below((std::uint64_t{1} << 63U) + 1U),
            7744196453246319819U);
  EXPECT_EQ(bounded.Below(3), 2U);
  EXPECT_EQ(bounded.Below(1), 0U);

  KeyedRandom uniform(12345);
  EXPECT_EQ(uniform.Uniform(), 6699628332854298.0 * 0x1p-53);
  EXPECT_EQ(uniform.Uniform(), 1171346042582225.0 * 0x1p-53);
}

// Guards a key that ignores an input, or two inputs that cancel (seed and
// index swapped, series and window in the same place).
TEST(SurrogateKey, ChangesWhenAnyInputChanges) {
  struct Case {
    std::uint64_t seed, series, window, index;
  };
  // clang-format off
  constexpr Case kBases[] = {
    {0, 0, 0, 0},
    {1, 2, 3, 4},
    {0xFFFFFFFFFFFFFFFFU, 7, 7, 7},
    {12345, 0, 1, 0},
  };
  // clang-format on
  for (const Case& c : kBases) {
    const std::uint64_t base =
        SurrogateKey(c.seed, c.series, c.window, c.index);
    for (const std::uint64_t delta :
         {std::uint64_t{1}, std::uint64_t{1} << 63U, std::uint64_t{0x100}}) {
      SCOPED_TRACE(delta);
      EXPECT_NE(SurrogateKey(c.seed ^ delta, c.series, c.window, c.index),
                base);
      EXPECT_NE(SurrogateKey(c.seed, c.series ^ delta, c.window, c.index),
                base);
      EXPECT_NE(SurrogateKey(c.seed, c.series, c.window ^ delta, c.index),
                base);
      EXPECT_NE(SurrogateKey(c.seed, c.series, c.window, c.index ^ delta),
                base);
    }
  }
  // The same numbers in other places are other surrogates.
  EXPECT_NE(SurrogateKey(5, 1, 2, 0), SurrogateKey(5, 2, 1, 0));
  EXPECT_NE(SurrogateKey(5, 0, 0, 1), SurrogateKey(1, 0, 0, 5));
}

// --- Shuffle --------------------------------------------------------------

// The permutation for one key, from the independent Python implementation
// (Fisher-Yates from the top with Lemire's bounded integers).
TEST(ShuffleSurrogate, MatchesIndependentReference) {
  SurrogateMaker maker(10, SurrogateKind::kShuffle);
  const std::vector<double> source = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<double> expected = {0, 8, 1, 7, 5, 6, 2, 3, 4, 9};
  EXPECT_EQ(Surrogate(maker, source, SurrogateKey(2024, 1, 5, 0)), expected);
}

// Guards a swap that overwrites instead of exchanging, and keys that do not
// reach the permutation.
TEST(ShuffleSurrogate, KeepsTheValuesAndVariesTheOrder) {
  TestSeries series(1);
  for (const std::size_t n : {10U, 11U, 1000U}) {
    SCOPED_TRACE(n);
    std::vector<double> source = series.HeavyTailedAr1(n);
    source[3] = -0.0;
    source[5] = 0.0;
    SurrogateMaker maker(n, SurrogateKind::kShuffle);
    std::set<std::vector<double>> orders;
    for (std::uint64_t index = 0; index < 20; ++index) {
      const std::vector<double> out =
          Surrogate(maker, source, SurrogateKey(9, 0, 0, index));
      EXPECT_EQ(SortedBits(out), SortedBits(source));
      orders.insert(out);
    }
    EXPECT_EQ(orders.size(), 20U);
  }
}

// Every permutation of three values, equally often. Sattolo's variant
// (drawing j below i instead of i + 1) would make only the two cycles;
// a biased bound would skew the counts. Chi-square with 5 degrees of
// freedom over 60000 keys: 20.5 is its 0.1% point.
TEST(ShuffleSurrogate, AllPermutationsEquallyLikely) {
  SurrogateMaker maker(3, SurrogateKind::kShuffle);
  const std::vector<double> source = {0.0, 1.0, 2.0};
  std::vector<int> counts(6, 0);
  constexpr int kKeys = 60000;
  for (std::uint64_t index = 0; index < kKeys; ++index) {
    const std::vector<double> out =
        Surrogate(maker, source, SurrogateKey(3, 0, 0, index));
    // Lehmer code of the permutation: 0..5.
    const int first = static_cast<int>(out[0]);
    const int second = static_cast<int>(out[1]) > first
                           ? static_cast<int>(out[1]) - 1
                           : static_cast<int>(out[1]);
    ++counts[static_cast<std::size_t>(first * 2 + second)];
  }
  double chi_square = 0.0;
  for (const int count : counts) {
    const double expected = kKeys / 6.0;
    chi_square += (count - expected) * (count - expected) / expected;
  }
  EXPECT_LT(chi_square, 20.5);
}

// --- Phase randomisation --------------------------------------------------

// The amplitudes against the slow long-double transform, as a share of the
// largest amplitude, and the mean as a share of the largest |value|.
// Measured here: at most 2.6e-16 and 1e-16 (a wider survey up to n = 2048,
// four kinds of series: 5.6e-16). The transform's rounding grows like log n
// times the unit roundoff; 1e-14 leaves a margin of 40, while a wrong
// coefficient (a lost Nyquist term, a conjugate in the wrong half, a scale
// of 1/n missing, a changed mean) is off by order 1.
TEST(PhaseSurrogate, KeepsTheAmplitudeSpectrumAndTheMean) {
  TestSeries series(2);
  for (const std::size_t n :
       {1U, 2U, 3U, 4U, 5U, 16U, 17U, 127U, 128U, 1000U}) {
    SCOPED_TRACE(n);
    const std::vector<double> source = series.Ar1(n);
    SurrogateMaker maker(n, SurrogateKind::kPhase);
    for (std::uint64_t index = 0; index < 3; ++index) {
      const std::vector<double> out =
          Surrogate(maker, source, SurrogateKey(1, 0, 0, index));
      EXPECT_LT(SpectrumDeviation(source, out), 1e-14);
      long double scale = 0.0L;
      for (const double v : source)
        scale = std::max(scale, std::fabs(static_cast<long double>(v)));
      EXPECT_LT(std::fabs(Mean(out) - Mean(source)) / scale, 1e-14L);
    }
  }
}

// Phases uniform on the circle: the mean of e^(i phi) of one coefficient over
// 400 keys has length about 1/sqrt(400) = 0.05. Phases drawn in [0, 1)
// radians instead of [0, 2 pi) give 0.96, phases left alone 1. Different
// keys give different series.
TEST(PhaseSurrogate, PhasesAreUniformAndFollowTheKey) {
  TestSeries series(3);
  constexpr std::size_t kN = 64;
  const std::vector<double> source = series.Ar1(kN);
  SurrogateMaker maker(kN, SurrogateKind::kPhase);
  constexpr int kKeys = 400;
  std::vector<std::vector<double>> outs;
  for (std::uint64_t index = 0; index < kKeys; ++index) {
    outs.push_back(Surrogate(maker, source, SurrogateKey(4, 0, 0, index)));
  }
  const auto twiddle = Twiddles(kN);
  for (const std::size_t k : {1U, 5U, 31U}) {
    SCOPED_TRACE(k);
    std::complex<long double> direction = 0.0L;
    for (const std::vector<double>& out : outs) {
      const std::complex<long double> coefficient =
          NaiveCoefficient(out, twiddle, k);
      direction += coefficient / std::abs(coefficient);
    }
    EXPECT_LT(std::abs(direction) / kKeys, 0.2L);
  }
  const std::set<std::vector<double>> distinct(outs.begin(), outs.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kKeys));
}

// n = 2 has no free phase: the Nyquist coefficient's random sign makes the
// source or its reversal, both over a few keys (a sign kept or lost would
// give only one).
TEST(PhaseSurrogate, NyquistSignIsRandom) {
  SurrogateMaker two(2, SurrogateKind::kPhase);
  const std::vector<double> source = {1.0, 4.0};
  bool kept = false;
  bool swapped = false;
  for (std::uint64_t key = 0; key < 16; ++key) {
    const std::vector<double> out = Surrogate(two, source, key);
    const bool is_kept =
        std::fabs(out[0] - 1.0) < 1e-15 && std::fabs(out[1] - 4.0) < 1e-15;
    const bool is_swapped =
        std::fabs(out[0] - 4.0) < 1e-15 && std::fabs(out[1] - 1.0) < 1e-15;
    EXPECT_TRUE(is_kept || is_swapped) << out[0] << " " << out[1];
    kept = kept || is_kept;
    swapped = swapped || is_swapped;
  }
  EXPECT_TRUE(kept && swapped);
}

// --- IAAFT ----------------------------------------------------------------

// The whole loop against an independent NumPy implementation written from
// the paper (numpy.fft, argsort; the start permutation from the Python
// Fisher-Yates above): the same permutation after the same number of steps.
// The source's values are the cubes of integers, and the smallest gap
// between the ranked values of every step was at least 7e-4 of their range
// there, far above either transform's rounding, so the two must agree
// exactly. Guards the amplitude step, the rank step and the stopping rule
// (an output taken from the wrong step).
TEST(IaaftSurrogate, MatchesIndependentReference) {
  constexpr std::size_t kN = 40;
  std::vector<double> source(kN);
  for (std::size_t t = 0; t < kN; ++t) {
    const auto m = static_cast<double>((t * t * t * 7 + 13 * t + 5) % 97) - 48;
    source[t] = m * m * m;
  }
  // clang-format off
  const std::vector<double> expected = {
      -3375,  29791,  46656, -85184, -91125,   1728,  97336,  85184,
       -729, -79507, 103823, -59319, -68921, -68921,  59319,    512,
         27,  27000, -32768,  46656, -12167,  50653,  13824,   -512,
      21952,  -2197, 103823,  97336,    216,  50653,  -4096,   -125,
     -27000,  -1331,  13824, -79507, -21952,  64000, 103823,    512};
  // clang-format on
  SurrogateMaker maker(kN, SurrogateKind::kIaaft);
  EXPECT_EQ(Surrogate(maker, source, SurrogateKey(7, 0, 3, 1)), expected);
  EXPECT_EQ(maker.LastIterations(), 9);
  EXPECT_TRUE(maker.LastConverged());
  // Step 9 changed nothing, so a limit of 8 gives the same values, yet
  // unconverged; a limit of 7 stops before step 8's change.
  SurrogateMaker eight(kN, SurrogateKind::kIaaft, 8);
  EXPECT_EQ(Surrogate(eight, source, SurrogateKey(7, 0, 3, 1)), expected);
  EXPECT_EQ(eight.LastIterations(), 8);
  EXPECT_FALSE(eight.LastConverged());
  SurrogateMaker seven(kN, SurrogateKind::kIaaft, 7);
  EXPECT_NE(Surrogate(seven, source, SurrogateKey(7, 0, 3, 1)), expected);
}

// The values exactly, and the spectrum as close as IAAFT gets it. Deviation
// = largest |A_k - B_k| over the largest A_k, against the slow transform.
// Measured over 10 keys each (n = 999..2048, a survey beside this test;
// in brackets the shuffle IAAFT starts from):
//   Gaussian white noise (a random walk's increments): <= 0.0052  (>= 0.60)
//   AR(1) 0.9:                                        <= 0.0029  (>= 0.75)
//   AR(1) 0.7 of tail-index-1.5 noise:                <= 0.18    (>= 0.59)
//   tail-index-1.5 white noise:                       <= 0.33    (>= 0.74)
// and in this test's cases 0.0052, 0.0022, 0.0020, 0.092 and 0.16. With
// infinite variance a few extreme values dominate every coefficient, and
// imposing the exact values after the spectrum undoes much of the spectral
// step (a NumPy IAAFT from the same start gave the same numbers, to the
// last bit); such runs mostly reach the step limit.
// Bounds: three to four times the light tails' survey maximum and 1.5 to
// 1.7 times the heavy ones', and in every case a fraction of the start's
// deviation.
TEST(IaaftSurrogate, KeepsTheValuesExactlyAndTheSpectrumClosely) {
  struct Case {
    const char* name;
    std::vector<double> (TestSeries::*make)(std::size_t);
    std::size_t n;
    double bound;           // on the deviation
    double share_of_start;  // bound on deviation / the shuffle's deviation
  };
  // clang-format off
  const Case kCases[] = {
    {"white noise", &TestSeries::WhiteNoise,      1000, 0.02, 0.05},
    {"AR(1)",       &TestSeries::Ar1,             1000, 0.01, 0.02},
    {"AR(1) odd n", &TestSeries::Ar1,              999, 0.01, 0.02},
    {"heavy AR(1)", &TestSeries::HeavyTailedAr1,  1000, 0.3,  0.5},
    {"heavy white", &TestSeries::HeavyTailedNoise, 1000, 0.5, 0.7},
  };
  // clang-format on
  TestSeries series(5);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<double> source = (series.*c.make)(c.n);
    SurrogateMaker iaaft(c.n, SurrogateKind::kIaaft);
    SurrogateMaker shuffle(c.n, SurrogateKind::kShuffle);
    for (std::uint64_t index = 0; index < 2; ++index) {
      const std::uint64_t key = SurrogateKey(6, 0, 0, index);
      const std::vector<double> out = Surrogate(iaaft, source, key);
      EXPECT_EQ(SortedBits(out), SortedBits(source));
      const double deviation = SpectrumDeviation(source, out);
      const double start =
          SpectrumDeviation(source, Surrogate(shuffle, source, key));
      EXPECT_LT(deviation, c.bound);
      EXPECT_LT(deviation, c.share_of_start * start);
      EXPECT_GE(iaaft.LastIterations(), 1);
      EXPECT_LE(iaaft.LastIterations(), numerics::kDefaultIaaftIterations);
    }
  }
}

// The rank step's sort against std::sort with a plain comparator: NaN with
// the sign bit first, NaN without it last, otherwise by <, -0 before +0,
// then by place. The cases drive each path of the sort (checked once by
// instrumenting it): the 33-bit radix passes alone (Gaussian, heavy tails,
// descending), with thousands of insertion moves after them (groups, ties
// and specials), the fallback to every bit (close values: nearly all agree
// in 33 bits, not in 64), and a single key (one value). A wrong tie rule,
// a lost -0 or NaN, a skipped pass or insertion step all reorder places.
TEST(RankOrder, MatchesAComparisonSort) {
  auto before = [](std::pair<double, std::size_t> a,
                   std::pair<double, std::size_t> b) {
    auto rank_class = [](double v) {
      return std::isnan(v) ? (std::signbit(v) ? 0 : 2) : 1;
    };
    if (rank_class(a.first) != rank_class(b.first)) {
      return rank_class(a.first) < rank_class(b.first);
    }
    if (a.first < b.first) return true;
    if (b.first < a.first) return false;
    if (std::signbit(a.first) != std::signbit(b.first)) {
      return std::signbit(a.first) && !std::isnan(a.first);
    }
    return a.second < b.second;
  };
  TestSeries series(10);
  std::mt19937_64 pick(10);
  struct Case {
    const char* name;
    std::vector<double> values;
  };
  std::vector<Case> cases = {
      {"gaussian", series.WhiteNoise(4096)},
      {"heavy tails", series.HeavyTailedNoise(4096)},
      {"one value", std::vector<double>(100, 2.5)},
      {"single", {7.0}},
      {"pair", {1.0, -1.0}},
  };
  std::vector<double> ties(1000);
  std::vector<double> close(1000);
  std::vector<double> offset(1000);
  std::vector<double> groups(1000);
  const double kChoices[] = {-1.0,  -0.0, 0.0,   1.0,       2.0,       kInf,
                             -kInf, kNaN, -kNaN, 0x1p-1074, -0x1p-1074};
  for (std::size_t i = 0; i < 1000; ++i) {
    ties[i] = kChoices[pick() % std::size(kChoices)];
    // 1 + k 2^-40: agree in sign, exponent and 40 bits of mantissa.
    close[i] = 1.0 + static_cast<double>(pick() % 1024) * 0x1p-40;
    offset[i] = 1e6 + series.Gaussian() * 1e-3;
    // 100 groups that agree in 33 bits, shuffled within: insertion work.
    groups[i] = static_cast<double>(pick() % 100 + 1) *
                (1.0 + static_cast<double>(pick() % 64) * 0x1p-50);
  }
  close[500] = -1.0;  // makes the sign bit the highest differing bit
  cases.push_back({"ties and specials", ties});
  cases.push_back({"close values", close});
  cases.push_back({"large offset", offset});
  cases.push_back({"groups", groups});
  std::vector<double> descending = series.WhiteNoise(3000);
  std::sort(descending.begin(), descending.end(), std::greater<>());
  cases.push_back({"descending", descending});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t n = c.values.size();
    std::vector<std::pair<double, std::size_t>> expected;
    for (std::size_t t = 0; t < n; ++t) expected.emplace_back(c.values[t], t);
    std::sort(expected.begin(), expected.end(), before);
    std::vector<numerics::detail::RankEntry> ranks(n);
    std::vector<numerics::detail::RankEntry> scratch(n);
    numerics::detail::RankOrder(c.values, ranks, scratch);
    ASSERT_EQ(ranks.size(), n);
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_EQ(ranks[j].Place, expected[j].second) << "rank " << j;
    }
  }
}

// --- All kinds ------------------------------------------------------------

// One maker per thread, keys in opposite orders and two sources interleaved
// (so that whatever a maker keeps from the last source is exercised): every
// surrogate has the bytes that a fresh maker on the main thread gives it.
// Guards state carried between calls and a plan that depends on the thread.
TEST(Surrogates, SameBytesOnAnyThreadInAnyOrder) {
  constexpr std::size_t kN = 300;
  constexpr std::uint64_t kKeys = 8;
  TestSeries series(8);
  const std::vector<double> sources[2] = {series.HeavyTailedAr1(kN),
                                          series.Ar1(kN)};
  for (const SurrogateKind kind : kAllKinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    std::vector<std::vector<double>> expected;
    for (std::uint64_t index = 0; index < kKeys; ++index) {
      SurrogateMaker fresh(kN, kind, 20);
      expected.push_back(
          Surrogate(fresh, sources[index % 2], SurrogateKey(11, 2, 3, index)));
    }
    std::vector<std::vector<double>> got[2];
    auto work = [&](int thread) {
      SurrogateMaker maker(kN, kind, 20);
      got[thread].resize(kKeys);
      for (std::uint64_t step = 0; step < kKeys; ++step) {
        const std::uint64_t index = thread == 0 ? step : kKeys - 1 - step;
        got[thread][index] =
            Surrogate(maker, sources[index % 2], SurrogateKey(11, 2, 3, index));
      }
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    for (std::uint64_t index = 0; index < kKeys; ++index) {
      SCOPED_TRACE(index);
      EXPECT_TRUE(SameBits(got[0][index], expected[index]));
      EXPECT_TRUE(SameBits(got[1][index], expected[index]));
    }
  }
}

// The edges, for every kind: lengths 0 to 3 give permutations (the phase
// surrogate of n = 3 keeps its spectrum instead), a constant comes back
// unchanged, and NaN or infinity in the source ends in bounded time with the
// documented result: shuffle and IAAFT permute the values (IAAFT does no
// step), the phase surrogate is all NaN.
TEST(Surrogates, EdgeCases) {
  for (const SurrogateKind kind : kAllKinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    const bool permutes = kind != SurrogateKind::kPhase;

    SurrogateMaker empty(0, kind);
    std::vector<double> nothing;
    empty.Make(nothing, 1, nothing);

    for (const std::vector<double>& source :
         {std::vector<double>{3.0}, std::vector<double>{-1.0, 2.0},
          std::vector<double>{0.5, -2.0, 7.0}}) {
      SCOPED_TRACE(source.size());
      SurrogateMaker maker(source.size(), kind);
      for (std::uint64_t key = 0; key < 6; ++key) {
        const std::vector<double> out = Surrogate(maker, source, key);
        if (permutes || source.size() == 1) {
          EXPECT_EQ(SortedBits(out), SortedBits(source));
        } else {
          EXPECT_LT(SpectrumDeviation(source, out), 1e-14);
        }
      }
    }

    for (const std::size_t n : {1U, 7U, 64U}) {
      const std::vector<double> constant(n, -0.3);
      SurrogateMaker maker(n, kind);
      EXPECT_TRUE(SameBits(Surrogate(maker, constant, 5), constant)) << n;
    }

    TestSeries series(9);
    for (const double bad : {kNaN, kInf, -kInf}) {
      SCOPED_TRACE(bad);
      std::vector<double> source = series.Ar1(50);
      source[17] = bad;
      SurrogateMaker maker(50, kind);
      const std::vector<double> out = Surrogate(maker, source, 3);
      if (permutes) {
        EXPECT_EQ(SortedBits(out), SortedBits(source));
      } else {
        EXPECT_TRUE(std::all_of(out.begin(), out.end(),
                                [](double v) { return std::isnan(v); }));
      }
      EXPECT_EQ(maker.LastIterations(), 0);
      // A finite source after a bad one is analysed afresh.
      source[17] = 0.25;
      const std::vector<double> after = Surrogate(maker, source, 3);
      EXPECT_TRUE(std::all_of(after.begin(), after.end(),
                              [](double v) { return std::isfinite(v); }));
    }
  }
}

}  // namespace
