// Surrogate sequences for a null level: shuffled, phase-randomised and
// IAAFT copies of a sequence. Each surrogate is a fixed function of the
// source values and one 64-bit key, and the key a fixed function of the run's
// seed and the surrogate's place (series, window, index), so a surrogate
// never depends on which thread makes it or in what order.
//
// What each kind keeps and destroys:
//   kShuffle  keeps the values exactly (a permutation: the distribution);
//             destroys every temporal structure, linear correlations
//             included. The null hypothesis: independent, identically
//             distributed values.
//   kPhase    keeps the Fourier amplitude spectrum (hence the periodogram
//             and the circular autocorrelation) to rounding, and the mean;
//             destroys the distribution (the result tends to a Gaussian)
//             and every nonlinear structure carried by the phases.
//             J. Theiler, S. Eubank, A. Longtin, B. Galdrikian, J. D.
//             Farmer, Physica D 58 (1992) 77. Null hypothesis: a linear
//             Gaussian process.
//   kIaaft    keeps the values exactly (a permutation of the source) and
//             the amplitude spectrum approximately; destroys the nonlinear
//             structure. T. Schreiber, A. Schmitz, Phys. Rev. Lett. 77
//             (1996) 635; Physica D 142 (2000) 346. Null hypothesis: a
//             linear Gaussian process seen through a static monotone
//             distortion.
// Both Fourier kinds treat the sequence as periodic: a jump between its
// last and first values leaks into every frequency. For a walk-like
// (integrated) signal, make surrogates of its increments and integrate
// them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace numerics {

enum class SurrogateKind {
  kShuffle,  // random permutation (Fisher-Yates)
  kPhase,    // random Fourier phases, amplitudes kept
  kIaaft,    // iterative amplitude-adjusted Fourier transform
};

// One step of SplitMix64 (G. Steele, D. Lea, C. Flood, OOPSLA 2014; the
// constants of Vigna's splitmix64.c): advances `state` by 0x9E3779B97F4A7C15
// and returns the new state passed through a bijective 64-bit mixer.
//   state = 0: returns 0xE220A8397B1DCDAF, then 0x6E789E6AA1B965F4
std::uint64_t SplitMix64(std::uint64_t& state);

// The key of surrogate `index` (0-based) of window `window` of series
// `series` under the run's `seed`: h = M(seed), then h = M(h ^ series),
// h = M(h ^ window), h = M(h ^ index), where M(x) is the SplitMix64 output
// for state x. Each step is a bijection, so changing any one input while the
// others stay always changes the key; keys of unrelated places collide with
// probability 2^-64. Pure: any thread may call it.
std::uint64_t SurrogateKey(std::uint64_t seed, std::uint64_t series,
                           std::uint64_t window, std::uint64_t index);

// The random numbers of one surrogate: xoshiro256** (D. Blackman,
// S. Vigna, ACM Trans. Math. Softw. 47 (2021) 36), its 256-bit state filled
// by four SplitMix64 outputs from the key, which can never all be zero.
// Bounded integers and doubles are our own, so that the results do not
// depend on a standard library's distributions. Holds state: one per
// surrogate, never shared between threads. Allocates nothing.
class KeyedRandom {
 public:
  explicit KeyedRandom(std::uint64_t key);

  // The next raw 64-bit output.
  std::uint64_t Next();

  // A uniform integer in [0, bound), bound >= 1, by D. Lemire's
  // multiply-and-reject method (ACM Trans. Model. Comput. Simul. 29 (2019)
  // 3): the high half of the 128-bit product Next() * bound, drawing again
  // while the low half is below 2^64 mod bound. Exact: no modulo bias.
  std::uint64_t Below(std::uint64_t bound);

  // A uniform double in [0, 1): the top 53 bits of Next() times 2^-53.
  double Uniform();

 private:
  std::uint64_t state_[4];
};

namespace detail {

// A value's order key (see RankOrder) and its place.
struct RankEntry {
  std::uint64_t Key;
  std::uint64_t Place;
};

// Sets `ranks` to the places 0..n-1 of `values`, with their keys, in
// ascending order of (key, place). The key orders the doubles totally and
// agrees with <: -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN, so the
// order is unique. `ranks` and `scratch` hold n entries each and may trade
// their storage. Allocates nothing; uses up to 48 KiB of stack for its
// counts. IAAFT's rank step; declared here for its test.
void RankOrder(std::span<const double> values, std::vector<RankEntry>& ranks,
               std::vector<RankEntry>& scratch);

}  // namespace detail

// IAAFT runs until a step leaves the ranks unchanged, the fixed point of
// Schreiber and Schmitz's loop, and stops after this many amplitude-and-rank
// steps at most. On scipy's five-minute ECG excerpt (increments of windows
// of 3600 samples) 212 of 600 surrogates needed more than 100 steps and
// every one of them settled within 300; the cap only ends a loop that
// cycles, and such a surrogate is left out of the null levels (see
// analysis/window_null.h).
inline constexpr int kDefaultIaaftIterations = 1000;

