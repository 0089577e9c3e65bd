// Element counts of the analysis' tables, checked before any storage is
// requested.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace analysis::detail {

// The number of doubles in a table of `rows` by `cols`, computed in 64 bits.
// Throws std::length_error when the byte size of such a table could not be
// represented, before anything is allocated.
inline std::size_t TableSize(std::int64_t rows, std::int64_t cols) {
  assert(rows >= 0 && cols >= 0);
  constexpr auto kMaxElements = static_cast<std::int64_t>(
      static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
      sizeof(double));
  if (cols != 0 && rows > kMaxElements / cols) {
    throw std::length_error(
        "Cannot allocate array - overflow on array size calculation.");
  }
  return static_cast<std::size_t>(rows * cols);
}

}  // namespace analysis::detail
