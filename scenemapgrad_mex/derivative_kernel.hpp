// Inline kernels of the image derivatives, shared by frameCoordDerivatives
// and the derivatives module's walk. The walk hands the chain-rule form the
// distortion solve that its projection of the same point has just done (the
// same expressions on the same values, so the same bits) instead of solving
// again, and values that depend on the camera alone are computed once per
// call. Every expression is evaluated left to right as written; build with
// -ffp-contract=off and without -ffast-math.
//
// Two forms. The closed form differentiates Cardano's expression for the
// distorted radius directly; its symbols, used under these names below:
//   a, b      xc/zc, yc/zc            ax, by   xc/zc^2, yc/zc^2
//   rho       squared undistorted sensor radius, (xc^2/zc^2)*f^2 +
//             f^2*(yc^2/zc^2)
//   P         sqrt(rho): the undistorted radius ru
//   D, s, E   the discriminant in terms of rho, sqrt(D), and E = P/(2 kappa1)
//   Q         pow(s - E, 1/3) - pow(E + s, 1/3): minus the distorted radius,
//             so that u - cx = -O*a*Q/P and v - cy = -G*b*Q/P
//   O, G      the affine scales (1/dx)*sx*f and (1/dy)*f
//   Rk, Uk    ds/drho and dE/drho
//   V, W      (1/3)/pow(s - E, 2/3) and (1/3)/pow(E + s, 2/3), the
//             derivatives of the two cube roots by their bases
//   SX, SY    drho/dX and drho/dY;  QX, QY: dQ/dX and dQ/dY
//   HX, HY    ((0.5/dx)*sx*f)/rho^1.5 * Q and ((0.5/dy)*f)/rho^1.5 * Q: the
//             derivative of 1/P times the affine scale and Q
// The chain-rule form multiplies the derivatives of the projection's stages
// (camera coordinates, perspective, distortion, affine map); it names its
// own quantities where it computes them.
#pragma once

#include <cmath>

#include "camera_model.hpp"
#include "frame_derivatives.hpp"
#include "projection_kernel.hpp"

