// Inline kernels of the camera model, shared by the walks of both modules so
// that the per-point work is compiled into each walk's loop (independent
// points overlap, per-call constants stay in registers). Every expression is
// the one of camera_model.cpp's public functions, in the same order; only
// values that do not depend on the point are computed once per call.
#pragma once

#include <cmath>

#include "camera_model.hpp"

namespace scenemap {
namespace kernel {

// The double nearest 1/3, the exponent of every cube root, and the double
// nearest sqrt(3). Cube roots go through pow with this exponent on a
// non-negative base; the sign is applied outside.
constexpr double kOneThird = 0.3333333333333333;
constexpr double kSqrt3 = 1.7320508075688772;

// Values of the distortion solve that depend on kappa1 alone.
struct SolverConstants {
  double kappa1;
  double p;       // 1 / kappa1, the linear coefficient of the depressed cubic
  double p3cube;  // (p / 3)^3
  double fold;    // sqrt(-1 / (kappa1 * 3)), the fold radius for kappa1 < 0
};

inline SolverConstants solverConstants(double kappa1) {
  SolverConstants c;
  c.kappa1 = kappa1;
  c.p = 1 / kappa1;
  const double p3 = c.p / 3;
  c.p3cube = p3 * p3 * p3;
  c.fold = std::sqrt(-1 / (kappa1 * 3));
  return c;
}

// Distorted radius for the undistorted radius ru (kappa1 != 0).
inline double distortedRadius(double ru, const SolverConstants &c,
                              RadiusBranch *branch) {
  // Depressed cubic rd^3 + p*rd + q = 0 with p = 1/kappa1, q = -ru/kappa1.
  const double E = ru * c.p * 0.5;  // -q/2
  const double D = c.p3cube + E * E;

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

// What the distortion solve of one point found, for the derivatives.
struct Distortion {
  double xu, yu;        // undistorted sensor coordinates
  double ru;            // their radius; 0 where the solve passed through
  double rd;            // distorted radius (when solved)
  RadiusBranch branch;  // (when solved)
};

// Projects one world point; *dist receives the solve's intermediate values.
inline void projectPoint(const CameraParams &cam, const SolverConstants &sc,
                         double X, double Y, double Z, FramePoint *out,
                         Distortion *dist) {
  const double *R = cam.R;
  const double *T = cam.T;
  // Rows of R times the point, then the translation.
  const double xc = ((R[0] * X + R[3] * Y) + R[6] * Z) + T[0];
  const double yc = ((R[1] * X + R[4] * Y) + R[7] * Z) + T[1];
  const double zc = ((R[2] * X + R[5] * Y) + R[8] * Z) + T[2];

  const double xu = (xc * cam.f) / zc;
  const double yu = (yc * cam.f) / zc;
  dist->xu = xu;
  dist->yu = yu;

  double xd = xu;
  double yd = yu;
  // At the origin and without distortion the map is the identity. IEEE
  // equality: -0.0 passes through, NaN goes on and propagates.
  if ((xu == 0 && yu == 0) || sc.kappa1 == 0) {
    dist->ru = 0;
  } else {
    const double ru = std::sqrt(yu * yu + xu * xu);
    const double rd = distortedRadius(ru, sc, &dist->branch);
    const double k = rd / ru;
    xd = xu * k;
    yd = k * yu;
    dist->ru = ru;
    dist->rd = rd;
  }

  out->u = (cam.sx * xd) / cam.dx + cam.cx;
  out->v = yd / cam.dy + cam.cy;
  out->xc = xc;
  out->yc = yc;
  out->zc = zc;
}

// Clears the upper halves of the vector registers when the processor has
// AVX (checked at run time; a no-op elsewhere). A caller that leaves them
// dirty would otherwise slow every math-library call of the walk.
void clearUpperVectorHalves();

}  // namespace kernel
}  // namespace scenemap
