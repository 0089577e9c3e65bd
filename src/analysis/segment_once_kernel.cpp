#include "analysis/segment_once_kernel.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "analysis/vector_kernel.h"
#include "analysis/window_kernel.h"
#include "analysis/window_quality.h"
#include "numerics/elementary.h"
#include "numerics/exact_elementary.h"

namespace analysis {
namespace {

constexpr std::size_t kMaxTerms = kSegmentOnceMaxOrder + 1;
// The largest |2q| whose power is formed by products of (F^2)^(1/4).
constexpr int kMostProducts = 64;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What one segment length needs, built once per run. Frame points are
// i = 0 .. 2n - 2 (block b, then block b + 1 but its last point), at the
// abscissa t_i = (2i - 2n + 2) / n; a segment at offset o (o = 0 .. n - 1
// into block b) covers i = o .. o + n - 1, where t_i less
// d_o = (2o - n + 1) / n is its own centred abscissa
// w_(i-o) = (2(i - o) - n + 1) / n in (-1, 1).
struct LengthTables {
  std::int32_t N = 0;          // the segment length
  std::int32_t M = 0;          // segments per side of a window, Lrec div n
  std::size_t Terms = 0;       // order + 1
  std::size_t Points = 0;      // 2n - 1
  std::vector<double> TauPow;  // t_i^k at [k * Points + i]
  // Per offset o, the lower triangle (row-major) of A_o: the coefficients
  // c = A_o M of the segment's orthonormal polynomials from its moments
  // M_l = sum of z_i t_i^l. A_o = R^-1 B(d_o), R the Cholesky factor of
  // the Gram matrix of w^0 .. w^order over the segment and B the binomial
  // shift from powers of t to powers of t - d_o, in long double.
  std::vector<double> Coef;
  std::size_t CoefPerOffset = 0;
};

LengthTables BuildTables(std::int32_t n, std::int32_t m, std::int32_t order) {
  LengthTables t;
  t.N = n;
  t.M = m;
  t.Terms = static_cast<std::size_t>(order) + 1;
  t.Points = 2 * static_cast<std::size_t>(n) - 1;
  const std::size_t terms = t.Terms;
  t.TauPow.resize(terms * t.Points);
  for (std::size_t i = 0; i < t.Points; ++i) {
    const double tau =
        static_cast<double>(2 * static_cast<std::int64_t>(i) - 2 * n + 2) /
        static_cast<double>(n);
    double power = 1.0;
    for (std::size_t k = 0; k < terms; ++k) {
      t.TauPow[k * t.Points + i] = power;
      power = power * tau;
    }
  }
  using LD = long double;
  // Gram matrix of the centred powers, its Cholesky factor and inverse.
  std::array<std::array<LD, kMaxTerms>, kMaxTerms> gram{};
  for (std::int32_t i = 0; i < n; ++i) {
    const LD w = static_cast<LD>(2 * i - n + 1) / static_cast<LD>(n);
    std::array<LD, 2 * kMaxTerms> power{};
    power[0] = 1.0L;
    for (std::size_t k = 1; k < 2 * terms; ++k) power[k] = power[k - 1] * w;
    for (std::size_t k = 0; k < terms; ++k) {
      for (std::size_t l = 0; l < terms; ++l) gram[k][l] += power[k + l];
    }
  }
  std::array<std::array<LD, kMaxTerms>, kMaxTerms> chol{};
  for (std::size_t k = 0; k < terms; ++k) {
    for (std::size_t l = 0; l <= k; ++l) {
      LD s = gram[k][l];
      for (std::size_t j = 0; j < l; ++j) s -= chol[k][j] * chol[l][j];
      chol[k][l] = k == l ? std::sqrt(s) : s / chol[l][l];
    }
  }
  std::array<std::array<LD, kMaxTerms>, kMaxTerms> inv{};
  for (std::size_t k = 0; k < terms; ++k) {
    inv[k][k] = 1.0L / chol[k][k];
    for (std::size_t l = 0; l < k; ++l) {
      LD s = 0.0L;
      for (std::size_t j = l; j < k; ++j) s += chol[k][j] * inv[j][l];
      inv[k][l] = -s / chol[k][k];
    }
  }
  t.CoefPerOffset = terms * (terms + 1) / 2;
  t.Coef.resize(t.CoefPerOffset * static_cast<std::size_t>(n));
  for (std::int32_t o = 0; o < n; ++o) {
    const LD shift = -static_cast<LD>(2 * o - n + 1) / static_cast<LD>(n);
    double* a = t.Coef.data() + t.CoefPerOffset * static_cast<std::size_t>(o);
    std::size_t at = 0;
    for (std::size_t k = 0; k < terms; ++k) {
      for (std::size_t l = 0; l <= k; ++l) {
        // sum over j = l..k of inv[k][j] binom(j, l) shift^(j - l)
        LD s = 0.0L;
        for (std::size_t j = l; j <= k; ++j) {
          LD binom = 1.0L;
          for (std::size_t r = 0; r < j - l; ++r) {
            binom = binom * static_cast<LD>(j - r) / static_cast<LD>(r + 1);
          }
          LD power = 1.0L;
          for (std::size_t r = 0; r < j - l; ++r) power *= shift;
          s += inv[k][j] * binom * power;
        }
        a[at++] = static_cast<double>(s);
      }
    }
  }
  return t;
}

// c = A M for one offset's lower triangle; returns sum of c_k^2 (ascending
// k), and the coefficients in `c` when not null.
double Project(const double* a, const double* moments, std::size_t terms,
               double* c) {
  double norm = 0.0;
  std::size_t at = 0;
  for (std::size_t k = 0; k < terms; ++k) {
    double s = 0.0;
    for (std::size_t l = 0; l <= k; ++l) s = s + a[at++] * moments[l];
    if (c != nullptr) c[k] = s;
    norm = norm + s * s;
  }
  return norm;
}

// The polynomial sum of c_k phi_k in powers of t (phi_k = row k of A):
// poly[l] = sum over k >= l of c_k A[k][l], ascending k.
void PolynomialOf(const double* a, const double* c, std::size_t terms,
                  double* poly) {
  for (std::size_t l = 0; l < terms; ++l) poly[l] = 0.0;
  std::size_t at = 0;
  for (std::size_t k = 0; k < terms; ++k) {
    for (std::size_t l = 0; l <= k; ++l) {
      poly[l] = poly[l] + c[k] * a[at++];
    }
  }
}

// The frame of the segments that start in one block.
struct Frame {
  std::int64_t Block = -1;  // b; -1: none
  double Origin = 0.0;
  double Slope = 0.0;  // taken off every step (orders 2 and up), 20 bits
  std::array<double, kMaxTerms> Fit{};  // the fitted polynomial in t
  std::vector<double> Y;                // cumulative sums, Points
  std::size_t Filled = 0;               // Y[0 .. Filled) are set
  // Suffix sums over block b, [l * n + o] for l < Terms (z t^l) and
  // l = Terms (z^2).
  std::vector<double> Suf;
  std::array<double, kMaxTerms + 1> Pre{};  // over i = n .. PreEnd - 1
  std::size_t PreEnd = 0;
};

// One length's measures and block sums over the last Capacity starts.
struct LengthState {
  LengthTables Tables;
  Frame Current;            // the frame of the last start measured
  std::vector<double> F2;   // per start slot
  std::vector<double> Pre;  // per start slot, Width values
  std::vector<double> Suf;
  std::int64_t Hi = 0;    // the next start to measure
  std::int64_t From = 0;  // the first start measured since the last reset
};

class SegmentOnceKernel final : public WindowKernel {
 public:
  SegmentOnceKernel(const RunConstants& run, bool keep_fq, ScaleTick tick)
      : run_(run), work_(run) {
    if (!keep_fq) work_.Fq.clear();
    work_.Tick = std::move(tick);
    const std::size_t moments = run.QGrid.size();
    width_ = moments + 2;
    products_.resize(moments);
    for (std::size_t j = 0; j < moments; ++j) {
      const double twice = 2.0 * run.QGrid[j];
      const bool whole =
          twice == std::nearbyint(twice) && std::fabs(twice) <= kMostProducts;
      products_[j] = whole ? static_cast<int>(twice) : kNoProduct;
      if (whole) most_ = std::max(most_, std::abs(products_[j]));
    }
  }

