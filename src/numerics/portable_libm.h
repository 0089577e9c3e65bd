// pow, log, log10 and exp with glibc's bits on every platform: Arm's
// algorithms, as glibc 2.36 runs them on x86-64 processors with FMA (the
// machines the reference results were made on), written operation for
// operation. Where the processor has no fused multiply-add, an exact
// software one stands in, so the bits stay the same.
//
// Where the C library is glibc, the platform's own functions are used
// (elementary.h); these serve the other platforms (Windows, macOS), and the
// tests compare them with glibc's.
#pragma once

namespace numerics::portable {

double Pow(double x, double y);
double Log(double x);
double Log10(double x);
double Exp(double x);

// a*b + c rounded once, in software, exact for operands whose product's
// rounding error is a normal double (as every use here): Dekker's product,
// then the sum rounded to odd and once more to nearest (Boldo and
// Melquiond, 2008).
double SoftwareFma(double a, double b, double c);

// The four functions through one way of fusing, for the tests.
struct Functions {
  double (*Pow)(double, double);
  double (*Log)(double);
  double (*Log10)(double);
  double (*Exp)(double);
};
// With the processor's FMA (nullptr members where it has none) or with
// SoftwareFma.
Functions HardwareFmaFunctions();
Functions SoftwareFmaFunctions();

}  // namespace numerics::portable
