// Runs a test body once per instruction set of the vector kernels that
// this processor has (AVX-512, AVX2, SSE4 and the portable fallback on an
// AVX-512 machine), so that every dispatch path is checked on one machine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "numerics/exact_elementary.h"
#include "numerics/simd_target.h"

namespace simd_test {

inline void ForEachSimdTarget(const std::function<void()>& body) {
  for (const numerics::SimdTarget& target : numerics::AvailableSimdTargets()) {
    SCOPED_TRACE(std::string(target.Name));
    numerics::RestrictSimdTargets(target.Bit);
    body();
  }
  numerics::RestrictSimdTargets(0);
}

// True when the kernels' vector paths run on the active instruction set
// (one with fused multiply-add); elsewhere every term takes libm.
inline bool KernelsHaveVectorPath() {
  const double base = 3.0;
  const double exponent = 0.5;
  double out = 0.0;
  std::uint8_t kept = 0;
  numerics::detail::PowKernel({&base, 1}, {&exponent, 1}, {&out, 1},
                              {&kept, 1});
  return kept != 0;
}

}  // namespace simd_test
