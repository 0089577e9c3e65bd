// The segment-once kernel against the straightforward kernel and a long
// double reference: its contract on a corpus of hard series, its bytes on
// one and two threads, and when the engine takes it.
#include "analysis/segment_once_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/engine.h"
#include "analysis_test_support.h"

namespace {

using analysis::KernelKind;
using LD = long double;

analysis::TableParams StandardTables(std::int32_t lrec, std::int32_t order) {
  analysis::TableParams t;
  t.TrendOrder = order;
  t.Lrec = lrec;
  t.MinScale = 4 * (order + 2);
  t.Method.Profile = true;
  t.Method.Measure = analysis::Fluctuation::kRms;
  t.Method.Segments = analysis::SegmentCut::kBoth;
  t.Method.Abscissa = analysis::FitAbscissa::kLogS;
  for (int k = -10; k <= 10; ++k) t.Method.QList.push_back(0.5 * k);
  t.Method.MaxScale = lrec / 4;
  t.Method.ScaleCount = 24;
  t.Method.KeepFq = true;
  return t;
}

struct Outcome {
  std::vector<double> Fq;       // every window's F_q(s), window-major
  std::vector<double> Summary;  // every window's summary
};

Outcome Analyse(const std::shared_ptr<const analysis::RunConstants>& run,
                KernelKind kind, int threads, const std::vector<double>& x,
                std::int32_t shift) {
  const auto engine = analysis::MakeScheduledEngine(
      run, {kind, analysis::SchedulerKind::kPipelined, threads});
  Outcome out;
  analysis::WindowPlan plan;
  plan.WinShift = shift;
  plan.Tstep = 1.0;
  engine->Analyse(plan, analysis_test::SampleSource(x),
                  analysis::WindowSink([&](const analysis::WindowOutcome& o) {
                    out.Fq.insert(out.Fq.end(), o.Fq->begin(), o.Fq->end());
                    const analysis::WindowResult& r = o.Result;
                    out.Summary.insert(out.Summary.end(),
                                       {r.AlfaMin, r.AlfaMax, r.AlfaWidth,
                                        r.AlfaSz, r.FAlfaSz});
                  }),
                  false);
  return out;
}

// F^2 of one segment in long double: its cumulative sum from its own
// origin, less its least-squares polynomial (orthonormal basis by
// Gram-Schmidt twice over the centred abscissa), refined once; exactly 0
// where the cumulative sum is a straight line.
// v (n values) less its projections on the first `count` orthonormal rows
// of `basis`, twice over (Gram-Schmidt with one reorthogonalisation).
void RemoveProjections(LD* v, const LD* basis, std::size_t count,
                       std::size_t n) {
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t k = 0; k < count; ++k) {
      LD dot = 0.0L;
      for (std::size_t i = 0; i < n; ++i) dot += v[i] * basis[k * n + i];
      for (std::size_t i = 0; i < n; ++i) v[i] -= dot * basis[k * n + i];
    }
  }
}

LD ExactSquare(const double* x, std::size_t n, int order) {
  // All samples but the first equal: a straight cumulative sum, F^2 = 0.
  if (std::all_of(x + 1, x + n, [&](double v) { return v == x[1]; })) {
    return 0.0L;
  }
  std::vector<LD> y(n);
  LD sum = 0.0L;
  for (std::size_t i = 0; i < n; ++i) {
    sum += static_cast<LD>(x[i]) - static_cast<LD>(x[0]);
    y[i] = sum;
  }
  const auto terms = static_cast<std::size_t>(order) + 1;
  std::vector<LD> basis(terms * n);
  for (std::size_t k = 0; k < terms; ++k) {
    LD* q = &basis[k * n];
    for (std::size_t i = 0; i < n; ++i) {
      const LD w = (2.0L * static_cast<LD>(i) - static_cast<LD>(n - 1)) /
                   static_cast<LD>(n);
      q[i] = std::pow(w, static_cast<LD>(k));
    }
    RemoveProjections(q, basis.data(), k, n);
    LD norm = 0.0L;
    for (std::size_t i = 0; i < n; ++i) norm += q[i] * q[i];
    norm = std::sqrt(norm);
    for (std::size_t i = 0; i < n; ++i) q[i] /= norm;
  }
  RemoveProjections(y.data(), basis.data(), terms, n);
  LD squares = 0.0L;
  for (const LD r : y) squares += r * r;
  return squares / static_cast<LD>(n);
}

