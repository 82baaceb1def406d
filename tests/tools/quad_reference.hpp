// Quad-precision (__float128) references shared by the accuracy tests:
// square roots and powers of two over the whole quad exponent range, and the
// distortion solved by Newton's method on h + t*h^3 = 1 (h = rd/ru,
// t = kappa1*ru^2) instead of by Cardano's formula. The quad exponent range
// holds every t and radius that double inputs can produce, so nothing is
// scaled.
#pragma once

#include <cmath>
#include <cstring>

namespace scenemap_test {

__extension__ typedef __float128 quad;

inline quad qabs(quad x) { return x < 0 ? -x : x; }

// Unbiased exponent of a normal quad x != 0 and 2^n for a normal 2^n.
inline int qexponent(quad x) {
  __extension__ unsigned __int128 b;
  std::memcpy(&b, &x, sizeof b);
  return static_cast<int>((b >> 112) & 0x7fff) - 16383;
}
inline quad qpow2(int n) {
  __extension__ unsigned __int128 b = static_cast<unsigned __int128>(n + 16383)
                                      << 112;
  quad r;
  std::memcpy(&r, &b, sizeof r);
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

}  // namespace scenemap_test
