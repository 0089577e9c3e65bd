// Least-squares detrending of one segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace numerics {

// Removes the least-squares straight line a + b*i (i = 1..n) from
// values[0..n-1] in place, by the closed form
//   D = (T/((N+1)N) - 0.5 S/N) * N * 12 / (N-1),  E = S/N - (N+1)D/(2N),
//   y(i) = (y(i) - E) - D*i/N
// with S = sum y(i), T = sum i*y(i) as running totals in ascending i.
// n <= 0 leaves the values untouched; n = 1 makes the value NaN (0/0).
void LTREND_8(double* values, std::int32_t n);

// An orthonormal basis of the polynomials of degree <= order over the
// points i = 1..n: the discrete orthogonal (Gram) polynomials of the
// segment's own points, orthonormalised twice, so that fits through it are
// the least-squares polynomial fit accurate to rounding for every n and
// order 1..10. Immutable once built: may be shared between threads.
class OrthonormalPolynomialBasis {
 public:
  // Builds the basis; allocates (order+1)*n doubles. When n <= order + 1
  // the fit interpolates, so no basis is stored.
  OrthonormalPolynomialBasis(std::int32_t n, std::int32_t order);
  OrthonormalPolynomialBasis() = default;  // no points: rebuild before use

  // Builds the basis for n points and `order` in place, the same values as
  // the constructor; reuses the storage, so once it has held the largest n
  // it allocates nothing.
  void Rebuild(std::int32_t n, std::int32_t order);

  std::int32_t Points() const { return n_; }
  std::int32_t Order() const { return order_; }

  // fit[0..n-1] = least-squares polynomial of `values[0..n-1]`; for
  // n <= order + 1, fit = values. Allocates nothing.
  void Fit(std::span<const double> values, std::span<double> fit) const;

  // True when n <= order + 1: the fit is the data themselves.
  bool Interpolates() const { return basis_.empty(); }
  // Basis vector k (0..order) at the n points; not for an interpolating
  // basis.
  std::span<const double> Vector(std::int32_t k) const {
    const auto n = static_cast<std::size_t>(n_);
    return {basis_.data() + static_cast<std::size_t>(k) * n, n};
  }

 private:
  std::int32_t n_ = 0;
  std::int32_t order_ = 0;
  std::vector<double> basis_;  // vector k at basis_[k*n .. k*n+n-1]
};

}  // namespace numerics