// F_q(s) of the window at `first` in long double, scale-major.
std::vector<LD> ExactFq(const analysis::RunConstants& run,
                        const std::vector<double>& x, std::size_t first) {
  const std::size_t lrec = static_cast<std::size_t>(run.Params.Lrec);
  std::vector<LD> out;
  for (const std::int32_t len : run.ScaleLen) {
    const auto n = static_cast<std::size_t>(len);
    const std::size_t m = lrec / n;
    std::vector<LD> f;
    for (std::size_t v = 0; v < 2 * m; ++v) {
      const std::size_t start =
          first + (v < m ? v * n : lrec - m * n + (v - m) * n);
      f.push_back(std::sqrt(ExactSquare(&x[start], n, run.Params.TrendOrder)));
    }
    for (const double q : run.QGrid) {
      LD s = 0.0L;
      std::size_t counted = 0;
      for (const LD v : f) {
        if (!(v > 0.0L)) continue;
        ++counted;
        s += q == 0.0 ? std::log(v) : std::pow(v, static_cast<LD>(q));
      }
      if (q == 0.0) {
        out.push_back(counted > 0 ? std::exp(s / static_cast<LD>(counted))
                                  : 0.0L);
      } else {
        out.push_back(std::pow(s / static_cast<LD>(2 * m), 1.0L / q));
      }
    }
  }
  return out;
}

struct Corpus {
  const char* Name;
  std::vector<double> (*Make)();
};

constexpr std::size_t kSamples = 2400;

std::vector<double> Walk() { return analysis_test::RandomWalk(kSamples, 1); }
std::vector<double> Offset(double by, std::uint64_t seed) {
  std::vector<double> x = analysis_test::RandomWalk(kSamples, seed);
  for (double& v : x) v += by;
  return x;
}
std::vector<double> Unit(double unit, std::uint64_t seed) {
  std::vector<double> x = analysis_test::RandomWalk(kSamples, seed);
  for (double& v : x) v *= unit;
  return x;
}
std::vector<double> Trend() {
  std::vector<double> x = analysis_test::WhiteNoise(kSamples, 5);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] += 2000.0 * static_cast<double>(i);  // 1e6 per window
  }
  return x;
}
std::vector<double> FlatAndHeld() {
  std::vector<double> x = analysis_test::WhiteNoise(kSamples, 6);
  std::fill(x.begin() + 700, x.begin() + 1100, x[700]);  // a flat run
  for (std::size_t i = 1500; i < x.size(); ++i) {
    if (i % 9 != 0) x[i] = x[i - 1];  // held samples
  }
  return x;
}
std::vector<double> Cauchy() {
  std::vector<double> u = analysis_test::WhiteNoise(2 * kSamples, 7);
  std::vector<double> x(kSamples);
  for (std::size_t i = 0; i < kSamples; ++i) x[i] = u[2 * i] / u[2 * i + 1];
  return x;
}
std::vector<double> QuietStart() {
  std::vector<double> x = analysis_test::WhiteNoise(kSamples, 8);
  for (std::size_t i = 0; i < 800; ++i) x[i] = 1e-13 * x[i] + 3.0;
  return x;
}

const Corpus kCorpus[] = {
    {"walk", Walk},
    {"offset 1e6", [] { return Offset(1e6, 2); }},
    {"offset 1e12", [] { return Offset(1e12, 3); }},
    {"unit 1e-9", [] { return Unit(1e-9, 4); }},
    {"unit 1e150", [] { return Unit(1e150, 9); }},
    {"trend 1e6 per window", Trend},
    {"flat and held runs", FlatAndHeld},
    {"Cauchy noise", Cauchy},
    {"quiet start", QuietStart},
};

