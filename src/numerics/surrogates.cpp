#include "numerics/surrogates.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace numerics {

namespace {

constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15U;
constexpr double kTwoPi = 6.283185307179586476925286766559;

// The SplitMix64 output for state x (the mixer applied to x + gamma).
std::uint64_t Mix(std::uint64_t x) {
  std::uint64_t z = x + kGoldenGamma;
  z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9U;
  z = (z ^ (z >> 27U)) * 0x94D049BB133111EBU;
  return z ^ (z >> 31U);
}

// FFTW's planner keeps process-wide tables and is not thread-safe, so every
// call into it (planning, destroying plans, and, as FFTW's manual asks of
// everything but fftw_execute, fftw_malloc/fftw_free) goes through this one
// lock. This is the module's only shared state, and it exists because the
// library it guards is itself global; the surrogates never read it.
std::mutex& FftwMutex() {
  static std::mutex mutex;
  return mutex;
}

struct FftwFree {
  void operator()(void* memory) const {
    const std::lock_guard<std::mutex> lock(FftwMutex());
    fftw_free(memory);
  }
};

struct FftwPlanDestroy {
  void operator()(fftw_plan plan) const {
    const std::lock_guard<std::mutex> lock(FftwMutex());
    fftw_destroy_plan(plan);
  }
};

template <typename T>
using FftwBuffer = std::unique_ptr<T[], FftwFree>;
using FftwPlan = std::unique_ptr<fftw_plan_s, FftwPlanDestroy>;

template <typename T>
FftwBuffer<T> AllocateFftw(std::size_t count) {
  void* memory = nullptr;
  {
    const std::lock_guard<std::mutex> lock(FftwMutex());
    memory = fftw_malloc(count * sizeof(T));
  }
  if (memory == nullptr) throw std::bad_alloc();
  return FftwBuffer<T>(static_cast<T*>(memory));
}

// A cost model, never timing, picks the plan; FFTW's SIMD codelets are left
// out so that the plan, and with it every rounding, is the same on every
// processor of the architecture.
constexpr unsigned kPlanFlags = FFTW_ESTIMATE | FFTW_NO_SIMD;

// An unsigned key whose order is a total order on doubles consistent with <:
// -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN. Sorting by it gives one
// result whatever the sort algorithm, where < leaves -0 and +0 (and NaN)
// unordered.
std::uint64_t OrderKey(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  constexpr std::uint64_t kSign = std::uint64_t{1} << 63U;
  return (bits & kSign) != 0 ? ~bits : bits | kSign;
}

// |re + i im|: sqrt(re^2 + im^2), or hypot where the square sum leaves the
// normal range and would overflow or lose digits. hypot alone, which scales
// for every call, cost IAAFT a tenth of its time.
double Magnitude(double re, double im) {
  const double square = re * re + im * im;
  if (square >= std::numeric_limits<double>::min() &&
      square <= std::numeric_limits<double>::max()) {
    return std::sqrt(square);
  }
  return std::hypot(re, im);
}

bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool Before(const detail::RankEntry& a, const detail::RankEntry& b) {
  return a.Key < b.Key || (a.Key == b.Key && a.Place < b.Place);
}

// Stable counting sort of `from` into `to` by bits [shift, shift + 11) of
// the key.
void CountingPass(std::span<const detail::RankEntry> from,
                  std::span<detail::RankEntry> to, unsigned shift,
                  std::uint32_t (&count)[2048]) {
  std::uint32_t start = 0;
  for (std::uint32_t& bucket : count) {
    const std::uint32_t size = bucket;
    bucket = start;
    start += size;
  }
  for (const detail::RankEntry& entry : from) {
    to[count[(entry.Key >> shift) & 0x7FFU]++] = entry;
  }
}

// Insertion sort by (Key, Place), abandoned once it has moved more than
// `budget` entries: then returns false, `entries` still a permutation of
// what it held. Costs n plus the number of out-of-order pairs.
bool InsertionSortWithin(std::span<detail::RankEntry> entries,
                         std::size_t budget) {
  std::size_t moves = 0;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const detail::RankEntry entry = entries[i];
    std::size_t j = i;
    while (j > 0 && Before(entry, entries[j - 1])) {
      entries[j] = entries[j - 1];
      --j;
      if (++moves > budget) {
        entries[j] = entry;
        return false;
      }
    }
    entries[j] = entry;
  }
  return true;
}

