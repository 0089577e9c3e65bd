// The instruction sets the vector kernels are compiled for, which of them
// this processor runs, and a way to hold the kernels to a lower one (for
// tests that check every instruction set on one machine, and benchmarks
// that measure a lower one).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace numerics {

// One instruction set of Highway's: its bit in Highway's target mask and
// its name ("AVX3" is AVX-512; "EMU128", or "SCALAR" with GCC before 12.3,
// the portable fallback).
struct SimdTarget {
  std::int64_t Bit = 0;
  std::string_view Name;
};

// The instruction sets compiled in that this processor has, best first,
// as restricted by RestrictSimdTargets. Never empty.
std::vector<SimdTarget> AvailableSimdTargets();

// The instruction set the kernels dispatch to now.
SimdTarget ActiveSimdTarget();

// Holds the kernels to `target` (a bit from AvailableSimdTargets), or lifts
// the hold when `target` is 0. Not to be called while kernels run on other
// threads.
void RestrictSimdTargets(std::int64_t target);

// Holds the kernels to the best available instruction set not above the
// one named (case-insensitive, as AvailableSimdTargets names them; "AVX512"
// means "AVX3", and "SCALAR" and "EMU128" both mean the portable fallback).
// Returns false, changing nothing, for a name it does not know.
bool RestrictSimdTargetsTo(std::string_view name);

}  // namespace numerics
