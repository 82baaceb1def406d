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
};

Solve solveAt(const CameraParams &params, double xc, double yc, double zc) {
  Solve s;
  kernel::PointFront &f = s.front;
  f.xc = xc;
  f.yc = yc;
  f.zc = zc;
  f.xu = (xc * params.f) / zc;
  f.yu = (yc * params.f) / zc;
  f.ru = 0;
  if (params.kappa1 != 0) {
    f.ru = std::sqrt(f.yu * f.yu + f.xu * f.xu);
    if (f.ru != 0) {
      s.rd = distortedRadius(f.ru, params.kappa1, &s.branch);
    }
  }
  return s;
}

}  // namespace

void frameCoordDerivativesClosedForm(const CameraParams &params, double xc,
                                     double yc, double zc, double out[4]) {
  const kernel::DerivativeConstants c = kernel::derivativeConstants(params);
  kernel::ClosedForm cf;
  kernel::closedFormSquares(c, xc, yc, zc, &cf);
  kernel::closedFormCalls(c, &cf);
  kernel::closedFormFinish(c, xc, yc, zc, cf, out);
}

void frameCoordDerivativesChainRule(const CameraParams &params, double xc,
                                    double yc, double zc, double out[4]) {
  const Solve s = solveAt(params, xc, yc, zc);
  kernel::chainRule(params, kernel::derivativeConstants(params), s.front, s.rd,
                    s.branch, out);
}

void frameCoordDerivatives(const CameraParams &params, double xc, double yc,
                           double zc, double out[4]) {
  const kernel::DerivativeConstants c = kernel::derivativeConstants(params);
  kernel::ClosedForm cf;
  kernel::closedFormPrepare(params, c, xc, yc, zc, &cf);
  const Solve s = solveAt(params, xc, yc, zc);
  kernel::frameDerivatives(params, c, s.front, cf, s.rd, s.branch, out);
}

}  // namespace scenemap
