#include "numerics/detrend.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>

namespace numerics {

namespace {

// Fit keeps its coefficients on the stack so that it allocates nothing.
constexpr std::int32_t kMaxOrder = 10;

// dot(a, b) over the first n entries, one running total in ascending i.
double Dot(const double* a, const double* b, std::size_t n) {
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += a[i] * b[i];
  return sum;
}

}  // namespace

void LTREND_8(double* values, std::int32_t n) {
  if (n <= 0) return;
  const double count = static_cast<double>(n);

  double sum = 0.0;
  double weighted = 0.0;
  double abscissa = 1.0;
  for (std::int32_t i = 0; i < n; ++i) {
    sum += values[i];
    weighted += abscissa * values[i];
    abscissa += 1.0;
  }

  // The closed-form line, in exactly this order of operations: the result
  // files depend on the rounding of each step.
  const double mean = sum / count;
  const double a = weighted / ((count + 1.0) * count);
  const double d = (a - 0.5 * mean) * count * 12.0 / (count - 1.0);
  const double e = mean - ((count + 1.0) * d) / (2.0 * count);

  abscissa = 1.0;
  for (std::int32_t i = 0; i < n; ++i) {
    values[i] = (values[i] - e) - (d * abscissa) / count;
    abscissa += 1.0;
  }
}

OrthonormalPolynomialBasis::OrthonormalPolynomialBasis(std::int32_t n,
                                                       std::int32_t order) {
  Rebuild(n, order);
}

void OrthonormalPolynomialBasis::Rebuild(std::int32_t n, std::int32_t order) {
  n_ = n;
  order_ = order;
  assert(n >= 0);
  assert(order >= 0 && order <= kMaxOrder);
  // With at most order+1 points the polynomial interpolates.
  basis_.clear();
  if (n <= order + 1) return;

  const auto points = static_cast<std::size_t>(n);
  const auto vectors = static_cast<std::size_t>(order) + 1;
  basis_.assign(vectors * points, 0.0);

  // Centred, scaled index x in [-1, 1] (point i = 1..n counted from 1 maps
  // to (2i - n - 1)/(n - 1)): on it the polynomials stay of order one in
  // size, unlike powers of the raw index. Formed where needed, so the basis
  // is the only storage obtained.
  const double half_span = 0.5 * static_cast<double>(n - 1);
  auto x = [half_span](std::size_t i) {
    return (static_cast<double>(i) - half_span) / half_span;
  };

  // Monic Gram polynomials by their three-term recurrence
  //   p0 = 1, p1 = x, p(k+1) = x p(k) - beta(k) p(k-1),
  //   beta(k) = k^2 (n^2 - k^2) / ((4k^2 - 1) (n - 1)^2),
  // which are orthogonal over exactly these n points in exact arithmetic.
  const double nn = static_cast<double>(n);
  for (std::size_t k = 0; k < vectors; ++k) {
    double* p = &basis_[k * points];
    if (k == 0) {
      std::fill(p, p + points, 1.0);
    } else if (k == 1) {
      for (std::size_t i = 0; i < points; ++i) p[i] = x(i);
    } else {
      const double j = static_cast<double>(k - 1);
      const double beta = (j * j * (nn * nn - j * j)) /
                          ((4.0 * j * j - 1.0) * (nn - 1.0) * (nn - 1.0));
      const double* p1 = &basis_[(k - 1) * points];
      const double* p2 = &basis_[(k - 2) * points];
      for (std::size_t i = 0; i < points; ++i) {
        p[i] = x(i) * p1[i] - beta * p2[i];
      }
    }
  }

  // The recurrence leaves rounding-sized components along the earlier
  // polynomials; modified Gram-Schmidt run twice ("twice is enough")
  // removes them, so the basis is orthonormal to rounding and a fit through
  // it is the least-squares projection. The earlier vectors are already
  // normalised when vector k is reduced against them.
  for (std::size_t k = 0; k < vectors; ++k) {
    double* q = &basis_[k * points];
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t j = 0; j < k; ++j) {
        const double* qj = &basis_[j * points];
        const double r = Dot(qj, q, points);
        for (std::size_t i = 0; i < points; ++i) q[i] -= r * qj[i];
      }
    }
    const double norm = std::sqrt(Dot(q, q, points));
    for (std::size_t i = 0; i < points; ++i) q[i] /= norm;
  }
}

void OrthonormalPolynomialBasis::Fit(std::span<const double> values,
                                     std::span<double> fit) const {
  assert(values.size() >= static_cast<std::size_t>(n_));
  assert(fit.size() >= static_cast<std::size_t>(n_));
  const auto points = static_cast<std::size_t>(n_);
  if (basis_.empty()) {
    std::copy_n(values.begin(), points, fit.begin());
    return;
  }

  const auto vectors = static_cast<std::size_t>(order_) + 1;
  std::array<double, kMaxOrder + 1> coefficient{};
  for (std::size_t k = 0; k < vectors; ++k) {
    coefficient[k] = Dot(&basis_[k * points], values.data(), points);
  }

  // Vector by vector over contiguous storage; each fit(i) still receives
  // its terms in ascending k.
  const double* q0 = basis_.data();
  for (std::size_t i = 0; i < points; ++i) fit[i] = coefficient[0] * q0[i];
  for (std::size_t k = 1; k < vectors; ++k) {
    const double* q = &basis_[k * points];
    for (std::size_t i = 0; i < points; ++i) fit[i] += coefficient[k] * q[i];
  }
}

}  // namespace numerics
