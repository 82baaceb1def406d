// The distortion solve: the distorted sensor point (xd, yd) of the
// undistorted one (xu, yu), scaled by rd / ru where rd solves
// kappa1 * rd^3 + rd = ru, or is the fold radius sqrt(-1 / (3 kappa1)) where
// a pincushion lens (kappa1 < 0) reaches no such rd. With t = kappa1 * ru^2
// the ratio h = rd / ru is the root of h + t * h^3 = 1 that tends to 1 as t
// goes to 0.
//
// Every caller solves through solveDistortion: the public
// undistortedToDistortedSensorCoord, sceneToFrameCoord, both modules' walks
// and the derivatives. The walks run its three stages apart, a block of
// points at a time (solveFront's arithmetic and choice of form, the root's
// library calls in cardanoRoot, then solveBack), so that one point's calls
// overlap with other points' arithmetic; the form is chosen once, in
// solveFront.
//
// The regimes, in the order solveFront tells them apart. t = kappa1 * ru^2
// from ru^2 = yu*yu + xu*xu as computed; E = ru / (2 kappa1) and
// D = (p/3)^3 + E^2 with p = 1/kappa1 are the depressed cubic's half
// constant term and discriminant. Errors are the largest measured against a
// quad-precision Newton solve (tests/tools/quad_reference.hpp), relative to
// rd, in units of 2^-52; for Cardano's form over 2.5e7 points, kappa1 from
// 1e-100 to 1e100 of both signs and t spread over the range and crowded
// next to |t| = 1e-6, where its two cube roots cancel most. (Next to the
// fold the root's own condition adds what the rounding of t explains.)
//
//   condition                        form                          error
//   -------------------------------  ----------------------------  --------
//   (xu, yu) = (0, 0) or kappa1 = 0  identity: (xd, yd) = (xu, yu)  exact
//   Cardano's range: 1e-6 <= |t|     Cardano's closed form:         see
//     (kCardanoMinT), t <= 100         D >= 0: one real root        below
//     (kCardanoMaxT), ru^2, E^2 and    D < 0: trigonometric form
//     (p/3)^3 normal, D finite; or     of the smallest of three
//     a NaN or an infinity anywhere    positive roots
//     (propagated by the formulas)     kappa1 < 0 beyond the
//                                      reachable radius: the fold
//     kappa1 > 0, t near 1e-6                                       740
//     kappa1 > 0, t from 1 to 100                                    53
//     kappa1 < 0, |t| near 1e-6                                    1390
//                                                                  (3.1e-13)
//   every other finite point, by t:  solveScaled, in mantissas and
//                                      powers of two
//     |t| < 1e-6                       series 1 - t + 3t^2 - 12t^3   2.5
//     t >= 1e-6                        Cardano's root as a sum of    2.5
//                                      positive terms
//     -4/27 < t <= -1e-6               trigonometric form as an      2.5
//                                      arcsine
//     t <= -4/27                       the fold                      2.5
//   derivatives (scenemapgrad_mex):  closed form of Cardano's      1.5e-11
//     kClosedFormBandLow <= t <=       derivative, else the chain-   relative
//     kClosedFormBandHigh, t from      rule form over the solve      (1e-10
//     kappa1 * rho as the closed       above                         near the
//     form computes it                                               edges)
//
// Cardano's form is kept where it is accurate because it is what the model
// has always computed: its results there are the formula's, bit for bit.
// Below |t| = 1e-6 its two cube roots of size sqrt(1 / (3 |kappa1|)) cancel
// down to rd and lose about log10(1 / sqrt(|t|)) digits; above t = 100 its
// s - E cancels and loses about log10(t^(2/3)); outside the normal numbers
// its squares and cubes overflow or underflow.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "platform.hpp"

