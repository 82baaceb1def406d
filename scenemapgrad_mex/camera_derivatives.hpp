// Inline kernel of the derivatives of the image coordinates by the camera's
// parameters, for the derivatives module's walk.
//
// A point's block holds 2 * kCameraParams doubles: entry j (0-based) of the
// first 19 is du/dp_j, of the last 19 dv/dp_j, the parameters in the order of
// the arguments:
//   0 dx   1 dy   2 sx   3 cx   4 cy   5 f   6 kappa1
//   7 .. 15  R[0] .. R[8] (storage order: R[r + 3c] is R(r, c), 0-based)
//   16 .. 18 T[0] .. T[2]
// Read column by column as a 19-by-2 matrix: its first index the parameter,
// its second u or v, like the 2-by-2 block of derivatives by world X and Y.
//
// The derivation follows the projection's stages, with (xc, yc, zc) = R X + T
// the camera-frame point, (xu, yu) = f (xc, yc) / zc, (xd, yd) = h (xu, yu)
// with h = rd/ru, and u = sx xd / dx + cx, v = yd / dy + cy:
//   - dx, dy, sx, cx, cy act on the affine map alone: du/ddx = -(sx xd/dx)/dx,
//     dv/ddy = -(yd/dy)/dy, du/dsx = xd/dx, du/dcx = dv/dcy = 1, the rest 0.
//   - The distortion's Jacobian is h I + (dr - h) n n^T, n = (xu, yu)/ru the
//     direction and dr = drd/dru: tangential motion is stretched by h,
//     radial motion by dr.
//   - f moves (xu, yu) radially by (xc, yc)/zc, so d(xd, yd)/df =
//     dr (xc, yc)/zc.
//   - kappa1 moves rd alone: from rd + kappa1 rd^3 = ru, drd/dkappa1 =
//     -rd^3 dr, so d(xd, yd)/dkappa1 = -(xd, yd) rd^2 dr (at kappa1 = 0,
//     -(xu, yu) ru^2). Beyond the fold rd is the fold radius
//     sqrt(-1/(3 kappa1)), whose derivative is 1.5 rd^3.
//   - T moves the camera-frame point: d(xu, yu)/dxc = (f/zc, 0),
//     d(xu, yu)/dyc = (0, f/zc), d(xu, yu)/dzc = -(xu, yu)/zc (radial, so
//     stretched by dr). Beyond the fold (dr = 0) the tangential stretch is
//     written h ny^2 (for xc) rather than h + (dr - h) nx^2, which would
//     cancel.
//   - R(r, c) moves the r-th camera coordinate by the c-th world coordinate:
//     d/dR(r, c) = X_c d/dT_r, an identity of P = R X + T.
#pragma once

#include <cfloat>
#include <cmath>

#include "camera_model.hpp"
#include "derivative_kernel.hpp"
#include "projection_kernel.hpp"