namespace scenemap {
namespace kernel {

// Constants of the closed form: the doubles nearest 1/27, 1/3 and 2/3.
constexpr double kOneTwentySeventh = 0.037037037037037035;
constexpr double kTwoThirds = 0.6666666666666666;

// Values of the derivatives that depend on the camera alone.
struct DerivativeConstants {
  // The closed form can apply to some point: kappa1 > 0 (its band has
  // positive edges) and f, dx, dy, sx, kappa1 within [1e-40, 1e40].
  bool closedPossible;
  // Factors of the closed form that depend on the camera alone, each the
  // product or quotient of the formula, in its order; a pair holds the two
  // that the closed form takes side by side, for the derivatives by X and
  // by Y (or those of u and v):
  //   f2          f^2
  //   dA, dB      D = dA * rho + dB: 0.25/kappa1^2, (1/27)/kappa1^3
  //   eA          E = eA * P: 0.5/kappa1
  //   rkuk        (rkA, ukA): Rk = rkA / s, Uk = ukA / P, with rkA =
  //               0.125/kappa1^2 and ukA = 0.25/kappa1
  //   og          (O, G), the affine scales (1/dx)*sx*f and (1/dy)*f
  //   sa, sb, sz  (s0, s3), (s1, s4), (s2, s5), with s_i = 2f^2 * R[i]: the
  //               coefficients of drho/dX and drho/dY
  //   h           ((0.5/dx)*sx*f, (0.5/dy)*f), the numerators of HX and HY
  //   uq, uz      (O*R[2], O*R[5]), (O*R[0], O*R[3]) (the u slots)
  //   vz, vq      (R[1]*G, R[4]*G), (R[2]*G, G*R[5]) (the v slots)
  //   su          sx/dx, the chain-rule form's scale of u
  //   w0, w1, w2  (R[0], R[3]), (R[1], R[4]), (R[2], R[5]): the first two
  //               columns of R side by side, for the chain-rule form
  double f2;
  double dA, dB;
  double eA;
  Pair rkuk;
  Pair og;
  Pair sa, sb, sz;
  Pair h;
  Pair uq, uz;
  Pair vz, vq;
  double su;
  Pair w0, w1, w2;
};

// True when |x| lies in [1e-40, 1e40]. With zc, f, dx, dy, sx and kappa1
// all in that range, the closed form's squares and cubes (zc^3, kappa1^3,
// xc^2 * 2f^2, rho^1.5) and its products with the affine scales neither
// overflow nor fall into subnormals, which would leave its values finite but
// wrong: the worst of them stay within about 1e+-250 (inside the band, xc
// and yc are bounded by zc, f and kappa1).
inline bool withinClosedFormRange(double x) {
  const double a = std::fabs(x);
  return a >= 1e-40 && a <= 1e40;
}

inline DerivativeConstants derivativeConstants(const CameraParams &p) {
  DerivativeConstants c;
  const double *R = p.R;
  const double f = p.f;
  const double k = p.kappa1;
  // For kappa1 <= 0 (or NaN) kappa1 * rho is never inside the band.
  c.closedPossible = withinClosedFormRange(f) && withinClosedFormRange(p.dx) &&
                     withinClosedFormRange(p.dy) &&
                     withinClosedFormRange(p.sx) && k >= 1e-40 && k <= 1e40;
  c.f2 = f * f;
  const double k2 = k * k;
  c.dA = 0.25 / k2;
  c.dB = kOneTwentySeventh / (k * k2);
  c.eA = 0.5 / k;
  c.rkuk = pair(0.125 / k2, 0.25 / k);
  const double O = (1 / p.dx) * p.sx * f;
  const double G = (1 / p.dy) * f;
  c.og = pair(O, G);
  const double f2x2 = c.f2 + c.f2;
  c.sa = pair(f2x2 * R[0], f2x2 * R[3]);
  c.sb = pair(f2x2 * R[1], f2x2 * R[4]);
  c.sz = pair(f2x2 * R[2], f2x2 * R[5]);
  c.h = pair(0.5 / p.dx * p.sx * f, 0.5 / p.dy * f);
  c.uq = pair(O * R[2], O * R[5]);
  c.uz = pair(O * R[0], O * R[3]);
  c.vz = pair(R[1] * G, R[4] * G);
  c.vq = pair(R[2] * G, G * R[5]);
  c.su = p.sx / p.dx;
  c.w0 = pair(R[0], R[3]);
  c.w1 = pair(R[1], R[4]);
  c.w2 = pair(R[2], R[5]);
  return c;
}

// Closed form for kappa1 > 0 off the optical axis: differentiates
// u - cx = -O*a*Q/P and v - cy = -G*b*Q/P, where Q = -rd is the difference
// of the Cardano cube roots and P = sqrt(rho) the undistorted radius. It is
// evaluated in three parts so that the walk can issue one point's library
// calls while it does the arithmetic of another: closedFormSquares, then
// closedFormCalls, then closedFormFinish.
// What the finish reads (rho, the squared undistorted sensor radius, and E
// stay with the calls).
struct ClosedForm {
  bool use;              // inside the band: the closed form applies
  double xc2, yc2, zc2;  // squares of the camera coordinates
  double s, P;           // sqrt(D), sqrt(rho)
  double rootM, rootP;   // pow(s - E, 1/3), pow(E + s, 1/3)
  double powM, powP;     // pow(s - E, 2/3), pow(E + s, 2/3)
  double rho15;          // pow(rho, 1.5)
};

// Returns rho.
inline double closedFormSquares(const DerivativeConstants &c, double xc,
                                double yc, double zc, ClosedForm *cf) {
  cf->xc2 = xc * xc;
  cf->yc2 = yc * yc;
  cf->zc2 = zc * zc;
  const Quotients r = divide2(cf->xc2, cf->yc2, cf->zc2, cf->zc2);
  return r.first * c.f2 + c.f2 * r.second;
}

// known: the cube roots that the projection's solve of the same point took
// (cardanoRoot), or null. Its E and s come from ru, this form's from rho, and
// the two often round to the same bases: then the cube root is taken from
// there.
inline void closedFormCalls(const DerivativeConstants &c, double rho,
                            ClosedForm *cf, const CubeRoots *known = nullptr) {
  // Cardano quantities of the one-real-root branch in terms of rho: s =
  // sqrt(D) and P = sqrt(rho), side by side.
  const double D = c.dA * rho + c.dB;
  const Pair sP = sqrt2(pair(D, rho));
  cf->s = first(sP);
  cf->P = second(sP);
  const double E = c.eA * cf->P;
  const double sMinusE = cf->s - E;
  const double sPlusE = E + cf->s;
  if (known && sMinusE == known->base[1]) {
    cf->rootM = known->root[1];
  } else {
    cf->rootM = std::pow(sMinusE, kOneThird);
  }
  if (known && sPlusE == known->base[0]) {
    cf->rootP = known->root[0];
  } else {
    cf->rootP = std::pow(sPlusE, kOneThird);
  }
  cf->powM = std::pow(sMinusE, kTwoThirds);
  cf->powP = std::pow(sPlusE, kTwoThirds);
  cf->rho15 = std::pow(rho, 1.5);
}

// Returns whether all four came out finite.
inline bool closedFormFinish(const DerivativeConstants &c, double xc, double yc,
                             double zc, const ClosedForm &cf, double out[4]) {
  const double xc2 = cf.xc2;
  const double yc2 = cf.yc2;
  const double zc2 = cf.zc2;
  const double P = cf.P;
  // Ratios of the camera coordinates and the cube of the depth.
  const Pair xy = pair(xc, yc);
  const Pair ab = xy / zc;
  const double a = first(ab);
  const double b = second(ab);
  const Pair axby = xy / zc2;
  const double ax = first(axby);
  const double by = second(axby);
  const double zc3 = zc2 * zc;

  const double Q = cf.rootM - cf.rootP;

  // dQ/drho = (Rk - Uk) * V - (Uk + Rk) * W with Rk = ds/drho, Uk = dE/drho.
  const Pair rkuk = c.rkuk / pair(cf.s, P);
  const double Rk = first(rkuk);
  const double Uk = second(rkuk);
  const Pair vw = kOneThird / pair(cf.powM, cf.powP);
  const double V = first(vw);
  const double W = second(vw);

  // From here on each pair is (d/dX, d/dY). drho/dX and drho/dY: the first
  // column of R moves X, the second moves Y; the depth's share of each is
  // xc^2*(2f^2*R[2])/zc^3 and so on:
  //   SX = s0*ax + s1*by - xc^2*s2/zc^3 - s2*yc^2/zc^3
  //   SY = s4*by + s3*ax - xc^2*s5/zc^3 - s5*yc^2/zc^3
  // (the sum of two products in either order: the same bits).
  const Pair S = c.sa * ax + c.sb * by - xc2 * c.sz / zc3 - c.sz * yc2 / zc3;
  // QX = (Rk*SX - Uk*SX)*V - (Uk*SX + Rk*SX)*W, QY the same with SY.
  const Pair RkS = Rk * S;
  const Pair UkS = Uk * S;
  const Pair QS = (RkS - UkS) * V - (UkS + RkS) * W;

  // Derivative of 1/P, folded with the affine scale and Q: HX and HY.
  const Pair h = c.h / cf.rho15;
  const double HX = first(h) * Q;
  const double HY = second(h) * Q;

  // Product rule on -O*a*Q/P and -G*b*Q/P; each slot is
  // ((t1 - t2) - t3) + t4, every product and quotient left to right (the
  // constant factors as uq, uz, vz, vq hold them):
  //   du/dX = (O*R[2])/P*Q*ax - (O*R[0])/P*Q/zc - O/P*QX*a + HX*SX*a
  //   du/dY = (O*R[5])/P*Q*ax - (O*R[3])/P*Q/zc - O/P*QY*a + HX*SY*a
  //   dv/dX = SX*HY*b - (R[1]*G)/P*Q/zc - QX*(G/P)*b + (R[2]*G)/P*Q*by
  //   dv/dY = SY*HY*b - (R[4]*G)/P*Q/zc - QY*(G/P)*b + (G*R[5])/P*Q*by
  const Pair og = c.og / P;
  const Pair du =
      c.uq / P * Q * ax - c.uz / P * Q / zc - first(og) * QS * a + HX * S * a;
  const Pair dv =
      S * HY * b - c.vz / P * Q / zc - QS * second(og) * b + c.vq / P * Q * by;
  // Slot order: du/dX, du/dY, dv/dX, dv/dY.
  out[0] = first(du);
  out[1] = second(du);
  out[2] = first(dv);
  out[3] = second(dv);
  // Finite as stored: x - x is 0 for a finite x, NaN for an infinity or a
  // NaN.
  const Pair du0 = storedPair(du);
  const Pair dv0 = storedPair(dv);
  const Pair z = (du0 - du0) + (dv0 - dv0);
  return first(z) + second(z) == 0;
}

// The closed form's part before the arithmetic: decides whether it applies
// (kappa1 * rho inside the band, scales in range) and makes its calls
// (known as for closedFormCalls).
inline void closedFormPrepare(const CameraParams &p,
                              const DerivativeConstants &c, double xc,
                              double yc, double zc, ClosedForm *cf,
                              const CubeRoots *known = nullptr) {
  cf->use = false;
  if (c.closedPossible) {
    const double rho = closedFormSquares(c, xc, yc, zc, cf);
    cf->use = closedFormIsAccurate(p.kappa1, rho) && withinClosedFormRange(zc);
    if (cf->use) {
      closedFormCalls(c, rho, cf, known);
    }
  }
}

// a * b * c / (d * e) * 2^n, each factor split into a mantissa and a power
// of two so that only the result can overflow or underflow.
inline double scaledProduct(double a, double b, double c, double d, double e,
                            int n) {
  int ea, eb, ec, ed, ee;
  const double m = std::frexp(a, &ea) * std::frexp(b, &eb) *
                   std::frexp(c, &ec) /
                   (std::frexp(d, &ed) * std::frexp(e, &ee));
  return std::ldexp(m, ea + eb + ec - ed - ee + n);
}

// Chain-rule form for a point that the scaled solve distorted (s, the
// projection's record of that solve): the stage derivatives from its h,
// radial stretch and direction, each product taken in mantissas and powers
// of two so that none over- or underflows before the end.
void chainRuleScaled(const CameraParams &p, const PointFront &front,
                     const Distortion &s, double out[4]);

// The distortion's slopes at a point that Cardano's form solved or that
// passes through (not the scaled solve): xd = xu*h, yd = yu*h with
// h = rd/ru, whose Jacobian is h*I + g*(xu, yu)^T (xu, yu) with
// g = (dh/dru)/ru, and dr = drd/dru = h + g*ru^2, the radial derivative.
struct DistortionSlopes {
  double h;
  double g;
  double dr;
};

// The slopes from the point's distortion solve (front as projectFront leaves
// it, rd and branch as cardanoRoot returns them), for every kappa1 and on the
// optical axis. refine: the Newton steps on rd below (for kappa1 > 0), which
// the derivatives by X and Y take; the camera Jacobian, held to 1e-9, does
// without.
inline DistortionSlopes distortionSlopes(double k, const PointFront &front,
                                         double rd_solved, RadiusBranch branch,
                                         bool refine = true) {
  double h;
  double g;
  double dr;
  if (k == 0) {
    h = 1;
    g = 0;
    dr = 1;
  } else if (front.ru == 0) {
    // On the axis rd = 0: the limits of the cubic-branch forms below.
    h = 1;
    g = -2 * k;
    dr = 1;
  } else if (branch == RadiusBranch::kFolded) {
    // rd is the constant fold radius: h = rd/ru, g = -h/ru^2, and the
    // radius no longer moves.
    const double ru = front.ru;
    h = rd_solved / ru;
    g = -h / (ru * ru);
    dr = 0;
  } else {
    const double ru = front.ru;
    double rd = rd_solved;
    if (k > 0 && refine) {
      // Cardano's rd carries a relative error of up to about 1.6e-13 in
      // the range where it is kept (kappa1*ru^2 <= 100; farther out, where
      // its s - E loses most digits, the scaled solve takes over). Each
      // Newton step on kappa1*rd^3 + rd = ru, convex and increasing for
      // kappa1 > 0, squares that error; two bring it to rounding level and
      // change nothing where rd is already accurate. Without them the
      // chain-rule form errs by up to about 3e-12 for kappa1*ru^2 from 1 to
      // 100 (where the closed form does not apply); with them by 1e-13.
      for (int i = 0; i < 2; ++i) {
        rd = rd - (k * rd * rd * rd + rd - ru) / (1 + 3 * k * rd * rd);
      }
    }
    // rd is a root of kappa1*rd^3 + rd = ru, so h = 1/(1 + kappa1*rd^2),
    // drd/dru = 1/(1 + 3*kappa1*rd^2) and dh/dru = -2*kappa1*rd*h^2 *
    // drd/dru. None of these divides by ru or subtracts nearly equal radii,
    // so they stay accurate near the axis, where rd itself carries the
    // solver's cancellation error but h barely depends on it.
    const double t = k * rd * rd;
    const Quotients hdr = divide2(1, 1, 1 + t, 1 + 3 * t);
    h = hdr.first;
    dr = hdr.second;
    g = -2 * k * h * h * h * dr;
  }
  return {h, g, dr};
}

// Chain-rule form: the exact derivative of each stage of the projection
// (camera coordinates, perspective, distortion, affine map), valid for every
// kappa1 and on the optical axis. scaled is the projection's record of the
// scaled solve where front.form == SolveForm::kScaled (else unused).
inline void chainRule(const CameraParams &p, const DerivativeConstants &c,
                      const PointFront &front, double rd_solved,
                      RadiusBranch branch, const Distortion *scaled,
                      double out[4]) {
  if (front.form == SolveForm::kScaled) {
    chainRuleScaled(p, front, *scaled, out);
    return;
  }
  const double f = p.f;
  const double xu = front.xu;
  const double yu = front.yu;
  const double zc = front.zc;
  const DistortionSlopes slopes =
      distortionSlopes(p.kappa1, front, rd_solved, branch);
  const double h = slopes.h;
  const double g = slopes.g;
  const double dr = slopes.dr;

  // Perspective: moving the world point along a column w3 = (w0, w1, w2) of
  // R moves (xu, yu) by (f/zc)*(w0, w1) - (w2/zc)*(xu, yu). The second term
  // is radial, and the distortion scales radial motion by dr; applying the
  // Jacobian to the two terms separately keeps the tangential part free of
  // the large, cancelling radial term of points far from the axis:
  //   J*d = (f/zc)*(h*w + g*((xu, yu).w)*(xu, yu)) - (w2*dr/zc)*(xu, yu).
  // Each pair below is (along the first column, along the second): the
  // derivatives by X and by Y. With w = (R[0], R[1], R[2]) for X:
  //   uw = xu*R[0] + yu*R[1]                  rad = R[2]*dr/zc
  //   xd = fz*(h*R[0] + g*uw*xu) - rad*xu     yd = fz*(h*R[1] + g*uw*yu) -
  //                                                rad*yu
  // and the same with R[3], R[4], R[5] for Y.
  const double fz = f / zc;
  const Pair uw = xu * c.w0 + yu * c.w1;
  const Pair rad = c.w2 * dr / zc;
  const Pair guw = g * uw;
  const Pair xd = fz * (h * c.w0 + guw * xu) - rad * xu;
  const Pair yd = fz * (h * c.w1 + guw * yu) - rad * yu;

  // Affine map: u = sx*xd/dx + cx, v = yd/dy + cy.
  // Slot order: du/dX, du/dY, dv/dX, dv/dY.
  const Pair du = c.su * xd;
  const Pair dv = yd / p.dy;
  out[0] = first(du);
  out[1] = second(du);
  out[2] = first(dv);
  out[3] = second(dv);
}

// The derivatives of one point, after closedFormPrepare: the closed form
// inside its band where it comes out finite, the chain-rule form elsewhere.
// scaled as for chainRule.
inline void frameDerivatives(const CameraParams &p,
                             const DerivativeConstants &c,
                             const PointFront &front, const ClosedForm &cf,
                             double rd, RadiusBranch branch,
                             const Distortion *scaled, double out[4]) {
  if (cf.use) {
    if (closedFormFinish(c, front.xc, front.yc, front.zc, cf, out)) {
      return;
    }
  }
  chainRule(p, c, front, rd, branch, scaled, out);
}

}  // namespace kernel
}  // namespace scenemap
