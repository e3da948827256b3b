// The lane operations of the kernel layer on plain values. A rule written
// once as a template over a float type F (and its wide type WideOf<F>) runs
// on single pixels with F = float and, in a row loop, on a register of
// pixels with the vector types of frame/kernels-inl.h, whose operations give
// lane by lane the bits these give.
#pragma once

#include <cmath>
#include <limits>

namespace kernels {

// A pixel's red, green, blue and alpha, or those of a register of pixels.
template <typename F>
struct Rgba {
  F r, g, b, a;
};

inline double Widen(float f) { return f; }
inline float Narrow(double d) { return static_cast<float>(d); }

// The wide type of a float type.
template <typename F>
using WideOf = decltype(Widen(F{}));

// Roots and magnitudes. (The tools are built without errno from maths
// functions, so a root of a negative calls nothing.)
inline float Sqrt(float f) { return std::sqrt(f); }
inline double Sqrt(double d) { return std::sqrt(d); }
inline double Abs(double d) { return std::fabs(d); }

// a when a < b, else b; so b when either is not a number.
inline float Lesser(float a, float b) { return a < b ? a : b; }
inline double Lesser(double a, double b) { return a < b ? a : b; }
// a when a > b, else b; so b when either is not a number.
inline float Greater(float a, float b) { return a > b ? a : b; }
inline double Greater(double a, double b) { return a > b ? a : b; }

// `value` where `test` is not 0 (not a number included), else `otherwise`.
inline float IfNonZero(float test, float value, float otherwise) {
  return test != 0.0f ? value : otherwise;
}

// `value` where `test` is greater than 0, else 0 (also where `test` is not a
// number).
inline double IfPositive(float test, double value) { return test > 0.0f ? value : 0.0; }

// `value` where `test` is greater than 0, else not a number (also where
// `test` is not a number).
inline double IfPositiveElseNaN(float test, double value) {
  return test > 0.0f ? value : std::numeric_limits<double>::quiet_NaN();
}

// The lanes one by one, for what has no vector form.
template <typename Fn>
inline double EachLane(double d, Fn&& fn) {
  return fn(d);
}

// Division by `divisor` as two products, for NarrowBetween: with r = 1 /
// divisor rounded, below and above are r (1 -+ 2^-47) rounded. Each is off
// r (1 -+ 2^-47) by at most two roundings, far less than 2^-47, so for any x
// the exact products x below and x above lie either side of x / divisor,
// and rounding keeps that order (overflow and underflow included): both
// products rounded lie either side of the quotient rounded, with its sign.
// `usable` where r and both bounds are normal doubles.
struct DivisionBounds {
  explicit DivisionBounds(double divisor) {
    const double r = 1.0 / divisor;
    below = r * (1 - 0x1p-47);
    above = r * (1 + 0x1p-47);
    usable = std::fpclassify(r) == FP_NORMAL && std::fpclassify(below) == FP_NORMAL &&
             std::fpclassify(above) == FP_NORMAL;
  }

  double below, above;
  bool usable;
};

// An exponent of PowThen, with what the register form needs of it worked
// out once: whether it takes a fast power (1 <= e <= 2^16), whether that is
// a whole number and a half (n + 1/2, n = `whole`), and the fast power's
// relative margin of error, for NarrowsAsTheRule (frame/kernels-inl.h says
// why).
struct PowExponent {
  explicit PowExponent(double e)
      : value(e),
        fast(e >= 1.0 && e <= 0x1p16),
        half(fast && e - std::floor(e) == 0.5),
        whole(half ? static_cast<unsigned>(e) : 0u),
        margin(half   ? (whole + 16) * 0x1p-53
               : fast ? std::ceil(e) * 0x1p-47 + 0x1p-40
                      : 0) {}

  double value;
  bool fast, half;
  unsigned whole;
  double margin;
};

// finish(c^e), with the standard library's power. The register form of the
// kernel layer (frame/kernels-inl.h) works the power out otherwise and says
// where it may not give the same bits once the result is narrowed to float,
// for a `finish` that multiplies its argument by a number a, or by a and
// then b with |b| at most 2^64 (each product rounded), or gives a value that
// does not depend on it.
template <class Finish>
inline double PowThen(double c, const PowExponent& e, const Finish& finish) {
  return finish(std::pow(c, e.value));
}

// A plain value is always the plain rule's own (the register form may not
// be sure of its lanes: frame/kernels-inl.h).
inline double Sure(double v) { return v; }
inline double SureValue(double v) { return v; }

inline Rgba<float> LoadPixel(const float* bgra) { return {bgra[2], bgra[1], bgra[0], bgra[3]}; }

}  // namespace kernels
