// Inline kernels of the camera model, shared by the walks of both modules so
// that the per-point work is compiled into each walk's loop (independent
// points overlap, per-call constants stay in registers). Every expression is
// the one of camera_model.cpp's public functions, in the same order; only
// values that do not depend on the point are computed once per call.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>

#include "camera_model.hpp"

namespace scenemap {
namespace kernel {

// The double nearest 1/3, the exponent of every cube root, and the double
// nearest sqrt(3). Cube roots go through pow with this exponent on a
// non-negative base; the sign is applied outside.
constexpr double kOneThird = 0.3333333333333333;
constexpr double kSqrt3 = 1.7320508075688772;

// Two independent quotients n0 / d0 and n1 / d1, in one packed division
// where the compiler has vector types: each lane is an IEEE division, so the
// bits are those of the two scalar divisions, at half the divider's time.
struct Quotients {
  double first;
  double second;
};

inline Quotients divide2(double n0, double n1, double d0, double d1) {
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__ARM_NEON))
  typedef double Pair __attribute__((vector_size(16)));
  const Pair n = {n0, n1};
  const Pair d = {d0, d1};
  const Pair q = n / d;
  return {q[0], q[1]};
#else
  return {n0 / d0, n1 / d1};
#endif
}

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__)) && \
    defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 2
#define SCENEMAP_KERNEL_X87 1
#endif

// x as a stored double. Where doubles are evaluated in the x87 unit, a
// square or a cube kept in its registers has the wider exponent range and
// neither overflows nor underflows where the stored double does, and
// whether it stays in a register depends on how each copy of the code was
// compiled. The range tests that choose between the solves read their
// values through this, so they decide as the stored doubles do in every
// copy. Elsewhere a double is already exactly a double and this is x.
inline double storedDouble(double x) {
#ifdef SCENEMAP_KERNEL_X87
  volatile double stored = x;
  return stored;
#else
  return x;
#endif
}

// Where doubles are evaluated in the x87 unit, a host may have set its
// precision control to 53 bits. The i386 math library computes pow and its
// relatives in the unit's registers and counts on a 64-bit significand:
// with 53 bits, pow(x, 1/3) errs by up to about 180 units in the last place
// for bases far from 1, which Cardano's cancellation then multiplies. The
// public functions therefore run with the 64-bit significand, whatever the
// caller's setting, and restore the caller's control word on return (both
// settings give the same results). Elsewhere this does nothing.
class ExtendedPrecision {
 public:
#ifdef SCENEMAP_KERNEL_X87
  ExtendedPrecision() {
    __asm__ volatile("fnstcw %0" : "=m"(saved_));
    const unsigned short extended = saved_ | 0x300;  // precision bits: 64
    if ((saved_ & 0x300) != 0x300) {
      __asm__ volatile("fldcw %0" : : "m"(extended));
    }
  }
  ~ExtendedPrecision() {
    if ((saved_ & 0x300) != 0x300) {
      __asm__ volatile("fldcw %0" : : "m"(saved_));
    }
  }

 private:
  unsigned short saved_;
#else
  ExtendedPrecision() {}
#endif
  ExtendedPrecision(const ExtendedPrecision &) = delete;
  ExtendedPrecision &operator=(const ExtendedPrecision &) = delete;
};

// True when x is a normal double: neither zero, subnormal, infinite nor NaN
// (as stored: see storedDouble).
inline bool isNormalNumber(double x) {
  const double a = std::fabs(storedDouble(x));
  return a >= DBL_MIN && a <= DBL_MAX;
}

// Where Cardano's form is kept. With t = kappa1 * ru^2, its two cube roots
// are of size sqrt(1 / (3 |kappa1|)) and cancel down to rd = ru * (1 - t +
// ...), so it loses about log10(1 / sqrt(|t|)) digits as t goes to zero;
// for kappa1 > 0 its s - E cancels as t grows and loses about
// log10(t^(2/3)) digits; and it needs ru^2, E^2 and (p / 3)^3 as normal
// numbers (and a finite D) to mean anything. It is kept where 1e-6 <= |t|
// (and t <= 100 for kappa1 > 0) and those are normal: every physical lens
// in any unit, with a relative error of rd measured at most about 1.6e-13
// (near |t| = 1e-6; a few tens of units in the last place near t = 100).
// Every other finite point takes solveScaled, accurate to a few units in
// the last place.
constexpr double kCardanoMinT = 1e-6;
constexpr double kCardanoMaxT = 100;

