#include "numerics/uniortsmoothm_reference.h"

#include <cstddef>

namespace numerics::reference {

void UNIORTSMOOTHM(std::int32_t n, std::int32_t m, const double* data,
                   const double* basis, double* fit) {
  if (n <= 0) return;
  const auto points = static_cast<std::size_t>(n);
  const auto rows = static_cast<std::size_t>(m) + 1;
  auto row = [&](std::size_t k, std::size_t i) { return basis[i * rows + k]; };

  std::vector<double> work(points);
  std::vector<double> norm(rows);
  std::vector<double> coefficient(rows);
  std::vector<double> orthogonal(rows * points);  // vector k at k*points

  for (std::size_t k = 0; k < rows; ++k) {
    for (std::size_t i = 0; i < points; ++i) work[i] = row(k, i);
    for (std::size_t j = 0; j < k; ++j) {
      const double* pj = &orthogonal[j * points];
      double d = 0.0;
      for (std::size_t i = 0; i < points; ++i) d += row(k, i) * pj[i];
      const double g = -(d / norm[j]);
      for (std::size_t i = 0; i < points; ++i) work[i] = work[i] + g * pj[i];
    }
    double squared = 0.0;
    for (std::size_t i = 0; i < points; ++i) squared += work[i] * work[i];
    norm[k] = squared;
    double* pk = &orthogonal[k * points];
    for (std::size_t i = 0; i < points; ++i) pk[i] = work[i];
    double projection = 0.0;
    for (std::size_t i = 0; i < points; ++i) projection += data[i] * pk[i];
    coefficient[k] = projection / norm[k];
  }

  for (std::size_t i = 0; i < points; ++i) {
    double sum = 0.0;
    for (std::size_t k = 0; k < rows; ++k) {
      sum += coefficient[k] * orthogonal[k * points + i];
    }
    fit[i] = sum;
  }
}

std::vector<double> BuildPowerTable(std::int32_t max_scale,
                                    std::int32_t order) {
  const auto points = static_cast<std::size_t>(max_scale);
  const auto rows = static_cast<std::size_t>(order) + 1;
  std::vector<double> t(points);
  const double m = static_cast<double>(max_scale);
  const double h = (m + 1.0) * 0.5;
  const double g = m - 1.0;
  double counter = 1.0;
  for (std::size_t i = 0; i < points; ++i) {
    t[i] = (counter - h) / g;
    counter += 1.0;
  }

  std::vector<double> table(rows * points);
  for (std::size_t k = 0; k < rows; ++k) {
    for (std::size_t i = 0; i < points; ++i) {
      double power = 1.0;
      if (k > 0) {
        power = t[i];
        for (std::size_t e = 1; e < k; ++e) power *= t[i];
      }
      table[i * rows + k] = power;
    }
  }
  return table;
}

}  // namespace numerics::reference
