// sloppy_libm.so: pow and log10 of sloppy_libm.h with a factor of 2 (twice
// glibc's bounds, beyond the kernels' budget of 1.5), for LD_PRELOAD. The
// test numerics.another_libm_makes_the_kernels_step_aside runs the engines'
// differential test under it.
#include "numerics/sloppy_libm.h"

#include <dlfcn.h>

namespace {

constexpr double kFactor = 2.0;

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" double pow(double x, double y) {
  static const auto real = Real<double (*)(double, double)>("pow");
  return sloppy_libm::Pow(real, x, y, kFactor);
}

extern "C" double log10(double x) {
  static const auto real = Real<double (*)(double)>("log10");
  return sloppy_libm::Log10(real, x, kFactor);
}