// Least-significant-digit radix sort by the key bits [low, high], 11 bits a
// pass, each pass stable. Returns where the result lies: `a` or `b`.
std::vector<detail::RankEntry>* RadixPasses(std::vector<detail::RankEntry>* a,
                                            std::vector<detail::RankEntry>* b,
                                            unsigned low, unsigned high) {
  constexpr unsigned kDigitBits = 11;
  const unsigned passes = (high - low) / kDigitBits + 1;
  std::uint32_t counts[6][2048];
  std::fill_n(&counts[0][0], passes * 2048, 0U);
  for (const detail::RankEntry& entry : *a) {
    for (unsigned p = 0; p < passes; ++p) {
      ++counts[p][(entry.Key >> (low + p * kDigitBits)) & 0x7FFU];
    }
  }
  for (unsigned p = 0; p < passes; ++p) {
    CountingPass(*a, *b, low + p * kDigitBits, counts[p]);
    std::swap(a, b);
  }
  return a;
}

}  // namespace

namespace detail {

// Keys and places in ascending place order. Bits above the highest bit in
// which two keys differ can be left out of the sort. Three 11-bit counting
// passes order the 33 bits from there down, which settles the order of
// nearly every pair of distinct values (they would have to agree in sign,
// exponent and 21 bits of mantissa besides); insertion sort then orders the
// runs that agree in those bits, at the cost of the pairs it swaps. Where
// that exceeds 8n moves (data whose values nearly all agree in 33 bits but
// not in all), radix passes over every differing bit sort it from the
// start. O(n) in the usual case, against O(n log n) comparisons for
// std::sort, which cost IAAFT most of its time.
void RankOrder(std::span<const double> values, std::vector<RankEntry>& ranks,
               std::vector<RankEntry>& scratch) {
  const std::size_t n = values.size();
  assert(ranks.size() == n && scratch.size() == n);
  if (n == 0) return;
  std::uint64_t any = 0;
  std::uint64_t all = ~std::uint64_t{0};
  for (std::size_t t = 0; t < n; ++t) {
    const std::uint64_t key = OrderKey(values[t]);
    ranks[t] = {key, t};
    any |= key;
    all &= key;
  }
  const std::uint64_t varying = any ^ all;
  if (varying == 0) return;  // all keys equal: place order
  const auto top = static_cast<unsigned>(63 - std::countl_zero(varying));
  const unsigned low = top >= 32 ? top - 32 : 0;
  std::vector<RankEntry>* sorted = RadixPasses(&ranks, &scratch, low, top);
  if (low > 0 && !InsertionSortWithin(*sorted, 8 * n)) {
    for (std::size_t t = 0; t < n; ++t) ranks[t] = {OrderKey(values[t]), t};
    sorted = RadixPasses(&ranks, &scratch, 0, top);
  }
  if (sorted != &ranks) ranks.swap(scratch);
}

}  // namespace detail

std::uint64_t SplitMix64(std::uint64_t& state) {
  const std::uint64_t output = Mix(state);
  state += kGoldenGamma;
  return output;
}

std::uint64_t SurrogateKey(std::uint64_t seed, std::uint64_t series,
                           std::uint64_t window, std::uint64_t index) {
  std::uint64_t h = Mix(seed);
  h = Mix(h ^ series);
  h = Mix(h ^ window);
  return Mix(h ^ index);
}

KeyedRandom::KeyedRandom(std::uint64_t key) {
  std::uint64_t seeder = key;
  for (std::uint64_t& word : state_) word = SplitMix64(seeder);
}

std::uint64_t KeyedRandom::Next() {
  const std::uint64_t result = std::rotl(state_[1] * 5U, 7) * 9U;
  const std::uint64_t t = state_[1] << 17U;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = std::rotl(state_[3], 45);
  return result;
}

std::uint64_t KeyedRandom::Below(std::uint64_t bound) {
  assert(bound >= 1);
  __extension__ using Wide = unsigned __int128;
  Wide product = Wide{Next()} * bound;
  auto low = static_cast<std::uint64_t>(product);
  if (low < bound) {
    // 2^64 mod bound: the products with a low half below it would make the
    // high halves unequally likely.
    const std::uint64_t threshold = (0U - bound) % bound;
    while (low < threshold) {
      product = Wide{Next()} * bound;
      low = static_cast<std::uint64_t>(product);
    }
  }
  return static_cast<std::uint64_t>(product >> 64U);
}

