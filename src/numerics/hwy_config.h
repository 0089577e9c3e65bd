// The instruction sets Highway compiles the vector kernels for. Included by
// every file that includes Highway, before it, so that all of them agree.
//
// - x86-64: AVX-512, AVX2 (with FMA), SSE4 and the portable EMU128 fallback.
//   SSSE3 is left out: a processor that has it but not SSE4.1 (made before
//   2008) runs the fallback, at less build time for everyone else.
// - aarch64: NEON. The kernels keep vectors in structures and arrays
//   (double-double pairs, tiles of running sums), which the sizeless vector
//   types of SVE do not allow; NEON's 128-bit vectors are what today's SVE
//   cores run at full rate too (Neoverse N2 and V2 have 128-bit SVE).
#pragma once

#ifndef HWY_DISABLED_TARGETS
#if defined(__aarch64__)
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#else
#define HWY_DISABLED_TARGETS HWY_SSSE3
#endif
#endif
