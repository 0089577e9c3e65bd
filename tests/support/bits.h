// Comparing doubles where the code promises the very same bits.
#pragma once

#include <bit>
#include <cstdint>

namespace test_support {

// The same 64-bit pattern: +0 and -0 differ, a NaN equals only itself.
inline bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace test_support
