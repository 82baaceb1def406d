#include "frame_derivatives.hpp"

#include <cmath>

namespace scenemap {

namespace {

// Constants of the closed form: the doubles nearest 1/27, 1/3 and 2/3.
constexpr double kOneTwentySeventh = 0.037037037037037035;
constexpr double kOneThird = 0.3333333333333333;
constexpr double kTwoThirds = 0.6666666666666666;

// Closed form for kappa1 > 0 off the optical axis: differentiates
// u - cx = -O*a*Q/P and v - cy = -G*b*Q/P, where Q = -rd is the difference
// of the Cardano cube roots and P = sqrt(rho) the undistorted radius. xc2,
// yc2, zc2 and rho are the squares already computed by the caller, in the
// same order as here. Every expression is evaluated left to right as
// written; the build must not contract or reassociate.
void closedForm(const CameraParams &params, double xc, double yc, double zc,
                double xc2, double yc2, double zc2, double f2, double rho,
                double out[4]) {
  const double *R = params.R;
  const double f = params.f;
  const double k = params.kappa1;
  const double dx = params.dx;
  const double dy = params.dy;
  const double sx = params.sx;

  // Ratios of the camera coordinates and the cube of the depth.
  const double a = xc / zc;
  const double b = yc / zc;
  const double ax = xc / zc2;
  const double by = yc / zc2;
  const double zc3 = zc2 * zc;

  const double P = std::sqrt(rho);

  // Cardano quantities of the one-real-root branch in terms of rho.
  const double k2 = k * k;
  const double D = (0.25 / k2) * rho + kOneTwentySeventh / (k * k2);
  const double s = std::sqrt(D);
  const double E = (0.5 / k) * P;
  const double sMinusE = s - E;
  const double sPlusE = E + s;
  const double Q = std::pow(sMinusE, kOneThird) - std::pow(sPlusE, kOneThird);

  // Scale of the affine map for u and v.
  const double O = (1 / dx) * sx * f;
  const double G = (1 / dy) * f;

  // dQ/drho = (Rk - Uk) * V - (Uk + Rk) * W with Rk = ds/drho, Uk = dE/drho.
  const double Rk = 0.125 / k2 / s;
  const double Uk = 0.25 / k / P;
  const double V = kOneThird / std::pow(sMinusE, kTwoThirds);
  const double W = kOneThird / std::pow(sPlusE, kTwoThirds);

  // drho/dX and drho/dY: the first column of R moves X, the second moves Y.
  const double f2x2 = f2 + f2;
  const double SX = f2x2 * R[0] * ax + f2x2 * R[1] * by -
                    xc2 * (f2x2 * R[2]) / zc3 - f2x2 * R[2] * yc2 / zc3;
  const double SY = f2x2 * R[4] * by + f2x2 * R[3] * ax -
                    xc2 * (f2x2 * R[5]) / zc3 - f2x2 * R[5] * yc2 / zc3;
  const double QX = (Rk * SX - Uk * SX) * V - (Uk * SX + Rk * SX) * W;
  const double QY = (Rk * SY - Uk * SY) * V - (Uk * SY + Rk * SY) * W;

  // Derivative of 1/P, folded with the affine scale and Q.
  const double rho15 = std::pow(rho, 1.5);
  const double HX = (0.5 / dx * sx * f / rho15) * Q;
  const double HY = (0.5 / dy * f / rho15) * Q;

  // Product rule on -O*a*Q/P and -G*b*Q/P; each slot is
  // ((t1 - t2) - t3) + t4. Slot order: du/dX, du/dY, dv/dX, dv/dY.
  out[0] = O * R[2] / P * Q * ax - O * R[0] / P * Q / zc - O / P * QX * a +
           HX * SX * a;
  out[1] = O * R[5] / P * Q * ax - O * R[3] / P * Q / zc - O / P * QY * a +
           HX * SY * a;
  out[2] = SX * HY * b - R[1] * G / P * Q / zc - QX * (G / P) * b +
           R[2] * G / P * Q * by;
  out[3] = SY * HY * b - R[4] * G / P * Q / zc - QY * (G / P) * b +
           G * R[5] / P * Q * by;
}

// True when the closed form's squares and cubes (zc^3, kappa1^3, xc^2 *
// 2f^2, rho^1.5) and its products with the affine scales neither overflow
// nor fall into subnormals, which would leave its values finite but wrong.
// The bound 1e40 keeps the worst of them within about 1e+-250; inside the
// band, xc and yc are bounded by zc, f and kappa1.
bool closedFormInRange(const CameraParams &params, double zc) {
  const double lo = 1e-40;
  const double hi = 1e40;
  const double az = std::fabs(zc);
  const double af = std::fabs(params.f);
  const double adx = std::fabs(params.dx);
  const double ady = std::fabs(params.dy);
  const double asx = std::fabs(params.sx);
  return az >= lo && az <= hi && af >= lo && af <= hi && adx >= lo &&
         adx <= hi && ady >= lo && ady <= hi && asx >= lo && asx <= hi &&
         params.kappa1 >= lo && params.kappa1 <= hi;
}

}  // namespace

void frameCoordDerivativesClosedForm(const CameraParams &params, double xc,
                                     double yc, double zc, double out[4]) {
  const double f2 = params.f * params.f;
  const double xc2 = xc * xc;
  const double yc2 = yc * yc;
  const double zc2 = zc * zc;
  const double rho = xc2 / zc2 * f2 + f2 * (yc2 / zc2);
  closedForm(params, xc, yc, zc, xc2, yc2, zc2, f2, rho, out);
}

void frameCoordDerivativesChainRule(const CameraParams &params, double xc,
                                    double yc, double zc, double out[4]) {
  const double *R = params.R;
  const double f = params.f;
  const double k = params.kappa1;

  // Undistorted sensor coordinates exactly as the projection computes them.
  const double xu = (xc * f) / zc;
  const double yu = (yc * f) / zc;

  // Distortion xd = xu*h, yd = yu*h with h = rd/ru; its Jacobian is
  // h*I + g*(xu, yu)^T (xu, yu) with g = (dh/dru)/ru. dr = drd/dru =
  // h + g*ru^2 is the radial derivative, kept separately (below).
  double h;
  double g;
  double dr;
  if (k == 0) {
    h = 1;
    g = 0;
    dr = 1;
  } else {
    const double ru = std::sqrt(yu * yu + xu * xu);
    if (ru == 0) {
      // On the axis rd = 0: the limits of the cubic-branch forms below.
      h = 1;
      g = -2 * k;
      dr = 1;
    } else {
      RadiusBranch branch;
      double rd = distortedRadius(ru, k, &branch);
      if (branch == RadiusBranch::kFolded) {
        // rd is the constant fold radius: h = rd/ru, g = -h/ru^2, and the
        // radius no longer moves.
        h = rd / ru;
        g = -h / (ru * ru);
        dr = 0;
      } else {
        if (k > 0) {
          // Far from the axis the solver's s - E loses its digits and rd
          // with them (about 3e-6 relative near kappa1*ru^2 = 1e15). Each
          // Newton step on kappa1*rd^3 + rd = ru, convex and increasing for
          // kappa1 > 0, squares that error; two bring it to rounding level
          // and change nothing where rd is already accurate.
          for (int i = 0; i < 2; ++i) {
            rd = rd - (k * rd * rd * rd + rd - ru) / (1 + 3 * k * rd * rd);
          }
        }
        // rd is a root of kappa1*rd^3 + rd = ru, so h = 1/(1 + kappa1*rd^2),
        // drd/dru = 1/(1 + 3*kappa1*rd^2) and dh/dru = -2*kappa1*rd*h^2 *
        // drd/dru. None of these divides by ru or subtracts nearly equal
        // radii, so they stay accurate near the axis, where rd itself
        // carries the solver's cancellation error but h barely depends on
        // it.
        const double t = k * rd * rd;
        h = 1 / (1 + t);
        dr = 1 / (1 + 3 * t);
        g = -2 * k * h * h * h * dr;
      }
    }
  }

  // Perspective: moving the world point along a column w3 = (w0, w1, w2) of
  // R moves (xu, yu) by (f/zc)*(w0, w1) - (w2/zc)*(xu, yu). The second term
  // is radial, and the distortion scales radial motion by dr; applying the
  // Jacobian to the two terms separately keeps the tangential part free of
  // the large, cancelling radial term of points far from the axis:
  //   J*d = (f/zc)*(h*w + g*((xu, yu).w)*(xu, yu)) - (w2*dr/zc)*(xu, yu).
  const double fz = f / zc;
  const double uwX = xu * R[0] + yu * R[1];
  const double uwY = xu * R[3] + yu * R[4];
  const double radX = R[2] * dr / zc;
  const double radY = R[5] * dr / zc;
  const double xdX = fz * (h * R[0] + g * uwX * xu) - radX * xu;
  const double xdY = fz * (h * R[3] + g * uwY * xu) - radY * xu;
  const double ydX = fz * (h * R[1] + g * uwX * yu) - radX * yu;
  const double ydY = fz * (h * R[4] + g * uwY * yu) - radY * yu;

  // Affine map: u = sx*xd/dx + cx, v = yd/dy + cy.
  // Slot order: du/dX, du/dY, dv/dX, dv/dY.
  const double su = params.sx / params.dx;
  out[0] = su * xdX;
  out[1] = su * xdY;
  out[2] = ydX / params.dy;
  out[3] = ydY / params.dy;
}

void frameCoordDerivatives(const CameraParams &params, double xc, double yc,
                           double zc, double out[4]) {
  const double f2 = params.f * params.f;
  const double xc2 = xc * xc;
  const double yc2 = yc * yc;
  const double zc2 = zc * zc;
  const double rho = xc2 / zc2 * f2 + f2 * (yc2 / zc2);
  if (closedFormIsAccurate(params.kappa1, rho) &&
      closedFormInRange(params, zc)) {
    closedForm(params, xc, yc, zc, xc2, yc2, zc2, f2, rho, out);
    if (std::isfinite(out[0]) && std::isfinite(out[1]) &&
        std::isfinite(out[2]) && std::isfinite(out[3])) {
      return;
    }
  }
  frameCoordDerivativesChainRule(params, xc, yc, zc, out);
}

}  // namespace scenemap
