// The portable functions for x86-64 processors with FMA: this file alone
// is built with -mfma (CMakeLists.txt), and portable_libm.cpp takes it only
// where the processor has the instruction.
#include <cmath>

#include "numerics/portable_libm-inl.h"
#include "numerics/portable_libm.h"

namespace numerics::portable::detail {
namespace {
double Fused(double a, double b, double c) { return std::fma(a, b, c); }
}  // namespace

Functions FmaBuiltFunctions() {
  return {[](double x, double y) { return Pow(x, y, Fused); },
          [](double x) { return Log(x, Fused); },
          [](double x) { return Log10(x, Fused); },
          [](double x) { return Exp(x, Fused); }};
}

}  // namespace numerics::portable::detail