  SpectrumSummary Analyse(std::span<const double> values) override {
    return Delegate(values);
  }
  SpectrumSummary AnalyseAt(std::span<const double> values,
                            const WindowPlace& place) override {
    const std::int64_t needed =
        std::min<std::int64_t>(place.First, run_.MaxScale - 1);
    if (place.Raw.size() !=
            static_cast<std::size_t>(run_.Params.Lrec) + place.Before ||
        static_cast<std::int64_t>(place.Before) < needed) {
      return Delegate(values);
    }
    return Own(values, place);
  }
  const WindowQuality& Quality() const override { return work_.Quality; }
  void CopySpectrum(WindowSpectrum& out) const override {
    out.HurstQ.assign(work_.HurstQ.begin(), work_.HurstQ.end());
    out.TauQ.assign(work_.TauQ.begin(), work_.TauQ.end());
    out.AlfaGrid.assign(work_.AlfaGrid.begin(), work_.AlfaGrid.end());
    out.FAlfaGrid.assign(work_.FAlfaGrid.begin(), work_.FAlfaGrid.end());
  }
  std::span<const double> Fq() const override { return work_.Fq; }

 private:
  static constexpr int kNoProduct = std::numeric_limits<int>::min();

  SpectrumSummary Delegate(std::span<const double> values) {
    work_.ColumnsLogged = false;
    work_.Reuse.Enter(nullptr);
    return AnalyseWindowVector(run_, work_, values);
  }

