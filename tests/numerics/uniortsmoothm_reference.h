// The classical Gram-Schmidt smoother that fitted polynomial trends against
// the run-wide power table before OrthonormalPolynomialBasis replaced it.
// Kept in the tests as a slow reference: where the table's rows are well
// conditioned over the points in use it is the least-squares fit, and the
// new basis has to agree with it there.
#pragma once

#include <cstdint>
#include <vector>

namespace numerics::reference {

// fit[0..n-1] = projection of data[0..n-1] onto the m+1 rows of `basis`
// restricted to the first n points, by classical Gram-Schmidt: each inner
// product is taken with the tabulated row itself, not with the partly
// reduced vector. `basis` is stored point after point, m+1 values per point
// (row k of point i at basis[i*(m+1) + k], both counted from 0), and may
// hold more points than n. Reads only the first n points; writes only
// fit[0..n-1]; n <= 0 writes nothing. Allocates its work storage per call.
void UNIORTSMOOTHM(std::int32_t n, std::int32_t m, const double* data,
                   const double* basis, double* fit);

// The power table for `max_scale` points and polynomial order `order`:
// t(i) = (i - H)/G for i = 1..max_scale with H = (max_scale+1)*0.5 and
// G = max_scale - 1, row 0 all 1.0, row k = t(i)^k formed by a loop of k-1
// multiplications t*t*...*t from the left. Layout as UNIORTSMOOTHM expects.
std::vector<double> BuildPowerTable(std::int32_t max_scale, std::int32_t order);

}  // namespace numerics::reference