double KeyedRandom::Uniform() {
  return static_cast<double>(Next() >> 11U) * 0x1p-53;
}

// Transforms, buffers and what the Fourier kinds keep of the last source.
struct SurrogateMaker::Fourier {
  explicit Fourier(std::size_t n, SurrogateKind kind);

  // Takes in `source` unless it is bitwise the source taken last time: its
  // finiteness, constancy, amplitudes, the real coefficients X_0 and (even
  // n) X_(n/2), and for IAAFT its sorted values.
  void Prepare(std::span<const double> source, SurrogateKind kind);

  std::size_t Bins = 0;               // n/2 + 1 coefficients of a real DFT
  FftwBuffer<double> Real;            // n values: transform input and output
  FftwBuffer<fftw_complex> Spectrum;  // Bins coefficients
  FftwPlan Forward;                   // Real -> Spectrum
  FftwPlan Backward;                  // Spectrum -> Real, unnormalised

  std::vector<double> Source;  // the source taken in
  bool Prepared = false;
  bool Finite = true;
  bool Constant = false;
  double MeanCoefficient = 0.0;     // X_0
  double NyquistCoefficient = 0.0;  // X_(n/2), even n
  std::vector<double> Amplitude;    // |X_k|, k = 0 .. n/2
  // IAAFT: the source values ascending, the rank order, the sort's scratch.
  std::vector<double> Sorted;
  std::vector<detail::RankEntry> Ranks;
  std::vector<detail::RankEntry> RankScratch;
};

SurrogateMaker::Fourier::Fourier(std::size_t n, SurrogateKind kind)
    : Bins(n / 2 + 1),
      Real(AllocateFftw<double>(n)),
      Spectrum(AllocateFftw<fftw_complex>(n / 2 + 1)),
      Source(n),
      Amplitude(n / 2 + 1) {
  if (kind == SurrogateKind::kIaaft) {
    Sorted.resize(n);
    Ranks.resize(n);
    RankScratch.resize(n);
  }
  const int length = static_cast<int>(n);
  const std::lock_guard<std::mutex> lock(FftwMutex());
  Forward.reset(
      fftw_plan_dft_r2c_1d(length, Real.get(), Spectrum.get(), kPlanFlags));
  Backward.reset(
      fftw_plan_dft_c2r_1d(length, Spectrum.get(), Real.get(), kPlanFlags));
  if (!Forward || !Backward) throw std::bad_alloc();
}

void SurrogateMaker::Fourier::Prepare(std::span<const double> source,
                                      SurrogateKind kind) {
  const std::size_t n = source.size();
  if (Prepared &&
      std::memcmp(source.data(), Source.data(), n * sizeof(double)) == 0) {
    return;
  }
  Prepared = false;
  std::copy(source.begin(), source.end(), Source.begin());
  Finite = std::all_of(source.begin(), source.end(),
                       [](double v) { return std::isfinite(v); });
  Constant = std::all_of(source.begin(), source.end(),
                         [&](double v) { return v == source[0]; });
  if (Finite) {
    std::copy(source.begin(), source.end(), Real.get());
    fftw_execute(Forward.get());
    for (std::size_t k = 0; k < Bins; ++k) {
      Amplitude[k] = std::hypot(Spectrum[k][0], Spectrum[k][1]);
    }
    MeanCoefficient = Spectrum[0][0];
    NyquistCoefficient = Spectrum[Bins - 1][0];
  }
  if (kind == SurrogateKind::kIaaft) {
    detail::RankOrder(source, Ranks, RankScratch);
    for (std::size_t j = 0; j < n; ++j) Sorted[j] = source[Ranks[j].Place];
  }
  Prepared = true;
}

SurrogateMaker::SurrogateMaker(std::size_t n, SurrogateKind kind,
                               int max_iterations)
    : n_(n), kind_(kind), max_iterations_(max_iterations) {
  assert(max_iterations >= 0);
  if (kind == SurrogateKind::kShuffle || n == 0) return;
  if (n > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("SurrogateMaker: sequence too long for FFTW");
  }
  fourier_ = std::make_unique<Fourier>(n, kind);
}