  void Build() {
    const std::int32_t lrec = run_.Params.Lrec;
    capacity_ = std::bit_ceil(static_cast<std::size_t>(lrec));
    lengths_.resize(work_.ColumnScale.size());
    for (std::size_t c = 0; c < lengths_.size(); ++c) {
      const std::int32_t n =
          run_.ScaleLen[static_cast<std::size_t>(work_.ColumnScale[c])];
      LengthState& s = lengths_[c];
      s.Tables = BuildTables(n, lrec / n, run_.Params.TrendOrder);
      s.Current.Y.resize(s.Tables.Points);
      s.Current.Suf.resize((s.Tables.Terms + 1) * static_cast<std::size_t>(n));
      s.F2.resize(capacity_);
      s.Pre.resize(capacity_ * width_);
      s.Suf.resize(capacity_ * width_);
    }
    segment_.resize(static_cast<std::size_t>(run_.MaxScale));
    held_.resize(capacity_);
    built_ = true;
  }

  double Sample(std::int64_t position) const {
    return raw_[static_cast<std::size_t>(position - raw_first_)] * unit_;
  }

  // Fills the frame's cumulative sums up to point `last` (inclusive).
  void FillFrame(const LengthTables& t, Frame& f, std::size_t last) const {
    const std::int64_t first = f.Block * t.N;
    for (std::size_t i = f.Filled; i <= last; ++i) {
      const double step =
          (Sample(first + static_cast<std::int64_t>(i)) - f.Origin) -
          f.Slope * static_cast<double>(i);
      f.Y[i] = i == 0 ? step : f.Y[i - 1] + step;
    }
    f.Filled = std::max(f.Filled, last + 1);
  }

  double Residual(const LengthTables& t, const Frame& f, std::size_t i) const {
    double fit = 0.0;
    for (std::size_t l = 0; l < t.Terms; ++l) {
      fit = fit + f.Fit[l] * t.TauPow[l * t.Points + i];
    }
    return f.Y[i] - fit;
  }

  // With orders 2 and up, a line taken off the samples is a parabola
  // taken off their cumulative sum, which the fit removes: the slope from
  // the first to the last of n samples, cut to 20 significant bits so that
  // its product with any point index (< 2^12) is exact. The steps then
  // stay of the size of the data's variation, not of its trend, and so do
  // their rounding errors.
  double SlopeOf(double rise, std::int32_t n) const {
    if (run_.Params.TrendOrder < 2 || !std::isfinite(rise) || rise == 0.0) {
      return 0.0;
    }
    const double slope = rise / static_cast<double>(n - 1);
    const int exponent = std::ilogb(slope) - 20;
    return std::ldexp(std::nearbyint(std::ldexp(slope, -exponent)), exponent);
  }

