#include "frame_derivatives.hpp"

#include <cmath>

#include "derivative_kernel.hpp"

namespace scenemap {

namespace {

// The distortion solve of the projection at camera coordinates (xc, yc, zc),
// as sceneToFrameCoord does it: the values the chain-rule form reads.
struct Solve {
  kernel::PointFront front;
  double rd = 0;
  RadiusBranch branch = RadiusBranch::kOneRoot;
  kernel::Distortion scaled;  // the solve's record (the scaled solve's too)
};

void solveAt(const CameraParams &params, double xc, double yc, double zc,
             Solve *s) {
  s->front.xc = xc;
  s->front.yc = yc;
  s->front.zc = zc;
  double xu, yu;
  kernel::perspective(params, s->front, &xu, &yu);
  kernel::solveDistortion(kernel::solverConstants(params.kappa1), xu, yu,
                          &s->front, &s->scaled);
  s->rd = s->scaled.rd;
  s->branch = s->scaled.branch;
}

}  // namespace

namespace kernel {

void chainRuleScaled(const CameraParams &p, const PointFront &front,
                     const Distortion &s, double out[4]) {
  // The distortion's Jacobian is h * (I + (radial - 1) * n n^T), n the unit
  // direction: tangential motion is stretched by h = rd/ru, radial motion by
  // drd/dru = h * radial. Moving the world point along a column w of R moves
  // (xu, yu) by (f/zc) * (w0, w1) - (w2/zc) * (xu, yu); the second term is
  // radial and the Jacobian maps it to -(w2/zc) * radial * (xd, yd).
  const double zc = front.zc;
  for (int col = 0; col < 2; ++col) {
    const double *w = p.R + 3 * col;
    const double along = s.radialMinusOne * (s.nx * w[0] + s.ny * w[1]);
    const double hx = s.h * (w[0] + along * s.nx);
    const double hy = s.h * (w[1] + along * s.ny);
    // Then the affine map; slot order du/dX, du/dY, dv/dX, dv/dY.
    out[col] = scaledProduct(p.sx, p.f, hx, p.dx, zc, -s.q) -
               scaledProduct(p.sx, w[2], s.radial * s.xd, p.dx, zc, 0);
    out[2 + col] = scaledProduct(1, p.f, hy, p.dy, zc, -s.q) -
                   scaledProduct(1, w[2], s.radial * s.yd, p.dy, zc, 0);
  }
}

}  // namespace kernel

void frameCoordDerivativesClosedForm(const CameraParams &params, double xc,
                                     double yc, double zc, double out[4]) {
  const kernel::ExtendedPrecision precision;
  const kernel::DerivativeConstants c = kernel::derivativeConstants(params);
  kernel::ClosedForm cf;
  const double rho = kernel::closedFormSquares(c, xc, yc, zc, &cf);
  kernel::closedFormCalls(c, rho, &cf);
  kernel::closedFormFinish(c, xc, yc, zc, cf, out);
}

void frameCoordDerivativesChainRule(const CameraParams &params, double xc,
                                    double yc, double zc, double out[4]) {
  const kernel::ExtendedPrecision precision;
  Solve s;
  solveAt(params, xc, yc, zc, &s);
  kernel::chainRule(params, kernel::derivativeConstants(params), s.front, s.rd,
                    s.branch, &s.scaled, out);
}

void frameCoordDerivatives(const CameraParams &params, double xc, double yc,
                           double zc, double out[4]) {
  const kernel::ExtendedPrecision precision;
  const kernel::DerivativeConstants c = kernel::derivativeConstants(params);
  kernel::ClosedForm cf;
  kernel::closedFormPrepare(params, c, xc, yc, zc, &cf);
  Solve s;
  solveAt(params, xc, yc, zc, &s);
  kernel::frameDerivatives(params, c, s.front, cf, s.rd, s.branch, &s.scaled,
                           out);
}

}  // namespace scenemap