TEST(SegmentOnceKernel, KeepsItsContractOnTheStressCorpus) {
  constexpr std::int32_t kLrec = 512;
  constexpr std::int32_t kShift = 5;
  double worst_close = 0.0;
  for (int order = 1; order <= 3; ++order) {
    const auto run = analysis::MakeRunConstants(StandardTables(kLrec, order));
    const std::size_t table = run->QGrid.size() * run->LogScale.size();
    for (const Corpus& c : kCorpus) {
      SCOPED_TRACE(std::string(c.Name) + ", order " + std::to_string(order));
      const std::vector<double> x = c.Make();
      const Outcome ref =
          Analyse(run, KernelKind::kStraightforward, 1, x, kShift);
      const Outcome one = Analyse(run, KernelKind::kSegmentOnce, 1, x, kShift);
      const Outcome two = Analyse(run, KernelKind::kSegmentOnce, 2, x, kShift);
      ASSERT_EQ(one.Fq.size(), ref.Fq.size());
      // The same bytes whichever windows a thread's kernel sees.
      ASSERT_EQ(0, std::memcmp(one.Fq.data(), two.Fq.data(),
                               one.Fq.size() * sizeof(double)));
      ASSERT_EQ(0, std::memcmp(one.Summary.data(), two.Summary.data(),
                               one.Summary.size() * sizeof(double)));
      const std::size_t windows = one.Fq.size() / table;
      for (const std::size_t w :
           {std::size_t{0}, windows / 3, windows / 2, windows - 1}) {
        const std::vector<LD> exact =
            ExactFq(*run, x, w * static_cast<std::size_t>(kShift));
        for (std::size_t i = 0; i < table; ++i) {
          const LD e = exact[i];
          const double s = ref.Fq[w * table + i];
          const double o = one.Fq[w * table + i];
          if (!(e > 0.0L) || std::isinf(e)) {
            // No counted segment: 0 or infinity, as the reference.
            if (static_cast<LD>(s) == e) {
              EXPECT_EQ(static_cast<LD>(o), e);
            }
            continue;
          }
          const LD err_s = std::fabs(static_cast<LD>(s) - e) / e;
          const LD err_o = std::fabs(static_cast<LD>(o) - e) / e;
          if (err_s <= 1e-11L) {
            const double close = std::fabs(o / s - 1.0);
            worst_close = std::max(worst_close, close);
            EXPECT_LE(close, 5e-11) << "window " << w << " entry " << i;
          } else {
            EXPECT_LE(err_o, err_s + 1e-10L)
                << "window " << w << " entry " << i;
          }
        }
      }
    }
  }
  std::printf(
      "largest |F_q / straightforward - 1| where that is exact: "
      "%.3g\n",
      worst_close);
}

TEST(SegmentOnceKernel, TakenWhereItWinsForcedWhereItApplies) {
  struct Case {
    const char* Name;
    analysis::TableParams Tables;
    analysis::KernelChoice Asked;
    std::int32_t Shift;
    KernelKind Expected;
  };
  const analysis::TableParams standard = StandardTables(1000, 2);
  analysis::TableParams range = standard;
  range.Method.Measure = analysis::Fluctuation::kRange;
  analysis::TableParams order4 = standard;
  order4.TrendOrder = 4;
  analysis::TableParams floor = standard;
  floor.Method.RangeFloor = 1e-6;
  analysis::TableParams described;
  described.TrendOrder = 2;
  described.Lrec = 1000;
  described.MinScale = 20;
  const auto kAuto = analysis::KernelChoice::kAuto;
  const auto kOnce = analysis::KernelChoice::kSegmentOnce;
  const Case cases[] = {
      {"standard, shift 1", standard, kAuto, 1, KernelKind::kSegmentOnce},
      {"standard, shift 10", standard, kAuto, 10, KernelKind::kSegmentOnce},
      {"standard, shift 11", standard, kAuto, 11, KernelKind::kVector},
      {"shift unknown", standard, kAuto, 0, KernelKind::kVector},
      {"range", range, kAuto, 1, KernelKind::kVector},
      {"range, forced", range, kOnce, 1, KernelKind::kVector},
      {"order 4", order4, kAuto, 1, KernelKind::kVector},
      {"range floor", floor, kAuto, 1, KernelKind::kVector},
      {"described", described, kAuto, 1, KernelKind::kVector},
      {"described, forced", described, kOnce, 1, KernelKind::kVector},
      {"forced at shift 1000", standard, kOnce, 1000, KernelKind::kSegmentOnce},
      {"straightforward asked", standard,
       analysis::KernelChoice::kStraightforward, 1,
       KernelKind::kStraightforward},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(analysis::ChooseEngine(c.Tables, {c.Asked, 1, c.Shift}).Kernel,
              c.Expected)
        << c.Name;
  }
}

}  // namespace