  void OpenFrame(const LengthTables& t, Frame& f, std::int64_t block) const {
    const auto n = static_cast<std::size_t>(t.N);
    f.Block = block;
    f.Origin = Sample(block * t.N);
    f.Slope = SlopeOf(Sample(block * t.N + t.N - 1) - f.Origin, t.N);
    f.Filled = 0;
    FillFrame(t, f, n - 1);
    std::array<double, kMaxTerms> moments{};
    for (std::size_t l = 0; l < t.Terms; ++l) {
      double s = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        s = s + f.Y[i] * t.TauPow[l * t.Points + i];
      }
      moments[l] = s;
    }
    std::array<double, kMaxTerms> c{};
    Project(t.Coef.data(), moments.data(), t.Terms, c.data());
    PolynomialOf(t.Coef.data(), c.data(), t.Terms, f.Fit.data());
    std::array<double, kMaxTerms + 1> acc{};
    for (std::size_t o = n; o-- > 0;) {
      const double z = Residual(t, f, o);
      for (std::size_t l = 0; l < t.Terms; ++l) {
        acc[l] = acc[l] + z * t.TauPow[l * t.Points + o];
        f.Suf[l * n + o] = acc[l];
      }
      acc[t.Terms] = acc[t.Terms] + z * z;
      f.Suf[t.Terms * n + o] = acc[t.Terms];
    }
    f.Pre.fill(0.0);
    f.PreEnd = n;
  }

  // The segment's F^2 detrended on its own: origin at its first sample,
  // the least-squares fit of its cumulative sum, one refinement, the
  // squared residuals summed in ascending order.
  double Explicit(const LengthTables& t, std::int64_t start) {
    const auto n = static_cast<std::size_t>(t.N);
    double* r = segment_.data();
    const double origin = Sample(start);
    const double slope =
        SlopeOf(Sample(start + static_cast<std::int64_t>(n) - 1) - origin, t.N);
    double y = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      y = y + ((Sample(start + static_cast<std::int64_t>(i)) - origin) -
               slope * static_cast<double>(i));
      r[i] = y;
    }
    for (int pass = 0; pass < 2; ++pass) {
      std::array<double, kMaxTerms> moments{};
      for (std::size_t l = 0; l < t.Terms; ++l) {
        double s = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
          s = s + r[i] * t.TauPow[l * t.Points + i];
        }
        moments[l] = s;
      }
      std::array<double, kMaxTerms> c{};
      std::array<double, kMaxTerms> poly{};
      Project(t.Coef.data(), moments.data(), t.Terms, c.data());
      PolynomialOf(t.Coef.data(), c.data(), t.Terms, poly.data());
      for (std::size_t i = 0; i < n; ++i) {
        double fit = 0.0;
        for (std::size_t l = 0; l < t.Terms; ++l) {
          fit = fit + poly[l] * t.TauPow[l * t.Points + i];
        }
        r[i] = r[i] - fit;
      }
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum = sum + r[i] * r[i];
    return sum / static_cast<double>(n);
  }

  // F^2 of the segment of length t.N at series place `start`.
  double Measure(LengthState& s, std::int64_t start) {
    const LengthTables& t = s.Tables;
    Frame& f = s.Current;
    const auto n = static_cast<std::size_t>(t.N);
    // All samples but the first equal: the cumulative sum is a straight
    // line and F^2 is 0, which no difference of sums gives.
    if (held_[Slot(start + t.N - 1)] >= t.N - 1) return 0.0;
    const std::int64_t block = start / t.N;
    if (f.Block != block) OpenFrame(t, f, block);
    const auto o = static_cast<std::size_t>(start - block * t.N);
    if (o > 0) FillFrame(t, f, n + o - 1);
    for (std::size_t i = f.PreEnd; i < n + o; ++i) {
      const double z = Residual(t, f, i);
      for (std::size_t l = 0; l < t.Terms; ++l) {
        f.Pre[l] = f.Pre[l] + z * t.TauPow[l * t.Points + i];
      }
      f.Pre[t.Terms] = f.Pre[t.Terms] + z * z;
    }
    f.PreEnd = std::max(f.PreEnd, n + o);
    std::array<double, kMaxTerms> moments{};
    for (std::size_t l = 0; l < t.Terms; ++l) {
      moments[l] = f.Suf[l * n + o] + f.Pre[l];
    }
    const double squares = f.Suf[t.Terms * n + o] + f.Pre[t.Terms];
    const double fitted = Project(t.Coef.data() + t.CoefPerOffset * o,
                                  moments.data(), t.Terms, nullptr);
    const double residual = squares - fitted;
    if (!(residual > 0.0) || !(squares <= kSegmentOnceCondition * residual)) {
      return Explicit(t, start);
    }
    return residual / static_cast<double>(n);
  }

