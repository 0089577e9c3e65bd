#include "numerics/segment_ranges.h"

#include <cassert>
#include <utility>

// The lane type is wider than the default target's registers; it only
// crosses always-inline helpers, so its calling convention never matters.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace numerics {
namespace {

constexpr std::size_t kLanes = kSegmentLanes;
constexpr std::size_t kMaxVectors = 11;  // order 10

// kLanes doubles side by side. Element-wise IEEE operations, so each lane
// computes exactly what the one-segment routine computes; the compiler maps
// them to the widest vector registers of each target clone.
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));

// Copies up to kLanes segments of n points into `tile`, point-major
// (tile[i*kLanes + lane]); lanes beyond `used` repeat the first segment so
// that every lane computes on real data.
void LoadTile(const double* first, std::size_t n, std::size_t used,
              double* tile) {
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    const double* segment = first + (lane < used ? lane : 0) * n;
    for (std::size_t i = 0; i < n; ++i) tile[i * kLanes + lane] = segment[i];
  }
}

[[gnu::always_inline]] inline Lanes LoadPoint(const double* tile,
                                              std::size_t i) {
  Lanes y;
  __builtin_memcpy(&y, tile + i * kLanes, sizeof(Lanes));
  return y;
}

[[gnu::always_inline]] inline Lanes Broadcast(double value) {
  return Lanes{} + value;
}

// Strict running extremes from the first residual, as the one-segment scan:
// a lane moves only on a strictly greater (smaller) value, so a NaN is never
// taken unless it comes first.
struct Extremes {
  Lanes Largest;
  Lanes Smallest;
  [[gnu::always_inline]] void First(Lanes r) {
    Largest = r;
    Smallest = r;
  }
  [[gnu::always_inline]] void Next(Lanes r) {
    Largest = r > Largest ? r : Largest;
    Smallest = r < Smallest ? r : Smallest;
  }
};

void StoreRanges(const Extremes& x, std::size_t used, double* ranges) {
  const Lanes range = x.Largest - x.Smallest;
  for (std::size_t l = 0; l < used; ++l) ranges[l] = range[l];
}

// One tile of LTREND_8: the same sums and the same closed form per lane.
__attribute__((target_clones("avx512f", "avx2", "default"))) void LineTile(
    const double* tile, std::size_t n, Extremes& out) {
  const double count = static_cast<double>(n);
  Lanes sum = Broadcast(0.0);
  Lanes weighted = Broadcast(0.0);
  double abscissa = 1.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Lanes y = LoadPoint(tile, i);
    sum += y;
    weighted += abscissa * y;
    abscissa += 1.0;
  }
  const Lanes mean = sum / count;
  const Lanes a = weighted / ((count + 1.0) * count);
  const Lanes d = (a - 0.5 * mean) * count * 12.0 / (count - 1.0);
  const Lanes e = mean - ((count + 1.0) * d) / (2.0 * count);
  Extremes x;
  x.First((LoadPoint(tile, 0) - e) - (d * 1.0) / count);
  abscissa = 2.0;
  for (std::size_t i = 1; i < n; ++i) {
    x.Next((LoadPoint(tile, i) - e) - (d * abscissa) / count);
    abscissa += 1.0;
  }
  out = x;
}

// One tile of Fit and the subtraction for a basis of `kVectors` vectors:
// coefficients as running sums over the points, the fit of each point
// summed over the vectors in order. The vector count is a constant so that
// the coefficients stay in registers.
// y(i) minus the fit at point i, the fit summed over the vectors in order.
template <std::size_t kVectors>
[[gnu::always_inline]] inline Lanes Residual(const Lanes* c,
                                             const double* const* q,
                                             const double* tile,
                                             std::size_t i) {
  Lanes fit = c[0] * q[0][i];
  for (std::size_t k = 1; k < kVectors; ++k) fit += c[k] * q[k][i];
  return LoadPoint(tile, i) - fit;
}