namespace scenemap {
namespace kernel {

// Parameters per block; a point's block holds twice as many doubles.
constexpr int kCameraParams = 19;

// Values of the camera Jacobian that depend on the camera alone.
struct CameraJacobianConstants {
  // sx, dx, dy and f within [1e-40, 1e40]: with a depth in that range and a
  // point that Cardano's form solved or that passes through, the plain
  // products below neither overflow nor underflow before their end.
  bool plain;
  double su;   // sx / dx
  double idx;  // 1 / dx
  double idy;  // 1 / dy
};

inline CameraJacobianConstants cameraJacobianConstants(const CameraParams &p) {
  CameraJacobianConstants c;
  c.plain = withinClosedFormRange(p.sx) && withinClosedFormRange(p.dx) &&
            withinClosedFormRange(p.dy) && withinClosedFormRange(p.f);
  c.su = p.sx / p.dx;
  c.idx = 1 / p.dx;
  c.idy = 1 / p.dy;
  return c;
}

// The block from the distortion as the scaled solve records it (h = s.h *
// 2^-s.q, s.radial = dr/h, s.radialMinusOne, s.xd, s.yd, s.branch), every
// product taken in mantissas and powers of two: for points that the scaled
// solve distorted and wherever the plain products would leave the range of
// doubles. (xu, yu) are the undistorted coordinates, (X, Y, Z) the world
// point.
void cameraDerivativesScaled(const CameraParams &p, double xc, double yc,
                             double zc, double xu, double yu,
                             const Distortion &s, double X, double Y, double Z,
                             double out[2 * kCameraParams]);

// Writes the block of the point with world coordinates (X, Y, Z), from its
// projection's distortion solve (front, rd and branch as the walk has them,
// scaled the scaled solve's record where front.form == SolveForm::kScaled).
inline void cameraDerivatives(const CameraParams &p,
                              const CameraJacobianConstants &c,
                              const PointFront &front, double rd,
                              RadiusBranch branch, const Distortion &scaled,
                              double X, double Y, double Z,
                              double out[2 * kCameraParams]) {
  if (front.form == SolveForm::kScaled) {
    cameraDerivativesScaled(p, front.xc, front.yc, front.zc, front.xu, front.yu,
                            scaled, X, Y, Z, out);
    return;
  }
  // Cardano's rd as solved: its error (up to 1.6e-13 relative) moves the
  // slopes by less than 1e-12.
  const DistortionSlopes sl =
      distortionSlopes(p.kappa1, front, rd, branch, false);
  const double xu = front.xu;
  const double yu = front.yu;
  const double zc = front.zc;
  const double r2 = yu * yu + xu * xu;
  const bool folded =
      front.form == SolveForm::kCardano && branch == RadiusBranch::kFolded;
  const double xd = xu * sl.h;
  const double yd = sl.h * yu;
  // The same values as a record of the scaled solve's kind (scaled by 2^0),
  // for the products in mantissas and powers of two.
  const auto scaledForm = [&] {
    Distortion s;
    s.h = sl.h;
    s.q = 0;
    s.radial = sl.dr / sl.h;
    s.radialMinusOne = sl.g == 0 ? 0 : sl.g * r2 / sl.h;
    s.xd = xd;
    s.yd = yd;
    s.branch = folded ? RadiusBranch::kFolded : RadiusBranch::kOneRoot;
    cameraDerivativesScaled(p, front.xc, front.yc, zc, xu, yu, s, X, Y, Z, out);
  };
  if (!(c.plain && withinClosedFormRange(zc))) {
    scaledForm();
    return;
  }
  const double uo = c.su * xd;   // u - cx
  const double vo = yd * c.idy;  // v - cy
  // d(xd, yd)/dkappa1 = (xd, yd) * kk.
  const double rd2 = sl.h * sl.h * r2;
  const double kk = folded ? 1.5 * rd2 : -rd2 * sl.dr;
  const double iz = 1 / zc;
  const double a = front.xc * iz;  // xc / zc
  const double b = front.yc * iz;
  const double fz = p.f * iz;  // d(xu, yu)/d(xc, yc)
  const double rz = sl.dr * iz;
  // d(xd, yd)/dxc = (d11, off), d(xd, yd)/dyc = (off, d22), from the
  // distortion's Jacobian h I + g (xu, yu)^T (xu, yu). h + g xu^2 keeps its
  // digits while dr > 0 (it lies between dr and h); beyond the fold, where
  // dr = 0, it is written h ny^2 (n the direction), which does not cancel.
  double d11;
  double d22;
  if (folded) {
    const Quotients n2 = divide2(xu * xu, yu * yu, r2, r2);
    d11 = fz * (sl.h * n2.second);
    d22 = fz * (sl.h * n2.first);
  } else {
    d11 = fz * (sl.h + sl.g * xu * xu);
    d22 = fz * (sl.h + sl.g * yu * yu);
  }
  const double off = fz * (sl.g * xu * yu);
  double *du = out;
  double *dv = out + kCameraParams;
  const double duT0 = c.su * d11;
  const double duT1 = c.su * off;
  const double duT2 = -(c.su * (rz * xu));
  const double dvT0 = off * c.idy;
  const double dvT1 = d22 * c.idy;
  const double dvT2 = -((rz * yu) * c.idy);
  const double duF = c.su * (sl.dr * a);
  const double dvF = (sl.dr * b) * c.idy;
  const double duK = uo * kk;
  const double dvK = vo * kk;
  const double duDx = -(uo * c.idx);
  const double dvDy = -(vo * c.idy);
  // A product that left the range of doubles: again without overflow.
  // (NaN inputs come out NaN either way.)
  const double sum = duT0 + duT1 + duT2 + dvT0 + dvT1 + dvT2 + duF + dvF + duK +
                     dvK + duDx + dvDy;
  if (!std::isfinite(sum)) {
    scaledForm();
    return;
  }
  du[0] = duDx;
  du[1] = 0;
  du[2] = xd * c.idx;
  du[3] = 1;
  du[4] = 0;
  du[5] = duF;
  du[6] = duK;
  du[7] = X * duT0;
  du[8] = X * duT1;
  du[9] = X * duT2;
  du[10] = Y * duT0;
  du[11] = Y * duT1;
  du[12] = Y * duT2;
  du[13] = Z * duT0;
  du[14] = Z * duT1;
  du[15] = Z * duT2;
  du[16] = duT0;
  du[17] = duT1;
  du[18] = duT2;
  dv[0] = 0;
  dv[1] = dvDy;
  dv[2] = 0;
  dv[3] = 0;
  dv[4] = 1;
  dv[5] = dvF;
  dv[6] = dvK;
  dv[7] = X * dvT0;
  dv[8] = X * dvT1;
  dv[9] = X * dvT2;
  dv[10] = Y * dvT0;
  dv[11] = Y * dvT1;
  dv[12] = Y * dvT2;
  dv[13] = Z * dvT0;
  dv[14] = Z * dvT1;
  dv[15] = Z * dvT2;
  dv[16] = dvT0;
  dv[17] = dvT1;
  dv[18] = dvT2;
}

}  // namespace kernel
}  // namespace scenemap
