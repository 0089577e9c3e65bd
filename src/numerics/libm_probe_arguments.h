// The probe arguments of the libm check (libm_check.cpp), found by
// bench/find_probe_arguments.cpp.
#pragma once

#include <array>

#include "numerics/libm_check.h"

namespace numerics::detail {

inline constexpr std::array<PowArgument, 2> kPowProbe = {{
    {0x1.0e0b431ebcbbdp+1, -0x1.5c55c55c55c56p-3},
    {0x1.e58a19f92e08p-9, 0x1.8ecb419ba886p+0},
}};

inline constexpr std::array<double, 2> kPowerSumProbe = {0.25, 3.5};

inline constexpr std::array<double, 2> kLog10Probe = {0x1.67c6021a634e1p+0,
                                                      0x1.29fcb720db74p+0};

}  // namespace numerics::detail