namespace scenemap {

// Cardano's range in t = kappa1 * ru^2.
constexpr double kCardanoMinT = 1e-6;
constexpr double kCardanoMaxT = 100;

// The band of t = kappa1 * rho (rho the squared undistorted sensor radius as
// the derivatives' closed form computes it) inside which, for kappa1 > 0,
// the derivatives use the closed form of Cardano's derivative. Measured
// against a quad-precision reference (tests/tools/derivative_band.cpp,
// "sweep"): inside the band its relative error stays below about 1.5e-11;
// it passes 1e-10 near 1e-4 and 3e3. Below the band the two cube roots
// cancel (errors up to 0.3 at 1e-20), above it s - E loses its digits (1e-9
// at 1e6, non-finite beyond 1e14); there the chain-rule form is used.
constexpr double kClosedFormBandLow = 2e-4;
constexpr double kClosedFormBandHigh = 1e3;

// Which solution of the distortion cubic a radius came from.
enum class RadiusBranch {
  kOneRoot,     // discriminant >= 0: the one real root
  kFolded,      // kappa1 < 0 beyond the reachable radius: the fold radius
  kThreeRoots,  // discriminant < 0: smallest positive of three real roots
};

namespace kernel {

// The double nearest 1/3, the exponent of every cube root, and the double
// nearest sqrt(3). Cube roots go through pow with this exponent on a
// non-negative base; the sign is applied outside.
constexpr double kOneThird = 0.3333333333333333;
constexpr double kSqrt3 = 1.7320508075688772;

// True when x is a normal double: neither zero, subnormal, infinite nor NaN
// (as stored: see storedDouble).
inline bool isNormalNumber(double x) {
  const double a = std::fabs(storedDouble(x));
  return a >= DBL_MIN && a <= DBL_MAX;
}

// t = kappa1 * r2 as the range tests see it: |t| from stored doubles, so
// that every compiled copy puts a point next to an edge on the same side.
// Non-decreasing in r2 >= 0.
inline double rangeT(double absKappa1, double r2) {
  return storedDouble(absKappa1 * storedDouble(r2));
}

// The neighbours of a non-negative double (up to +inf and down to 0):
// its bit pattern plus or minus one.
inline double nextUp(double x) {
  std::uint64_t bits;
  __builtin_memcpy(&bits, &x, sizeof bits);
  bits += x < INFINITY;
  __builtin_memcpy(&x, &bits, sizeof bits);
  return x;
}
inline double nextDown(double x) {
  std::uint64_t bits;
  __builtin_memcpy(&bits, &x, sizeof bits);
  bits -= x > 0;
  __builtin_memcpy(&x, &bits, sizeof bits);
  return x;
}

// The smallest r2 >= 0 with rangeT(absKappa1, r2) >= t (+inf when only
// r2 = +inf has it), and the largest with rangeT <= t: the edges of
// Cardano's range as squared radii, exact for every r2, so that the points
// test r2 alone. The quotient t / absKappa1 lies within an ulp or two of
// the edge (or is infinite, where the steps below stop at once).
inline double smallestR2Reaching(double absKappa1, double t) {
  double r2 = t / absKappa1;
  while (rangeT(absKappa1, r2) < t) r2 = nextUp(r2);
  while (r2 > 0 && rangeT(absKappa1, nextDown(r2)) >= t) r2 = nextDown(r2);
  return r2;
}
inline double largestR2Within(double absKappa1, double t) {
  double r2 = t / absKappa1;
  while (rangeT(absKappa1, r2) > t) r2 = nextDown(r2);
  while (r2 < INFINITY && rangeT(absKappa1, nextUp(r2)) <= t) r2 = nextUp(r2);
  return r2;
}

// Values of the solve that depend on kappa1 alone.
struct SolverConstants {
  double kappa1;
  double p;       // 1 / kappa1, the linear coefficient of the depressed cubic
  double p3cube;  // (p / 3)^3
  double fold;    // sqrt(-1 / (kappa1 * 3)), the fold radius for kappa1 < 0
  bool noDistortion;  // kappa1 == 0: every point passes through
  bool cardano;       // (p / 3)^3 is a normal number: Cardano's form may apply
  bool finite;        // kappa1 is finite: the scaled solve may apply
  // Cardano's range, kCardanoMinT <= |t| (and t <= kCardanoMaxT for
  // kappa1 > 0), as the squared radii r2Min <= r2 <= r2Max (empty for a
  // non-finite kappa1: it takes Cardano's form anyway). Up to r2Normal the
  // range needs no further test: see solveFront.
  double r2Min, r2Max, r2Normal;
};

inline SolverConstants solverConstants(double kappa1) {
  SolverConstants c;
  c.kappa1 = kappa1;
  c.p = 1 / kappa1;
  const double p3 = c.p / 3;
  c.p3cube = storedDouble(p3 * p3 * p3);
  c.fold = std::sqrt(-1 / (kappa1 * 3));
  c.noDistortion = kappa1 == 0;
  c.cardano = isNormalNumber(c.p3cube);
  const double k = std::fabs(kappa1);
  c.finite = k <= DBL_MAX;
  c.r2Min = INFINITY;
  c.r2Max = -INFINITY;
  c.r2Normal = -INFINITY;
  if (c.finite && k > 0) {
    c.r2Min = smallestR2Reaching(k, kCardanoMinT);
    const double r2Top = largestR2Within(k, kCardanoMaxT);
    c.r2Max = kappa1 > 0 ? r2Top : INFINITY;
    // With 1e-102 <= |kappa1| <= 1e100 every t with 1e-6 <= |t| <= 100 has
    // ru^2, E^2 and (p/3)^3 normal and D finite (r2 = t/kappa1 within
    // 1e-106 .. 1e104, E^2 = t/(4 kappa1^3) within 2.5e-307 .. 2.5e307,
    // (p/3)^3 within 3.7e-302 .. 3.7e304).
    if (k >= 1e-102 && k <= 1e100) {
      c.r2Normal = r2Top;
    }
  }
  return c;
}

// How a point is solved.
enum class SolveForm {
  kIdentity,  // the origin, or kappa1 == 0: (xd, yd) = (xu, yu)
  kCardano,   // Cardano's closed form (cardanoRoot, then solveBack)
  kScaled,    // solveScaled (in solveBack)
};

// The solve's arithmetic before the root's library calls.
struct SolveFront {
  double xu, yu;   // the undistorted point
  double ru;       // its radius; 0 where the point passes through
  double E, D;     // the cubic's -q/2 and discriminant; 0 where it does
  SolveForm form;  // the regime, chosen once here
};

// The depressed cubic rd^3 + p*rd + q = 0 (q = -ru/kappa1) of (xu, yu), and
// the regime of the table above that solves it.
inline void solveFront(const SolverConstants &c, double xu, double yu,
                       SolveFront *f) {
  f->xu = xu;
  f->yu = yu;
  const double r2 = yu * yu + xu * xu;
  // At the origin and without distortion the map is the identity. IEEE
  // equality: -0.0 passes through, NaN goes on and propagates. (xu and yu
  // are both zero only where r2 is: testing r2 first spares the other points
  // two tests.)
  if (c.noDistortion || (r2 == 0 && xu == 0 && yu == 0)) {
    f->ru = 0;
    f->E = 0;
    f->D = 0;
    f->form = SolveForm::kIdentity;
    return;
  }
  f->ru = std::sqrt(r2);
  f->E = f->ru * c.p * 0.5;
  const double EE = f->E * f->E;
  f->D = c.p3cube + EE;
  // Cardano's range by r2 (false for NaN), as stored; up to r2Normal
  // without further tests.
  const double r2s = storedDouble(r2);
  if (r2s >= c.r2Min && r2s <= c.r2Normal) {
    f->form = SolveForm::kCardano;
    return;
  }
  // Elsewhere in the range its squares and cubes are tested: D = (p/3)^3 +
  // E^2 can overflow where both terms are normal. Non-finite coordinates or
  // kappa1 keep Cardano's form, which propagates them.
  const bool cardano = r2s >= c.r2Min && r2s <= c.r2Max && c.cardano &&
                       isNormalNumber(r2) && isNormalNumber(EE) &&
                       std::fabs(storedDouble(f->D)) <= DBL_MAX;
  const bool finite =
      c.finite && std::fabs(xu) <= DBL_MAX && std::fabs(yu) <= DBL_MAX;
  f->form = cardano || !finite ? SolveForm::kCardano : SolveForm::kScaled;
}

// The cube roots that cardanoRoot took for the one real root: the base of
// each pow(base, 1/3) call and its result. A caller that needs the cube root
// of an equal base takes it from here instead of calling pow again: equal
// doubles give pow the same argument, hence the same result (+0 and -0, the
// one pair of equal doubles with different bits, both have the root +0;
// where the x87 unit holds values wider, equal values still round to the
// same double argument).
struct CubeRoots {
  double base[2];  // E + s or -E - s; then E - s or s - E
  double root[2];  // pow(base[i], 1/3)
};
// No cube roots taken: bases NaN, equal to nothing.
constexpr CubeRoots kNoCubeRoots = {{NAN, NAN}, {0, 0}};

// Cardano's distorted radius from the cubic's E and D (kappa1 != 0): the
// root's library calls. roots, when given, receives the cube roots taken
// for the one real root, and is left as it is where there are none.
inline double cardanoRoot(const SolverConstants &c, double E, double D,
                          RadiusBranch *branch, CubeRoots *roots = nullptr) {
  if (D >= 0) {
    // Beyond the fold without the cube roots: for kappa1 < 0, E < 0 and
    // (p/3)^3 <= 0, so D <= fl(E*E) and s = sqrt(D) <= sqrt(fl(E*E)) = |E|
    // (exact in binary floating point while E*E is a normal number). Then
    // c1 = -pow(-E - s) <= 0 and c2 = -pow(s - E) < 0 with s - E >= |E| > 0,
    // so rd = c2 + c1 < 0 and the formulas below return the fold radius.
    if (c.kappa1 < 0 && E <= -1e-100 && E >= -1e100) {
      *branch = RadiusBranch::kFolded;
      return c.fold;
    }
    // One real root.
    const double s = std::sqrt(D);
    const bool plus1 = E + s > 0;
    const double base1 = plus1 ? E + s : -E - s;
    const double root1 = std::pow(base1, kOneThird);
    const double c1 = plus1 ? root1 : -root1;
    const bool plus2 = E - s > 0;
    const double base2 = plus2 ? E - s : s - E;
    const double root2 = std::pow(base2, kOneThird);
    const double c2 = plus2 ? root2 : -root2;
    if (roots) {
      roots->base[0] = base1;
      roots->root[0] = root1;
      roots->base[1] = base2;
      roots->root[1] = root2;
    }
    const double rd = c2 + c1;
    // For kappa1 < 0 an undistorted radius beyond the largest reachable one
    // has no admissible root; clamp to the fold radius, where
    // rd * (1 + kappa1 * rd^2) peaks.
    if (rd < 0) {
      *branch = RadiusBranch::kFolded;
      return c.fold;
    }
    *branch = RadiusBranch::kOneRoot;
    return rd;
  }
  // Three real roots (kappa1 < 0 only): trigonometric form, taking the
  // smallest positive root, the one that tends to ru as ru tends to 0.
  const double y = std::sqrt(-D);
  const double rho = std::sqrt(y * y + E * E);
  const double m = std::pow(rho, kOneThird);
  const double theta = std::atan2(y, E);
  *branch = RadiusBranch::kThreeRoots;
  return m * kSqrt3 * std::sin(theta / 3) - m * std::cos(theta / 3);
}

// The solved point. solveBack fills xd and yd; the rest are what the
// derivatives read: rd and branch as cardanoRoot gave them (Cardano's form),
// or everything below from the scaled solve.
struct Distortion {
  double xd, yd;          // distorted sensor coordinates
  double rd;              // Cardano's form: the distorted radius
  RadiusBranch branch;    // which root, as the cubic's branches name them
  double h;               // scaled solve: rd / ru = h * 2^-q
  int q;                  //   (q is 0 unless rd / ru is far from 1)
  double radial;          // (drd/dru) / (rd/ru); 0 at the fold
  double radialMinusOne;  // radial - 1, without cancellation near t = 0
  double nx, ny;          // unit direction of (xu, yu)
};

// The scaled solve of the point (xu, yu) (finite, not the origin) for a
// finite kappa1 != 0: h from h + t * h^3 = 1 without cancellation, with ru,
// kappa1 and t carried as a mantissa and a power of two, so that nothing
// overflows or underflows before the end. Fills every field of *s but rd.
void solveScaled(double xu, double yu, double kappa1, Distortion *s);

// The solve after the root: (xd, yd) from Cardano's d->rd (as cardanoRoot
// left it), or the scaled solve. Points outside Cardano's range are solved
// here, off the walks' pipeline: they are rare in a physical grid.
inline void solveBack(const SolveFront &f, double kappa1, Distortion *d) {
  switch (f.form) {
    case SolveForm::kIdentity:
      d->xd = f.xu;
      d->yd = f.yu;
      break;
    case SolveForm::kCardano: {
      // xd = xu * k and yd = k * yu, side by side.
      const double k = d->rd / f.ru;
      const Pair xyd = pair(f.xu, f.yu) * k;
      d->xd = first(xyd);
      d->yd = second(xyd);
      break;
    }
    case SolveForm::kScaled:
      solveScaled(f.xu, f.yu, kappa1, d);
      break;
  }
}

// The whole solve of (xu, yu): its three stages in a row. *f receives the
// front, *d the solved point.
inline void solveDistortion(const SolverConstants &c, double xu, double yu,
                            SolveFront *f, Distortion *d) {
  solveFront(c, xu, yu, f);
  d->rd = 0;
  d->branch = RadiusBranch::kOneRoot;
  if (f->form == SolveForm::kCardano) {
    d->rd = cardanoRoot(c, f->E, f->D, &d->branch);
  }
  solveBack(*f, c.kappa1, d);
}

}  // namespace kernel
}  // namespace scenemap