template <std::size_t kVectors>
[[gnu::always_inline]] inline void PolynomialTileOf(const double* const* q,
                                                    const double* tile,
                                                    std::size_t n,
                                                    Extremes& out) {
  Lanes c[kVectors];
  for (std::size_t k = 0; k < kVectors; ++k) c[k] = Broadcast(0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const Lanes y = LoadPoint(tile, i);
    for (std::size_t k = 0; k < kVectors; ++k) c[k] += q[k][i] * y;
  }
  Extremes x;
  x.First(Residual<kVectors>(c, q, tile, 0));
  for (std::size_t i = 1; i < n; ++i) {
    x.Next(Residual<kVectors>(c, q, tile, i));
  }
  out = x;
}

template <std::size_t... kCounts>
[[gnu::always_inline]] inline void DispatchTile(
    std::size_t vectors, const double* const* q, const double* tile,
    std::size_t n, Extremes& x, std::index_sequence<kCounts...>) {
  ((vectors == kCounts + 1 ? PolynomialTileOf<kCounts + 1>(q, tile, n, x)
                           : void()),
   ...);
}

__attribute__((target_clones("avx512f", "avx2", "default"))) void
PolynomialTile(const OrthonormalPolynomialBasis& basis, const double* tile,
               std::size_t n, Extremes& out) {
  if (basis.Interpolates()) {
    // The fit is the data: each residual is y - y (0, or NaN for a
    // non-finite value).
    Extremes x;
    x.First(LoadPoint(tile, 0) - LoadPoint(tile, 0));
    for (std::size_t i = 1; i < n; ++i) {
      x.Next(LoadPoint(tile, i) - LoadPoint(tile, i));
    }
    out = x;
    return;
  }
  const auto vectors = static_cast<std::size_t>(basis.Order()) + 1;
  assert(vectors >= 1 && vectors <= kMaxVectors);
  const double* q[kMaxVectors] = {};
  for (std::size_t k = 0; k < vectors; ++k) {
    q[k] = basis.Vector(static_cast<std::int32_t>(k)).data();
  }
  DispatchTile(vectors, q, tile, n, out,
               std::make_index_sequence<kMaxVectors>{});
}

template <typename TileFn>
void ForEachTile(std::span<const double> values, std::size_t n,
                 std::size_t count, std::span<double> ranges,
                 std::span<double> work, TileFn tile_fn) {
  assert(values.size() >= n * count && ranges.size() >= count);
  assert(work.size() >= n * kLanes);
  for (std::size_t v = 0; v < count; v += kLanes) {
    const std::size_t used = count - v < kLanes ? count - v : kLanes;
    LoadTile(values.data() + v * n, n, used, work.data());
    Extremes x{};
    tile_fn(work.data(), x);
    StoreRanges(x, used, ranges.data() + v);
  }
}

}  // namespace

std::size_t SegmentRangesWorkSize(std::int32_t n, std::int32_t /*order*/) {
  return static_cast<std::size_t>(n) * kLanes;
}

void LineDetrendedRanges(std::span<const double> values, std::int32_t n,
                         std::int32_t count, std::span<double> ranges,
                         std::span<double> work) {
  assert(n >= 2);
  const auto points = static_cast<std::size_t>(n);
  ForEachTile(
      values, points, static_cast<std::size_t>(count), ranges, work,
      [points](const double* tile, Extremes& x) { LineTile(tile, points, x); });
}

void PolynomialDetrendedRanges(const OrthonormalPolynomialBasis& basis,
                               std::span<const double> values,
                               std::int32_t count, std::span<double> ranges,
                               std::span<double> work) {
  const auto points = static_cast<std::size_t>(basis.Points());
  ForEachTile(values, points, static_cast<std::size_t>(count), ranges, work,
              [&basis, points](const double* tile, Extremes& x) {
                PolynomialTile(basis, tile, points, x);
              });
}

}  // namespace numerics