  // The terms of one segment: F^q per order (ln F at q = 0), whether it
  // counts, and its F^2 for the smallest (0 where it does not count).
  void TermsOf(double f2, double* out) const {
    const std::size_t moments = run_.QGrid.size();
    const bool counted = f2 > 0.0;
    if (!counted) {
      std::fill_n(out, width_, 0.0);
      return;
    }
    std::array<double, kMostProducts + 1> up{};
    std::array<double, kMostProducts + 1> down{};
    if (most_ > 0) {
      const double u = std::sqrt(std::sqrt(f2));
      up[0] = 1.0;
      down[0] = 1.0;
      up[1] = u;
      down[1] = 1.0 / u;
      for (int k = 2; k <= most_; ++k) {
        up[static_cast<std::size_t>(k)] =
            up[static_cast<std::size_t>(k - 1)] * u;
        down[static_cast<std::size_t>(k)] =
            down[static_cast<std::size_t>(k - 1)] * down[1];
      }
    }
    for (std::size_t j = 0; j < moments; ++j) {
      const double q = run_.QGrid[j];
      const int e = products_[j];
      if (q == 0.0) {
        out[j] = 0.5 * numerics::Log(f2);
      } else if (e == kNoProduct) {
        out[j] = numerics::Pow(f2, 0.5 * q);
      } else {
        out[j] = e > 0 ? up[static_cast<std::size_t>(e)]
                       : down[static_cast<std::size_t>(-e)];
      }
    }
    out[moments] = 1.0;
    out[moments + 1] = f2;
  }

  std::size_t Slot(std::int64_t start) const {
    return static_cast<std::size_t>(start) & (capacity_ - 1);
  }

  // Measures the start `start` and updates its class's block sums.
  void Advance(LengthState& s, std::int64_t start) {
    const std::int64_t n = s.Tables.N;
    const std::int64_t m = s.Tables.M;
    const std::size_t at = Slot(start);
    const double f2 = Measure(s, start);
    s.F2[at] = f2;
    double* pre = s.Pre.data() + at * width_;
    double* suf = s.Suf.data() + at * width_;
    TermsOf(f2, suf);
    const std::size_t least = width_ - 1;
    const std::int64_t member = start / n % m;
    if (member == 0 || start - n < s.From) {
      std::copy_n(suf, width_, pre);
    } else {
      const double* before = s.Pre.data() + Slot(start - n) * width_;
      for (std::size_t j = 0; j < least; ++j) pre[j] = before[j] + suf[j];
      pre[least] = std::min(before[least], suf[least]);
    }
    if (member == m - 1) {
      // The block of the class is complete: its suffix sums, descending.
      const std::int64_t block_start = std::max(start - member * n, s.From);
      for (std::int64_t p = start - n; p >= block_start; p -= n) {
        double* here = s.Suf.data() + Slot(p) * width_;
        const double* after = s.Suf.data() + Slot(p + n) * width_;
        for (std::size_t j = 0; j < least; ++j) here[j] = here[j] + after[j];
        here[least] = std::min(here[least], after[least]);
      }
    }
  }

  // The sums over the window's m segments from `first` on.
  void CutSums(const LengthState& s, std::int64_t first, double* out) const {
    const std::int64_t n = s.Tables.N;
    const std::int64_t m = s.Tables.M;
    const std::int64_t last = first + (m - 1) * n;
    const double* pre = s.Pre.data() + Slot(last) * width_;
    if (first / n % m == 0) {
      std::copy_n(pre, width_, out);
      return;
    }
    const double* suf = s.Suf.data() + Slot(first) * width_;
    const std::size_t least = width_ - 1;
    for (std::size_t j = 0; j < least; ++j) out[j] = suf[j] + pre[j];
    out[least] = std::min(suf[least], pre[least]);
  }

  std::int64_t AtFloor(const LengthState& s, std::int64_t first,
                       const SegmentFloors& floors) const {
    std::int64_t count = 0;
    for (std::int64_t v = 0; v < s.Tables.M; ++v) {
      const double f = std::sqrt(s.F2[Slot(first + v * s.Tables.N)]);
      count += AtRoundingFloor(f, floors) ? 1 : 0;
    }
    return count;
  }