// Values of the distortion solve that depend on kappa1 alone.
struct SolverConstants {
  double kappa1;
  double p;       // 1 / kappa1, the linear coefficient of the depressed cubic
  double p3cube;  // (p / 3)^3
  double fold;    // sqrt(-1 / (kappa1 * 3)), the fold radius for kappa1 < 0
  bool cardano;   // (p / 3)^3 is a normal number: Cardano's form may apply
  bool wide;      // 1e-102 <= |kappa1| <= 1e100: see cardanoApplies
  bool finite;    // kappa1 is finite: the scaled solve may apply
  // ru^2 between these takes Cardano's form without further tests: a
  // little inside 1e-6/|kappa1| .. 100/|kappa1| where wide, else empty.
  double r2Low, r2High;
};

inline SolverConstants solverConstants(double kappa1) {
  SolverConstants c;
  c.kappa1 = kappa1;
  c.p = 1 / kappa1;
  const double p3 = c.p / 3;
  c.p3cube = storedDouble(p3 * p3 * p3);
  c.fold = std::sqrt(-1 / (kappa1 * 3));
  c.cardano = isNormalNumber(c.p3cube);
  c.wide = std::fabs(kappa1) >= 1e-102 && std::fabs(kappa1) <= 1e100;
  c.finite = std::fabs(kappa1) <= DBL_MAX;
  c.r2Low = INFINITY;
  c.r2High = -INFINITY;
  if (c.wide) {
    c.r2Low = kCardanoMinT / std::fabs(kappa1) * (1 + 8 * DBL_EPSILON);
    c.r2High = kCardanoMaxT / std::fabs(kappa1) * (1 - 8 * DBL_EPSILON);
  }
  return c;
}

// True when the point whose squared radius is r2 (yu * yu + xu * xu), whose
// E * E is EE and whose discriminant is D takes Cardano's form (false for
// NaN). D = (p/3)^3 + E^2 can overflow where both terms are normal.
// With 1e-102 <= |kappa1| <= 1e100 every t with 1e-6 <= |t| <= 100 has
// them so (r2 = t/kappa1 within 1e-106 .. 1e104, E^2 = t/(4 kappa1^3)
// within 2.5e-307 .. 2.5e307, (p/3)^3 within 3.7e-302 .. 3.7e304), and only
// t is tested per point.
inline bool cardanoApplies(double r2, double EE, double D,
                           const SolverConstants &c) {
  // t from stored doubles, so that every compiled copy puts a point next to
  // an edge on the same side.
  const double t = storedDouble(c.kappa1 * storedDouble(r2));
  const double a = std::fabs(t);
  if (!(a >= kCardanoMinT && t <= kCardanoMaxT)) {
    return false;
  }
  if (c.wide && a <= kCardanoMaxT) {
    return true;
  }
  return c.cardano && isNormalNumber(r2) && isNormalNumber(EE) &&
         std::fabs(storedDouble(D)) <= DBL_MAX;
}

// Distortion of a point outside Cardano's range, for any finite kappa1 != 0
// and finite (xu, yu) other than the origin. h = rd / ru is the root of
// h + t * h^3 = 1 (t = kappa1 * ru^2), found without cancellation; ru,
// kappa1 and t are carried as a mantissa and a power of two, so nothing
// overflows or underflows before the end.
struct ScaledSolve {
  double xd, yd;          // distorted sensor coordinates
  double h;               // rd / ru = h * 2^-q
  int q;                  //   (q is 0 unless rd / ru is far from 1)
  double radial;          // (drd/dru) / (rd/ru); 0 at the fold
  double radialMinusOne;  // radial - 1, without cancellation near t = 0
  double nx, ny;          // unit direction of (xu, yu)
  RadiusBranch branch;    // which root, as the cubic's branches name them
};