SurrogateMaker::~SurrogateMaker() = default;
SurrogateMaker::SurrogateMaker(SurrogateMaker&&) noexcept = default;
SurrogateMaker& SurrogateMaker::operator=(SurrogateMaker&&) noexcept = default;

void SurrogateMaker::Make(std::span<const double> source, std::uint64_t key,
                          std::span<double> out) {
  assert(source.size() == n_ && out.size() == n_);
  assert(source.data() + n_ <= out.data() || out.data() + n_ <= source.data() ||
         n_ == 0);
  last_iterations_ = 0;
  last_converged_ = false;
  if (n_ == 0) return;
  switch (kind_) {
    case SurrogateKind::kShuffle:
      MakeShuffle(source, key, out);
      break;
    case SurrogateKind::kPhase:
      MakePhase(source, key, out);
      break;
    case SurrogateKind::kIaaft:
      MakeIaaft(source, key, out);
      break;
  }
}

void SurrogateMaker::MakeShuffle(std::span<const double> source,
                                 std::uint64_t key,
                                 std::span<double> out) const {
  std::copy(source.begin(), source.end(), out.begin());
  KeyedRandom random(key);
  for (std::size_t i = n_ - 1; i > 0; --i) {
    std::swap(out[i], out[random.Below(i + 1)]);
  }
}

void SurrogateMaker::MakePhase(std::span<const double> source,
                               std::uint64_t key, std::span<double> out) {
  Fourier& f = *fourier_;
  f.Prepare(source, kind_);
  if (!f.Finite) {
    std::fill(out.begin(), out.end(), std::numeric_limits<double>::quiet_NaN());
    return;
  }
  if (f.Constant) {
    std::copy(source.begin(), source.end(), out.begin());
    return;
  }
  KeyedRandom random(key);
  fftw_complex* spectrum = f.Spectrum.get();
  spectrum[0][0] = f.MeanCoefficient;
  spectrum[0][1] = 0.0;
  const std::size_t last_free = (n_ - 1) / 2;
  for (std::size_t k = 1; k <= last_free; ++k) {
    const double phase = kTwoPi * random.Uniform();
    spectrum[k][0] = f.Amplitude[k] * std::cos(phase);
    spectrum[k][1] = f.Amplitude[k] * std::sin(phase);
  }
  if (n_ % 2 == 0) {
    const bool flip = (random.Next() >> 63U) != 0;
    spectrum[n_ / 2][0] = flip ? -f.NyquistCoefficient : f.NyquistCoefficient;
    spectrum[n_ / 2][1] = 0.0;
  }
  fftw_execute(f.Backward.get());
  const auto length = static_cast<double>(n_);
  const double* real = f.Real.get();
  for (std::size_t t = 0; t < n_; ++t) out[t] = real[t] / length;
}

void SurrogateMaker::MakeIaaft(std::span<const double> source,
                               std::uint64_t key, std::span<double> out) {
  Fourier& f = *fourier_;
  f.Prepare(source, kind_);
  MakeShuffle(source, key, out);
  if (!f.Finite) return;
  double* real = f.Real.get();
  fftw_complex* spectrum = f.Spectrum.get();
  for (int step = 1; step <= max_iterations_; ++step) {
    std::copy(out.begin(), out.end(), real);
    fftw_execute(f.Forward.get());
    for (std::size_t k = 0; k < f.Bins; ++k) {
      const double magnitude = Magnitude(spectrum[k][0], spectrum[k][1]);
      if (magnitude > 0.0) {
        const double scale = f.Amplitude[k] / magnitude;
        spectrum[k][0] = spectrum[k][0] * scale;
        spectrum[k][1] = spectrum[k][1] * scale;
      } else {
        spectrum[k][0] = f.Amplitude[k];
        spectrum[k][1] = 0.0;
      }
    }
    // Only the ranks of the inverse transform matter, and they do not
    // change under the positive factor 1/n, so it is left out.
    fftw_execute(f.Backward.get());
    detail::RankOrder({real, n_}, f.Ranks, f.RankScratch);
    bool changed = false;
    for (std::size_t j = 0; j < n_; ++j) {
      double& slot = out[f.Ranks[j].Place];
      if (!SameBits(slot, f.Sorted[j])) {
        changed = true;
        slot = f.Sorted[j];
      }
    }
    last_iterations_ = step;
    if (!changed) {
      last_converged_ = true;
      break;
    }
  }
}

}  // namespace numerics