  SpectrumSummary Own(std::span<const double> values,
                      const WindowPlace& place) {
    const ScaledWindow scaled =
        ScaleForPowerSums(run_, values, work_.Scaled, work_.Magnitude);
    if (!work_.Magnitude.AllFinite) return Delegate(values);
    if (!built_) Build();
    const std::int64_t first = place.First;
    const bool fresh = !placed_ || place.Stream != stream_ ||
                       scaled.Scale != scale_ || first < last_first_;
    placed_ = true;
    stream_ = place.Stream;
    scale_ = scaled.Scale;
    last_first_ = first;
    unit_ = std::ldexp(1.0, scaled.Scale);
    raw_ = place.Raw;
    raw_first_ = first - static_cast<std::int64_t>(place.Before);
    // The length of the run of equal samples ending at each place, counted
    // from the window's first sample at least (a segment never starts
    // before it), capped at the longest segment.
    const std::int64_t window_end = first + run_.Params.Lrec;
    if (fresh || held_hi_ < first) held_hi_ = first;
    for (; held_hi_ < window_end; ++held_hi_) {
      const std::int64_t p = held_hi_;
      const bool same = p > first && Sample(p) == Sample(p - 1);
      const std::int32_t before = same ? held_[Slot(p - 1)] : 0;
      held_[Slot(p)] = std::min(before + 1, run_.MaxScale);
    }

    const std::int32_t lrec = run_.Params.Lrec;
    const bool both = run_.Params.Method.Segments == SegmentCut::kBoth;
    const std::size_t moments = work_.Moments;
    const SegmentFloors floors = FloorsOf(run_, work_.Magnitude);
    work_.Counts = SegmentCounts{};
    work_.Counts.LongestFlatRun = work_.Magnitude.LongestFlatRun;
    work_.Counts.StuckSamples = work_.Magnitude.StuckSamples;
    work_.EmptyFittedScale = false;
    std::vector<double>& sums = cut_;
    sums.resize(2 * width_);
    const std::size_t columns = lengths_.size();
    const std::size_t scales = run_.LogScale.size();
    // The fitted columns go to the tail as log10 F directly, unless F_q(s)
    // is kept or the window was rescaled.
    const bool logged = work_.Fq.empty() && scaled.Scale == 0;
    work_.ColumnsLogged = logged;
    work_.LoggedDegenerate = false;
    const auto first_fitted =
        static_cast<std::size_t>(work_.ColumnOfScale[run_.FitBegin]);
    const auto last_fitted =
        static_cast<std::size_t>(work_.ColumnOfScale[run_.FitEnd - 1]);
    for (std::size_t c = 0; c < columns; ++c) {
      LengthState& s = lengths_[c];
      const std::int64_t n = s.Tables.N;
      const std::int64_t m = s.Tables.M;
      if (fresh || first > s.Hi) {
        s.Hi = first;
        s.From = first;
        s.Current.Block = -1;
      }
      const std::int64_t target = first + lrec - n + 1;
      for (; s.Hi < target; ++s.Hi) Advance(s, s.Hi);

      const std::int64_t tail = first + lrec - m * n;
      double* total = sums.data();
      CutSums(s, first, total);
      if (both) {
        double* end = sums.data() + width_;
        CutSums(s, tail, end);
        for (std::size_t j = 0; j + 1 < width_; ++j) {
          total[j] = total[j] + end[j];
        }
        total[width_ - 1] = std::min(total[width_ - 1], end[width_ - 1]);
      }
      const std::int64_t segment_count = both ? 2 * m : m;
      const auto counted = static_cast<std::int64_t>(total[moments]);
      std::int64_t at_floor = 0;
      if (AtRoundingFloor(std::sqrt(total[moments + 1]), floors)) {
        at_floor =
            AtFloor(s, first, floors) + (both ? AtFloor(s, tail, floors) : 0);
      }
      const std::int32_t first_scale = work_.ColumnScale[c];
      const std::int32_t next_scale = c + 1 < columns
                                          ? work_.ColumnScale[c + 1]
                                          : static_cast<std::int32_t>(scales);
      const std::int64_t shared = next_scale - first_scale;
      work_.Counts.Total += shared * segment_count;
      work_.Counts.Zero += shared * (segment_count - counted);
      work_.Counts.Floor += shared * at_floor;
      if (counted == 0 &&
          first_scale < static_cast<std::int64_t>(run_.FitEnd) &&
          next_scale > static_cast<std::int64_t>(run_.FitBegin)) {
        work_.EmptyFittedScale = true;
      }
      double* column = work_.Columns.data() + c * moments;
      const auto divisor = static_cast<double>(segment_count);
      for (std::size_t j = 0; j < moments; ++j) column[j] = total[j] / divisor;
      const std::span<double> out(column, moments);
      const bool fitted = c >= first_fitted && c <= last_fitted;
      if (logged) {
        // log10 F_q = log10(sum / g) / q: one logarithm instead of a power
        // and a logarithm. F_q would not be positive where the mean is not
        // positive (q > 0) or infinite (q < 0).
        for (std::size_t j = 0; j < moments && fitted; ++j) {
          const double q = run_.QGrid[j];
          if (j != work_.ZeroOrder && ((q > 0.0 && !(column[j] > 0.0)) ||
                                       (q < 0.0 && !(column[j] < kInfinity)))) {
            work_.LoggedDegenerate = true;
          }
        }
      } else {
        numerics::PowElementwise(out, work_.InverseQ, out);
      }
      if (work_.ZeroOrder < moments) {
        column[work_.ZeroOrder] =
            counted > 0 ? numerics::Exp(total[work_.ZeroOrder] /
                                        static_cast<double>(counted))
                        : 0.0;
        if (logged && fitted && !(column[work_.ZeroOrder] > 0.0)) {
          work_.LoggedDegenerate = true;
        }
      }

      if (work_.Tick) work_.Tick(lrec);
    }
    if (scaled.Scale != 0) {
      for (double& f : work_.Columns) f = std::ldexp(f, -scaled.Scale);
    }
    if (logged) {
      // The fitted columns lie side by side: one pass of logarithms.
      const std::span<double> fitted_columns(
          work_.Columns.data() + first_fitted * moments,
          (last_fitted - first_fitted + 1) * moments);
      numerics::Log10Elementwise(fitted_columns, fitted_columns);
      for (std::size_t c = first_fitted; c <= last_fitted; ++c) {
        double* column = work_.Columns.data() + c * moments;
        for (std::size_t j = 0; j < moments; ++j) {
          if (j != work_.ZeroOrder) column[j] = column[j] * work_.InverseQ[j];
        }
      }
    }
    return SummariseColumns(run_, work_);
  }