void solveScaled(double xu, double yu, double kappa1, ScaledSolve *s);

// True when the point takes solveScaled: finite, outside Cardano's range.
// Non-finite coordinates or kappa1 keep Cardano's form, which propagates
// them.
inline bool takesScaledSolve(double xu, double yu, double r2, double EE,
                             double D, const SolverConstants &c) {
  return !cardanoApplies(r2, EE, D, c) && c.finite &&
         std::fabs(xu) <= DBL_MAX && std::fabs(yu) <= DBL_MAX;
}

// Depressed cubic rd^3 + p*rd + q = 0 with p = 1/kappa1, q = -ru/kappa1:
// E = -q/2 and the discriminant D of the undistorted radius ru.
inline double cubicHalfQ(double ru, const SolverConstants &c) {
  return ru * c.p * 0.5;
}
inline double cubicDiscriminant(double E, const SolverConstants &c) {
  return c.p3cube + E * E;
}

// Distorted radius from the cubic's E and D (kappa1 != 0).
inline double cubicRoot(double E, double D, const SolverConstants &c,
                        RadiusBranch *branch) {
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
    // One real root (Cardano).
    const double s = std::sqrt(D);
    const double c1 =
        (E + s > 0) ? std::pow(E + s, kOneThird) : -std::pow(-E - s, kOneThird);
    const double c2 =
        (E - s > 0) ? std::pow(E - s, kOneThird) : -std::pow(s - E, kOneThird);
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

// Distorted radius for the undistorted radius ru (kappa1 != 0).
inline double distortedRadius(double ru, const SolverConstants &c,
                              RadiusBranch *branch) {
  const double E = cubicHalfQ(ru, c);
  return cubicRoot(E, cubicDiscriminant(E, c), c, branch);
}

// One point's projection up to the distortion solve's library calls.
struct PointFront {
  double xc, yc, zc;  // camera coordinates
  double xu, yu;      // undistorted sensor coordinates
  double ru;          // their radius; 0 where the solve passes through
  double E, D;        // the cubic's -q/2 and discriminant (when solved)
  bool solve;         // Cardano's form solves the point
  bool scaled;        // solveScaled does (in projectBack); neither: the
                      // point passes through (origin or kappa1 == 0)
};

// The solve's arithmetic for the undistorted point (xu, yu): pass-through,
// Cardano's form or the scaled solve, and the cubic's E and D.
inline void sensorFront(const SolverConstants &sc, double xu, double yu,
                        PointFront *f) {
  f->xu = xu;
  f->yu = yu;
  // At the origin and without distortion the map is the identity. IEEE
  // equality: -0.0 passes through, NaN goes on and propagates.
  f->solve = !((xu == 0 && yu == 0) || sc.kappa1 == 0);
  f->scaled = false;
  f->ru = 0;
  f->E = 0;
  f->D = 0;
  if (f->solve) {
    const double r2 = yu * yu + xu * xu;
    f->ru = std::sqrt(r2);
    f->E = cubicHalfQ(f->ru, sc);
    const double EE = f->E * f->E;
    f->D = sc.p3cube + EE;  // the discriminant, as cubicDiscriminant
    if (!(r2 >= sc.r2Low && r2 <= sc.r2High)) {
      f->scaled = takesScaledSolve(xu, yu, r2, EE, f->D, sc);
      f->solve = !f->scaled;
    }
  }
}

inline void projectFront(const CameraParams &cam, const SolverConstants &sc,
                         double X, double Y, double Z, PointFront *f) {
  const double *R = cam.R;
  const double *T = cam.T;
  // Rows of R times the point, then the translation.
  f->xc = ((R[0] * X + R[3] * Y) + R[6] * Z) + T[0];
  f->yc = ((R[1] * X + R[4] * Y) + R[7] * Z) + T[1];
  f->zc = ((R[2] * X + R[5] * Y) + R[8] * Z) + T[2];

  const Quotients sensor = divide2(f->xc * cam.f, f->yc * cam.f, f->zc, f->zc);
  sensorFront(sc, sensor.first, sensor.second, f);
}

// The rest of the projection, given the distorted radius rd (read only
// when Cardano's form solved the point). Points outside Cardano's range
// are solved here, off the pipeline: they are rare in a physical grid.
// For those, a caller that differentiates the point too passes solved to
// keep the solve's record.
inline void projectBack(const CameraParams &cam, const PointFront &f, double rd,
                        FramePoint *out, ScaledSolve *solved = nullptr) {
  double xd = f.xu;
  double yd = f.yu;
  if (f.solve) {
    const double k = rd / f.ru;
    xd = f.xu * k;
    yd = k * f.yu;
  } else if (f.scaled) {
    ScaledSolve own;
    ScaledSolve &s = solved ? *solved : own;
    solveScaled(f.xu, f.yu, cam.kappa1, &s);
    xd = s.xd;
    yd = s.yd;
  }
  const Quotients image = divide2(cam.sx * xd, yd, cam.dx, cam.dy);
  out->u = image.first + cam.cx;
  out->v = image.second + cam.cy;
  out->xc = f.xc;
  out->yc = f.yc;
  out->zc = f.zc;
}

// Points per block of the walk.
constexpr int kBlock = 16;

// Walks the present points (Xw[k] != 0) of a grid of count points in
// blocks, as a two-stage pipeline: the arithmetic before the solve for every
// point of a block, then its points' library calls (the solve, and
// extraCalls(slot, front) for the caller's own), each followed by the
// arithmetic after them, finish(k, slot, front, rd, branch), of the point at
// the same place in the previous block. The calls then overlap with the
// divisions of independent points. Each point's values come from its own
// expressions, unchanged; finish runs in increasing k. slot (0 to
// 2 * kBlock - 1) names the point's storage while its block is in flight.
template <class ExtraCalls, class Finish>
inline void walkGrid(const CameraParams &cam, const SolverConstants &sc,
                     const double *Xw, const double *Yw, const double *Zw,
                     std::ptrdiff_t count, ExtraCalls extraCalls,
                     Finish finish) {
  PointFront front[2 * kBlock];
  std::ptrdiff_t index[2 * kBlock];
  double rd[2 * kBlock];
  RadiusBranch branch[2 * kBlock];
  int pending = 0;  // points of the previous block still to finish
  int prev = kBlock;
  for (std::ptrdiff_t k0 = 0; k0 < count || pending > 0; k0 += kBlock) {
    const int cur = kBlock - prev;
    int m = 0;
    const std::ptrdiff_t end = count - k0 < kBlock ? count : k0 + kBlock;
    for (std::ptrdiff_t k = k0; k < end; ++k) {
      if (Xw[k] == 0) {
        continue;  // a zero world X marks an absent point
      }
      index[cur + m] = k;
      projectFront(cam, sc, Xw[k], Yw[k], Zw[k], &front[cur + m]);
      ++m;
    }
    const int steps = m > pending ? m : pending;
    for (int j = 0; j < steps; ++j) {
      if (j < m) {
        const int slot = cur + j;
        rd[slot] = 0;
        branch[slot] = RadiusBranch::kOneRoot;
        if (front[slot].solve) {
          rd[slot] = cubicRoot(front[slot].E, front[slot].D, sc, &branch[slot]);
        }
        extraCalls(slot, front[slot]);
      }
      if (j < pending) {
        const int slot = prev + j;
        finish(index[slot], slot, front[slot], rd[slot], branch[slot]);
      }
    }
    pending = m;
    prev = cur;
  }
}

// Clears the upper halves of the vector registers when the processor has
// AVX (checked at run time; a no-op elsewhere). A caller that leaves them
// dirty would otherwise slow every math-library call of the walk.
void clearUpperVectorHalves();

}  // namespace kernel
}  // namespace scenemap
