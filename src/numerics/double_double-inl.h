// Double-double arithmetic in vector lanes, for the exact kernels: a value
// is hi + lo with lo the part that hi could not hold. Compiled per
// instruction set like Highway's own -inl.h headers: include it after
// hwy/highway.h, in a file that foreach_target.h re-includes. The error-free
// steps need fused multiply-add (HWY_NATIVE_FMA); the kernels use this header
// only on such targets.

// Per-target include guard, toggled by foreach_target.h.
#if defined(MFWINDOW_NUMERICS_DOUBLE_DOUBLE_INL_H_) == \
    defined(HWY_TARGET_TOGGLE)
#ifdef MFWINDOW_NUMERICS_DOUBLE_DOUBLE_INL_H_
#undef MFWINDOW_NUMERICS_DOUBLE_DOUBLE_INL_H_
#else
#define MFWINDOW_NUMERICS_DOUBLE_DOUBLE_INL_H_
#endif

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace numerics {
namespace HWY_NAMESPACE {

// hi + lo. Renormalised when |lo| <= ulp(hi) / 2; the routines below say
// what they need and give.
// The constructors are spelled out: GCC gives implicit ones of a structure
// of vectors no target attributes, and then cannot inline the vectors' own
// constructors into them (NEON).
template <class V>
struct DoubleDouble {
  DoubleDouble() {}
  DoubleDouble(V high, V low) : hi(high), lo(low) {}
  V hi;
  V lo;
};

// a + b exactly as a renormalised hi + lo, given |a| >= |b| or a = 0
// (Dekker's Fast2Sum).
template <class V>
HWY_INLINE DoubleDouble<V> FastTwoSum(V a, V b) {
  namespace hn = hwy::HWY_NAMESPACE;
  const V s = hn::Add(a, b);
  return {s, hn::Sub(b, hn::Sub(s, a))};
}

// x.hi + x.lo renormalised, for |x.hi| >= |x.lo|.
template <class V>
HWY_INLINE DoubleDouble<V> Renormalise(DoubleDouble<V> x) {
  return FastTwoSum(x.hi, x.lo);
}

#if HWY_NATIVE_FMA

// a * b exactly as hi + lo (one fused multiply-subtract), for products far
// from overflow and the subnormal range.
template <class V>
HWY_INLINE DoubleDouble<V> TwoProduct(V a, V b) {
  namespace hn = hwy::HWY_NAMESPACE;
  const V p = hn::Mul(a, b);
  return {p, hn::MulSub(a, b, p)};
}

// (x.hi + x.lo)(y.hi + y.lo), renormalised, to within 6 * 2^-106
// (relative) for renormalised operands: the exact product x.hi y.hi and the
// cross terms, x.lo y.lo dropped.
template <class V>
HWY_INLINE DoubleDouble<V> Mul(DoubleDouble<V> x, DoubleDouble<V> y) {
  namespace hn = hwy::HWY_NAMESPACE;
  const DoubleDouble<V> p = TwoProduct(x.hi, y.hi);
  const V t = hn::MulAdd(x.hi, y.lo, p.lo);
  return FastTwoSum(p.hi, hn::MulAdd(x.lo, y.hi, t));
}

// 1 / x, renormalised. The residual 1 - x.hi y of y = RN(1/x.hi) is exact
// in one fused operation; within 2^-104 (relative) for renormalised x.
template <class V>
HWY_INLINE DoubleDouble<V> Reciprocal(DoubleDouble<V> x) {
  namespace hn = hwy::HWY_NAMESPACE;
  const hn::DFromV<V> d;
  const V one = hn::Set(d, 1.0);
  const V y = hn::Div(one, x.hi);
  const V r = hn::NegMulAdd(x.lo, y, hn::NegMulAdd(x.hi, y, one));
  return FastTwoSum(y, hn::Mul(y, r));
}

#endif  // HWY_NATIVE_FMA

// x times a power of two (exact away from overflow and underflow).
template <class V>
HWY_INLINE DoubleDouble<V> Scale(DoubleDouble<V> x, V power_of_two) {
  namespace hn = hwy::HWY_NAMESPACE;
  return {hn::Mul(x.hi, power_of_two), hn::Mul(x.lo, power_of_two)};
}

}  // namespace HWY_NAMESPACE
}  // namespace numerics
HWY_AFTER_NAMESPACE();

#endif  // MFWINDOW_NUMERICS_DOUBLE_DOUBLE_INL_H_