  const RunConstants& run_;
  VectorWorkspace work_;
  std::size_t width_ = 0;      // orders, the count, the smallest F^2
  std::vector<int> products_;  // 2q where the power is a product, per order
  int most_ = 0;
  bool built_ = false;
  std::size_t capacity_ = 0;
  std::vector<LengthState> lengths_;
  std::vector<double> segment_;
  std::vector<std::int32_t> held_;  // runs of equal samples, per place slot
  std::int64_t held_hi_ = 0;
  std::vector<double> cut_;
  bool placed_ = false;
  std::uint64_t stream_ = 0;
  int scale_ = 0;
  std::int64_t last_first_ = 0;
  double unit_ = 1.0;
  std::span<const double> raw_;
  std::int64_t raw_first_ = 0;
};

}  // namespace

bool SegmentOnceTakes(const TableParams& params) {
  const MethodOptions& m = params.Method;
  return m.Profile && m.Measure == Fluctuation::kRms && params.IncrFlag == 0 &&
         params.TrendOrder >= 1 && params.TrendOrder <= kSegmentOnceMaxOrder &&
         !(m.RangeFloor > 0.0);
}

long double SegmentOnceDoubles(const TableParams& params) {
  const MethodOptions& method = params.Method;
  const long double orders =
      method.QList.empty() ? (method.QCount < 1 ? 1 : method.QCount)
                           : static_cast<long double>(method.QList.size());
  const long double lengths = method.ScaleCount < 2 ? 2 : method.ScaleCount;
  const long double capacity = 2.0L * params.Lrec;
  const long double max_scale = MaxScaleOf(params);
  // Per length: the ring of measures and of two block sums per start, the
  // frame, the abscissa powers and the offsets' coefficients.
  const long double per_length =
      capacity * (1.0L + 2.0L * (orders + 2.0L)) +
      (2.0L + 2.0L * kMaxTerms + kMaxTerms + 1.0L + 10.0L) * max_scale;
  // The slots' raw samples with the history before them.
  return lengths * per_length + 2.0L * orders + max_scale +
         4.0L * (params.Lrec + max_scale);
}

std::unique_ptr<WindowKernel> MakeSegmentOnceKernel(const RunConstants& run,
                                                    bool keep_fq,
                                                    ScaleTick tick) {
  return std::make_unique<SegmentOnceKernel>(run, keep_fq, std::move(tick));
}

}  // namespace analysis