// Makes surrogates of sequences of one length n by one method. Owns its
// FFTW plans and its buffers, all made in the constructor; Make allocates
// nothing. Holds working state, so it is not for sharing: one per thread.
// It may be moved. It keeps what it derives from the last source (its
// spectrum, its sorted values), so that surrogates of one source in a row
// skip that work; no result depends on it. Constructing and destroying one
// takes a process-wide lock around FFTW's planner, which is not
// thread-safe; other code in the process that plans FFTW transforms
// concurrently must serialise itself against that (or call
// fftw_make_planner_thread_safe).
//
// Bytes. Every operation runs in a fixed order, so the same source and key
// give the same bytes whatever the thread and whatever was made before. The
// plans are made with FFTW_ESTIMATE (chosen by a cost model, never by
// timing) and without FFTW's SIMD codelets (FFTW_NO_SIMD), so they do not
// depend on the processor's vector extensions either; the bytes do depend
// on the FFTW build and on libm (cos, sin, sqrt, hypot). FFTW reuses the
// plans it knows in the process (its wisdom): a plan of the same length
// made elsewhere in the process by timing, or imported wisdom, could change
// ours. This library makes only estimated plans and imports no wisdom.
class SurrogateMaker {
 public:
  // For sequences of n values (n >= 0). `max_iterations` (>= 0) bounds the
  // IAAFT loop and is ignored by the other kinds. Allocates about 3.5n
  // doubles for kPhase and 8.5n for kIaaft, besides FFTW's plans, and
  // nothing for kShuffle. Throws std::bad_alloc when FFTW can allocate no
  // buffer or plan, and std::length_error for a Fourier kind when n exceeds
  // INT_MAX (FFTW's int lengths).
  SurrogateMaker(std::size_t n, SurrogateKind kind,
                 int max_iterations = kDefaultIaaftIterations);
  ~SurrogateMaker();
  SurrogateMaker(SurrogateMaker&&) noexcept;
  SurrogateMaker& operator=(SurrogateMaker&&) noexcept;
  SurrogateMaker(const SurrogateMaker&) = delete;
  SurrogateMaker& operator=(const SurrogateMaker&) = delete;

  std::size_t Size() const { return n_; }
  SurrogateKind Kind() const { return kind_; }

  // Writes the surrogate of `source` for `key` to `out`. Both spans hold
  // Size() values and must not overlap. Allocates nothing. The random
  // numbers come from KeyedRandom(key), drawn in the order given here.
  //
  // kShuffle: Fisher-Yates from the top, for i = n-1 down to 1:
  //   j = Below(i+1), swap out[i] and out[j]. out is a permutation of
  //   source, NaN and infinities included.
  // kPhase: X = the real DFT of source,
  //   X_k = sum_t source[t] e^(-2 pi i k t/n) (t and k from 0). For k = 1 ..
  //   (n-1)/2 in ascending order, X_k becomes |X_k| (cos phi, sin phi) with phi
  //   = 2 pi Uniform(); |X_k| is hypot(Re X_k, Im X_k). X_0 (n times the mean)
  //   stays. For even n the Nyquist coefficient X_(n/2), which must stay real,
  //   takes a random sign (the top bit of one more Next()): the sign is its
  //   phase, and a Gaussian linear process draws it like any other. out is the
  //   inverse transform divided by n. A constant source comes back unchanged
  //   (its other coefficients are rounding noise, not spectrum). A source
  //   holding NaN or an infinity gives all NaN: every value of a phase
  //   surrogate mixes every value of the source.
  // kIaaft: the sorted source values v (ascending, -0 before +0) and the
  //   amplitudes A_k = |X_k| are taken from the source. r starts as the
  //   kShuffle surrogate for the same key. Then each step: S = DFT(r);
  //   S_k becomes S_k A_k / |S_k| for every k = 0..n/2 (A_k itself when
  //   S_k = 0); s = inverse DFT(S), unscaled; r takes v in the rank order
  //   of s (v[j] goes to the place of the j-th smallest s, in the order of
  //   detail::RankOrder, ties by place). The loop stops when a step leaves r
  //   unchanged, or after max_iterations steps. out is the last r: a
  //   permutation of the source values, bit for bit, whose amplitude spectrum
  //   is close to A but not equal to it. A source holding NaN or an infinity
  //   has no spectrum to match: out is the initial shuffle.
  void Make(std::span<const double> source, std::uint64_t key,
            std::span<double> out);

  // IAAFT: the number of amplitude-and-rank steps of the last Make, and
  // whether its last step left the ranks unchanged. 0 and false for the
  // other kinds and before the first Make.
  int LastIterations() const { return last_iterations_; }
  bool LastConverged() const { return last_converged_; }

 private:
  struct Fourier;  // FFTW plans, aligned buffers and per-source data

  void MakeShuffle(std::span<const double> source, std::uint64_t key,
                   std::span<double> out) const;
  void MakePhase(std::span<const double> source, std::uint64_t key,
                 std::span<double> out);
  void MakeIaaft(std::span<const double> source, std::uint64_t key,
                 std::span<double> out);

  std::size_t n_ = 0;
  SurrogateKind kind_ = SurrogateKind::kShuffle;
  int max_iterations_ = 0;
  int last_iterations_ = 0;
  bool last_converged_ = false;
  std::unique_ptr<Fourier> fourier_;  // null for kShuffle
};

}  // namespace numerics
