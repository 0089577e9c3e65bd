// The tables of the portable pow, log and exp (Arm's, MIT licensed; see
// portable_libm_tables.cpp).
#pragma once

#include <cstdint>

namespace numerics::portable {

inline constexpr int kTableBits = 7;

struct PowLogData {
  double ln2hi;
  double ln2lo;
  double poly[7];  // the first coefficient is 1
  struct {
    double invc, pad, logc, logctail;
  } tab[1 << kTableBits];
};

struct ExpData {
  double invln2N;
  double shift;
  double negln2hiN;
  double negln2loN;
  double poly[4];  // the last four coefficients
  double exp2_shift;
  double exp2_poly[5];
  std::uint64_t tab[2 * (1 << kTableBits)];
};

struct LogData {
  double ln2hi;
  double ln2lo;
  double poly1[11];
  double poly[5];  // the first coefficient is 1
  struct {
    double invc, logc;
  } tab[1 << kTableBits];
};

extern const PowLogData kPowLogData;
extern const ExpData kExpData;
extern const LogData kLogData;

}  // namespace numerics::portable
