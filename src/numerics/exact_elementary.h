// Elementwise pow and log10 that return, bit for bit, what this platform's
// libm (glibc 2.36 on x86-64 and aarch64, the variants it picks on
// processors with FMA) returns for the same arguments, in a fraction of the
// time of one libm call per element.
//
// Method. Each element is evaluated in vector lanes to well beyond double
// precision, with a proven bound on the error, and rounded. The rounding is
// kept when the approximation lies farther from the nearest rounding
// boundary than that bound plus the worst error of glibc's own evaluation
// before its final rounding: then the exact value, glibc's unrounded value
// and the approximation all round to the same double. For log10, whose
// glibc result is not the correctly rounded one, only the inner natural
// logarithm is found this way and glibc's last few operations are repeated
// as it performs them. Every other element, and every special or extreme
// argument, is computed by the libm call itself; so is every element where
// the platform's libm fails LibmMatchesKernels (libm_check.h). glibc's
// bounds are derived in libm_bounds.h, ours in the .cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace numerics {

// out[i] = std::pow(base[i], exponent[i]) bit for bit, for every input:
// zero, negative, subnormal, infinite and NaN arguments, and powers that
// overflow, underflow or come out subnormal, simply take the libm path.
// The fast path covers positive normal bases with |exponent * ln(base)| <
// 500. All three spans have the same size; out may be the same array as
// base or exponent (not a partial overlap). Allocates nothing. Safe to
// call from any number of threads. Returns how many elements were computed
// by std::pow: about 3% of ordinary arguments, and all special ones.
std::size_t PowElementwise(std::span<const double> base,
                           std::span<const double> exponent,
                           std::span<double> out);

// out[i] = std::log10(in[i]) bit for bit, for every input. The fast path
// covers positive normal arguments; zero, negative, subnormal, infinite and
// NaN ones take the libm path. in and out have the same size and may be the
// same array (not a partial overlap). Allocates nothing. Safe to call from
// any number of threads. Returns how many elements were computed by
// std::log10: about 2% of ordinary arguments, and all special ones.
std::size_t Log10Elementwise(std::span<const double> in, std::span<double> out);

namespace detail {

// The vector paths alone, for the libm check and its tests: out[i] is the
// kernel's result and kept[i] = 1 where the kernel decides the element
// itself; kept[i] = 0 (out[i] unspecified) where it would call libm, which
// these never do. Return the number of elements not kept: all of them on
// processors without fused multiply-add.
std::size_t PowKernel(std::span<const double> base,
                      std::span<const double> exponent, std::span<double> out,
                      std::span<std::uint8_t> kept);
std::size_t Log10Kernel(std::span<const double> in, std::span<double> out,
                        std::span<std::uint8_t> kept);

// The approximations behind the fast paths, exposed for their accuracy
// tests. Each writes hi[i] + lo[i] with |lo[i]| <= ulp(hi[i]) / 2 and
// returns true, or returns false (writing nothing) on processors without
// fused multiply-add, where the fast paths do not exist.
//
// Natural logarithm of positive normal x (other x give unspecified
// values): within 2^-64.5 absolute, and within 2^-60 |log x| for x in
// [1 - 2^-4, 1 + 0x1.09p-4).
bool NaturalLogApproximation(std::span<const double> x, std::span<double> hi,
                             std::span<double> lo);

// base^exponent for positive normal base and |exponent * ln(base)| < 500
// (elsewhere unspecified): within a relative 2^-62 + |exponent| 2^-64.5.
bool PowApproximation(std::span<const double> base,
                      std::span<const double> exponent, std::span<double> hi,
                      std::span<double> lo);

}  // namespace detail

}  // namespace numerics
