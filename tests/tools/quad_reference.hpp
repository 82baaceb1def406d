// Quad-precision (__float128) references shared by the accuracy tests:
// square roots and powers of two over the whole quad exponent range, and the
// distortion solved by Newton's method on h + t*h^3 = 1 (h = rd/ru,
// t = kappa1*ru^2) instead of by Cardano's formula. The quad exponent range
// holds every t and radius that double inputs can produce, so nothing is
// scaled.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace scenemap_test {

__extension__ typedef __float128 quad;

inline quad qabs(quad x) { return x < 0 ? -x : x; }

// The quad's sign and exponent sit in the top 16 bits of its high 64-bit
// half; the halves are handled as two uint64_t so that targets without a
// 128-bit integer type (i386) build the same code.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr int kQuadHigh = 0;
#else
constexpr int kQuadHigh = 1;
#endif

// Unbiased exponent of a normal quad x != 0 and 2^n for a normal 2^n.
inline int qexponent(quad x) {
  std::uint64_t half[2];
  std::memcpy(half, &x, sizeof half);
  return static_cast<int>((half[kQuadHigh] >> 48) & 0x7fff) - 16383;
}
inline quad qpow2(int n) {
  std::uint64_t half[2] = {0, 0};
  half[kQuadHigh] = static_cast<std::uint64_t>(n + 16383) << 48;
  quad r;
  std::memcpy(&r, half, sizeof r);
  return r;
}

// Square root by Newton's method from a double estimate of the scaled value.
inline quad qsqrt(quad x) {
  if (!(x > 0)) return 0;
  const int e = qexponent(x) & ~1;
  const quad m = x / qpow2(e);  // in [1, 4)
  quad r = std::sqrt(static_cast<double>(m));
  for (int i = 0; i < 5; ++i) r = (r + m / r) / 2;
  return r * qpow2(e / 2);
}

// h with h + t*h^3 = 1: the smallest positive root, 1 at t = 0 (t > -4/27).
// Newton converges monotonically from the start chosen: from above for
// t > 0 (convex; min(1, t^(-1/3)) lies above the root), from below for
// t < 0 (concave).
inline quad solveH(quad t) {
  quad h = 1;
  if (t > 1) {
    const int e = qexponent(t);
    const int j = (e >= 0 ? e : e - 2) / 3;                  // floor(e / 3)
    const double m = static_cast<double>(t / qpow2(3 * j));  // in [1, 8)
    h = quad(std::pow(m, -1.0 / 3) * (1 + 1e-12)) / qpow2(j);
  }
  for (int i = 0; i < 400; ++i) {
    const quad hn = h - (h + t * h * h * h - 1) / (1 + 3 * t * h * h);
    const quad step = qabs(hn - h);
    h = hn;
    if (step <= quad(1e-33) * h) break;
  }
  return h;
}

inline bool beyondFold(quad t) { return t <= -4 / quad(27); }

// Distorted point of (xu, yu): the root, or beyond the fold (kappa1 < 0,
// t <= -4/27) the fold radius sqrt(-1/(3 kappa1)) in the same direction.
inline void referenceDistortion(double xu, double yu, double kappa1, quad *xd,
                                quad *yd) {
  const quad r2 = quad(xu) * xu + quad(yu) * yu;
  const quad t = kappa1 * r2;
  const quad h = beyondFold(t) ? 1 / qsqrt(-3 * t) : solveH(t);
  *xd = xu * h;
  *yd = yu * h;
}

// Whether the solve keeps Cardano's form for the undistorted point (xu, yu),
// by its documented boundary: 1e-6 <= |t| (and t <= 100 for kappa1 > 0),
// t = kappa1 * ru^2, with ru^2, E^2 and (p/3)^3 normal numbers and the
// discriminant finite. Points that pass through (origin, kappa1 = 0) and
// non-finite ones also follow the formulas.
inline bool cardanoRegime(double xu, double yu, double k1) {
  if ((xu == 0 && yu == 0) || k1 == 0 || !std::isfinite(xu) ||
      !std::isfinite(yu) || !std::isfinite(k1)) {
    return true;
  }
  // Each value is stored as a double before it is tested: x87 registers
  // would hold squares and cubes beyond the double range.
  volatile double r2 = yu * yu + xu * xu, p = 1 / k1, t = k1 * r2;
  const double E = std::sqrt(r2) * p * 0.5;
  volatile double EE = E * E, p3 = (p / 3) * (p / 3) * (p / 3);
  volatile double D = p3 + EE;
  return std::isnormal(r2) && std::isnormal(EE) && std::isnormal(p3) &&
         std::isfinite(D) && std::fabs(t) >= 1e-6 && t <= 100;
}

// Error of the distorted point (xd, yd) of (xu, yu) against the quad solve,
// in units of eps * rd (absolute below the smallest subnormal); infinite
// when not finite.
inline double solveError(double xu, double yu, double k1, double xd,
                         double yd) {
  if (!std::isfinite(xd) || !std::isfinite(yd)) return INFINITY;
  quad wx, wy;
  referenceDistortion(xu, yu, k1, &wx, &wy);
  quad unit = qsqrt(wx * wx + wy * wy) * 0x1p-52;
  if (unit < quad(0x1p-1074)) unit = 0x1p-1074;
  const quad ex = qabs(xd - wx), ey = qabs(yd - wy);
  return static_cast<double>((ex > ey ? ex : ey) / unit);
}

// h as the model defines it for any t: the root, or beyond the fold the
// fold radius over ru.
inline quad modelH(quad t) {
  return beyondFold(t) ? 1 / qsqrt(-3 * t) : solveH(t);
}

// The error, in units of eps * rd, that rounding t alone explains. Any
// double solve sees t = kappa1 * (xu^2 + yu^2) through up to four roundings,
// 2 eps relative at most, and a relative change of t moves h by
// |t h^2 / (1 + 3 t h^2)| times as much, without bound at the fold (where h
// also switches to the fold radius). h is monotonic in t, so the ends of
// that interval of t bound the move.
inline double roundingAllowance(double xu, double yu, double k1) {
  const quad t = k1 * (quad(xu) * xu + quad(yu) * yu);
  if (t == 0) return 0;
  const quad h = modelH(t), spread = 2 * quad(0x1p-52);
  const quad lo = qabs(modelH(t * (1 - spread)) - h);
  const quad hi = qabs(modelH(t * (1 + spread)) - h);
  return static_cast<double>((lo > hi ? lo : hi) / (h * quad(0x1p-52)));
}

// Largest errors (units of eps * rd) allowed: Cardano's form where it is
// kept loses up to log10(1/sqrt(|t|)) digits near |t| = 1e-6 (about 1e3
// units measured); the scaled solve elsewhere stays within a few. Near the
// fold both add roundingAllowance.
constexpr double kCardanoLimit = 2048;
constexpr double kScaledLimit = 4;

}  // namespace scenemap_test
